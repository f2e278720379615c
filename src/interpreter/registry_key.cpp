#include "interpreter/registry_key.h"

#include <vector>

#include "common/format.h"

namespace crx::interp {

namespace {

// The components of a key path: one leading '/' or '\\' is ignored,
// trailing ones are dropped, and the rest is split at back-slashes (a
// forward slash inside a name is part of the name, as on Windows).
std::vector<std::string> KeyComponents(const std::string& path) {
  size_t begin = 0;
  if (!path.empty() && (path[0] == '\\' || path[0] == '/')) begin = 1;
  size_t end = path.size();
  while (end > begin && (path[end - 1] == '\\' || path[end - 1] == '/')) --end;
  std::vector<std::string> components;
  std::string part;
  for (size_t i = begin; i < end; ++i) {
    if (path[i] == '\\') {
      if (!part.empty()) components.push_back(part);
      part.clear();
    } else {
      part += path[i];
    }
  }
  if (!part.empty()) components.push_back(part);
  return components;
}

constexpr const char* kMiddleDefault = "velmora sub key entries";
constexpr const char* kLastDefault = "configurations";

}  // namespace

std::string TrimKeyPath(const std::string& path) {
  std::string out;
  for (const std::string& c : KeyComponents(path)) {
    if (!out.empty()) out += '\\';
    out += c;
  }
  return out;
}

RegistryKey::RegistryKey(Registry& registry, RegKey hive, bool allow_create)
    : registry_(registry), hive_(hive), allow_create_(allow_create) {}

RegistryKey::~RegistryKey() { Close(); }

void RegistryKey::Close() {
  if (handle_ != 0 && owns_handle_) registry_.CloseKey(handle_);
  handle_ = 0;
  owns_handle_ = false;
  RestartEnumeration();
}

bool RegistryKey::Open(const std::string& path) {
  Close();
  std::vector<std::string> components = KeyComponents(path);
  if (components.empty()) {
    // The hive itself, through a handle of its own.
    RegKey key = 0;
    long rc = registry_.OpenKey(hive_, std::string(), RegAccess::kAll, &key);
    if (rc != kErrorSuccess) rc = registry_.OpenKey(hive_, std::string(), RegAccess::kRead, &key);
    if (rc == kErrorSuccess) {
      handle_ = key;
      owns_handle_ = true;
    }
    return Done(rc);
  }
  RegKey current = hive_;
  bool own_current = false;
  for (size_t i = 0; i < components.size(); ++i) {
    const std::string& name = components[i];
    RegKey next = 0;
    long rc = registry_.OpenKey(current, name, RegAccess::kAll, &next);
    if (rc != kErrorSuccess && rc != kErrorFileNotFound) {
      // Full access refused: reading and enumerating may still be allowed.
      rc = registry_.OpenKey(current, name, RegAccess::kRead, &next);
    }
    if (rc == kErrorFileNotFound && allow_create_) {
      bool created = false;
      rc = registry_.CreateKey(current, name, RegAccess::kAll, &next, &created);
      if (rc == kErrorSuccess && created) {
        registry_.SetString(next, std::string(),
                            i + 1 == components.size() ? kLastDefault : kMiddleDefault);
        if (created_) {
          std::string made;
          for (size_t j = 0; j <= i; ++j) made += (j ? "\\" : "") + components[j];
          created_->push_back(CreatedKey{hive_, made});
        }
      }
    }
    if (own_current) registry_.CloseKey(current);
    if (rc != kErrorSuccess) return Done(rc);
    current = next;
    own_current = true;
  }
  handle_ = current;
  owns_handle_ = true;
  return Done(kErrorSuccess);
}

std::string RegistryKey::ValueText(uint32_t type, const std::string& data) {
  if (type == kRegDword && data.size() == 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    uint32_t v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                 (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return Format("%ld", static_cast<long>(static_cast<int32_t>(v)));
  }
  size_t zero = data.find('\0');
  return zero == std::string::npos ? data : data.substr(0, zero);
}

bool RegistryKey::GetValue(const std::string& name, std::string* text) {
  if (!IsOpen()) return Done(kErrorInvalidHandle);
  uint32_t type = kRegNone;
  std::string data;
  if (!Done(registry_.QueryValue(handle_, name, &type, &data))) return false;
  // The value is read into a buffer of kValueLimit bytes; a longer one
  // does not fit, as RegQueryValueEx reports.
  if (data.size() > kValueLimit) return Done(kErrorMoreData);
  *text = ValueText(type, data);
  return true;
}

bool RegistryKey::SetText(const std::string& name, const std::string& text) {
  if (!IsOpen()) return Done(kErrorInvalidHandle);
  return Done(registry_.SetString(handle_, name, text));
}

bool RegistryKey::SetNumber(const std::string& name, uint32_t value) {
  if (!IsOpen()) return Done(kErrorInvalidHandle);
  return Done(registry_.SetDword(handle_, name, value));
}

bool RegistryKey::NextValue(std::string* name, std::string* text) {
  if (!IsOpen()) return Done(kErrorInvalidHandle);
  uint32_t type = kRegNone;
  std::string data;
  if (!Done(registry_.EnumValue(handle_, value_index_, name, &type, &data))) return false;
  ++value_index_;
  *text = ValueText(type, data);
  return true;
}

bool RegistryKey::NextSubkey(std::string* name) {
  if (!IsOpen()) return Done(kErrorInvalidHandle);
  if (!Done(registry_.EnumKey(handle_, subkey_index_, name))) return false;
  ++subkey_index_;
  return true;
}

bool RegistryKey::DeleteSubkey(const std::string& name) {
  if (!IsOpen()) return Done(kErrorInvalidHandle);
  return Done(registry_.DeleteKey(handle_, name));
}

bool RegistryKey::DeleteValue(const std::string& name) {
  if (!IsOpen()) return Done(kErrorInvalidHandle);
  return Done(registry_.DeleteValue(handle_, name));
}

}  // namespace crx::interp
