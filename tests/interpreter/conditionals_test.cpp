// Conditional blocks: conditions, branch states, nesting, blocks opened in
// branches that do not run, malformed block lines and the file-status test.

#include <string>
#include <vector>

#include "interpreter_fixture.h"
#include "support/file_helpers.h"

namespace crx::test {
namespace {

class ConditionalsTest : public InterpreterTest {
 protected:
  // Runs one block line through its handler, as the dispatcher does.
  bool Line(const std::string& line) {
    K().SplitLine(line);
    const std::string& c = K().cmd.command;
    if (c == "if") return K().CmdIf();
    if (c == "elseif" || c == "elif") return K().CmdElseif();
    if (c == "else") return K().CmdElse();
    if (c == "endif" || c == "fi") return K().CmdEndif();
    ADD_FAILURE() << "not a block line: " << line;
    return false;
  }
  // Runs the lines and records, after each, whether a command would run.
  std::string Trace(const std::vector<std::string>& lines) {
    std::string runs;
    for (const std::string& line : lines) {
      EXPECT_TRUE(Line(line)) << line;
      runs += K().MayRun() ? 'R' : '-';
    }
    return runs;
  }
  bool Holds(const std::string& condition) {
    EXPECT_TRUE(Line("if " + condition)) << condition;
    const bool holds = K().MayRun();
    EXPECT_TRUE(Line("endif"));
    return holds;
  }
};

TEST_F(ConditionalsTest, ConditionsCompareTextNumbersAndSubstrings) {
  EXPECT_TRUE(Holds("abc == abc"));
  EXPECT_TRUE(Holds("abc = abc"));
  EXPECT_FALSE(Holds("abc == ABC"));
  EXPECT_TRUE(Holds("abc != ABC"));
  EXPECT_TRUE(Holds("10 > 9"));     // numeric
  EXPECT_FALSE(Holds("10 == 010"));  // text
  EXPECT_TRUE(Holds("10 <= 010"));
  EXPECT_TRUE(Holds("abc >= 0"));   // no digits count as 0
  EXPECT_FALSE(Holds("abc < 0"));
  EXPECT_TRUE(Holds("\" -5x\" < -4"));
  EXPECT_TRUE(Holds("12abc > 11zz"));
  // ^: the right text occurs in the left one, case-sensitively.
  EXPECT_TRUE(Holds("C:\\Program\\Tool ^ Program"));
  EXPECT_FALSE(Holds("C:\\Program\\Tool ^ program"));
  EXPECT_FALSE(Holds("abc ^ abcd"));
  K().SetBuiltInVariables();
  const bool nt = K().VariableText("VER_PLATFORM") == "2";
  K().SplitLine(K().ExpandLine("if $VER_PLATFORM == 2"));
  EXPECT_TRUE(K().CmdIf());
  EXPECT_EQ(K().MayRun(), nt);
  EXPECT_TRUE(front_end_.shown.empty());
}

TEST_F(ConditionalsTest, OnlyOneBranchOfABlockRuns) {
  EXPECT_EQ(Trace({"if A == B", "elseif A == A", "else", "endif"}), "-R-R");
  EXPECT_EQ(Trace({"if A == A", "elif A == A", "elseif B == B", "else", "fi"}), "R---R");
  EXPECT_EQ(Trace({"if A == B", "elseif A != A", "elseif A != B", "else", "endif"}), "--R-R");
  EXPECT_EQ(Trace({"if A == B", "else", "endif"}), "-RR");
  EXPECT_EQ(K().active_index, -1);
  EXPECT_EQ(K().depth_index, -1);
}

TEST_F(ConditionalsTest, ABlockInsideAFailedBranchIsOnlyCounted) {
  EXPECT_EQ(Trace({"if 1 == 2", "if 1 == 1", "else", "endif", "else", "endif"}), "----RR");
  // A counted if is not checked: it may be malformed or use any operator.
  EXPECT_EQ(Trace({"if 1 == 2", "if", "if a ~ b", "endif", "endif", "endif"}), "-----R");
  // The counted block's elseif is still checked for its arguments.
  EXPECT_TRUE(Line("if 1 == 2"));
  EXPECT_TRUE(Line("if x == y"));
  EXPECT_FALSE(Line("elseif x"));
  EXPECT_TRUE(Line("elseif x ~ y"));  // its operator is never looked at
  EXPECT_TRUE(front_end_.shown.empty());
}

TEST_F(ConditionalsTest, EightEvaluatedLevelsAreTheLimit) {
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(Line("if a == a")) << i;
  EXPECT_FALSE(Line("if a == a"));
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text, "IF STATEMENTS TOO DEEPLY NESTED");
  EXPECT_EQ(K().active_index, 7);
  EXPECT_EQ(K().depth_index, 7);
  // Inside a failed eighth level, further ifs need no level of their own.
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(Line("endif"));
  for (int i = 0; i < 7; ++i) ASSERT_TRUE(Line("if a == a"));
  ASSERT_TRUE(Line("if a == b"));
  EXPECT_TRUE(Line("if a == a"));
  EXPECT_TRUE(Line("if a == a"));
  EXPECT_EQ(K().depth_index, 9);
  EXPECT_EQ(K().active_index, 7);
}

TEST_F(ConditionalsTest, MalformedBlockLinesFail) {
  EXPECT_FALSE(Line("endif"));
  EXPECT_FALSE(Line("fi"));
  EXPECT_FALSE(Line("else"));
  EXPECT_FALSE(Line("elseif a == a"));
  EXPECT_EQ(K().active_index, -1);
  EXPECT_EQ(K().depth_index, -1);
  ASSERT_EQ(front_end_.shown.size(), 4u);
  EXPECT_EQ(front_end_.shown[0].text, "ERROR\n'endif' without an open 'if' block");
  EXPECT_EQ(front_end_.shown[1].text, "ERROR\n'fi' without an open 'if' block");
  front_end_.shown.clear();

  ASSERT_TRUE(Line("if a == a"));
  EXPECT_FALSE(Line("else x"));
  EXPECT_FALSE(Line("else -x"));
  EXPECT_FALSE(Line("endif x"));
  EXPECT_FALSE(Line("elseif a == a b"));
  EXPECT_FALSE(Line("elseif -o a == a"));
  EXPECT_TRUE(front_end_.shown.empty());  // count mismatches fail quietly
  EXPECT_TRUE(Line("else"));
  EXPECT_FALSE(Line("elseif a > b"));
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text, "UNKNOWN IF OPERANTOR '>'");
  EXPECT_TRUE(Line("endif"));

