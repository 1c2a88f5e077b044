// The About box: the program's name, version and copyright, opened from the
// main dialog's system menu.
#pragma once

#include "platform/afxwin.h"

class CAboutDlg : public CDialog {
 public:
  CAboutDlg();
  ~CAboutDlg() override = default;

  DECLARE_MESSAGE_MAP()

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
};
