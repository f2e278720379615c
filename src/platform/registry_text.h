// Registry key paths as text, and key trees as REGEDIT4 text: the form
// regedit writes and reads ("REGEDIT4", a blank line, then one "[full key
// path]" section per key with its values and a blank line, CR LF line
// ends). Works on any Registry, so it serves both the machine tool and
// tests on either implementation.
#ifndef CRX_PLATFORM_REGISTRY_TEXT_H
#define CRX_PLATFORM_REGISTRY_TEXT_H

#include <string>

#include "platform/platform.h"

namespace crx {

// Splits a full key path into its hive and the sub key under it:
// "HKEY_LOCAL_MACHINE\\SOFTWARE\\X" gives kHKeyLocalMachine and
// "SOFTWARE\\X". The hive may be written long or short (HKLM, HKCU, HKCR,
// HKU, HKCC), in any case; a hive alone gives an empty sub key. Trailing
// back-slashes are dropped. False when the path names no known hive.
bool ParseRegistryPath(const std::string& full_key_path, RegKey* root,
                       std::string* sub_key);

// The long name of a hive handle ("HKEY_CURRENT_USER"), or "" when the
// handle is not one of the predefined keys.
const char* RegistryRootName(RegKey root);

// Writes the key named by full_key_path, its values and all its subkeys
// (depth first, subkeys in enumeration order) as REGEDIT4 text into *text.
// Strings are written as "text" when they are a single zero-terminated
// text without line breaks; other REG_SZ data, and every type without a
// text form, as hex(n): bytes, so that importing the text gives back the
// stored bytes exactly. False with a message in *error when the path is
// not valid or the key cannot be read.
bool ExportRegistryText(Registry& registry, const std::string& full_key_path,
                        std::string* text, std::string* error);

// Applies REGEDIT4 text to the registry: "[path]" creates the key,
// "[-path]" removes the key with its subkeys, "name"=... and @=... set
// values ("name"=- deletes one). The whole text is checked before anything
// is written, so a text with a mistake changes nothing; the message in
// *error names the line. A failure of the registry while the changes are
// applied stops there and is reported too.
bool ImportRegistryText(Registry& registry, const std::string& text, std::string* error);

}  // namespace crx

#endif  // CRX_PLATFORM_REGISTRY_TEXT_H
