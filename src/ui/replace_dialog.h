// The "Replace Existing File?" dialog: asked during extraction when a file
// already exists where a member is to be written. It shows the file's path
// in a read-only field and ends with one of six buttons; the "To All" and
// "All If newer" answers change the replace mode for the rest of the
// operation (the extraction policy acts on the identifier). It is modal
// and comes up in front of other windows. Nobody to ask means No.
#ifndef CRX_UI_REPLACE_DIALOG_H
#define CRX_UI_REPLACE_DIALOG_H

#include <string>

#include "ui/dialog.h"
#include "ui/front_end.h"

namespace crx::ui {

class ReplaceExistingFileDialog : public Dialog {
 public:
  // The dialog's stable name, used by answers files.
  static constexpr const char* kName = "ReplaceExistingFile";
  // The name of the read-only field that holds the path.
  static constexpr const char* kPathField = "Path";

  explicit ReplaceExistingFileDialog(const std::string& path);

  const std::string& Path() const { return FindField(kPathField)->value; }
  // Front-ends show every dialog modally; this one is also Topmost().
};

// Shows the dialog for the file at path on front_end and returns the
// identifier of the button pressed (kIdReplaceYes ... kIdReplaceAllIfNewer),
// or kDialogUnavailable when the front-end closed it without one of them.
int RunReplaceExistingFileDialog(FrontEnd& front_end, const std::string& path);

}  // namespace crx::ui

#endif  // CRX_UI_REPLACE_DIALOG_H
