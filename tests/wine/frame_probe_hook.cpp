// frame_probe_hook.dll: the half of frame_probe that runs inside the
// window's own process. frame_probe installs its message hook on the
// window's thread; the system loads this library into that process, where
// the hook answers one request per registered "CrxFrameProbe" message:
//
//   menus   writes the state of every item of the window's menu bar, one
//           line each: depth, command identifier (0 for a popup or a
//           separator), "enabled"/"grayed", "checked"/"unchecked", text;
//   drop    posts WM_DROPFILES to the window with a file list made in its
//           own process from the paths that follow, one a line (a drop
//           handle is memory of the receiving process: another process
//           cannot hand one over);
//   rows    writes the rows of the window's list view, the columns
//           separated by tabs;
//   status  writes the text of the window's status bar;
//   view    writes "white" or "grey": the background of the list view;
//   settext puts the text of the next line into the window's edit control
//           whose number (0 = the first) is on the line after it, as typing
//           would (the dialogs' own checks run when a button is pressed);
//   focus   makes the window the active one with the keyboard, as a click
//           on it would (writes "focused" or "not focused");
//   clipboard writes "available: yes" or "no" (a file list is announced),
//           then the file list on the clipboard, one path a line, as this
//           process reads it;
//   box     finds the message box the thread shows (an enabled dialog with
//           an owner: the owner is disabled while the box is up), writes
//           "rect X Y W H" (screen coordinates), then "text: " and each
//           text of its static controls, and copies the box's picture,
//           painted afresh, into the BMP file named on the next line. Without
//           a window manager wine never puts such a box on the X display,
//           so a screenshot of the screen alone shows a black square.
//
// The request is the file "<this library>.in", the answer
// "<this library>.out" (written whole under a temporary name and renamed,
// so frame_probe never reads half of it).
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HINSTANCE self = nullptr;

std::string LibraryPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(self, path, MAX_PATH);
  return path;
}

void DumpMenu(HMENU menu, FILE* out, int depth) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    char text[256] = {};
    GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
    const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
    HMENU sub = GetSubMenu(menu, i);
    const UINT id = sub ? 0u : GetMenuItemID(menu, i);
    std::fprintf(out, "%d\t%u\t%s\t%s\t%s\n", depth, id,
                 (state & (MF_GRAYED | MF_DISABLED)) ? "grayed" : "enabled",
                 (state & MF_CHECKED) ? "checked" : "unchecked", text);
    if (sub) DumpMenu(sub, out, depth + 1);
  }
}

// A file list in the receiving process: DROPFILES, then the paths, each
// ended by a NUL, the list ended by another NUL.
HGLOBAL MakeDrop(const std::vector<std::string>& paths) {
  size_t bytes = sizeof(DROPFILES) + 1;
  for (const std::string& p : paths) bytes += p.size() + 1;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  if (!memory) return nullptr;
  char* base = static_cast<char*>(GlobalLock(memory));
  DROPFILES* header = reinterpret_cast<DROPFILES*>(base);
  header->pFiles = sizeof(DROPFILES);
  header->pt.x = 40;
  header->pt.y = 40;
  header->fNC = FALSE;
  header->fWide = FALSE;
  char* at = base + sizeof(DROPFILES);
  for (const std::string& p : paths) {
    std::memcpy(at, p.c_str(), p.size() + 1);
    at += p.size() + 1;
  }
  GlobalUnlock(memory);
  return memory;
}

struct Edits {
  std::vector<HWND> found;
};

BOOL CALLBACK CollectEdit(HWND child, LPARAM data) {
  char name[64] = {};
  GetClassNameA(child, name, sizeof name);
  if (lstrcmpiA(name, "Edit") == 0) reinterpret_cast<Edits*>(data)->found.push_back(child);
  return TRUE;
}

struct BoxSearch {
  HWND found;
};

