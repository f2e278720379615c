// The file choosers of the builder as a dialog model: "open" (one existing
// file, or several) and "save as". Windows programs show their system's
// own dialogs instead; the terminal and answers files fill in the field.
//
// Field "Path": the file chosen (a proposed name to start with). With
// several files allowed, the paths are separated by "|" (a character no
// Windows path holds). Buttons OK and Cancel; OK is refused while the
// field is empty.
#ifndef CRX_UI_FILE_CHOOSER_DIALOG_H
#define CRX_UI_FILE_CHOOSER_DIALOG_H

#include <string>
#include <vector>

#include "ui/dialog.h"

namespace crx::ui {

enum class FileChooserKind { kOpen, kOpenMultiple, kSave };

class FileChooserDialog : public Dialog {
 public:
  static constexpr const char* kName = "ChooseFile";
  static constexpr const char* kPathField = "Path";

  // filter: "text (*.ext)|*.ext||" as the Windows dialogs take it; shown
  // as the dialog's text.
  FileChooserDialog(FileChooserKind kind, const std::string& title, const std::string& filter,
                    const std::string& proposed);

  FileChooserKind kind() const { return kind_; }
  // The paths chosen, without blanks at their ends; one for the single
  // choosers.
  std::vector<std::string> Paths() const;

 protected:
  bool Validate(int id, std::string* error) override;

 private:
  FileChooserKind kind_;
};

// The description of the first type of a filter ("script file (*.txt)").
std::string FilterDescription(const std::string& filter);

}  // namespace crx::ui

#endif  // CRX_UI_FILE_CHOOSER_DIALOG_H
