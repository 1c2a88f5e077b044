// Drives a running Karvo.exe from another process, as a UI-automation tool
// would: it finds windows, reads texts and list entries, posts commands and
// types real keystrokes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

// The program under test, from the test's command line (a Unix path is taken
// as Wine's Z: drive).
const std::wstring& KarvoPath();
void SetKarvoPath(const char* path);

// Starts Karvo.exe with a command line; ends it on destruction if it still runs.
class KarvoProcess {
 public:
  explicit KarvoProcess(const std::wstring& arguments = L"", const std::wstring& program = KarvoPath());
  ~KarvoProcess();
  KarvoProcess(const KarvoProcess&) = delete;
  KarvoProcess& operator=(const KarvoProcess&) = delete;

  // The main dialog, once it is visible; null after the timeout.
  HWND WaitForMainDialog(DWORD timeoutMs = 10000);
  // A visible dialog of this process owned by `owner` with this caption.
  HWND WaitForOwnedDialog(HWND owner, const std::wstring& caption, DWORD timeoutMs = 5000) const;
  // Every visible top-level window of this process.
  std::vector<HWND> TopLevelWindows() const;
  // True when the process ended within the time; its exit code in `exitCode`.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr) const;
  DWORD Id() const { return m_info.dwProcessId; }
  HANDLE Handle() const { return m_info.hProcess; }

 private:
  PROCESS_INFORMATION m_info{};
};

std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
std::vector<std::wstring> ComboEntries(HWND combo);
int ComboSelection(HWND combo);
// The first visible static control of a dialog that shows an icon.
HWND FindIconControl(HWND dialog);
// Waits until the window's thread has handled everything sent before.
void Sync(HWND window);
// Brings the window to the front and types keys; modifiers in `held` are
// pressed around each key of `keys`.
void TypeKeys(HWND window, const std::vector<WORD>& keys, const std::vector<WORD>& held = {});

// The Linux side of a Wine process, read through Wine's Z: drive, for what
// Wine does not answer through the Windows calls (memory, open descriptors).
std::string ReadWholeFile(const std::wstring& path);
// "Z:\\proc\\<pid>" of the process whose first argument ends in `program`.
std::wstring FindLinuxProcess(const std::string& program);
// A "Name:  value" field of /proc/<pid>/status, in its unit; -1 if absent.
long StatusField(const std::string& status, const std::string& field);
long CountEntries(const std::wstring& folder);

struct ResultBox {
  std::wstring caption;
  std::wstring text;
  HWND owner = nullptr;
  HWND icon = nullptr;       // the box's visible icon control, if it shows one
  std::vector<int> buttons;  // the identifiers of its visible buttons, in order
};
ResultBox ReadMessageBox(HWND box);

}  // namespace e2e
