// The builder's window program on Windows: Cratex started without a
// script opens its main window on a new document and runs until the user
// exits.
#ifndef CRX_PROGRAMS_CRATEX_WINDOW_H
#define CRX_PROGRAMS_CRATEX_WINDOW_H

namespace crx {
struct Platform;
class UserInterface;
namespace ui {
class FrontEnd;
}

// Runs the main window; returns the program's exit status (0 after Exit,
// 1 when the window cannot be made). unattended: an answers file answers
// the dialogs, so the file and folder choosers are asked through the
// front-end instead of the system's dialogs.
int RunBuilderWindow(Platform& platform, UserInterface& ui, ui::FrontEnd& front_end,
                     bool unattended);

}  // namespace crx

#endif  // CRX_PROGRAMS_CRATEX_WINDOW_H
