// The terminal front-end: shows any dialog model as prompts on the
// platform's Terminal. Without a person at the terminal it never waits: it
// writes the dialog and a notice to the error stream and takes the dialog's
// refusing answer.
#ifndef CRX_UI_CONSOLE_CONSOLE_FRONT_END_H
#define CRX_UI_CONSOLE_CONSOLE_FRONT_END_H

#include "ui/front_end.h"

namespace crx {
class Terminal;
}

namespace crx::ui {

class ConsoleFrontEnd : public FrontEnd {
 public:
  explicit ConsoleFrontEnd(Terminal& terminal) : terminal_(terminal) {}
  int Show(Dialog& dialog) override;

 private:
  // Asks for every editable field; false at end of input.
  bool AskFields(Dialog& dialog);
  // Asks for a button until a valid one is given; false at end of input.
  bool AskButton(const Dialog& dialog, int* id);
  int NoAnswer(Dialog& dialog, const char* why);

  Terminal& terminal_;
};

}  // namespace crx::ui

#endif  // CRX_UI_CONSOLE_CONSOLE_FRONT_END_H
