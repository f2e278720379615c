#include "ui/console/browser_console.h"

#include <string>
#include <vector>

#include "common/format.h"
#include "common/terminal_text.h"
#include "common/winpath.h"
#include "platform/platform.h"
#include "ui/browser.h"

namespace crx::ui {

namespace {

// The help lines, each with the forms that offer it: the minimal stub's
// browser (a list box of names: one selection, no sorting, viewing only
// after the NOTEPAD question) and the list-only browser have fewer.
enum Forms { kBoth, kFullOnly, kMinimalOnly };
struct HelpLine {
  const char* text;
  bool extracting;  // not in list-only mode
  Forms forms;
};
const HelpLine kHelp[] = {
    {"  l                  list the files\n", false, kBoth},
    {"  a                  get all files\n", true, kBoth},
    {"  s 1,3 5            get the files of those rows\n", true, kFullOnly},
    {"  s N                get the file of row N\n", true, kMinimalOnly},
    {"  v N                view the file of row N with $PAGER (else $EDITOR, else more)\n",
     true, kBoth},
    {"  f TEXT             find the first file whose name contains TEXT\n", false, kBoth},
    {"  n                  find the next one\n", false, kBoth},
    {"  case on|off        match case when finding\n", false, kBoth},
    {"  o [FOLDER]         extract to FOLDER; without one, to the locations on the archive\n",
     true, kBoth},
    {"  r always|never|prompt|newer   replacement of existing files\n", true, kBoth},
    {"  flat on|off        flatten file paths into one folder\n", true, kBoth},
    {"  ro on|off          overwrite read-only files\n", true, kBoth},
    {"  sort name|time|size|zsize\n", false, kFullOnly},
    {"  q                  close the browser\n", false, kBoth},
};

const char* const kReplaceNames[] = {"prompt", "always", "never", "newer"};

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

const char* IconWord(int icon) {
  switch (icon) {
    case kIconExtracted: return " [extracted]";
    case kIconFailed: return " [failed]";
    case kIconSkipped: return " [skipped]";
    default: return "";
  }
}

// Row numbers (from 1) separated by commas or blanks; false for anything
// else or a number outside the rows.
bool ParseRows(const std::string& text, size_t count, std::vector<size_t>* rows) {
  rows->clear();
  std::string number;
  for (size_t i = 0; i <= text.size(); ++i) {
    char c = i < text.size() ? text[i] : ',';
    if (c >= '0' && c <= '9') {
      if (number.size() >= 9) return false;
      number += c;
      continue;
    }
    if (c != ',' && c != ' ' && c != '\t') return false;
    if (number.empty()) continue;
    size_t value = 0;
    for (char d : number) value = value * 10 + static_cast<size_t>(d - '0');
    number.clear();
    if (value == 0 || value > count) return false;
    rows->push_back(value - 1);
  }
  return !rows->empty();
}

bool OnOff(const std::string& word, bool* value) {
  if (word == "on" || word == "1" || word == "yes") {
    *value = true;
    return true;
  }
  if (word == "off" || word == "0" || word == "no") {
    *value = false;
    return true;
  }
  return false;
}

class ConsoleBrowser {
 public:
  explicit ConsoleBrowser(ArchiveBrowser& browser)
      : browser_(browser), terminal_(browser.platform().terminal) {}

  int Run() {
    if (!terminal_.IsInteractive()) {
      terminal_.WriteError(TerminalText(browser_.caption()) +
                           "\nno terminal: no answer can be had; taking \"Close\"\n");
      browser_.PressClose();
      return kBrowserClosed;
    }
    terminal_.Write("--- " + TerminalText(browser_.caption()) + " ---\n");
    List();
    const char* prompt = !browser_.list_only() ? "browse (l, a, s, v, f, o, r, q; h for help)> "
                         : browser_.minimal()  ? "browse (l, f, n, q; h for help)> "
                                               : "browse (l, f, n, sort, q; h for help)> ";
    for (;;) {
      terminal_.Write(prompt);
      std::string line;
      if (!terminal_.ReadLine(&line)) {
        terminal_.Write("\n");
        break;
      }
      if (!Command(Trim(line))) break;
    }
    browser_.PressClose();
    return kBrowserClosed;
  }

 private:
  // The rows with their numbers; the minimal form lists only the names,
  // as its list box does.
  void List() {
    const std::vector<BrowserRow>& rows = browser_.rows();
    for (size_t i = 0; i < rows.size(); ++i) {
      const BrowserRow& r = rows[i];
      const std::string name = TerminalText(r.name);
      if (browser_.minimal()) {
        terminal_.Write(Format("%4d %c %s\n", static_cast<int>(i + 1), r.selected ? '*' : ' ',
                               name.c_str()));
        continue;
      }
      terminal_.Write(Format("%4d %c %-18s %10s %10s  %s%s\n", static_cast<int>(i + 1),
                             r.selected ? '*' : ' ', r.time_text.c_str(), r.size_text.c_str(),
                             r.stored_text.c_str(), name.c_str(), IconWord(r.icon)));
    }
    if (rows.empty()) terminal_.Write("(no files)\n");
  }

  void Settings() {
    const ExtractionSettings& s = browser_.settings();
    terminal_.Write(Format("output: %s; flatten %s; replace %s; overwrite read-only %s\n",
                           s.to_locations
                               ? "to the locations on the archive"
                               : ("to \"" + TerminalText(s.output_folder) + "\"").c_str(),
                           s.flatten ? "on" : "off",
                           kReplaceNames[s.replace_mode >= 0 && s.replace_mode <= 3
                                             ? s.replace_mode : 0],
                           s.overwrite_read_only ? "on" : "off"));
  }

