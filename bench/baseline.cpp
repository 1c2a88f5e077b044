// The physical limit Karvo is measured against: the same dialog template, the
// same list filling and the same message box, in plain Win32 with no
// framework at all (one DialogBoxParamW).
#include <windows.h>

#include "core/size_rounding.h"
#include "res/resource.h"

namespace {

HICON g_icon = nullptr;

void AddString(HWND combo, std::string_view utf8) {
  wchar_t wide[64];
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide, 63);
  wide[length] = L'\0';
  ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide));
}

void CenterInWorkArea(HWND dialog) {
  RECT work, self;
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  ::GetWindowRect(dialog, &self);
  const LONG x = work.left + (work.right - work.left - (self.right - self.left)) / 2;
  const LONG y = work.top + (work.bottom - work.top - (self.bottom - self.top)) / 2;
  ::SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Calculate(HWND dialog) {
  const int index = static_cast<int>(::SendDlgItemMessageW(dialog, IDC_FORMAT_LIST, CB_GETCURSEL, 0, 0));
  wchar_t capacity[100];
  ::GetDlgItemTextW(dialog, IDC_CAPACITY_LIST, capacity, 100);
  char utf8[400];
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, capacity, -1, utf8, sizeof utf8, nullptr, nullptr);
  const auto message = karvo::BuildResultMessage(index, std::string_view(utf8, length > 0 ? length - 1 : 0));
  if (!message) return;
  wchar_t text[128], caption[16];
  text[::MultiByteToWideChar(CP_UTF8, 0, message->c_str(), static_cast<int>(message->size()), text, 127)] = L'\0';
  caption[::MultiByteToWideChar(CP_UTF8, 0, karvo::ResultCaption.data(), static_cast<int>(karvo::ResultCaption.size()),
                                caption, 15)] = L'\0';
  ::MessageBoxW(dialog, text, caption, MB_OK | MB_ICONINFORMATION);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      ::SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_icon));
      ::SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_icon));
      HWND format = ::GetDlgItem(dialog, IDC_FORMAT_LIST);
      for (std::string_view choice : karvo::FileSystemChoices()) AddString(format, choice);
      ::SendMessageW(format, CB_SETCURSEL, 0, 0);
      HWND capacity = ::GetDlgItem(dialog, IDC_CAPACITY_LIST);
      for (const karvo::CapacityText& choice : karvo::CapacityChoices()) AddString(capacity, choice.view());
      ::SendMessageW(capacity, CB_SETCURSEL, 0, 0);
      CenterInWorkArea(dialog);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) Calculate(dialog);
      if (LOWORD(wParam) == IDCANCEL) ::EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  g_icon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP_ICON));
  ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr, DialogProc, 0);
  return 0;
}
