// The COM local server of "Cratex.Archive": a class factory registered for
// a single use, and an object that implements IDispatch over the
// automation object's eleven methods (dispatch identifiers 1 to 11; no
// type library). Arguments arrive as BSTRs (converted to the ANSI code
// page) or 32-bit integers; results go back as VARIANT_BOOL.
//
// The server has no window. It runs a message loop (calls arrive as
// window messages of COM's own hidden window) until the object is
// released. It also watches the process that started it: under wine that
// is the client itself, and a client killed mid-archive would otherwise
// leave this server waiting for ever. When that process ends, the object's
// open archive is abandoned and the server ends.
#include "programs/automation_server_win32.h"

#include <memory>
#include <string>

// Before <windows.h>: its macros (MessageBox, GetFreeSpace) would rename
// the methods these headers declare.
#include "builder/automation.h"
#include "platform/platform.h"

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <tlhelp32.h>

namespace crx {
namespace {

const CLSID kClassId = {0xCE70C7A4, 0x57AE, 0x11D3, {0xB4, 0x4F, 0xA6, 0x65, 0x3C, 0x60, 0x9E, 0x27}};
const IID kInterfaceId = {0xCE70C7A6, 0x57AE, 0x11D3, {0xB4, 0x4F, 0xA6, 0x65, 0x3C, 0x60, 0x9E, 0x27}};

// A server that no client claims ends after this long.
constexpr DWORD kUnclaimedTimeoutMs = 60 * 1000;

enum class Kind { kText, kNumber, kNone };
constexpr Kind kParameters[11] = {Kind::kText, Kind::kText,   Kind::kText, Kind::kText,
                                  Kind::kText, Kind::kText,   Kind::kNone, Kind::kNone,
                                  Kind::kText, Kind::kNumber, Kind::kText};

// Server state, all on the one thread.
struct ServerState {
  LONG objects = 0;      // live objects
  LONG locks = 0;        // IClassFactory::LockServer
  bool claimed = false;  // an object was made
  DWORD thread = 0;
};
ServerState g_server;

void EndServerIfIdle() {
  if (g_server.objects == 0 && g_server.locks == 0 && g_server.claimed) {
    ::PostThreadMessageA(g_server.thread, WM_QUIT, 0, 0);
  }
}

std::string AnsiFromBstr(BSTR text) {
  if (text == nullptr) return std::string();
  const int length = static_cast<int>(::SysStringLen(text));
  if (length == 0) return std::string();
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) ::WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], size, nullptr, nullptr);
  return out;
}

class ArchiveObject;
ArchiveObject* g_object = nullptr;  // the one object of this server

class ArchiveObject final : public IDispatch {
 public:
  ~ArchiveObject() = default;
  explicit ArchiveObject(Platform& platform) : object_(platform) {
    ++g_server.objects;
    g_server.claimed = true;
    g_object = this;
  }

  // The client is gone without releasing the object: apply the closing
  // rule now (the process ends next).
  void ClientGone() { object_.Release(); }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, kInterfaceId)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = --refs_;
    if (left == 0) {
      // The client let go: an archive still open is abandoned.
      object_.Release();
      if (g_object == this) g_object = nullptr;
      delete this;
      --g_server.objects;
      EndServerIfIdle();
    }
    return static_cast<ULONG>(left);
  }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (names == nullptr || ids == nullptr) return E_POINTER;
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (count == 0) return S_OK;
    const std::string name = AnsiName(names[0]);
    for (int m = 0; m < 11; ++m) {
      if (::lstrcmpiA(name.c_str(), builder::kAutomationMethods[m]) == 0) ids[0] = m + 1;
    }
    if (ids[0] == DISPID_UNKNOWN) result = DISP_E_UNKNOWNNAME;
    // The methods have no named parameters.
    if (count > 1) result = DISP_E_UNKNOWNNAME;
    return result;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT* arg_error) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (id < 1 || id > 11) return DISP_E_MEMBERNOTFOUND;
    if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params == nullptr) return E_INVALIDARG;
    if (params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
    const Kind kind = kParameters[id - 1];
    const UINT wanted = kind == Kind::kNone ? 0 : 1;
    if (params->cArgs != wanted) return DISP_E_BADPARAMCOUNT;

    std::string text;
    int32_t number = 0;
    if (kind != Kind::kNone) {
      VARIANT converted;
      ::VariantInit(&converted);
      const VARTYPE type = kind == Kind::kText ? VT_BSTR : VT_I4;
      if (FAILED(::VariantChangeType(&converted, &params->rgvarg[0], 0, type))) {
        if (arg_error != nullptr) *arg_error = 0;
        return DISP_E_TYPEMISMATCH;
      }
      if (kind == Kind::kText) {
        BSTR bstr = converted.bstrVal;
        const UINT length = bstr ? ::SysStringLen(bstr) : 0;
        for (UINT i = 0; i < length; ++i) {
          if (bstr[i] == 0) {  // no path or text holds a zero character
            ::VariantClear(&converted);
            if (arg_error != nullptr) *arg_error = 0;
            return DISP_E_TYPEMISMATCH;
          }
        }
        text = AnsiFromBstr(bstr);
      } else {
        number = static_cast<int32_t>(converted.lVal);
      }
      ::VariantClear(&converted);
    }

    bool answer = false;
    bool has_answer = true;
    switch (id) {
      case 1: answer = object_.CreateArchive(text); break;
      case 2: answer = object_.AddDirectory(text); break;
      case 3: answer = object_.AddFile(text); break;
      case 4: answer = object_.ProcessScript(text); break;
      case 5: answer = object_.ExtractArchive(text); break;
      case 6: object_.SetOptions(text); has_answer = false; break;
      case 7: answer = object_.CloseArchive(); break;
      case 8: answer = object_.AbortArchive(); break;
      case 9: answer = object_.SetPassword(text); break;
      case 10: answer = object_.SetExtractionOverwriteMode(number); break;
      default: object_.SetIgnorableFileExtensions(text); has_answer = false; break;
    }
    if (result != nullptr) {
      ::VariantInit(result);
      if (has_answer) {
        result->vt = VT_BOOL;
        result->boolVal = answer ? VARIANT_TRUE : VARIANT_FALSE;
      }
    }
    return S_OK;
  }

 private:
  static std::string AnsiName(LPOLESTR name) {
    if (name == nullptr) return std::string();
    char buffer[64] = {};
    if (::WideCharToMultiByte(CP_ACP, 0, name, -1, buffer, sizeof buffer, nullptr, nullptr) ==
        0) {
      return std::string();  // longer than any method name
    }
    return buffer;
  }

  LONG refs_ = 1;
  builder::AutomationObject object_;
};

