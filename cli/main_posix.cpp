// karvo-size on Linux and other POSIX systems: UTF-8 in, UTF-8 out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#endif

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/karvo_size.h"

namespace {

// A file, a block device or a stream, open read-only for as long as it lives.
class FileReader final : public karvo::DiskReader {
 public:
  FileReader(int fd, std::optional<std::int64_t> size, std::optional<std::int64_t> sector, bool seekable)
      : m_fd(fd), m_size(size), m_sector(sector), m_seekable(seekable) {}
  ~FileReader() override { ::close(m_fd); }

  std::size_t ReadAt(std::int64_t offset, std::span<std::uint8_t> into) override {
    if (!m_seekable && offset != m_position) return 0;
    std::size_t done = 0;
    while (done < into.size()) {
      const auto at = static_cast<off_t>(offset + static_cast<std::int64_t>(done));
      const ssize_t got = m_seekable ? ::pread(m_fd, into.data() + done, into.size() - done, at)
                                     : ::read(m_fd, into.data() + done, into.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    m_position = offset + static_cast<std::int64_t>(done);
    return done;
  }
  std::optional<std::int64_t> SizeBytes() const override { return m_size; }
  std::optional<std::int64_t> SectorBytes() const override { return m_sector; }
  bool CanSeek() const override { return m_seekable; }

 private:
  int m_fd;
  std::optional<std::int64_t> m_size;
  std::optional<std::int64_t> m_sector;
  bool m_seekable;
  std::int64_t m_position = 0;
};

#ifdef __linux__
// The disk a partition's device belongs to, as sysfs tells it: the device's
// directory holds a "partition" file and lies in its disk's directory.
// Empty for a whole disk.
std::string DiskOfPartition(dev_t device) {
  const std::string block = "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  if (::access((block + "/partition").c_str(), F_OK) != 0) return "";
  std::array<char, PATH_MAX> target{};
  const ssize_t length = ::readlink(block.c_str(), target.data(), target.size() - 1);
  if (length <= 0) return "";
  std::string path(target.data(), static_cast<std::size_t>(length));
  const std::size_t own = path.rfind('/');
  if (own == std::string::npos || own == 0) return "";
  path.resize(own);  // the disk's directory
  return "/dev/" + path.substr(path.rfind('/') + 1);
}
#endif

// Opens a file or a block device read-only; "-" is standard input, a file
// (`< disk.img`) or a pipe.
karvo::cli::Source OpenSource(std::string_view path) {
  karvo::cli::Source source;
  const std::string name(path);
  const int fd = path == "-" ? ::dup(STDIN_FILENO) : ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    source.missing = errno == ENOENT;
    source.problem = std::strerror(errno);
    return source;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    source.problem = S_ISDIR(info.st_mode) ? "a directory, not a volume" : std::strerror(errno);
    ::close(fd);
    return source;
  }
  std::optional<std::int64_t> size;
  std::optional<std::int64_t> sector;
  if (S_ISREG(info.st_mode)) size = info.st_size;
#ifdef __linux__
  if (S_ISBLK(info.st_mode)) {
    std::uint64_t bytes = 0;
    int logical = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) size = static_cast<std::int64_t>(bytes);
    if (::ioctl(fd, BLKSSZGET, &logical) == 0 && logical > 0) sector = logical;
    source.partitionOf = DiskOfPartition(info.st_rdev);
  }
#endif
  // Standard input may be a file that has been read from: its offset counts.
  const off_t position = ::lseek(fd, 0, SEEK_CUR);
  const bool seekable = (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)) && position == 0;
  source.reader = std::make_unique<FileReader>(fd, seekable ? size : std::nullopt, sector, seekable);
  return source;
}

// Writes all of a text to a file descriptor; the error number if it cannot.
int WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const karvo::cli::Result result = karvo::cli::Run(args, &OpenSource);
  // Output that does not arrive (a full disk, a closed pipe) is a failure.
  if (const int problem = WriteAll(STDOUT_FILENO, result.out); problem != 0) {
    WriteAll(STDERR_FILENO, karvo::cli::ErrorLine("cannot write the output: " + std::string(std::strerror(problem))));
    return karvo::cli::kExitFailed;
  }
  WriteAll(STDERR_FILENO, result.error);
  return result.exitCode;
}
