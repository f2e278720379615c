// choosefiles, display and browse: the file-group chooser with its disk
// space check, the read-me and licence viewer, and the document browser.
#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "engine/user_interface.h"
#include "interpreter/script_interpreter.h"
#include "ui/choose_files_dialog.h"
#include "ui/display_dialog.h"
#include "ui/document_browser.h"
#include "ui/front_end.h"

namespace crx::interp {

namespace {

// Largest text the viewer loads; a bigger file is not a read-me.
constexpr int64_t kMaxDisplayFile = 32 * 1024 * 1024;

std::string Decimal(uint64_t value) {
  return Format("%llu", static_cast<unsigned long long>(value));
}

// Reads a whole file through the platform; false when it cannot be opened
// or read, or is too large to show.
bool ReadWholeFile(Platform& platform, const std::string& path, std::string* text) {
  std::unique_ptr<File> file =
      platform.files.Open(path, kAccessRead, kShareRead | kShareWrite, Disposition::kOpenExisting);
  if (!file) return false;
  int64_t size = 0;
  if (!file->Size(&size) || size < 0 || size > kMaxDisplayFile) return false;
  text->clear();
  char buffer[8192];
  for (;;) {
    size_t got = 0;
    if (!file->Read(buffer, sizeof buffer, &got)) return false;
    if (got == 0) break;
    text->append(buffer, got);
    if (static_cast<int64_t>(text->size()) > kMaxDisplayFile) return false;
  }
  return true;
}

// The sum of the byte totals of the selected groups.
uint64_t SelectedBytes(const ScriptInterpreter& k) {
  uint64_t sum = 0;
  for (const FileGroup& g : k.groups) {
    if (!g.deselected && g.bytes > 0) sum += static_cast<uint64_t>(g.bytes);
  }
  return sum;
}

}  // namespace

bool ScriptInterpreter::CmdChoosefiles() {
  if (free_space == UINT64_MAX) {
    Message("Script Convention Error.\nYou have used the 'choosefiles' command before\nsetting "
            "$HOME. Kestrova doesn't know how\nmuch disk space is available on the target drive.",
            kMbIconHand);
    return false;
  }

  if (silent_mode.silent()) {
    std::string list;
    if (GetResponse("choosefiles", &list)) {
      LogF("SMSMODE file-group installation list <%s>\n", list.c_str());
      for (int g = 0; g < kFileGroups; ++g) {
        groups[g].deselected = list.find(static_cast<char>('0' + g)) == std::string::npos;
      }
    } else {
      Log("SMSMODE file-group installation list: ALL\n");
      for (FileGroup& g : groups) g.deselected = false;
    }
  } else {
    std::vector<ui::FileGroupChoice> choices;
    for (int g = 0; g < kFileGroups; ++g) {
      ui::FileGroupChoice choice;
      choice.number = g;
      choice.description = groups[g].description;
      choice.bytes = groups[g].bytes > 0 ? static_cast<uint64_t>(groups[g].bytes) : 0;
      choice.selected = !groups[g].deselected;
      choice.mandatory = groups[g].mandatory;
      choices.push_back(choice);
    }
    ui::ChooseFilesDialog dialog(choices, free_space);
    if (front_end.Show(dialog) != kIdOk) {
      cancelled = true;
      return true;
    }
    for (int g = 0; g < kFileGroups; ++g) groups[g].deselected = !dialog.Selected(g);
  }

  needed_total = SelectedBytes(*this) + 1024;
  LogF("# choosefiles - diskspace needed now set to:  %s bytes\n", Decimal(needed_total).c_str());
  if (needed_total > free_space) {
    Message("There is not enough free space on the chosen installation drive", kMbIconHand);
    Log("There is not enough free space on the chosen installation drive\n");
    cancelled = true;
    return false;
  }
  return true;
}

bool ScriptInterpreter::CmdDisplay() {
  if (silent_mode.silent()) return true;
  const std::string path = cmd.args[0];
  const std::string caption = cmd.args[1].empty() ? path : cmd.args[1];
  ui::DisplayMode mode = ui::DisplayMode::kClose;
  if (cmd.HasOption('l')) {
    mode = ui::DisplayMode::kLicence;
  } else if (cmd.HasOption('c')) {
    mode = ui::DisplayMode::kCancellable;
  }

  std::string content;
  if (!ReadWholeFile(platform, path, &content)) {
    LogF("# display: can't read <%s> error=%d\n", path.c_str(), static_cast<int>(LastError()));
    Message(ui::DisplayDialog::kCannotView, kMbIconHand);
    // A text nobody could read was not accepted: where the person had to
    // say OK to go on, the installation stops.
    if (mode != ui::DisplayMode::kClose) cancelled = true;
    return true;
  }
  ui::DisplayDialog dialog(caption, path, std::move(content), ui::IsRichTextName(path), mode);
  ui::PrepareDocumentViewer();
  if (front_end.Show(dialog) != kIdOk && mode != ui::DisplayMode::kClose) cancelled = true;
  return true;
}

bool ScriptInterpreter::CmdBrowse() {
  if (silent_mode.silent()) return true;
  const std::string target = cmd.args[0];
  if (ui::ShowDocument(platform, target) == ui::BrowseOutcome::kShown) return true;
  LogF("# browse: no browser window on this system for <%s>\n", target.c_str());
  std::string text = Format(
      "The browser window cannot be opened on this system.\n\n%s\n\nDo you want to open it with "
      "its associated program?",
      target.c_str());
  if (Message(text, kMbYesNo | kMbIconQuestion) == kIdYes &&
      !ui::OpenWithAssociatedProgram(platform, target)) {
    Message(Format("Can't open\n%s", target.c_str()), kMbIconHand);
  }
  return true;
}

}  // namespace crx::interp
