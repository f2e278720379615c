// The builder's settings in the registry: where they live, their defaults,
// and the rules for opening and creating the key.
//
// User settings are string values under HKEY_CURRENT_USER
// "SOFTWARE\Velmora\Cratex\1.00"; the stub paths are read-only values under
// the same path in HKEY_LOCAL_MACHINE, written when the builder is
// installed. Every reader states whether it may create the key:
//   kCreate        the Preferences dialog, document creation, archive
//                  creation on removable media and the script command;
//   kOpenExisting  the engine's own lookups and every machine-wide lookup.
// A key is opened with full access, read-only when full access is refused.
// Creating the path creates each missing level in turn; a new level on the
// way gets the default value "sub key entries", a new last level
// "configurations". A reader that finds a value missing writes the default
// back (when asked to); a key that can be neither opened nor created leaves
// the reader with the built-in default, without a message.
//
// The engine reads Logging (engine/logs.cpp) and IgnoreFiles
// (engine/archive_writer.cpp) itself; the functions here are the builder's
// side: the same names and defaults, for the Preferences dialog, the script
// command and the stub lookup.
#ifndef CRX_BUILDER_SETTINGS_H
#define CRX_BUILDER_SETTINGS_H

#include <string>

#include "platform/platform.h"
#include "ui/preferences_dialog.h"

namespace crx::builder {

inline constexpr const char* kSettingsKeyPath = "SOFTWARE\\Velmora\\Cratex\\1.00";

// Value names.
inline constexpr const char* kLoggingValue = "Logging";
inline constexpr const char* kIgnoreFilesValue = "IgnoreFiles";
inline constexpr const char* kScriptDirValue = "ScriptDir";
inline constexpr const char* kFullStubValue = "datafile";
inline constexpr const char* kMinimalStubValue = "mdatafile";
inline constexpr const char* kCreateOnDropValue = "CreateOnDrop";
inline constexpr const char* kBlockSizeValue = "BlockSize";
inline constexpr const char* kSoftEomValue = "SoftEOM";
inline constexpr const char* kHomeValue = "Home";

// Defaults.
inline constexpr const char* kDefaultLogging = "1";
inline constexpr const char* kDefaultIgnoreFiles = ui::kDefaultExclusionList;
inline constexpr const char* kDefaultCreateOnDrop = "1";
inline constexpr const char* kDefaultBlockSize = "0";
inline constexpr const char* kDefaultSoftEom = "1";

// Default (unnamed) values of keys the builder creates.
inline constexpr const char* kIntermediateKeyDefault = "sub key entries";
inline constexpr const char* kLastKeyDefault = "configurations";

// Where the settings are. Programs use the defaults; tests point both
// hives at a scratch key so that nothing of the real system is touched.
struct SettingsLocation {
  RegKey user_hive = kHKeyCurrentUser;
  RegKey machine_hive = kHKeyLocalMachine;
  std::string key_path = kSettingsKeyPath;
};

enum class KeyMode { kOpenExisting, kCreate };

// Opens path under hive: with full access, else read-only. With kCreate the
// missing levels are created first, each new one given its default value.
// False (key left empty) when the key can be neither opened nor created.
bool OpenSettingsKey(Registry& registry, RegKey hive, const std::string& path, KeyMode mode,
                     ScopedRegKey* key);

// Reads the string value name of the user key. When the key cannot be had
// the result is default_value. When the value is missing the result is
// default_value, written back when write_default is set. A value that
// exists but is not a string is also taken as missing.
std::string ReadUserSetting(Registry& registry, const SettingsLocation& where,
                            const std::string& name, const std::string& default_value,
                            KeyMode mode, bool write_default);

// Writes value name of the user key (the key created if needed). False when
// the key cannot be had or the write fails.
bool WriteUserSetting(Registry& registry, const SettingsLocation& where, const std::string& name,
                      const std::string& value);

// The decimal number at the start of text, as the settings' numbers are
// read: leading blanks and a sign allowed, anything else ends the number,
// text that is not a number gives 0; values beyond int are clamped.
int DecimalSetting(const std::string& text);

// Logging as the Preferences dialog reads it (the default written back):
// the number stored; 1 means the activity log is on.
int ReadLogging(Registry& registry, const SettingsLocation& where, KeyMode mode);
bool WriteLogging(Registry& registry, const SettingsLocation& where, int value);

// IgnoreFiles as the Preferences dialog reads it (the default written back).
std::string ReadIgnoreFiles(Registry& registry, const SettingsLocation& where, KeyMode mode);
bool WriteIgnoreFiles(Registry& registry, const SettingsLocation& where,
                      const std::string& list);

// ScriptDir, the folder of the last script run: there is no default. The
// script command opens the key creating it. False when the value is
// missing, empty, or the key cannot be had.
bool ReadScriptDir(Registry& registry, const SettingsLocation& where, std::string* folder);
bool WriteScriptDir(Registry& registry, const SettingsLocation& where, const std::string& folder);

// CreateOnDrop as each new document reads it: the key created, a missing
// value written as "1"; true exactly when the value is 1.
bool ReadCreateOnDrop(Registry& registry, const SettingsLocation& where);

// BlockSize and SoftEOM as archive creation on removable media reads them
// (the key created, the defaults "0" and "1" written when missing).
int ReadBlockSize(Registry& registry, const SettingsLocation& where);
int ReadSoftEom(Registry& registry, const SettingsLocation& where);

// The five values of the Preferences dialog, read as the dialog opens: the
// key created, each missing value written with its default, numbers taken
// with decimal conversion (0 for text that is not a number). Without the
// key the built-in defaults apply.
void ReadPreferences(Registry& registry, const SettingsLocation& where,
                     ui::PreferenceValues* values);
// Writes Logging, CreateOnDrop, BlockSize and SoftEOM as "%d" and
// IgnoreFiles as it is. False when any write failed.
bool WritePreferences(Registry& registry, const SettingsLocation& where,
                      const ui::PreferenceValues& values);

// Home, the builder's installation folder, under the machine key (only
// opened). False when the key or the value is missing or empty.
bool ReadHome(Registry& registry, const SettingsLocation& where, std::string* folder);

// The stub paths under the machine key, which is only opened.
enum class StubLookup {
  kFound,
  kNoKey,    // the key cannot be opened
  kNoValue,  // the value is missing or empty
};
StubLookup ReadStubPath(Registry& registry, const SettingsLocation& where, bool minimal,
                        std::string* path);

}  // namespace crx::builder

#endif  // CRX_BUILDER_SETTINGS_H
