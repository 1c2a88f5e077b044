#include "driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "support/poll.h"

namespace e2e {

using testing_support::WaitForWindow;
using testing_support::WaitUntil;

KarvoProcess::KarvoProcess(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &m_info)) {
    m_info = {};
  }
}

KarvoProcess::~KarvoProcess() {
  if (m_info.hProcess == nullptr) return;
  if (::WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) {
    ::TerminateProcess(m_info.hProcess, 99);
    ::WaitForSingleObject(m_info.hProcess, 5000);
  }
  ::CloseHandle(m_info.hThread);
  ::CloseHandle(m_info.hProcess);
}

std::vector<HWND> KarvoProcess::TopLevelWindows() const {
  return testing_support::VisibleWindows({.processId = m_info.dwProcessId});
}

HWND KarvoProcess::WaitForMainDialog(DWORD timeoutMs) {
  m_dialog =
      WaitForWindow({.processId = m_info.dwProcessId}, {.caption = L"Karvo", .control = kCapacityList}, timeoutMs);
  return m_dialog;
}

HWND KarvoProcess::WaitForOwnedDialog(HWND owner, const std::wstring& caption, DWORD timeoutMs) const {
  return WaitForWindow({.processId = m_info.dwProcessId}, {.owner = owner, .caption = caption.c_str()}, timeoutMs);
}

void KarvoProcess::Select(int format, int capacity) const {
  ::SendMessageW(::GetDlgItem(m_dialog, kFormatList), CB_SETCURSEL, format, 0);
  ::SendMessageW(::GetDlgItem(m_dialog, kCapacityList), CB_SETCURSEL, capacity - 1, 0);
}

HWND KarvoProcess::PressCalculate(DWORD timeoutMs) const {
  ::PostMessageW(m_dialog, WM_COMMAND, IDOK, 0);
  return WaitForOwnedDialog(m_dialog, kResultCaption, timeoutMs);
}

ResultBox KarvoProcess::Calculate(int format, int capacity) const {
  Select(format, capacity);
  HWND box = PressCalculate();
  if (box == nullptr) return {};
  ResultBox answer = ReadMessageBox(box);
  testing_support::Dismiss(box);
  return answer;
}

HWND KarvoProcess::OpenAbout(WPARAM command, DWORD timeoutMs) const {
  ::PostMessageW(m_dialog, WM_SYSCOMMAND, command, 0);
  return WaitForOwnedDialog(m_dialog, kAboutCaption, timeoutMs);
}

bool KarvoProcess::Close(DWORD timeoutMs) const {
  ::PostMessageW(m_dialog, WM_COMMAND, IDCANCEL, 0);
  DWORD exitCode = 1;
  return WaitForExit(timeoutMs, &exitCode) && exitCode == 0;
}

bool KarvoProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) const {
  if (::WaitForSingleObject(m_info.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
  if (exitCode) ::GetExitCodeProcess(m_info.hProcess, exitCode);
  return true;
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[4096] = {};
  ::SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK, 5000, nullptr);
  return buffer;
}

std::wstring ClassName(HWND window) {
  wchar_t buffer[256] = {};
  ::GetClassNameW(window, buffer, 256);
  return buffer;
}

std::vector<std::wstring> ComboEntries(HWND combo) {
  std::vector<std::wstring> entries;
  const LRESULT count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::wstring text(::SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) + 1, L'\0');
    const LRESULT length = ::SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    text.resize(length > 0 ? length : 0);
    entries.push_back(text);
  }
  return entries;
}

HWND FindIconControl(HWND dialog) {
  HWND found = nullptr;
  struct Visit {
    static BOOL CALLBACK Child(HWND child, LPARAM param) {
      const bool isIcon = (::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                          ClassName(child) == L"Static" && ::IsWindowVisible(child);
      if (isIcon) *reinterpret_cast<HWND*>(param) = child;
      return !isIcon;
    }
  };
  ::EnumChildWindows(dialog, &Visit::Child, reinterpret_cast<LPARAM>(&found));
  return found;
}

int ComboSelection(HWND combo) { return static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0)); }

void Sync(HWND window) {
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &ignored);
}

void TypeKeys(HWND window, const std::vector<WORD>& keys, const std::vector<WORD>& held) {
  ::SetForegroundWindow(window);
  WaitUntil([&] { return ::GetForegroundWindow() == window; }, 2000);
  auto send = [](WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    ::SendInput(1, &input, sizeof input);
  };
  for (WORD key : keys) {
    for (WORD modifier : held) send(modifier, false);
    send(key, false);
    send(key, true);
    for (auto it = held.rbegin(); it != held.rend(); ++it) send(*it, true);
  }
  ::Sleep(100);
  Sync(window);
}

std::string ReadWholeFile(const std::wstring& path) {
  std::string text;
  if (FILE* file = _wfopen(path.c_str(), L"rb")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    std::fclose(file);
  }
  return text;
}

// The Linux process that runs this program: its first argument ends in the name.
std::wstring FindLinuxProcess(const std::string& program) {
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(L"Z:\\proc\\*", &found);
  std::wstring match;
  if (search == INVALID_HANDLE_VALUE) return match;
  do {
    const std::wstring name = found.cFileName;
    if (name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
    const std::string commandLine = ReadWholeFile(L"Z:\\proc\\" + name + L"\\cmdline");
    const std::string first = commandLine.substr(0, commandLine.find('\0'));
    if (first.size() >= program.size() && first.compare(first.size() - program.size(), program.size(), program) == 0) {
      match = L"Z:\\proc\\" + name;
    }
  } while (match.empty() && ::FindNextFileW(search, &found));
  ::FindClose(search);
  return match;
}

long StatusField(const std::string& status, const std::string& field) {
  const auto at = status.find(field + ":");
  return at == std::string::npos ? -1 : std::strtol(status.c_str() + at + field.size() + 1, nullptr, 10);
}

long CountEntries(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return -1;
  long count = 0;
  do {
    if (found.cFileName[0] != L'.') ++count;
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return count;
}

ResultBox ReadMessageBox(HWND box) {
  ResultBox result;
  result.caption = WindowText(box);
  result.text = WindowText(::GetDlgItem(box, 0xFFFF));  // the message box's text control
  result.owner = ::GetWindow(box, GW_OWNER);
  result.icon = FindIconControl(box);
  for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (::IsWindowVisible(child) && ClassName(child) == L"Button") result.buttons.push_back(::GetDlgCtrlID(child));
  }
  return result;
}

}  // namespace e2e
