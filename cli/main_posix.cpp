// karvo-size on Linux and other POSIX systems: UTF-8 in, UTF-8 out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "karvo_size.h"

namespace {

// Reads the first 4 KiB of a file or block device, read-only; "-" is
// standard input.
karvo::cli::VolumeStart OpenVolume(std::string_view path) {
  karvo::cli::VolumeStart start;
  const std::string name(path);
  const bool standardInput = path == "-";
  const int fd = standardInput ? ::dup(STDIN_FILENO) : ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    start.problem = std::strerror(errno);
    return start;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    start.problem = S_ISDIR(info.st_mode) ? "a directory, not a volume" : std::strerror(errno);
    ::close(fd);
    return start;
  }
  if (S_ISREG(info.st_mode)) {
    start.sourceBytes = info.st_size;
  } else if (S_ISBLK(info.st_mode)) {
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end >= 0) start.sourceBytes = end;
    ::lseek(fd, 0, SEEK_SET);
  }
  start.bytes.resize(4096);
  std::size_t filled = 0;
  while (filled < start.bytes.size()) {
    const ssize_t got = ::read(fd, start.bytes.data() + filled, start.bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      start.problem = std::strerror(errno);
      break;
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  start.bytes.resize(filled);
  // The descriptor stays open while the reader lives, for a whole disk's
  // partitions further on.
  const auto file = std::shared_ptr<int>(new int(fd), [](const int* open) {
    ::close(*open);
    delete open;
  });
  start.read = [file](std::int64_t offset, std::span<std::uint8_t> into) {
    std::size_t done = 0;
    while (done < into.size()) {
      const ssize_t got = ::pread(*file, into.data() + done, into.size() - done, offset + static_cast<off_t>(done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  };
  return start;
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
  const karvo::cli::Result result = karvo::cli::Run(args, &OpenVolume);
  // Output that does not arrive (a full disk, a closed pipe) is a failure.
  if (const int problem = WriteAll(STDOUT_FILENO, result.out); problem != 0) {
    const std::string line = "karvo-size: cannot write the output: " + std::string(std::strerror(problem)) + "\n";
    WriteAll(STDERR_FILENO, line);
    return karvo::cli::kExitFailed;
  }
  WriteAll(STDERR_FILENO, result.error);
  return result.exitCode;
}
