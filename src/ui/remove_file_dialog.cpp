#include "ui/remove_file_dialog.h"

#include "engine/user_interface.h"

namespace crx::ui {

RemoveUnusedFileDialog::RemoveUnusedFileDialog(const std::string& path)
    : Dialog(kName, "Remove Unused File",
             "The reference count in the registry indicates that the following FILE is not used "
             "by any application.\n\n" +
                 path +
                 "\n\nHowever this registry information may be incorrect and any program that "
                 "does use the FILE will stop working if you remove it\n\n"
                 "DO YOU WANT TO REMOVE THE FILE?") {
  AddField({kPathField, "File", FieldKind::kText, path, true});
  // The "To All" labels share their first letters with Yes and No.
  AddButton("Yes", "Yes", kIdRemoveYes, 'y');
  AddButton("No", "No", kIdRemoveNo, 'n');
  AddButton("YesToAll", "Yes To All", kIdRemoveYesToAll, 'a');
  AddButton("NoToAll", "No To All", kIdRemoveNoToAll, 'o');
  SetDefaultButton(1);
  SetRefusingButton(1);
}

int RunRemoveUnusedFileDialog(FrontEnd& front_end, const std::string& path) {
  RemoveUnusedFileDialog dialog(path);
  int id = front_end.Show(dialog);
  if (!dialog.Closed() || !dialog.FindButtonById(id)) return kDialogUnavailable;
  return id;
}

}  // namespace crx::ui
