// What the engine asks of a person: message boxes, the replace question of
// the extraction and the setup information of a new setup archive - the
// calls the engine itself makes, and nothing else. ui/ implements it with
// dialog models shown by the front-end chosen at start-up (Win32 dialogs,
// the terminal, or an answers file). Every other dialog is a model in ui/
// shown on the front-end directly (ui::FrontEnd::Show, or the typed helper
// next to the model, such as ui::RunUnlockDialog); a new dialog is a new
// model there, never a call here.
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

  // The disk dialog of removable-media volumes, asking for disk number
  // disk_number: captioned "Cratex - Disk Full" while an archive is being
  // written (reading false) and "Cratex - End Of Disk" while one is read.
  // Returns kIdOk (the disk is in the drive) or kIdCancel, or
  // kDialogUnavailable when the program has no such dialog (the caller
  // then asks with a message box of the same text).
  virtual int AskForDisk(bool reading, int disk_number) {
    (void)reading, (void)disk_number;
    return kDialogUnavailable;
  }
};

}  // namespace crx

#endif  // CRX_ENGINE_USER_INTERFACE_H
