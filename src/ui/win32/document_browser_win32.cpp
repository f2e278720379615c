// The "Kestrova Browser" window: a top-level window that hosts the
// system's web-browser control through a minimal OLE container (client
// site, in-place site and in-place frame in one object) and navigates it
// to the document. ShowDocument keeps the messages of every window flowing
// until each browser window it opened is closed; keys typed in the page go
// to the control first (Tab, arrows, Enter on a link), and Escape closes
// the window.
//
// The browser control only hosts the system's HTML engine. Where that
// engine cannot be made (wine without its separately shipped engine, or
// with it switched off) the control still comes up but shows an empty
// page; ShowDocument then makes no window and says there is no browser, so
// the interpreter offers to open the document with its associated program.
// The platform header comes first: the system headers define a macro that
// clashes with one of its member names.
#include "platform/platform.h"
#include "ui/document_browser.h"
#include "ui/win32/display_win32.h"
#include "ui/win32/document_browser_win32.h"
#include "ui/win32/win32_front_end.h"

#include <windows.h>
#include <commctrl.h>
#include <exdisp.h>
#include <ole2.h>
#include <oleidl.h>
#include <shellapi.h>

#include <string>

namespace crx::ui {

namespace {

constexpr const char* kClassName = "KestrovaBrowserWindow";
constexpr const char* kCaption = "Kestrova Browser";

// Browser windows open now; ShowDocument waits for none.
int g_open_windows = 0;

class BrowserSite final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
 public:
  explicit BrowserSite(HWND window) : window_(window) {}

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
      *out = static_cast<IOleClientSite*>(this);
    } else if (IsEqualIID(riid, IID_IOleInPlaceSite) || IsEqualIID(riid, IID_IOleWindow)) {
      *out = static_cast<IOleInPlaceSite*>(this);
    } else if (IsEqualIID(riid, IID_IOleInPlaceFrame) ||
               IsEqualIID(riid, IID_IOleInPlaceUIWindow)) {
      *out = static_cast<IOleInPlaceFrame*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (both the site and the frame)
  STDMETHODIMP GetWindow(HWND* out) override {
    *out = window_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                LPRECT position, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO info) override {
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    ::GetClientRect(window_, position);
    ::GetClientRect(window_, clip);
    info->fMDIApp = FALSE;
    info->hwndFrame = window_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow
  STDMETHODIMP GetBorder(LPRECT) override { return E_NOTIMPL; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }

  // IOleInPlaceFrame
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

 private:
  HWND window_;
  LONG refs_ = 1;
};

// What one browser window holds; kept in the window's user data.
struct BrowserWindow {
  BrowserSite* site = nullptr;
  IOleObject* object = nullptr;
  IWebBrowser2* browser = nullptr;
  IOleInPlaceActiveObject* active = nullptr;  // takes the page's keys
  HWND toolbar = nullptr;  // back, forward and print; null without
};

// The HTML document object of the system's HTML engine (mingw's uuid
// library does not name it).
const CLSID kHtmlDocument = {0x25336920, 0x03F9, 0x11CF,
                             {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};

// True when the HTML engine behind the browser control can be made: without
// it the control shows nothing at all.
bool HtmlEngineAvailable() {
  IUnknown* document = nullptr;
  if (FAILED(::CoCreateInstance(kHtmlDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(&document))) ||
      !document) {
    return false;
  }
  document->Release();
  return true;
}

// The toolbar's commands.
constexpr int kGoBack = 1;
constexpr int kGoForward = 2;
constexpr int kPrint = 3;

// The height the toolbar takes at the top of the window (0 without one).
int ToolbarHeight(const BrowserWindow* w) {
  if (w == nullptr || w->toolbar == nullptr) return 0;
  ::SendMessageA(w->toolbar, TB_AUTOSIZE, 0, 0);
  RECT r;
  ::GetWindowRect(w->toolbar, &r);
  return r.bottom - r.top;
}

// Back, forward and print buttons with the system's small images.
HWND MakeToolbar(HWND window) {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_BAR_CLASSES;
  ::InitCommonControlsEx(&controls);
  HWND bar = ::CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr,
                               WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST | CCS_TOP,
                               0, 0, 0, 0, window, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  if (bar == nullptr) return nullptr;
  ::SendMessageA(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  TBADDBITMAP history = {HINST_COMMCTRL, IDB_HIST_SMALL_COLOR};
  const int hist = static_cast<int>(
      ::SendMessageA(bar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&history)));
  TBADDBITMAP standard = {HINST_COMMCTRL, IDB_STD_SMALL_COLOR};
  const int std_base = static_cast<int>(
      ::SendMessageA(bar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&standard)));
  static char back[] = "Back";
  static char forward[] = "Forward";
  static char print[] = "Print";
  TBBUTTON buttons[3] = {};
  buttons[0] = {hist + HIST_BACK, kGoBack, TBSTATE_ENABLED, BTNS_BUTTON | BTNS_AUTOSIZE, {}, 0,
                reinterpret_cast<INT_PTR>(back)};
  buttons[1] = {hist + HIST_FORWARD, kGoForward, TBSTATE_ENABLED, BTNS_BUTTON | BTNS_AUTOSIZE,
                {}, 0, reinterpret_cast<INT_PTR>(forward)};
  buttons[2] = {std_base + STD_PRINT, kPrint, TBSTATE_ENABLED, BTNS_BUTTON | BTNS_AUTOSIZE, {},
                0, reinterpret_cast<INT_PTR>(print)};
  ::SendMessageA(bar, TB_ADDBUTTONSA, 3, reinterpret_cast<LPARAM>(buttons));
  ::SendMessageA(bar, TB_AUTOSIZE, 0, 0);
  return bar;
}

void Release(BrowserWindow* w) {
  if (w->active) w->active->Release();
  if (w->browser) w->browser->Release();
  if (w->object) {
    w->object->Close(OLECLOSE_NOSAVE);
    w->object->SetClientSite(nullptr);
    w->object->Release();
  }
  if (w->site) w->site->Release();
  *w = BrowserWindow();
}

// Makes the control inside window and starts it on address; false when
// the system has no browser control to give.
bool Embed(HWND window, BrowserWindow* w, const std::wstring& address) {
  w->site = new BrowserSite(window);
  if (FAILED(::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                reinterpret_cast<void**>(&w->object)))) {
    w->object = nullptr;
    return false;
  }
  if (FAILED(w->object->SetClientSite(static_cast<IOleClientSite*>(w->site)))) return false;
  RECT rect;
  ::GetClientRect(window, &rect);
  if (FAILED(w->object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr,
                               static_cast<IOleClientSite*>(w->site), 0, window, &rect))) {
    return false;
  }
  if (FAILED(w->object->QueryInterface(IID_IWebBrowser2,
                                       reinterpret_cast<void**>(&w->browser)))) {
    w->browser = nullptr;
    return false;
  }
  // The page takes the keyboard: it is made the active object and asked
  // first about every key (Release lets go of it).
  if (FAILED(w->object->QueryInterface(IID_IOleInPlaceActiveObject,
                                       reinterpret_cast<void**>(&w->active)))) {
    w->active = nullptr;
  }
  w->object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, static_cast<IOleClientSite*>(w->site), 0,
                    window, &rect);
  const int top = ToolbarHeight(w);
  w->browser->put_Left(0);
  w->browser->put_Top(top);
  w->browser->put_Width(rect.right - rect.left);
  w->browser->put_Height(rect.bottom - rect.top - top);
  BSTR url = ::SysAllocString(address.c_str());
  VARIANT empty;
  ::VariantInit(&empty);
  HRESULT hr = w->browser->Navigate(url, &empty, &empty, &empty, &empty);
  ::SysFreeString(url);
  return SUCCEEDED(hr);
}

