#include "ui/disk_dialog.h"

#include "common/format.h"
#include "engine/user_interface.h"

namespace crx::ui {

DiskDialog::DiskDialog(bool reading, int disk_number)
    : Dialog(kName, reading ? kReadingCaption : kWritingCaption,
             Format("The end of the disk has been reached. Please insert a new disk in the "
                    "appropriate drive\n\nINSERT DISK NUMBER  %d",
                    disk_number)),
      reading_(reading),
      disk_number_(disk_number) {
  AddButton("OK", "OK", kIdOk);
  AddButton("Cancel", "Cancel", kIdCancel);
  SetDefaultButton(0);
  SetRefusingButton(1);
  SetTopmost(true);
}

int RunDiskDialog(FrontEnd& front_end, bool reading, int disk_number) {
  DiskDialog dialog(reading, disk_number);
  const int id = front_end.Show(dialog);
  return dialog.Closed() && id == kIdOk ? kIdOk : kIdCancel;
}

}  // namespace crx::ui
