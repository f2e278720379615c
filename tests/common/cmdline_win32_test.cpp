// Compares the command-line splitter with the system's CommandLineToArgvW.
// The system parses argument text the same way; its program-name rule is
// older than ours (it ends a quoted program name at the closing quote), so
// program names are compared only where both rules agree.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/cmdline.h"

namespace crx {
namespace {

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string Narrow(const wchar_t* s) {
  std::string out;
  for (; *s; ++s) out += static_cast<char>(*s);
  return out;
}

std::vector<std::string> SystemSplit(const std::string& line) {
  std::vector<std::string> out;
  int count = 0;
  std::wstring wide = Widen(line);
  LPWSTR* argv = CommandLineToArgvW(wide.c_str(), &count);
  if (argv == nullptr) return out;
  for (int i = 0; i < count; ++i) out.push_back(Narrow(argv[i]));
  LocalFree(argv);
  return out;
}

// The arguments after a plain program name, as the system splits them.
std::vector<std::string> SystemArguments(const std::string& arguments) {
  std::vector<std::string> all = SystemSplit("prog.exe " + arguments);
  if (!all.empty()) all.erase(all.begin());
  return all;
}

TEST(CmdlineWin32, ArgumentsSplitLikeTheSystem) {
  const char* const kLines[] = {
      "a b c",
      "  a\t\tb  ",
      "\"a b\" c",
      "a\"b c\"d",
      "\"\"",
      "\"\" \"\"",
      "a \"\" b",
      "\"",
      "\"a",
      "a\\b\\\\c",
      "a\\\"b",
      "a\\\\\"b c\"",
      "a\\\\\\\"b",
      "\"a\\\\\"",
      "\"a\\\\\\\"\"",
      "\"a\"\"b\"",
      "\"a\"\" b\"",
      "\"a\"\"\" b",
      "a\"\"\"b",
      "\"\"\"\"",
      "\"\"\"\"\"\"",
      "\"\"\"a b\"\"\"",
      "\"C:\\Program Files\\\" next",
      "/sms:\"C:\\My Files\\resp.ini\"",
      "\\\\server\\share\\x \"\\\\server\\share\\y z\"",
  };
  for (const char* line : kLines) {
    EXPECT_EQ(cmdline::SplitArguments(line), SystemArguments(line)) << "line [" << line << "]";
  }
}

TEST(CmdlineWin32, RandomLinesSplitLikeTheSystem) {
  // Short lines over the characters that matter, from a fixed seed.
  const char kAlphabet[] = {'a', 'b', ' ', '\t', '"', '\\'};
  uint32_t state = 12345;
  auto next = [&state]() {
    state = state * 1103515245u + 12345u;
    return (state >> 16) & 0x7fff;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string line;
    int length = static_cast<int>(next() % 12);
    for (int i = 0; i < length; ++i) line += kAlphabet[next() % sizeof kAlphabet];
    ASSERT_EQ(cmdline::SplitArguments(line), SystemArguments(line)) << "line [" << line << "]";
  }
}

TEST(CmdlineWin32, JoinedLinesComeBackFromTheSystem) {
  const std::vector<std::vector<std::string>> kCases = {
      {"C:\\Program Files\\App\\app.exe", "plain", "two words", ""},
      {"app.exe", "trailing\\", "trailing space\\", "C:\\dir with blank\\"},
      {"app.exe", "say \"hi\"", "\"", "\"\"", "\\\"", "a\\\\\"b", "\t"},
      {"C:\\x y\\z.exe", "/sms:C:\\My Files\\resp.ini"},
  };
  for (const auto& args : kCases) {
    std::string line = cmdline::Join(args);
    EXPECT_EQ(SystemSplit(line), args) << "line [" << line << "]";
    EXPECT_EQ(cmdline::Split(line), args) << "line [" << line << "]";
  }
  const char kAlphabet[] = {'a', ' ', '\t', '"', '\\'};
  uint32_t state = 777;
  auto next = [&state]() {
    state = state * 1103515245u + 12345u;
    return (state >> 16) & 0x7fff;
  };
  for (int round = 0; round < 1000; ++round) {
    std::vector<std::string> args = {"prog.exe"};
    int count = 1 + static_cast<int>(next() % 3);
    for (int a = 0; a < count; ++a) {
      std::string arg;
      int length = static_cast<int>(next() % 6);
      for (int i = 0; i < length; ++i) arg += kAlphabet[next() % sizeof kAlphabet];
      args.push_back(arg);
    }
    std::string line = cmdline::Join(args);
    ASSERT_EQ(SystemSplit(line), args) << "line [" << line << "]";
  }
}

TEST(CmdlineWin32, ProgramNamesWhereBothRulesAgree) {
  const char* const kLines[] = {
      "\"C:\\Program Files\\App\\app.exe\" /x",
      "C:\\App\\app.exe /x \"y z\"",
      "\"C:\\dir\\\" a",      // back-slashes in a program name stay literal
      "app.exe",
      "\"app.exe\"",
      "app.exe\t\tx",
  };
  for (const char* line : kLines) {
    EXPECT_EQ(cmdline::Split(line), SystemSplit(line)) << "line [" << line << "]";
  }
  // Where the rules differ: the system ends a quoted program name at its
  // closing quote and starts an argument right after it; our rule (that of
  // the current C runtime) keeps reading to the next blank.
  EXPECT_EQ(SystemSplit("\"a b\"c d"), (std::vector<std::string>{"a b", "c", "d"}));
  EXPECT_EQ(cmdline::Split("\"a b\"c d"), (std::vector<std::string>{"a bc", "d"}));
}

}  // namespace
}  // namespace crx
