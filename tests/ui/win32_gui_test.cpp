// The Win32 dialog window built from a model, shown for real and driven
// from a second thread through its controls, the way a person would: typing
// into the edits, ticking the check box, clicking, pressing Enter and Escape.
// Needs a desktop that can make windows (under wine: an X display); skipped
// otherwise.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ui/message_box.h"
#include "ui/win32/win32_dialog.h"
#include "ui/win32/win32_front_end.h"
#include "ui/win32_gui.h"

namespace crx::ui {
namespace {

constexpr const char* kFormCaption = "Cratex gui test - Account";
constexpr int kLater = 1031;  // not a standard identifier: Enter must not send IDOK

// Company (text), Secret (password), Remember (check box), Folder
// (read-only); OK, Later (the default) and Cancel. Every button but Cancel
// is refused while Company is empty, and the refusal empties Secret.
// Each press is logged as "id:Company|Secret|Remember".
class AccountDialog : public Dialog {
 public:
  AccountDialog() : Dialog("Account", kFormCaption, "Who are you?\nThe folder is fixed.") {
    AddField({"Company", "Company:", FieldKind::kText, ""});
    AddField({"Secret", "Password:", FieldKind::kPassword, "old"});
    AddField({"Remember", "Remember me", FieldKind::kCheck, "1"});
    AddField({"Folder", "Folder:", FieldKind::kText, "C:\\Data", true});
    AddButton("OK", "OK", IDOK);
    AddButton("Later", "Later", kLater);
    AddButton("Cancel", "Cancel", IDCANCEL);
    SetDefaultButton(1);
    SetRefusingButton(2);
    SetTopmost(true);
  }
  std::vector<std::string> log;

