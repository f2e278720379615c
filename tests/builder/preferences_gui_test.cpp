// The Preferences window shown for real: SetDefaults fills the exclusion
// list without closing the window, a list without colons is refused with
// its message and the window stays, and OK then hands back the trimmed,
// upper-case list. Needs a desktop that can make windows (under wine: an X
// display); skipped otherwise.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "ui/preferences_dialog.h"
#include "ui/win32/preferences_win32.h"
#include "ui/win32_gui.h"

namespace crx::ui {
namespace {

using test::TextOf;
using test::WaitForDialog;

TEST(PreferencesWindow, SetDefaultsStaysOpenBadListsAreRefusedAndOkNormalises) {
  SKIP_WITHOUT_DESKTOP();
  PreferenceValues values;
  values.logging = 1;
  values.ignore_files = "OBJ";
  values.block_size = 0;
  values.soft_eom = 1;
  std::string failures;
  std::thread driver([&] {
    HWND dlg = WaitForDialog("Preferences");
    if (!dlg) {
      failures = "no window";
      return;
    }
    HWND list = ::FindWindowExA(dlg, nullptr, "Edit", nullptr);
    if (!list || TextOf(list) != "OBJ") failures += "list not shown; ";
    // SetDefaults: the default list, and the window is still there.
    ::SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(kPreferencesSetDefaults, BN_CLICKED), 0);
    if (!::IsWindow(dlg)) failures += "SetDefaults closed the window; ";
    if (list && TextOf(list) != kDefaultExclusionList) failures += "defaults not put in; ";
    // No colon: refused with the model's message, the window stays.
    ::SetWindowTextA(list, "exe");
    ::PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    HWND box = WaitForDialog("Preferences");
    for (int i = 0; i < 500 && box == dlg; ++i) {
      ::Sleep(10);
      HWND w = nullptr;
      while ((w = ::FindWindowExA(nullptr, w, "#32770", "Preferences")) != nullptr) {
        if (w != dlg && ::IsWindowVisible(w)) box = w;
      }
    }
    if (box == dlg || !test::ShowsText(box, PreferencesDialog::kNoColonsText)) {
      failures += "no-colon message not shown; ";
    }
    if (box != dlg) {
      ::SendMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      test::WaitGone(box);
    }
    ::SetWindowTextA(list, "  obj:exe ");
    ::PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  const bool ok = RunPreferencesWindow(&values);
  driver.join();
  EXPECT_EQ(failures, "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(values.ignore_files, "OBJ:EXE");
  EXPECT_EQ(values.logging, 1);
}

}  // namespace
}  // namespace crx::ui
