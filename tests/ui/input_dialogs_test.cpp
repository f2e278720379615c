// The input, select and choose-directory models, and how the answers and
// terminal front-ends fill a choice list.
#include <gtest/gtest.h>

#include "ui/answers/answers.h"
#include "ui/console/console_front_end.h"
#include "ui/fakes.h"
#include "ui/input_dialogs.h"

namespace crx::ui {
namespace {

TEST(InputDialogs, InputOpensEmptyForABlankDefaultAndTrimsTheAnswer) {
  InputDialog empty("Name", "Your name?", " ");
  EXPECT_EQ(empty.FindField("Text")->value, "");
  InputDialog given("Name", "Your name?", "  Jo Smith ");
  EXPECT_EQ(given.Caption(), "Name");
  EXPECT_EQ(given.Text(), "Your name?");
  EXPECT_EQ(given.FindField("Text")->value, "  Jo Smith ");
  EXPECT_EQ(given.Value(), "Jo Smith");
  std::string error;
  ASSERT_TRUE(given.SetField("Text", "\t x y  ", &error));
  EXPECT_EQ(given.Value(), "x y");
  // Nobody to ask: Cancel.
  given.Refuse();
  EXPECT_EQ(given.Result(), kInputCancel);
}

TEST(InputDialogs, ChoiceListsAsShownAndAsWritten) {
  EXPECT_EQ(ListedChoices(" Typical , Compact,Custom "),
            (std::vector<std::string>{"Typical", "Compact", "Custom"}));
  // An empty choice ends the list a person sees.
  EXPECT_EQ(ListedChoices("a,b, ,c"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(ListedChoices(""), std::vector<std::string>{});
  // Silent mode takes the text between the commas as it stands.
  EXPECT_EQ(WrittenChoices(" Typical , Compact,,Custom"),
            (std::vector<std::string>{" Typical ", " Compact", "", "Custom"}));
  EXPECT_EQ(WrittenChoices("one"), std::vector<std::string>{"one"});
}

TEST(InputDialogs, SelectPreselectsTheDefaultAndTakesOnlyListedChoices) {
  SelectDialog dialog("Setup type", "Choose one", ListedChoices("Typical,Compact,Custom"), 2);
  EXPECT_EQ(dialog.Value(), "Custom");
  std::string error;
  ASSERT_TRUE(dialog.SetField("Choice", "Full", &error));
  EXPECT_FALSE(dialog.Press(kInputOk, &error));
  EXPECT_NE(error.find("no choice \"Full\" (its choices: \"Typical\", \"Compact\", \"Custom\")"),
            std::string::npos)
      << error;
  EXPECT_FALSE(dialog.Closed());
  // Any case names a choice; the list's spelling is kept.
  ASSERT_TRUE(dialog.SetField("Choice", "compact", &error)) << error;
  ASSERT_TRUE(dialog.Press(kInputOk, &error)) << error;
  EXPECT_EQ(dialog.Value(), "Compact");
  // Cancel is never refused.
  SelectDialog cancelled("t", "p", {"a"}, 0);
  ASSERT_TRUE(cancelled.SetField("Choice", "zzz", &error));
  EXPECT_TRUE(cancelled.Press(kInputCancel, &error));
  EXPECT_EQ(dialog.Result(), kInputOk);
}

TEST(InputDialogs, ChooseDirHasABrowseButtonAndTrimsTheFolder) {
  ChooseDirDialog dialog("Where to install?", " C:\\Apps\\Tool ");
  EXPECT_EQ(dialog.Caption(), "Default Installation Directory");
  EXPECT_EQ(dialog.Text(), "Where to install?");
  EXPECT_EQ(dialog.Value(), "C:\\Apps\\Tool");
  ASSERT_NE(dialog.FindButton("..."), nullptr);
  EXPECT_EQ(dialog.FindButton("Browse")->id, kChooseDirBrowse);
  dialog.Refuse();
  EXPECT_EQ(dialog.Result(), kInputCancel);
}

TEST(InputDialogs, AnswersFileNamesAChoiceAndRecordsIt) {
  std::vector<AnswerLine> lines;
  std::string error;
  ASSERT_TRUE(ParseAnswers("Select OK Choice=compact\nSelect OK Choice=Full\n", &lines, &error));
  SelectDialog first("t", "p", ListedChoices("Typical,Compact,Custom"), 0);
  ASSERT_TRUE(ApplyAnswer(lines[0], first, &error)) << error;
  EXPECT_EQ(first.Value(), "Compact");
  EXPECT_EQ(FormatAnswer(first), "Select OK Choice=Compact\n");
  SelectDialog second("t", "p", ListedChoices("Typical,Compact,Custom"), 0);
  EXPECT_FALSE(ApplyAnswer(lines[1], second, &error));
  EXPECT_NE(error.find("no choice \"Full\""), std::string::npos) << error;
  EXPECT_FALSE(second.Closed());
}

TEST(InputDialogs, TerminalListsChoicesAndTakesANumberOrAName) {
  struct Row {
    std::vector<std::string> input;
    std::string expected;
  };
  const Row rows[] = {
      {{"1", ""}, "Typical"},
      {{"", ""}, "Custom"},          // Enter keeps the default
      {{"compact", "ok"}, "Compact"},
      {{"7", "2", ""}, "Compact"},  // beyond the list: asked again
      {{"Full", "3", ""}, "Custom"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.input[0]);
    test::FakeTerminal terminal;
    for (const std::string& l : r.input) terminal.input.push_back(l);
    ConsoleFrontEnd console(terminal);
    SelectDialog dialog("Setup type", "Choose one", ListedChoices("Typical,Compact,Custom"), 2);
    EXPECT_EQ(console.Show(dialog), kInputOk);
    EXPECT_EQ(dialog.Value(), r.expected);
    EXPECT_NE(terminal.output.find("  1. Typical\n  2. Compact\n  3. Custom\n"), std::string::npos)
        << terminal.output;
    EXPECT_TRUE(terminal.input.empty());
  }
}

}  // namespace
}  // namespace crx::ui
