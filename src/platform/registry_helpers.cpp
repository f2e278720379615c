// The Registry helpers, built only on the interface's own calls so that
// both implementations share them.
#include "platform/platform.h"

namespace crx {

namespace {

// ERROR_UNSUPPORTED_TYPE, as RegGetValue returns it for a value of another
// type than the one asked for.
constexpr long kErrorUnsupportedType = 1630;

}  // namespace

long Registry::SetString(RegKey key, const std::string& name, const std::string& value) {
  // c_str() carries the terminating zero, stored with the text.
  return SetValue(key, name, kRegSz, value.c_str(), value.size() + 1);
}

long Registry::SetDword(RegKey key, const std::string& name, uint32_t value) {
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(value & 0xff),
      static_cast<unsigned char>((value >> 8) & 0xff),
      static_cast<unsigned char>((value >> 16) & 0xff),
      static_cast<unsigned char>((value >> 24) & 0xff),
  };
  return SetValue(key, name, kRegDword, bytes, sizeof bytes);
}

long Registry::GetString(RegKey key, const std::string& name, std::string* value) {
  uint32_t type = kRegNone;
  std::string data;
  long rc = QueryValue(key, name, &type, &data);
  if (rc != kErrorSuccess) return rc;
  if (type != kRegSz && type != kRegExpandSz) return kErrorUnsupportedType;
  size_t zero = data.find('\0');
  if (zero != std::string::npos) data.resize(zero);
  *value = data;
  return kErrorSuccess;
}

long Registry::GetDword(RegKey key, const std::string& name, uint32_t* value) {
  uint32_t type = kRegNone;
  std::string data;
  long rc = QueryValue(key, name, &type, &data);
  if (rc != kErrorSuccess) return rc;
  if (type != kRegDword || data.size() != 4) return kErrorUnsupportedType;
  const auto* b = reinterpret_cast<const unsigned char*>(data.data());
  *value = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
  return kErrorSuccess;
}

long Registry::DeleteTree(RegKey parent, const std::string& sub_key) {
  RegKey key = 0;
  long rc = OpenKey(parent, sub_key, RegAccess::kAll, &key);
  if (rc != kErrorSuccess) return rc;
  // Subkeys go depth first. Each pass removes the first subkey, so the
  // enumeration always restarts at index 0; a subkey that cannot be
  // removed ends the loop with its error instead of spinning.
  for (;;) {
    std::string child;
    rc = EnumKey(key, 0, &child);
    if (rc == kErrorNoMoreItems) {
      rc = kErrorSuccess;
      break;
    }
    if (rc != kErrorSuccess) break;
    rc = DeleteTree(key, child);
    if (rc != kErrorSuccess) break;
  }
  // With an empty sub key the key itself stays, emptied of its values too
  // (RegDeleteTree's rule).
  if (rc == kErrorSuccess && sub_key.empty()) {
    for (;;) {
      std::string name, data;
      uint32_t type = kRegNone;
      rc = EnumValue(key, 0, &name, &type, &data);
      if (rc == kErrorNoMoreItems) {
        rc = kErrorSuccess;
        break;
      }
      if (rc != kErrorSuccess) break;
      rc = DeleteValue(key, name);
      if (rc != kErrorSuccess) break;
    }
  }
  CloseKey(key);
  if (rc != kErrorSuccess || sub_key.empty()) return rc;
  return DeleteKey(parent, sub_key);
}

}  // namespace crx
