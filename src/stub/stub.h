// A self-extractor stub's start-up: from its command line to the hand-over
// to the archive browser (plain archives) or to the setup phase (setup
// archives, after extracting every member into a private temporary
// folder). The whole run happens here, one step after the other; the entry
// point only builds the platform and the user interface and passes them in.
#ifndef CRX_STUB_STUB_H
#define CRX_STUB_STUB_H

#include <functional>
#include <memory>
#include <string>

#include "stub/stub_variant.h"
#include "ui/browser.h"

namespace crx {
struct Platform;
class UserInterface;
namespace ui {
class Feedback;
class FrontEnd;
}  // namespace ui
}  // namespace crx

namespace crx::stub {

// The process exit status. Nothing in the system reads it; it tells
// scripts and tests how the run ended.
enum StubExit : int {
  kStubDone = 0,       // browsing or the setup phase ran to the end
  kStubFailed = 1,     // a failure was reported and the run ended early
  kStubCancelled = 2,  // the user declined (password or confirmation)
};

// What the entry point provides.
struct StubHost {
  Platform& platform;
  // Message boxes and the unlock dialog.
  UserInterface& ui;
  // Any other dialog model (the setup confirmation).
  ui::FrontEnd& front_end;
  // Makes the feedback window of the extraction (the variant's own kind);
  // empty or returning null: no window.
  std::function<std::unique_ptr<ui::Feedback>()> make_feedback;
  // Lets waiting window messages be processed between steps of the work,
  // so that windows of the stub's own thread stay live. May be empty.
  std::function<void()> process_messages;
  // The archive browser of the program (the Win32 dialog, the terminal);
  // null: the browser's "Browse" dialogs through the front-end.
  ui::BrowserRunner browser = nullptr;
  ui::DdeSender send_dde = nullptr;
  // The user's locale (LCID) for the browser's date.
  uint32_t locale = 1033;
  // The window the browser's listing of an archive that spans disks shows
  // (not owned); null: none.
  OwnFeedback* own_feedback = nullptr;
};

// Runs the stub. command_tail is the command line after the program name.
// Returns a StubExit value.
int RunStub(const StubVariant& variant, StubHost& host, const std::string& command_tail);

}  // namespace crx::stub

#endif  // CRX_STUB_STUB_H
