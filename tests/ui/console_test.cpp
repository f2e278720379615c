#include <gtest/gtest.h>

#include "engine/user_interface.h"
#include "ui/console/console_front_end.h"
#include "ui/fakes.h"
#include "ui/message_box.h"

namespace crx::ui {
namespace {

int Ask(test::FakeTerminal& terminal, uint32_t flags, std::initializer_list<const char*> lines) {
  for (const char* l : lines) terminal.input.push_back(l);
  ConsoleFrontEnd console(terminal);
  MessageBoxDialog box("Replace the file?", "Cratex", flags);
  return console.Show(box);
}

TEST(ConsoleFrontEnd, AcceptsLettersNamesAndEnter) {
  struct Row {
    uint32_t flags;
    const char* input;
    int expected;
  };
  const Row rows[] = {
      {kMbYesNo, "y", kIdYes},
      {kMbYesNo, "  yes ", kIdYes},
      {kMbYesNoCancel, "CANCEL", kIdCancel},
      {kMbAbortRetryIgnore, "I", kIdIgnore},
      // Enter takes the default button.
      {kMbYesNo, "", kIdYes},
      {kMbYesNoCancel | kMbDefButton3, "   ", kIdCancel},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.input);
    test::FakeTerminal terminal;
    EXPECT_EQ(Ask(terminal, r.flags, {r.input}), r.expected);
    EXPECT_EQ(terminal.reads, 1);
    EXPECT_EQ(terminal.errors, "");
  }
}

TEST(ConsoleFrontEnd, ShowsTheBoxAndAsksAgainOnInvalidInput) {
  test::FakeTerminal terminal;
  EXPECT_EQ(Ask(terminal, kMbYesNoCancel | kMbIconQuestion | kMbDefButton2,
                {"maybe", "x", "yess", "n"}),
            kIdNo);
  EXPECT_EQ(terminal.reads, 4);
  const std::string prompt = "[Y]es / [N]o / [C]ancel (Enter = No)? ";
  const std::string again = "Please answer Yes, No or Cancel.\n";
  EXPECT_EQ(terminal.output, "\n--- Cratex ---\n[question] Replace the file?\n" + prompt + again +
                                 prompt + again + prompt + again + prompt);
}

TEST(ConsoleFrontEnd, EndOfInputTakesTheRefusingAnswer) {
  test::FakeTerminal terminal;
  EXPECT_EQ(Ask(terminal, kMbYesNo, {"what"}), kIdNo);
  EXPECT_EQ(terminal.errors, "end of input: no answer can be had; taking \"No\"\n");
}

TEST(ConsoleFrontEnd, WithoutATerminalNeverReadsAndRefuses) {
  struct Row {
    uint32_t flags;
    int expected;
    const char* label;
  };
  const Row rows[] = {
      {kMbOk, kIdOk, "OK"},
      {kMbYesNo | kMbDefButton1, kIdNo, "No"},
      {kMbAbortRetryIgnore | kMbDefButton2, kIdAbort, "Abort"},
  };
  for (const Row& r : rows) {
    test::FakeTerminal terminal;
    terminal.interactive = false;
    terminal.input.push_back("y");
    EXPECT_EQ(Ask(terminal, r.flags | kMbIconHand, {}), r.expected);
    EXPECT_EQ(terminal.reads, 0);
    EXPECT_EQ(terminal.output, "");
    EXPECT_EQ(terminal.errors, std::string("--- Cratex ---\n[error] Replace the file?\n"
                                           "no terminal: no answer can be had; taking \"") +
                                   r.label + "\"\n");
  }
}

TEST(ConsoleFrontEnd, FormFieldsAndValidationMessages) {
  test::FakeTerminal terminal;
  // First round: Company left empty, check box answered wrongly then "y",
  // OK refused. Second round: Company filled, Product kept, OK accepted.
  terminal.input = {"", "Gadget", "perhaps", "y", "o",
                    "  Velmora Ltd ", "", "", ""};
  ConsoleFrontEnd console(terminal);
  test::FormDialog form;
  EXPECT_EQ(console.Show(form), test::FormDialog::kOk);
  EXPECT_EQ(form.FindField("Company")->value, "Velmora Ltd");
  EXPECT_EQ(form.FindField("Product")->value, "Gadget");
  EXPECT_EQ(form.FindField("Wait")->value, "1");
  EXPECT_EQ(form.validations, 2);
  EXPECT_EQ(terminal.output,
            "\n--- Form caption ---\nFill in the form\nPath: C:\\x\\y.txt\n"
            "Company []: Product [Widget]: Wait for setup (y/n) [n]: Please answer y or n.\n"
            "Wait for setup (y/n) [n]: [O]K / [C]ancel / Skip All [A] (Enter = OK)? "
            "ERROR: 'Company' field cannot be empty\n"
            "Company []: Product [Gadget]: Wait for setup (y/n) [y]: "
            "[O]K / [C]ancel / Skip All [A] (Enter = OK)? ");
}

}  // namespace
}  // namespace crx::ui