LRESULT CALLBACK BrowserProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  BrowserWindow* w = reinterpret_cast<BrowserWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_SIZE:
      if (w && w->browser) {
        const int top = ToolbarHeight(w);
        w->browser->put_Top(top);
        w->browser->put_Width(LOWORD(lparam));
        w->browser->put_Height(HIWORD(lparam) - top);
      }
      return 0;
    case WM_SETFOCUS:
      // Back to the page when the window gets the keyboard again.
      if (w && w->object && w->site) {
        RECT rect;
        ::GetClientRect(window, &rect);
        w->object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, static_cast<IOleClientSite*>(w->site),
                          0, window, &rect);
      }
      return 0;
    case WM_COMMAND:
      if (w && w->browser && w->toolbar && reinterpret_cast<HWND>(lparam) == w->toolbar) {
        switch (LOWORD(wparam)) {
          case kGoBack: w->browser->GoBack(); break;
          case kGoForward: w->browser->GoForward(); break;
          case kPrint:
            w->browser->ExecWB(OLECMDID_PRINT, OLECMDEXECOPT_PROMPTUSER, nullptr, nullptr);
            break;
          default: break;
        }
        return 0;
      }
      return ::DefWindowProcA(window, message, wparam, lparam);
    case WM_DESTROY:
      if (w) {
        Release(w);
        delete w;
        ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        --g_open_windows;
      }
      return 0;
    default:
      return ::DefWindowProcA(window, message, wparam, lparam);
  }
}

