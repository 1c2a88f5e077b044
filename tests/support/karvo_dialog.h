// Karvo's dialog class as the in-process suites see it, with what it keeps to
// itself in reach, and the one application object the framework needs.
#pragma once

#include "platform/afxwin.h"
#include "ui/karvo_dlg.h"

namespace testing_support {

inline CWinApp testApp;

class InspectableKarvoDlg : public CKarvoDlg {
 public:
  using CKarvoDlg::m_cbCapacity;
  using CKarvoDlg::m_cbFormat;
  using CKarvoDlg::m_hIcon;
};

}  // namespace testing_support
