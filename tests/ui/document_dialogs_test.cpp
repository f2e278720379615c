// The file-group chooser and the text viewer: their models, and how the
// terminal and answers front-ends show and answer them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/user_interface.h"
#include "fakes.h"
#include "ui/answers/answers.h"
#include "ui/choose_files_dialog.h"
#include "ui/console/console_front_end.h"
#include "ui/display_dialog.h"
#include "ui/document_browser.h"

#ifndef _WIN32
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "support/file_helpers.h"
#include "support/test_platform.h"
#endif

namespace crx::ui {
namespace {

std::vector<FileGroupChoice> ThreeGroups() {
  // Group 1 has no files and is not shown; group 2 is mandatory.
  return {{0, "Program files", 1200000, true, false},
          {1, "Nothing here", 0, true, false},
          {2, "Help files", 34567, true, true},
          {3, "Samples", 1000, false, false}};
}

TEST(ChooseFilesDialog, BoxesSpaceLinesAndTheEmptySelection) {
  EXPECT_EQ(GroupedDecimal(0), "0");
  EXPECT_EQ(GroupedDecimal(999), "999");
  EXPECT_EQ(GroupedDecimal(1000), "1,000");
  EXPECT_EQ(GroupedDecimal(1234567), "1,234,567");
  EXPECT_EQ(GroupedDecimal(18446744073709551615ull), "18,446,744,073,709,551,615");

  ChooseFilesDialog d(ThreeGroups(), 987654321);
  EXPECT_EQ(d.Caption(), "Advanced Installation Option");
  EXPECT_EQ(d.Text(), "Select the application groups to install");
  EXPECT_EQ(d.FindField("G1"), nullptr);  // a group without files is hidden
  ASSERT_NE(d.FindField("G0"), nullptr);
  EXPECT_EQ(d.FindField("G0")->label, "Program files");
  EXPECT_EQ(d.FindField("G0")->value, "1");
  EXPECT_EQ(d.FindField("G3")->value, "0");
  EXPECT_TRUE(d.FindField("G2")->read_only);
  EXPECT_EQ(d.FindField("Required")->value, "  Disk Space Required:  1,234,567 bytes");
  EXPECT_EQ(d.FindField("Available")->value, "  Disk Space Available:  987,654,321 bytes");

  // Every change brings the required line up to date.
  std::string error;
  ASSERT_TRUE(d.SetField("G3", "1", &error));
  EXPECT_EQ(d.FindField("Required")->value, "  Disk Space Required:  1,235,567 bytes");
  ASSERT_TRUE(d.SetField("G0", "0", &error));
  EXPECT_EQ(d.FindField("Required")->value, "  Disk Space Required:  35,567 bytes");
  EXPECT_EQ(d.RequiredBytes(), 35567u);
  // A mandatory box stays as it is.
  EXPECT_FALSE(d.SetField("G2", "0", &error));
  EXPECT_TRUE(d.Selected(1));  // hidden: keeps what it came with

  // Nothing ticked: OK is refused with the message, Cancel is not.
  std::vector<FileGroupChoice> two = {{0, "A", 10, true, false}, {1, "B", 20, true, false}};
  ChooseFilesDialog none(two, 100);
  ASSERT_TRUE(none.SetField("G0", "0", &error));
  ASSERT_TRUE(none.SetField("G1", "0", &error));
  EXPECT_EQ(none.FindField("Required")->value, "  Disk Space Required:  0 bytes");
  EXPECT_FALSE(none.Press(kIdOk, &error));
  EXPECT_EQ(error, ChooseFilesDialog::kNothingChosen);
  EXPECT_FALSE(none.Closed());
  ASSERT_TRUE(none.SetField("G1", "1", &error));
  EXPECT_TRUE(none.Press(kIdOk, &error));
  EXPECT_FALSE(none.Selected(0));
  EXPECT_TRUE(none.Selected(1));

  // With nothing that could be ticked, OK is not a trap.
  ChooseFilesDialog empty({{0, "A", 0, false, false}}, 100);
  EXPECT_TRUE(empty.Press(kIdOk, &error)) << error;
  ChooseFilesDialog cancelled(two, 100);
  EXPECT_TRUE(cancelled.Press(kIdCancel, &error));
}

TEST(ChooseFilesDialog, TerminalNumberedListAndAnswersFile) {
  test::FakeTerminal terminal;
  // Clear 1, try the fixed 2, a wrong number, tick 3, then OK.
  terminal.input = {"1", "2", "9", "3", "", ""};
  ConsoleFrontEnd console(terminal);
  ChooseFilesDialog d(ThreeGroups(), 5000000);
  EXPECT_EQ(console.Show(d), kIdOk);
  EXPECT_FALSE(d.Selected(0));
  EXPECT_TRUE(d.Selected(2));
  EXPECT_TRUE(d.Selected(3));
  const std::string& out = terminal.output;
  EXPECT_NE(out.find("  1. [x] Program files\n  2. [x] Help files (fixed)\n  3. [ ] Samples\n"
                     "  Disk Space Required:  1,234,567 bytes\n"
                     "  Disk Space Available:  5,000,000 bytes\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("  1. [ ] Program files"), std::string::npos);
  EXPECT_NE(out.find("That choice cannot be changed."), std::string::npos);
  EXPECT_NE(out.find("Please give a number from 1 to 3."), std::string::npos);
  EXPECT_NE(out.find("  Disk Space Required:  35,567 bytes"), std::string::npos);
  // The header does not repeat the lines the list shows.
  EXPECT_GT(out.find("Disk Space Available"), out.find("  1. [x]"));
  EXPECT_GT(out.find("Help files (fixed)"), out.find("  1. [x]"));

  // Clearing everything is refused and the list comes again.
  test::FakeTerminal t2;
  t2.input = {"1", "", "", "1", "", ""};
  ConsoleFrontEnd c2(t2);
  ChooseFilesDialog d2({{0, "A", 10, true, false}, {1, "B", 20, false, false}}, 100);
  EXPECT_EQ(c2.Show(d2), kIdOk);
  EXPECT_TRUE(d2.Selected(0));
  EXPECT_NE(t2.output.find("You have chosen to install no options."), std::string::npos);

  // The answers file ticks boxes by their group names; a recorded answer
  // plays back the same selection.
  std::vector<AnswerLine> lines;
  std::string error;
  ASSERT_TRUE(ParseAnswers("ChooseFiles OK G0=0 G3=1\n", &lines, &error)) << error;
  ChooseFilesDialog d3(ThreeGroups(), 100);
  ASSERT_TRUE(ApplyAnswer(lines[0], d3, &error)) << error;
  EXPECT_FALSE(d3.Selected(0));
  EXPECT_TRUE(d3.Selected(3));
  EXPECT_EQ(FormatAnswer(d3), "ChooseFiles OK G0=0 G3=1\n");
  ASSERT_TRUE(ParseAnswers("ChooseFiles OK G0=0\n", &lines, &error));
  ChooseFilesDialog d4({{0, "A", 10, true, false}}, 100);
  EXPECT_FALSE(ApplyAnswer(lines[0], d4, &error));
  EXPECT_NE(error.find("You have chosen to install no options."), std::string::npos);
}

TEST(DisplayDialog, ButtonsByModeAndTheLicenceTick) {
  DisplayDialog close("Read me", "C:\\p\\readme.txt", "text", false, DisplayMode::kClose);
  ASSERT_EQ(close.Buttons().size(), 1u);
  EXPECT_EQ(close.Buttons()[0].label, "Close");
  EXPECT_EQ(close.Caption(), "Read me");
  EXPECT_TRUE(close.Fields().empty());
  EXPECT_EQ(close.AsDisplay(), &close);

  DisplayDialog cancellable("T", "a.txt", "x", false, DisplayMode::kCancellable);
  ASSERT_EQ(cancellable.Buttons().size(), 2u);
  cancellable.Refuse();
  EXPECT_EQ(cancellable.Result(), kIdCancel);

  DisplayDialog licence("Licence", "LICENCE.RTF", "{\\rtf1 x}", true, DisplayMode::kLicence);
  ASSERT_NE(licence.FindField("Read"), nullptr);
  EXPECT_EQ(licence.FindField("Read")->label,
            "I have read and understand the licence agreement.");
  std::string error;
  EXPECT_FALSE(licence.Press(kIdOk, &error));
  EXPECT_EQ(error, "Please confirm your have read the licence agreement");
  EXPECT_FALSE(licence.Closed());
  ASSERT_TRUE(licence.SetField("Read", "1", &error));
  EXPECT_TRUE(licence.Press(kIdOk, &error));

  // Cancel needs no tick.
  DisplayDialog licence2("Licence", "l.txt", "x", false, DisplayMode::kLicence);
  EXPECT_TRUE(licence2.Press(kIdCancel, &error));

  EXPECT_TRUE(IsRichTextName("C:\\x\\LICENCE.RTF"));
  EXPECT_TRUE(IsRichTextName("licence.Rtf"));
  EXPECT_FALSE(IsRichTextName("licence.rtf.txt"));
  EXPECT_FALSE(IsRichTextName("C:\\a.rtf\\readme"));
  EXPECT_FALSE(IsRichTextName("rtf"));
}

TEST(DisplayDialog, RichTextBecomesReadableText) {
  const std::string rtf =
      "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}"
      "{\\colortbl;\\red255\\green0\\blue0;}"
      "{\\*\\generator Writer 1.0;}"
      "{\\info{\\title Secret}}"
      "\\pard\\f0\\fs20 LICENCE\\par\r\n"
      "\\b Caf\\'e9\\b0  \\{braces\\} and a back\\\\slash\\tab end\\line\n"
      "{\\field{\\*\\fldinst HYPERLINK x}{\\fldrslt link}}\\u8364?\\par}";
  EXPECT_EQ(RichTextToPlain(rtf),
            "LICENCE\nCaf\xe9 {braces} and a back\\slash\tend\nlink?\n");
  // Plain text is left as it is, also text with braces and back-slashes.
  EXPECT_EQ(RichTextToPlain("a {b} \\par c"), "a {b} \\par c");
  // Broken rich text ends without reading past its end.
  EXPECT_EQ(RichTextToPlain("{\\rtf1 abc\\"), "abc");
  EXPECT_EQ(RichTextToPlain("{\\rtf1 x\\'4"), "x4");  // a broken escape reads as text
  EXPECT_EQ(RichTextToPlain("{\\rtf1 a}}}b"), "ab");
  EXPECT_EQ(RichTextToPlain("{\\rtf1 a\\bin99999 b}"), "a");
}

TEST(DisplayDialog, TerminalPagesTheTextThenAsks) {
  test::FakeTerminal terminal;
  terminal.input = {"y", "o"};
  ConsoleFrontEnd console(terminal);
  std::string paged;
  console.SetPager([&paged](const std::string& text) {
    paged = text;
    return true;
  });
  DisplayDialog d("Licence", "l.rtf", "{\\rtf1 Terms\\par}", true, DisplayMode::kLicence);
  EXPECT_EQ(console.Show(d), kIdOk);
  EXPECT_EQ(paged, "Terms\n");
  EXPECT_EQ(terminal.output.find("Terms"), std::string::npos);  // paged, not printed
  EXPECT_NE(terminal.output.find("I have read and understand the licence agreement. (y/n)"),
            std::string::npos);

  // Without a pager that works the text is printed (escaped), and an
  // unticked OK is refused until the box is ticked.
  test::FakeTerminal t2;
  t2.input = {"", "o", "y", "o"};
  ConsoleFrontEnd c2(t2);
  c2.SetPager([](const std::string&) { return false; });
  DisplayDialog d2("Read me", "r.txt", "line 1\nline 2\x1b[2J", false, DisplayMode::kLicence);
  EXPECT_EQ(c2.Show(d2), kIdOk);
  EXPECT_NE(t2.output.find("line 1\nline 2\\x1b[2J\n"), std::string::npos) << t2.output;
  EXPECT_NE(t2.output.find("Please confirm your have read the licence agreement"),
            std::string::npos);

  // Nobody at the terminal: the licence is not accepted.
  test::FakeTerminal t3;
  t3.interactive = false;
  ConsoleFrontEnd c3(t3);
  DisplayDialog d3("Licence", "l.txt", "x", false, DisplayMode::kLicence);
  EXPECT_EQ(c3.Show(d3), kIdCancel);
}

TEST(DocumentBrowser, AddressesAndShellQuoting) {
  EXPECT_TRUE(IsAddress("http://example.com/a"));
  EXPECT_TRUE(IsAddress("https://example.com"));
  EXPECT_TRUE(IsAddress("file:///tmp/x.html"));
  EXPECT_TRUE(IsAddress("mailto:a@b.c"));
  EXPECT_TRUE(IsAddress("www.example.com"));
  EXPECT_FALSE(IsAddress("C:\\docs\\index.html"));
  EXPECT_FALSE(IsAddress("docs\\index.html"));
  EXPECT_FALSE(IsAddress("\\\\server\\share\\a.htm"));
  EXPECT_FALSE(IsAddress("1http://x"));
  EXPECT_EQ(ShellQuoted("a b"), "'a b'");
  EXPECT_EQ(ShellQuoted("it's $(rm -rf x)"), "'it'\\''s $(rm -rf x)'");
}

#ifndef _WIN32
// Without Win32: the desktop's opener when there is a display, else the
// document's name on the terminal. A stand-in opener on the host path
// writes down what it was given and where it ran.
TEST(DocumentBrowser, OpenerWithADisplayAndTheNameWithout) {
  test::TestPlatform machine;
  ASSERT_TRUE(machine.ok()) << machine.Error();
  Platform& real = machine.Get();
  test::FakeTerminal terminal;
  Platform p{real.files, real.registry, real.processes, real.environment,
             real.clock, terminal,      real.shell};
  const std::string bin = machine.MachineFolder() + "/../opener-bin";
  const std::string record = machine.MachineFolder() + "/../opened.txt";
  ASSERT_EQ(::mkdir(bin.c_str(), 0755), 0);
  {
    std::ofstream script(bin + "/xdg-open");
    script << "#!/bin/sh\nprintf '%s|%s\\n' \"$1\" \"$PWD\" >> '" << record << "'\n";
  }
  ASSERT_EQ(::chmod((bin + "/xdg-open").c_str(), 0755), 0);
  const char* old_path = std::getenv("CRX_HOST_PATH");
  const std::string saved_path = old_path ? old_path : "";
  ::setenv("CRX_HOST_PATH", (bin + ":/usr/bin:/bin").c_str(), 1);
  std::string display, wayland;
  const bool had_display = real.environment.Get("DISPLAY", &display);
  const bool had_wayland = real.environment.Get("WAYLAND_DISPLAY", &wayland);
  real.environment.Unset("WAYLAND_DISPLAY");

  // No display: the name is shown and nothing is run.
  real.environment.Unset("DISPLAY");
  EXPECT_EQ(ShowDocument(p, "http://example.com/a b"), BrowseOutcome::kShown);
  EXPECT_EQ(terminal.output, "Kestrova Browser: http://example.com/a b\n");
  EXPECT_FALSE(OpenWithAssociatedProgram(p, "http://example.com/"));

  // A display: an address as it is, a file by its name from its folder
  // (quoted, so that blanks and quotes in it are no shell syntax).
  real.environment.Set("DISPLAY", ":99");
  const std::string folder = machine.Scratch() + "\\doc folder";
  ASSERT_TRUE(real.files.CreateFolder(folder));
  ASSERT_TRUE(test::WriteWholeFile(real.files, folder + "\\it's $(x).html", "<p>hi</p>"));
  terminal.output.clear();
  EXPECT_EQ(ShowDocument(p, "http://example.com/a b"), BrowseOutcome::kShown);
  EXPECT_EQ(ShowDocument(p, folder + "\\it's $(x).html"), BrowseOutcome::kShown);
  EXPECT_EQ(terminal.output, "");
  // A file that is not there is named instead.
  EXPECT_EQ(ShowDocument(p, folder + "\\missing.html"), BrowseOutcome::kShown);
  EXPECT_EQ(terminal.output, "Kestrova Browser: " + folder + "\\missing.html\n");

  std::ifstream in(record);
  std::stringstream opened;
  opened << in.rdbuf();
  const std::string text = opened.str();
  const size_t line = text.find('\n');
  ASSERT_NE(line, std::string::npos) << text;
  EXPECT_EQ(text.substr(0, text.find('|')), "http://example.com/a b");
  const std::string second = text.substr(line + 1);
  EXPECT_EQ(second.substr(0, second.find('|')), "./it's $(x).html");
  EXPECT_NE(second.find("/doc folder\n"), std::string::npos) << second;

  if (old_path) ::setenv("CRX_HOST_PATH", saved_path.c_str(), 1);
  else ::unsetenv("CRX_HOST_PATH");
  if (had_display) real.environment.Set("DISPLAY", display);
  else real.environment.Unset("DISPLAY");
  if (had_wayland) real.environment.Set("WAYLAND_DISPLAY", wayland);
}
#endif

}  // namespace
}  // namespace crx::ui