bool RegisterBrowserClass() {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSA cls = {};
  cls.lpfnWndProc = BrowserProc;
  cls.hInstance = ::GetModuleHandleA(nullptr);
  cls.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  cls.lpszClassName = kClassName;
  registered = ::RegisterClassA(&cls) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  return registered;
}

std::wstring Wide(const std::string& text) {
  int n = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], n);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

// A key for a browser window (or a window inside one): the page's control
// gets it first; Escape not taken by the page closes the window. True when
// the key was used up.
bool BrowserKey(MSG* msg) {
  if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST || !msg->hwnd) return false;
  HWND top = ::GetAncestor(msg->hwnd, GA_ROOT);
  char name[64] = {};
  if (!top || !::GetClassNameA(top, name, sizeof name) || std::string(name) != kClassName) {
    return false;
  }
  BrowserWindow* w = reinterpret_cast<BrowserWindow*>(::GetWindowLongPtrA(top, GWLP_USERDATA));
  if (!w) return false;
  if (w->active && w->active->TranslateAccelerator(msg) == S_OK) return true;
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
    ::PostMessageA(top, WM_CLOSE, 0, 0);
    return true;
  }
  return false;
}

}  // namespace

void PrepareDocumentViewer() { SetDisplayWindow(ShowDisplayWindow); }

BrowseOutcome ShowDocument(Platform& platform, const std::string& target) {
  return ShowDocumentWindow(platform, target, kCaption, false);
}

BrowseOutcome ShowDocumentWindow(Platform& platform, const std::string& target,
                                 const char* caption, bool with_toolbar) {
  const std::string address = IsAddress(target) ? target : platform.files.FullPath(target);
  HRESULT ole = ::OleInitialize(nullptr);
  BrowseOutcome outcome = BrowseOutcome::kNoBrowser;
  HWND window = nullptr;
  if (HtmlEngineAvailable() && RegisterBrowserClass()) {
    window = ::CreateWindowExA(0, kClassName, caption, WS_OVERLAPPEDWINDOW, 10, 10, 570, 690,
                               nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  }
  if (window) {
    BrowserWindow* w = new BrowserWindow();
    if (with_toolbar) w->toolbar = MakeToolbar(window);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
    ++g_open_windows;
    if (Embed(window, w, Wide(address))) {
      outcome = BrowseOutcome::kShown;
      ::ShowWindow(window, SW_SHOWNORMAL);
      ::UpdateWindow(window);
      ::SetForegroundWindow(window);
      // Every window of the program stays live; the command goes on once
      // no browser window is left.
      MSG msg;
      while (g_open_windows > 0) {
        BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
          ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the program's own loop
          break;
        }
        if (got < 0) break;
        if (BrowserKey(&msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
    } else {
      ::DestroyWindow(window);
    }
  }
  if (SUCCEEDED(ole)) ::OleUninitialize();
  return outcome;
}

bool OpenWithAssociatedProgram(Platform& platform, const std::string& target) {
  const std::string what = IsAddress(target) ? target : platform.files.FullPath(target);
  HINSTANCE result =
      ::ShellExecuteA(nullptr, "open", what.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace crx::ui
