#include "common/winpath.h"

#include <algorithm>
#include <cstddef>

namespace crx {
namespace winpath {
namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Length of the root at the start of path, counted in the original text.
// A UNC root takes the server, the share and the separator after the share
// when there is one; a drive root takes the separator after the colon when
// there is one; a lone leading separator is the current drive's root.
size_t RootLength(const std::string& path) {
  if (IsUnc(path)) {
    size_t i = 2;
    while (i < path.size() && !IsSeparator(path[i])) ++i;  // server
    if (i == path.size()) return i;
    ++i;
    while (i < path.size() && !IsSeparator(path[i])) ++i;  // share
    if (i < path.size()) ++i;
    return i;
  }
  if (HasDriveLetter(path)) {
    return (path.size() > 2 && IsSeparator(path[2])) ? 3 : 2;
  }
  if (!path.empty() && IsSeparator(path[0])) return 1;
  return 0;
}

// The pattern characters of the Windows name matcher after the directory
// search has rewritten the pattern: '?' matches one character but never a
// dot, and nothing at a dot or at the end of the name; a dot before a
// wildcard or at the end of the pattern also matches the end of the name;
// a star before a dot stops short of the name's last dot.
enum : char {
  kAnyQuestion = 1,  // '?'
  kDosDot = 2,       // '.' followed by '?' or '*', or ending the pattern
  kDosStar = 3,      // '*' followed by '.'
};

std::string RewritePattern(const std::string& pattern) {
  if (pattern == "*.*") return "*";
  std::string p = pattern;
  for (size_t i = 0; i < p.size(); ++i) {
    if (i > 0 && p[i] == '.' && p[i - 1] == '*') p[i - 1] = kDosStar;
    if (p[i] == '?' || p[i] == '*') {
      if (p[i] == '?') p[i] = kAnyQuestion;
      if (i > 0 && p[i - 1] == '.') p[i - 1] = kDosDot;
    }
  }
  if (!p.empty() && p.back() == '.') p.back() = kDosDot;
  return p;
}

// Matches by following every possible pattern position at once (the
// pattern is small): states[k] says that the first k pattern characters
// can match the name read so far.
bool MatchRewritten(const std::string& pattern, const std::string& name) {
  const size_t n = pattern.size();
  // Position of the name's last dot, or npos.
  const size_t last_dot = name.rfind('.');
  std::vector<char> states(n + 1, 0);
  std::vector<char> next(n + 1, 0);

  // Adds the positions reachable from k without reading a character.
  auto close = [&](std::vector<char>& s, size_t pos) {
    const bool at_end = pos == name.size();
    const bool at_dot = !at_end && name[pos] == '.';
    for (size_t k = 0; k < n; ++k) {
      if (!s[k]) continue;
      char c = pattern[k];
      if (c == '*' || c == kDosStar) s[k + 1] = 1;
      else if (c == kAnyQuestion && (at_end || at_dot)) s[k + 1] = 1;
      else if (c == kDosDot && at_end) s[k + 1] = 1;
    }
  };

  states[0] = 1;
  close(states, 0);
  for (size_t pos = 0; pos < name.size(); ++pos) {
    const char ch = name[pos];
    std::fill(next.begin(), next.end(), 0);
    bool any = false;
    for (size_t k = 0; k < n; ++k) {
      if (!states[k]) continue;
      char c = pattern[k];
      if (c == '*') {
        next[k] = 1;
      } else if (c == kDosStar) {
        // May read anything but the name's last dot.
        if (!(ch == '.' && pos == last_dot)) next[k] = 1;
      } else if (c == kAnyQuestion) {
        if (ch != '.') next[k + 1] = 1;
      } else if (c == kDosDot) {
        if (ch == '.') next[k + 1] = 1;
      } else if (UpperAscii(c) == UpperAscii(ch)) {
        next[k + 1] = 1;
      }
    }
    for (size_t k = 0; k <= n; ++k) any = any || next[k];
    if (!any) return false;
    close(next, pos + 1);
    states.swap(next);
  }
  return states[n] != 0;
}

}  // namespace

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasDriveLetter(const std::string& path) {
  return path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':';
}

bool IsUnc(const std::string& path) {
  return path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
         !IsSeparator(path[2]);
}

bool IsAbsolute(const std::string& path) {
  if (IsUnc(path)) return true;
  return HasDriveLetter(path) && path.size() > 2 && IsSeparator(path[2]);
}

std::string Root(const std::string& path) {
  return ToBackslashes(path.substr(0, RootLength(path)));
}

std::string WithoutRoot(const std::string& path) {
  return path.substr(RootLength(path));
}

std::string LastElement(const std::string& path) {
  size_t root = RootLength(path);
  size_t i = path.size();
  while (i > root && !IsSeparator(path[i - 1])) --i;
  return path.substr(i);
}

std::string Parent(const std::string& path) {
  size_t root = RootLength(path);
  size_t i = path.size();
  while (i > root && !IsSeparator(path[i - 1])) --i;  // drop the last element
  while (i > root && IsSeparator(path[i - 1])) --i;   // and its separators
  return ToBackslashes(path.substr(0, i));
}

std::string Extension(const std::string& path) {
  std::string last = LastElement(path);
  size_t dot = last.rfind('.');
  return dot == std::string::npos ? std::string() : last.substr(dot);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (name.empty()) return folder;
  size_t end = folder.size();
  while (end > 0 && IsSeparator(folder[end - 1])) --end;
  size_t start = 0;
  while (start < name.size() && IsSeparator(name[start])) ++start;
  std::string out = folder.substr(0, end);
  out += '\\';
  out.append(name, start, std::string::npos);
  return out;
}

std::string ToBackslashes(const std::string& path) {
  std::string out = path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string StripTrailingSeparator(const std::string& path) {
  size_t root = RootLength(path);
  size_t end = path.size();
  while (end > root && IsSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}

void ElementViews(const std::string& path, std::vector<std::string_view>* out) {
  out->clear();
  size_t i = RootLength(path);
  while (i < path.size()) {
    size_t j = i;
    while (j < path.size() && !IsSeparator(path[j])) ++j;
    if (j > i) out->push_back(std::string_view(path).substr(i, j - i));
    i = j + 1;
  }
}

std::vector<std::string> Elements(const std::string& path) {
  std::vector<std::string_view> views;
  ElementViews(path, &views);
  return std::vector<std::string>(views.begin(), views.end());
}

std::string Normalize(const std::string& path) {
  std::string root = Root(path);
  std::vector<std::string> kept;
  for (const std::string& element : Elements(path)) {
    if (element == ".") continue;
    if (element == "..") {
      if (!kept.empty() && kept.back() != "..") {
        kept.pop_back();
      } else if (root.empty()) {
        // A relative path keeps the ".." it cannot resolve.
        kept.push_back(element);
      }
      continue;
    }
    kept.push_back(element);
  }
  std::string out = root;
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i > 0 || (!out.empty() && out.back() != '\\' && out.back() != ':')) out += '\\';
    out += kept[i];
  }
  return out;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return CompareNoCase(a, b) == 0;
}

int CompareNoCase(const std::string& a, const std::string& b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(UpperAscii(a[i]));
    unsigned char y = static_cast<unsigned char>(UpperAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string ToUpperAscii(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = UpperAscii(c);
  return out;
}

std::string ToLowerAscii(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool MatchWildcard(const std::string& pattern, const std::string& name) {
  // The rewrite uses bytes 1-3 as markers; a pattern holding them is not a
  // valid file name pattern and matches nothing.
  for (char c : pattern) {
    if (c >= 1 && c <= 3) return false;
  }
  return MatchRewritten(RewritePattern(pattern), name);
}

bool IsShortName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  size_t dot = name.find('.');
  std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
  if (dot != std::string::npos && ext.empty()) return false;  // "NAME."
  for (char ch : name.substr(0, base.size()) + ext) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == ' ' || c == '.' || c == '"' || c == '*' || c == '+' ||
        c == ',' || c == '/' || c == ':' || c == ';' || c == '<' || c == '=' ||
        c == '>' || c == '?' || c == '[' || c == '\\' || c == ']' || c == '|') {
      return false;
    }
  }
  return true;
}

}  // namespace winpath
}  // namespace crx
