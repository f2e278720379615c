// What the engine and the programs built on it ask of a person. The engine
// only knows this interface; ui/ implements it with dialog models shown by
// the front-end chosen at start-up (Win32 dialogs, the terminal, or an
// answers file). Later dialogs are added here as typed calls.
#ifndef CRX_ENGINE_USER_INTERFACE_H
#define CRX_ENGINE_USER_INTERFACE_H

#include <cstdint>
#include <string>

#include "engine/format.h"

namespace crx {

// Message box styles (MB_*) and results (ID*), with Win32's values.
enum : uint32_t {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbAbortRetryIgnore = 0x2,
  kMbYesNoCancel = 0x3,
  kMbYesNo = 0x4,
  kMbRetryCancel = 0x5,
  kMbTypeMask = 0xF,
  kMbIconHand = 0x10,         // MB_ICONERROR / MB_ICONSTOP
  kMbIconQuestion = 0x20,
  kMbIconExclamation = 0x30,  // MB_ICONWARNING
  kMbIconAsterisk = 0x40,     // MB_ICONINFORMATION
  kMbIconMask = 0xF0,
  kMbDefButton1 = 0x0,
  kMbDefButton2 = 0x100,
  kMbDefButton3 = 0x200,
  kMbDefMask = 0xF00,
  kMbSystemModal = 0x1000,
  kMbTaskModal = 0x2000,
  kMbSetForeground = 0x10000,
  kMbTopmost = 0x40000,
};
enum : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdAbort = 3,
  kIdRetry = 4,
  kIdIgnore = 5,
  kIdYes = 6,
  kIdNo = 7,
  // The buttons of the "Replace Existing File?" dialog.
  kIdReplaceYes = 1021,
  kIdReplaceNo = 1022,
  kIdReplaceNoToAll = 1023,
  kIdReplaceYesToAll = 1024,
  kIdReplaceIfNewer = 1031,
  kIdReplaceAllIfNewer = 1032,
  // Returned by a dialog that cannot be shown.
  kDialogUnavailable = -1,
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // MessageBox: shows text with a caption and the buttons and icon of
  // flags; returns the identifier of the button pressed (kIdOk ...).
  virtual int MessageBox(const std::string& text, const std::string& caption,
                         uint32_t flags) = 0;

  // The "Replace Existing File?" dialog for the file at path: returns the
  // identifier of the button pressed (kIdReplaceYes ... kIdReplaceAllIfNewer),
  // or kDialogUnavailable when the dialog cannot be shown (the caller then
  // asks with a message box instead).
  virtual int ReplaceExistingFile(const std::string& path) {
    (void)path;
    return kDialogUnavailable;
  }

  // The setup-information dialog, shown when a setup archive is created
  // with incomplete texts: edits the five texts of *info. Returns kIdOk
  // (the texts in *info are to be used), kIdCancel (the user abandoned the
  // archive), or kDialogUnavailable when the program has no such dialog.
  virtual int SetupInformation(SetupInfo* info) {
    (void)info;
    return kDialogUnavailable;
  }

  // The lock dialog: asks for a new password twice. True with the password
  // in *password when the user pressed OK, false when the user cancelled or
  // the dialog cannot be shown.
  virtual bool LockArchive(std::string* password) {
    (void)password;
    return false;
  }

  // The unlock dialog: asks for the password of an archive whose stored
  // digest is digest, until the user gives the right one (true) or cancels
  // (false; also when the dialog cannot be shown).
  virtual bool UnlockArchive(const std::string& digest) {
    (void)digest;
    return false;
  }
};

}  // namespace crx

#endif  // CRX_ENGINE_USER_INTERFACE_H
