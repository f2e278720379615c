#include "ui/setup_info_dialogs.h"

#include "common/format.h"
#include "engine/user_interface.h"

namespace crx::ui {

namespace {

constexpr const char* kSetupText =
    "You have chosen to automatically run a setup program after archive extraction\n"
    "In order to do this you must record some information about your application.\n"
    "NOTE: the user will be prompted with this information and asked if he realy wants to "
    "run the setup program";

constexpr const char* kAdvancedText =
    "Cratex will normally wait for the setup program sepcified to terminate and then clean up "
    "all temporray files.\n"
    "Some setup programs start a second program and exit before the installation is over; "
    "name that second program here to wait for it instead.\n"
    "You may choose not to wait for any program, in which case the extracted files will be "
    "left on the system after the setup has completed";


}  // namespace

SetupInfoDialog::SetupInfoDialog(const SetupDialogState& state)
    : Dialog(kName, "Cratex - Automatic Setup Execution", kSetupText),
      wait_program_(state.wait_program),
      dont_wait_(state.dont_wait) {
  AddField({kCompanyField, "Company", FieldKind::kText, state.company, false});
  AddField({kProductField, "Product", FieldKind::kText, state.product, false});
  AddField({kDescriptionField, "Description", FieldKind::kText, state.description, false});
  AddField({kSetupProgramField, "Setup program to  run after achieve extraction",
            FieldKind::kText, state.setup_program, false});
  AddButton("OK", "OK", kIdOk);
  AddButton("Cancel", "Cancel", kIdCancel);
  AddButton("Advanced", "Advanced...", kIdSetupAdvanced);
  SetDefaultButton(0);
  SetRefusingButton(1);
}

SetupDialogState SetupInfoDialog::State() const {
  SetupDialogState state;
  state.company = FindField(kCompanyField)->value;
  state.product = FindField(kProductField)->value;
  state.description = FindField(kDescriptionField)->value;
  state.setup_program = FindField(kSetupProgramField)->value;
  state.wait_program = wait_program_;
  state.dont_wait = dont_wait_;
  return state;
}

SetupInfo SetupInfoDialog::Info() const {
  SetupInfo info;
  info.company = FindField(kCompanyField)->value;
  info.product = FindField(kProductField)->value;
  info.description = FindField(kDescriptionField)->value;
  info.setup_program = FindField(kSetupProgramField)->value;
  info.wait_program = wait_program_;
  return info;
}

bool SetupInfoDialog::Validate(int id, std::string* error) {
  if (id != kIdOk) return true;
  struct Check {
    const char* field;
    const char* message;
  };
  static constexpr Check kChecks[] = {
      {kCompanyField, "ERROR: 'Company' field cannot be empty"},
      {kProductField, "ERROR: 'Product' field cannot be empty"},
      {kDescriptionField, "ERROR: 'Description' field cannot be empty"},
      {kSetupProgramField, "ERROR: 'Setup Executable' field cannot be empty"},
  };
  for (const Check& check : kChecks) {
    DialogField* field = MutableField(check.field);
    field->value = Trimmed(field->value);
  }
  for (const Check& check : kChecks) {
    if (FindField(check.field)->value.empty()) {
      *error = check.message;
      return false;
    }
  }
  if (wait_program_.empty() && !dont_wait_) {
    wait_program_ = FindField(kSetupProgramField)->value;
  }
  return true;
}

AdvancedSetupDialog::AdvancedSetupDialog(const std::string& wait_program, bool dont_wait)
    : Dialog(kName, "Advanced Setup Specification", kAdvancedText) {
  AddField({kWaitProgramField, "set alternate program to wait for", FieldKind::kText,
            wait_program, false});
  AddField({kDontWaitField, "Don't wait for any program", FieldKind::kCheck,
            dont_wait ? "1" : "0", false});
  AddButton("OK", "OK", kIdOk);
  AddButton("Cancel", "Cancel", kIdCancel);
  SetDefaultButton(0);
  SetRefusingButton(1);
}

AdvancedSetupDialog MakeAdvancedSetupDialog(const SetupDialogState& state) {
  return AdvancedSetupDialog(state.wait_program.empty() ? state.setup_program : state.wait_program,
                             state.dont_wait);
}

void ApplyAdvancedSetup(const AdvancedSetupDialog& dialog, SetupDialogState* state) {
  state->dont_wait = dialog.DontWait();
  state->wait_program = state->dont_wait ? std::string() : dialog.WaitProgram();
}

int RunSetupInfoDialog(FrontEnd& front_end, SetupInfo* info) {
  SetupDialogState state;
  for (;;) {
    SetupInfoDialog dialog(state);
    front_end.Show(dialog);
    if (!dialog.Closed()) return kIdCancel;
    if (dialog.Result() == kIdOk) {
      *info = dialog.Info();
      return kIdOk;
    }
    if (dialog.Result() != kIdSetupAdvanced) return kIdCancel;
    state = dialog.State();
    AdvancedSetupDialog advanced = MakeAdvancedSetupDialog(state);
    front_end.Show(advanced);
    if (advanced.Closed() && advanced.Result() == kIdOk) ApplyAdvancedSetup(advanced, &state);
  }
}

}  // namespace crx::ui
