#include "about_dlg.h"

#include "res/resource.h"

// No parent: the framework makes the main window its owner.
CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUT_DIALOG) {}

void CAboutDlg::DoDataExchange(CDataExchange*) {}  // nothing to exchange

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()
