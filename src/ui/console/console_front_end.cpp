#include "ui/console/console_front_end.h"

#include <cstdlib>

#include "common/format.h"
#include "common/terminal_text.h"
#include "common/winpath.h"
#include "platform/platform.h"
#include "ui/display_dialog.h"
#include "ui/folder_browser.h"
#include "ui/message_box.h"

namespace crx::ui {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

const char* IconWord(const Dialog& dialog) {
  const MessageBoxDialog* box = dialog.AsMessageBox();
  if (!box) return "";
  switch (box->Icon()) {
    case MessageIcon::kError: return "[error] ";
    case MessageIcon::kQuestion: return "[question] ";
    case MessageIcon::kWarning: return "[warning] ";
    case MessageIcon::kInformation: return "[information] ";
    case MessageIcon::kNone: break;
  }
  return "";
}

// "--- Caption ---", the text and the read-only fields. Captions, texts and
// values may quote an archive's names: their control characters are
// escaped (the text keeps its own line breaks).
// Without fields the caller shows them itself (the numbered list).
std::string Describe(const Dialog& dialog, bool with_fields = true) {
  std::string out = "--- " + TerminalText(dialog.Caption()) + " ---\n";
  out += IconWord(dialog);
  out += TerminalMessage(dialog.Text());
  if (out.empty() || out.back() != '\n') out += '\n';
  for (const DialogField& f : dialog.Fields()) {
    if (!f.read_only || !with_fields) continue;
    if (f.kind == FieldKind::kCheck) {
      out += std::string(f.value == "1" ? "[x] " : "[ ] ") + f.label + " (fixed)\n";
    } else if (f.label.empty()) {
      out += TerminalText(f.value) + "\n";  // a line the model keeps up to date
    } else {
      out += f.label + ": " + TerminalText(f.value) + "\n";
    }
  }
  return out;
}

// Two or more check boxes and no other field a person fills in.
bool IsCheckList(const Dialog& dialog) {
  int boxes = 0;
  for (const DialogField& f : dialog.Fields()) {
    if (f.kind == FieldKind::kCheck) {
      ++boxes;
    } else if (!f.read_only) {
      return false;
    }
  }
  return boxes >= 2;
}

// "[Y]es", or "Yes To All [a]" when the letter is not the first one.
std::string ButtonChoice(const DialogButton& b) {
  if (b.shortcut == 0) return b.label;
  if (!b.label.empty() && Lower(b.label[0]) == b.shortcut) {
    return "[" + std::string(1, Upper(b.label[0])) + "]" + b.label.substr(1);
  }
  return b.label + " [" + std::string(1, Upper(b.shortcut)) + "]";
}

std::string ButtonLabels(const Dialog& dialog) {
  std::string out;
  const std::vector<DialogButton>& buttons = dialog.Buttons();
  for (size_t i = 0; i < buttons.size(); ++i) {
    if (i > 0) out += (i + 1 == buttons.size()) ? " or " : ", ";
    out += buttons[i].label;
  }
  return out;
}

}  // namespace

int ConsoleFrontEnd::NoAnswer(Dialog& dialog, const char* why) {
  dialog.Refuse();
  const DialogButton* taken = dialog.FindButtonById(dialog.Result());
  terminal_.WriteError(std::string(why) + ": no answer can be had; taking \"" +
                       (taken ? taken->label : std::string("none")) + "\"\n");
  return dialog.Result();
}

ConsoleFrontEnd::ConsoleFrontEnd(Platform& platform)
    : terminal_(platform.terminal), pager_(MakePlatformPager(platform)) {}

Pager MakePlatformPager(Platform& platform) {
  return [&platform](const std::string& text) {
    // A private copy in the temporary folder, shown by its name from there.
    std::string folder = winpath::StripTrailingSeparator(platform.environment.TempPath());
    std::string name = Format("crx_view_%u.txt", platform.processes.CurrentProcessId());
    std::string path = winpath::Join(folder, name);
    {
      std::unique_ptr<File> file = platform.files.Open(path, kAccessWrite, kShareRead,
                                                       Disposition::kCreateAlways);
      if (!file || !file->Write(text.data(), text.size())) {
        file.reset();
        platform.files.DeleteFile(path);
        return false;
      }
    }
    std::string pager;
    if (!platform.environment.Get("PAGER", &pager) || pager.empty()) pager = "less";
    uint32_t code = 0;
    // The name is this function's own: nothing in it needs quoting.
    bool ran = platform.processes.RunShellCommand(pager + " ./" + name, folder, &code);
    platform.files.DeleteFile(path);
    // 126 and 127: the shell could not run the pager at all.
    return ran && code != 126 && code != 127;
  };
}

void ConsoleFrontEnd::ShowContent(const Dialog& dialog) {
  const DisplayDialog* display = dialog.AsDisplay();
  if (!display) return;
  std::string text = display->PlainText();
  if (!text.empty() && text.back() != '\n') text += '\n';
  if (pager_ && terminal_.IsInteractive() && pager_(text)) return;
  terminal_.Write(TerminalMessage(text));
}

