// The builder's "Preferences" dialog: the activity log, the exclusion list
// of project backup mode (with "SetDefaults"), archive creation on drop,
// the block size and the end-of-medium detection of removable media.
//
// Fields: Logging, CreateOnDrop and SoftEOM (check boxes), IgnoreFiles and
// BlockSize (texts). Buttons: OK, Cancel and SetDefaults. SetDefaults
// closes the model with kPreferencesSetDefaults; RunPreferencesDialog then
// shows it again with the default exclusion list and the other fields as
// they were, so every front-end (the terminal, answers files, Win32) treats
// it as an ordinary button.
#ifndef CRX_UI_PREFERENCES_DIALOG_H
#define CRX_UI_PREFERENCES_DIALOG_H

#include <string>

#include "ui/dialog.h"

namespace crx::ui {

class FrontEnd;

inline constexpr int kPreferencesSetDefaults = 1001;

inline constexpr const char* kDefaultExclusionList =
    "EXE:OBJ:RES:TLB:PDB:SBR:BSC:ILK:NCB:OPT:PLG:APS:IDB:PCH:LIB:DLL:OCX:CLASS";

// The five values. The numbers are kept as the registry holds them (1 = on).
struct PreferenceValues {
  int logging = 0;
  std::string ignore_files;
  int create_on_drop = 0;
  int block_size = 0;
  int soft_eom = 1;
};

class PreferencesDialog : public Dialog {
 public:
  static constexpr const char* kName = "Preferences";
  static constexpr const char* kLoggingField = "Logging";
  static constexpr const char* kIgnoreFilesField = "IgnoreFiles";
  static constexpr const char* kCreateOnDropField = "CreateOnDrop";
  static constexpr const char* kBlockSizeField = "BlockSize";
  static constexpr const char* kSoftEomField = "SoftEOM";

  static constexpr const char* kEmptyListText =
      "You have entered an empty exclude list, this is not \nallowed. If you do not widh to "
      "exclude any files, simply\ndisable that option from the 'options' menu or use the\n+P "
      "option if you are processing a script.";
  static constexpr const char* kSpacesText =
      "The exclude list contains embeded spaces, this is not allowed\nThe list should be made "
      "up of colon separated file extensions\nE.G.  OBJ:EXE:DLL\nIf you are unsure, reset the "
      "default";
  static constexpr const char* kNoColonsText =
      "The exclude list contains no colons, this is an error\nThe list should be made up of "
      "colon separated file extensions\nE.G.  :OBJ:EXE:DLL:\nIf you are unsure, reset the "
      "default";
  static constexpr const char* kNotIntegerText = "Please enter an integer.";

  explicit PreferencesDialog(const PreferenceValues& values);

  // The values as the controls hold them, the exclusion list trimmed of
  // spaces at both ends and in upper case, the check boxes 1 or 0.
  // Meaningful once the dialog closed with OK.
  PreferenceValues Values() const;

 protected:
  bool Validate(int id, std::string* error) override;
};

// The exclusion list as OK takes it: spaces removed at both ends, upper
// case.
std::string NormalisedExclusionList(const std::string& typed);
// The message that refuses the (normalised) list, or null when it is
// accepted: empty, then embedded spaces, then no colon.
const char* ExclusionListError(const std::string& list);
// The block size text as a whole decimal integer (blanks around it and a
// sign allowed); false when it is not one or does not fit an int.
bool ParseBlockSize(const std::string& text, int* value);

// Shows the dialog until OK or Cancel (SetDefaults puts the default list in
// and shows it again). True with the accepted values in *values after OK.
bool RunPreferencesDialog(FrontEnd& front_end, PreferenceValues* values);

}  // namespace crx::ui

#endif  // CRX_UI_PREFERENCES_DIALOG_H
