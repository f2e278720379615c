#include "ui/console/interpreter_console.h"

#include "common/terminal_text.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "platform/platform.h"
#include "ui/front_end.h"

namespace crx::ui {

std::string ConsoleStatusLine::Line(const std::string& text, int width) {
  std::string flat = text;
  // A line break would end the line that is redrawn in place.
  for (char& c : flat) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  std::string line = TerminalText(flat);
  const size_t limit = width > 1 ? static_cast<size_t>(width - 1) : 0;
  if (line.size() > limit) line.resize(limit);
  return line;
}

void ConsoleStatusLine::SetStatus(const std::string& text) {
  if (!terminal_.ErrorIsTerminal()) return;
  const std::string line = Line(text, terminal_.Width());
  std::string out = "\r" + line;
  if (last_length_ > line.size()) {
    // Blank out the rest of the longer line before, then come back.
    out.append(last_length_ - line.size(), ' ');
    out += "\r" + line;
  }
  last_length_ = line.size();
  open_ = true;
  terminal_.WriteError(out);
}

void ConsoleStatusLine::Finish() {
  if (!open_) return;
  open_ = false;
  last_length_ = 0;
  terminal_.WriteError("\n");
}

void ConsoleLook::ShowTitle(const std::string& title) {
  if (!terminal_.ErrorIsTerminal()) return;
  terminal_.WriteError(ConsoleStatusLine::Line("== " + title + " ==", terminal_.Width()) + "\n");
}

void ConsoleLook::Show(const WindowLook& look) {
  const std::vector<BannerLine>& lines = look.lines();
  if (lines.size() < shown_) shown_ = 0;  // cleared meanwhile
  if (terminal_.ErrorIsTerminal()) {
    for (size_t i = shown_; i < lines.size(); ++i) {
      terminal_.WriteError(Line(lines[i], terminal_.Width()) + "\n");
    }
  }
  shown_ = lines.size();
}

std::string ConsoleLook::Line(const BannerLine& line, int width) {
  std::string text = ConsoleStatusLine::Line(line.text, width);
  const size_t columns = width > 1 ? static_cast<size_t>(width - 1) : 0;
  const size_t room = columns > text.size() ? columns - text.size() : 0;
  if (line.align == BannerAlign::kCentre) return std::string(room / 2, ' ') + text;
  if (line.align == BannerAlign::kRight) return std::string(room, ' ') + text;
  return text;
}

ScriptFileDialog::ScriptFileDialog(const std::string& initial_file,
                                   const std::string& initial_folder)
    : Dialog(kName, "Run Install Script",
             "The installation script to run (Kestrovas, *.txt), in the folder\n" +
                 initial_folder) {
  AddField(DialogField{"File", "Script file", FieldKind::kText, initial_file, false});
  AddButton("OK", "OK", kIdOk);
  AddButton("Cancel", "Cancel", kIdCancel);
  SetDefaultButton(0);
  SetRefusingButton(1);
}

std::string ScriptFileDialog::File() const {
  const DialogField* f = FindField("File");
  return f ? f->value : std::string();
}

bool ScriptFileDialog::Validate(int id, std::string* error) {
  if (id == kIdOk && File().empty()) {
    *error = "Please name the installation script to run.";
    return false;
  }
  return true;
}

bool AskScriptFile(FrontEnd& front_end, bool can_ask, const std::string& initial_file,
                   const std::string& initial_folder, std::string* chosen) {
  if (!can_ask) return false;
  ScriptFileDialog dialog(initial_file, initial_folder);
  if (front_end.Show(dialog) != kIdOk) return false;
  std::string file = dialog.File();
  // A name without a folder is taken from the folder the dialog opened in,
  // as the file dialog of the window version does; the default extension
  // is TXT.
  if (winpath::Root(file).empty() && !initial_folder.empty()) {
    file = winpath::Join(initial_folder, file);
  }
  if (winpath::Extension(file).empty()) file += ".TXT";
  *chosen = file;
  return true;
}

}  // namespace crx::ui
