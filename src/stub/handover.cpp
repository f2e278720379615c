#include "stub/handover.h"

#include "common/format.h"
#include "stub/setup_phase.h"
#include "stub/stub_messages.h"
#include "stub/temp_folder.h"

namespace crx::stub {

bool BrowseOwnArchive(HandoverContext& context, bool list_only) {
  context.messages.StubMessage(
      list_only ? "The archive browser is not built yet: the files of this archive cannot be "
                  "listed."
                : "The archive browser is not built yet: this archive cannot be opened.",
      0);
  return false;
}

bool RunSetupPhase(HandoverContext& context, const TempFolder& folder) {
  RunSetupPhaseSteps(context, folder);
  return true;
}

}  // namespace crx::stub