BOOL CALLBACK VisitThreadWindow(HWND window, LPARAM data) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::strcmp(name, "#32770") == 0 && IsWindowVisible(window) && IsWindowEnabled(window) &&
      GetWindow(window, GW_OWNER) != nullptr) {
    reinterpret_cast<BoxSearch*>(data)->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK WriteStaticText(HWND child, LPARAM data) {
  char name[64] = {};
  GetClassNameA(child, name, sizeof name);
  if (lstrcmpiA(name, "Static") != 0) return TRUE;
  char text[2048] = {};
  GetWindowTextA(child, text, sizeof text);
  if (text[0] == '\0') return TRUE;
  FILE* out = reinterpret_cast<FILE*>(data);
  for (char* c = text; *c; ++c) {
    if (*c == '\r') continue;
    std::fputc(*c == '\n' ? ' ' : *c, out);
  }
  std::fputc('\n', out);
  return TRUE;
}

// Draws the window through its own painting code into a 24-bit bottom-up
// BMP file.
bool SaveWindowPicture(HWND window, const std::string& path) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (!memory || !picture) {
    if (memory) DeleteDC(memory);
    if (picture) DeleteObject(picture);
    return false;
  }
  HGDIOBJ old = SelectObject(memory, picture);
  // The box paints itself now (into wine's copy of the window), and that
  // copy is read back: the X display is not involved.
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
  HDC window_dc = GetWindowDC(window);
  const bool drawn =
      window_dc && BitBlt(memory, 0, 0, width, height, window_dc, 0, 0, SRCCOPY) != FALSE;
  if (window_dc) ReleaseDC(window, window_dc);
  // Wine leaves the caption of a box that never reached the display
  // unpainted (black): it is drawn here as the system draws it.
  const int frame_x = GetSystemMetrics(SM_CXDLGFRAME);
  const int frame_y = GetSystemMetrics(SM_CYDLGFRAME);
  RECT caption = {frame_x, frame_y, width - frame_x, frame_y + GetSystemMetrics(SM_CYCAPTION) - 1};
  DrawCaption(window, memory, &caption, DC_ACTIVE | DC_TEXT | DC_GRADIENT);
  GdiFlush();
  const DWORD stride = static_cast<DWORD>((width * 3 + 3) & ~3);
  const DWORD image_bytes = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  header.bfSize = header.bfOffBits + image_bytes;
  bool written = false;
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    written = std::fwrite(&header, sizeof header, 1, file) == 1 &&
              std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, file) == 1 &&
              std::fwrite(bits, image_bytes, 1, file) == 1;
    written = std::fclose(file) == 0 && written;
  }
  SelectObject(memory, old);
  DeleteObject(picture);
  DeleteDC(memory);
  return drawn && written;
}

void WriteBox(const std::string& picture, FILE* out) {
  BoxSearch search = {nullptr};
  EnumThreadWindows(GetCurrentThreadId(), VisitThreadWindow, reinterpret_cast<LPARAM>(&search));
  if (!search.found) {
    std::fprintf(out, "no box\n");
    return;
  }
  RECT rect = {};
  GetWindowRect(search.found, &rect);
  std::fprintf(out, "rect %ld %ld %ld %ld\n", static_cast<long>(rect.left),
               static_cast<long>(rect.top), static_cast<long>(rect.right - rect.left),
               static_cast<long>(rect.bottom - rect.top));
  char caption[512] = {};
  GetWindowTextA(search.found, caption, sizeof caption);
  std::fprintf(out, "caption: %s\ntext: ", caption);
  EnumChildWindows(search.found, WriteStaticText, reinterpret_cast<LPARAM>(out));
  if (!SaveWindowPicture(search.found, picture)) std::fprintf(out, "no picture\n");
}

void WriteRows(HWND window, FILE* out) {
  HWND list = FindWindowExA(window, nullptr, "SysListView32", nullptr);
  if (!list) return;
  const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    for (int column = 0; column < 4; ++column) {
      char text[512] = {};
      LVITEMA item = {};
      item.iSubItem = column;
      item.pszText = text;
      item.cchTextMax = sizeof text;
      SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&item));
      std::fprintf(out, column == 0 ? "%s" : "\t%s", text);
    }
    std::fputc('\n', out);
  }
}

