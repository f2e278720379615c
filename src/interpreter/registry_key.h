#ifndef CRX_INTERPRETER_REGISTRY_KEY_H
#define CRX_INTERPRETER_REGISTRY_KEY_H

// The interpreter's registry key: opens a key path one component at a time
// from a hive (or from any open key), creating missing keys when allowed,
// and reads and writes values as the script commands need them. The key is
// closed when the object goes out of scope.
//
// Keys made on the way get a default value, so that a person browsing the
// registry sees what they are for: "velmora sub key entries" for a key in
// the middle of the path, "configurations" for the last one.

#include <cstdint>
#include <string>

#include "interpreter/script_interpreter.h"
#include "platform/platform.h"

namespace crx::interp {

class RegistryKey {
 public:
  // hive may be a predefined hive or any open key; the path is opened
  // below it. allow_create lets Open make missing keys.
  RegistryKey(Registry& registry, RegKey hive, bool allow_create = false);
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens path below the hive. A leading slash or back-slash is ignored,
  // trailing ones are dropped and empty components (doubled back-slashes)
  // are skipped; an empty path opens the hive itself. Each component is
  // opened with full access, or read access when full access is refused.
  // Returns success; LastResult() holds the system result either way.
  bool Open(const std::string& path);
  void Close();

  bool IsOpen() const { return handle_ != 0; }
  RegKey Handle() const { return handle_; }
  RegKey Hive() const { return hive_; }
  long LastResult() const { return last_result_; }
  void SetAllowCreate(bool allow) { allow_create_ = allow; }
  // Open appends every key it creates to created (hive and full path).
  void RecordCreatedKeys(std::vector<CreatedKey>* created) { created_ = created; }

  // A value as text: a 32-bit number in decimal ("%ld"), anything else as
  // text up to its first zero byte. Values longer than 512 bytes fail with
  // kErrorMoreData. An empty name reads the default value.
  bool GetValue(const std::string& name, std::string* text);
  bool SetText(const std::string& name, const std::string& text);
  bool SetNumber(const std::string& name, uint32_t value);
  bool SetDefault(const std::string& text) { return SetText(std::string(), text); }

  // Enumeration: each call returns the next value (name and text) or
  // subkey name; false at the end (LastResult() kErrorNoMoreItems) or on
  // an error. RestartEnumeration goes back to the first of both.
  bool NextValue(std::string* name, std::string* text);
  bool NextSubkey(std::string* name);
  void RestartEnumeration() {
    value_index_ = 0;
    subkey_index_ = 0;
  }

  // Deletes a subkey that has no subkeys of its own, or a value.
  bool DeleteSubkey(const std::string& name);
  bool DeleteValue(const std::string& name);

  // The largest value GetValue reads.
  static constexpr size_t kValueLimit = 512;

 private:
  bool Done(long result) {
    last_result_ = result;
    return result == kErrorSuccess;
  }
  static std::string ValueText(uint32_t type, const std::string& data);

  Registry& registry_;
  RegKey hive_;
  RegKey handle_ = 0;
  bool owns_handle_ = false;
  bool allow_create_;
  std::vector<CreatedKey>* created_ = nullptr;
  long last_result_ = kErrorSuccess;
  uint32_t value_index_ = 0;
  uint32_t subkey_index_ = 0;
};

// A key path as RegistryKey::Open sees it: the leading separator and
// trailing ones gone, components joined by single back-slashes.
std::string TrimKeyPath(const std::string& path);

}  // namespace crx::interp

#endif  // CRX_INTERPRETER_REGISTRY_KEY_H
