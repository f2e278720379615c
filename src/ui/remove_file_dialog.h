// The "Remove Unused File" dialog: asked by an uninstallation before it
// removes a file whose shared-file reference count says that no program
// uses it any more. The count may be wrong, so the person decides: Yes and
// No for this file, Yes To All and No To All for every such file of the
// rest of the run (the interpreter remembers those). It shows the file's
// path between its texts and in a read-only field (a long path can be
// scrolled there). Enter and nobody to ask mean No: keeping a file costs
// some disk space, removing one that is still used breaks a program.
#ifndef CRX_UI_REMOVE_FILE_DIALOG_H
#define CRX_UI_REMOVE_FILE_DIALOG_H

#include <string>

#include "ui/dialog.h"
#include "ui/front_end.h"

namespace crx::ui {

// Button identifiers: Yes and No are the message-box ones (6 and 7).
inline constexpr int kIdRemoveYes = 6;
inline constexpr int kIdRemoveNo = 7;
inline constexpr int kIdRemoveYesToAll = 1051;
inline constexpr int kIdRemoveNoToAll = 1052;

class RemoveUnusedFileDialog : public Dialog {
 public:
  // The dialog's stable name, used by answers files.
  static constexpr const char* kName = "RemoveUnusedFile";
  // The name of the read-only field that holds the path.
  static constexpr const char* kPathField = "Path";

  explicit RemoveUnusedFileDialog(const std::string& path);

  const std::string& Path() const { return FindField(kPathField)->value; }
};

// Shows the dialog for the file at path and returns the identifier of the
// button pressed (kIdRemoveYes ... kIdRemoveNoToAll), or kDialogUnavailable
// when the front-end closed it without one of them.
int RunRemoveUnusedFileDialog(FrontEnd& front_end, const std::string& path);

}  // namespace crx::ui

#endif  // CRX_UI_REMOVE_FILE_DIALOG_H
