// What the installation-script interpreter shows on a terminal (Linux): its
// status as one line redrawn in place on the error stream, and the "Run
// Install Script" question for a script when the default one is missing.
// The entry point adapts these to the interpreter's host interface.
#ifndef CRX_UI_CONSOLE_INTERPRETER_CONSOLE_H
#define CRX_UI_CONSOLE_INTERPRETER_CONSOLE_H

#include <cstddef>
#include <string>

#include "ui/dialog.h"
#include "ui/window_look.h"

namespace crx {
class Terminal;
}

namespace crx::ui {

class FrontEnd;

// The status line. It is drawn only while the error stream is a terminal;
// redirected output gets nothing, so logs and pipes stay clean.
class ConsoleStatusLine {
 public:
  explicit ConsoleStatusLine(Terminal& terminal) : terminal_(terminal) {}
  ~ConsoleStatusLine() { Finish(); }
  ConsoleStatusLine(const ConsoleStatusLine&) = delete;
  ConsoleStatusLine& operator=(const ConsoleStatusLine&) = delete;

  // Replaces the line's text.
  void SetStatus(const std::string& text);
  // Ends the line, so that what is written next starts below it.
  void Finish();

  // The line for a status text, at most width - 1 characters: line breaks
  // and tabs become blanks, other control characters are escaped.
  static std::string Line(const std::string& text, int width);

 private:
  Terminal& terminal_;
  size_t last_length_ = 0;  // of the line on the screen, for overwriting
  bool open_ = false;       // a line is on the screen without its line end
};

// The window's look on a terminal: the title and each new banner line as
// lines of their own on the error stream, only while it is a terminal.
// Colours, bitmaps and fonts have no place there.
class ConsoleLook {
 public:
  explicit ConsoleLook(Terminal& terminal) : terminal_(terminal) {}

  void ShowTitle(const std::string& title);
  // Writes the banner lines added since the last call (after a clear, the
  // lines added since).
  void Show(const WindowLook& look);

  // A banner line placed in a terminal of the given width (left, centred or
  // right in width - 1 columns), without a line end.
  static std::string Line(const BannerLine& line, int width);

 private:
  Terminal& terminal_;
  size_t shown_ = 0;  // banner lines of the look already written
};

// The question for an installation script: one text field, File (the
// script's path, first the last script run), and OK or Cancel. OK with an
// empty path is refused.
class ScriptFileDialog : public Dialog {
 public:
  static constexpr const char* kName = "RunInstallScript";
  ScriptFileDialog(const std::string& initial_file, const std::string& initial_folder);
  std::string File() const;

 protected:
  bool Validate(int id, std::string* error) override;
};

// Asks for the script through front_end when can_ask is true (a person at
// the terminal, or an answers file); otherwise asks nothing and answers
// Cancel. True with the chosen path (made absolute against initial_folder
// when it is relative) when OK was pressed.
bool AskScriptFile(FrontEnd& front_end, bool can_ask, const std::string& initial_file,
                   const std::string& initial_folder, std::string* chosen);

}  // namespace crx::ui

#endif  // CRX_UI_CONSOLE_INTERPRETER_CONSOLE_H
