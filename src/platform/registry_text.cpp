#include "platform/registry_text.h"

#include <new>
#include <string>
#include <vector>

#include "common/format.h"

namespace crx {

namespace {

struct RootName {
  const char* long_name;
  const char* short_name;
  RegKey key;
};

const RootName kRoots[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", kHKeyLocalMachine},
    {"HKEY_CURRENT_USER", "HKCU", kHKeyCurrentUser},
    {"HKEY_CLASSES_ROOT", "HKCR", kHKeyClassesRoot},
    {"HKEY_USERS", "HKU", kHKeyUsers},
    {"HKEY_CURRENT_CONFIG", "HKCC", kHKeyCurrentConfig},
};

bool EqualsNoCaseAscii(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return i == a.size() && b[i] == '\0';
}

const char kLineEnd[] = "\r\n";
// Hex data lines are broken after the byte that reaches this column, with
// a back-slash and an indent of two blanks on the next line, so no line
// is longer than 80 characters.
constexpr size_t kHexBreakColumn = 76;

void AppendQuoted(std::string* out, const std::string& text) {
  out->push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

// A REG_SZ has a text form when it is one zero-terminated text: no zero
// inside, none missing at the end, no line break that would split the
// line.
bool HasTextForm(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    char c = data[i];
    if (c == '\0' || c == '\r' || c == '\n') return false;
  }
  return true;
}

void AppendValue(std::string* out, const std::string& name, uint32_t type,
                 const std::string& data) {
  size_t line_start = out->size();
  if (name.empty()) {
    out->push_back('@');
  } else {
    AppendQuoted(out, name);
  }
  out->push_back('=');
  if (type == kRegSz && HasTextForm(data)) {
    AppendQuoted(out, data.substr(0, data.size() - 1));
  } else if (type == kRegDword && data.size() == 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    uint32_t v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                 (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    AppendFormat(out, "dword:%08x", v);
  } else {
    if (type == kRegBinary) {
      out->append("hex:");
    } else {
      AppendFormat(out, "hex(%x):", type);
    }
    size_t column = out->size() - line_start;
    for (size_t i = 0; i < data.size(); ++i) {
      AppendFormat(out, "%02x", static_cast<unsigned char>(data[i]));
      if (i + 1 == data.size()) break;
      out->push_back(',');
      column += 3;
      if (column >= kHexBreakColumn) {
        out->append("\\");
        out->append(kLineEnd);
        out->append("  ");
        column = 2;
      }
    }
  }
  out->append(kLineEnd);
}

bool ExportKey(Registry& registry, RegKey parent, const std::string& sub_key,
               const std::string& display_path, std::string* text, std::string* error) {
  ScopedRegKey key(registry);
  long rc = registry.OpenKey(parent, sub_key, RegAccess::kRead, key.Out());
  if (rc != kErrorSuccess) {
    *error = Format("cannot open registry key %s (error %ld)", display_path.c_str(), rc);
    return false;
  }
  text->append("[");
  text->append(display_path);
  text->append("]");
  text->append(kLineEnd);
  for (uint32_t index = 0;; ++index) {
    std::string name, data;
    uint32_t type = kRegNone;
    rc = registry.EnumValue(key.Get(), index, &name, &type, &data);
    if (rc == kErrorNoMoreItems) break;
    if (rc != kErrorSuccess) {
      *error = Format("cannot read the values of registry key %s (error %ld)",
                      display_path.c_str(), rc);
      return false;
    }
    AppendValue(text, name, type, data);
  }
  text->append(kLineEnd);
  std::vector<std::string> children;
  for (uint32_t index = 0;; ++index) {
    std::string name;
    rc = registry.EnumKey(key.Get(), index, &name);
    if (rc == kErrorNoMoreItems) break;
    if (rc != kErrorSuccess) {
      *error = Format("cannot list the subkeys of registry key %s (error %ld)",
                      display_path.c_str(), rc);
      return false;
    }
    children.push_back(name);
  }
  for (const std::string& child : children) {
    if (!ExportKey(registry, key.Get(), child, display_path + "\\" + child, text, error)) {
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Import

struct Change {
  enum Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = kSetValue;
  int line = 0;
  RegKey root = 0;
  std::string sub_key;
  std::string name;
  uint32_t type = kRegNone;
  std::string data;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void SkipBlanks(const std::string& s, size_t* pos) {
  while (*pos < s.size() && (s[*pos] == ' ' || s[*pos] == '\t')) ++*pos;
}

// Reads a quoted text starting at s[*pos] == '"', undoing the \\ and \"
// escapes. False when the closing quote is missing.
bool ReadQuoted(const std::string& s, size_t* pos, std::string* out) {
  out->clear();
  size_t i = *pos + 1;
  while (i < s.size()) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out->push_back(s[i + 1]);
      i += 2;
      continue;
    }
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    out->push_back(c);
    ++i;
  }
  return false;
}

// Parses "aa,bb,..." (blanks allowed around the bytes; empty is no bytes).
bool ParseHexBytes(const std::string& s, std::string* out) {
  out->clear();
  size_t pos = 0;
  SkipBlanks(s, &pos);
  if (pos == s.size()) return true;
  for (;;) {
    SkipBlanks(s, &pos);
    int hi = pos < s.size() ? HexDigit(s[pos]) : -1;
    int lo = pos + 1 < s.size() ? HexDigit(s[pos + 1]) : -1;
    if (hi < 0) return false;
    if (lo < 0) {
      // A single digit stands for one byte, as regedit accepts.
      out->push_back(static_cast<char>(hi));
      pos += 1;
    } else {
      out->push_back(static_cast<char>(hi * 16 + lo));
      pos += 2;
    }
    SkipBlanks(s, &pos);
    if (pos == s.size()) return true;
    if (s[pos] != ',') return false;
    ++pos;
  }
}

bool StartsWithNoCase(const std::string& s, size_t pos, const char* prefix) {
  size_t n = std::char_traits<char>::length(prefix);
  if (s.size() - pos < n) return false;
  return EqualsNoCaseAscii(s.substr(pos, n), prefix);
}

// Parses the data after '='. *text is the rest of the line (continuations
// already joined).
bool ParseData(const std::string& text, Change* change, std::string* problem) {
  size_t pos = 0;
  SkipBlanks(text, &pos);
  if (pos < text.size() && text[pos] == '-') {
    size_t end = pos + 1;
    SkipBlanks(text, &end);
    if (end == text.size()) {
      change->kind = Change::kDeleteValue;
      return true;
    }
  }
  change->kind = Change::kSetValue;
  if (pos < text.size() && text[pos] == '"') {
    std::string value;
    if (!ReadQuoted(text, &pos, &value)) {
      *problem = "the text has no closing quote";
      return false;
    }
    SkipBlanks(text, &pos);
    if (pos != text.size()) {
      *problem = "unexpected characters after the text";
      return false;
    }
    change->type = kRegSz;
    change->data = value;
    change->data.push_back('\0');
    return true;
  }
  if (StartsWithNoCase(text, pos, "dword:")) {
    std::string digits = text.substr(pos + 6);
    size_t end = digits.find_last_not_of(" \t");
    digits = end == std::string::npos ? std::string() : digits.substr(0, end + 1);
    if (digits.empty() || digits.size() > 8) {
      *problem = "dword: needs one to eight hexadecimal digits";
      return false;
    }
    uint32_t v = 0;
    for (char c : digits) {
      int d = HexDigit(c);
      if (d < 0) {
        *problem = "dword: needs one to eight hexadecimal digits";
        return false;
      }
      v = v * 16 + static_cast<uint32_t>(d);
    }
    change->type = kRegDword;
    change->data.assign({static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff),
                         static_cast<char>((v >> 16) & 0xff),
                         static_cast<char>((v >> 24) & 0xff)});
    return true;
  }
  if (StartsWithNoCase(text, pos, "hex:")) {
    change->type = kRegBinary;
    pos += 4;
  } else if (StartsWithNoCase(text, pos, "hex(")) {
    size_t close = text.find(')', pos);
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':' ||
        close == pos + 4 || close - (pos + 4) > 8) {
      *problem = "hex(type): needs the type in hexadecimal";
      return false;
    }
    uint32_t t = 0;
    for (size_t i = pos + 4; i < close; ++i) {
      int d = HexDigit(text[i]);
      if (d < 0) {
        *problem = "hex(type): needs the type in hexadecimal";
        return false;
      }
      t = t * 16 + static_cast<uint32_t>(d);
    }
    change->type = t;
    pos = close + 2;
  } else {
    *problem = "unknown data (expected \"text\", dword:, hex: or hex(type):)";
    return false;
  }
  if (!ParseHexBytes(text.substr(pos), &change->data)) {
    *problem = "bad hexadecimal bytes";
    return false;
  }
  return true;
}

bool ParseText(const std::string& text, std::vector<Change>* changes, std::string* error) {
  // Lines, without their CR LF or LF ends.
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  size_t first = 0;
  while (first < lines.size() && lines[first].empty()) ++first;
  if (first == lines.size() || lines[first] != "REGEDIT4") {
    *error = "not REGEDIT4 text: the first line must be REGEDIT4";
    return false;
  }
  bool in_key = false;
  bool key_deleted = false;
  RegKey root = 0;
  std::string sub_key;
  for (size_t i = first + 1; i < lines.size(); ++i) {
    int line_number = static_cast<int>(i + 1);
    std::string line = lines[i];
    size_t pos = 0;
    SkipBlanks(line, &pos);
    if (pos == line.size() || line[pos] == ';') continue;
    if (line[pos] == '[') {
      size_t close = line.find_last_of(']');
      if (close == std::string::npos || close < pos) {
        *error = Format("line %d: the key path has no closing ]", line_number);
        return false;
      }
      std::string path = line.substr(pos + 1, close - pos - 1);
      bool remove = !path.empty() && path[0] == '-';
      if (remove) path.erase(0, 1);
      if (!ParseRegistryPath(path, &root, &sub_key)) {
        *error = Format("line %d: %s is not a registry key path", line_number, path.c_str());
        return false;
      }
      Change change;
      change.kind = remove ? Change::kDeleteKey : Change::kCreateKey;
      change.line = line_number;
      change.root = root;
      change.sub_key = sub_key;
      changes->push_back(change);
      in_key = true;
      key_deleted = remove;
      continue;
    }
    Change change;
    change.line = line_number;
    if (line[pos] == '@') {
      ++pos;
    } else if (line[pos] == '"') {
      if (!ReadQuoted(line, &pos, &change.name)) {
        *error = Format("line %d: the value name has no closing quote", line_number);
        return false;
      }
    } else {
      *error = Format("line %d: expected [key], \"name\"= or @=", line_number);
      return false;
    }
    SkipBlanks(line, &pos);
    if (pos == line.size() || line[pos] != '=') {
      *error = Format("line %d: expected = after the value name", line_number);
      return false;
    }
    std::string data = line.substr(pos + 1);
    // Hex data goes on over the next lines while a line ends in a
    // back-slash.
    size_t data_start = data.find_first_not_of(" \t");
    if (data_start != std::string::npos && StartsWithNoCase(data, data_start, "hex")) {
      while (!data.empty() && data.back() == '\\' && i + 1 < lines.size()) {
        data.pop_back();
        ++i;
        data += lines[i];
      }
    }
    if (!in_key || key_deleted) {
      *error = Format("line %d: a value outside a key section", line_number);
      return false;
    }
    std::string problem;
    if (!ParseData(data, &change, &problem)) {
      *error = Format("line %d: %s", line_number, problem.c_str());
      return false;
    }
    change.root = root;
    change.sub_key = sub_key;
    changes->push_back(change);
  }
  return true;
}

bool Apply(Registry& registry, const std::vector<Change>& changes, std::string* error) {
  ScopedRegKey key(registry);
  for (const Change& change : changes) {
    long rc = kErrorSuccess;
    switch (change.kind) {
      case Change::kCreateKey:
        rc = registry.CreateKey(change.root, change.sub_key, RegAccess::kAll, key.Out(),
                                nullptr);
        break;
      case Change::kDeleteKey:
        key.Reset();
        rc = registry.DeleteTree(change.root, change.sub_key);
        if (rc == kErrorFileNotFound) rc = kErrorSuccess;  // already gone
        break;
      case Change::kSetValue:
        rc = registry.SetValue(key.Get(), change.name, change.type, change.data.data(),
                               change.data.size());
        break;
      case Change::kDeleteValue:
        rc = registry.DeleteValue(key.Get(), change.name);
        if (rc == kErrorFileNotFound) rc = kErrorSuccess;
        break;
    }
    if (rc != kErrorSuccess) {
      *error = Format("line %d: the registry refused the change (error %ld)", change.line, rc);
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseRegistryPath(const std::string& full_key_path, RegKey* root, std::string* sub_key) {
  size_t slash = full_key_path.find('\\');
  std::string hive = full_key_path.substr(0, slash);
  for (const RootName& r : kRoots) {
    if (EqualsNoCaseAscii(hive, r.long_name) || EqualsNoCaseAscii(hive, r.short_name)) {
      *root = r.key;
      std::string rest = slash == std::string::npos ? std::string()
                                                    : full_key_path.substr(slash + 1);
      while (!rest.empty() && rest.back() == '\\') rest.pop_back();
      *sub_key = rest;
      return true;
    }
  }
  return false;
}

const char* RegistryRootName(RegKey root) {
  for (const RootName& r : kRoots) {
    if (r.key == root) return r.long_name;
  }
  return "";
}

bool ExportRegistryText(Registry& registry, const std::string& full_key_path,
                        std::string* text, std::string* error) {
  try {
    RegKey root = 0;
    std::string sub_key;
    if (!ParseRegistryPath(full_key_path, &root, &sub_key)) {
      *error = Format("%s is not a registry key path (it must start with a hive such as "
                      "HKEY_LOCAL_MACHINE or HKLM)",
                      full_key_path.c_str());
      return false;
    }
    std::string display = RegistryRootName(root);
    if (!sub_key.empty()) display += "\\" + sub_key;
    std::string out = "REGEDIT4";
    out += kLineEnd;
    out += kLineEnd;
    if (!ExportKey(registry, root, sub_key, display, &out, error)) return false;
    *text = std::move(out);
    return true;
  } catch (const std::bad_alloc&) {
    *error = "out of memory exporting the registry";
    return false;
  }
}

bool ImportRegistryText(Registry& registry, const std::string& text, std::string* error) {
  try {
    std::vector<Change> changes;
    if (!ParseText(text, &changes, error)) return false;
    return Apply(registry, changes, error);
  } catch (const std::bad_alloc&) {
    *error = "out of memory importing registry text";
    return false;
  }
}

}  // namespace crx
