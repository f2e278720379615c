#include "builder/settings.h"

#include <climits>
#include <vector>

#include "common/format.h"

namespace crx::builder {

namespace {

std::vector<std::string> KeyLevels(const std::string& path) {
  std::vector<std::string> levels;
  std::string level;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!level.empty()) levels.push_back(level);
      level.clear();
    } else {
      level += c;
    }
  }
  if (!level.empty()) levels.push_back(level);
  return levels;
}

// Full access, else read-only.
long OpenLevel(Registry& registry, RegKey parent, const std::string& name, RegKey* key) {
  long rc = registry.OpenKey(parent, name, RegAccess::kAll, key);
  if (rc == kErrorAccessDenied) rc = registry.OpenKey(parent, name, RegAccess::kRead, key);
  return rc;
}

bool CreatePath(Registry& registry, RegKey hive, const std::string& path, ScopedRegKey* key) {
  const std::vector<std::string> levels = KeyLevels(path);
  if (levels.empty()) return false;
  RegKey parent = hive;  // closed before moving on, unless it is the hive
  for (size_t i = 0; i < levels.size(); ++i) {
    const bool last = i + 1 == levels.size();
    RegKey level = 0;
    long rc = OpenLevel(registry, parent, levels[i], &level);
    if (rc != kErrorSuccess && rc != kErrorAccessDenied) {
      bool created = false;
      rc = registry.CreateKey(parent, levels[i], RegAccess::kAll, &level, &created);
      if (rc == kErrorSuccess && created) {
        registry.SetString(level, "", last ? kLastKeyDefault : kIntermediateKeyDefault);
      }
    }
    if (parent != hive) registry.CloseKey(parent);
    if (rc != kErrorSuccess) return false;
    parent = level;
  }
  *key->Out() = parent;
  return true;
}

}  // namespace

bool OpenSettingsKey(Registry& registry, RegKey hive, const std::string& path, KeyMode mode,
                     ScopedRegKey* key) {
  if (mode == KeyMode::kCreate) return CreatePath(registry, hive, path, key);
  return OpenLevel(registry, hive, path, key->Out()) == kErrorSuccess;
}

std::string ReadUserSetting(Registry& registry, const SettingsLocation& where,
                            const std::string& name, const std::string& default_value,
                            KeyMode mode, bool write_default) {
  ScopedRegKey key(registry);
  if (!OpenSettingsKey(registry, where.user_hive, where.key_path, mode, &key)) {
    return default_value;
  }
  std::string value;
  if (registry.GetString(key.Get(), name, &value) == kErrorSuccess) return value;
  // A read-only key keeps the value missing; the default still applies.
  if (write_default) registry.SetString(key.Get(), name, default_value);
  return default_value;
}

bool WriteUserSetting(Registry& registry, const SettingsLocation& where, const std::string& name,
                      const std::string& value) {
  ScopedRegKey key(registry);
  return OpenSettingsKey(registry, where.user_hive, where.key_path, KeyMode::kCreate, &key) &&
         registry.SetString(key.Get(), name, value) == kErrorSuccess;
}

int DecimalSetting(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return static_cast<int>(value);
}

int ReadLogging(Registry& registry, const SettingsLocation& where, KeyMode mode) {
  return DecimalSetting(
      ReadUserSetting(registry, where, kLoggingValue, kDefaultLogging, mode, true));
}

bool WriteLogging(Registry& registry, const SettingsLocation& where, int value) {
  return WriteUserSetting(registry, where, kLoggingValue, Format("%d", value));
}

std::string ReadIgnoreFiles(Registry& registry, const SettingsLocation& where, KeyMode mode) {
  return ReadUserSetting(registry, where, kIgnoreFilesValue, kDefaultIgnoreFiles, mode, true);
}

bool WriteIgnoreFiles(Registry& registry, const SettingsLocation& where,
                      const std::string& list) {
  return WriteUserSetting(registry, where, kIgnoreFilesValue, list);
}

bool ReadScriptDir(Registry& registry, const SettingsLocation& where, std::string* folder) {
  folder->clear();
  ScopedRegKey key(registry);
  if (!OpenSettingsKey(registry, where.user_hive, where.key_path, KeyMode::kCreate, &key)) {
    return false;
  }
  if (registry.GetString(key.Get(), kScriptDirValue, folder) != kErrorSuccess) {
    folder->clear();
    return false;
  }
  return !folder->empty();
}

bool WriteScriptDir(Registry& registry, const SettingsLocation& where,
                    const std::string& folder) {
  return WriteUserSetting(registry, where, kScriptDirValue, folder);
}

bool ReadCreateOnDrop(Registry& registry, const SettingsLocation& where) {
  return DecimalSetting(ReadUserSetting(registry, where, kCreateOnDropValue, kDefaultCreateOnDrop,
                                        KeyMode::kCreate, true)) == 1;
}

int ReadBlockSize(Registry& registry, const SettingsLocation& where) {
  return DecimalSetting(ReadUserSetting(registry, where, kBlockSizeValue, kDefaultBlockSize,
                                        KeyMode::kCreate, true));
}

int ReadSoftEom(Registry& registry, const SettingsLocation& where) {
  return DecimalSetting(
      ReadUserSetting(registry, where, kSoftEomValue, kDefaultSoftEom, KeyMode::kCreate, true));
}

void ReadPreferences(Registry& registry, const SettingsLocation& where,
                     ui::PreferenceValues* values) {
  values->logging = ReadLogging(registry, where, KeyMode::kCreate);
  values->create_on_drop = DecimalSetting(ReadUserSetting(
      registry, where, kCreateOnDropValue, kDefaultCreateOnDrop, KeyMode::kCreate, true));
  values->ignore_files = ReadIgnoreFiles(registry, where, KeyMode::kCreate);
  values->block_size = ReadBlockSize(registry, where);
  values->soft_eom = ReadSoftEom(registry, where);
}

bool WritePreferences(Registry& registry, const SettingsLocation& where,
                      const ui::PreferenceValues& values) {
  bool ok = WriteLogging(registry, where, values.logging);
  ok = WriteUserSetting(registry, where, kCreateOnDropValue,
                        Format("%d", values.create_on_drop)) && ok;
  ok = WriteUserSetting(registry, where, kBlockSizeValue, Format("%d", values.block_size)) && ok;
  ok = WriteUserSetting(registry, where, kSoftEomValue, Format("%d", values.soft_eom)) && ok;
  ok = WriteIgnoreFiles(registry, where, values.ignore_files) && ok;
  return ok;
}

bool ReadHome(Registry& registry, const SettingsLocation& where, std::string* folder) {
  folder->clear();
  ScopedRegKey key(registry);
  if (!OpenSettingsKey(registry, where.machine_hive, where.key_path, KeyMode::kOpenExisting,
                       &key)) {
    return false;
  }
  if (registry.GetString(key.Get(), kHomeValue, folder) != kErrorSuccess) folder->clear();
  return !folder->empty();
}

StubLookup ReadStubPath(Registry& registry, const SettingsLocation& where, bool minimal,
                        std::string* path) {
  path->clear();
  ScopedRegKey key(registry);
  if (!OpenSettingsKey(registry, where.machine_hive, where.key_path, KeyMode::kOpenExisting,
                       &key)) {
    return StubLookup::kNoKey;
  }
  if (registry.GetString(key.Get(), minimal ? kMinimalStubValue : kFullStubValue, path) !=
      kErrorSuccess) {
    path->clear();
  }
  return path->empty() ? StubLookup::kNoValue : StubLookup::kFound;
}

}  // namespace crx::builder
