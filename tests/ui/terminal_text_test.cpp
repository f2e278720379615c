// Archive texts on a terminal: control characters escaped, code-page
// characters kept, and the escaping used where the console front-end, the
// terminal notices and the progress line print such texts.
#include <gtest/gtest.h>

#include <string>

#include "common/terminal_text.h"
#include "ui/console/console_front_end.h"
#include "ui/console/feedback_console.h"
#include "ui/fakes.h"
#include "ui/message_box.h"
#include "ui/service.h"

namespace crx::ui {
namespace {

// True when text holds a byte a terminal would act on: C0 controls other
// than line feed, DEL, or a UTF-8 C1 control.
bool HasRawControl(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\n') || c == 0x7f) return true;
    if (c == 0xc2 && i + 1 < text.size() &&
        (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80) {
      return true;
    }
  }
  return false;
}

TEST(TerminalText, EscapesControlsAndKeepsCodePageCharacters) {
  struct Row {
    std::string in;
    std::string line;     // TerminalText
    std::string message;  // TerminalMessage
  };
  const Row rows[] = {
      {"plain C:\\dir\\a.txt", "plain C:\\dir\\a.txt", "plain C:\\dir\\a.txt"},
      // A colour change and a window-title change ended by BEL.
      {"a\x1b[31mred\x1b]0;owned\x07.txt", "a\\x1b[31mred\\x1b]0;owned\\a.txt",
       "a\\x1b[31mred\\x1b]0;owned\\a.txt"},
      // CR would let a name overwrite what the line already shows.
      {"safe.txt\r evil", "safe.txt\\r evil", "safe.txt\\r evil"},
      {"two\nlines\tand tab", "two\\nlines\\tand tab", "two\nlines\tand tab"},
      {std::string("nul\0byte", 8) + "\x7f\x01\x1f\x08\x0b\x0c",
       "nul\\x00byte\\x7f\\x01\\x1f\\b\\v\\f", "nul\\x00byte\\x7f\\x01\\x1f\\b\\v\\f"},
      // Code-page characters (é, a lone 0x9b) and a UTF-8 © are kept ...
      {"caf\xe9 \x9b \xc2\xa9", "caf\xe9 \x9b \xc2\xa9", "caf\xe9 \x9b \xc2\xa9"},
      // ... but UTF-8's C1 controls (here CSI and NEL) are escaped; a C2 at
      // the very end is an ordinary byte.
      {"x\xc2\x9b" "2J\xc2\x85y\xc2", "x\\xc2\\x9b2J\\xc2\\x85y\xc2",
       "x\\xc2\\x9b2J\\xc2\\x85y\xc2"},
      {"", "", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    EXPECT_EQ(TerminalText(r.in), r.line);
    EXPECT_EQ(TerminalMessage(r.in), r.message);
    EXPECT_FALSE(HasRawControl(TerminalText(r.in)));
  }
}

TEST(TerminalText, ConsoleDialogsNoticesAndProgressShowNamesEscaped) {
  const std::string hostile = "evil\x1b[2J\r.txt";
  const std::string shown = "evil\\x1b[2J\\r.txt";

  // A question quoting a member name, with the name in the caption too.
  test::FakeTerminal terminal;
  terminal.input.push_back("n");
  ConsoleFrontEnd console(terminal);
  MessageBoxDialog box("Replace\n" + hostile + "?", "Cratex " + hostile, kMbYesNo);
  EXPECT_EQ(console.Show(box), kIdNo);
  EXPECT_FALSE(HasRawControl(terminal.output)) << terminal.output;
  EXPECT_NE(terminal.output.find("--- Cratex " + shown + " ---\nReplace\n" + shown + "?\n"),
            std::string::npos)
      << terminal.output;
  // Without a terminal the dialog goes to the error stream, escaped too.
  terminal.interactive = false;
  MessageBoxDialog again("Replace\n" + hostile + "?", "Cratex", kMbYesNo);
  console.Show(again);
  EXPECT_FALSE(HasRawControl(terminal.errors)) << terminal.errors;
  EXPECT_NE(terminal.errors.find(shown), std::string::npos);

  // The engine's notices (errors and information) through TerminalNotices.
  test::FakeTerminal notices_terminal;
  UserInterfaceService service(std::make_unique<ConsoleFrontEnd>(notices_terminal));
  TerminalNotices notices(notices_terminal, service, "crx");
  notices.MessageBox("ERROR\nbad member\n'" + hostile + "'", "Cratex", kMbOk | kMbIconHand);
  notices.MessageBox("done with " + hostile, "Cratex", kMbOk | kMbIconAsterisk);
  EXPECT_EQ(notices_terminal.errors, "crx: ERROR\nbad member\n'" + shown + "'\n");
  EXPECT_EQ(notices_terminal.output, "done with " + shown + "\n");

  // The progress line names the member being extracted.
  struct StillClock : public Clock {
    SystemTime UtcNow() override { return SystemTime(); }
    SystemTime LocalNow() override { return SystemTime(); }
    uint32_t TickCount() override { return 0; }
    void Sleep(uint32_t) override {}
  } clock;
  FeedbackModel m(clock);
  m.Start("Extract " + hostile, 0);
  m.Initialise();
  m.SetText("Extracting " + hostile);
  EXPECT_EQ(ConsoleFeedback::Line(m, 0, 200), "| Extracting evil\\x1b[2J .txt");
}

}  // namespace
}  // namespace crx::ui
