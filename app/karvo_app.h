// The application object: runs the main dialog, then lets the program end.
#pragma once

#include "platform/afxwin.h"

class CKarvoApp : public CWinApp {
 public:
  CKarvoApp() = default;
  ~CKarvoApp() override = default;

  BOOL InitInstance() override;

  DECLARE_MESSAGE_MAP()
};

extern CKarvoApp theApp;
