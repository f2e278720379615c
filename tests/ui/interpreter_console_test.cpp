// The interpreter's terminal host: the status line redrawn in place only on
// a terminal, and the "Run Install Script" question asked only when
// someone can answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/user_interface.h"
#include "ui/answers/answers.h"
#include "ui/console/console_front_end.h"
#include "ui/console/interpreter_console.h"
#include "ui/fakes.h"

namespace crx {
namespace {

class NarrowTerminal : public test::FakeTerminal {
 public:
  int width = 80;
  bool error_terminal = true;
  bool ErrorIsTerminal() override { return error_terminal; }
  int Width() override { return width; }
};

TEST(InterpreterConsole, StatusLineIsRedrawnInPlaceOnlyOnATerminal) {
  NarrowTerminal terminal;
  {
    ui::ConsoleStatusLine status(terminal);
    status.SetStatus("copy file: C:\\Program Files\\Widget\\widget.ini...");
    // A shorter text blanks out the rest of the longer one.
    status.SetStatus("Ready");
    EXPECT_EQ(terminal.errors,
              "\rcopy file: C:\\Program Files\\Widget\\widget.ini..."
              "\rReady" + std::string(43, ' ') + "\rReady");
    // Nothing on the output stream: that is the script's and the user's.
    EXPECT_EQ(terminal.output, "");
    terminal.errors.clear();
    status.Finish();
    EXPECT_EQ(terminal.errors, "\n");
    // Finishing twice (and the destructor after it) adds nothing.
    status.Finish();
  }
  EXPECT_EQ(terminal.errors, "\n");

  // Line breaks would end the line; escape codes from a script are shown
  // escaped; the line never reaches the terminal's last column.
  terminal.errors.clear();
  terminal.width = 20;
  {
    ui::ConsoleStatusLine status(terminal);
    status.SetStatus("message a\nb\x1b[2Jcdefghijklmnop");
  }
  EXPECT_EQ(terminal.errors, "\rmessage a b\\x1b[2Jc\n");
  EXPECT_EQ(ui::ConsoleStatusLine::Line("abc", 1), "");

  // Error stream redirected: nothing at all, not even the final line end.
  terminal.errors.clear();
  terminal.error_terminal = false;
  {
    ui::ConsoleStatusLine status(terminal);
    status.SetStatus("Ready");
    status.Finish();
  }
  EXPECT_EQ(terminal.errors, "");
}

TEST(InterpreterConsole, ScriptQuestionOnlyWhenSomeoneCanAnswer) {
  NarrowTerminal terminal;
  ui::ConsoleFrontEnd console(terminal);
  std::string chosen = "untouched";

  // Nobody to ask: Cancel, and the terminal is not read.
  EXPECT_FALSE(ui::AskScriptFile(console, false, "C:\\last\\install.txt", "C:\\here", &chosen));
  EXPECT_EQ(terminal.reads, 0);
  EXPECT_EQ(terminal.output, "");
  EXPECT_EQ(chosen, "untouched");

  // A person at the terminal: Enter keeps the last script, then OK.
  terminal.input = {"", ""};
  ASSERT_TRUE(ui::AskScriptFile(console, true, "C:\\last\\install.txt", "C:\\here", &chosen));
  EXPECT_EQ(chosen, "C:\\last\\install.txt");
  EXPECT_NE(terminal.output.find("Run Install Script"), std::string::npos) << terminal.output;

  // A bare name is taken from the dialog's folder and gets the default
  // extension; a path with its own extension and folder stays as typed.
  terminal.input = {"setup\\remove", "OK"};
  ASSERT_TRUE(ui::AskScriptFile(console, true, "", "C:\\here", &chosen));
  EXPECT_EQ(chosen, "C:\\here\\setup\\remove.TXT");
  terminal.input = {"D:\\scripts\\widget.ks", "OK"};
  ASSERT_TRUE(ui::AskScriptFile(console, true, "", "C:\\here", &chosen));
  EXPECT_EQ(chosen, "D:\\scripts\\widget.ks");

  // OK with nothing typed is refused until a file is named or Cancel is
  // pressed; Cancel leaves the result alone.
  chosen = "untouched";
  terminal.output.clear();
  terminal.input = {"", "OK", "", "Cancel"};
  EXPECT_FALSE(ui::AskScriptFile(console, true, "", "C:\\here", &chosen));
  EXPECT_EQ(chosen, "untouched");
  EXPECT_NE(terminal.output.find("Please name the installation script to run."),
            std::string::npos)
      << terminal.output;

  // Input ends: the refusing answer, Cancel.
  terminal.input.clear();
  EXPECT_FALSE(ui::AskScriptFile(console, true, "C:\\x.txt", "C:\\here", &chosen));
}

TEST(InterpreterConsole, ScriptQuestionFromAnAnswersFile) {
  std::vector<ui::AnswerLine> lines;
  std::string error;
  ASSERT_TRUE(ui::ParseAnswers(
      "RunInstallScript OK \"File=C:\\Program Files\\Widget\\install.txt\"\n"
      "RunInstallScript Cancel\n",
      &lines, &error))
      << error;
  ui::AnswersFrontEnd answers("answers.txt", lines, nullptr);
  std::string chosen;
  ASSERT_TRUE(ui::AskScriptFile(answers, true, "", "C:\\here", &chosen));
  EXPECT_EQ(chosen, "C:\\Program Files\\Widget\\install.txt");
  EXPECT_FALSE(ui::AskScriptFile(answers, true, "", "C:\\here", &chosen));
  EXPECT_EQ(answers.Remaining(), 0u);
}

TEST(InterpreterConsole, TitleAndNewBannerLinesAreWrittenOnceEach) {
  NarrowTerminal terminal;
  terminal.width = 21;
  ui::ConsoleLook shown(terminal);
  ui::WindowLook look;
  shown.ShowTitle("Tool Setup");
  look.AddBanner(ui::BannerLine{"Welcome", "Arial", 240, ui::BannerAlign::kCentre, 0});
  shown.Show(look);
  look.AddBanner(ui::BannerLine{"right\tside", "Arial", 120, ui::BannerAlign::kRight, 0});
  look.SetColour(ui::MakeColour(1, 2, 3));
  shown.Show(look);
  // A repaint without new lines writes nothing; after a clear only the
  // lines added since come out.
  shown.Show(look);
  look.ClearBanners();
  shown.Show(look);
  look.AddBanner(ui::BannerLine{"a line longer than the terminal", "", 120,
                                ui::BannerAlign::kLeft, 0});
  shown.Show(look);
  EXPECT_EQ(terminal.errors,
            "== Tool Setup ==\n"
            "      Welcome\n"
            "          right side\n"
            "a line longer than t\n");

  // Not a terminal: nothing, and nothing piles up for later either.
  NarrowTerminal redirected;
  redirected.error_terminal = false;
  ui::ConsoleLook quiet(redirected);
  quiet.ShowTitle("Tool");
  quiet.Show(look);
  EXPECT_EQ(redirected.errors, "");
}

}  // namespace
}  // namespace crx
