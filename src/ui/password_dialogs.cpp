#include "ui/password_dialogs.h"

#include <utility>

#include "engine/scramble.h"
#include "engine/user_interface.h"

namespace crx::ui {

LockArchiveDialog::LockArchiveDialog()
    : Dialog(kName, "Cratex - Lock Archive", "enter password to lock the archive") {
  AddField({kPasswordField, "password....", FieldKind::kPassword, "", false});
  AddField({kConfirmField, "confirm password...", FieldKind::kPassword, "", false});
  AddButton("OK", "OK", kIdOk);
  AddButton("Cancel", "Cancel", kIdCancel);
  SetDefaultButton(0);
  SetRefusingButton(1);
}

const std::string& LockArchiveDialog::Password() const {
  return FindField(kPasswordField)->value;
}

bool LockArchiveDialog::Validate(int id, std::string* error) {
  if (id != kIdOk) return true;
  DialogField* password = MutableField(kPasswordField);
  DialogField* confirm = MutableField(kConfirmField);
  if (password->value.size() < kMinimumTypedPassword) {
    *error = "The password must be at least 4 characters";
    return false;
  }
  if (password->value != confirm->value) {
    password->value.clear();
    confirm->value.clear();
    *error = "The passwords do not match";
    return false;
  }
  return true;
}

UnlockArchiveDialog::UnlockArchiveDialog(std::string digest)
    : Dialog(kName, "Cratex - Unlock Archive", "enter password to unlock the archive"),
      digest_(std::move(digest)) {
  AddField({kPasswordField, "password", FieldKind::kPassword, "", false});
  AddButton("OK", "OK", kIdOk);
  AddButton("Cancel", "Cancel", kIdCancel);
  SetDefaultButton(0);
  SetRefusingButton(1);
}

bool UnlockArchiveDialog::Validate(int id, std::string* error) {
  if (id != kIdOk) return true;
  DialogField* password = MutableField(kPasswordField);
  if (!PasswordMatchesDigest(password->value, digest_)) {
    password->value.clear();
    *error = "Incorrect Password";
    return false;
  }
  return true;
}

bool RunLockDialog(FrontEnd& front_end, std::string* password) {
  LockArchiveDialog dialog;
  // The model's own result counts: it closes with OK only after its checks.
  front_end.Show(dialog);
  if (!dialog.Closed() || dialog.Result() != kIdOk) return false;
  *password = dialog.Password();
  return true;
}

bool RunUnlockDialog(FrontEnd& front_end, const std::string& digest) {
  if (digest.empty()) return true;
  UnlockArchiveDialog dialog(digest);
  front_end.Show(dialog);
  return dialog.Closed() && dialog.Result() == kIdOk;
}

}  // namespace crx::ui
