// The terminal front-end: shows any dialog model as prompts on the
// platform's Terminal. Without a person at the terminal it never waits: it
// writes the dialog and a notice to the error stream and takes the dialog's
// refusing answer.
#ifndef CRX_UI_CONSOLE_CONSOLE_FRONT_END_H
#define CRX_UI_CONSOLE_CONSOLE_FRONT_END_H

#include <functional>
#include <string>

#include "ui/front_end.h"

namespace crx {
class Terminal;
struct Platform;
}

namespace crx::ui {

// Shows a long text a page at a time; false when it could not, and the
// text is then printed whole.
using Pager = std::function<bool(const std::string& text)>;

// The user's pager ($PAGER, else less) run through the platform's shell on
// a temporary copy of the text; false when neither can be run.
Pager MakePlatformPager(Platform& platform);

class ConsoleFrontEnd : public FrontEnd {
 public:
  explicit ConsoleFrontEnd(Terminal& terminal) : terminal_(terminal) {}
  // The same with the platform's pager for long texts (the text viewer).
  explicit ConsoleFrontEnd(Platform& platform);
  int Show(Dialog& dialog) override;
  void SetPager(Pager pager) { pager_ = std::move(pager); }

 private:
  // Check boxes alone (two or more) are asked as a numbered list that the
  // person ticks and clears by number; false at end of input.
  bool AskCheckList(Dialog& dialog);
  // The text of the text viewer, through the pager when there is one.
  void ShowContent(const Dialog& dialog);
  // Asks for every editable field; false at end of input.
  bool AskFields(Dialog& dialog);
  // Asks for a button until a valid one is given; false at end of input.
  bool AskButton(const Dialog& dialog, int* id);
  int NoAnswer(Dialog& dialog, const char* why);
  int ShowFolderBrowser(FolderBrowserDialog& browser);

  Terminal& terminal_;
  Pager pager_;
};

}  // namespace crx::ui

#endif  // CRX_UI_CONSOLE_CONSOLE_FRONT_END_H
