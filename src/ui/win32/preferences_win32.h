// The Preferences dialog as its own Win32 window: the activity-log box, the
// exclusion list with its "SetDefaults" button beside it (which only puts
// the default list in the edit box), the creation-on-drop box, the block
// size with its note, and the end-of-medium box; OK and Cancel. OK copies
// the controls into the model and asks it to validate; a refused press
// shows the model's message and keeps the window open.
#ifndef CRX_UI_WIN32_PREFERENCES_WIN32_H
#define CRX_UI_WIN32_PREFERENCES_WIN32_H

#include "ui/preferences_dialog.h"

namespace crx::ui {

// Shows dialog until OK or Cancel; returns dialog.Result(). When no window
// can be made the dialog takes its refusing answer (Cancel).
int ShowPreferencesWindow(PreferencesDialog& dialog);

// The window on *values; true with the accepted values after OK. A window
// program's document host calls it for the Preferences command.
bool RunPreferencesWindow(PreferenceValues* values);

}  // namespace crx::ui

#endif  // CRX_UI_WIN32_PREFERENCES_WIN32_H
