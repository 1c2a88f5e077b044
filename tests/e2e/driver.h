// Drives a running Karvo.exe from another process, as a UI-automation tool
// would: it finds windows, reads texts and list entries, posts commands and
// types real keystrokes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

// What the main dialog holds and the boxes it opens.
inline constexpr int kFormatList = 1000;
inline constexpr int kCapacityList = 1001;
inline constexpr WPARAM kAboutCommand = 0x0010;  // the system menu's About item
inline constexpr const wchar_t* kResultCaption = L"计算结果";
inline constexpr const wchar_t* kAboutCaption = L"关于 Karvo";

// The answer's text, spelled out here rather than built by the code under
// test: format 0 is FAT32, 1 NTFS; capacity and figure as the box writes them.
inline std::wstring AnswerText(int format, const std::wstring& capacity, const std::wstring& figure) {
  return std::wstring(format == 0 ? L"您选择的格式为FAT32,分区容量为" : L"您选择的格式为NTFS,分区容量为") + capacity +
         L"GB,实际容量应为 " + figure + L" MB.";
}

struct ResultBox {
  std::wstring caption;
  std::wstring text;
  HWND owner = nullptr;
  HWND icon = nullptr;       // the box's visible icon control, if it shows one
  std::vector<int> buttons;  // the identifiers of its visible buttons, in order
};
ResultBox ReadMessageBox(HWND box);

// Karvo.exe (or a copy) started with a command line and driven as a user
// would, by messages; ended on destruction if it still runs.
class KarvoProcess {
 public:
  explicit KarvoProcess(const std::wstring& program, const std::wstring& arguments = L"");
  ~KarvoProcess();
  KarvoProcess(const KarvoProcess&) = delete;
  KarvoProcess& operator=(const KarvoProcess&) = delete;

  // The main dialog, once it is visible and has handled what was sent to it;
  // null after the timeout. The calls below act on it.
  HWND WaitForMainDialog(DWORD timeoutMs = 10000);
  // A visible dialog of this process owned by `owner` with this caption.
  HWND WaitForOwnedDialog(HWND owner, const std::wstring& caption, DWORD timeoutMs = 5000) const;
  // Every visible top-level window of this process.
  std::vector<HWND> TopLevelWindows() const;
  // True when the process ended within the time; its exit code in `exitCode`.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr) const;
  DWORD Id() const { return m_info.dwProcessId; }
  HANDLE Handle() const { return m_info.hProcess; }

  // Chooses a file system (0 FAT32, 1 NTFS) and a capacity of 1 to 300 GB.
  void Select(int format, int capacity) const;
  // Presses calculate; the answer's box, once shown (null after the timeout).
  HWND PressCalculate(DWORD timeoutMs = 5000) const;
  // The whole round: choose, press, read the answer and dismiss it; an empty
  // caption when no answer came.
  ResultBox Calculate(int format, int capacity) const;
  // Sends a system command with the About bits; the About box, once shown.
  HWND OpenAbout(WPARAM command = kAboutCommand, DWORD timeoutMs = 5000) const;
  // Presses cancel: true when the program then ended, with status 0.
  bool Close(DWORD timeoutMs = 5000) const;

 private:
  PROCESS_INFORMATION m_info{};
  HWND m_dialog = nullptr;
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

}  // namespace e2e
