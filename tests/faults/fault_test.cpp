// Karvo with one resource missing: run as damaged copies of the real program,
// and as the dialog class in this process with a damaged copy as its
// resource module. Every fault leaves its feature silently absent.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "e2e/driver.h"
#include "platform/afxwin.h"
#include "res/resource.h"
#include "support/karvo_dialog.h"
#include "support/poll.h"
#include "support/run_dialog.h"
#include "support/wine_path.h"
#include "ui/karvo_dlg.h"

namespace {

using testing_support::RunDialogWhile;

using testing_support::InspectableKarvoDlg;
using testing_support::testApp;

std::wstring g_damagedFolder;

std::wstring Copy(const wchar_t* damage) { return g_damagedFolder + L"\\Karvo-" + damage + L".exe"; }

// Runs a damaged copy and waits for its main dialog.
class DamagedKarvo : public ::testing::Test {
 protected:
  void Start(const wchar_t* damage) {
    karvo = std::make_unique<e2e::KarvoProcess>(L"", Copy(damage));
    dialog = karvo->WaitForMainDialog();
    ASSERT_NE(dialog, nullptr) << "the main dialog did not appear";
  }

  void ExpectCalculatesNtfs120() {
    ::SendMessageW(::GetDlgItem(dialog, IDC_FORMAT_LIST), CB_SETCURSEL, 1, 0);
    ::SendMessageW(::GetDlgItem(dialog, IDC_CAPACITY_LIST), CB_SETCURSEL, 119, 0);
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    HWND box = karvo->WaitForOwnedDialog(dialog, L"计算结果");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(e2e::ReadMessageBox(box).text, L"您选择的格式为NTFS,分区容量为120GB,实际容量应为 122885 MB.");
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    testing_support::WaitUntil([&] { return !::IsWindow(box); });
  }

  // Opens each list and checks that it shows several entries.
  void ExpectOpenedListsShowEntries() {
    for (int id : {IDC_FORMAT_LIST, IDC_CAPACITY_LIST}) {
      HWND list = ::GetDlgItem(dialog, id);
      ::SendMessageW(list, CB_SHOWDROPDOWN, TRUE, 0);
      e2e::Sync(dialog);
      HWND dropped = nullptr;
      for (HWND window : karvo->TopLevelWindows()) {
        if (e2e::ClassName(window) == L"ComboLBox") dropped = window;
      }
      ASSERT_NE(dropped, nullptr) << "list " << id << " did not open";
      RECT area{};
      ::GetClientRect(dropped, &area);
      const auto itemHeight = static_cast<LONG>(::SendMessageW(list, CB_GETITEMHEIGHT, 0, 0));
      const auto entries = std::min<LONG>(3, static_cast<LONG>(::SendMessageW(list, CB_GETCOUNT, 0, 0)));
      ASSERT_GT(itemHeight, 0);
      EXPECT_GE(area.bottom - area.top, entries * itemHeight)
          << "list " << id << " opens " << area.bottom - area.top << " pixels tall";
      ::SendMessageW(list, CB_SHOWDROPDOWN, FALSE, 0);
      e2e::Sync(dialog);
    }
  }

  void ExpectAboutOpensAndCloses() {
    ::PostMessageW(dialog, WM_SYSCOMMAND, IDM_ABOUT, 0);
    HWND about = karvo->WaitForOwnedDialog(dialog, L"关于 Karvo");
    ASSERT_NE(about, nullptr) << "the About box did not open";
    EXPECT_FALSE(::IsWindowEnabled(dialog));
    ::PostMessageW(about, WM_COMMAND, IDOK, 0);
    testing_support::WaitUntil([&] { return !::IsWindow(about); });
    EXPECT_FALSE(::IsWindow(about));
    EXPECT_TRUE(::IsWindowEnabled(dialog));
  }