bool ConsoleFrontEnd::AskCheckList(Dialog& dialog) {
  for (;;) {
    std::vector<std::string> names;
    std::string list;
    for (const DialogField& f : dialog.Fields()) {
      if (f.kind == FieldKind::kCheck) {
        names.push_back(f.read_only ? std::string() : f.name);
        list += Format("  %d. %s %s%s\n", static_cast<int>(names.size()),
                       f.value == "1" ? "[x]" : "[ ]", TerminalText(f.label).c_str(),
                       f.read_only ? " (fixed)" : "");
      } else if (f.read_only) {
        list += (f.label.empty() ? "" : f.label + ": ") + TerminalText(f.value) + "\n";
      }
    }
    terminal_.Write(list + "Number to tick or clear, Enter when done: ");
    std::string line;
    if (!terminal_.ReadLine(&line)) return false;
    std::string answer = Trim(line);
    if (answer.empty()) return true;
    int number = 0;
    for (char c : answer) {
      if (c < '0' || c > '9' || number > 1000) {
        number = -1;
        break;
      }
      number = number * 10 + (c - '0');
    }
    if (number < 1 || number > static_cast<int>(names.size())) {
      terminal_.Write(Format("Please give a number from 1 to %d.\n", static_cast<int>(names.size())));
      continue;
    }
    const std::string& name = names[static_cast<size_t>(number - 1)];
    if (name.empty()) {
      terminal_.Write("That choice cannot be changed.\n");
      continue;
    }
    const DialogField* f = dialog.FindField(name);
    std::string error;
    if (!dialog.SetField(name, f->value == "1" ? "0" : "1", &error)) {
      terminal_.Write(TerminalMessage(error) + "\n");
    }
  }
}

bool ConsoleFrontEnd::AskFields(Dialog& dialog) {
  if (IsCheckList(dialog)) return AskCheckList(dialog);
  for (const DialogField& f : dialog.Fields()) {
    if (f.read_only) continue;
    std::string prompt = f.label;
    switch (f.kind) {
      case FieldKind::kText:
        prompt += " [" + TerminalText(f.value) + "]: ";
        break;
      case FieldKind::kPassword:
        prompt += ": ";
        break;
      case FieldKind::kCheck:
        prompt += std::string(" (y/n) [") + (f.value == "1" ? "y" : "n") + "]: ";
        break;
      case FieldKind::kChoice: {
        // The list, numbered from 1; a number or a choice's text picks it.
        std::string list;
        const std::vector<std::string>* choices = dialog.FieldChoices(f.name);
        for (size_t i = 0; choices && i < choices->size(); ++i) {
          list += "  " + std::to_string(i + 1) + ". " + TerminalText((*choices)[i]) + "\n";
        }
        terminal_.Write(f.label + ":\n" + list);
        prompt += " [" + TerminalText(f.value) + "]: ";
        break;
      }
    }
    std::string name = f.name;
    FieldKind kind = f.kind;
    for (;;) {
      terminal_.Write(prompt);
      std::string line;
      if (!terminal_.ReadLine(&line)) return false;
      std::string value = Trim(line);
      if (kind == FieldKind::kChoice) {
        if (value.empty()) break;
        static const std::vector<std::string> kNone;
        const std::vector<std::string>* listed_choices = dialog.FieldChoices(name);
        const std::vector<std::string>& choices = listed_choices ? *listed_choices : kNone;
        char* end = nullptr;
        unsigned long number = std::strtoul(value.c_str(), &end, 10);
        if (end && *end == 0 && number >= 1 && number <= choices.size()) {
          value = choices[number - 1];
        } else {
          bool listed = false;
          for (const std::string& c : choices) listed = listed || SameName(c, value);
          if (!listed) {
            terminal_.Write("Please type a number from 1 to " + std::to_string(choices.size()) +
                            " or a choice.\n");
            continue;
          }
        }
      } else if (kind != FieldKind::kCheck) {
        // Enter keeps the value shown; a password is taken as typed.
        if (kind == FieldKind::kPassword) value = line;
        if (kind == FieldKind::kText && value.empty()) break;
      } else {
        std::string l;
        for (char c : value) l += Lower(c);
        if (l.empty()) break;
        if (l == "y" || l == "yes" || l == "1") {
          value = "1";
        } else if (l == "n" || l == "no" || l == "0") {
          value = "0";
        } else {
          terminal_.Write("Please answer y or n.\n");
          continue;
        }
      }
      std::string error;
      if (dialog.SetField(name, value, &error)) break;
      terminal_.Write(TerminalMessage(error) + "\n");
    }
  }
  return true;
}

