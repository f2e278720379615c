// The interpreter's input dialogs: a line of text ("Input"), a choice from
// a drop-down list ("Select") and the installation folder
// ("ChooseDirectory", with its "..." button that asks for the folder
// browser of folder_browser.h).
#ifndef CRX_UI_INPUT_DIALOGS_H
#define CRX_UI_INPUT_DIALOGS_H

#include <string>
#include <vector>

#include "ui/dialog.h"

namespace crx::ui {

// Button identifiers (the Win32 IDOK and IDCANCEL, and the "..." button).
inline constexpr int kInputOk = 1;
inline constexpr int kInputCancel = 2;
inline constexpr int kChooseDirBrowse = 1001;

// Blanks (spaces and tabs) removed at both ends.
std::string TrimBlanks(const std::string& text);

// "input": the title as caption, the prompt above the field "Text".
class InputDialog : public Dialog {
 public:
  static constexpr const char* kName = "Input";
  // A default of a single blank (the form an empty variable takes) opens
  // an empty box.
  InputDialog(const std::string& title, const std::string& prompt,
              const std::string& default_text);
  // The text entered, without blanks at its ends.
  std::string Value() const;
};

// The choices of a "select" list as a person sees them: split at commas,
// blanks removed at both ends of each; an empty choice ends the list.
std::vector<std::string> ListedChoices(const std::string& list);
// The choices as written between the commas (nothing trimmed or dropped),
// as silent mode takes them.
std::vector<std::string> WrittenChoices(const std::string& list);

// "select": the title as caption, the prompt, and the drop-down list
// "Choice" with the choice at default_index selected. OK takes only a
// listed choice; one named in another case becomes the list's spelling.
class SelectDialog : public Dialog {
 public:
  static constexpr const char* kName = "Select";
  SelectDialog(const std::string& title, const std::string& prompt,
               const std::vector<std::string>& choices, size_t default_index);
  // The selected choice's text.
  std::string Value() const;
  const std::vector<std::string>* FieldChoices(const std::string& name) const override;

 protected:
  bool Validate(int id, std::string* error) override;

 private:
  std::vector<std::string> choices_;
};

// "choosedir": captioned "Default Installation Directory", the title as
// its text, the field "Folder", and OK, Cancel and "...". Closing with
// kChooseDirBrowse asks the caller for the folder browser.
class ChooseDirDialog : public Dialog {
 public:
  static constexpr const char* kName = "ChooseDirectory";
  ChooseDirDialog(const std::string& title, const std::string& folder);
  // The folder entered, without blanks at its ends.
  std::string Value() const;
};

}  // namespace crx::ui

#endif  // CRX_UI_INPUT_DIALOGS_H
