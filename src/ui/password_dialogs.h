// The password dialogs: the lock dialog asks for the password of a new
// archive twice, the unlock dialog asks for the password of a protected
// archive until it matches the stored digest (engine/scramble.h).
#ifndef CRX_UI_PASSWORD_DIALOGS_H
#define CRX_UI_PASSWORD_DIALOGS_H

#include <string>

#include "ui/dialog.h"
#include "ui/front_end.h"

namespace crx::ui {

// "Cratex - Lock Archive": fields Password ("password....") and Confirm
// ("confirm password..."), buttons OK and Cancel. OK is refused while the
// password has fewer than 4 characters, and while the two entries differ
// (both are then emptied).
class LockArchiveDialog : public Dialog {
 public:
  static constexpr const char* kName = "LockArchive";
  static constexpr const char* kPasswordField = "Password";
  static constexpr const char* kConfirmField = "Confirm";

  LockArchiveDialog();

  // The password as typed; meaningful once the dialog closed with OK.
  const std::string& Password() const;

 protected:
  bool Validate(int id, std::string* error) override;
};

// "Cratex - Unlock Archive": field Password, buttons OK and Cancel. OK is
// refused, and the field emptied, until the password matches the digest
// the dialog was given.
class UnlockArchiveDialog : public Dialog {
 public:
  static constexpr const char* kName = "UnlockArchive";
  static constexpr const char* kPasswordField = "Password";

  explicit UnlockArchiveDialog(std::string digest);

 protected:
  bool Validate(int id, std::string* error) override;

 private:
  std::string digest_;
};

// Shows the lock dialog. True with the password as typed in *password when
// it closed with OK; false when it was cancelled or could not be answered.
// The caller makes the digest with DigestFromTypedPassword.
bool RunLockDialog(FrontEnd& front_end, std::string* password);

// Shows the unlock dialog for an archive whose stored digest is digest.
// True when the right password was given, false when the dialog was
// cancelled or could not be answered. An empty digest means the archive has
// no password: true without showing anything.
bool RunUnlockDialog(FrontEnd& front_end, const std::string& digest);

}  // namespace crx::ui

#endif  // CRX_UI_PASSWORD_DIALOGS_H
