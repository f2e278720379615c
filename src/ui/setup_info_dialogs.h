// The setup-information dialogs, shown when a setup archive is created with
// incomplete setup information. "Cratex - Automatic Setup Execution" asks
// for the company, product, description and setup program; its
// "Advanced..." button opens "Advanced Setup Specification", which names
// the program the self-extractor waits for before it cleans up, or none.
//
// The advanced dialog is opened between two showings of the setup dialog:
// "Advanced..." closes the setup dialog with kIdSetupAdvanced, and
// RunSetupInfoDialog shows the advanced dialog and then the setup dialog
// again with the texts as they were. Every front-end (and an answers file,
// one line per showing) can follow that.
#ifndef CRX_UI_SETUP_INFO_DIALOGS_H
#define CRX_UI_SETUP_INFO_DIALOGS_H

#include <string>

#include "engine/format.h"
#include "ui/dialog.h"
#include "ui/front_end.h"

namespace crx::ui {

// The identifier the "Advanced..." button closes the setup dialog with.
inline constexpr int kIdSetupAdvanced = 1041;

// What the setup dialog holds: the four texts it shows, and the wait
// program and don't-wait flag that the advanced dialog sets.
struct SetupDialogState {
  std::string company;
  std::string product;
  std::string description;
  std::string setup_program = "SETUP.EXE";
  std::string wait_program;  // empty: decided when OK is pressed
  bool dont_wait = false;
};

class AdvancedSetupDialog;

// "Cratex - Automatic Setup Execution": fields Company, Product,
// Description and SetupProgram; buttons OK, Cancel and Advanced
// ("Advanced..."). OK trims the four texts, refuses the first one left
// empty with its message, and - when no wait program was named and waiting
// was not turned off - makes the setup program the wait program.
class SetupInfoDialog : public Dialog {
 public:
  static constexpr const char* kName = "SetupInfo";
  static constexpr const char* kCompanyField = "Company";
  static constexpr const char* kProductField = "Product";
  static constexpr const char* kDescriptionField = "Description";
  static constexpr const char* kSetupProgramField = "SetupProgram";

  // A new dialog starts from the default state: empty texts and the
  // preset setup program, whatever the engine already holds.
  explicit SetupInfoDialog(const SetupDialogState& state = SetupDialogState());

  // The texts as they are now, with the wait program and the flag.
  SetupDialogState State() const;
  // The five texts for the archive; meaningful once closed with OK.
  SetupInfo Info() const;

 protected:
  bool Validate(int id, std::string* error) override;

 private:
  std::string wait_program_;
  bool dont_wait_ = false;
};

// "Advanced Setup Specification": field WaitProgram ("set alternate program
// to wait for") and check box DontWait ("Don't wait for any program");
// buttons OK and Cancel; no validation. While DontWait is ticked the
// program text does not count.
class AdvancedSetupDialog : public Dialog {
 public:
  static constexpr const char* kName = "AdvancedSetup";
  static constexpr const char* kWaitProgramField = "WaitProgram";
  static constexpr const char* kDontWaitField = "DontWait";

  AdvancedSetupDialog(const std::string& wait_program, bool dont_wait);

  std::string WaitProgram() const { return FindField(kWaitProgramField)->value; }
  bool DontWait() const { return FindField(kDontWaitField)->value == "1"; }
};

// The advanced dialog as "Advanced..." opens it for state: the wait
// program, or the setup program when none is named yet, and the flag.
AdvancedSetupDialog MakeAdvancedSetupDialog(const SetupDialogState& state);

// Takes the answer of an advanced dialog closed with OK into state: the
// flag, and the wait program - empty when waiting is turned off, otherwise
// the dialog's text.
void ApplyAdvancedSetup(const AdvancedSetupDialog& dialog, SetupDialogState* state);

// Shows the setup dialog (and the advanced dialog whenever "Advanced..." is
// pressed) on front_end. kIdOk with the five texts in *info, or kIdCancel
// with *info untouched when the user cancelled or nobody could answer.
int RunSetupInfoDialog(FrontEnd& front_end, SetupInfo* info);

}  // namespace crx::ui

#endif  // CRX_UI_SETUP_INFO_DIALOGS_H
