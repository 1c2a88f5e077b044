// karvo-size as a Windows console program: the arguments arrive as UTF-16; a
// console gets UTF-16 (so Chinese shows whatever the console's code page),
// a pipe or a file gets UTF-8.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "karvo_size.h"

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
std::optional<karvo::cli::VolumeStart> DescribeDrive(const std::wstring& name) {
  const bool letter = (name.size() == 2 || (name.size() == 3 && name[2] == L'\\')) && name[1] == L':' &&
                      ((name[0] >= L'A' && name[0] <= L'Z') || (name[0] >= L'a' && name[0] <= L'z'));
  if (!letter) return std::nullopt;
  karvo::cli::VolumeStart start;
  const std::wstring root = name.substr(0, 2) + L"\\";
  wchar_t fileSystem[MAX_PATH + 1] = {};
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD clusters = 0;
  if (!::GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1) ||
      !::GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) {
    start.problem = "no volume there (Windows error " + std::to_string(::GetLastError()) + ")";
    return start;
  }
  const std::wstring_view kind = fileSystem;
  if (kind != L"FAT32" && kind != L"NTFS") {
    start.problem = "a " + ToUtf8(fileSystem) + " volume: karvo-size reads FAT32 and NTFS";
    return start;
  }
  karvo::InspectedVolume volume;
  volume.kind = kind == L"FAT32" ? karvo::FileSystemKind::Fat32 : karvo::FileSystemKind::Ntfs;
  volume.bytesPerSector = bytesPerSector;
  volume.capacity = {std::int64_t{sectorsPerCluster} * bytesPerSector, clusters};
  volume.volumeBytes = volume.capacity.TotalBytes();
  start.mounted = volume;
  return start;
}

// Reads the first 4 KiB of a file or a device (\\.\X:), read-only. A device
// is read in whole sectors, which 4 KiB is for every sector size in use.
karvo::cli::VolumeStart OpenVolume(std::string_view path) {
  karvo::cli::VolumeStart start;
  std::wstring name(path.size(), L'\0');
  name.resize(::MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), name.data(),
                                    static_cast<int>(name.size())));
  if (auto drive = DescribeDrive(name)) return *drive;
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    start.problem = "a directory, not a volume";
    return start;
  }
  // "-" is standard input, which stays open for the rest of the program.
  const bool standardInput = path == "-";
  HANDLE file = standardInput
                    ? ::GetStdHandle(STD_INPUT_HANDLE)
                    : ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE || file == nullptr) {
    const DWORD error = ::GetLastError();
    start.problem = error == ERROR_ACCESS_DENIED && path.starts_with(R"(\\.\)")
                        ? "access denied: reading a device needs an administrator (for a drive letter, "
                          "karvo-size --inspect E: needs none)"
                        : "cannot be opened (Windows error " + std::to_string(error) + ")";
    return start;
  }
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file, &size)) start.sourceBytes = size.QuadPart;
  start.bytes.resize(4096);
  // A pipe hands over what it has so far, so read until 4 KiB or the end.
  DWORD filled = 0;
  while (filled < start.bytes.size()) {
    DWORD got = 0;
    if (!::ReadFile(file, start.bytes.data() + filled, static_cast<DWORD>(start.bytes.size()) - filled, &got,
                    nullptr)) {
      if (::GetLastError() != ERROR_BROKEN_PIPE) {
        start.problem = "cannot be read (Windows error " + std::to_string(::GetLastError()) + ")";
      }
      break;
    }
    if (got == 0) break;
    filled += got;
  }
  start.bytes.resize(filled);
  // The handle stays open while the reader lives, for a whole disk's
  // partitions further on; a device is read in whole sectors, as these are.
  const auto handle = std::shared_ptr<void>(file, [standardInput](HANDLE open) {
    if (!standardInput) ::CloseHandle(open);
  });
  start.read = [handle](std::int64_t offset, std::span<std::uint8_t> into) {
    LARGE_INTEGER at{};
    at.QuadPart = offset;
    if (!::SetFilePointerEx(handle.get(), at, nullptr, FILE_BEGIN)) return false;
    std::size_t done = 0;
    while (done < into.size()) {
      DWORD got = 0;
      if (!::ReadFile(handle.get(), into.data() + done, static_cast<DWORD>(into.size() - done), &got, nullptr) ||
          got == 0) {
        return false;
      }
      done += got;
    }
    return true;
  };
  return start;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> utf8Args;
  for (int i = 1; i < argc; ++i) utf8Args.push_back(ToUtf8(argv[i]));
  const std::vector<std::string_view> args(utf8Args.begin(), utf8Args.end());
  const karvo::cli::Result result = karvo::cli::Run(args, &OpenVolume);
  // Output that does not arrive is a failure.
  if (!Write(STD_OUTPUT_HANDLE, result.out)) {
    Write(STD_ERROR_HANDLE,
          "karvo-size: cannot write the output (Windows error " + std::to_string(::GetLastError()) + ")\n");
    return karvo::cli::kExitFailed;
  }
  Write(STD_ERROR_HANDLE, result.error);
  return result.exitCode;
}
