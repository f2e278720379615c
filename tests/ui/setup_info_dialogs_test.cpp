// The setup-information dialogs: the setup dialog's trimming and checks,
// the wait-program rules with and without the advanced dialog, and the
// whole exchange answered from a file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/user_interface.h"
#include "ui/answers/answers.h"
#include "ui/fakes.h"
#include "ui/setup_info_dialogs.h"

namespace crx::ui {
namespace {

std::string Value(const Dialog& d, const char* field) { return d.FindField(field)->value; }

void Fill(Dialog& d, const std::vector<std::pair<const char*, const char*>>& values) {
  std::string error;
  for (const auto& [name, value] : values) ASSERT_TRUE(d.SetField(name, value, &error)) << error;
}

TEST(SetupInfoDialog, StartsEmptyExceptForTheSetupProgram) {
  SetupInfoDialog d;
  EXPECT_EQ(d.Name(), "SetupInfo");
  EXPECT_EQ(d.Caption(), "Cratex - Automatic Setup Execution");
  EXPECT_NE(d.Text().find("asked if he realy wants to run the setup program"), std::string::npos);
  ASSERT_EQ(d.Fields().size(), 4u);
  EXPECT_EQ(Value(d, "Company"), "");
  EXPECT_EQ(Value(d, "Product"), "");
  EXPECT_EQ(Value(d, "Description"), "");
  EXPECT_EQ(Value(d, "SetupProgram"), "SETUP.EXE");
  EXPECT_EQ(d.Fields()[3].label, "Setup program to  run after achieve extraction");
  ASSERT_NE(d.FindButton("Advanced..."), nullptr);
  EXPECT_EQ(d.FindButton("Advanced")->id, kIdSetupAdvanced);
  // Nobody to answer: Cancel.
  d.Refuse();
  EXPECT_EQ(d.Result(), kIdCancel);
}

TEST(SetupInfoDialog, TrimsThenRefusesTheFirstEmptyFieldInOrder) {
  SetupInfoDialog d;
  std::string error;
  Fill(d, {{"Company", "   "}, {"Product", ""}, {"SetupProgram", "  "}});
  EXPECT_FALSE(d.Press(kIdOk, &error));
  EXPECT_EQ(error, "ERROR: 'Company' field cannot be empty");
  EXPECT_EQ(Value(d, "Company"), "") << "blanks are trimmed away before the check";
  EXPECT_EQ(Value(d, "SetupProgram"), "");

  Fill(d, {{"Company", " Velmora Ltd "}});
  EXPECT_FALSE(d.Press(kIdOk, &error));
  EXPECT_EQ(error, "ERROR: 'Product' field cannot be empty");
  Fill(d, {{"Product", "Widget\t"}});
  EXPECT_FALSE(d.Press(kIdOk, &error));
  EXPECT_EQ(error, "ERROR: 'Description' field cannot be empty");
  Fill(d, {{"Description", "A widget,  2nd edition"}});
  EXPECT_FALSE(d.Press(kIdOk, &error));
  EXPECT_EQ(error, "ERROR: 'Setup Executable' field cannot be empty");
  EXPECT_FALSE(d.Closed());

  Fill(d, {{"SetupProgram", " setup.exe"}});
  ASSERT_TRUE(d.Press(kIdOk, &error)) << error;
  const SetupInfo info = d.Info();
  EXPECT_EQ(info.company, "Velmora Ltd");
  EXPECT_EQ(info.product, "Widget");
  EXPECT_EQ(info.description, "A widget,  2nd edition") << "inner spaces stay";
  EXPECT_EQ(info.setup_program, "setup.exe");
  EXPECT_EQ(info.wait_program, "setup.exe") << "no wait program named: wait for the setup program";

  // Cancel and Advanced need nothing filled in.
  SetupInfoDialog cancelled;
  EXPECT_TRUE(cancelled.Press(kIdCancel, &error));
  SetupInfoDialog advanced;
  EXPECT_TRUE(advanced.Press(kIdSetupAdvanced, &error));
}

TEST(SetupInfoDialog, WaitProgramRules) {
  std::string error;
  SetupDialogState state;
  // The advanced dialog opens with the setup program while no wait program
  // is named, then with the wait program.
  state.setup_program = "install.exe";
  AdvancedSetupDialog first = MakeAdvancedSetupDialog(state);
  EXPECT_EQ(first.Caption(), "Advanced Setup Specification");
  EXPECT_EQ(first.WaitProgram(), "install.exe");
  EXPECT_FALSE(first.DontWait());
  Fill(first, {{"WaitProgram", "second.exe"}});
  ASSERT_TRUE(first.Press(kIdOk, &error));
  ApplyAdvancedSetup(first, &state);
  EXPECT_EQ(state.wait_program, "second.exe");
  EXPECT_EQ(MakeAdvancedSetupDialog(state).WaitProgram(), "second.exe");

  // Don't wait: the text no longer counts, the wait program is empty, and
  // OK does not fill it in from the setup program.
  AdvancedSetupDialog second = MakeAdvancedSetupDialog(state);
  Fill(second, {{"DontWait", "1"}});
  ASSERT_TRUE(second.Press(kIdOk, &error));
  ApplyAdvancedSetup(second, &state);
  EXPECT_TRUE(state.dont_wait);
  EXPECT_EQ(state.wait_program, "");
  state.company = "c";
  state.product = "p";
  state.description = "d";
  SetupInfoDialog no_wait(state);
  ASSERT_TRUE(no_wait.Press(kIdOk, &error)) << error;
  EXPECT_EQ(no_wait.Info().wait_program, "");
  EXPECT_EQ(no_wait.Info().setup_program, "install.exe");

  // Ticking it off again with an emptied text goes back to waiting for the
  // setup program.
  AdvancedSetupDialog third = MakeAdvancedSetupDialog(state);
  EXPECT_TRUE(third.DontWait());
  Fill(third, {{"DontWait", "0"}, {"WaitProgram", ""}});
  ASSERT_TRUE(third.Press(kIdOk, &error));
  ApplyAdvancedSetup(third, &state);
  SetupInfoDialog waits(state);
  ASSERT_TRUE(waits.Press(kIdOk, &error)) << error;
  EXPECT_EQ(waits.Info().wait_program, "install.exe");
}

// Remembers the fields of every dialog shown, then cancels it.
class SeeingFrontEnd : public FrontEnd {
 public:
  int Show(Dialog& dialog) override {
    seen.push_back(dialog.Fields());
    dialog.Refuse();
    return dialog.Result();
  }
  std::vector<std::vector<DialogField>> seen;
};

TEST(RunSetupInfoDialog, StartsFromScratchWhateverTheEngineHolds) {
  // Only the company is missing: the dialog still comes up empty except
  // for "SETUP.EXE", and Cancel leaves the engine's texts as they were.
  SetupInfo info{"", "Widget", "A widget", "install.exe", "wait.exe"};
  SeeingFrontEnd front_end;
  EXPECT_EQ(RunSetupInfoDialog(front_end, &info), kIdCancel);
  ASSERT_EQ(front_end.seen.size(), 1u);
  const std::vector<DialogField>& fields = front_end.seen[0];
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[0].value, "");
  EXPECT_EQ(fields[1].value, "");
  EXPECT_EQ(fields[2].value, "");
  EXPECT_EQ(fields[3].value, "SETUP.EXE");
  EXPECT_EQ(info.product, "Widget");
  EXPECT_EQ(info.wait_program, "wait.exe");
}

using test::Answers;
using test::Ended;

TEST(RunSetupInfoDialog, AnsweredFromAFile) {
  Ended ended;
  AnswersFrontEnd answers = Answers(
      // Plain OK: the wait program is the setup program.
      "SetupInfo OK Company=\"Velmora Ltd\" Product=Widget \"Description=A widget \"\n"
      // Advanced in between: the texts typed so far survive it, a
      // cancelled advanced dialog changes nothing, an OK one names the
      // program to wait for.
      "SetupInfo Advanced Company=\" Velmora\" SetupProgram=go.exe\n"
      "AdvancedSetup Cancel WaitProgram=ignored.exe\n"
      "SetupInfo Advanced\n"
      "AdvancedSetup OK WaitProgram=later.exe\n"
      "SetupInfo OK Product=P Description=D\n"
      // Cancel leaves the texts alone.
      "SetupInfo Cancel Company=X\n",
      ended);
  SetupInfo info;
  ASSERT_EQ(RunSetupInfoDialog(answers, &info), kIdOk);
  EXPECT_EQ(info.company, "Velmora Ltd");
  EXPECT_EQ(info.description, "A widget");
  EXPECT_EQ(info.setup_program, "SETUP.EXE");
  EXPECT_EQ(info.wait_program, "SETUP.EXE");

  ASSERT_EQ(RunSetupInfoDialog(answers, &info), kIdOk);
  EXPECT_EQ(info.company, "Velmora");
  EXPECT_EQ(info.product, "P");
  EXPECT_EQ(info.setup_program, "go.exe");
  EXPECT_EQ(info.wait_program, "later.exe");

  EXPECT_EQ(RunSetupInfoDialog(answers, &info), kIdCancel);
  EXPECT_EQ(info.company, "Velmora");
  EXPECT_EQ(ended.calls, 0) << ended.message;
  EXPECT_EQ(answers.Remaining(), 0u);

  // A refused OK ends an unattended run and counts as Cancel.
  Ended refused;
  AnswersFrontEnd missing = Answers("SetupInfo OK Product=Widget Description=D\n", refused);
  EXPECT_EQ(RunSetupInfoDialog(missing, &info), kIdCancel);
  EXPECT_EQ(refused.calls, 1);
  EXPECT_NE(refused.message.find("refused \"OK\": ERROR: 'Company' field cannot be empty"),
            std::string::npos)
      << refused.message;
}

}  // namespace
}  // namespace crx::ui
