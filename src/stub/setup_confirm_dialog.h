// "Cratex - Setup Confirm": asks whether the software of a setup archive is
// to be installed, showing the company, product and description the
// archive carries. YES accepts, NO declines; "Browse..." asks to list the
// archive's files first, after which the question is asked again.
#ifndef CRX_STUB_SETUP_CONFIRM_DIALOG_H
#define CRX_STUB_SETUP_CONFIRM_DIALOG_H

#include "engine/format.h"
#include "ui/dialog.h"

namespace crx::stub {

// The identifier "Browse..." closes the model with.
inline constexpr int kIdBrowse = 1001;

class SetupConfirmDialog : public ui::Dialog {
 public:
  static constexpr const char* kName = "SetupConfirm";

  // The three fields show the first three texts of info. They are shown
  // only: what a person types there has no effect.
  explicit SetupConfirmDialog(const SetupInfo& info);
};

}  // namespace crx::stub

#endif  // CRX_STUB_SETUP_CONFIRM_DIALOG_H
