// Karvo with one resource missing: run as damaged copies of the real program,
// and as the dialog class in this process with a damaged copy as its
// resource module. Every fault leaves its feature silently absent.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>

#include "e2e/main_dialog_fixture.h"
#include "platform/afxwin.h"
#include "res/resource.h"
#include "support/karvo_dialog.h"
#include "support/run_dialog.h"
#include "support/wine_path.h"
#include "ui/karvo_dlg.h"

namespace {

using testing_support::RunDialogWhile;

using testing_support::InspectableKarvoDlg;
using testing_support::testApp;

std::wstring Copy(const wchar_t* damage) { return testing_support::PathArgument() + L"\\Karvo-" + damage + L".exe"; }

// A damaged copy, started by each test, with its main dialog found.
class DamagedKarvo : public e2e::MainDialog {
 protected:
  void SetUp() override {}
  void Start(const wchar_t* damage) { MainDialog::Start(Copy(damage)); }

  void ExpectCalculatesNtfs120() {
    EXPECT_EQ(Calculate(1, 120).text, L"您选择的格式为NTFS,分区容量为120GB,实际容量应为 122885 MB.");
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
};

// Each copy that runs as usual without what is missing: its lists open
// (without the manifest they are USER32's own, which open exactly as tall as
// the template makes them: a single line, unless the program gives them
// room), it calculates, About opens where its text is there, and it ends quietly.
TEST_F(DamagedKarvo, WithoutAResourceItCanDoWithoutRunsAsUsual) {
  struct Case {
    const wchar_t* damage;
    bool lists;
    bool about;
  };
  for (const Case& c : {Case{L"no-icon-128", false, true}, Case{L"no-manifest", true, true},
                        Case{L"no-version", true, true}, Case{L"no-string-101", false, false}}) {
    SCOPED_TRACE(testing::Message() << c.damage);
    Start(c.damage);
    if (c.lists) ExpectOpenedListsShowEntries();
    ExpectCalculatesNtfs120();
    if (c.about) ExpectAboutOpensAndCloses();
    ExpectOnlyTheMainDialogAndAQuietEnd();
  }
}

TEST_F(DamagedKarvo, WithoutTheAboutBoxAboutDoesNothingVisible) {
  Start(L"no-dialog-100");
  EXPECT_EQ(karvo->OpenAbout(IDM_ABOUT, 300), nullptr);
  EXPECT_EQ(karvo->TopLevelWindows(), std::vector<HWND>{dialog});
  EXPECT_TRUE(::IsWindowEnabled(dialog)) << "the main dialog must stay usable";
  ExpectCalculatesNtfs120();
  ExpectOnlyTheMainDialogAndAQuietEnd();
}

TEST(DamagedKarvoWithoutMainDialog, EndsAtOnceWithoutAnyWindowOrCrash) {
  e2e::KarvoProcess karvo(Copy(L"no-dialog-102"));
  ASSERT_NE(karvo.Handle(), nullptr);
  DWORD exitCode = 1;
  const bool ended = testing_support::WaitUntil([&] {
    EXPECT_TRUE(karvo.TopLevelWindows().empty()) << "a window appeared";
    return karvo.WaitForExit(0, &exitCode);
  });
  ASSERT_TRUE(ended) << "the program did not end";
  EXPECT_EQ(exitCode, 0u) << "0x" << std::hex << exitCode;
}

// The dialog class in this process, its resources taken from each damaged
// copy in turn (without About's own dialog, above: the copy shows it): what
// the missing resource makes is absent.
TEST(DamagedResources, EachMissingResourceTakesOnlyItsOwnFeature) {
  const auto noIconOfItsOwn = [](InspectableKarvoDlg& dialog) {
    EXPECT_EQ(dialog.m_hIcon, nullptr);
    RunDialogWhile(dialog, [&](HWND window) {
      EXPECT_EQ(::SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);
      EXPECT_EQ(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0), 0);
    });
  };
  const auto noAboutItem = [](InspectableKarvoDlg& dialog) {
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
  };
  const auto failsAtOnceAndClearsTheMainWindow = [](InspectableKarvoDlg& dialog) {
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_EQ(testApp.m_pMainWnd, nullptr);
  };
  const std::pair<const wchar_t*, std::function<void(InspectableKarvoDlg&)>> cases[] = {
      {L"no-icon-128", noIconOfItsOwn},
      {L"no-string-101", noAboutItem},
      {L"no-dialog-102", failsAtOnceAndClearsTheMainWindow},
  };
  for (const auto& [damage, check] : cases) {
    SCOPED_TRACE(testing::Message() << damage);
    HMODULE module = ::LoadLibraryExW(Copy(damage).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    testApp.m_hInstance = module;
    {
      InspectableKarvoDlg dialog;
      testApp.m_pMainWnd = &dialog;
      check(dialog);
    }
    testApp.m_hInstance = nullptr;
    testApp.m_pMainWnd = nullptr;
    ::FreeLibrary(module);
  }
}

}  // namespace
