// The file-group chooser of an installation ("Advanced Installation
// Option"): one check box per file group that has files, mandatory groups
// shown but fixed, and two lines with the disk space the ticked groups need
// and the space the installation drive has, kept up to date as boxes change.
#ifndef CRX_UI_CHOOSE_FILES_DIALOG_H
#define CRX_UI_CHOOSE_FILES_DIALOG_H

#include <cstdint>
#include <string>
#include <vector>

#include "ui/dialog.h"

namespace crx::ui {

struct FileGroupChoice {
  int number = 0;            // 0 to 7: the group's box is the field "G<n>"
  std::string description;   // the box's label
  uint64_t bytes = 0;        // counted size of the group's files; 0 = not shown
  bool selected = true;
  bool mandatory = false;    // the box cannot be changed
};

// "1,234,567": the decimal digits in groups of three.
std::string GroupedDecimal(uint64_t value);

class ChooseFilesDialog : public Dialog {
 public:
  static constexpr const char* kName = "ChooseFiles";
  static constexpr const char* kNothingChosen =
      "You have chosen to install no options.\nIf you want to cancel the installation, \n"
      "you must use the cancel button.";

  // OK (kIdOk) and Cancel (kIdCancel); Cancel is the refusing answer.
  ChooseFilesDialog(const std::vector<FileGroupChoice>& groups, uint64_t free_space);

  // Whether group number is ticked (a group without files keeps the
  // selection it came with).
  bool Selected(int number) const;
  // The sum of the byte counts of the ticked groups.
  uint64_t RequiredBytes() const;

 protected:
  bool Validate(int id, std::string* error) override;
  void FieldChanged(const std::string& name) override;

 private:
  static std::string FieldName(int number);
  void UpdateSpaceLines();

  std::vector<FileGroupChoice> groups_;
  uint64_t free_space_;
};

}  // namespace crx::ui

#endif  // CRX_UI_CHOOSE_FILES_DIALOG_H
