#include "stub/handover.h"

#include "common/format.h"
#include "stub/setup_phase.h"
#include "stub/stub.h"
#include "stub/stub_messages.h"
#include "stub/temp_folder.h"
#include "ui/silent_mode.h"

namespace crx::stub {

bool BrowseOwnArchive(HandoverContext& context, bool list_only) {
  StubHost& host = *context.host;
  ui::BrowserOptions options;
  options.list_only = list_only;
  options.pre_authorised = !list_only;
  options.minimal = !context.variant.list_view_browser;
  options.locale = host.locale;
  options.stub_reader = true;
  options.own_offset = context.variant.archive_offset;
  options.make_feedback = host.make_feedback;
  options.own_feedback = host.own_feedback;
  options.native = host.browser;
  options.send_dde = host.send_dde;
  options.silent = context.silent_mode.silent();
  return ui::ShowArchiveBrowser(context.platform, host.ui, host.front_end, options) ==
         ui::kBrowserClosed;
}

bool RunSetupPhase(HandoverContext& context, const TempFolder& folder) {
  RunSetupPhaseSteps(context, folder);
  return true;
}

}  // namespace crx::stub
