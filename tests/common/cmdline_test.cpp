#include "common/cmdline.h"

#include <gtest/gtest.h>

namespace crx {
namespace {

using Args = std::vector<std::string>;

TEST(Cmdline, SplitsArguments) {
  struct Case {
    const char* line;
    Args args;
  };
  const Case kCases[] = {
      {"", {}},
      {" \t ", {}},
      {"a b\tc", {"a", "b", "c"}},
      {"  a  ", {"a"}},
      {"\"a b\" c", {"a b", "c"}},
      {"a\"b c\"d e", {"ab cd", "e"}},
      {"\"\"", {""}},
      {"a \"\" b", {"a", "", "b"}},
      {"\"unterminated arg", {"unterminated arg"}},
      {"a\\\\b\\c", {"a\\\\b\\c"}},                 // back-slashes alone are literal
      {"a\\\"b", {"a\"b"}},                         // 2n+1: literal quote
      {"a\\\\\"b c\"", {"a\\b c"}},                 // 2n: n back-slashes, quote opens
      {"a\\\\\\\"b", {"a\\\"b"}},                   // 3 -> 1 and a literal quote
      {"\"C:\\dir\\\\\" x", {"C:\\dir\\", "x"}},    // trailing back-slash doubled in quotes
      {"\"a\"\"b\"", {"a\"b"}},                     // "" inside quotes: literal quote
      {"\"a\"\" b\"", {"a\"", "b"}},                // ... that also ends the quoted part
      {"\"\"\"\"", {"\""}},
      {"\"\"\"a b\"\"\"", {"\"a", "b\""}},
      {"/sms:\"C:\\My Files\\r.ini\"", {"/sms:C:\\My Files\\r.ini"}},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(cmdline::SplitArguments(c.line), c.args) << "[" << c.line << "]";
  }
}

TEST(Cmdline, ProgramNameRule) {
  struct Case {
    const char* line;
    Args args;
  };
  const Case kCases[] = {
      {"", {}},
      {"app.exe", {"app.exe"}},
      {"\"C:\\Program Files\\a.exe\" /x \"y z\"", {"C:\\Program Files\\a.exe", "/x", "y z"}},
      {"C:\\dir\\\\\"a b\".exe x", {"C:\\dir\\\\a b.exe", "x"}},  // back-slashes literal
      {"\"C:\\dir\\\" x", {"C:\\dir\\", "x"}},
      {"\"a b\"c d", {"a bc", "d"}},
      {" a", {"", "a"}},
      {"app\t\"x\\\"y\"", {"app", "x\"y"}},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(cmdline::Split(c.line), c.args) << "[" << c.line << "]";
  }
}

TEST(Cmdline, QuoteRoundTrips) {
  const char* const kArgs[] = {
      "plain", "", " ", "\t", "two words", "tab\there", "\"", "\"\"", "say \"hi\"",
      "trailing\\", "trailing space\\", "C:\\dir with blank\\", "\\\\", "a\\\"b",
      "\\\"", "a\\\\\"", "end\\\\", "mixed \\\" \"\\ \\", "no\\quote\\needed",
  };
  for (const char* arg : kArgs) {
    std::string quoted = cmdline::Quote(arg);
    EXPECT_EQ(cmdline::SplitArguments(quoted), Args{arg}) << "[" << arg << "] as [" << quoted << "]";
  }
  EXPECT_EQ(cmdline::Quote("plain\\path"), "plain\\path");
  EXPECT_EQ(cmdline::Quote(""), "\"\"");
  EXPECT_EQ(cmdline::Quote("a b\\"), "\"a b\\\\\"");
  EXPECT_EQ(cmdline::Quote("a\"b"), "\"a\\\"b\"");

  Args all;
  for (const char* arg : kArgs) all.push_back(arg);
  std::string joined;
  for (const std::string& a : all) joined += (joined.empty() ? "" : " ") + cmdline::Quote(a);
  EXPECT_EQ(cmdline::SplitArguments(joined), all);
}

TEST(Cmdline, JoinQuotesTheProgramOnlyWhenNeeded) {
  EXPECT_EQ(cmdline::Join({"C:\\App\\app.exe", "a b", "c"}), "C:\\App\\app.exe \"a b\" c");
  EXPECT_EQ(cmdline::Join({"C:\\Program Files\\app.exe", ""}),
            "\"C:\\Program Files\\app.exe\" \"\"");
  EXPECT_EQ(cmdline::Join({}), "");
  // A program name ending in a back-slash needs no doubling: the program
  // rule takes back-slashes literally.
  Args args = {"C:\\x y\\", "arg\\", "q\"uote"};
  EXPECT_EQ(cmdline::Split(cmdline::Join(args)), args);
}

}  // namespace
}  // namespace crx
