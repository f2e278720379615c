#include "ui/file_chooser_dialog.h"

#include "engine/user_interface.h"
#include "ui/input_dialogs.h"

namespace crx::ui {

std::string FilterDescription(const std::string& filter) {
  return filter.substr(0, filter.find('|'));
}

FileChooserDialog::FileChooserDialog(FileChooserKind kind, const std::string& title,
                                     const std::string& filter, const std::string& proposed)
    : Dialog(kName, title, FilterDescription(filter)), kind_(kind) {
  AddField({kPathField,
            kind == FileChooserKind::kOpenMultiple ? "files (separated by |)" : "file",
            FieldKind::kText, proposed, false});
  AddButton("OK", "OK", kIdOk);
  AddButton("Cancel", "Cancel", kIdCancel);
  SetDefaultButton(0);
  SetRefusingButton(1);
}

std::vector<std::string> FileChooserDialog::Paths() const {
  std::vector<std::string> paths;
  const std::string& value = FindField(kPathField)->value;
  if (kind_ != FileChooserKind::kOpenMultiple) {
    std::string path = TrimBlanks(value);
    if (!path.empty()) paths.push_back(path);
    return paths;
  }
  size_t start = 0;
  for (;;) {
    const size_t bar = value.find('|', start);
    std::string path = TrimBlanks(value.substr(start, bar == std::string::npos ? bar : bar - start));
    if (!path.empty()) paths.push_back(path);
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return paths;
}

bool FileChooserDialog::Validate(int id, std::string* error) {
  if (id != kIdOk) return true;
  if (Paths().empty()) {
    *error = "No file has been chosen";
    return false;
  }
  return true;
}

}  // namespace crx::ui
