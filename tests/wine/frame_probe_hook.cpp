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
//           would (the dialogs' own checks run when a button is pressed).
//
// The request is the file "<this library>.in", the answer
// "<this library>.out" (written whole under a temporary name and renamed,
// so frame_probe never reads half of it).
#include <windows.h>
#include <commctrl.h>
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
