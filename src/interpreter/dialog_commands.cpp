// input, select and choosedir: a line of text, a choice from a list and the
// installation folder, asked in a dialog or, in silent mode, taken from the
// response file or the script's default.
#include <cstdlib>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/script_interpreter.h"
#include "ui/folder_browser.h"
#include "ui/front_end.h"
#include "ui/input_dialogs.h"

namespace crx::interp {

namespace {

enum class FolderAnswer { kAccepted, kAskAgain, kFailed };

// The folder of choosedir once OK is pressed (or in silent mode): an
// existing folder is taken; a missing one is created after the question
// (answered Yes in silent mode). The parents are made as copy makes them;
// when they cannot be, the command fails. When only the folder itself
// cannot be made, the dialog is asked again (silent mode: the command
// fails).
FolderAnswer AcceptFolder(ScriptInterpreter& k, const std::string& variable,
                          const std::string& folder) {
  if (!folder.empty() && k.platform.files.IsFolder(folder)) {
    k.SetVariable(variable, folder);
    return FolderAnswer::kAccepted;
  }
  std::string question = Format(
      "The directory-path you have selected does not exist...\n\n\"%s\"\n\nDo you wish to "
      "create it?",
      folder.c_str());
  if (k.Message(question, kMbYesNo | kMbIconQuestion) != kIdYes) return FolderAnswer::kAskAgain;
  std::string path = winpath::StripTrailingSeparator(folder);
  std::string parent = winpath::Parent(path);
  if (!path.empty() && parent != path && !k.CreateFolders(parent)) return FolderAnswer::kFailed;
  if (!path.empty() && k.platform.files.CreateFolder(path)) {
    k.created_folders.push_back(path);
    k.SetVariable(variable, folder);
    return FolderAnswer::kAccepted;
  }
  k.ShowAndLog("failed to create directory", kMbIconHand);
  return k.silent_mode.silent() ? FolderAnswer::kFailed : FolderAnswer::kAskAgain;
}

}  // namespace

bool ScriptInterpreter::CmdInput() {
  const std::string& variable = cmd.args[0];
  const std::string& default_text = cmd.args[3];
  if (silent_mode.silent()) {
    std::string value;
    if (GetResponse(variable, &value)) {
      LogF("SMSMODE: input(rspfile) set <%s>=<%s>\n", variable.c_str(), value.c_str());
    } else {
      value = default_text;
      LogF("SMSMODE: input(default) set <%s>=<%s>\n", variable.c_str(), value.c_str());
    }
    SetVariable(variable, value);
    return true;
  }
  ui::InputDialog dialog(cmd.args[1], cmd.args[2], default_text);
  if (front_end.Show(dialog) != ui::kInputOk) {
    cancelled = true;
    return true;
  }
  SetVariable(variable, dialog.Value());
  return true;
}

bool ScriptInterpreter::CmdSelect() {
  const std::string& variable = cmd.args[0];
  int index = std::atoi(cmd.args[3].c_str());
  if (silent_mode.silent()) {
    int answer = -1;
    if (GetResponseInt("select", &answer)) index = answer;
    LogF("SMSMODE: selection parameter = %d\n", index);
    std::vector<std::string> choices = ui::WrittenChoices(cmd.args[4]);
    if (index < 0 || static_cast<size_t>(index) >= choices.size()) {
      ShowAndLog("default index is NOT present in selection list", kMbIconHand);
      return false;
    }
    const std::string& value = choices[static_cast<size_t>(index)];
    LogF("SMSMODE: selected choice[%d] <%s>=<%s>\n", index, variable.c_str(), value.c_str());
    SetVariable(variable, value);
    return true;
  }
  // A default beyond the list would open a list with nothing selected and
  // leave OK nothing to take: the script is wrong, as in silent mode.
  std::vector<std::string> choices = ui::ListedChoices(cmd.args[4]);
  if (index < 0 || static_cast<size_t>(index) >= choices.size()) {
    ShowAndLog("default index is NOT present in selection list", kMbIconHand);
    return false;
  }
  ui::SelectDialog dialog(cmd.args[1], cmd.args[2], choices, static_cast<size_t>(index));
  if (front_end.Show(dialog) != ui::kInputOk) {
    cancelled = true;
    return true;
  }
  SetVariable(variable, dialog.Value());
  return true;
}

bool ScriptInterpreter::CmdChoosedir() {
  const std::string& variable = cmd.args[0];
  const std::string& default_folder = cmd.args[2];
  if (silent_mode.silent()) {
    std::string folder = default_folder;
    std::string answer;
    if (GetResponse("choosedir", &answer)) folder = answer;
    LogF("SMSMODE: choosedir selected <%s>\n", folder.c_str());
    return AcceptFolder(*this, variable, ui::TrimBlanks(folder)) == FolderAnswer::kAccepted;
  }
  std::string shown = default_folder;
  for (;;) {
    ui::ChooseDirDialog dialog(cmd.args[1], shown);
    int result = front_end.Show(dialog);
    if (result == ui::kChooseDirBrowse) {
      ui::FolderBrowserDialog browser(platform.files, dialog.FindField("Folder")->value);
      if (front_end.Show(browser) == ui::FolderBrowserDialog::kOk) {
        SetVariable(variable, browser.ChosenPath());
        return true;
      }
      shown = default_folder;
      continue;
    }
    if (result != ui::kInputOk) {
      cancelled = true;
      return true;
    }
    // Asked again, the dialog keeps what was typed.
    shown = dialog.FindField("Folder")->value;
    switch (AcceptFolder(*this, variable, dialog.Value())) {
      case FolderAnswer::kAccepted: return true;
      case FolderAnswer::kFailed: return false;
      case FolderAnswer::kAskAgain: break;
    }
  }
}

}  // namespace crx::interp
