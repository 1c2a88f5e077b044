// The main dialog: pick a file system and a capacity, press calculate, read the
// megabyte figure in a message box. It also owns the application icon.
#pragma once

#include "platform/afxwin.h"

class CKarvoDlg : public CDialog {
 public:
  explicit CKarvoDlg(CWnd* parent = nullptr);
  ~CKarvoDlg() override = default;

  DECLARE_MESSAGE_MAP()

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnSysCommand(UINT nID, LPARAM lParam);
  void OnPaint();
  HCURSOR OnQueryDragIcon();

  CComboBox m_cbCapacity;
  CComboBox m_cbFormat;
  CString m_strFormat;
  CString m_strCapacity;
  HICON m_hIcon;  // shared resource icon: never destroyed
};
