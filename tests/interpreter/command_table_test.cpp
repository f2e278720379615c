#include "interpreter/command_table.h"

#include <string>
#include <vector>

#include "interpreter_fixture.h"

namespace crx::test {
namespace {

using interp::CommandRow;
using interp::CommandTable;
using interp::FindCommandRow;
using interp::OptionFitsRow;
using interp::RowKind;

// The vocabulary of the script language as its reference lists it, in
// order; the dispatcher searches the table in this order.
const char* const kVocabulary[] = {
    "set",         "updating",   "setenv",     "eval",          "odbc",         "filegroup",
    "display",     "browse",     "run",        "regdll",        "unregdll",     "message",
    "uninstalling", "oktouninstall", "oktouninstallex", "onuninstall", "query", "input",
    "fread",       "fedit",      "rm",         "fwrite",        "chmod",        "select",
    "choosefiles", "choosedir",  "copy",       "_alias",        "getdllref",    "setreg",
    "getreg",      "if",         "endif",      "fi",            "else",         "elseif",
    "elif",        "banner",     "title",      "progress",      "background",   "desktop",
    "rmdesktop",   "progmenu",   "rmprogmenu", "setsvc",        "rmkey",        "rmregtree",
    "remove",      "rmtree",     "oktoinstall", "oktoinstallex", "single_step", "maximize",
    "locateobj",   "locate",     "associate",  "dcomcfg",       "restart",      "sms_on",
    "sms_off",     "cancel",     "finalize",
};

const CommandRow& Row(const char* keyword) {
  const CommandRow* row = FindCommandRow(keyword);
  EXPECT_NE(row, nullptr) << keyword;
  static const CommandRow kMissing{"", RowKind::kLogged, interp::OptionRule::kNone, "", false,
                                   0, 0, nullptr};
  return row != nullptr ? *row : kMissing;
}

TEST(CommandTableTest, HoldsTheWholeVocabularyInOrder) {
  std::vector<std::string> keywords;
  for (const CommandRow& row : CommandTable()) keywords.push_back(row.keyword);
  std::vector<std::string> expected(std::begin(kVocabulary), std::end(kVocabulary));
  EXPECT_EQ(keywords, expected);
  for (const CommandRow& row : CommandTable()) {
    EXPECT_NE(row.handler, nullptr) << row.keyword;
    EXPECT_LE(row.min_args, row.max_args) << row.keyword;
  }
  // Exact and case-sensitive; call and return never reach the table.
  EXPECT_EQ(FindCommandRow("FILEGROUP"), nullptr);
  EXPECT_EQ(FindCommandRow("Set"), nullptr);
  EXPECT_EQ(FindCommandRow("call"), nullptr);
  EXPECT_EQ(FindCommandRow("return"), nullptr);
  EXPECT_EQ(FindCommandRow(""), nullptr);
}

TEST(CommandTableTest, AlwaysAndBlockRows) {
  for (const char* k : {"updating", "uninstalling", "sms_on", "sms_off"}) {
    EXPECT_EQ(Row(k).kind, RowKind::kAlways) << k;
  }
  for (const char* k : {"if", "elseif", "elif", "else", "endif", "fi"}) {
    EXPECT_EQ(Row(k).kind, RowKind::kBlock) << k;
  }
  EXPECT_EQ(Row("single_step").kind, RowKind::kUnlogged);
  EXPECT_EQ(Row("run").kind, RowKind::kLogged);
  EXPECT_NE(Row("oktoinstallex").first, nullptr);
  EXPECT_EQ(Row("oktoinstall").first, nullptr);
}

TEST(CommandTableTest, OptionRules) {
  // copy: any option holding s; none at all is fine too.
  EXPECT_TRUE(OptionFitsRow(Row("copy"), ""));
  EXPECT_TRUE(OptionFitsRow(Row("copy"), "-s"));
  EXPECT_TRUE(OptionFitsRow(Row("copy"), "-sqra"));
  EXPECT_TRUE(OptionFitsRow(Row("copy"), "-qs"));
  EXPECT_FALSE(OptionFitsRow(Row("copy"), "-q"));
  EXPECT_FALSE(OptionFitsRow(Row("copy"), "-"));
  // Hive: setreg/rmkey/rmregtree read the first three characters, getreg
  // needs the word; all need one.
  EXPECT_TRUE(OptionFitsRow(Row("setreg"), "-lmi"));
  EXPECT_TRUE(OptionFitsRow(Row("setreg"), "-cc"));
  EXPECT_FALSE(OptionFitsRow(Row("setreg"), "-l"));
  EXPECT_FALSE(OptionFitsRow(Row("setreg"), ""));
  EXPECT_FALSE(OptionFitsRow(Row("setreg"), "-hk"));
  EXPECT_TRUE(OptionFitsRow(Row("rmkey"), "-lmS"));
  EXPECT_TRUE(OptionFitsRow(Row("getreg"), "-cr"));
  EXPECT_FALSE(OptionFitsRow(Row("getreg"), "-cri"));
  EXPECT_EQ(interp::HiveOfOption("-lmS"), kHKeyLocalMachine);
  EXPECT_EQ(interp::HiveOfOption("-cr"), kHKeyClassesRoot);
  EXPECT_EQ(interp::HiveOfOption("-cc"), kHKeyCurrentConfig);
  EXPECT_EQ(interp::HiveOfOption("-l"), 0u);
  // fwrite needs one of its four words exactly.
  EXPECT_FALSE(OptionFitsRow(Row("fwrite"), ""));
  EXPECT_TRUE(OptionFitsRow(Row("fwrite"), "-T"));
  EXPECT_FALSE(OptionFitsRow(Row("fwrite"), "-ta"));
  EXPECT_FALSE(OptionFitsRow(Row("fwrite"), "-x"));
  // query: y or o anywhere, and one is needed.
  EXPECT_TRUE(OptionFitsRow(Row("query"), "-yo"));
  EXPECT_FALSE(OptionFitsRow(Row("query"), ""));
  EXPECT_FALSE(OptionFitsRow(Row("query"), "-n"));
  // Letter rows accept their letters in any mix, nothing else.
  EXPECT_TRUE(OptionFitsRow(Row("run"), "-xw"));
  EXPECT_TRUE(OptionFitsRow(Row("run"), "-w"));
  EXPECT_FALSE(OptionFitsRow(Row("run"), "-wq"));
  EXPECT_FALSE(OptionFitsRow(Row("rm"), "-"));
  EXPECT_FALSE(OptionFitsRow(Row("message"), "-x"));
  // rmtree: none, or anything holding '!'.
  EXPECT_TRUE(OptionFitsRow(Row("rmtree"), "-!"));
  EXPECT_FALSE(OptionFitsRow(Row("rmtree"), "-x"));
  // oktoinstall: exactly -advise.
  EXPECT_TRUE(OptionFitsRow(Row("oktoinstall"), "-advise"));
  EXPECT_FALSE(OptionFitsRow(Row("oktoinstall"), "-adv"));
  // filegroup: any option (unknown ones do nothing and succeed).
  EXPECT_TRUE(OptionFitsRow(Row("filegroup"), "-z"));
}

class DispatchTest : public InterpreterTest {
 protected:
  // Puts the run inside an evaluated branch that does not run.
  void EnterDeadBranch() {
    K().active_index = 0;
    K().depth_index = 0;
    K().levels[0] = 0;
  }
};

TEST_F(DispatchTest, UnknownKeywordsFail) {
  Command("filegroupp", "", {"G1", "x"});
  EXPECT_FALSE(K().Dispatch());
  Command("FILEGROUP", "", {"G1", "x"});
  EXPECT_FALSE(K().Dispatch());
  EXPECT_EQ(K().groups[1].description, "");
  // Also inside a branch that does not run: a misspelt keyword is a fault
  // of the script wherever it stands.
  EnterDeadBranch();
  Command("mesage", "", {"hello"});
  EXPECT_FALSE(K().Dispatch());
}

TEST_F(DispatchTest, AlwaysRowsActInADeadBranch) {
  EnterDeadBranch();
  Command("updating", "", {"ignored"});
  EXPECT_TRUE(K().Dispatch());
  EXPECT_TRUE(K().update_mode);
  // oktoinstallex marks the extended confirmation before anything else.
  Command("oktoinstallex");
  K().Dispatch();
  EXPECT_TRUE(K().extended_confirmation);
  // An ordinary row does nothing there and succeeds.
  Command("finalize");
  EXPECT_TRUE(K().Dispatch());
  EXPECT_FALSE(K().finalize_requested);
}

TEST_F(DispatchTest, CountAndOptionChecks) {
  Command("rm", "", {"a", "b"});
  EXPECT_FALSE(K().CheckCommandRow());
  Command("rm", "-f", {"a"});
  EXPECT_TRUE(K().CheckCommandRow());
  Command("fread", "", {"file"});
  EXPECT_FALSE(K().CheckCommandRow());
  Command("fread", "", {"file", "V", "3"});
  EXPECT_TRUE(K().CheckCommandRow());
  Command("cancel", "", {"now"});
  EXPECT_FALSE(K().CheckCommandRow());
  Command("message", "", {"1", "2", "3", "4", "5", "6", "7", "8"});
  EXPECT_TRUE(K().CheckCommandRow());
  Command("message", "-x", {"1"});
  EXPECT_FALSE(K().CheckCommandRow());
  Command("copy", "-q", {"a", "b"});
  EXPECT_FALSE(K().CheckCommandRow());
  Command("copy", "-s", {"a"});
  EXPECT_FALSE(K().CheckCommandRow());
  Command("query", "-y", {"V"});
  EXPECT_FALSE(K().CheckCommandRow());
}

TEST_F(DispatchTest, MismatchesFailQuietlyUnlessTheRowHasAMessage) {
  Command("rm", "", {"a", "b"});
  EXPECT_FALSE(K().Dispatch());
  Command("fwrite", "-x", {"file", "text"});
  EXPECT_FALSE(K().Dispatch());
  Command("copy", "-q", {"a", "b"});
  EXPECT_FALSE(K().Dispatch());
  EXPECT_TRUE(front_end_.shown.empty());

  Command("copy", "-s", {"a", "b", "G1", "x"});
  EXPECT_FALSE(K().Dispatch());
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text, "Copy command syntax error, arg count = 4, needs 2 or 3");
  EXPECT_EQ(front_end_.shown[0].flags, 0x40010u);

