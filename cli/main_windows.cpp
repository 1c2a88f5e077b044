// karvo-size as a Windows console program: the arguments arrive as UTF-16; a
// console gets UTF-16 (so Chinese shows whatever the console's code page),
// a pipe or a file gets UTF-8.
#include <windows.h>

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

void Write(DWORD which, const std::string& utf8) {
  if (utf8.empty()) return;
  HANDLE handle = ::GetStdHandle(which);
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(handle, &mode)) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                                      static_cast<int>(wide.size())));
    std::wstring lines;  // a console wants CR LF
    for (wchar_t c : wide) lines += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    ::WriteConsoleW(handle, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
  } else {
    ::WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> utf8Args;
  for (int i = 1; i < argc; ++i) utf8Args.push_back(ToUtf8(argv[i]));
  const std::vector<std::string_view> args(utf8Args.begin(), utf8Args.end());
  const karvo::cli::Result result = karvo::cli::Run(args);
  Write(STD_OUTPUT_HANDLE, result.out);
  Write(STD_ERROR_HANDLE, result.error);
  return result.exitCode;
}
