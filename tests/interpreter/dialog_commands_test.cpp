// input, select and choosedir, run from script lines through the command
// table, answered by a front-end that fills fields and presses buttons, or
// silently from a response file.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/user_interface.h"
#include "interpreter/script_interpreter.h"
#include "interpreter_fixture.h"
#include "support/file_helpers.h"
#include "ui/answers/answers.h"
#include "ui/folder_browser.h"
#include "ui/input_dialogs.h"

namespace crx::test {
namespace {

struct Seen {
  std::string name;
  std::string caption;
  std::string text;
  std::vector<std::pair<std::string, std::string>> fields;  // as shown
  std::vector<std::string> choices;                         // of a choice list
  int result = 0;
};

// Each answer sets fields, then presses a button; with no answer left the
// dialog takes its refusing button.
struct Answer {
  int button = 0;
  std::vector<std::pair<std::string, std::string>> fields;
};

class FieldFrontEnd : public ui::FrontEnd {
 public:
  std::deque<Answer> answers;
  std::vector<Seen> seen;

  int Show(ui::Dialog& dialog) override {
    Seen record{dialog.Name(), dialog.Caption(), dialog.Text(), {}, {}, 0};
    for (const ui::DialogField& f : dialog.Fields()) {
      record.fields.emplace_back(f.name, f.value);
      if (f.kind == ui::FieldKind::kChoice) record.choices = *dialog.FieldChoices(f.name);
    }
    if (answers.empty()) {
      dialog.Refuse();
    } else {
      Answer a = answers.front();
      answers.pop_front();
      std::string error;
      for (const auto& [name, value] : a.fields) {
        if (!dialog.SetField(name, value, &error)) ADD_FAILURE() << error;
      }
      if (!dialog.Press(a.button, &error)) ADD_FAILURE() << "can't press: " << error;
    }
    record.result = dialog.Result();
    seen.push_back(record);
    return dialog.Result();
  }
};

class DialogCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform_.ok()) << platform_.Error();
    ASSERT_TRUE(P().files.SetCurrentFolder(platform_.Scratch()));
    ASSERT_TRUE(K().OpenLog());
    K().logging = true;
  }

  Platform& P() { return platform_.Get(); }
  interp::ScriptInterpreter& K() { return interpreter_; }

  // Expands, splits and dispatches one script line; the command's result.
  bool Run(const std::string& line) {
    K().cancelled = false;
    K().SplitLine(K().ExpandLine(line));
    return K().Dispatch();
  }
  std::string LogText() {
    K().FlushLog();
    std::string temp = P().environment.TempPath();
    if (!temp.empty() && temp.back() == '\\') temp.pop_back();
    return ReadWholeFile(P().files, temp + "\\Kestrova.log");
  }
  void Silent(const std::string& responses) {
    K().silent_mode.set_silent(true);
    if (!responses.empty()) {
      ASSERT_TRUE(WriteWholeFile(P().files, platform_.Scratch() + "\\answers.ini", responses));
      K().silent_mode.set_response_file("answers.ini");
    }
  }
  const std::string& Scratch() { return platform_.Scratch(); }

  TestPlatform platform_;
  FieldFrontEnd front_end_;
  RecordingHost host_;
  interp::ScriptInterpreter interpreter_{platform_.Get(), front_end_, host_};
};

TEST_F(DialogCommandsTest, InputShowsItsDefaultAndStoresTheTrimmedAnswer) {
  ASSERT_TRUE(Run("set EMPTY \" \""));
  front_end_.answers.push_back({ui::kInputOk, {{"Text", "  Jo Smith  "}}});
  ASSERT_TRUE(Run("input NAME \"Your name\" \"Who are you?\" $EMPTY"));
  ASSERT_EQ(front_end_.seen.size(), 1u);
  const Seen& shown = front_end_.seen[0];
  EXPECT_EQ(shown.name, "Input");
  EXPECT_EQ(shown.caption, "Your name");
  EXPECT_EQ(shown.text, "Who are you?");
  // An empty variable as the default opens an empty box.
  EXPECT_EQ(shown.fields, (std::vector<std::pair<std::string, std::string>>{{"Text", ""}}));
  EXPECT_EQ(K().VariableText("NAME"), "Jo Smith");
  EXPECT_FALSE(K().cancelled);

  front_end_.answers.push_back({ui::kInputOk, {}});
  ASSERT_TRUE(Run("input ORG Org Organisation? \"Velmora Ltd\""));
  EXPECT_EQ(front_end_.seen[1].fields[0].second, "Velmora Ltd");
  EXPECT_EQ(K().VariableText("ORG"), "Velmora Ltd");

  // Cancel cancels the run; the command itself succeeds.
  front_end_.answers.push_back({ui::kInputCancel, {}});
  EXPECT_TRUE(Run("input ORG Org Organisation? other"));
  EXPECT_TRUE(K().cancelled);
  EXPECT_EQ(K().VariableText("ORG"), "Velmora Ltd");
}

