#include "ui/dialog.h"

namespace crx::ui {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

const DialogField* Dialog::FindField(const std::string& name) const {
  for (const DialogField& f : fields_) {
    if (SameName(f.name, name)) return &f;
  }
  return nullptr;
}

DialogField* Dialog::MutableField(const std::string& name) {
  for (DialogField& f : fields_) {
    if (SameName(f.name, name)) return &f;
  }
  return nullptr;
}

const DialogButton* Dialog::FindButton(const std::string& name) const {
  for (const DialogButton& b : buttons_) {
    if (SameName(b.name, name) || SameName(b.label, name)) return &b;
  }
  return nullptr;
}

const DialogButton* Dialog::FindButtonById(int id) const {
  for (const DialogButton& b : buttons_) {
    if (b.id == id) return &b;
  }
  return nullptr;
}

bool Dialog::SetField(const std::string& name, const std::string& value,
                      std::string* error) {
  DialogField* field = MutableField(name);
  if (!field) {
    *error = "the dialog \"" + name_ + "\" has no field \"" + name + "\"";
    return false;
  }
  if (field->read_only) {
    *error = "the field \"" + field->name + "\" of the dialog \"" + name_ +
             "\" cannot be changed";
    return false;
  }
  if (field->kind == FieldKind::kCheck && value != "0" && value != "1") {
    *error = "the check box \"" + field->name + "\" takes 1 or 0, not \"" +
             value + "\"";
    return false;
  }
  if (field->value == value) return true;
  field->value = value;
  const std::string changed = field->name;  // the hook may touch fields_
  FieldChanged(changed);
  return true;
}

bool Dialog::Validate(int, std::string*) { return true; }

bool Dialog::Press(int id, std::string* error) {
  if (!FindButtonById(id)) {
    *error = "the dialog \"" + name_ + "\" has no such button";
    return false;
  }
  if (!Validate(id, error)) return false;
  closed_ = true;
  result_ = id;
  return true;
}

void Dialog::Refuse() {
  closed_ = true;
  result_ = buttons_.empty() ? 0 : buttons_[refusing_button_].id;
}

void Dialog::AddButton(std::string name, std::string label, int id, char shortcut) {
  if (shortcut == 0 && !label.empty()) shortcut = label[0];
  shortcut = Lower(shortcut);
  for (const DialogButton& b : buttons_) {
    if (b.shortcut == shortcut) {
      shortcut = 0;
      break;
    }
  }
  buttons_.push_back(DialogButton{std::move(name), std::move(label), id, shortcut});
}

}  // namespace crx::ui
