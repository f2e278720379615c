// The "Remove Unused File" dialog model, and answering it through the
// answers front-end as an unattended run does.
#include <gtest/gtest.h>

#include "engine/user_interface.h"
#include "ui/answers/answers.h"
#include "ui/remove_file_dialog.h"

namespace crx::ui {
namespace {

TEST(RemoveFileDialog, TextsButtonsAndRefusingAnswer) {
  RemoveUnusedFileDialog dialog("C:\\WINDOWS\\SYSTEM\\old.dll");
  EXPECT_EQ(dialog.Name(), "RemoveUnusedFile");
  EXPECT_EQ(dialog.Caption(), "Remove Unused File");
  EXPECT_EQ(dialog.Text(),
            "The reference count in the registry indicates that the following FILE is not used "
            "by any application.\n\nC:\\WINDOWS\\SYSTEM\\old.dll\n\nHowever this registry "
            "information may be incorrect and any program that does use the FILE will stop "
            "working if you remove it\n\nDO YOU WANT TO REMOVE THE FILE?");
  EXPECT_EQ(dialog.Path(), "C:\\WINDOWS\\SYSTEM\\old.dll");
  std::string error;
  EXPECT_FALSE(dialog.SetField("Path", "C:\\other.dll", &error)) << "the path is shown only";

  std::string buttons;
  for (const DialogButton& b : dialog.Buttons()) {
    buttons += b.name + "|" + b.label + "|" + std::to_string(b.id) + "|" + b.shortcut + " ";
  }
  EXPECT_EQ(buttons, "Yes|Yes|6|y No|No|7|n YesToAll|Yes To All|1051|a NoToAll|No To All|1052|o ");
  EXPECT_EQ(dialog.Buttons()[dialog.DefaultButton()].id, kIdRemoveNo) << "Enter keeps the file";
  dialog.Refuse();
  EXPECT_EQ(dialog.Result(), kIdRemoveNo) << "nobody to ask: the file stays";
}

TEST(RemoveFileDialog, AnsweredByNameOrLabel) {
  std::vector<AnswerLine> lines;
  std::string error;
  ASSERT_TRUE(ParseAnswers("RemoveUnusedFile \"Yes To All\"\nRemoveUnusedFile notoall\n"
                           "ReplaceExistingFile Yes\n",
                           &lines, &error))
      << error;
  std::string ended;
  AnswersFrontEnd answers("answers.txt", lines,
                          [&ended](int, const std::string& message) { ended = message; });
  EXPECT_EQ(RunRemoveUnusedFileDialog(answers, "C:\\a.dll"), kIdRemoveYesToAll);
  RemoveUnusedFileDialog dialog("C:\\b.dll");
  EXPECT_EQ(answers.Show(dialog), kIdRemoveNoToAll);
  EXPECT_EQ(FormatAnswer(dialog), "RemoveUnusedFile NoToAll\n");
  // An answer for another dialog ends the run; this one keeps the file.
  EXPECT_EQ(RunRemoveUnusedFileDialog(answers, "C:\\c.dll"), kIdRemoveNo);
  EXPECT_FALSE(ended.empty());
}

}  // namespace
}  // namespace crx::ui
