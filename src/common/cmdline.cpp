#include "common/cmdline.h"

#include <cstddef>

namespace crx {
namespace cmdline {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> Split(const std::string& command_line) {
  std::vector<std::string> out;
  if (command_line.empty()) return out;
  // The program name: quotes group and are dropped, back-slashes are
  // ordinary characters, and the name ends at the first blank outside
  // quotes (a line that starts with a blank has an empty program name).
  std::string program;
  bool in_quotes = false;
  size_t i = 0;
  for (; i < command_line.size(); ++i) {
    char c = command_line[i];
    if (c == '"') {
      in_quotes = !in_quotes;
    } else if (IsBlank(c) && !in_quotes) {
      break;
    } else {
      program += c;
    }
  }
  out.push_back(program);
  std::vector<std::string> rest = SplitArguments(command_line.substr(i));
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

std::vector<std::string> SplitArguments(const std::string& arguments) {
  std::vector<std::string> out;
  const size_t n = arguments.size();
  size_t i = 0;
  while (i < n && IsBlank(arguments[i])) ++i;
  if (i == n) return out;

  std::string current;
  // quotes: 1 inside a quoted part, 0 outside; it passes through 2 and 3
  // while a run of quotes is counted. backslashes: the run of back-slashes
  // just copied into current.
  int quotes = 0;
  size_t backslashes = 0;
  while (i < n) {
    char c = arguments[i];
    if (IsBlank(c) && quotes == 0) {
      out.push_back(current);
      current.clear();
      backslashes = 0;
      while (i < n && IsBlank(arguments[i])) ++i;
      if (i == n) return out;
      continue;
    }
    if (c == '\\') {
      current += c;
      ++backslashes;
      ++i;
      continue;
    }
    if (c != '"') {
      current += c;
      backslashes = 0;
      ++i;
      continue;
    }
    if (backslashes % 2 == 0) {
      // 2n back-slashes and a quote: n back-slashes, and the quote opens or
      // closes a quoted part.
      current.resize(current.size() - backslashes / 2);
      ++quotes;
    } else {
      // 2n+1 back-slashes and a quote: n back-slashes and a literal quote.
      current.resize(current.size() - backslashes / 2 - 1);
      current += '"';
    }
    backslashes = 0;
    ++i;
    // A run of further quotes: every third quote counted from the opening
    // one is literal, so "" inside a quoted part gives one quote and ends
    // the quoted part.
    while (i < n && arguments[i] == '"') {
      if (++quotes == 3) {
        current += '"';
        quotes = 0;
      }
      ++i;
    }
    if (quotes == 2) quotes = 0;
  }
  out.push_back(current);
  return out;
}

std::string Quote(const std::string& argument) {
  bool needs_quotes = argument.empty();
  for (char c : argument) {
    if (IsBlank(c) || c == '"') needs_quotes = true;
  }
  if (!needs_quotes) return argument;

  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      // Each back-slash before a quote is doubled, and one more makes the
      // quote literal.
      out.append(backslashes * 2 + 1, '\\');
      out += '"';
    } else {
      out.append(backslashes, '\\');
      out += c;
    }
    backslashes = 0;
  }
  // Back-slashes before the closing quote are doubled so that it stays a
  // closing quote.
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

std::string Join(const std::vector<std::string>& arguments) {
  std::string out;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (i == 0) {
      bool blank = a.empty();
      for (char c : a) {
        if (IsBlank(c)) blank = true;
      }
      // A program name cannot hold a quote: it is always taken whole.
      out = blank ? "\"" + a + "\"" : a;
    } else {
      out += ' ';
      out += Quote(a);
    }
  }
  return out;
}

}  // namespace cmdline
}  // namespace crx
