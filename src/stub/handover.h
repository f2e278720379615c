// Where a stub's start-up hands over: the archive browser for a plain
// archive (and for "Browse..." in the setup confirmation), and the setup
// phase for an extracted setup archive. Each is one function here, so that
// the start-up code does not change with them.
#ifndef CRX_STUB_HANDOVER_H
#define CRX_STUB_HANDOVER_H

#include <functional>
#include <string>

#include "stub/stub_variant.h"

namespace crx {
class ArchiveEngine;
struct Platform;
}  // namespace crx

namespace crx::ui {
class SilentMode;
}  // namespace crx::ui

namespace crx::stub {
struct StubHost;
}  // namespace crx::stub

namespace crx::stub {

class StubLog;
class StubMessages;
struct TempFolder;

// What the start-up knows when it hands over.
struct HandoverContext {
  const StubVariant& variant;
  Platform& platform;
  ArchiveEngine& engine;
  StubMessages& messages;
  StubLog& log;
  // Silent mode and the response file as received after "/sms:".
  const ui::SilentMode& silent_mode;
  // Lets waiting window messages be processed while the stub waits; may
  // be empty.
  std::function<void()> process_messages;
  // The program around the stub (its dialogs and the browser to show).
  StubHost* host = nullptr;
};

// Opens the archive browser on the stub's own archive, whose password (if
// any) the stub has checked. list_only: the "Browse..." form of the setup
// confirmation, without extraction and without a password prompt. False
// when the browser could not open the archive (it has said why).
bool BrowseOwnArchive(HandoverContext& context, bool list_only);

// Runs the setup program of the extracted setup archive from the temporary
// folder, waits for it and cleans up (stub/setup_phase.h). Returns true:
// the phase always runs to its end; what went wrong is in the log.
bool RunSetupPhase(HandoverContext& context, const TempFolder& folder);

}  // namespace crx::stub

#endif  // CRX_STUB_HANDOVER_H
