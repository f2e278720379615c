// Settings a test changes for its own run and puts back at its end: the
// process's environment variables (inherited by the programs it starts),
// string values of the registry and a file of the system's own. Each notes
// what was there before the first change and restores it when it is
// destroyed: a variable, value or file that was not there is removed
// again. They report failure by their result and never assert.
#ifndef CRX_TESTS_SUPPORT_SCOPED_SETTINGS_H
#define CRX_TESTS_SUPPORT_SCOPED_SETTINGS_H

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/file_helpers.h"

namespace crx::test {

class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(Environment& environment) : environment_(environment) {}
  ~ScopedEnvironment() {
    // Newest first, so a variable changed twice ends as it was at the start.
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->had) {
        environment_.Set(it->name, it->value);
      } else {
        environment_.Unset(it->name);
      }
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  bool Set(const std::string& name, const std::string& value) {
    Save(name);
    return environment_.Set(name, value);
  }
  bool Unset(const std::string& name) {
    Save(name);
    return environment_.Unset(name);
  }

 private:
  struct Saved {
    std::string name;
    bool had = false;
    std::string value;
  };
  void Save(const std::string& name) {
    Saved saved;
    saved.name = name;
    saved.had = environment_.Get(name, &saved.value);
    saved_.push_back(saved);
  }

  Environment& environment_;
  std::vector<Saved> saved_;
};

// One string value of an existing key.
class ScopedRegistryString {
 public:
  ScopedRegistryString(Registry& registry, RegKey hive, std::string key, std::string name)
      : registry_(registry), hive_(hive), key_(std::move(key)), name_(std::move(name)) {}
  ~ScopedRegistryString() {
    if (!changed_) return;
    ScopedRegKey key(registry_);
    if (registry_.OpenKey(hive_, key_, RegAccess::kAll, key.Out()) != kErrorSuccess) return;
    if (had_) {
      registry_.SetString(key.Get(), name_, old_);
    } else {
      registry_.DeleteValue(key.Get(), name_);
    }
  }
  ScopedRegistryString(const ScopedRegistryString&) = delete;
  ScopedRegistryString& operator=(const ScopedRegistryString&) = delete;

  bool Set(const std::string& value) {
    ScopedRegKey key(registry_);
    if (registry_.OpenKey(hive_, key_, RegAccess::kAll, key.Out()) != kErrorSuccess) return false;
    if (!changed_) {
      had_ = registry_.GetString(key.Get(), name_, &old_) == kErrorSuccess;
      changed_ = true;
    }
    return registry_.SetString(key.Get(), name_, value) == kErrorSuccess;
  }

 private:
  Registry& registry_;
  RegKey hive_;
  std::string key_;
  std::string name_;
  bool changed_ = false;
  bool had_ = false;
  std::string old_;
};

// A file the test may write or delete (such as the system's boot-time
// initialisation file): its content is noted now and put back at the end.
class ScopedFileContent {
 public:
  ScopedFileContent(FileSystem& files, std::string path) : files_(files), path_(std::move(path)) {
    had_ = files_.IsFile(path_);
    if (had_) old_ = ReadWholeFile(files_, path_, std::string());
  }
  ~ScopedFileContent() {
    if (had_) {
      WriteWholeFile(files_, path_, old_);
    } else {
      files_.DeleteFile(path_);
    }
  }
  ScopedFileContent(const ScopedFileContent&) = delete;
  ScopedFileContent& operator=(const ScopedFileContent&) = delete;

 private:
  FileSystem& files_;
  std::string path_;
  bool had_ = false;
  std::string old_;
};

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_SCOPED_SETTINGS_H
