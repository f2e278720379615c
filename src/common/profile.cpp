#include "common/profile.h"

#include <cstdint>

#include "common/winpath.h"

namespace crx {
namespace {

// White space of profile files: blanks and control white space, and the
// DOS end-of-file mark (^Z) that old files carry.
bool IsProfileSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\x1a';
}

std::string Trim(const std::string& s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && IsProfileSpace(s[begin])) ++begin;
  while (end > begin && IsProfileSpace(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

bool IsDigitOfBase(char c, uint32_t base, uint32_t* digit) {
  uint32_t d;
  if (c >= '0' && c <= '9') d = static_cast<uint32_t>(c - '0');
  else if (c >= 'A' && c <= 'Z') d = static_cast<uint32_t>(c - 'A' + 10);
  else if (c >= 'a' && c <= 'z') d = static_cast<uint32_t>(c - 'a' + 10);
  else return false;
  if (d >= base) return false;
  *digit = d;
  return true;
}

// The system's string-to-integer rule for profile numbers: leading white
// space and control characters skipped, an optional sign, a "0x", "0o" or
// "0b" prefix choosing base 16, 8 or 2 (decimal otherwise), digits up to the
// first one that does not belong to the base; the value wraps at 32 bits.
uint32_t ParseProfileNumber(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  uint32_t base = 10;
  if (i + 1 < s.size() && s[i] == '0') {
    if (s[i + 1] == 'x') base = 16;
    else if (s[i + 1] == 'o') base = 8;
    else if (s[i + 1] == 'b') base = 2;
    if (base != 10) i += 2;
  }
  uint32_t value = 0;
  uint32_t digit = 0;
  for (; i < s.size() && IsDigitOfBase(s[i], base, &digit); ++i) {
    value = value * base + digit;
  }
  return negative ? 0U - value : value;
}

}  // namespace

Profile::Profile(const std::string& text) {
  // Lines before the first section header belong to a section without a
  // name, which only a lookup of the empty section name finds.
  sections_.push_back(Section{std::string(), {}});
  Section* current = &sections_.back();
  // A UTF-8 byte-order mark in front of the first line is not part of it.
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    // A comment line (';' first) stays an entry like any other line, as the
    // system's reader keeps it: only listings leave it out.
    if (line.empty()) continue;

    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close != std::string::npos) {
        // The name is everything up to the last ']', without white space.
        sections_.push_back(Section{Trim(line.substr(1, close - 1)), {}});
        current = &sections_.back();
        continue;
      }
      // Without a ']' the line is an ordinary key line.
    }
    Entry entry;
    size_t equals = line.find('=');
    if (equals == std::string::npos) {
      entry.key = line;  // a key without a value: lookups give the default
    } else {
      entry.key = Trim(line.substr(0, equals));
      entry.value = Trim(line.substr(equals + 1));
      entry.has_value = true;
    }
    current->entries.push_back(std::move(entry));
  }
}

const Profile::Section* Profile::FindSection(const std::string& name) const {
  // Only the first section of a name is searched: keys of a later section
  // with the same name are never found.
  std::string wanted = Trim(name);
  for (const Section& section : sections_) {
    if (winpath::EqualsNoCase(section.name, wanted)) return &section;
  }
  return nullptr;
}

const Profile::Entry* Profile::FindEntry(const std::string& section,
                                         const std::string& key) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return nullptr;
  std::string wanted = Trim(key);
  for (const Entry& entry : s->entries) {
    if (winpath::EqualsNoCase(entry.key, wanted)) return &entry;
  }
  return nullptr;
}

std::string Profile::GetString(const std::string& section, const std::string& key,
                               const std::string& default_value, size_t size) const {
  if (size == 0 || key.empty()) return std::string();
  const Entry* entry = FindEntry(section, key);
  std::string value;
  if (entry != nullptr && entry->has_value) {
    value = entry->value;
  } else {
    // The default loses its trailing blanks (only blanks), but never its
    // first character: a default of blanks only becomes one blank.
    size_t end = default_value.size();
    while (end > 1 && default_value[end - 1] == ' ') --end;
    value = default_value.substr(0, end);
  }
  return CutToBuffer(value, size);
}

std::string Profile::CutToBuffer(const std::string& value, size_t size) {
  // A value wholly in matching quotes loses them. The opening quote goes
  // before the value is cut to the buffer; the closing one goes only when
  // the cut value still reaches it.
  size_t begin = 0;
  bool quoted = false;
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
      value.back() == value[0]) {
    quoted = true;
    begin = 1;
  }
  size_t available = value.size() - begin;
  size_t length = available < size - 1 ? available : size - 1;
  std::string out = value.substr(begin, length);
  if (quoted && size >= available && !out.empty()) out.pop_back();
  return out;
}

int Profile::GetInt(const std::string& section, const std::string& key,
                    int default_value) const {
  // The value is read as a string into a 30-character buffer first; an
  // empty or missing value gives the default.
  std::string text = GetString(section, key, std::string(), 30);
  if (text.empty()) return default_value;
  return static_cast<int>(ParseProfileNumber(text));
}

bool Profile::HasKey(const std::string& section, const std::string& key) const {
  const Entry* entry = FindEntry(section, key);
  return entry != nullptr && entry->has_value;
}

bool Profile::HasSection(const std::string& section) const {
  // The nameless section of lines before the first header always exists
  // but is no section a file names.
  return !Trim(section).empty() && FindSection(section) != nullptr;
}

std::vector<std::string> Profile::Sections() const {
  std::vector<std::string> out;
  for (const Section& section : sections_) {
    if (section.name.empty()) continue;
    bool seen = false;
    for (const std::string& name : out) seen = seen || winpath::EqualsNoCase(name, section.name);
    if (!seen) out.push_back(section.name);
  }
  return out;
}

std::vector<std::string> Profile::Keys(const std::string& section) const {
  std::vector<std::string> out;
  const Section* s = FindSection(section);
  if (s == nullptr) return out;
  for (const Entry& entry : s->entries) {
    if (entry.key.empty() || entry.key[0] == ';' || !entry.has_value) continue;
    bool seen = false;
    for (const std::string& name : out) seen = seen || winpath::EqualsNoCase(name, entry.key);
    if (!seen) out.push_back(entry.key);
  }
  return out;
}

}  // namespace crx
