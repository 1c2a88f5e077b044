// Shows Karvo at work for people who cannot see it: starts the program, saves
// pictures of the main dialog, of the answer for NTFS and 120 GB and of the
// About box as BMP files, prints the answer's text and closes the program.
//   karvo_screenshots PATH-TO-Karvo.exe OUTPUT-FOLDER
#include <windows.h>

#include <cstdio>
#include <string>

#include "driver.h"
#include "support/poll.h"
#include "support/wine_path.h"

namespace {

bool SaveScreenArea(const RECT& area, const std::wstring& path) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  ::SelectObject(memory, previous);

  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD rowBytes = (width * 3 + 3) & ~3u;
  std::string pixels(rowBytes * height, '\0');
  ::GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (out == nullptr) return false;
  std::fwrite(&file, sizeof file, 1, out);
  std::fwrite(&info, sizeof info, 1, out);
  std::fwrite(pixels.data(), 1, pixels.size(), out);
  return std::fclose(out) == 0;
}

RECT Around(HWND first, HWND second = nullptr) {
  RECT area, other;
  ::GetWindowRect(first, &area);
  if (second != nullptr && ::GetWindowRect(second, &other)) ::UnionRect(&area, &area, &other);
  ::InflateRect(&area, 12, 12);
  return area;
}

// Saves a picture of `window` (with `dialog` around it) once it has drawn
// itself; false, with a message, when the window never appeared.
bool Capture(HWND window, HWND dialog, const char* what, const std::wstring& file) {
  if (window == nullptr) {
    std::fprintf(stderr, "%s did not appear\n", what);
    return false;
  }
  ::Sleep(300);
  return SaveScreenArea(Around(dialog, window == dialog ? nullptr : window), file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PATH-TO-Karvo.exe OUTPUT-FOLDER\n", argv[0]);
    return 2;
  }
  std::string folder(argv[2]);
  const std::wstring out = std::wstring(folder.begin(), folder.end()) + L"\\";

  e2e::KarvoProcess karvo(testing_support::WindowsPath(argv[1]));
  HWND dialog = karvo.WaitForMainDialog();
  if (dialog != nullptr) ::SetForegroundWindow(dialog);
  if (!Capture(dialog, dialog, "the main dialog", out + L"main-dialog.bmp")) return 1;

  karvo.Select(1, 120);
  HWND box = karvo.PressCalculate();
  if (!Capture(box, dialog, "the answer", out + L"answer.bmp")) return 1;

  const std::wstring text = e2e::ReadMessageBox(box).text;
  char utf8[1024] = {};
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
  std::printf("%s\n", utf8);
  testing_support::Dismiss(box);

  HWND about = karvo.OpenAbout();
  if (!Capture(about, dialog, "the About box", out + L"about.bmp")) return 1;
  testing_support::Dismiss(about);
  return karvo.Close() ? 0 : 1;
}
