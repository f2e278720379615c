// Shell services: boot-time moves, loading libraries, shell links and
// class identifiers.
#include "platform/win32/win32_platform.h"

#include <cstdio>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

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

// Creates the shell's link object (IShellLinkA), sets it up and saves it
// through IPersistFile. COM is initialised on this thread.
HRESULT MakeShellLink(const std::string& target, const std::string& link,
                      const std::string& description, const std::string& working_folder,
                      uint32_t* failed_steps) {
  uint32_t failed = 0;
  IShellLinkA* shell_link = nullptr;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IShellLinkA, reinterpret_cast<void**>(&shell_link));
  if (FAILED(hr)) return hr;
  if (FAILED(shell_link->SetPath(target.c_str()))) failed |= kLinkPathFailed;
  if (FAILED(shell_link->SetDescription(description.c_str()))) failed |= kLinkDescriptionFailed;
  if (!working_folder.empty() && FAILED(shell_link->SetWorkingDirectory(working_folder.c_str()))) {
    failed |= kLinkWorkingFolderFailed;
  }
  IPersistFile* persist = nullptr;
  hr = shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist));
  if (SUCCEEDED(hr)) {
    // The link's path in wide characters, at most MAX_PATH of them; a
    // path that does not fit is refused rather than cut.
    WCHAR wide[MAX_PATH];
    int n = ::MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, MAX_PATH);
    hr = n > 0 ? persist->Save(wide, TRUE) : HRESULT_FROM_WIN32(::GetLastError());
    persist->Release();
  }
  shell_link->Release();
  if (failed_steps) *failed_steps = failed;
  return hr;
}

class Win32Shell final : public Shell {
 public:
  bool MoveAtBoot(const std::string& from, const std::string& to) override {
    return ::MoveFileExA(from.c_str(), to.empty() ? nullptr : to.c_str(),
                         MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
  }

  // Kestrova initialises COM at start-up; a caller that has not (a test
  // program) gets it for the length of the call.
  long CreateShellLink(const std::string& target, const std::string& link,
                       const std::string& description, const std::string& working_folder,
                       uint32_t* failed_steps) override {
    if (failed_steps) *failed_steps = 0;
    const HRESULT com = ::CoInitialize(nullptr);
    HRESULT hr = MakeShellLink(target, link, description, working_folder, failed_steps);
    if (SUCCEEDED(com)) ::CoUninitialize();
    return hr;
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

  bool ClassIdFromProgId(const std::string& prog_id, std::string* clsid, long* result) override {
    int length = ::MultiByteToWideChar(CP_ACP, 0, prog_id.c_str(), -1, nullptr, 0);
    if (length <= 0) {
      *result = static_cast<long>(0x800401F3L);  // CO_E_CLASSSTRING
      return false;
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, prog_id.c_str(), -1, &wide[0], length);
    CLSID id;
    HRESULT hr = ::CLSIDFromProgID(wide.c_str(), &id);
    *result = hr;
    if (FAILED(hr)) return false;
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0],
                  id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6],
                  id.Data4[7]);
    *clsid = text;
    return true;
  }
};

}  // namespace

std::unique_ptr<Shell> NewShell() { return std::make_unique<Win32Shell>(); }

}  // namespace win32
}  // namespace crx
