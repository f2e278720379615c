// A front-end shows dialog models to a person (or to an answers file) and
// reports what was pressed and entered. Three exist: win32/ (real Win32
// dialogs), console/ (the terminal) and answers/ (unattended answers).
#ifndef CRX_UI_FRONT_END_H
#define CRX_UI_FRONT_END_H

#include <memory>

#include "ui/dialog.h"

namespace crx {
struct Platform;
}

namespace crx::ui {

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // Shows the dialog until it is closed; afterwards dialog.Closed() is true
  // and the return value is dialog.Result().
  virtual int Show(Dialog& dialog) = 0;
};

// The front-end of the system the program runs on when no answers file is
// given: Win32 dialogs on Windows, the terminal elsewhere. Defined by the
// front-end folder the build compiles.
std::unique_ptr<FrontEnd> MakeNativeFrontEnd(Platform& platform);

}  // namespace crx::ui

#endif  // CRX_UI_FRONT_END_H
