#include "builder/terminal_builder.h"

#include <utility>

#include "common/cmdline.h"
#include "common/format.h"
#include "engine/user_interface.h"
#include "platform/platform.h"
#include "ui/browser.h"
#include "ui/console/browser_console.h"
#include "ui/feedback.h"

namespace crx::builder {

namespace {

const char kHelp[] =
    "commands:\n"
    "  new [PATH]           start a new archive\n"
    "  add-folder [PATH]    add a folder (with its subfolders when that option is on)\n"
    "  add-files [PATH...]  add files (quote paths with spaces)\n"
    "  paste [PATH...]      add files and folders (without paths: one a line, then an empty "
    "line)\n"
    "  options [NAME]       show the options, or switch one: setup, compress, subdirectories,\n"
    "                       project, verify, flatten, minimize, encrypt, password-only\n"
    "  list [COLUMN]        the members added (sorted by file, modtime, size or zsize)\n"
    "  save                 save and close the archive (verified when that option is on)\n"
    "  abort                abort the archive\n"
    "  browse [PATH]        browse and extract an archive\n"
    "  script [PATH]        build an archive from a builder script\n"
    "  preferences          the builder's preferences\n"
    "  quit                 end (asks about an open archive)\n";

struct OptionName {
  const char* name;
  DocCommand command;
};

const OptionName kOptions[] = {
    {"setup", DocCommand::kSetupArchive},     {"compress", DocCommand::kCompress},
    {"subdirectories", DocCommand::kSubdirectories}, {"project", DocCommand::kProjectBackup},
    {"verify", DocCommand::kVerify},          {"flatten", DocCommand::kFlatten},
    {"minimize", DocCommand::kMinimize},      {"encrypt", DocCommand::kEncrypt},
    {"password-only", DocCommand::kPasswordOnly},
};

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The terminal's loop around one document.
class Loop {
 public:
  Loop(Platform& platform, TerminalHost& host, CCratexDoc& doc)
      : terminal_(platform.terminal), host_(host), doc_(doc) {}

  int Run() {
    terminal_.Write("Cratex builder: type help for the commands\n");
    for (;;) {
      terminal_.Write(doc_.archive_open() ? Format("Cratex [%s]> ", doc_.archive_path().c_str())
                                          : std::string("Cratex> "));
      std::string line;
      if (!terminal_.ReadLine(&line)) return EndOfInput();
      line = Trimmed(line);
      if (line.empty()) continue;
      const size_t space = line.find_first_of(" \t");
      const std::string word = Lower(line.substr(0, space));
      const std::string rest = space == std::string::npos ? "" : Trimmed(line.substr(space));
      if (word == "quit" || word == "exit") {
        if (Refused(DocCommand::kExit)) continue;
        if (doc_.Exit()) return 0;
        continue;
      }
      Dispatch(word, rest);
    }
  }

 private:
  // Says why a command cannot run now; true when it was refused.
  bool Refused(DocCommand command, bool clipboard = false) {
    if (doc_.Enabled(command, clipboard)) return false;
    terminal_.Write(Format("\"%s\" is not available %s\n", CommandText(command),
                           doc_.archive_open() ? "while an archive is open"
                                               : "without an open archive"));
    return true;
  }

  std::vector<std::string> Paths(const std::string& rest) {
    return rest.empty() ? std::vector<std::string>() : cmdline::SplitArguments(rest);
  }

  void Dispatch(const std::string& word, const std::string& rest) {
    if (word == "help" || word == "?") {
      terminal_.Write(kHelp);
    } else if (word == "new") {
      if (Refused(DocCommand::kNewArchive)) return;
      host_.Preset(Paths(rest));
      if (doc_.NewArchive()) terminal_.Write(Format("new archive %s\n", doc_.archive_path().c_str()));
    } else if (word == "add-folder") {
      if (Refused(DocCommand::kAddFolder)) return;
      host_.Preset(Paths(rest));
      Added(doc_.AddFolder());
    } else if (word == "add-files") {
      if (Refused(DocCommand::kAddFiles)) return;
      host_.Preset(Paths(rest));
      Added(doc_.AddFiles());
    } else if (word == "paste") {
      std::vector<std::string> paths = Paths(rest);
      if (paths.empty()) ReadPathList(&paths);
      host_.Preset(std::move(paths));
      paths = host_.TakeAll();
      if (Refused(DocCommand::kPaste, !paths.empty())) return;
      Added(doc_.Paste(paths));
    } else if (word == "options" || word == "option") {
      Options(Lower(rest));
    } else if (word == "list") {
      List(Lower(rest));
    } else if (word == "save") {
      if (Refused(DocCommand::kSave)) return;
      const std::string path = doc_.archive_path();
      terminal_.Write(doc_.Save() ? Format("saved %s\n", path.c_str())
                                  : Format("the archive %s was not saved\n", path.c_str()));
    } else if (word == "abort") {
      if (Refused(DocCommand::kAbort)) return;
      if (doc_.Abort()) terminal_.Write("archive aborted\n");
    } else if (word == "browse") {
      if (Refused(DocCommand::kBrowse)) return;
      host_.Preset(Paths(rest));
      doc_.Browse();
    } else if (word == "script") {
      if (Refused(DocCommand::kScript)) return;
      host_.Preset(Paths(rest));
      if (doc_.RunScript()) {
        terminal_.Write(Format("script done: %d members\n", static_cast<int>(doc_.rows().size())));
      }
    } else if (word == "preferences") {
      if (Refused(DocCommand::kPreferences)) return;
      if (doc_.Preferences()) terminal_.Write("preferences saved\n");
    } else {
      terminal_.Write(Format("unknown command \"%s\" (type help)\n", word.c_str()));
    }
    host_.Preset({});
  }

