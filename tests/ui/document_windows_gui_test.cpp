// The file-group chooser in the generic dialog window and the text viewer's
// rich-edit window, shown for real and driven from a second thread through
// their controls. Needs a desktop that can make windows (under wine: an X
// display); skipped otherwise.
// Before the system headers: they define a macro named like one of its
// members.
#include "platform/platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "engine/user_interface.h"
#include "ui/choose_files_dialog.h"
#include "ui/display_dialog.h"
#include "ui/document_browser.h"
#include "ui/win32/display_win32.h"
#include "ui/win32/win32_dialog.h"
#include "ui/win32/win32_front_end.h"
#include "ui/win32_gui.h"

namespace crx::ui {
namespace {

using test::ChildOfClass;
using test::ChildWithText;
using test::CloseLeftovers;
using test::Sync;
using test::TextOf;
using test::WaitForWindow;
using test::WaitGone;

TEST(DocumentWindows, ChooserBoxesUpdateTheSpaceLineAndAMandatoryBoxIsFixed) {
  SKIP_WITHOUT_DESKTOP();
  ChooseFilesDialog dialog({{0, "Program files", 1200000, true, false},
                            {1, "Help files", 34567, true, true},
                            {2, "Samples", 1000, false, false}},
                           5000000);
  struct Seen {
    bool found = false, mandatory_disabled = false, closed = false;
    std::string required_before, required_after, available;
  } seen;
  std::thread driver([&] {
    HWND dlg = WaitForWindow("Advanced Installation Option", nullptr);
    seen.found = dlg != nullptr;
    if (!dlg) return;
    HWND program = ::GetDlgItem(dlg, FieldControlId(dialog, 0));
    HWND help = ::GetDlgItem(dlg, FieldControlId(dialog, 1));
    HWND required = ::GetDlgItem(dlg, FieldControlId(dialog, 3));
    seen.mandatory_disabled = help && !::IsWindowEnabled(help);
    seen.required_before = TextOf(required);
    seen.available = TextOf(::GetDlgItem(dlg, FieldControlId(dialog, 4)));
    ::SendMessageA(program, BM_CLICK, 0, 0);  // clears it
    Sync(dlg);
    seen.required_after = TextOf(required);
    ::PostMessageA(::GetDlgItem(dlg, kIdOk), BM_CLICK, 0, 0);
    seen.closed = WaitGone(dlg);
    if (!seen.closed) CloseLeftovers("Advanced Installation Option");
  });
  int result = ShowDialogWindow(dialog);
  driver.join();

  ASSERT_TRUE(seen.found);
  EXPECT_TRUE(seen.mandatory_disabled);
  EXPECT_EQ(seen.required_before, "  Disk Space Required:  1,234,567 bytes");
  EXPECT_EQ(seen.required_after, "  Disk Space Required:  34,567 bytes");
  EXPECT_EQ(seen.available, "  Disk Space Available:  5,000,000 bytes");
  EXPECT_TRUE(seen.closed);
  EXPECT_EQ(result, kIdOk);
  EXPECT_FALSE(dialog.Selected(0));
  EXPECT_TRUE(dialog.Selected(1));
}

TEST(DocumentWindows, TheLicenceViewerShowsRichTextAndWaitsForTheTick) {
  SKIP_WITHOUT_DESKTOP();
  constexpr const char* kCaption = "Cratex gui test - Licence";
  DisplayDialog dialog(kCaption, "LICENCE.RTF",
                       "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 You may \\b use\\b0  it.\\par}",
                       true, DisplayMode::kLicence);
  struct Seen {
    bool found = false, text_found = false, refusal = false, closed = false;
    std::string text;
  } seen;
  std::thread driver([&] {
    HWND dlg = WaitForWindow(kCaption, nullptr);
    seen.found = dlg != nullptr;
    if (!dlg) return;
    HWND text = ChildOfClass(dlg, "RICHEDIT");
    seen.text_found = text != nullptr;
    if (text) seen.text = TextOf(text);
    // OK without the tick is refused with a message over the viewer.
    ::PostMessageA(::GetDlgItem(dlg, kIdOk), BM_CLICK, 0, 0);
    HWND box = WaitForWindow(kCaption, dlg);
    if (box) {
      seen.refusal = ChildWithText(box, DisplayDialog::kNotTicked) != nullptr;
      ::PostMessageA(box, WM_COMMAND, IDOK, 0);
      WaitGone(box);
    }
    Sync(dlg);
    ::SendMessageA(ChildWithText(dlg, DisplayDialog::kTickLabel), BM_CLICK, 0, 0);
    ::PostMessageA(::GetDlgItem(dlg, kIdOk), BM_CLICK, 0, 0);
    seen.closed = WaitGone(dlg);
    if (!seen.closed) CloseLeftovers(kCaption);
  });
  SetDisplayWindow(ShowDisplayWindow);
  Win32FrontEnd front_end;
  int result = front_end.Show(dialog);
  SetDisplayWindow(nullptr);
  driver.join();

  ASSERT_TRUE(seen.found);
  EXPECT_TRUE(seen.text_found);
  // The control read the rich text: its words, none of its markup.
  EXPECT_NE(seen.text.find("You may use it."), std::string::npos) << seen.text;
  EXPECT_EQ(seen.text.find("rtf1"), std::string::npos) << seen.text;
  EXPECT_TRUE(seen.refusal);
  EXPECT_TRUE(seen.closed);
  EXPECT_EQ(result, kIdOk);
  EXPECT_EQ(dialog.FindField("Read")->value, "1");
}

// The browser window comes up where and as large as it should, keeps the
// caller waiting while it is open, and lets it go on once it is closed.
// (Under wine without its HTML engine no window is made: the control would
// show an empty page, and ShowDocument says there is no browser.)
TEST(DocumentWindows, TheBrowserWindowHoldsTheCommandUntilItIsClosed) {
  SKIP_WITHOUT_DESKTOP();
  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  ASSERT_TRUE(host) << error;
  struct Seen {
    bool found = false, closed = false;
    RECT rect = {};
  } seen;
  std::thread driver([&] {
    HWND w = nullptr;
    for (int i = 0; i < 1000 && !w; ++i) {
      w = ::FindWindowA(nullptr, "Kestrova Browser");
      if (!w || !::IsWindowVisible(w)) {
        w = nullptr;
        ::Sleep(10);
      }
    }
    seen.found = w != nullptr;
    if (!w) return;
    ::GetWindowRect(w, &seen.rect);
    ::PostMessageA(w, WM_CLOSE, 0, 0);
    seen.closed = WaitGone(w);
  });
  BrowseOutcome outcome = ShowDocument(host->Get(), "about:blank");
  driver.join();
  if (!seen.found) {
    // No window: only acceptable when the system has no browser control.
    EXPECT_EQ(outcome, BrowseOutcome::kNoBrowser);
    return;
  }
  EXPECT_EQ(outcome, BrowseOutcome::kShown);
  EXPECT_TRUE(seen.closed);
  EXPECT_EQ(seen.rect.left, 10);
  EXPECT_EQ(seen.rect.top, 10);
  EXPECT_EQ(seen.rect.right - seen.rect.left, 570);
  EXPECT_EQ(seen.rect.bottom - seen.rect.top, 690);
}

}  // namespace
}  // namespace crx::ui
