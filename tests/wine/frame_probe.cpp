// frame_probe: looks into a window of another process for the wine tests
// of the builder's main window. Wine does not let one process read
// another's menus, and a drop handle is memory of the process that gets
// it, so the work is done inside the window's process by
// frame_probe_hook.dll (same folder), loaded there through a message hook
// on the window's thread.
//
//   frame_probe menus TITLE          prints the menu bar's items and states
//   frame_probe drop TITLE PATH...   drops the files onto the window
//   frame_probe rows TITLE           prints the rows of its list view
//   frame_probe status TITLE         prints its status bar's text
//   frame_probe view TITLE           prints "white" or "grey" (the list)
//   frame_probe settext TITLE TEXT N puts TEXT into its edit control N
//   frame_probe focus TITLE          gives the window the keyboard
//   frame_probe clipboard TITLE      prints the file list on the clipboard
//                                    as the window's process reads it
//   frame_probe box TITLE BMP        prints the place and texts of the
//                                    message box its thread shows and
//                                    draws the box into the file BMP
//   frame_probe clip PATH...         puts the paths on the clipboard as a
//                                    file list, as Explorer's Copy does
//
// TITLE is the start of the window's caption. Exit status 0 when the
// window answered, 1 when it did not (within 10 seconds), 2 for a usage
// error.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Search {
  const char* prefix;
  HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM data) {
  Search* search = reinterpret_cast<Search*>(data);
  char caption[512] = {};
  GetWindowTextA(window, caption, sizeof caption);
  if (IsWindowVisible(window) &&
      std::strncmp(caption, search->prefix, std::strlen(search->prefix)) == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// Puts a file list (CF_HDROP) on the clipboard; the system keeps a copy
// after this program has ended.
bool ClipFiles(int count, char** paths) {
  size_t bytes = sizeof(DROPFILES) + 1;
  for (int i = 0; i < count; ++i) bytes += std::strlen(paths[i]) + 1;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  if (!memory) return false;
  char* base = static_cast<char*>(GlobalLock(memory));
  reinterpret_cast<DROPFILES*>(base)->pFiles = sizeof(DROPFILES);
  char* at = base + sizeof(DROPFILES);
  for (int i = 0; i < count; ++i) {
    const size_t length = std::strlen(paths[i]) + 1;
    std::memcpy(at, paths[i], length);
    at += length;
  }
  GlobalUnlock(memory);
  if (!OpenClipboard(nullptr)) {
    GlobalFree(memory);
    return false;
  }
  EmptyClipboard();
  const bool set = SetClipboardData(CF_HDROP, memory) != nullptr;
  CloseClipboard();
  if (!set) GlobalFree(memory);
  return set;
}

std::string HookPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text = path;
  const size_t slash = text.find_last_of("\\/");
  return text.substr(0, slash + 1) + "frame_probe_hook.dll";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "clip") == 0) {
    if (ClipFiles(argc - 2, argv + 2)) return 0;
    std::fputs("frame_probe: cannot put the files on the clipboard\n", stderr);
    return 1;
  }
  const std::string request = argc > 1 ? argv[1] : "";
  const bool known = request == "menus" || request == "drop" || request == "rows" ||
                     request == "view" || request == "status" || request == "settext" ||
                     request == "box" || request == "clipboard" ||
                     request == "focus";
  if (argc < 3 || !known || (request == "drop" && argc < 4) ||
      (request == "settext" && argc != 5) || (request == "box" && argc != 4)) {
    std::fputs("usage: frame_probe menus|rows|view|status TITLE\n"
               "       frame_probe drop TITLE PATH...\n"
               "       frame_probe settext TITLE TEXT N\n"
               "       frame_probe box TITLE BMP\n"
               "       frame_probe clip PATH...\n",
               stderr);
    return 2;
  }
  Search search = {argv[2], nullptr};
  EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
  if (!search.found) {
    std::fprintf(stderr, "frame_probe: no window titled '%s...'\n", argv[2]);
    return 1;
  }
  const std::string library = HookPath();
  const std::string out = library + ".out";
  DeleteFileA(out.c_str());
  FILE* in = std::fopen((library + ".in").c_str(), "w");
  if (!in) {
    std::fprintf(stderr, "frame_probe: cannot write %s.in\n", library.c_str());
    return 1;
  }
  std::fprintf(in, "%s\n", argv[1]);
  for (int i = 3; i < argc; ++i) std::fprintf(in, "%s\n", argv[i]);
  std::fclose(in);

  HMODULE hook_library = LoadLibraryA(library.c_str());
  HOOKPROC hook_proc =
      hook_library ? reinterpret_cast<HOOKPROC>(
                         reinterpret_cast<void*>(GetProcAddress(hook_library, "FrameProbeHook")))
                   : nullptr;
  const DWORD thread = GetWindowThreadProcessId(search.found, nullptr);
  HHOOK hook = hook_proc ? SetWindowsHookExA(WH_GETMESSAGE, hook_proc, hook_library, thread)
                         : nullptr;
  if (!hook) {
    std::fprintf(stderr, "frame_probe: cannot hook the window's thread\n");
    return 1;
  }
  PostMessageA(search.found, RegisterWindowMessageA("CrxFrameProbe"), 0, 0);
  int status = 1;
  for (int tick = 0; tick < 100; ++tick) {
    FILE* answer = std::fopen(out.c_str(), "r");
    if (answer) {
      char line[1024];
      while (std::fgets(line, sizeof line, answer)) std::fputs(line, stdout);
      std::fclose(answer);
      DeleteFileA(out.c_str());
      status = 0;
      break;
    }
    Sleep(100);
  }
  UnhookWindowsHookEx(hook);
  if (status != 0) std::fprintf(stderr, "frame_probe: the window did not answer\n");
  return status;
}
