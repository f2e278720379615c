#include "ui/preferences_dialog.h"

#include <climits>

#include "common/format.h"
#include "engine/user_interface.h"
#include "ui/front_end.h"

namespace crx::ui {

namespace {

const char* Flag(int value) { return value == 1 ? "1" : "0"; }

}  // namespace

PreferencesDialog::PreferencesDialog(const PreferenceValues& values)
    : Dialog(kName, "Preferences", "") {
  AddField({kLoggingField, "Enable activity log", FieldKind::kCheck, Flag(values.logging),
            false});
  AddField({kIgnoreFilesField, "project mode exclusion list", FieldKind::kText,
            values.ignore_files, false});
  AddField({kCreateOnDropField, "Enable archive creation on drop", FieldKind::kCheck,
            Flag(values.create_on_drop), false});
  AddField({kBlockSizeField,
            "Blocksize for removable media i/o (in bytes) - A value of 0 indicates default "
            "value based on media size",
            FieldKind::kText, Format("%d", values.block_size), false});
  // SoftEOM is on for any non-zero value.
  AddField({kSoftEomField, "Detect END-OF-REMOVABLE-MEDIA in software", FieldKind::kCheck,
            values.soft_eom != 0 ? "1" : "0", false});
  AddButton("OK", "OK", kIdOk);
  AddButton("Cancel", "Cancel", kIdCancel);
  AddButton("SetDefaults", "SetDefaults", kPreferencesSetDefaults);
  SetDefaultButton(0);
  SetRefusingButton(1);
}

std::string NormalisedExclusionList(const std::string& typed) {
  size_t begin = 0;
  size_t end = typed.size();
  while (begin < end && typed[begin] == ' ') ++begin;
  while (end > begin && typed[end - 1] == ' ') --end;
  std::string list = typed.substr(begin, end - begin);
  for (char& c : list) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return list;
}

const char* ExclusionListError(const std::string& list) {
  if (list.empty()) return PreferencesDialog::kEmptyListText;
  if (list.find(' ') != std::string::npos) return PreferencesDialog::kSpacesText;
  if (list.find(':') == std::string::npos) return PreferencesDialog::kNoColonsText;
  return nullptr;
}

bool ParseBlockSize(const std::string& text, int* value) {
  size_t i = 0;
  size_t end = text.size();
  while (i < end && (text[i] == ' ' || text[i] == '\t')) ++i;
  while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  bool negative = false;
  if (i < end && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == end) return false;
  long long number = 0;
  for (; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    number = number * 10 + (text[i] - '0');
    if (number > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (negative) number = -number;
  if (number > INT_MAX || number < INT_MIN) return false;
  *value = static_cast<int>(number);
  return true;
}

PreferenceValues PreferencesDialog::Values() const {
  PreferenceValues values;
  values.logging = FindField(kLoggingField)->value == "1" ? 1 : 0;
  values.ignore_files = NormalisedExclusionList(FindField(kIgnoreFilesField)->value);
  values.create_on_drop = FindField(kCreateOnDropField)->value == "1" ? 1 : 0;
  int block_size = 0;
  if (ParseBlockSize(FindField(kBlockSizeField)->value, &block_size)) {
    values.block_size = block_size;
  }
  values.soft_eom = FindField(kSoftEomField)->value == "1" ? 1 : 0;
  return values;
}

bool PreferencesDialog::Validate(int id, std::string* error) {
  if (id != kIdOk) return true;
  int block_size = 0;
  if (!ParseBlockSize(FindField(kBlockSizeField)->value, &block_size)) {
    *error = kNotIntegerText;
    return false;
  }
  DialogField* list = MutableField(kIgnoreFilesField);
  const std::string normalised = NormalisedExclusionList(list->value);
  if (const char* message = ExclusionListError(normalised)) {
    *error = message;
    return false;
  }
  list->value = normalised;
  return true;
}

bool RunPreferencesDialog(FrontEnd& front_end, PreferenceValues* values) {
  PreferenceValues shown = *values;
  for (;;) {
    PreferencesDialog dialog(shown);
    front_end.Show(dialog);
    if (!dialog.Closed()) return false;
    if (dialog.Result() == kPreferencesSetDefaults) {
      // Everything else stays as the person left it; nothing is stored yet.
      shown.logging = dialog.FindField(PreferencesDialog::kLoggingField)->value == "1" ? 1 : 0;
      shown.create_on_drop =
          dialog.FindField(PreferencesDialog::kCreateOnDropField)->value == "1" ? 1 : 0;
      shown.soft_eom = dialog.FindField(PreferencesDialog::kSoftEomField)->value == "1" ? 1 : 0;
      int block_size = 0;
      if (ParseBlockSize(dialog.FindField(PreferencesDialog::kBlockSizeField)->value,
                         &block_size)) {
        shown.block_size = block_size;
      }
      shown.ignore_files = kDefaultExclusionList;
      continue;
    }
    if (dialog.Result() != kIdOk) return false;
    *values = dialog.Values();
    return true;
  }
}

}  // namespace crx::ui
