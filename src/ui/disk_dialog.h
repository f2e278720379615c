// The disk dialog of removable-media volumes: one modal dialog for every
// disk change, asking for the disk with a given number. It is captioned
// "Cratex - Disk Full" while an archive is being written and "Cratex - End
// Of Disk" while one is read, says that the end of the disk has been
// reached, names the disk wanted on a line of its own ("INSERT DISK NUMBER
// %d") and ends with OK (the disk is in) or Cancel. It comes up in front of
// other windows. Nobody to ask means Cancel.
//
// Answers files answer it as the dialog "Disk"; the pair Insert=N on the
// line puts disk N into the emulated machine's removable drive before OK
// is pressed (see the answers front-end).
#ifndef CRX_UI_DISK_DIALOG_H
#define CRX_UI_DISK_DIALOG_H

#include <string>

#include "ui/dialog.h"
#include "ui/front_end.h"

namespace crx::ui {

class DiskDialog : public Dialog {
 public:
  // The dialog's stable name, used by answers files.
  static constexpr const char* kName = "Disk";
  static constexpr const char* kWritingCaption = "Cratex - Disk Full";
  static constexpr const char* kReadingCaption = "Cratex - End Of Disk";

  // disk_number: the disk wanted (the volume number + 1).
  DiskDialog(bool reading, int disk_number);

  bool Reading() const { return reading_; }
  int DiskNumber() const { return disk_number_; }

 private:
  bool reading_;
  int disk_number_;
};

// Shows the dialog on front_end and returns kIdOk or kIdCancel (Cancel too
// when the front-end closed it without either).
int RunDiskDialog(FrontEnd& front_end, bool reading, int disk_number);

}  // namespace crx::ui

#endif  // CRX_UI_DISK_DIALOG_H