  Command("query", "-n", {"V", "text"});
  EXPECT_FALSE(K().Dispatch());
  EXPECT_EQ(front_end_.shown.back().text, "BAD OPTION IN query COMMAND");
  EXPECT_EQ(front_end_.shown.back().flags, 16u);

  Command("setreg", "-hk", {"Key", "Name", "Data"});
  EXPECT_FALSE(K().Dispatch());
  EXPECT_EQ(front_end_.shown.back().text,
            "BAD HKEY OPTION (-hk)\nYOU MUST SUPPLY ONE OF...\n    -lm: HKEY_LOCAL_MACHINE\n"
            "    -cr: HKEY_CLASSES_ROOT\n    -cc: HKEY_CURRENT_CONFIG\n");
  EXPECT_EQ(front_end_.shown.back().flags, 0u);

  Command("rmtree", "-x", {"C:\\App"});
  EXPECT_FALSE(K().Dispatch());
  EXPECT_EQ(front_end_.shown.back().text, "incorrect option with 'rmtree' command");
  EXPECT_EQ(front_end_.shown.size(), 4u);
}

TEST_F(DispatchTest, DeadBranchNoticeInSingleStepMode) {
  EnterDeadBranch();
  K().single_step = true;
  Command("message", "", {"hidden"});
  EXPECT_TRUE(K().Dispatch());
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text,
            "The last command will not run becuase\nit is in the body of a failed 'if' clause.");
  // Without single-step nothing is shown.
  K().single_step = false;
  EXPECT_TRUE(K().Dispatch());
  EXPECT_EQ(front_end_.shown.size(), 1u);
}

TEST_F(DispatchTest, LiveRowsRunTheirHandler) {
  Command("message", "", {"one", "two"});
  EXPECT_TRUE(K().Dispatch());
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text, "one\ntwo");
  Command("finalize");
  EXPECT_TRUE(K().Dispatch());
  EXPECT_TRUE(K().finalize_requested);
  EXPECT_FALSE(K().cancelled);
  Command("cancel");
  EXPECT_TRUE(K().Dispatch());
  EXPECT_TRUE(K().cancelled);
}

}  // namespace
}  // namespace crx::test