void Answer(HWND window) {
  const std::string base = LibraryPath();
  FILE* in = std::fopen((base + ".in").c_str(), "r");
  if (!in) return;
  std::vector<std::string> lines;
  char line[1024];
  while (std::fgets(line, sizeof line, in)) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    lines.push_back(text);
  }
  std::fclose(in);
  std::remove((base + ".in").c_str());
  const std::string partial = base + ".part";
  FILE* out = std::fopen(partial.c_str(), "w");
  if (!out) return;
  if (!lines.empty() && lines[0] == "menus") {
    DumpMenu(GetMenu(window), out, 0);
  } else if (!lines.empty() && lines[0] == "drop") {
    std::vector<std::string> paths(lines.begin() + 1, lines.end());
    HGLOBAL drop = MakeDrop(paths);
    const bool posted = drop && PostMessageA(window, WM_DROPFILES,
                                             reinterpret_cast<WPARAM>(drop), 0);
    if (drop && !posted) GlobalFree(drop);
    std::fprintf(out, "%s\n", posted ? "dropped" : "not dropped");
  } else if (!lines.empty() && lines[0] == "rows") {
    WriteRows(window, out);
  } else if (!lines.empty() && lines[0] == "view") {
    HWND list = FindWindowExA(window, nullptr, "SysListView32", nullptr);
    const COLORREF colour =
        list ? static_cast<COLORREF>(SendMessageA(list, LVM_GETBKCOLOR, 0, 0)) : 0;
    std::fprintf(out, "%s\n", colour == RGB(255, 255, 255)   ? "white"
                              : colour == RGB(192, 192, 192) ? "grey"
                                                             : "other");
  } else if (!lines.empty() && lines[0] == "status") {
    char text[1024] = {};
    HWND bar = FindWindowExA(window, nullptr, "msctls_statusbar32", nullptr);
    if (bar) SendMessageA(bar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    std::fprintf(out, "%s\n", text);
  } else if (lines.size() == 3 && lines[0] == "settext") {
    Edits edits;
    EnumChildWindows(window, CollectEdit, reinterpret_cast<LPARAM>(&edits));
    const size_t index = static_cast<size_t>(std::atoi(lines[2].c_str()));
    if (index < edits.found.size()) {
      SetWindowTextA(edits.found[index], lines[1].c_str());
      std::fprintf(out, "set\n");
    } else {
      std::fprintf(out, "no edit control %d\n", static_cast<int>(index));
    }
  } else if (!lines.empty() && lines[0] == "focus") {
    // Without a window manager nothing gives the keyboard back to the
    // window after another one closed; its own thread may take it.
    SetForegroundWindow(window);
    SetActiveWindow(window);
    SetFocus(window);
    std::fprintf(out, "%s\n", GetForegroundWindow() == window ? "focused" : "not focused");
  } else if (!lines.empty() && lines[0] == "clipboard") {
    // The file list on the clipboard as this process sees it.
    std::fprintf(out, "available: %s\n", IsClipboardFormatAvailable(CF_HDROP) ? "yes" : "no");
    if (OpenClipboard(window)) {
      HANDLE data = GetClipboardData(CF_HDROP);
      const UINT count = data ? DragQueryFileA(static_cast<HDROP>(data), 0xFFFFFFFF, nullptr, 0) : 0;
      for (UINT i = 0; i < count; ++i) {
        char path[MAX_PATH] = {};
        DragQueryFileA(static_cast<HDROP>(data), i, path, MAX_PATH);
        std::fprintf(out, "%s\n", path);
      }
      if (!data) std::fprintf(out, "no file list\n");
      CloseClipboard();
    } else {
      std::fprintf(out, "clipboard busy\n");
    }
  } else if (lines.size() == 2 && lines[0] == "box") {
    WriteBox(lines[1], out);
  } else {
    std::fprintf(out, "unknown request\n");
  }
  std::fclose(out);
  MoveFileExA(partial.c_str(), (base + ".out").c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK FrameProbeHook(int code, WPARAM wparam,
                                                                 LPARAM lparam) {
  static const UINT request = RegisterWindowMessageA("CrxFrameProbe");
  const MSG* msg = reinterpret_cast<const MSG*>(lparam);
  if (code == HC_ACTION && wparam == PM_REMOVE && msg->message == request) Answer(msg->hwnd);
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
  self = instance;
  return TRUE;
}
