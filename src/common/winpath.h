// Windows path strings, handled as text only (no disk access). Both '\\'
// and '/' separate elements; results use '\\'. Roots are drive roots
// ("C:\\", or "C:" for a drive-relative path), UNC roots
// ("\\\\server\\share") and the current drive's root ("\\").
#ifndef CRX_COMMON_WINPATH_H
#define CRX_COMMON_WINPATH_H

#include <string>
#include <string_view>
#include <vector>

namespace crx {
namespace winpath {

bool IsSeparator(char c);
// "C:..." with a letter.
bool HasDriveLetter(const std::string& path);
// "\\\\server\\share..." (either separator).
bool IsUnc(const std::string& path);
// Absolute: "C:\\...", "\\\\server\\share..." (not "C:x" nor "\\x").
bool IsAbsolute(const std::string& path);

// The root part of a path: "C:\\" for "C:\\a\\b", "C:" for "C:a",
// "\\\\server\\share\\" for a UNC path, "\\" for "\\a", "" for a relative
// path. Separators in the result are back-slashes.
std::string Root(const std::string& path);
// The path without its root.
std::string WithoutRoot(const std::string& path);

// The last element ("b.txt" for "C:\\a\\b.txt", "" for "C:\\a\\").
std::string LastElement(const std::string& path);
// Everything before the last element, without the separator ("C:\\a" for
// "C:\\a\\b.txt", "C:\\" for "C:\\b.txt", "" for "b.txt").
std::string Parent(const std::string& path);
// The extension of the last element including its dot (".txt"), or "".
std::string Extension(const std::string& path);

// Joins with exactly one back-slash ("%s\\%s"); an empty part yields the
// other part unchanged.
std::string Join(const std::string& folder, const std::string& name);
// Replaces every '/' by '\\'.
std::string ToBackslashes(const std::string& path);
// Removes trailing separators except the one of a root ("C:\\").
std::string StripTrailingSeparator(const std::string& path);
// Splits the part after the root into elements, dropping empty ones.
std::vector<std::string> Elements(const std::string& path);
// The same as views into `path` (valid while it is), into *out.
void ElementViews(const std::string& path, std::vector<std::string_view>* out);
// Resolves "." and ".." elements of an absolute path textually; ".." at
// the root stays at the root. Returns the result with back-slashes.
std::string Normalize(const std::string& path);

// ASCII case-insensitive comparison, as Windows compares names.
bool EqualsNoCase(const std::string& a, const std::string& b);
int CompareNoCase(const std::string& a, const std::string& b);
std::string ToUpperAscii(const std::string& s);
std::string ToLowerAscii(const std::string& s);

// Windows wildcard matching of one name against a pattern with '*' and
// '?', case-insensitive; "*.*" matches every name, also one without a dot.
bool MatchWildcard(const std::string& pattern, const std::string& name);

// True when name is a valid 8.3 name (at most 8 characters, optionally a
// dot and at most 3 more, no spaces or characters 8.3 names exclude).
bool IsShortName(const std::string& name);

}  // namespace winpath
}  // namespace crx

#endif  // CRX_COMMON_WINPATH_H
