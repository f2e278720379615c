#include "ui/replace_dialog.h"

#include "engine/user_interface.h"

namespace crx::ui {

ReplaceExistingFileDialog::ReplaceExistingFileDialog(const std::string& path)
    : Dialog(kName, "Replace Existing File?", path) {
  AddField({kPathField, "File", FieldKind::kText, path, true});
  // Letters chosen so that each button has one: the labels share their
  // first letters.
  AddButton("Yes", "Yes", kIdReplaceYes, 'y');
  AddButton("No", "No", kIdReplaceNo, 'n');
  AddButton("NoToAll", "No To All", kIdReplaceNoToAll, 'o');
  AddButton("YesToAll", "Yes To All", kIdReplaceYesToAll, 'a');
  AddButton("IfNewer", "If Newer", kIdReplaceIfNewer, 'i');
  AddButton("AllIfNewer", "All If newer", kIdReplaceAllIfNewer, 'w');
  SetDefaultButton(0);
  SetRefusingButton(1);
  SetTopmost(true);
}

int RunReplaceExistingFileDialog(FrontEnd& front_end, const std::string& path) {
  ReplaceExistingFileDialog dialog(path);
  int id = front_end.Show(dialog);
  if (!dialog.Closed() || !dialog.FindButtonById(id)) return kDialogUnavailable;
  return id;
}

}  // namespace crx::ui
