// Variables: stored form, built-in and computed variables, set, setenv,
// eval, aliases and line expansion with its uninitialised-variable message.

#include <string>

#include "common/format.h"
#include "interpreter_fixture.h"
#include "support/file_helpers.h"

namespace crx::test {
namespace {

class VariablesTest : public InterpreterTest {
 protected:
  bool Run(const std::string& line, bool (interp::ScriptInterpreter::*handler)()) {
    K().SplitLine(line);
    return (K().*handler)();
  }
  std::string Stored(const std::string& name) {
    std::string value = "<unset>";
    K().GetVariable(name, &value);
    return value;
  }
  std::string LogText() {
    K().FlushLog();
    std::string temp = P().environment.TempPath();
    if (!temp.empty() && temp.back() == '\\') temp.pop_back();
    return ReadWholeFile(P().files, temp + "\\Kestrova.log");
  }
  void StartLog() {
    ASSERT_TRUE(K().OpenLog());
    K().logging = true;
  }
};

TEST_F(VariablesTest, ValuesAreStoredAsOneWordAndReadBackWithTheirBlanks) {
  K().SetVariable("APP", "Tool Suite");
  EXPECT_EQ(Stored("APP"), "Tool\x01Suite");
  EXPECT_EQ(K().VariableText("APP"), "Tool Suite");
  // Empty and blank values are one protected blank.
  K().SetVariable("E", "");
  EXPECT_EQ(Stored("E"), "\x01");
  K().SetVariable("B", " \t ");
  EXPECT_EQ(Stored("B"), "\x01");
  // Grave accents at the ends are dropped when a command reads the value.
  K().SetVariable("G", "`a b`");
  EXPECT_EQ(K().VariableText("G"), "a b");
  EXPECT_EQ(K().VariableText("nobody"), "");
  // Names are case-sensitive; a second set replaces the value in place.
  K().SetVariable("app", "x");
  K().SetVariable("APP", "y");
  EXPECT_EQ(Stored("APP"), "y");
  EXPECT_EQ(Stored("app"), "x");
  ASSERT_EQ(K().variables.size(), 5u);
  EXPECT_EQ(K().variables[0].name, "APP");

  // A two-word value used as an argument stays one argument.
  K().SplitLine(K().ExpandLine("message $APP $E last"));
  EXPECT_EQ(K().cmd.args[0], "y");
  K().SetVariable("APP", "Tool Suite");
  K().SplitLine(K().ExpandLine("message $APP $E last"));
  EXPECT_EQ(K().cmd.args[0], "Tool Suite");
  EXPECT_EQ(K().cmd.args[1], " ");
  EXPECT_EQ(K().cmd.args[2], "last");
}

TEST_F(VariablesTest, BuiltInsComeInOrderAndCannotBeSet) {
  K().SetBuiltInVariables();
  const char* order[] = {"?",    "TEMP", "WINDIR",  "SYSDIR",  "PWD",     "NEEDS_RE_BOOT",
                         "RESTARTED", "USER", "HOST", "VER_MAJ", "VER_MIN", "VER_BLD",
                         "VER_PLATFORM", "ADMIN_RIGHTS"};
  ASSERT_EQ(K().variables.size(), std::size(order));
  for (size_t i = 0; i < std::size(order); ++i) EXPECT_EQ(K().variables[i].name, order[i]);
  EXPECT_EQ(K().VariableText("?"), "(empty)");
  EXPECT_EQ(K().VariableText("WINDIR"), P().environment.WindowsFolder());
  EXPECT_EQ(K().VariableText("PWD"), P().files.CurrentFolder());
  EXPECT_EQ(K().VariableText("VER_PLATFORM"),
            Format("%u", P().environment.Version().platform_id));
  const std::string admin = K().VariableText("ADMIN_RIGHTS");
  EXPECT_TRUE(admin == "TRUE" || admin == "FALSE");

  EXPECT_FALSE(Run("set USER x", &interp::ScriptInterpreter::CmdSet));
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text, "ERROR\nAttempting to set READ-ONLY variable <USER>");
  EXPECT_EQ(front_end_.shown[0].flags, 16u);
  EXPECT_FALSE(Run("set EMPTYSTRING x", &interp::ScriptInterpreter::CmdSet));
  EXPECT_FALSE(Run("eval ? = 1 + 1", &interp::ScriptInterpreter::CmdEval));
  EXPECT_EQ(K().VariableText("?"), "(empty)");
  // RESTARTED is not read-only: a restarted run sets it.
  EXPECT_TRUE(Run("set RESTARTED step2", &interp::ScriptInterpreter::CmdSet));
}

TEST_F(VariablesTest, ComputedVariablesWinOverTheTable) {
  EXPECT_EQ(K().VariableText("SMSMODE"), "FALSE");
  EXPECT_EQ(K().VariableText("SMS_INI_FILE"), "(empty)");
  K().silent_mode.set_response_file("answers.ini");
  EXPECT_EQ(K().VariableText("SMSMODE"), "TRUE");
  EXPECT_EQ(K().VariableText("SMS_INI_FILE"), P().files.CurrentFolder() + "\\answers.ini");
  K().silent_mode.set_response_file("C:\\r.ini");
  EXPECT_EQ(K().VariableText("SMS_INI_FILE"), "C:\\r.ini");
  K().SetVariable("SMSMODE", "maybe");
  EXPECT_EQ(K().VariableText("SMSMODE"), "TRUE");

  const std::string date = K().VariableText("IDATE");
  ASSERT_EQ(date.size(), 8u);
  const SystemTime now = P().clock.LocalNow();
  EXPECT_EQ(date.substr(0, 4), Format("%04d", now.year));
  EXPECT_EQ(K().VariableText("USDATE").substr(0, 3), Format("%02d/", now.month));
  EXPECT_EQ(K().VariableText("UKDATE").substr(3, 3), Format("%02d/", now.month));
  EXPECT_EQ(K().VariableText("TIME").size(), 8u);
  EXPECT_EQ(K().VariableText("ITIME").size(), 6u);
}

TEST_F(VariablesTest, SetTakesEnvironmentValuesAndLogsThem) {
  StartLog();
  ASSERT_TRUE(P().environment.Set("CRX_TEST_VALUE", "from env"));
  EXPECT_TRUE(Run("set -e X %CRX_TEST_VALUE", &interp::ScriptInterpreter::CmdSet));
  EXPECT_EQ(K().VariableText("X"), "from env");
  EXPECT_TRUE(Run("set -e Y %CRX_TEST_MISSING", &interp::ScriptInterpreter::CmdSet));
  EXPECT_EQ(K().VariableText("Y"), "(empty)");
  // Without -e the text is taken as it is.
  EXPECT_TRUE(Run("set Z %CRX_TEST_VALUE", &interp::ScriptInterpreter::CmdSet));
  EXPECT_EQ(K().VariableText("Z"), "%CRX_TEST_VALUE");
  EXPECT_FALSE(Run("set ONLYNAME", &interp::ScriptInterpreter::CmdSet));
  EXPECT_FALSE(Run("set A b c", &interp::ScriptInterpreter::CmdSet));
  const std::string log = LogText();
  EXPECT_NE(log.find("# setenv <X> = <%CRX_TEST_VALUE>\n# env subsitution <X> = <from env>\n"),
            std::string::npos)
      << log;

  EXPECT_TRUE(Run("setenv CRX_TEST_OUT \"two words\"", &interp::ScriptInterpreter::CmdSetenv));
  std::string out;
  EXPECT_TRUE(P().environment.Get("CRX_TEST_OUT", &out));
  EXPECT_EQ(out, "two words");

  EXPECT_FALSE(K().exit_at_end);
  EXPECT_TRUE(Run("set EXIT_AT_END 0", &interp::ScriptInterpreter::CmdSet));
  EXPECT_FALSE(K().exit_at_end);
  EXPECT_TRUE(Run("set EXIT_AT_END 2", &interp::ScriptInterpreter::CmdSet));
  EXPECT_TRUE(K().exit_at_end);
}

TEST_F(VariablesTest, HomeOnAMissingDriveMovesToAnExistingOne) {
  // The emulated machine has C: and Z:; Q: does not exist.
  ASSERT_FALSE(P().files.Exists("Q:\\"));
  char first = 0;
  for (char d = 'C'; d <= 'Z' && first == 0; ++d) {
    if (P().files.Exists(std::string(1, d) + ":\\")) first = d;
  }
  ASSERT_NE(first, 0);
  K().SetVariable("HOME", "Q:\\Program Files\\Tool");
  EXPECT_EQ(K().VariableText("HOME"), std::string(1, first) + ":\\Program Files\\Tool");
  const std::string windows = P().environment.WindowsFolder();
  K().SetVariable("HOME", "?:\\Tool");
  EXPECT_EQ(K().VariableText("HOME"), windows.substr(0, 1) + ":\\Tool");
  // An existing drive and paths without a drive stay as written.
  K().SetVariable("HOME", "C:\\Tool");
  EXPECT_EQ(K().VariableText("HOME"), "C:\\Tool");
  K().SetVariable("HOME", "relative\\Tool");
  EXPECT_EQ(K().VariableText("HOME"), "relative\\Tool");
  // Only HOME is fixed up.
  K().SetVariable("OTHER", "Q:\\x");
  EXPECT_EQ(K().VariableText("OTHER"), "Q:\\x");
}

TEST_F(VariablesTest, EvalComputesIntegersAndDoubles) {
  struct Row {
    const char* line;
    const char* result;
  } rows[] = {
      {"eval N = 010 + 0x10", "24"},   {"eval N = 7 - 10", "-3"},
      {"eval N = -7 / 2", "-3"},       {"eval N = -7 % 3", "-1"},
      {"eval N = 0XfF & 0x0f", "15"},  {"eval N = 5 | 2", "7"},
      {"eval N = 6 ^ 3", "5"},         {"eval N = 6 * 7", "42"},
      {"eval N = 09 + 1", "1"},  // 9 is no octal digit
      {"eval N = 2147483647 + 1", "-2147483648"},
      {"eval N = -2147483648 / -1", "-2147483648"},
      {"eval -d F = 1 / 4", "0.250000"}, {"eval -d F = 1.5 * -2", "-3.000000"},
      {"eval N =x 1 + 1", "2"},  // argument 2 only has to begin with '='
  };
  for (const Row& row : rows) {
    EXPECT_TRUE(Run(row.line, &interp::ScriptInterpreter::CmdEval)) << row.line;
    std::string name = K().cmd.args[0];
    EXPECT_EQ(K().VariableText(name), row.result) << row.line;
  }
  EXPECT_TRUE(front_end_.shown.empty());

  const char* failing[] = {"eval N = 1 ** 2", "eval -d F = 5 % 2", "eval -d F = 5 ^ 2",
                           "eval N + 1 + 2", "eval N = 1 +", "eval N = 1 + 2 3"};
  for (const char* line : failing) {
    EXPECT_FALSE(Run(line, &interp::ScriptInterpreter::CmdEval)) << line;
  }
  EXPECT_TRUE(front_end_.shown.empty());

  K().SetVariable("N", "unchanged");
  for (const char* line : {"eval N = 1 / 0", "eval N = 1 % 0x0", "eval -d N = 1 / 0.0"}) {
    front_end_.shown.clear();
    EXPECT_FALSE(Run(line, &interp::ScriptInterpreter::CmdEval)) << line;
    ASSERT_EQ(front_end_.shown.size(), 1u) << line;
    EXPECT_EQ(front_end_.shown[0].text, "eval: division by zero");
  }
  EXPECT_EQ(K().VariableText("N"), "unchanged");
}

TEST_F(VariablesTest, AliasesReplaceWholeArgumentsOnly) {
  StartLog();
  EXPECT_TRUE(Run("_alias APPDIR \"C:\\Program Files\\Tool\"", &interp::ScriptInterpreter::CmdAlias));
  K().AddAlias("X", "first");
  K().AddAlias("X", "second");  // replaces
  K().AddAlias("Y", "X");       // not examined again
  ASSERT_EQ(K().aliases.size(), 3u);
  K().SplitLine("X -o APPDIR APPDIR\\bin Y X");
  K().SubstituteAliases();
  EXPECT_EQ(K().cmd.command, "X");
  EXPECT_EQ(K().cmd.args[0], "C:\\Program Files\\Tool");
  EXPECT_EQ(K().cmd.args[1], "APPDIR\\bin");
  EXPECT_EQ(K().cmd.args[2], "X");
  EXPECT_EQ(K().cmd.args[3], "second");
  const std::string log = LogText();
  EXPECT_NE(log.find("# add alias <APPDIR> := <C:\\Program Files\\Tool>\n"), std::string::npos);
  EXPECT_NE(log.find("# alias substitution 'APPDIR' --> 'C:\\Program Files\\Tool'\n"),
            std::string::npos);
  EXPECT_NE(log.find("# alias substitution 'Y' --> 'X'\n"), std::string::npos);
}

TEST_F(VariablesTest, ExpansionRespectsTheLineLimit) {
  K().SetVariable("A", "aa");
  K().SetVariable("B_1", "bb");
  EXPECT_EQ(K().ExpandLine("x $A$B_1 $A.txt $A-"), "x aabb aa.txt aa-");
  // $? reads the exit code of the last program run.
  K().SetBuiltInVariables();
  EXPECT_EQ(K().ExpandLine("code $?."), "code (empty).");
  EXPECT_TRUE(front_end_.shown.empty());
  // A value that would reach the end of the 512-byte buffer is left out.
  const std::string head(400, 'h');
  K().SetVariable("BIG", std::string(109, 'v'));
  EXPECT_EQ(K().ExpandLine(head + "$BIG"), head + std::string(109, 'v'));  // 400+109+2 = 511
  K().SetVariable("BIG", std::string(110, 'v'));
  EXPECT_EQ(K().ExpandLine(head + "$BIG|"), head + "|");
  // Many values never make the line longer than 511 characters.
  K().SetVariable("BIG", std::string(200, 'v'));
  EXPECT_LE(K().ExpandLine("$BIG $BIG $BIG " + std::string(300, 't')).size(), 511u);
}

TEST_F(VariablesTest, AnUnsetVariableIsReportedOnlyWhereTheCommandWouldRun) {
  StartLog();
  K().ExpandLine("message $NOPE here");
  ASSERT_EQ(front_end_.shown.size(), 1u);
  const std::string text =
      "ERROR\nUninitialized variable '$NOPE' accessed in command...\n'message $NOPE here'";
  EXPECT_EQ(front_end_.shown[0].text, text);
  EXPECT_NE(LogText().find(text + "\n"), std::string::npos);
  // "$" before a character that cannot start a name looks up the empty name.
  EXPECT_EQ(K().ExpandLine("a $ b"), "a  b");
  EXPECT_EQ(front_end_.shown.back().text,
            "ERROR\nUninitialized variable '$' accessed in command...\n'a $ b'");

  front_end_.shown.clear();
  K().prescan = true;
  K().ExpandLine("message $NOPE");
  K().prescan = false;
  K().resume_marker = "step2";
  K().ExpandLine("message $NOPE");
  K().resume_marker.clear();
  K().ExpandLine("  #message $NOPE");
  EXPECT_TRUE(front_end_.shown.empty());

  // Inside a failed if: commands, and ifs that are only counted, stay quiet.
  K().SplitLine("if a == b");
  ASSERT_TRUE(K().CmdIf());
  K().ExpandLine("message $NOPE");
  K().ExpandLine("if $NOPE == x");
  EXPECT_TRUE(front_end_.shown.empty());
  // The block's own elseif evaluates a condition; else and endif act on it.
  K().ExpandLine("elseif $NOPE == x");
  K().ExpandLine("endif $NOPE");
  EXPECT_EQ(front_end_.shown.size(), 2u);

  // Once a branch ran, a later elseif evaluates nothing.
  front_end_.shown.clear();
  K().SplitLine("elseif a == a");
  ASSERT_TRUE(K().CmdElseif());
  K().ExpandLine("message $NOPE");  // this branch runs
  EXPECT_EQ(front_end_.shown.size(), 1u);
  K().ExpandLine("elseif $NOPE == x");
  K().SplitLine("else");
  ASSERT_TRUE(K().CmdElse());
  K().ExpandLine("message $NOPE");
  EXPECT_EQ(front_end_.shown.size(), 1u);

  // A nested block opened in the failed branch: its keywords are quiet too.
  K().SplitLine("if x == y");
  ASSERT_TRUE(K().CmdIf());  // only counted
  K().ExpandLine("else $NOPE");
  K().ExpandLine("endif $NOPE");
  EXPECT_EQ(front_end_.shown.size(), 1u);
}

}  // namespace
}  // namespace crx::test
