// Without Win32 the terminal is the system's own front-end.
#include "platform/platform.h"
#include "ui/console/console_front_end.h"

namespace crx::ui {

std::unique_ptr<FrontEnd> MakeNativeFrontEnd(Platform& platform) {
  return std::make_unique<ConsoleFrontEnd>(platform);
}

}  // namespace crx::ui