  void Usage(const char* what) { terminal_.Write(std::string("usage: ") + what + "\n"); }

  // Carries out one command line; false to close the browser.
  bool Command(const std::string& line) {
    if (line.empty()) return true;
    size_t space = line.find(' ');
    std::string word = winpath::ToLowerAscii(line.substr(0, space));
    std::string rest = space == std::string::npos ? std::string() : Trim(line.substr(space));
    std::string lower = winpath::ToLowerAscii(rest);
    bool extracting = !browser_.list_only();
    bool full = !browser_.minimal();
    ExtractionSettings& s = browser_.settings();

    if (word == "q" || word == "quit" || word == "close") return false;
    if (word == "h" || word == "help" || word == "?") {
      std::string help = "Commands:\n";
      for (const HelpLine& h : kHelp) {
        if (h.extracting && !extracting) continue;
        if (h.forms == (full ? kMinimalOnly : kFullOnly)) continue;
        help += h.text;
      }
      terminal_.Write(help);
    } else if (word == "l" || word == "list") {
      List();
    } else if (word == "f" || word == "find") {
      browser_.find_text = rest;
      browser_.find_from_current = false;
      Found(browser_.FindNext());
    } else if (word == "n" || word == "next") {
      browser_.find_from_current = true;
      Found(browser_.FindNext());
    } else if (word == "case") {
      if (!OnOff(lower, &browser_.find_match_case)) Usage("case on|off");
    } else if (full && word == "sort") {
      static const char* const kColumns[] = {"name", "time", "size", "zsize"};
      int column = -1;
      for (int i = 0; i < 4; ++i) {
        if (lower == kColumns[i]) column = i;
      }
      if (column < 0) {
        Usage("sort name|time|size|zsize");
      } else {
        browser_.SortBy(static_cast<BrowserColumn>(column));
        List();
      }
    } else if (extracting && (word == "a" || word == "all")) {
      browser_.GetAll();
      List();
    } else if (extracting && (word == "s" || word == "get")) {
      std::vector<size_t> rows;
      if (!ParseRows(rest, browser_.rows().size(), &rows) || (!full && rows.size() != 1)) {
        Usage(full ? "s ROW[,ROW...] (row numbers as listed)"
                   : "s ROW (one row as listed: this browser gets one file at a time)");
        return true;
      }
      browser_.ClearSelection();
      for (size_t r : rows) browser_.Select(r, true);
      browser_.set_mark(static_cast<int>(rows[0]));
      browser_.GetSelected();
      List();
    } else if (extracting && (word == "v" || word == "view")) {
      std::vector<size_t> rows;
      if (!ParseRows(rest, browser_.rows().size(), &rows) || rows.size() != 1) {
        Usage("v ROW");
        return true;
      }
      browser_.SelectOnly(rows[0]);
      std::string copy;
      // The minimal form asks its NOTEPAD question first, as its list box
      // does on a double click.
      if (full ? browser_.ExtractForViewing(&copy) : browser_.PrepareMinimalView(&copy)) {
        Show(copy);
      }
    } else if (extracting && word == "o") {
      s.to_locations = rest.empty();
      s.output_folder = rest;
      Settings();
    } else if (extracting && word == "r") {
      int mode = -1;
      for (int i = 0; i < 4; ++i) {
        if (lower == kReplaceNames[i]) mode = i;
      }
      if (mode < 0) {
        Usage("r always|never|prompt|newer");
      } else {
        s.replace_mode = mode;
        Settings();
      }
    } else if (extracting && word == "flat") {
      if (OnOff(lower, &s.flatten)) Settings(); else Usage("flat on|off");
    } else if (extracting && word == "ro") {
      if (OnOff(lower, &s.overwrite_read_only)) Settings(); else Usage("ro on|off");
    } else {
      terminal_.Write("unknown command \"" + word + "\" (h for help)\n");
    }
    return true;
  }

  void Found(int row) {
    if (row < 0) return;
    const BrowserRow& r = browser_.rows()[static_cast<size_t>(row)];
    terminal_.Write(Format("%4d   %s\n", row + 1, TerminalText(r.name).c_str()));
  }

  // The temporary copy at path is shown with the user's pager (or editor),
  // run by the system's command interpreter in the copy's folder.
  void Show(const std::string& path) {
    Environment& env = browser_.platform().environment;
    std::string viewer;
    if ((!env.Get("PAGER", &viewer) || viewer.empty()) &&
        (!env.Get("EDITOR", &viewer) || viewer.empty())) {
      viewer = "more";
    }
    std::string folder = winpath::Parent(path);
    std::string name = winpath::LastElement(path);
    std::string quoted = "'";
    for (char c : name) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    uint32_t code = 0;
    if (!browser_.platform().processes.RunShellCommand(viewer + " " + quoted, folder, &code)) {
      uint32_t error = LastError();
      terminal_.WriteError(Format("error creating process %d[0x%x]\n", static_cast<int>(error),
                                  error));
    }
  }

  ArchiveBrowser& browser_;
  Terminal& terminal_;
};

}  // namespace

int RunConsoleBrowser(ArchiveBrowser& browser) { return ConsoleBrowser(browser).Run(); }

}  // namespace crx::ui
