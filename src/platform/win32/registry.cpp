// Registry over advapi32's RegXxxA functions. A RegKey holds the HKEY's
// value; the predefined hives use the interface's 32-bit numbers, which
// are turned into the real (sign-extended on 64-bit Windows) handles here
// and are never closed.
#include "platform/win32/win32_platform.h"

namespace crx {
namespace win32 {

namespace {

bool IsPredefined(RegKey key) {
  return key >= 0x80000000u && key <= 0x80000006u;
}

HKEY ToHkey(RegKey key) {
  if (IsPredefined(key)) {
    // HKEY_CURRENT_USER and friends are (HKEY)(LONG)0x8000000x.
    return reinterpret_cast<HKEY>(
        static_cast<intptr_t>(static_cast<int32_t>(static_cast<uint32_t>(key))));
  }
  return reinterpret_cast<HKEY>(key);
}

RegKey FromHkey(HKEY key) {
  auto value = reinterpret_cast<uintptr_t>(key);
  // RegCreateKeyEx hands a predefined key back as it is when the sub key
  // is empty; map it to the interface's number so it is never closed.
  auto low = static_cast<uint32_t>(value);
  if (low >= 0x80000000u && low <= 0x80000006u &&
      reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(low))) == key) {
    return low;
  }
  return value;
}

REGSAM Sam(RegAccess access) { return access == RegAccess::kAll ? KEY_ALL_ACCESS : KEY_READ; }

class Win32Registry final : public Registry {
 public:
  long OpenKey(RegKey parent, const std::string& sub_key, RegAccess access,
               RegKey* key) override {
    HKEY h = nullptr;
    LONG rc = ::RegOpenKeyExA(ToHkey(parent), sub_key.c_str(), 0, Sam(access), &h);
    if (rc == ERROR_SUCCESS) *key = FromHkey(h);
    return rc;
  }

  long CreateKey(RegKey parent, const std::string& sub_key, RegAccess access, RegKey* key,
                 bool* created) override {
    HKEY h = nullptr;
    DWORD disposition = 0;
    LONG rc = ::RegCreateKeyExA(ToHkey(parent), sub_key.c_str(), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, Sam(access), nullptr, &h, &disposition);
    if (rc == ERROR_SUCCESS) {
      *key = FromHkey(h);
      if (created) *created = disposition == REG_CREATED_NEW_KEY;
    }
    return rc;
  }

  long CloseKey(RegKey key) override {
    if (IsPredefined(key)) return ERROR_SUCCESS;
    return ::RegCloseKey(ToHkey(key));
  }

  long DeleteKey(RegKey parent, const std::string& sub_key) override {
    return ::RegDeleteKeyA(ToHkey(parent), sub_key.c_str());
  }

  long DeleteValue(RegKey key, const std::string& name) override {
    return ::RegDeleteValueA(ToHkey(key), name.c_str());
  }

  long QueryValue(RegKey key, const std::string& name, uint32_t* type,
                  std::string* data) override {
    std::string buffer(256, '\0');
    for (;;) {
      DWORD kind = REG_NONE;
      DWORD size = static_cast<DWORD>(buffer.size());
      LONG rc = ::RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &kind,
                                   reinterpret_cast<BYTE*>(&buffer[0]), &size);
      if (rc == ERROR_MORE_DATA && buffer.size() < (1u << 28)) {
        // size holds what the value needs now; it may grow again before
        // the next call, hence the loop.
        buffer.resize(size > buffer.size() ? size : buffer.size() * 2);
        continue;
      }
      if (rc != ERROR_SUCCESS) return rc;
      buffer.resize(size);
      if (type) *type = kind;
      *data = std::move(buffer);
      return ERROR_SUCCESS;
    }
  }

  long SetValue(RegKey key, const std::string& name, uint32_t type, const void* data,
                size_t size) override {
    if (size > 0xFFFFFFFFu) return ERROR_INVALID_PARAMETER;
    return ::RegSetValueExA(ToHkey(key), name.c_str(), 0, type, static_cast<const BYTE*>(data),
                            static_cast<DWORD>(size));
  }

  long EnumKey(RegKey key, uint32_t index, std::string* name) override {
    // Key names have at most 255 characters; a multi-byte code page may
    // need twice the bytes.
    std::string buffer(512, '\0');
    for (;;) {
      DWORD length = static_cast<DWORD>(buffer.size());
      LONG rc = ::RegEnumKeyExA(ToHkey(key), index, &buffer[0], &length, nullptr, nullptr,
                                nullptr, nullptr);
      if (rc == ERROR_MORE_DATA && buffer.size() < 65536) {
        buffer.resize(buffer.size() * 2);
        continue;
      }
      if (rc != ERROR_SUCCESS) return rc;
      buffer.resize(length);
      *name = std::move(buffer);
      return ERROR_SUCCESS;
    }
  }

  long EnumValue(RegKey key, uint32_t index, std::string* name, uint32_t* type,
                 std::string* data) override {
    HKEY h = ToHkey(key);
    DWORD max_name = 0, max_data = 0;
    LONG rc = ::RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, &max_name, &max_data, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    // The maxima count UTF-16 characters and stored bytes; an ANSI name in
    // a multi-byte code page can take two bytes a character.
    std::string name_buffer(2 * static_cast<size_t>(max_name) + 2, '\0');
    std::string data_buffer(static_cast<size_t>(max_data) + 2, '\0');
    for (int attempt = 0;; ++attempt) {
      DWORD name_length = static_cast<DWORD>(name_buffer.size());
      DWORD data_size = static_cast<DWORD>(data_buffer.size());
      DWORD kind = REG_NONE;
      rc = ::RegEnumValueA(h, index, &name_buffer[0], &name_length, nullptr, &kind,
                           reinterpret_cast<BYTE*>(&data_buffer[0]), &data_size);
      if (rc == ERROR_MORE_DATA && attempt < 8) {
        // The value changed since the key was measured: grow both.
        if (data_size > data_buffer.size()) {
          data_buffer.resize(data_size);
        } else {
          data_buffer.resize(data_buffer.size() * 2);
        }
        name_buffer.resize(name_buffer.size() * 2);
        continue;
      }
      if (rc != ERROR_SUCCESS) return rc;
      name_buffer.resize(name_length);
      data_buffer.resize(data_size);
      *name = std::move(name_buffer);
      if (type) *type = kind;
      if (data) *data = std::move(data_buffer);
      return ERROR_SUCCESS;
    }
  }
};

}  // namespace

std::unique_ptr<Registry> NewRegistry() { return std::make_unique<Win32Registry>(); }

}  // namespace win32
}  // namespace crx
