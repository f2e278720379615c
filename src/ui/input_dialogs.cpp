#include "ui/input_dialogs.h"

namespace crx::ui {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string TrimBlanks(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

InputDialog::InputDialog(const std::string& title, const std::string& prompt,
                         const std::string& default_text)
    : Dialog(kName, title, prompt) {
  DialogField field;
  field.name = "Text";
  field.label = "Text";
  field.value = default_text == " " ? std::string() : default_text;
  AddField(field);
  AddButton("OK", "OK", kInputOk);
  AddButton("Cancel", "Cancel", kInputCancel);
  SetRefusingButton(1);
}

std::string InputDialog::Value() const { return TrimBlanks(FindField("Text")->value); }

std::vector<std::string> WrittenChoices(const std::string& list) {
  std::vector<std::string> choices;
  size_t start = 0;
  for (;;) {
    size_t comma = list.find(',', start);
    choices.push_back(list.substr(start, comma == std::string::npos ? std::string::npos
                                                                     : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return choices;
}

std::vector<std::string> ListedChoices(const std::string& list) {
  std::vector<std::string> choices;
  for (const std::string& written : WrittenChoices(list)) {
    std::string choice = TrimBlanks(written);
    if (choice.empty()) break;
    choices.push_back(choice);
  }
  return choices;
}

SelectDialog::SelectDialog(const std::string& title, const std::string& prompt,
                           const std::vector<std::string>& choices, size_t default_index)
    : Dialog(kName, title, prompt), choices_(choices) {
  DialogField field;
  field.name = "Choice";
  field.label = "Choice";
  field.kind = FieldKind::kChoice;
  if (default_index < choices.size()) field.value = choices[default_index];
  AddField(field);
  AddButton("OK", "OK", kInputOk);
  AddButton("Cancel", "Cancel", kInputCancel);
  SetRefusingButton(1);
}

std::string SelectDialog::Value() const { return FindField("Choice")->value; }

const std::vector<std::string>* SelectDialog::FieldChoices(const std::string& name) const {
  return SameName(name, "Choice") ? &choices_ : nullptr;
}

bool SelectDialog::Validate(int id, std::string* error) {
  if (id != kInputOk) return true;
  DialogField* field = MutableField("Choice");
  const std::string* match = nullptr;
  for (const std::string& c : choices_) {
    if (c == field->value) {
      match = &c;
      break;
    }
    if (!match && SameName(c, field->value)) match = &c;
  }
  if (!match) {
    std::string list;
    for (const std::string& c : choices_) list += (list.empty() ? "\"" : ", \"") + c + "\"";
    *error = "the list \"Choice\" has no choice \"" + field->value + "\" (its choices: " + list +
             ")";
    return false;
  }
  field->value = *match;
  return true;
}

ChooseDirDialog::ChooseDirDialog(const std::string& title, const std::string& folder)
    : Dialog(kName, "Default Installation Directory", title) {
  DialogField field;
  field.name = "Folder";
  field.label = "Folder";
  field.value = folder;
  AddField(field);
  AddButton("OK", "OK", kInputOk);
  AddButton("Cancel", "Cancel", kInputCancel);
  AddButton("Browse", "...", kChooseDirBrowse, 'b');
  SetRefusingButton(1);
}

std::string ChooseDirDialog::Value() const { return TrimBlanks(FindField("Folder")->value); }

}  // namespace crx::ui
