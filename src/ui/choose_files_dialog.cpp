#include "ui/choose_files_dialog.h"

#include "common/format.h"
#include "engine/user_interface.h"

namespace crx::ui {

namespace {

constexpr const char* kRequiredField = "Required";
constexpr const char* kAvailableField = "Available";

}  // namespace

std::string GroupedDecimal(uint64_t value) {
  std::string digits = Format("%llu", static_cast<unsigned long long>(value));
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

ChooseFilesDialog::ChooseFilesDialog(const std::vector<FileGroupChoice>& groups,
                                     uint64_t free_space)
    : Dialog(kName, "Advanced Installation Option", "Select the application groups to install"),
      groups_(groups),
      free_space_(free_space) {
  for (const FileGroupChoice& g : groups_) {
    if (g.bytes == 0) continue;
    DialogField box;
    box.name = FieldName(g.number);
    box.label = g.description.empty() ? box.name : g.description;
    box.kind = FieldKind::kCheck;
    box.value = g.selected ? "1" : "0";
    box.read_only = g.mandatory;
    AddField(box);
  }
  DialogField required;
  required.name = kRequiredField;
  required.read_only = true;
  AddField(required);
  DialogField available;
  available.name = kAvailableField;
  available.read_only = true;
  available.value = Format("  Disk Space Available:  %s bytes", GroupedDecimal(free_space_).c_str());
  AddField(available);
  UpdateSpaceLines();
  AddButton("OK", "OK", kIdOk);
  AddButton("Cancel", "Cancel", kIdCancel);
  SetDefaultButton(0);
  SetRefusingButton(1);
}

std::string ChooseFilesDialog::FieldName(int number) { return Format("G%d", number); }

bool ChooseFilesDialog::Selected(int number) const {
  for (const FileGroupChoice& g : groups_) {
    if (g.number != number) continue;
    const DialogField* box = FindField(FieldName(number));
    return box ? box->value == "1" : g.selected;
  }
  return false;
}

uint64_t ChooseFilesDialog::RequiredBytes() const {
  uint64_t sum = 0;
  for (const FileGroupChoice& g : groups_) {
    if (g.bytes != 0 && Selected(g.number)) sum += g.bytes;
  }
  return sum;
}

void ChooseFilesDialog::UpdateSpaceLines() {
  MutableField(kRequiredField)->value =
      Format("  Disk Space Required:  %s bytes", GroupedDecimal(RequiredBytes()).c_str());
}

void ChooseFilesDialog::FieldChanged(const std::string&) { UpdateSpaceLines(); }

bool ChooseFilesDialog::Validate(int id, std::string* error) {
  if (id != kIdOk) return true;
  // Nothing ticked is refused only when a box could be ticked: without any
  // box (no group has files) or with fixed boxes alone, OK is the only way
  // on besides Cancel.
  bool can_tick = false;
  for (const FileGroupChoice& g : groups_) {
    if (g.bytes == 0) continue;
    if (Selected(g.number)) return true;
    if (!g.mandatory) can_tick = true;
  }
  if (!can_tick) return true;
  *error = kNothingChosen;
  return false;
}

}  // namespace crx::ui
