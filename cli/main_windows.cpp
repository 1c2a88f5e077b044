// karvo-size as a Windows console program: the arguments arrive as UTF-16; a
// console gets UTF-16 (so Chinese shows whatever the console's code page),
// a pipe or a file gets UTF-8.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/karvo_size.h"
#include "disk/file_system.h"

namespace {

std::string ToUtf8(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

// Writes all of a text to standard output or error; false if it cannot (a full
// disk, a closed pipe). A console takes UTF-16 with CR LF, in pieces: consoles
// before Windows 8 refuse a single write much beyond 64 KB.
bool Write(DWORD which, const std::string& utf8) {
  if (utf8.empty()) return true;
  HANDLE handle = ::GetStdHandle(which);
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                                      static_cast<int>(wide.size())));
    std::wstring lines;
    for (wchar_t c : wide) lines += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    constexpr std::size_t kPiece = 8192;
    for (std::size_t at = 0; at < lines.size();) {
      std::size_t count = std::min(kPiece, lines.size() - at);
      if (at + count < lines.size() && IS_HIGH_SURROGATE(lines[at + count - 1])) --count;  // keep a pair whole
      DWORD written = 0;
      if (!::WriteConsoleW(handle, lines.data() + at, static_cast<DWORD>(count), &written, nullptr) || written == 0) {
        return false;
      }
      at += written;
    }
    return true;
  }
  for (std::size_t at = 0; at < utf8.size();) {
    DWORD written = 0;
    const auto count = static_cast<DWORD>(utf8.size() - at);
    if (!::WriteFile(handle, utf8.data() + at, count, &written, nullptr) || written == 0) return false;
    at += written;
  }
  return true;
}

// A drive letter ("E:" or "E:\\"): the file system's name and geometry as
// Windows reports them to anyone, no administrator needed. Its total clusters
// times the cluster size is the capacity Explorer shows.
std::optional<karvo::cli::Source> DescribeDrive(const std::wstring& name) {
  const bool letter = (name.size() == 2 || (name.size() == 3 && name[2] == L'\\')) && name[1] == L':' &&
                      ((name[0] >= L'A' && name[0] <= L'Z') || (name[0] >= L'a' && name[0] <= L'z'));
  if (!letter) return std::nullopt;
  karvo::cli::Source source;
  const std::wstring root = name.substr(0, 2) + L"\\";
  wchar_t fileSystem[MAX_PATH + 1] = {};
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD clusters = 0;
  if (!::GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1) ||
      !::GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) {
    source.problem = "no volume there (Windows error " + std::to_string(::GetLastError()) + ")";
    return source;
  }
  const std::wstring_view kind = fileSystem;
  std::optional<karvo::FileSystem> known;
  for (const karvo::FileSystem each : karvo::kFileSystems) {
    const std::string_view name = karvo::FileSystemName(each);
    if (kind == std::wstring(name.begin(), name.end())) known = each;
  }
  if (!known) {
    const std::string name = ToUtf8(fileSystem);
    const bool vowel = !name.empty() && std::string_view("AEIOaeio").find(name[0]) != std::string_view::npos;
    source.problem = (vowel ? "an " : "a ") + name + " volume: " + std::string(karvo::kWhatKarvoSizeReads);
    return source;
  }
  karvo::InspectedVolume volume;
  volume.kind = *known;
  volume.bytesPerSector = bytesPerSector;
  volume.capacity = {std::int64_t{sectorsPerCluster} * bytesPerSector, clusters};
  volume.volumeBytes = volume.capacity.TotalBytes();
  source.mounted = volume;
  return source;
}

// A file, a device (\\.\PhysicalDrive1, \\.\E:) or a pipe, open read-only
// for as long as it lives. A device takes reads of whole sectors only, so a
// read that is not is made of the whole sectors around it.
class HandleReader final : public karvo::DiskReader {
 public:
  HandleReader(HANDLE handle, bool owned, std::optional<std::int64_t> size, std::optional<std::int64_t> sector,
               bool seekable)
      : m_handle(handle), m_owned(owned), m_size(size), m_sector(sector), m_seekable(seekable) {}
  ~HandleReader() override {
    if (m_owned) ::CloseHandle(m_handle);
  }

