// Without Win32 there is no browser control to host: a document is handed
// to the desktop's opener (xdg-open) when a display is present, and named
// on the terminal otherwise. The opener hands the document to a program
// and returns, so the installation goes on while it is read.
#include "common/winpath.h"
#include "platform/platform.h"
#include "ui/document_browser.h"

namespace crx::ui {

namespace {

bool HasDisplay(Environment& environment) {
  std::string value;
  return (environment.Get("DISPLAY", &value) && !value.empty()) ||
         (environment.Get("WAYLAND_DISPLAY", &value) && !value.empty());
}

// Runs the opener on target: an address as it is, a file by its name in
// its own folder (the shell runs on the host, where the machine's folder
// is its working folder).
bool RunOpener(Platform& platform, const std::string& target) {
  std::string folder;
  std::string name = target;
  if (!IsAddress(target)) {
    std::string full = platform.files.FullPath(target);
    if (!platform.files.Exists(full)) return false;
    folder = winpath::Parent(full);
    name = winpath::LastElement(full);
    // "./" keeps a name that begins with '-' from reading as an option.
    name = name.empty() ? std::string(".") : "./" + name;
  }
  uint32_t code = 0;
  return platform.processes.RunShellCommand("xdg-open " + ShellQuoted(name) + " >/dev/null 2>&1",
                                            folder, &code) &&
         code == 0;
}

}  // namespace

void PrepareDocumentViewer() {}

BrowseOutcome ShowDocument(Platform& platform, const std::string& target) {
  if (HasDisplay(platform.environment) && RunOpener(platform, target)) {
    return BrowseOutcome::kShown;
  }
  platform.terminal.Write("Kestrova Browser: " + target + "\n");
  return BrowseOutcome::kShown;
}

bool OpenWithAssociatedProgram(Platform& platform, const std::string& target) {
  return HasDisplay(platform.environment) && RunOpener(platform, target);
}

}  // namespace crx::ui