  void ExpectOnlyTheMainDialogAndAQuietEnd() {
    EXPECT_EQ(karvo->TopLevelWindows(), std::vector<HWND>{dialog}) << "something was reported";
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    DWORD exitCode = 1;
    ASSERT_TRUE(karvo->WaitForExit(5000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
  }

  std::unique_ptr<e2e::KarvoProcess> karvo;
  HWND dialog = nullptr;
};

TEST_F(DamagedKarvo, WithoutItsIconCalculatesAsUsualAndAboutStillOpens) {
  Start(L"no-icon-128");
  ExpectCalculatesNtfs120();
  ExpectAboutOpensAndCloses();
  ExpectOnlyTheMainDialogAndAQuietEnd();
}

// Without the manifest the lists are USER32's own, which open exactly as tall
// as the template makes them: a single line, unless the program gives them room.
TEST_F(DamagedKarvo, WithoutItsManifestCalculatesAndItsListsShowEntries) {
  Start(L"no-manifest");
  ExpectOpenedListsShowEntries();
  ExpectCalculatesNtfs120();
  ExpectAboutOpensAndCloses();
  ExpectOnlyTheMainDialogAndAQuietEnd();
}

TEST_F(DamagedKarvo, WithoutItsVersionBlockRunsAsNormal) {
  Start(L"no-version");
  ExpectOpenedListsShowEntries();
  ExpectCalculatesNtfs120();
  ExpectAboutOpensAndCloses();
  ExpectOnlyTheMainDialogAndAQuietEnd();
}

TEST_F(DamagedKarvo, WithoutTheAboutTextCalculatesAsUsual) {
  Start(L"no-string-101");
  ExpectCalculatesNtfs120();
  ExpectOnlyTheMainDialogAndAQuietEnd();
}

TEST_F(DamagedKarvo, WithoutTheAboutBoxAboutDoesNothingVisible) {
  Start(L"no-dialog-100");
  ::PostMessageW(dialog, WM_SYSCOMMAND, IDM_ABOUT, 0);
  e2e::Sync(dialog);
  ::Sleep(300);
  EXPECT_EQ(karvo->TopLevelWindows(), std::vector<HWND>{dialog});
  EXPECT_TRUE(::IsWindowEnabled(dialog)) << "the main dialog must stay usable";
  ExpectCalculatesNtfs120();
  ExpectOnlyTheMainDialogAndAQuietEnd();
}

TEST(DamagedKarvoWithoutMainDialog, EndsAtOnceWithoutAnyWindowOrCrash) {
  e2e::KarvoProcess karvo(L"", Copy(L"no-dialog-102"));
  ASSERT_NE(karvo.Handle(), nullptr);
  DWORD exitCode = 1;
  const bool ended = testing_support::WaitUntil([&] {
    EXPECT_TRUE(karvo.TopLevelWindows().empty()) << "a window appeared";
    return karvo.WaitForExit(0, &exitCode);
  });
  ASSERT_TRUE(ended) << "the program did not end";
  EXPECT_EQ(exitCode, 0u) << "0x" << std::hex << exitCode;
}

// The dialog class in this process, its resources taken from a damaged copy.
class DamagedResources : public ::testing::Test {
 protected:
  void Use(const wchar_t* damage) {
    module = ::LoadLibraryExW(Copy(damage).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    testApp.m_hInstance = module;
  }
  void TearDown() override {
    testApp.m_hInstance = nullptr;
    testApp.m_pMainWnd = nullptr;
    if (module) ::FreeLibrary(module);
  }
  HMODULE module = nullptr;
};

TEST_F(DamagedResources, NoIconMeansNoIconOfItsOwn) {
  Use(L"no-icon-128");
  InspectableKarvoDlg dialog;
  EXPECT_EQ(dialog.m_hIcon, nullptr);
  RunDialogWhile(dialog, [&](HWND window) {
    EXPECT_EQ(::SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_EQ(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0), 0);
  });
}

TEST_F(DamagedResources, NoAboutTextMeansNoAboutItem) {
  Use(L"no-string-101");
  CKarvoDlg dialog;
  RunDialogWhile(dialog, [&](HWND window) {
    HMENU menu = ::GetSystemMenu(window, FALSE);
    ASSERT_NE(menu, nullptr);
    const int count = ::GetMenuItemCount(menu);
    ASSERT_GT(count, 0);
    EXPECT_NE(::GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUT));
    MENUITEMINFOW last{};
    last.cbSize = sizeof last;
    last.fMask = MIIM_FTYPE;
    ::GetMenuItemInfoW(menu, count - 1, TRUE, &last);
    EXPECT_FALSE(last.fType & MFT_SEPARATOR) << "a separator with nothing after it";
  });
}

TEST_F(DamagedResources, NoAboutBoxLeavesTheMainDialogEnabled) {
  Use(L"no-dialog-100");
  CKarvoDlg dialog;
  testApp.m_pMainWnd = &dialog;
  RunDialogWhile(dialog, [&](HWND window) {
    ::SendMessageW(window, WM_SYSCOMMAND, IDM_ABOUT, 0);  // returns once the failed About is over
    EXPECT_TRUE(::IsWindowEnabled(window));
  });
}

TEST_F(DamagedResources, NoMainDialogFailsAtOnceAndClearsTheMainWindow) {
  Use(L"no-dialog-102");
  {
    CKarvoDlg dialog;
    testApp.m_pMainWnd = &dialog;
    EXPECT_EQ(dialog.DoModal(), -1);
  }
  EXPECT_EQ(testApp.m_pMainWnd, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) return 2;
  g_damagedFolder = testing_support::WindowsPath(argv[1]);
  return RUN_ALL_TESTS();
}
