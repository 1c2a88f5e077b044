// CDialog: a modal dialog built from a template in the resource module, with
// data exchange between its controls and its members.
#pragma once

#include <windows.h>

#include "window.h"

class CDialog;

class CDataExchange {
 public:
  CDataExchange(CDialog* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
  // The control with this identifier in the dialog (null if there is none).
  HWND PrepareCtrl(int id) const;

  BOOL m_bSaveAndValidate;  // TRUE: controls to members; FALSE: members to controls
  CDialog* m_pDlgWnd;
};

// Attaches a member to the dialog's control once.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// A combo box's text to or from a string. Towards the control a non-empty text
// selects the first entry starting with it; an empty text changes nothing.
void DDX_CBString(CDataExchange* pDX, int id, CString& value);

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT templateId, CWnd* parent = nullptr) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

  // Creates the dialog, owned by its parent or else the application's main
  // window, disables the owner, runs the dialog's own message loop and returns
  // the end code. It returns -1 at once when the window cannot be created, and
  // -1 when the window is destroyed by anything but EndDialog.
  virtual INT_PTR DoModal();
  void EndDialog(int result);

  BOOL UpdateData(BOOL saveAndValidate = TRUE);

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

  // F1 (WM_HELP) sends ID_HELP to the main window, whose command routing
  // reaches the application object.
  BOOL OnHelpInfo(HELPINFO* info);

  BOOL OnCmdMsg(UINT id) override;

  DECLARE_MESSAGE_MAP()

 protected:
  virtual void DoDataExchange(CDataExchange* pDX);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnDialogMessage(UINT message, WPARAM wParam, LPARAM lParam);
  HWND FindOwner() const;
  void CenterWindow();
  // A drop-down list that opens too short to show its entries (USER32's own
  // lists, without common controls 6, keep the template's height) gets room
  // for up to 30 of them.
  void GiveDropDownListsRoom();
  // A launcher's "Run: Maximized" (a shortcut's setting, start /max) applies
  // to the first window a program shows. A dialog without a maximize box
  // would then fill the screen with no way back, so it takes its size again.
  void UndoMaximize();
  void RunModalLoop();

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;
  bool m_bContinueModal = false;
  INT_PTR m_nModalResult = -1;
};
