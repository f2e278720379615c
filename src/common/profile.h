// Private-profile (INI) files read by the Windows lookup rules of
// GetPrivateProfileString: section and key names compare case-insensitively,
// white space around names and values is dropped, a value that is wholly in
// matching single or double quotes loses them, the first matching section
// and key win, and a missing value gives the default. The result is cut to
// fit a caller's buffer size as the Win32 call cuts it (size - 1 bytes).
// The text is parsed as given; reading the file is the caller's business.
#ifndef CRX_COMMON_PROFILE_H
#define CRX_COMMON_PROFILE_H

#include <string>
#include <vector>

namespace crx {

class Profile {
 public:
  Profile() = default;
  // Parses the file's bytes. Lines end with CR LF or LF; a comment line
  // (';' first) is left out of Keys() but, as in the system's reader, is
  // otherwise an ordinary line; lines before the first section header form
  // a section without a name (found only by the section name "").
  explicit Profile(const std::string& text);

  // GetPrivateProfileString(section, key, default, buffer, size): the value,
  // or default_value (without its trailing blanks) when the section or key
  // is missing or the key line has no '=', cut to size - 1 bytes. A size of
  // 0 or an empty key gives "".
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& default_value,
                        size_t size = 0x7FFFFFFF) const;
  // GetPrivateProfileInt: the leading number of the value (with an optional
  // sign; decimal, or hexadecimal, octal or binary after a "0x", "0o" or
  // "0b" prefix, wrapping at 32 bits), 0 when it has none, default_value
  // when the value is missing or empty.
  int GetInt(const std::string& section, const std::string& key,
             int default_value) const;
  bool HasKey(const std::string& section, const std::string& key) const;
  bool HasSection(const std::string& section) const;
  // Names in file order (first occurrence of each, duplicates dropped).
  std::vector<std::string> Sections() const;
  std::vector<std::string> Keys(const std::string& section) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
    bool has_value = false;  // false for a line without '='
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Section* FindSection(const std::string& name) const;
  const Entry* FindEntry(const std::string& section, const std::string& key) const;
  // Strips the quotes of a quoted value and cuts it to a buffer of size
  // bytes (size > 0).
  static std::string CutToBuffer(const std::string& value, size_t size);
  std::vector<Section> sections_;
};

}  // namespace crx

#endif  // CRX_COMMON_PROFILE_H