bool ConsoleFrontEnd::AskButton(const Dialog& dialog, int* id) {
  const std::vector<DialogButton>& buttons = dialog.Buttons();
  std::string prompt;
  for (size_t i = 0; i < buttons.size(); ++i) {
    if (i > 0) prompt += " / ";
    prompt += ButtonChoice(buttons[i]);
  }
  const DialogButton& def = buttons[dialog.DefaultButton()];
  prompt += " (Enter = " + def.label + ")? ";
  for (;;) {
    terminal_.Write(prompt);
    std::string line;
    if (!terminal_.ReadLine(&line)) return false;
    std::string answer = Trim(line);
    if (answer.empty()) {
      *id = def.id;
      return true;
    }
    if (answer.size() == 1) {
      for (const DialogButton& b : buttons) {
        if (b.shortcut != 0 && b.shortcut == Lower(answer[0])) {
          *id = b.id;
          return true;
        }
      }
    }
    if (const DialogButton* b = dialog.FindButton(answer)) {
      *id = b->id;
      return true;
    }
    terminal_.Write("Please answer " + ButtonLabels(dialog) + ".\n");
  }
}

// The folder browser as a numbered list of drives and open folders, and
// one command a line. Only the model's inline and virtual members are used
// (folder_browser.h).
int ConsoleFrontEnd::ShowFolderBrowser(FolderBrowserDialog& browser) {
  terminal_.Write("\n--- " + TerminalText(browser.Caption()) + " ---\n");
  for (;;) {
    const std::vector<FolderNode>& nodes = browser.Nodes();
    std::string list;
    for (size_t i = 0; i < nodes.size(); ++i) {
      const FolderNode& n = nodes[i];
      list += i == browser.Selected() ? "* " : "  ";
      list += std::string(static_cast<size_t>(n.depth) * 2, ' ');
      list += std::to_string(i + 1) + ". " + TerminalText(n.name);
      if (n.kind == FolderKind::kRemovableDrive) list += "  (removable)";
      if (n.kind != FolderKind::kFolder || n.open) list += n.open ? "  [-]" : "  [+]";
      list += "\n";
    }
    terminal_.Write(list + "Path: " + TerminalText(browser.Path()) + "\n");
    terminal_.Write(
        "N open/close folder N, s N select it, g PATH go to a path, "
        "Enter or ok = OK, c = Cancel, h = Help...> ");
    std::string line;
    if (!terminal_.ReadLine(&line)) return NoAnswer(browser, "end of input");
    std::string answer = Trim(line);
    std::string word = answer.substr(0, answer.find(' '));
    std::string rest = word.size() < answer.size() ? Trim(answer.substr(word.size())) : "";
    std::string lower;
    for (char c : word) lower += Lower(c);
    char* end = nullptr;
    unsigned long number = std::strtoul(answer.c_str(), &end, 10);
    int press = 0;
    if (!answer.empty() && end && *end == 0) {
      if (!browser.Open(number - 1)) terminal_.Write("There is no folder " + answer + ".\n");
    } else if (lower == "s" && !rest.empty()) {
      number = std::strtoul(rest.c_str(), &end, 10);
      if (!(end && *end == 0 && browser.Select(number - 1))) {
        terminal_.Write("There is no folder " + TerminalText(rest) + ".\n");
      }
    } else if (lower == "g" && !rest.empty()) {
      browser.SetPath(rest);
      if (!browser.Goto(rest)) {
        terminal_.Write("The path was not found in the tree; the nearest folder is selected "
                        "and the path is kept as typed.\n");
      }
    } else if (lower == "h" || lower == "help" || lower == "?") {
      terminal_.Write(FolderBrowserDialog::HelpText());
    } else if (answer.empty() || lower == "ok" || lower == "o") {
      press = FolderBrowserDialog::kOk;
    } else if (lower == "c" || lower == "cancel") {
      press = FolderBrowserDialog::kCancel;
    } else {
      terminal_.Write("Please type a folder's number, s N, g PATH, ok, c or h.\n");
    }
    if (press == 0) continue;
    std::string error;
    if (browser.Press(press, &error)) return browser.Result();
    terminal_.Write(TerminalMessage(error) + "\n");
  }
}

int ConsoleFrontEnd::Show(Dialog& dialog) {
  if (dialog.Buttons().empty()) {
    dialog.Refuse();
    return dialog.Result();
  }
  if (!terminal_.IsInteractive()) {
    terminal_.WriteError(Describe(dialog));
    return NoAnswer(dialog, "no terminal");
  }
  if (FolderBrowserDialog* browser = dialog.AsFolderBrowser()) return ShowFolderBrowser(*browser);
  terminal_.Write("\n" + Describe(dialog, !IsCheckList(dialog)));
  ShowContent(dialog);
  for (;;) {
    if (!AskFields(dialog)) return NoAnswer(dialog, "end of input");
    int id = 0;
    if (!AskButton(dialog, &id)) return NoAnswer(dialog, "end of input");
    std::string error;
    if (dialog.Press(id, &error)) return dialog.Result();
    terminal_.Write(TerminalMessage(error) + "\n");
  }
}

}  // namespace crx::ui