 protected:
  bool Validate(int id, std::string* error) override {
    log.push_back(std::to_string(id) + ":" + FindField("Company")->value + "|" +
                  FindField("Secret")->value + "|" + FindField("Remember")->value);
    if (id == IDCANCEL || !FindField("Company")->value.empty()) return true;
    *error = "ERROR: 'Company' field cannot be empty";
    MutableField("Secret")->value.clear();
    return false;
  }
};

using test::CloseLeftovers;
using test::ShowsText;
using test::Sync;
using test::TextOf;
using test::WaitForWindow;
using test::WaitGone;

HWND FocusOf(HWND w) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  ::GetGUIThreadInfo(::GetWindowThreadProcessId(w, nullptr), &info);
  return info.hwndFocus;
}

LONG StyleOf(HWND w) { return static_cast<LONG>(::GetWindowLongPtrA(w, GWL_STYLE)); }

TEST(Win32DialogWindow, FieldsReachTheModelAndARefusedPressKeepsTheDialogOpen) {
  SKIP_WITHOUT_DESKTOP();
  AccountDialog dialog;
  struct Seen {
    bool found = false, topmost = false, password = false, read_only = false, check = false;
    bool default_push = false, first_focus = false;
    std::string folder, secret_before;
    int checked_before = -1;
    bool error_box = false, error_text = false, open_after_refusal = false;
    std::string secret_after, company_after;
    bool focus_after = false, closed = false;
  } seen;

  std::thread driver([&] {
    HWND dlg = WaitForWindow(kFormCaption, nullptr);
    seen.found = dlg != nullptr;
    if (!dlg) return;
    HWND company = ::GetDlgItem(dlg, FieldControlId(dialog, 0));
    HWND secret = ::GetDlgItem(dlg, FieldControlId(dialog, 1));
    HWND remember = ::GetDlgItem(dlg, FieldControlId(dialog, 2));
    HWND folder = ::GetDlgItem(dlg, FieldControlId(dialog, 3));
    seen.topmost = (::GetWindowLongPtrA(dlg, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    seen.password = (StyleOf(secret) & ES_PASSWORD) != 0;
    seen.read_only = (StyleOf(folder) & ES_READONLY) != 0;
    seen.check = (StyleOf(remember) & BS_TYPEMASK) == BS_AUTOCHECKBOX;
    seen.default_push = (StyleOf(::GetDlgItem(dlg, kLater)) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    seen.first_focus = FocusOf(dlg) == company;
    seen.folder = TextOf(folder);
    seen.secret_before = TextOf(secret);
    seen.checked_before = static_cast<int>(::SendMessageA(remember, BM_GETCHECK, 0, 0));

    // Company left empty: OK is refused with a message box over the dialog.
    ::SetWindowTextA(secret, "x");
    ::SendMessageA(remember, BM_SETCHECK, BST_UNCHECKED, 0);
    ::PostMessageA(::GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
    HWND box = WaitForWindow(kFormCaption, dlg);
    seen.error_box = box != nullptr;
    if (box) {
      seen.error_text = ShowsText(box, "ERROR: 'Company' field cannot be empty");
      ::PostMessageA(box, WM_COMMAND, IDOK, 0);
      WaitGone(box);
    }
    Sync(dlg);
    seen.open_after_refusal = ::IsWindowVisible(dlg) != FALSE;
    seen.secret_after = TextOf(secret);  // the model emptied it
    seen.company_after = TextOf(company);
    seen.focus_after = FocusOf(dlg) == company;

    // Filled in: Enter in the company field presses the default button.
    ::SetWindowTextA(company, "Velmora Ltd");
    ::SetWindowTextA(secret, "s3cret");
    ::SendMessageA(remember, BM_SETCHECK, BST_CHECKED, 0);
    ::PostMessageA(company, WM_KEYDOWN, VK_RETURN, 0);
    seen.closed = WaitGone(dlg);
    if (!seen.closed) CloseLeftovers(kFormCaption);
  });
  Win32FrontEnd front_end;
  int result = front_end.Show(dialog);
  driver.join();

  ASSERT_TRUE(seen.found);
  EXPECT_TRUE(seen.topmost);
  EXPECT_TRUE(seen.password);
  EXPECT_TRUE(seen.read_only);
  EXPECT_TRUE(seen.check);
  EXPECT_TRUE(seen.default_push);
  EXPECT_TRUE(seen.first_focus);
  // The model's values are shown when the dialog opens.
  EXPECT_EQ(seen.folder, "C:\\Data");
  EXPECT_EQ(seen.secret_before, "old");
  EXPECT_EQ(seen.checked_before, BST_CHECKED);

  EXPECT_TRUE(seen.error_box);
  EXPECT_TRUE(seen.error_text);
  EXPECT_TRUE(seen.open_after_refusal);
  EXPECT_EQ(seen.secret_after, "");
  EXPECT_EQ(seen.company_after, "");
  EXPECT_TRUE(seen.focus_after);

  EXPECT_TRUE(seen.closed);
  EXPECT_EQ(result, kLater);
  EXPECT_TRUE(dialog.Closed());
  EXPECT_EQ(dialog.Result(), kLater);
  EXPECT_EQ(dialog.log,
            (std::vector<std::string>{"1:|x|0", "1031:Velmora Ltd|s3cret|1"}));
  EXPECT_EQ(dialog.FindField("Folder")->value, "C:\\Data");
}

constexpr const char* kChoiceCaption = "Cratex gui test - Choice";

// Four buttons with identifiers of their own, none of them IDOK or
// IDCANCEL; the second is the default, the fourth the refusing one.
class ChoiceDialog : public Dialog {
 public:
  ChoiceDialog() : Dialog("Choice", kChoiceCaption, "The file exists:") {
    AddField({"Path", "Path:", FieldKind::kText, "C:\\Program Files\\Widget\\a.txt", true});
    AddButton("Yes", "Yes", 1021);
    AddButton("No", "No", 1022);
    AddButton("NoToAll", "No To All", 1023);
    AddButton("Never", "Never", 1030);
    SetDefaultButton(1);
    SetRefusingButton(3);
  }
};

// Shows a ChoiceDialog and does action to its window; returns the result,
// or -2 when the window did not appear or did not close.
template <typename Action>
int ShowAndDo(Action action) {
  ChoiceDialog dialog;
  bool ok = false;
  std::thread driver([&] {
    HWND dlg = WaitForWindow(kChoiceCaption, nullptr);
    if (!dlg) return;
    action(dlg);
    ok = WaitGone(dlg);
    if (!ok) CloseLeftovers(kChoiceCaption);
  });
  int result = ShowDialogWindow(dialog);
  driver.join();
  if (!dialog.Closed() || result != dialog.Result()) return -3;
  return ok ? result : -2;
}

TEST(Win32DialogWindow, EnterPressesTheDefaultButtonEscapeAndCloseTheRefusingOne) {
  SKIP_WITHOUT_DESKTOP();
  // Only read-only fields: the focus starts on the default button.
  EXPECT_EQ(ShowAndDo([](HWND dlg) {
              ::PostMessageA(FocusOf(dlg), WM_KEYDOWN, VK_RETURN, 0);
            }),
            1022);
  EXPECT_EQ(ShowAndDo([](HWND dlg) {
              ::PostMessageA(FocusOf(dlg), WM_KEYDOWN, VK_ESCAPE, 0);
            }),
            1030);
  EXPECT_EQ(ShowAndDo([](HWND dlg) { ::PostMessageA(dlg, WM_CLOSE, 0, 0); }), 1030);
  EXPECT_EQ(ShowAndDo([](HWND dlg) {
              ::PostMessageA(::GetDlgItem(dlg, 1023), BM_CLICK, 0, 0);
            }),
            1023);
}

TEST(Win32FrontEndTest, MessageBoxesUseTheSystemBox) {
  SKIP_WITHOUT_DESKTOP();
  MessageBoxDialog box("Disk full", "Cratex gui test - Box", MB_RETRYCANCEL);
  bool found = false;
  std::thread driver([&] {
    HWND w = WaitForWindow("Cratex gui test - Box", nullptr);
    found = w != nullptr;
    if (!w) return;
    ::PostMessageA(w, WM_COMMAND, IDRETRY, 0);
    if (!WaitGone(w)) CloseLeftovers("Cratex gui test - Box");
  });
  Win32FrontEnd front_end;
  int result = front_end.Show(box);
  driver.join();
  EXPECT_TRUE(found);
  EXPECT_EQ(result, IDRETRY);
}

}  // namespace
}  // namespace crx::ui