  void Added(bool ok) {
    terminal_.Write(Format("%d members on the archive%s\n", static_cast<int>(doc_.rows().size()),
                           ok ? "" : " (not everything was added)"));
  }

  void ReadPathList(std::vector<std::string>* paths) {
    terminal_.Write("paths to paste, one a line, an empty line to end:\n");
    std::string line;
    while (terminal_.ReadLine(&line)) {
      line = Trimmed(line);
      if (line.empty()) break;
      paths->push_back(line);
    }
  }

  void Options(const std::string& name) {
    if (!name.empty()) {
      for (const OptionName& option : kOptions) {
        if (name != option.name) continue;
        if (Refused(option.command)) return;
        doc_.Toggle(option.command);
        break;
      }
    }
    for (const OptionName& option : kOptions) {
      terminal_.Write(Format("  [%c] %-15s %s%s\n", doc_.Checked(option.command) ? 'x' : ' ',
                             option.name, CommandText(option.command),
                             doc_.Enabled(option.command) ? "" : " (fixed now)"));
    }
    if (!name.empty()) {
      bool known = false;
      for (const OptionName& option : kOptions) known = known || name == option.name;
      if (!known) terminal_.Write(Format("no option \"%s\"\n", name.c_str()));
    }
  }

  void List(const std::string& column) {
    if (column == "file") doc_.SortRows(ui::BrowserColumn::kName);
    if (column == "modtime") doc_.SortRows(ui::BrowserColumn::kTime);
    if (column == "size") doc_.SortRows(ui::BrowserColumn::kSize);
    if (column == "zsize") doc_.SortRows(ui::BrowserColumn::kStoredSize);
    terminal_.Write(Format("%-16s %10s %10s  %s\n", "modtime", "size", "zsize", "file"));
    for (const MemberRow& row : doc_.rows()) {
      terminal_.Write(Format("%-16s %10s %10s  %s\n", row.time_text.c_str(), row.size_text.c_str(),
                             row.stored_text.c_str(), row.member.name.c_str()));
    }
  }

  int EndOfInput() {
    terminal_.Write("\n");
    if (!doc_.archive_open()) return 0;
    // Nobody is left to say whether to keep it: a half-made archive is not
    // put in place under its name.
    doc_.Discard();
    terminal_.WriteError("Cratex: end of input: the open archive was aborted\n");
    return 1;
  }

  Terminal& terminal_;
  TerminalHost& host_;
  CCratexDoc& doc_;
};

}  // namespace

bool TerminalHost::TakePreset(std::string* path) {
  if (preset_.empty()) return false;
  *path = preset_.front();
  preset_.erase(preset_.begin());
  return true;
}

bool TerminalHost::ChooseSaveFile(const std::string& title, const std::string& filter,
                                  const std::string& default_extension, std::string* path) {
  std::string given;
  if (!TakePreset(&given)) {
    return DocumentHost::ChooseSaveFile(title, filter, default_extension, path);
  }
  *path = given;
  return true;
}

bool TerminalHost::ChooseOpenFile(const std::string& title, const std::string& filter,
                                  const std::string& default_extension, std::string* path) {
  std::string given;
  if (!TakePreset(&given)) {
    return DocumentHost::ChooseOpenFile(title, filter, default_extension, path);
  }
  *path = given;
  return true;
}

bool TerminalHost::ChooseOpenFiles(const std::string& title, const std::string& filter,
                                   std::vector<std::string>* paths) {
  if (preset_.empty()) return DocumentHost::ChooseOpenFiles(title, filter, paths);
  *paths = std::move(preset_);
  preset_.clear();
  return true;
}

bool TerminalHost::ChooseFolder(const std::string& title, std::string* folder) {
  std::string given;
  if (!TakePreset(&given)) return DocumentHost::ChooseFolder(title, folder);
  *folder = given;
  return true;
}

ui::Feedback* TerminalHost::NewFeedback() {
  return ui::MakeFeedback(platform(), unattended_).release();
}

void TerminalHost::ShowBrowser(const std::string& path) {
  ui::BrowserOptions options;
  options.path = path;
  options.native = ui::RunConsoleBrowser;
  Platform& p = platform();
  const bool unattended = unattended_;
  options.make_feedback = [&p, unattended]() { return ui::MakeFeedback(p, unattended); };
  ui::OwnFeedbackWindow list_window(options.make_feedback);
  options.own_feedback = &list_window;
  ui::ShowArchiveBrowser(platform(), ui(), front_end(), options);
}

int RunTerminalBuilder(Platform& platform, UserInterface& ui, ui::FrontEnd& front_end,
                       bool unattended, PathTranslator translate) {
  TerminalHost host(platform, ui, front_end, unattended);
  host.set_translator(std::move(translate));
  CCratexDoc doc(host);
  Loop loop(platform, host, doc);
  const int status = loop.Run();
  // The archive was saved, aborted or never opened: nothing is asked when
  // the document goes.
  doc.Discard();
  return status;
}

}  // namespace crx::builder
