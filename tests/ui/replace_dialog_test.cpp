// The "Replace Existing File?" dialog model, and answering it through the
// answers front-end as an unattended run does.
#include <gtest/gtest.h>

#include "engine/user_interface.h"
#include "ui/answers/answers.h"
#include "ui/replace_dialog.h"

namespace crx::ui {
namespace {

TEST(ReplaceDialog, ButtonsFieldAndRefusingAnswer) {
  ReplaceExistingFileDialog dialog("C:\\out\\a.txt");
  EXPECT_EQ(dialog.Name(), "ReplaceExistingFile");
  EXPECT_EQ(dialog.Caption(), "Replace Existing File?");
  EXPECT_TRUE(dialog.Topmost());
  EXPECT_EQ(dialog.Path(), "C:\\out\\a.txt");
  ASSERT_EQ(dialog.Fields().size(), 1u);
  EXPECT_TRUE(dialog.Fields()[0].read_only);
  std::string error;
  EXPECT_FALSE(dialog.SetField("Path", "C:\\elsewhere", &error)) << "the path is shown only";

  std::string buttons;
  for (const DialogButton& b : dialog.Buttons()) {
    buttons += b.name + "|" + b.label + "|" + std::to_string(b.id) + "|" + b.shortcut + " ";
  }
  EXPECT_EQ(buttons,
            "Yes|Yes|1021|y No|No|1022|n NoToAll|No To All|1023|o YesToAll|Yes To All|1024|a "
            "IfNewer|If Newer|1031|i AllIfNewer|All If newer|1032|w ");
  EXPECT_EQ(dialog.Buttons()[dialog.DefaultButton()].id, kIdReplaceYes);
  dialog.Refuse();
  EXPECT_EQ(dialog.Result(), kIdReplaceNo) << "nobody to ask: No";
}

TEST(ReplaceDialog, RunAnswersByNameOrLabelAndRecordsTheAnswer) {
  std::vector<AnswerLine> lines;
  std::string error;
  ASSERT_TRUE(ParseAnswers("ReplaceExistingFile \"No To All\"\n"
                           "ReplaceExistingFile allifnewer\n"
                           "ReplaceExistingFile Yes Path=C:\\x\n",
                           &lines, &error))
      << error;
  std::string ended;
  AnswersFrontEnd answers("answers.txt", lines,
                          [&ended](int, const std::string& message) { ended = message; });
  EXPECT_EQ(RunReplaceExistingFileDialog(answers, "C:\\a.txt"), kIdReplaceNoToAll);
  ReplaceExistingFileDialog dialog("C:\\b.txt");
  EXPECT_EQ(answers.Show(dialog), kIdReplaceAllIfNewer);
  EXPECT_EQ(FormatAnswer(dialog), "ReplaceExistingFile AllIfNewer\n")
      << "the read-only path is not recorded";
  // An answer that tries to change the path ends the run; the dialog then
  // closes with its refusing answer.
  EXPECT_EQ(RunReplaceExistingFileDialog(answers, "C:\\c.txt"), kIdReplaceNo);
  EXPECT_NE(ended.find("Path"), std::string::npos) << ended;
}

// A front-end that returns without closing the dialog.
class BrokenFrontEnd : public FrontEnd {
 public:
  int Show(Dialog&) override { return 0; }
};

TEST(ReplaceDialog, UnavailableWhenNotClosedWithOneOfItsButtons) {
  BrokenFrontEnd broken;
  EXPECT_EQ(RunReplaceExistingFileDialog(broken, "C:\\a.txt"), kDialogUnavailable);
}

}  // namespace
}  // namespace crx::ui
