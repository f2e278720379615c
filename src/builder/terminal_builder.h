// The builder on a terminal: the same document and commands as the
// builder's window, one command a line.
//
//   new [PATH]           New Archive (asks for the name when none is given)
//   add-folder [PATH]    Add Folder
//   add-files [PATH...]  Add Files (quoted paths; asks when none are given)
//   paste [PATH...]      Paste a list of files and folders (without paths:
//                        one path a line, ended by an empty line)
//   options [NAME]       shows the options, or toggles one (setup, compress,
//                        subdirectories, project, verify, flatten, minimize,
//                        encrypt, password-only)
//   list [COLUMN]        the members added, sorted by file, modtime, size or
//                        zsize when a column is named
//   save, abort          Save Archive, Abort Archive
//   browse [PATH]        Extract/Browse Archive
//   script [PATH]        Create Archive using script-file
//   preferences          Preferences
//   quit                 Exit (asks about an open archive)
//   help                 the commands
// Commands the enabling rules refuse at the moment say so instead of
// running. At the end of input an open archive is aborted (nobody is left
// to say whether to keep it) and the status is 1.
#ifndef CRX_BUILDER_TERMINAL_BUILDER_H
#define CRX_BUILDER_TERMINAL_BUILDER_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "builder/document.h"

namespace crx::builder {

// Turns a path typed after a command into the machine's path (on Linux a
// host path becomes the emulated machine's); null: taken as typed.
using PathTranslator = std::function<std::string(const std::string&)>;

// Runs the command loop on the platform's terminal; dialogs go to
// front_end, messages to ui. Returns the exit status: 0 after quit, 1 when
// input ended with an archive open.
int RunTerminalBuilder(Platform& platform, UserInterface& ui, ui::FrontEnd& front_end,
                       bool unattended, PathTranslator translate = nullptr);

// The document host of the terminal: choosers take a path given on the
// command line before asking, the archive browser is the terminal's, and
// feedback is the progress line.
class TerminalHost : public DocumentHost {
 public:
  TerminalHost(Platform& platform, UserInterface& ui, ui::FrontEnd& front_end, bool unattended)
      : DocumentHost(platform, ui, front_end), unattended_(unattended) {}

  // The paths the next chooser takes without asking (empty: it asks).
  void Preset(std::vector<std::string> paths) {
    if (translate_) {
      for (std::string& path : paths) path = translate_(path);
    }
    preset_ = std::move(paths);
  }
  void set_translator(PathTranslator translate) { translate_ = std::move(translate); }
  // The preset paths, taken out.
  std::vector<std::string> TakeAll() {
    std::vector<std::string> paths = std::move(preset_);
    preset_.clear();
    return paths;
  }

  bool ChooseSaveFile(const std::string& title, const std::string& filter,
                      const std::string& default_extension, std::string* path) override;
  bool ChooseOpenFile(const std::string& title, const std::string& filter,
                      const std::string& default_extension, std::string* path) override;
  bool ChooseOpenFiles(const std::string& title, const std::string& filter,
                       std::vector<std::string>* paths) override;
  bool ChooseFolder(const std::string& title, std::string* folder) override;
  ui::Feedback* NewFeedback() override;
  void ShowBrowser(const std::string& path) override;

 private:
  bool TakePreset(std::string* path);

  bool unattended_;
  std::vector<std::string> preset_;
  PathTranslator translate_;
};

}  // namespace crx::builder

#endif  // CRX_BUILDER_TERMINAL_BUILDER_H