  std::size_t ReadAt(std::int64_t offset, std::span<std::uint8_t> into) override {
    if (!m_seekable) {
      if (offset != m_position) return 0;
      const std::size_t done = ReadOn(into);
      m_position += static_cast<std::int64_t>(done);
      return done;
    }
    const std::int64_t sector = m_sector.value_or(1);
    const std::int64_t first = offset / sector * sector;
    const std::int64_t end = (offset + static_cast<std::int64_t>(into.size()) + sector - 1) / sector * sector;
    if (first == offset && end == offset + static_cast<std::int64_t>(into.size())) return ReadFrom(offset, into);
    std::vector<std::uint8_t> whole(static_cast<std::size_t>(end - first));
    const std::size_t got = ReadFrom(first, whole);
    const auto skip = static_cast<std::size_t>(offset - first);
    const std::size_t done = got > skip ? std::min(got - skip, into.size()) : 0;
    std::copy_n(whole.begin() + static_cast<std::ptrdiff_t>(skip), done, into.begin());
    return done;
  }
  std::optional<std::int64_t> SizeBytes() const override { return m_size; }
  std::optional<std::int64_t> SectorBytes() const override { return m_sector; }
  bool CanSeek() const override { return m_seekable; }

 private:
  std::size_t ReadFrom(std::int64_t offset, std::span<std::uint8_t> into) {
    LARGE_INTEGER at{};
    at.QuadPart = offset;
    return ::SetFilePointerEx(m_handle, at, nullptr, FILE_BEGIN) ? ReadOn(into) : 0;
  }
  // A pipe hands over what it has so far, so read until all is there or the end.
  std::size_t ReadOn(std::span<std::uint8_t> into) {
    std::size_t done = 0;
    while (done < into.size()) {
      DWORD got = 0;
      const auto count = static_cast<DWORD>(std::min<std::size_t>(into.size() - done, 1 << 20));
      if (!::ReadFile(m_handle, into.data() + done, count, &got, nullptr) || got == 0) break;
      done += got;
    }
    return done;
  }

  HANDLE m_handle;
  bool m_owned;
  std::optional<std::int64_t> m_size;
  std::optional<std::int64_t> m_sector;
  bool m_seekable;
  std::int64_t m_position = 0;
};

// Opens a file or a device read-only; "-" is standard input.
karvo::cli::Source OpenSource(std::string_view path) {
  karvo::cli::Source source;
  std::wstring name(path.size(), L'\0');
  name.resize(::MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), name.data(),
                                    static_cast<int>(name.size())));
  if (auto drive = DescribeDrive(name)) return std::move(*drive);
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    source.problem = "a directory, not a volume";
    return source;
  }
  // Standard input stays open for the rest of the program.
  const bool standardInput = path == "-";
  HANDLE file = standardInput
                    ? ::GetStdHandle(STD_INPUT_HANDLE)
                    : ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE || file == nullptr) {
    const DWORD error = ::GetLastError();
    source.missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    source.problem = error == ERROR_ACCESS_DENIED && path.starts_with(R"(\\.\)")
                         ? "access denied: reading a device needs an administrator (for a drive letter, "
                           "karvo-size --inspect E: needs none)"
                         : "cannot be opened (Windows error " + std::to_string(error) + ")";
    return source;
  }
  std::optional<std::int64_t> size;
  std::optional<std::int64_t> sector;
  LARGE_INTEGER fileSize{};
  DISK_GEOMETRY_EX geometry{};
  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  if (::GetFileSizeEx(file, &fileSize)) {
    size = fileSize.QuadPart;
  } else if (::DeviceIoControl(file, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned,
                               nullptr)) {
    size = length.Length.QuadPart;
  }
  if (::DeviceIoControl(file, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry, sizeof geometry, &returned,
                        nullptr) &&
      geometry.Geometry.BytesPerSector > 0) {
    sector = geometry.Geometry.BytesPerSector;
    if (!size) size = geometry.DiskSize.QuadPart;
  }
  // Standard input may be a file that has been read from: its offset counts.
  LARGE_INTEGER position{};
  const bool seekable = ::GetFileType(file) == FILE_TYPE_DISK &&
                        ::SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT) && position.QuadPart == 0;
  source.reader =
      std::make_unique<HandleReader>(file, !standardInput, seekable ? size : std::nullopt, sector, seekable);
  return source;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> utf8Args;
  for (int i = 1; i < argc; ++i) utf8Args.push_back(ToUtf8(argv[i]));
  const std::vector<std::string_view> args(utf8Args.begin(), utf8Args.end());
  const karvo::cli::Result result = karvo::cli::Run(args, &OpenSource);
  // Output that does not arrive is a failure.
  if (!Write(STD_OUTPUT_HANDLE, result.out)) {
    Write(STD_ERROR_HANDLE,
          karvo::cli::ErrorLine("cannot write the output (Windows error " + std::to_string(::GetLastError()) + ")"));
    return karvo::cli::kExitFailed;
  }
  Write(STD_ERROR_HANDLE, result.error);
  return result.exitCode;
}
