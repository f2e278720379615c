#include "stub/setup_confirm_dialog.h"

#include "engine/user_interface.h"

namespace crx::stub {

SetupConfirmDialog::SetupConfirmDialog(const SetupInfo& info)
    : Dialog(kName, "Cratex - Setup Confirm",
             "This CRX Archive is configured to automatically run a setup program to install "
             "software on your system\n\n"
             "The description of the software is ...\n\n"
             "Do you want to install the software?\n"
             "You may use this button to list the files on the archive... ") {
  AddField({"Company", "Company", ui::FieldKind::kText, info.company, true});
  AddField({"Product", "Product", ui::FieldKind::kText, info.product, true});
  AddField({"Description", "Description", ui::FieldKind::kText, info.description, true});
  AddButton("Browse", "Browse...", kIdBrowse);
  AddButton("YES", "YES", kIdYes);
  AddButton("NO", "NO", kIdNo);
  SetDefaultButton(1);
  SetRefusingButton(2);
}

}  // namespace crx::stub
