// Shell services: boot-time moves and loading libraries.
#include "platform/win32/win32_platform.h"

namespace crx {
namespace win32 {

namespace {

class Win32Library final : public Library {
 public:
  explicit Win32Library(HMODULE module) : module_(module) {}
  ~Win32Library() override { ::FreeLibrary(module_); }
  Win32Library(const Win32Library&) = delete;
  Win32Library& operator=(const Win32Library&) = delete;

  bool CallEntry(const std::string& name, long* result) override {
    // DllRegisterServer and its kind: HRESULT __stdcall (void).
    using EntryFn = HRESULT(STDAPICALLTYPE*)();
    FARPROC proc = ::GetProcAddress(module_, name.c_str());
    if (!proc) return false;
    auto entry = reinterpret_cast<EntryFn>(reinterpret_cast<void (*)()>(proc));
    HRESULT hr = entry();
    if (result) *result = hr;
    return true;
  }

  void* Entry(const std::string& name) override {
    FARPROC proc = ::GetProcAddress(module_, name.c_str());
    return reinterpret_cast<void*>(reinterpret_cast<void (*)()>(proc));
  }

 private:
  HMODULE module_;
};

class Win32Shell final : public Shell {
 public:
  bool MoveAtBoot(const std::string& from, const std::string& to) override {
    return ::MoveFileExA(from.c_str(), to.empty() ? nullptr : to.c_str(),
                         MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
  }

  std::unique_ptr<Library> LoadLibrary(const std::string& path) override {
    // A library whose dependencies are missing must fail with an error
    // code, not stop an unattended installation with a message box.
    UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = ::LoadLibraryA(path.c_str());
    DWORD error = ::GetLastError();
    ::SetErrorMode(previous);
    if (!module) {
      ::SetLastError(error);
      return nullptr;
    }
    return std::make_unique<Win32Library>(module);
  }
};

}  // namespace

std::unique_ptr<Shell> NewShell() { return std::make_unique<Win32Shell>(); }

}  // namespace win32
}  // namespace crx
