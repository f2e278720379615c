#include <gtest/gtest.h>

#include "engine/user_interface.h"
#include "ui/fakes.h"
#include "ui/message_box.h"

namespace crx::ui {
namespace {

std::string Names(const Dialog& d) {
  std::string s;
  for (const DialogButton& b : d.Buttons()) s += b.name + "=" + std::to_string(b.id) + " ";
  return s;
}

TEST(MessageBoxModel, FlagsChooseButtonsDefaultAndRefusingAnswer) {
  struct Row {
    uint32_t flags;
    const char* buttons;
    int default_id;
    int refusing_id;
  };
  const Row rows[] = {
      {kMbOk, "OK=1 ", kIdOk, kIdOk},
      {kMbOkCancel, "OK=1 Cancel=2 ", kIdOk, kIdCancel},
      {kMbAbortRetryIgnore, "Abort=3 Retry=4 Ignore=5 ", kIdAbort, kIdAbort},
      {kMbYesNoCancel, "Yes=6 No=7 Cancel=2 ", kIdYes, kIdCancel},
      {kMbYesNo, "Yes=6 No=7 ", kIdYes, kIdNo},
      {kMbRetryCancel, "Retry=4 Cancel=2 ", kIdRetry, kIdCancel},
      {kMbYesNo | kMbDefButton2, "Yes=6 No=7 ", kIdNo, kIdNo},
      {kMbYesNoCancel | kMbDefButton3, "Yes=6 No=7 Cancel=2 ", kIdCancel, kIdCancel},
      {kMbAbortRetryIgnore | kMbDefButton2 | kMbIconHand, "Abort=3 Retry=4 Ignore=5 ",
       kIdRetry, kIdAbort},
      // A default past the last button falls back to the first, as Win32 does.
      {kMbOkCancel | kMbDefButton3, "OK=1 Cancel=2 ", kIdOk, kIdCancel},
      {kMbOk | kMbDefButton2 | kMbTopmost, "OK=1 ", kIdOk, kIdOk},
      // Types this system never uses show OK alone.
      {0x9, "OK=1 ", kIdOk, kIdOk},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.flags);
    MessageBoxDialog box("text", "caption", r.flags);
    EXPECT_EQ(box.Name(), "MessageBox");
    EXPECT_EQ(Names(box), r.buttons);
    EXPECT_EQ(box.Buttons()[box.DefaultButton()].id, r.default_id);
    box.Refuse();
    EXPECT_TRUE(box.Closed());
    EXPECT_EQ(box.Result(), r.refusing_id);
  }
}

TEST(MessageBoxModel, PressOnlyItsOwnButtons) {
  MessageBoxDialog box("t", "c", kMbYesNo | kMbIconQuestion | kMbTopmost);
  EXPECT_EQ(box.Icon(), MessageIcon::kQuestion);
  EXPECT_TRUE(box.Topmost());
  std::string error;
  EXPECT_FALSE(box.Press(kIdCancel, &error)) << "a Yes/No box has no Cancel";
  EXPECT_FALSE(box.Closed());
  EXPECT_TRUE(box.Press(kIdNo, &error));
  EXPECT_EQ(box.Result(), kIdNo);
}

TEST(DialogModel, FieldsShortcutsAndValidation) {
  test::FormDialog form;
  std::string error;
  EXPECT_FALSE(form.SetField("Path", "C:\\other", &error));
  EXPECT_NE(error.find("cannot be changed"), std::string::npos) << error;
  EXPECT_FALSE(form.SetField("Nope", "x", &error));
  EXPECT_NE(error.find("no field \"Nope\""), std::string::npos) << error;
  EXPECT_FALSE(form.SetField("wait", "yes", &error)) << "check boxes take 1 or 0";
  EXPECT_TRUE(form.SetField("wait", "1", &error));
  EXPECT_EQ(form.FindField("Wait")->value, "1");

  // Shortcuts: first letters, an explicit one, and no duplicates.
  EXPECT_EQ(form.Buttons()[0].shortcut, 'o');
  EXPECT_EQ(form.Buttons()[1].shortcut, 'c');
  EXPECT_EQ(form.Buttons()[2].shortcut, 'a');

  EXPECT_FALSE(form.Press(test::FormDialog::kOk, &error));
  EXPECT_EQ(error, "ERROR: 'Company' field cannot be empty");
  EXPECT_FALSE(form.Closed());
  EXPECT_EQ(form.Result(), 0);
  EXPECT_TRUE(form.SetField("company", "Velmora Ltd", &error));
  EXPECT_TRUE(form.Press(test::FormDialog::kOk, &error));
  EXPECT_EQ(form.Result(), test::FormDialog::kOk);
}

class DuplicateLetters : public Dialog {
 public:
  DuplicateLetters() : Dialog("Dup", "c", "t") {
    AddButton("Yes", "Yes", 1021);
    AddButton("YesToAll", "Yes To All", 1024);
  }
};

TEST(DialogModel, SecondButtonWithTheSameLetterHasNoShortcut) {
  DuplicateLetters d;
  EXPECT_EQ(d.Buttons()[0].shortcut, 'y');
  EXPECT_EQ(d.Buttons()[1].shortcut, 0);
  // Buttons are found by name or label, in any case.
  EXPECT_EQ(d.FindButton("yes to all")->id, 1024);
  EXPECT_EQ(d.FindButton("YESTOALL")->id, 1024);
  EXPECT_EQ(d.FindButton("maybe"), nullptr);
}

}  // namespace
}  // namespace crx::ui
