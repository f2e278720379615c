// The browser as a sequence of "Browse" dialog models: each one shows the
// rows and the extraction settings and ends with the action to take (Get
// All, Get Selected, view, Find, Close). Any front-end can show it; an
// answers file answers it with one line per action, and the recorder writes
// such lines.
#include "common/format.h"
#include "engine/user_interface.h"
#include "ui/browser.h"
#include "ui/front_end.h"

namespace crx::ui {

namespace {

enum : int {
  kBrowseGetAll = 1,
  kBrowseGetSelected = 1001,
  kBrowseView = 1002,
  kBrowseOpen = 1003,
  kBrowseFind = 1004,
  kBrowseClose = 2,
};

const char* const kReplaceNames[] = {"prompt", "always", "never", "newer"};

const char* IconWord(int icon) {
  switch (icon) {
    case kIconExtracted: return "  [extracted]";
    case kIconFailed: return "  [failed]";
    case kIconSkipped: return "  [skipped]";
    default: return "";
  }
}

std::string Listing(const ArchiveBrowser& browser) {
  std::string text;
  const std::vector<BrowserRow>& rows = browser.rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    const BrowserRow& r = rows[i];
    text += Format("%3d %s  %s  %s  %s%s\n", static_cast<int>(i + 1), r.name.c_str(),
                   r.time_text.c_str(), r.size_text.c_str(), r.stored_text.c_str(),
                   IconWord(r.icon));
  }
  if (rows.empty()) text = "(no files)\n";
  return text;
}

// Parses "1,3 5" into row indexes. False with *error for anything else.
bool ParseRows(const std::string& text, size_t count, std::vector<size_t>* rows,
               std::string* error) {
  rows->clear();
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == ',' || c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    size_t value = 0;
    size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && value <= count) {
      value = value * 10 + static_cast<size_t>(text[i] - '0');
      ++i;
    }
    bool ends = i == text.size() || text[i] == ',' || text[i] == ' ' || text[i] == '\t';
    if (i == start || !ends || value == 0 || value > count) {
      *error = Format("Selection: \"%s\" is not a list of row numbers from 1 to %d",
                      text.c_str(), static_cast<int>(count));
      return false;
    }
    rows->push_back(value - 1);
  }
  return true;
}

class BrowseDialog : public Dialog {
 public:
  explicit BrowseDialog(ArchiveBrowser& browser)
      : Dialog("Browse", browser.caption(), Listing(browser)), browser_(browser) {
    std::string chosen;
    for (size_t i = 0; i < browser.rows().size(); ++i) {
      if (!browser.rows()[i].selected) continue;
      if (!chosen.empty()) chosen += ',';
      chosen += Format("%d", static_cast<int>(i + 1));
    }
    AddField({"Selection", "selected rows", FieldKind::kText, chosen, false});
    if (!browser.list_only()) {
      const ExtractionSettings& s = browser.settings();
      AddField({"ToLocations", "output to locations on archive", FieldKind::kCheck,
                s.to_locations ? "1" : "0", false});
      AddField({"OutputFolder", "output folder", FieldKind::kText, s.output_folder, false});
      AddField({"Flatten", "flatten file paths into one folder", FieldKind::kCheck,
                s.flatten ? "1" : "0", false});
      int mode = s.replace_mode >= 0 && s.replace_mode <= 3 ? s.replace_mode : 0;
      AddField({"Replace", "replacement options (always, never, prompt, newer)",
                FieldKind::kText, kReplaceNames[mode], false});
      AddField({"OverwriteReadOnly", "Overwrite ReadOnly Files", FieldKind::kCheck,
                s.overwrite_read_only ? "1" : "0", false});
      AddButton("GetAll", "Get All", kBrowseGetAll);
      AddButton("GetSelected", "Get Selected", kBrowseGetSelected);
      AddButton("View", "View In Notepad", kBrowseView);
      if (!browser.minimal()) {
        AddButton("Open", "Open With Associated Application", kBrowseOpen);
      }
    }
    AddButton("Find", "Find...", kBrowseFind);
    AddButton("Close", "Close", kBrowseClose, 'c');
    SetRefusingButton(Buttons().size() - 1);
    SetDefaultButton(browser.list_only() ? Buttons().size() - 1 : 0);
  }

  std::vector<size_t> selection;
  int32_t replace_mode = kReplacePrompt;

 protected:
  bool Validate(int id, std::string* error) override {
    if (id == kBrowseClose) return true;
    if (!ParseRows(FindField("Selection")->value, browser_.rows().size(), &selection, error)) {
      return false;
    }
    if (browser_.minimal() && selection.size() > 1) {
      *error = "Selection: only one entry can be selected";
      return false;
    }
    if ((id == kBrowseView || id == kBrowseOpen) && selection.size() != 1) {
      *error = "Selection: viewing needs exactly one selected row";
      return false;
    }
    if (const DialogField* replace = FindField("Replace")) {
      replace_mode = -1;
      for (int i = 0; i < 4; ++i) {
        if (SameName(replace->value, kReplaceNames[i])) replace_mode = i;
      }
      if (replace_mode < 0) {
        *error = "Replace: \"" + replace->value + "\" is not always, never, prompt or newer";
        return false;
      }
    }
    return true;
  }

 private:
  ArchiveBrowser& browser_;
};

void TakeDialog(ArchiveBrowser& browser, const BrowseDialog& dialog) {
  browser.ClearSelection();
  for (size_t row : dialog.selection) browser.Select(row, true);
  if (!dialog.selection.empty()) browser.set_mark(static_cast<int>(dialog.selection.front()));
  if (browser.list_only()) return;
  ExtractionSettings& s = browser.settings();
  s.to_locations = dialog.FindField("ToLocations")->value == "1";
  s.output_folder = dialog.FindField("OutputFolder")->value;
  if (const DialogField* flatten = dialog.FindField("Flatten")) {
    s.flatten = flatten->value == "1";
  }
  s.replace_mode = dialog.replace_mode;
  s.overwrite_read_only = dialog.FindField("OverwriteReadOnly")->value == "1";
}

}  // namespace

int RunBrowserDialogs(ArchiveBrowser& browser) {
  for (;;) {
    BrowseDialog dialog(browser);
    int id = browser.front_end().Show(dialog);
    if (!dialog.Closed() || id == kBrowseClose || id == 0) {
      browser.PressClose();
      return kBrowserClosed;
    }
    TakeDialog(browser, dialog);
    switch (id) {
      case kBrowseGetAll: browser.GetAll(); break;
      case kBrowseGetSelected: browser.GetSelected(); break;
      case kBrowseView:
        if (browser.minimal()) {
          browser.ViewMinimal();
        } else {
          browser.View(false);
        }
        break;
      case kBrowseOpen:
        browser.ContextMenu();  // looks up the open verb
        browser.View(true);
        break;
      case kBrowseFind: browser.FindWithDialog(); break;
      default: break;
    }
  }
}

}  // namespace crx::ui