TEST_F(DialogCommandsTest, InputInSilentModeTakesTheResponseOrTheDefault) {
  Silent("[Kestrova]\nSERIAL=1234-5678\nNAME=-\n");
  ASSERT_TRUE(Run("input SERIAL Serial Number? 0000"));
  ASSERT_TRUE(Run("input NAME Name Name? \"Jo Smith\""));
  EXPECT_TRUE(front_end_.seen.empty());
  EXPECT_EQ(K().VariableText("SERIAL"), "1234-5678");
  EXPECT_EQ(K().VariableText("NAME"), "Jo Smith");
  const std::string log = LogText();
  EXPECT_NE(log.find("SMSMODE: input(rspfile) set <SERIAL>=<1234-5678>\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("SMSMODE: input(default) set <NAME>=<Jo Smith>\n"), std::string::npos) << log;
}

TEST_F(DialogCommandsTest, SelectPreselectsTheDefaultIndex) {
  front_end_.answers.push_back({ui::kInputOk, {}});
  ASSERT_TRUE(Run("select KIND \"Setup Type\" \"Pick one\" 2 \"Typical, Compact ,Custom\""));
  ASSERT_EQ(front_end_.seen.size(), 1u);
  EXPECT_EQ(front_end_.seen[0].name, "Select");
  EXPECT_EQ(front_end_.seen[0].caption, "Setup Type");
  EXPECT_EQ(front_end_.seen[0].choices,
            (std::vector<std::string>{"Typical", "Compact", "Custom"}));
  EXPECT_EQ(front_end_.seen[0].fields[0].second, "Custom");
  EXPECT_EQ(K().VariableText("KIND"), "Custom");

  front_end_.answers.push_back({ui::kInputOk, {{"Choice", "Compact"}}});
  ASSERT_TRUE(Run("select KIND T P 0 Typical,Compact,,Custom"));
  // The empty choice ends the list.
  EXPECT_EQ(front_end_.seen[1].choices, (std::vector<std::string>{"Typical", "Compact"}));
  EXPECT_EQ(K().VariableText("KIND"), "Compact");

  front_end_.answers.push_back({ui::kInputCancel, {}});
  EXPECT_TRUE(Run("select KIND T P 0 a,b"));
  EXPECT_TRUE(K().cancelled);
  EXPECT_EQ(K().VariableText("KIND"), "Compact");

  // A default beyond the list is the script's error, reported before any
  // dialog comes up.
  size_t shown = front_end_.seen.size();
  EXPECT_FALSE(Run("select KIND T P 2 a,b"));
  ASSERT_EQ(front_end_.seen.size(), shown + 1);
  EXPECT_EQ(front_end_.seen.back().name, "MessageBox");
  EXPECT_EQ(front_end_.seen.back().text, "default index is NOT present in selection list");
}

TEST_F(DialogCommandsTest, SelectInSilentModeCountsTheLastChoiceAndRefusesBeyondIt) {
  Silent("");
  ASSERT_TRUE(Run("select KIND T P 2 Typical,Compact,Custom"));
  EXPECT_EQ(K().VariableText("KIND"), "Custom");
  std::string log = LogText();
  EXPECT_NE(log.find("SMSMODE: selection parameter = 2\nSMSMODE: selected choice[2] "
                     "<KIND>=<Custom>\n"),
            std::string::npos)
      << log;
  EXPECT_FALSE(Run("select KIND T P 3 Typical,Compact,Custom"));
  EXPECT_NE(LogText().find("default index is NOT present in selection list"), std::string::npos);

  // The response's index wins; the choice is taken as written.
  Silent("[Kestrova]\nselect=1\n");
  ASSERT_TRUE(Run("select KIND T P 2 \"Typical, Compact ,Custom\""));
  EXPECT_EQ(K().VariableText("KIND"), " Compact ");
  EXPECT_NE(LogText().find("SMSMODE: selected choice[1] <KIND>=< Compact >\n"), std::string::npos);
  EXPECT_TRUE(front_end_.seen.empty());
}

TEST_F(DialogCommandsTest, ChoosedirTakesAnExistingFolderOrCreatesAMissingOne) {
  const std::string existing = Scratch();
  front_end_.answers.push_back({ui::kInputOk, {{"Folder", " " + existing + " "}}});
  ASSERT_TRUE(Run("choosedir HOME \"Install where?\" C:\\Default"));
  EXPECT_EQ(front_end_.seen[0].name, "ChooseDirectory");
  EXPECT_EQ(front_end_.seen[0].caption, "Default Installation Directory");
  EXPECT_EQ(front_end_.seen[0].text, "Install where?");
  EXPECT_EQ(front_end_.seen[0].fields[0].second, "C:\\Default");
  EXPECT_EQ(K().VariableText("HOME"), existing);
  EXPECT_EQ(front_end_.seen.size(), 1u);

  // Missing: No shows the dialog again with what was typed; Yes creates
  // every missing folder and records them for the clean-up.
  const std::string target = existing + "\\one\\two\\three";
  front_end_.seen.clear();
  front_end_.answers = {{ui::kInputOk, {{"Folder", target}}},
                        {kIdNo, {}},
                        {ui::kInputOk, {}},
                        {kIdYes, {}}};
  ASSERT_TRUE(Run("choosedir APPDIR Where? C:\\Default"));
  ASSERT_EQ(front_end_.seen.size(), 4u);
  EXPECT_EQ(front_end_.seen[1].text,
            "The directory-path you have selected does not exist...\n\n\"" + target +
                "\"\n\nDo you wish to create it?");
  EXPECT_EQ(front_end_.seen[2].fields[0].second, target);
  EXPECT_TRUE(P().files.IsFolder(target));
  EXPECT_EQ(K().VariableText("APPDIR"), target);
  EXPECT_EQ(K().created_folders,
            (std::vector<std::string>{existing + "\\one", existing + "\\one\\two", target}));
  EXPECT_FALSE(K().cancelled);

  // Cancel cancels the run and succeeds.
  front_end_.answers = {{ui::kInputCancel, {}}};
  EXPECT_TRUE(Run("choosedir APPDIR Where? C:\\Default"));
  EXPECT_TRUE(K().cancelled);
}

TEST_F(DialogCommandsTest, ChoosedirAsksAgainWhenOnlyTheFolderCannotBeMade) {
  // A file where the folder should be: the parents exist, the folder
  // cannot be made.
  const std::string blocked = Scratch() + "\\blocked";
  ASSERT_TRUE(WriteWholeFile(P().files, blocked, "x"));
  front_end_.answers = {{ui::kInputOk, {{"Folder", blocked}}},
                        {kIdYes, {}},
                        {kIdOk, {}},
                        {ui::kInputOk, {{"Folder", Scratch()}}}};
  ASSERT_TRUE(Run("choosedir HOME Where? C:\\Default"));
  ASSERT_EQ(front_end_.seen.size(), 4u);
  EXPECT_EQ(front_end_.seen[2].text, "failed to create directory");
  EXPECT_EQ(front_end_.seen[3].name, "ChooseDirectory");
  EXPECT_EQ(K().VariableText("HOME"), Scratch());

  // A parent that cannot be made fails the command.
  front_end_.seen.clear();
  front_end_.answers = {
      {ui::kInputOk, {{"Folder", blocked + "\\inner\\x"}}}, {kIdYes, {}}, {kIdOk, {}}};
  EXPECT_FALSE(Run("choosedir HOME Where? C:\\Default"));
  ASSERT_EQ(front_end_.seen.size(), 3u);
  EXPECT_EQ(front_end_.seen[2].text.rfind("Can't create directory...\n<" + blocked + "\\inner>", 0), 0u)
      << front_end_.seen[2].text;
}

TEST_F(DialogCommandsTest, ChoosedirBrowsesForAFolder) {
  const std::string picked = Scratch() + "\\not yet";
  // "...", then cancel the browser: the dialog comes back with the default.
  // "..." again, and OK in the browser takes its path at once, made or not.
  front_end_.answers = {{ui::kChooseDirBrowse, {{"Folder", Scratch()}}},
                        {ui::FolderBrowserDialog::kCancel, {}},
                        {ui::kChooseDirBrowse, {}},
                        {ui::FolderBrowserDialog::kOk, {{"Path", " " + picked + " "}}}};
  ASSERT_TRUE(Run("choosedir HOME Where? C:\\Default"));
  ASSERT_EQ(front_end_.seen.size(), 4u);
  EXPECT_EQ(front_end_.seen[1].name, "SelectDirectory");
  // The browser opens on the folder text of the dialog.
  EXPECT_EQ(front_end_.seen[1].fields[0].second, Scratch());
  EXPECT_EQ(front_end_.seen[2].fields[0].second, "C:\\Default");
  EXPECT_EQ(front_end_.seen[3].fields[0].second, "C:\\Default");
  EXPECT_EQ(K().VariableText("HOME"), picked);
  EXPECT_FALSE(P().files.Exists(picked));
  EXPECT_FALSE(K().cancelled);
}

TEST_F(DialogCommandsTest, ChoosedirInSilentModeSubstitutesAndCreates) {
  const std::string target = Scratch() + "\\silent\\app";
  ASSERT_TRUE(Run("set BASE " + Scratch()));
  Silent("[Kestrova]\nchoosedir=$BASE\n");
  ASSERT_TRUE(Run("choosedir HOME Where? C:\\Default"));
  EXPECT_EQ(K().VariableText("HOME"), Scratch());
  EXPECT_NE(LogText().find("SMSMODE: choosedir selected <" + Scratch() + ">\n"),
            std::string::npos);

  // Without an entry the default is used and created without a question.
  Silent("[Kestrova]\nother=1\n");
  ASSERT_TRUE(Run("choosedir HOME Where? \"" + target + "\""));
  EXPECT_TRUE(P().files.IsFolder(target));
  EXPECT_EQ(K().VariableText("HOME"), target);
  EXPECT_TRUE(front_end_.seen.empty());
  const std::string log = LogText();
  EXPECT_NE(log.find("SMSMODE: choosedir selected <" + target + ">\n"), std::string::npos);
  EXPECT_NE(log.find("MESSAGE response: YES\n"), std::string::npos);

  // A folder that cannot be made fails the command in silent mode.
  const std::string blocked = Scratch() + "\\blocked";
  ASSERT_TRUE(WriteWholeFile(P().files, blocked, "x"));
  EXPECT_FALSE(Run("choosedir HOME Where? " + blocked));
  EXPECT_EQ(K().VariableText("HOME"), target);
  EXPECT_TRUE(front_end_.seen.empty());
}

TEST_F(DialogCommandsTest, AnAnswersFileAnswersEveryQuestion) {
  const std::string target = Scratch() + "\\Program Files\\Widget Tools";
  std::vector<ui::AnswerLine> lines;
  std::string error;
  ASSERT_TRUE(ui::ParseAnswers("Input OK \"Text=Jo Smith\"\n"
                               "Select OK Choice=compact\n"
                               "ChooseDirectory Browse\n"
                               "SelectDirectory Cancel\n"
                               "ChooseDirectory OK \"Folder=" + target + "\"\n"
                               "MessageBox Yes\n",
                               &lines, &error))
      << error;
  std::string ended;
  ui::AnswersFrontEnd answers("answers.txt", lines,
                              [&ended](int, const std::string& message) { ended = message; });
  interp::ScriptInterpreter k(P(), answers, host_);
  for (const char* line : {"input NAME Name Name? x", "select KIND T P 0 Typical,Compact,Custom",
                           "choosedir HOME Where? C:\\Default"}) {
    k.SplitLine(k.ExpandLine(line));
    EXPECT_TRUE(k.Dispatch()) << line;
  }
  EXPECT_EQ(ended, "");
  EXPECT_EQ(answers.Remaining(), 0u);
  EXPECT_EQ(k.VariableText("NAME"), "Jo Smith");
  EXPECT_EQ(k.VariableText("KIND"), "Compact");
  EXPECT_EQ(k.VariableText("HOME"), target);
  EXPECT_TRUE(P().files.IsFolder(target));
  EXPECT_FALSE(k.cancelled);
}

}  // namespace
}  // namespace crx::test