class ArchiveFactory final : public IClassFactory {
 public:
  explicit ArchiveFactory(Platform& platform) : platform_(platform) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory lives as long as the server.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    // One object per server: a second one would share this process.
    if (g_server.claimed) return CO_E_SERVER_STOPPING;
    ArchiveObject* object = new ArchiveObject(platform_);
    const HRESULT hr = object->QueryInterface(riid, out);
    object->Release();  // the reference QueryInterface added is the client's
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++g_server.locks;
    } else if (g_server.locks > 0) {
      --g_server.locks;
      EndServerIfIdle();
    }
    return S_OK;
  }

 private:
  Platform& platform_;
};

// The process that started this one, opened to wait on; null when it is
// not known or already gone.
HANDLE OpenStarter() {
  const DWORD self = ::GetCurrentProcessId();
  DWORD parent = 0;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot, &entry); more;
       more = ::Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == self) {
      parent = entry.th32ParentProcessID;
      break;
    }
  }
  ::CloseHandle(snapshot);
  if (parent == 0) return nullptr;
  return ::OpenProcess(SYNCHRONIZE, FALSE, parent);
}

}  // namespace

int RunAutomationServer(Platform& platform) {
  if (FAILED(::OleInitialize(nullptr))) {
    ::MessageBoxA(nullptr,
                  "OLE initialization failed.  Make sure that the OLE libraries are the correct "
                  "version.",
                  "Cratex", MB_OK | MB_ICONSTOP);
    return 1;
  }
  g_server.thread = ::GetCurrentThreadId();
  // Make sure the thread has a message queue before anything is posted.
  MSG message;
  ::PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

  ArchiveFactory factory(platform);
  DWORD cookie = 0;
  if (FAILED(::CoRegisterClassObject(kClassId, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE,
                                     &cookie))) {
    ::OleUninitialize();
    return 1;
  }

  HANDLE starter = OpenStarter();
  const DWORD started = ::GetTickCount();
  bool running = true;
  bool client_gone = false;
  while (running) {
    DWORD timeout = INFINITE;
    if (!g_server.claimed) {
      const DWORD waited = ::GetTickCount() - started;
      if (waited >= kUnclaimedTimeoutMs) break;
      timeout = kUnclaimedTimeoutMs - waited;
    }
    const DWORD count = starter != nullptr ? 1 : 0;
    const DWORD woke = ::MsgWaitForMultipleObjects(count, &starter, FALSE, timeout, QS_ALLINPUT);
    if (count == 1 && woke == WAIT_OBJECT_0) {
      client_gone = true;
      break;
    }
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        running = false;
        break;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
  }
  ::CoRevokeClassObject(cookie);
  if (starter != nullptr) ::CloseHandle(starter);
  if (client_gone) {
    // The object may still be referenced by COM's stub for the dead
    // client; its archive is abandoned now and the process ends without
    // waiting for COM to notice.
    if (g_object != nullptr) g_object->ClientGone();
    ::ExitProcess(0);
  }
  ::OleUninitialize();
  return 0;
}

}  // namespace crx
