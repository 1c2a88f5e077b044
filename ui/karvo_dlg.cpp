#include "karvo_dlg.h"

#include "about_dlg.h"
#include "core/size_rounding.h"
#include "res/resource.h"

// The core's texts that the dialog shows fit a CString whole, never cut.
static_assert(karvo::ResultMessage::kCapacity <= CString::kCapacity);
static_assert(karvo::CapacityText::kCapacity <= CString::kCapacity);
static_assert(karvo::ResultCaption.size() < CString::kCapacity);

CKarvoDlg::CKarvoDlg(CWnd* parent) : CDialog(IDD_MAIN_DIALOG, parent) {
  const wchar_t* iconName = MAKEINTRESOURCEW(IDI_APP_ICON);
  m_hIcon = ::LoadIconW(AfxFindResourceHandle(iconName, RT_GROUP_ICON), iconName);
}

BEGIN_MESSAGE_MAP(CKarvoDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

void CKarvoDlg::DoDataExchange(CDataExchange* pDX) {
  DDX_Control(pDX, IDC_CAPACITY_LIST, m_cbCapacity);
  DDX_Control(pDX, IDC_FORMAT_LIST, m_cbFormat);
  DDX_CBString(pDX, IDC_FORMAT_LIST, m_strFormat);
  DDX_CBString(pDX, IDC_CAPACITY_LIST, m_strCapacity);
}

BOOL CKarvoDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  // The About item goes at the end of the system menu, after a separator.
  // Without a system menu or its text the program simply has no About item.
  CMenu sysMenu = CMenu::FromHandle(::GetSystemMenu(m_hWnd, FALSE));
  if (sysMenu) {
    CString aboutItem;
    aboutItem.LoadString(IDS_ABOUT_ITEM);
    if (!aboutItem.IsEmpty()) {
      sysMenu.AppendMenu(MF_SEPARATOR);
      sysMenu.AppendMenu(MF_STRING, IDM_ABOUT, aboutItem);
    }
  }

  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

  UpdateData(TRUE);
  for (std::string_view choice : karvo::FileSystemChoices()) m_cbFormat.AddString(CString::FromUtf8(choice));
  m_cbFormat.SetCurSel(0);
  for (const karvo::CapacityText& choice : karvo::CapacityChoices())
    m_cbCapacity.AddString(CString::FromUtf8(choice.view()));
  m_cbCapacity.SetCurSel(0);
  UpdateData(FALSE);

  return TRUE;  // focus to the first tab stop, the calculate button
}

void CKarvoDlg::OnOK() {
  const int index = m_cbFormat.GetCurSel();
  if (index != 0 && index != 1) return;

  wchar_t capacity[100];
  m_cbCapacity.GetWindowText(capacity, 100);
  char capacityUtf8[3 * 100];
  const int length = WideToUtf8(capacity, capacityUtf8);

  const auto message = karvo::BuildResultMessage(index, std::string_view(capacityUtf8, length));
  if (!message) return;
  MessageBox(CString::FromUtf8(message->view()), CString::FromUtf8(karvo::ResultCaption), MB_OK | MB_ICONINFORMATION);
  // The dialog stays open: calculating never ends it.
}

void CKarvoDlg::OnSysCommand(UINT nID, LPARAM lParam) {
  (void)lParam;
  // The window system keeps the low four bits of a system command for itself.
  if ((nID & 0xFFF0) == IDM_ABOUT) {
    CAboutDlg dlgAbout;
    dlgAbout.DoModal();
  } else {
    Default();
  }
}

void CKarvoDlg::OnPaint() {
  if (!IsIconic()) {
    Default();
    return;
  }
  // Only something outside the dialog can minimize it (it has no minimize box).
  CPaintDC dc(this);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  const int cxIcon = ::GetSystemMetrics(SM_CXICON);
  const int cyIcon = ::GetSystemMetrics(SM_CYICON);
  RECT rect;
  GetClientRect(&rect);
  const int x = (rect.right - rect.left - cxIcon + 1) / 2;
  const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
  ::DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
}

HCURSOR CKarvoDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