  // A failing if still opens a block in which nothing runs, so an
  // uninstallation (which goes on after failures) skips its body.
  front_end_.shown.clear();
  EXPECT_FALSE(Line("if a ~ b"));
  EXPECT_EQ(front_end_.shown[0].text, "UNKNOWN IF OPERANTOR '~'");
  EXPECT_FALSE(K().MayRun());
  EXPECT_TRUE(Line("else"));
  EXPECT_FALSE(K().MayRun());
  EXPECT_TRUE(Line("endif"));
  EXPECT_FALSE(Line("if a =="));
  EXPECT_FALSE(K().MayRun());
  EXPECT_TRUE(Line("endif"));
  EXPECT_TRUE(K().MayRun());
}

TEST_F(ConditionalsTest, TheFileStatusTestReadsAttributes) {
  const std::string folder = platform_.Scratch();
  const std::string file = folder + "\\f.txt";
  ASSERT_TRUE(WriteWholeFile(P().files, file, "x"));
  const std::string missing = folder + "\\none";
  EXPECT_TRUE(K().FileStatusTest(folder, "DIRECTORY"));
  EXPECT_TRUE(K().FileStatusTest(folder, "directory"));
  EXPECT_FALSE(K().FileStatusTest(file, "DIRECTORY"));
  EXPECT_TRUE(K().FileStatusTest(file, "FILE"));
  EXPECT_FALSE(K().FileStatusTest(missing, "file"));  // all bits set: no file
  EXPECT_TRUE(K().FileStatusTest(file, "exists"));
  EXPECT_FALSE(K().FileStatusTest(missing, "EXISTS"));
  EXPECT_FALSE(K().FileStatusTest(missing, "READONLY"));
  EXPECT_FALSE(K().FileStatusTest(file, "readonly"));
  EXPECT_TRUE(K().FileStatusTest(missing, "0x10"));  // any mask holds for a missing path
  EXPECT_TRUE(K().FileStatusTest(folder, "0X10"));
  EXPECT_FALSE(K().FileStatusTest(file, "0x10"));
  ASSERT_TRUE(P().files.SetAttributes(file, kAttrReadOnly | kAttrSystem));
  EXPECT_TRUE(K().FileStatusTest(file, "READONLY"));
  EXPECT_TRUE(K().FileStatusTest(file, "system"));
  EXPECT_TRUE(K().FileStatusTest(file, "0x5"));
  P().files.SetAttributes(file, kAttrNormal);
  EXPECT_TRUE(front_end_.shown.empty());
  EXPECT_FALSE(K().FileStatusTest(file, "Exists"));  // only as written
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text, "unknown file-status test 'Exists'");

  // Through if.
  front_end_.shown.clear();
  K().SplitLine("if \"" + folder + "\" ? DIRECTORY");
  EXPECT_TRUE(K().CmdIf());
  EXPECT_TRUE(K().MayRun());
}

TEST_F(ConditionalsTest, BlocksSpanCalledScripts) {
  ASSERT_TRUE(P().files.SetCurrentFolder(platform_.Scratch()));
  ASSERT_TRUE(WriteWholeFile(P().files, platform_.Scratch() + "\\main.txt",
                             "if a == b\nskipped\ncall sub.txt\nafter\n"));
  ASSERT_TRUE(WriteWholeFile(P().files, platform_.Scratch() + "\\sub.txt",
                             "else\nin_sub\nreturn\n"));
  ASSERT_TRUE(K().OpenScript("main.txt"));
  std::string ran;
  while (K().ReadNextCommand()) {
    const std::string c = K().cmd.command;
    if (c == "if") {
      EXPECT_TRUE(K().CmdIf());
    } else if (c == "else") {
      EXPECT_TRUE(K().CmdElse());
    } else if (K().MayRun()) {
      ran += c + " ";
    }
  }
  // The call in the failed branch is not followed; the block stays open.
  EXPECT_EQ(ran, "");
  EXPECT_EQ(K().depth_index, 0);

  // When the branch runs, the called script closes it.
  ASSERT_TRUE(WriteWholeFile(P().files, platform_.Scratch() + "\\main2.txt",
                             "if a == a\ncall sub2.txt\nafter\n"));
  ASSERT_TRUE(WriteWholeFile(P().files, platform_.Scratch() + "\\sub2.txt",
                             "here\nendif\n"));
  K().active_index = K().depth_index = -1;
  ASSERT_TRUE(K().OpenScript("main2.txt"));
  ran.clear();
  while (K().ReadNextCommand()) {
    const std::string c = K().cmd.command;
    if (c == "if") {
      EXPECT_TRUE(K().CmdIf());
    } else if (c == "endif") {
      EXPECT_TRUE(K().CmdEndif());
    } else if (K().MayRun()) {
      ran += c + " ";
    }
  }
  EXPECT_EQ(ran, "here after ");
  EXPECT_EQ(K().depth_index, -1);
}

}  // namespace
}  // namespace crx::test
