#include "ui/display_dialog.h"

#include <cstdlib>
#include <vector>

#include "engine/user_interface.h"

namespace crx::ui {

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Groups that hold no readable text: tables, document information,
// pictures, fields' instructions (their results are read), and the like.
bool IsHiddenDestination(const std::string& word) {
  static const char* const kHidden[] = {
      "fonttbl", "colortbl", "stylesheet", "info", "pict", "header", "footer",
      "headerl", "headerr", "headerf", "footerl", "footerr", "footerf", "listtable",
      "listoverridetable", "rsidtbl", "generator", "xmlnstbl", "fldinst", "object",
      "themedata", "colorschememapping", "latentstyles", "datastore", "filetbl",
      "revtbl", "pgdsctbl", "template", "userprops"};
  for (const char* h : kHidden) {
    if (word == h) return true;
  }
  return false;
}

// The text a control word stands for; null when it stands for none.
const char* WordText(const std::string& word) {
  if (word == "par" || word == "line" || word == "sect" || word == "page") return "\n";
  if (word == "tab") return "\t";
  if (word == "emdash") return "--";
  if (word == "endash") return "-";
  if (word == "bullet") return "*";
  if (word == "lquote" || word == "rquote") return "'";
  if (word == "ldblquote" || word == "rdblquote") return "\"";
  if (word == "emspace" || word == "enspace" || word == "qmspace") return " ";
  return nullptr;
}

}  // namespace

bool IsRichTextName(const std::string& path) {
  size_t dot = path.find_last_of(".\\/:");
  if (dot == std::string::npos || path[dot] != '.') return false;
  std::string ext = path.substr(dot + 1);
  if (ext.size() != 3) return false;
  return (ext[0] == 'r' || ext[0] == 'R') && (ext[1] == 't' || ext[1] == 'T') &&
         (ext[2] == 'f' || ext[2] == 'F');
}

std::string RichTextToPlain(const std::string& rtf) {
  if (rtf.compare(0, 5, "{\\rtf") != 0) return rtf;
  std::string out;
  // One entry per open group: true when its text is not shown.
  std::vector<bool> hidden = {false};
  // True right after a '{': the next control word may name a destination.
  bool group_start = false;
  size_t i = 0;
  while (i < rtf.size()) {
    char c = rtf[i];
    if (c == '{') {
      hidden.push_back(hidden.back());
      group_start = true;
      ++i;
      continue;
    }
    if (c == '}') {
      if (hidden.size() > 1) hidden.pop_back();
      group_start = false;
      ++i;
      continue;
    }
    const bool at_group_start = group_start;
    group_start = false;
    if (c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    if (c != '\\') {
      if (!hidden.back()) out += c;
      ++i;
      continue;
    }
    // A control symbol or a control word.
    if (i + 1 >= rtf.size()) break;
    char next = rtf[i + 1];
    if (next == '\'' ) {
      int high = i + 2 < rtf.size() ? HexValue(rtf[i + 2]) : -1;
      int low = i + 3 < rtf.size() ? HexValue(rtf[i + 3]) : -1;
      if (high >= 0 && low >= 0) {
        if (!hidden.back()) out += static_cast<char>(high * 16 + low);
        i += 4;
      } else {
        i += 2;
      }
      continue;
    }
    if (next == '*') {
      // "{\*\word ...}": a destination a reader that does not know it skips.
      if (at_group_start) hidden.back() = true;
      i += 2;
      continue;
    }
    if (!IsLetter(next)) {
      if (!hidden.back()) {
        if (next == '\\' || next == '{' || next == '}') out += next;
        else if (next == '~') out += ' ';
        else if (next == '_') out += '-';
        else if (next == '\r' || next == '\n') out += '\n';  // "\<line end>" is \par
      }
      i += 2;
      continue;
    }
    size_t start = i + 1;
    size_t end = start;
    while (end < rtf.size() && IsLetter(rtf[end])) ++end;
    std::string word = rtf.substr(start, end - start);
    size_t num_start = end;
    if (end < rtf.size() && (rtf[end] == '-' || IsDigit(rtf[end]))) {
      ++end;
      while (end < rtf.size() && IsDigit(rtf[end])) ++end;
    }
    long parameter = num_start < end ? std::strtol(rtf.substr(num_start, end - num_start).c_str(),
                                                   nullptr, 10)
                                     : 0;
    if (end < rtf.size() && rtf[end] == ' ') ++end;  // the delimiting blank
    i = end;
    if (at_group_start && IsHiddenDestination(word)) {
      hidden.back() = true;
      continue;
    }
    if (word == "bin" && parameter > 0) {
      // Binary data follows: skip it whole.
      i += static_cast<size_t>(parameter);
      continue;
    }
    if (hidden.back()) continue;
    if (const char* text = WordText(word)) out += text;
    // \uN is followed by its substitute for readers without Unicode, which
    // is read as ordinary text.
  }
  return out;
}

DisplayDialog::DisplayDialog(const std::string& title, const std::string& path,
                             std::string content, bool rich, DisplayMode mode)
    : Dialog(kName, title, std::string()),
      path_(path),
      content_(std::move(content)),
      rich_(rich),
      mode_(mode) {
  if (mode_ == DisplayMode::kClose) {
    AddButton("Close", "Close", kIdOk);
    SetRefusingButton(0);
    return;
  }
  if (mode_ == DisplayMode::kLicence) {
    DialogField tick;
    tick.name = "Read";
    tick.label = kTickLabel;
    tick.kind = FieldKind::kCheck;
    tick.value = "0";
    AddField(tick);
  }
  AddButton("OK", "OK", kIdOk);
  AddButton("Cancel", "Cancel", kIdCancel);
  SetDefaultButton(0);
  SetRefusingButton(1);
}

std::string DisplayDialog::PlainText() const {
  return rich_ ? RichTextToPlain(content_) : content_;
}

bool DisplayDialog::Validate(int id, std::string* error) {
  if (mode_ != DisplayMode::kLicence || id != kIdOk) return true;
  const DialogField* tick = FindField("Read");
  if (tick && tick->value == "1") return true;
  *error = kNotTicked;
  return false;
}

}  // namespace crx::ui
