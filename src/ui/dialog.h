// Dialog models. Every dialog the programs show is a Dialog: a stable name
// ("MessageBox", "ReplaceExistingFile", ...), a caption and a text, named
// fields a person can fill in (texts and check boxes), named buttons, a
// validation step that may refuse a button press with a message, and the
// identifier of the button that closed it. Front-ends (front_end.h) show any
// model through these parts; only the Win32 front-end needs to know a
// dialog's layout.
#ifndef CRX_UI_DIALOG_H
#define CRX_UI_DIALOG_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace crx::ui {

class MessageBoxDialog;
class DisplayDialog;
class FolderBrowserDialog;

enum class FieldKind {
  kText,      // one line of text
  kPassword,  // a text that is not shown back
  kCheck,     // a check box: value "1" (checked) or "0"
  kChoice,    // a drop-down list: value is one of FieldChoices() (the model
              // checks it when a button is pressed), or "" for none
};

struct DialogField {
  std::string name;   // stable name used by answers files: no spaces
  std::string label;  // what a person reads
  FieldKind kind = FieldKind::kText;
  std::string value;  // the text, or "1"/"0" for a check box
  bool read_only = false;  // shown, never asked for or answered
  // A read-only text field with an empty label is a line of the dialog's
  // own text that the model keeps up to date (a running total).
};

struct DialogButton {
  std::string name;    // stable name used by answers files: no spaces
  std::string label;   // what a person reads ("No To All")
  int id = 0;          // the identifier the dialog ends with
  char shortcut = 0;   // letter a console user may type; 0 = none
};

class Dialog {
 public:
  virtual ~Dialog() = default;

  const std::string& Name() const { return name_; }
  const std::string& Caption() const { return caption_; }
  const std::string& Text() const { return text_; }

  const std::vector<DialogField>& Fields() const { return fields_; }
  const std::vector<DialogButton>& Buttons() const { return buttons_; }
  // Index into Buttons() of the button Enter presses.
  size_t DefaultButton() const { return default_button_; }
  // Index into Buttons() of the answer taken when nobody can answer.
  size_t RefusingButton() const { return refusing_button_; }
  // True when the dialog is to stay above other windows.
  bool Topmost() const { return topmost_; }

  // Field access by name (case-insensitive); null when there is none.
  const DialogField* FindField(const std::string& name) const;
  // Button lookup by name or label (case-insensitive); null when none.
  const DialogButton* FindButton(const std::string& name) const;
  const DialogButton* FindButtonById(int id) const;

  // Sets a field a person may edit. False with *error when the field does
  // not exist, is read-only, or a check box gets a value other than "0"/"1".
  bool SetField(const std::string& name, const std::string& value,
                std::string* error);

  // A person pressed the button with identifier id. The model validates the
  // fields for that button; on refusal it returns false with the message to
  // show in *error and the dialog stays open. On success the dialog is
  // closed with that button as its result.
  bool Press(int id, std::string* error);

  // Closes the dialog with its refusing answer without validation: the
  // answer taken when no person can be asked.
  void Refuse();

  bool Closed() const { return closed_; }
  // The identifier of the button that closed the dialog (0 while open).
  int Result() const { return result_; }

  // The message-box model behind this dialog, or null (no RTTI in stubs).
  virtual const MessageBoxDialog* AsMessageBox() const { return nullptr; }
  // The text-viewer model behind this dialog, or null.
  virtual const DisplayDialog* AsDisplay() const { return nullptr; }
  // The choices of a kChoice field, in the order shown; null for other
  // fields.
  virtual const std::vector<std::string>* FieldChoices(const std::string& name) const {
    (void)name;
    return nullptr;
  }
  // The folder browser behind this dialog, or null: front-ends show it as
  // a navigable tree rather than as its fields.
  virtual FolderBrowserDialog* AsFolderBrowser() { return nullptr; }

 protected:
  Dialog(std::string name, std::string caption, std::string text)
      : name_(std::move(name)), caption_(std::move(caption)),
        text_(std::move(text)) {}

  // Validation of a press: false with *error refuses it. Models with
  // fields override it; the default accepts every button.
  virtual bool Validate(int id, std::string* error);
  // Called after SetField changed a field, so that a model can bring its
  // read-only fields up to date (front-ends show them again afterwards).
  virtual void FieldChanged(const std::string& name) { (void)name; }

  void AddField(DialogField field) { fields_.push_back(std::move(field)); }
  // Adds a button; its shortcut is the first letter of its label unless
  // given, and is dropped when another button already uses that letter.
  void AddButton(std::string name, std::string label, int id, char shortcut = 0);
  void SetDefaultButton(size_t index) { default_button_ = index; }
  void SetRefusingButton(size_t index) { refusing_button_ = index; }
  void SetTopmost(bool topmost) { topmost_ = topmost; }
  DialogField* MutableField(const std::string& name);

 private:
  std::string name_;
  std::string caption_;
  std::string text_;
  std::vector<DialogField> fields_;
  std::vector<DialogButton> buttons_;
  size_t default_button_ = 0;
  size_t refusing_button_ = 0;
  bool topmost_ = false;
  bool closed_ = false;
  int result_ = 0;
};

// Case-insensitive comparison of ASCII names.
bool SameName(const std::string& a, const std::string& b);

}  // namespace crx::ui

#endif  // CRX_UI_DIALOG_H
