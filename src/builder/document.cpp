#include "builder/document.h"

#include <algorithm>
#include <new>
#include <utility>

#include "builder/command_line.h"
#include "builder/script.h"
#include "common/format.h"
#include "common/winpath.h"
#include "engine/scramble.h"
#include "engine/user_interface.h"
#include "platform/platform.h"
#include "ui/browser.h"
#include "ui/file_chooser_dialog.h"
#include "ui/folder_browser.h"
#include "ui/front_end.h"
#include "ui/password_dialogs.h"
#include "ui/preferences_dialog.h"

namespace crx::builder {

namespace {

struct CommandInfo {
  DocCommand command;
  const char* text;
  const char* prompt;
  bool toggle;
};

const CommandInfo kCommands[] = {
    {DocCommand::kNewArchive, "New Archive", "Create a new archive\nnew archive", false},
    {DocCommand::kScript, "Create Archive using script-file",
     "process an archive script fiile\nrun script", false},
    {DocCommand::kAddFolder, "Add Folder", "Add a folder to the archive\nadd folder", false},
    {DocCommand::kAddFiles, "Add Files", "Add files to the archive\nadd files", false},
    {DocCommand::kSave, "Save Archive", "Save and close the archive\nsave", false},
    {DocCommand::kAbort, "Abort Archive", "Abort the archive\nabort", false},
    {DocCommand::kBrowse, "Extract/Browse Archive",
     "Browse and optionaly extract files from an archive\nbrowse", false},
    {DocCommand::kExit, "E&xit", "", false},
    {DocCommand::kSetupArchive, "Generate Installation/Setup Archive",
     "Automatically run a setup program after the archive is extracted", true},
    {DocCommand::kCompress, "Compress Files", "Save files in the archive in compressed format",
     true},
    {DocCommand::kSubdirectories, "Include Subdirectories",
     "Include all subdirectories in the archive", true},
    {DocCommand::kProjectBackup, "Project Backup Mode",
     "Exclude VC++ compiler generated  files from the archive", true},
    {DocCommand::kVerify, "Verify Archive After Creation",
     "Read the archive after createion to ensure it is valid", true},
    {DocCommand::kFlatten, "Flatten folder hierarchy",
     "Store files on the archive with a filename only, and not a full pathname", true},
    {DocCommand::kMinimize, "Minimize output archive size", "", true},
    {DocCommand::kEncrypt, "Encrypt / Password Protect",
     "Set a password and encrypt files stored on the archive", true},
    {DocCommand::kPasswordOnly, "Password Protect - no encryption",
     "Protect the archive with a password, but do not encrypt files", true},
    {DocCommand::kQuitProcessing, "Quit Processing",
     "Quit current processing archive\nquit processing", false},
    {DocCommand::kPaste, "Paste", "Paste files and directories from the clipboard into the archive",
     false},
    {DocCommand::kPreferences, "Preferences", "Set application preferences", false},
    {DocCommand::kDocumentation, "Documentation...", "", false},
    {DocCommand::kAbout, "&About Cratex...", "", false},
    {DocCommand::kTestGetOffset, "Test - Get Offset", "", false},
};

const CommandInfo* Info(DocCommand command) {
  for (const CommandInfo& info : kCommands) {
    if (info.command == command) return &info;
  }
  return nullptr;
}

// Takes the notices the shared verification shows (its failure message),
// so that the caller can word it as its own command does; its questions
// (the disks of an archive on several removable disks) still go to the
// person, who alone can answer them.
class SwallowMessages : public UserInterface {
 public:
  explicit SwallowMessages(UserInterface& person) : person_(person) {}
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override {
    if ((flags & kMbTypeMask) == kMbOk) return kIdOk;
    return person_.MessageBox(text, caption, flags);
  }
  int AskForDisk(bool reading, int disk_number) override {
    return person_.AskForDisk(reading, disk_number);
  }

 private:
  UserInterface& person_;
};

const char kNoArchiveForDrop[] = "No archive created to recieve files";
const char kPasswordCancelled[] =
    "You have the Encrypt/Password Protect option set but\nhave overriden this by cancelling "
    "the password dialog.\n\nNo password or encryption will be applied to the archive";
const char kBrowseNotice[] =
    "Archives created with Cratex are self extracting.\n\nHOWEVER...\n\nThis option allows "
    "Cratex archives to be viewed or extracted\nby this program as an alternative to executing "
    "the archive itself...";


}  // namespace

const char* CommandText(DocCommand command) {
  const CommandInfo* info = Info(command);
  return info ? info->text : "";
}

const char* CommandPrompt(DocCommand command) {
  const CommandInfo* info = Info(command);
  return info ? info->prompt : "";
}

bool IsToggle(DocCommand command) {
  const CommandInfo* info = Info(command);
  return info != nullptr && info->toggle;
}

MemberRow MakeMemberRow(const MemberEntry& member) {
  MemberRow row;
  row.member = member;
  row.time_text = ui::MemberTimeText(member.modified);
  row.size_text = Format("%d", member.size);
  row.stored_text = Format("%d", member.compressed_size);
  return row;
}

// ---- the host's defaults -------------------------------------------------------

bool DocumentHost::ChooseSaveFile(const std::string& title, const std::string& filter,
                                  const std::string& default_extension, std::string* path) {
  ui::FileChooserDialog dialog(ui::FileChooserKind::kSave, title, filter, *path);
  front_end_.Show(dialog);
  if (!dialog.Closed() || dialog.Result() != kIdOk || dialog.Paths().empty()) return false;
  std::string chosen = dialog.Paths().front();
  if (winpath::Extension(chosen).empty() && !default_extension.empty()) {
    chosen += "." + default_extension;
  }
  *path = chosen;
  return true;
}

bool DocumentHost::ChooseOpenFile(const std::string& title, const std::string& filter,
                                  const std::string& default_extension, std::string* path) {
  ui::FileChooserDialog dialog(ui::FileChooserKind::kOpen, title, filter, *path);
  front_end_.Show(dialog);
  if (!dialog.Closed() || dialog.Result() != kIdOk || dialog.Paths().empty()) return false;
  std::string chosen = dialog.Paths().front();
  // As the system's open dialog does: a name typed without its extension
  // is the file with the default one when only that exists.
  if (winpath::Extension(chosen).empty() && !default_extension.empty() &&
      !platform_.files.Exists(chosen) &&
      platform_.files.Exists(chosen + "." + default_extension)) {
    chosen += "." + default_extension;
  }
  *path = chosen;
  return true;
}

bool DocumentHost::ChooseOpenFiles(const std::string& title, const std::string& filter,
                                   std::vector<std::string>* paths) {
  ui::FileChooserDialog dialog(ui::FileChooserKind::kOpenMultiple, title, filter, "");
  front_end_.Show(dialog);
  if (!dialog.Closed() || dialog.Result() != kIdOk) return false;
  *paths = dialog.Paths();
  return !paths->empty();
}

bool DocumentHost::ChooseFolder(const std::string& title, std::string* folder) {
  (void)title;  // the folder browser has a caption of its own
  ui::FolderBrowserDialog dialog(platform_.files, *folder);
  front_end_.Show(dialog);
  if (!dialog.Closed() || dialog.Result() != ui::FolderBrowserDialog::kOk) return false;
  *folder = dialog.ChosenPath();
  return !folder->empty();
}

void DocumentHost::ShowBrowser(const std::string& path) {
  ui::BrowserOptions options;
  options.path = path;
  ui::ShowArchiveBrowser(platform_, ui_, front_end_, options);
}

bool DocumentHost::ShowPreferences(ui::PreferenceValues* values) {
  return ui::RunPreferencesDialog(front_end_, values);
}

// ---- engine hooks ------------------------------------------------------------------

// The open engine's progress goes to the status bar while no feedback
// window is attached; window messages are let through between files.
class CCratexDoc::Hooks : public ui::FeedbackHooks {
 public:
  explicit Hooks(DocumentHost& host) : host_(host) {}
  void StatusText(const std::string& text) override { host_.StatusText(text); }
  void ProcessMessages() override { host_.ProcessMessages(); }
  // Quit Processing holds until the next operation starts: the engine
  // clears its own flag at the start of every file, so a request that
  // came while one file ended would otherwise be lost for the next.
  bool UserQuit() override { return quit_; }
  void RequestQuit() { quit_ = true; }
  void ClearQuit() { quit_ = false; }

 private:
  DocumentHost& host_;
  bool quit_ = false;
};

namespace {

// The script command's run: its feedback window is the document's, and
// the "!(" lines of the script may open one through the host.
class DocumentScriptHost : public ScriptHost {
 public:
  DocumentScriptHost(DocumentHost& host, ui::FeedbackHooks& hooks)
      : ScriptHost(host.platform(), host.ui()), host_(host), hooks_(hooks) {}
  ui::FeedbackHooks& hooks() override { return hooks_; }
  ui::Feedback* NewFeedback() override { return host_.NewFeedback(); }
  void DeleteFeedback(ui::Feedback* feedback) override { host_.DeleteFeedback(feedback); }
  std::string Caption() override { return kBuilderCaption; }

 private:
  DocumentHost& host_;
  ui::FeedbackHooks& hooks_;
};

}  // namespace

// ---- the document ----------------------------------------------------------------

CCratexDoc::CCratexDoc(DocumentHost& host)
    : host_(host), hooks_(std::make_unique<Hooks>(host)) {
  options_.create_on_drop = ReadCreateOnDrop(host_.platform().registry, host_.settings());
}

CCratexDoc::~CCratexDoc() {
  if (engine_ && !busy_) CloseDocument();
  DestroyEngine();
}

bool CCratexDoc::operation_running() const {
  return busy_ || (hooks_ && hooks_->HasFeedback());
}

bool CCratexDoc::Enabled(DocCommand command, bool clipboard_has_files) const {
  const bool open = archive_open();
  const bool running = operation_running();
  switch (command) {
    case DocCommand::kNewArchive:
    case DocCommand::kScript:
    case DocCommand::kBrowse:
    case DocCommand::kPreferences:
    case DocCommand::kSetupArchive:
    case DocCommand::kMinimize:
    case DocCommand::kEncrypt:
    case DocCommand::kPasswordOnly:
      return !open && !running;
    case DocCommand::kAddFolder:
    case DocCommand::kAddFiles:
    case DocCommand::kSave:
    case DocCommand::kAbort:
      return open && !running;
    case DocCommand::kExit:
      return !running;
    case DocCommand::kCompress:
      return !options_.encrypt && !options_.password_only;
    case DocCommand::kSubdirectories:
    case DocCommand::kProjectBackup:
    case DocCommand::kVerify:
    case DocCommand::kFlatten:
    case DocCommand::kAbout:
    case DocCommand::kTestGetOffset:
      return true;
    case DocCommand::kQuitProcessing:
      return running;
    case DocCommand::kPaste:
      return open && engine_->writing() && !running && clipboard_has_files;
    case DocCommand::kDocumentation:
      return !DocumentationPath().empty();
  }
  return false;
}

bool CCratexDoc::Checked(DocCommand command) const {
  switch (command) {
    case DocCommand::kSetupArchive: return options_.setup;
    case DocCommand::kCompress: return options_.compress;
    case DocCommand::kSubdirectories: return options_.subdirectories;
    case DocCommand::kProjectBackup: return options_.project;
    case DocCommand::kVerify: return options_.verify;
    case DocCommand::kFlatten: return options_.flatten;
    case DocCommand::kMinimize: return options_.minimize;
    case DocCommand::kEncrypt: return options_.encrypt;
    case DocCommand::kPasswordOnly: return options_.password_only;
    default: return false;
  }
}

bool CCratexDoc::Toggle(DocCommand command) {
  if (!IsToggle(command) || !Enabled(command)) return false;
  DocumentOptions& o = options_;
  switch (command) {
    case DocCommand::kSetupArchive:
      o.setup = !o.setup;
      o.flatten = o.setup;
      break;
    case DocCommand::kCompress:
      o.compress = !o.compress;
      if (engine_) engine_->SetOptions(o.compress ? "+Z" : "-Z");
      break;
    case DocCommand::kSubdirectories:
      o.subdirectories = !o.subdirectories;
      if (engine_) engine_->SetOptions(o.subdirectories ? "+D" : "-D");
      break;
    case DocCommand::kProjectBackup:
      o.project = !o.project;
      if (engine_) engine_->SetOptions(o.project ? "+P" : "-P");
      break;
    case DocCommand::kVerify:
      o.verify = !o.verify;
      break;
    case DocCommand::kFlatten:
      o.flatten = !o.flatten;  // reaches the engine with the next add
      break;
    case DocCommand::kMinimize:
      o.minimize = !o.minimize;
      if (engine_) engine_->SetOptions(o.minimize ? "+M" : "-M");
      break;
    case DocCommand::kEncrypt:
      o.encrypt = !o.encrypt;
      if (o.encrypt) o.password_only = false;
      if (o.encrypt || o.password_only) o.compress = true;
      break;
    case DocCommand::kPasswordOnly:
      o.password_only = !o.password_only;
      o.encrypt = false;
      if (o.password_only) o.compress = true;
      break;
    default:
      return false;
  }
  return true;
}

bool CCratexDoc::Run(DocCommand command) {
  if (IsToggle(command)) return Toggle(command);
  switch (command) {
    case DocCommand::kNewArchive: return NewArchive();
    case DocCommand::kScript: return RunScript();
    case DocCommand::kAddFolder: return AddFolder();
    case DocCommand::kAddFiles: return AddFiles();
    case DocCommand::kSave: return Save();
    case DocCommand::kAbort: return Abort();
    case DocCommand::kBrowse: return Browse();
    case DocCommand::kExit: return Exit();
    case DocCommand::kQuitProcessing:
      if (!Enabled(command)) return false;
      QuitProcessing();
      return true;
    case DocCommand::kPreferences: return Preferences();
    default: return false;
  }
}

void CCratexDoc::TransferOptions(ArchiveEngine& engine, bool with_encryption) const {
  std::string on = "+";
  std::string off = "-";
  auto put = [&](bool value, char letter) { (value ? on : off) += letter; };
  put(options_.subdirectories, 'D');
  put(options_.setup, 'S');
  put(options_.compress, 'Z');
  put(options_.project, 'P');
  put(options_.flatten, 'F');
  put(options_.encrypt && with_encryption, 'E');
  put(options_.minimize, 'M');
  if (on.size() > 1) engine.SetOptions(on);
  if (off.size() > 1) engine.SetOptions(off);
}

std::string CCratexDoc::ProposedArchiveName() const {
  Environment& environment = host_.platform().environment;
  std::string folder;
  if ((environment.Get("TEMP", &folder) && !folder.empty()) ||
      (environment.Get("TMP", &folder) && !folder.empty())) {
    return Format("%s\\crx.exe", winpath::StripTrailingSeparator(folder).c_str());
  }
  return "\\crx.exe";
}

int CCratexDoc::Message(const std::string& text, uint32_t flags) {
  return host_.ui().MessageBox(text, kBuilderCaption, flags);
}

bool CCratexDoc::CreateEngine(std::unique_ptr<ArchiveEngine>* engine) {
  engine->reset(new (std::nothrow) ArchiveEngine(host_.platform(), host_.ui()));
  if (!*engine) {
    Message("not enough memory to create archive", kMbOk | kMbIconHand);
    return false;
  }
  (*engine)->set_hooks(hooks_.get());
  return true;
}

void CCratexDoc::DestroyEngine() {
  if (!engine_) return;
  engine_->set_hooks(nullptr);
  engine_.reset();
}

void CCratexDoc::ClearView() {
  rows_.clear();
  white_ = true;
  host_.RowsChanged();
}

void CCratexDoc::SetTitle(const std::string& title) {
  title_ = title;
  host_.TitleChanged(title_);
}

void CCratexDoc::AppendRecentMembers() {
  if (!engine_) return;
  for (const MemberEntry& member : engine_->recent_members()) {
    rows_.push_back(MakeMemberRow(member));
  }
  engine_->ClearRecentMembers();
  host_.RowsChanged();
}

void CCratexDoc::SortRows(ui::BrowserColumn column) {
  std::stable_sort(rows_.begin(), rows_.end(), [column](const MemberRow& a, const MemberRow& b) {
    return ui::MemberLess(column, a.member, b.member);
  });
  host_.RowsChanged();
}

ui::Feedback* CCratexDoc::BeginFeedback(const std::string& title, int range) {
  ui::Feedback* feedback = host_.NewFeedback();
  if (feedback && !feedback->Open(title, range)) {
    host_.DeleteFeedback(feedback);
    feedback = nullptr;
  }
  hooks_->ClearQuit();
  hooks_->Attach(feedback);
  return feedback;
}

void CCratexDoc::EndFeedback(ui::Feedback* feedback, int result) {
  hooks_->Detach();
  if (!feedback) return;
  feedback->End(result);
  host_.DeleteFeedback(feedback);
}

// ---- New Archive -------------------------------------------------------------------

bool CCratexDoc::NewArchive() {
  if (!Enabled(DocCommand::kNewArchive)) return false;
  std::string path = ProposedArchiveName();

  std::string digest;
  bool password_cancelled = false;
  if (options_.encrypt || options_.password_only) {
    std::string typed;
    if (ui::RunLockDialog(host_.front_end(), &typed)) {
      digest = DigestFromTypedPassword(typed);
    } else {
      // The archive goes on without a password or encryption; the menu
      // options keep their settings for the next archive.
      password_cancelled = true;
      Message(kPasswordCancelled, kMbOk | kMbIconExclamation);
    }
  }

  if (!host_.ChooseSaveFile("Create Archive", "Cratex file (*.exe)|*.exe||", "EXE", &path)) {
    return false;
  }

  ClearView();
  std::unique_ptr<ArchiveEngine> engine;
  if (!CreateEngine(&engine)) return false;
  encryption_applied_ = !password_cancelled && options_.encrypt;
  TransferOptions(*engine, encryption_applied_);
  if (!digest.empty()) engine->set_password_digest(digest);
  engine_ = std::move(engine);
  archive_path_ = path;

  if (!engine_->CreateArchive(path)) {
    // A partly written archive is thrown away with its engine.
    engine_->AbortArchive();
    Message("CreateArchive - Error", kMbOk | kMbIconHand);
    DestroyEngine();
    return false;
  }
  SetTitle(path);
  host_.RowsChanged();
  return true;
}

// ---- adding ------------------------------------------------------------------------

bool CCratexDoc::AddFolder() {
  if (!Enabled(DocCommand::kAddFolder)) return false;
  TransferOptions(*engine_, encryption_applied_);
  std::string folder;
  if (!host_.ChooseFolder("Add A Folder To The Archive", &folder)) return false;
  const std::string question =
      options_.subdirectories
          ? Format("About to add a folder and all its subfolders\n\n%s\n\nOK to continue?",
                   folder.c_str())
          : Format("About to a folder\n\n%s\n\nOK to continue?", folder.c_str());
  if (Message(question, kMbYesNo | kMbIconQuestion) != kIdYes) {
    return false;
  }
  busy_ = true;
  ui::Feedback* feedback = BeginFeedback("Add folder", 100);
  host_.BusyCursor(true);
  engine_->ClearUserQuit();
  engine_->ClearRecentMembers();
  const bool ok = engine_->AddDirectory(folder);
  EndFeedback(feedback, ok ? ui::kFeedbackSuccess : 0);
  host_.BusyCursor(false);
  busy_ = false;
  AppendRecentMembers();
  return ok;
}

bool CCratexDoc::AddFiles() {
  if (!Enabled(DocCommand::kAddFiles)) return false;
  TransferOptions(*engine_, encryption_applied_);
  std::vector<std::string> paths;
  if (!host_.ChooseOpenFiles("Add Files To The Archive", "All files (*.*)|*.*||", &paths)) {
    return false;
  }
  busy_ = true;
  ui::Feedback* feedback = BeginFeedback("Add list of files", 100);
  engine_->ClearUserQuit();
  bool ok = true;
  for (const std::string& path : paths) {
    // After the user quit, or once the archive was abandoned, every further
    // file would fail as well: the list ends there.
    if (engine_->user_quit() || hooks_->UserQuit() || !engine_->writing()) {
      ok = false;
      break;
    }
    engine_->ClearRecentMembers();
    if (!engine_->AddFile(path)) {
      ok = false;
      if (!engine_->user_quit()) Message("Add File - Error", kMbOk | kMbIconHand);
    }
    AppendRecentMembers();
  }
  EndFeedback(feedback, ui::kFeedbackSuccess);
  busy_ = false;
  return ok;
}

bool CCratexDoc::AddPath(const std::string& path) {
  if (host_.platform().files.IsFolder(path)) return engine_->AddDirectory(path);
  return engine_->AddFile(path);
}

bool CCratexDoc::AddPaths(const std::vector<std::string>& paths, const char* title) {
  busy_ = true;
  ui::Feedback* feedback = BeginFeedback(title, 50);
  engine_->ClearUserQuit();
  engine_->ClearRecentMembers();
  bool ok = true;
  for (const std::string& path : paths) {
    if (!AddPath(path)) {
      ok = false;
      break;
    }
    if (!engine_->writing()) {
      ok = false;
      break;
    }
    if (engine_->user_quit() || hooks_->UserQuit()) break;
  }
  if (engine_->user_quit() || hooks_->UserQuit()) {
    ok = false;
    Message("USER QUIT...", kMbOk | kMbTopmost);
  }
  EndFeedback(feedback, ui::kFeedbackSuccess);
  busy_ = false;
  AppendRecentMembers();
  return ok;
}

bool CCratexDoc::Paste(const std::vector<std::string>& paths) {
  if (!Enabled(DocCommand::kPaste, !paths.empty())) return false;
  TransferOptions(*engine_, encryption_applied_);
  return AddPaths(paths, "Paset Files Into Archive");
}

bool CCratexDoc::Drop(const std::vector<std::string>& paths) {
  // A drop that arrives while an add runs (the engine lets window messages
  // through) would start a second operation on the same archive.
  if (operation_running() || paths.empty()) return false;
  if (!archive_open()) {
    if (options_.create_on_drop) NewArchive();
    if (!archive_open()) {
      Message(kNoArchiveForDrop, kMbOk | kMbIconExclamation);
      return false;
    }
  }
  TransferOptions(*engine_, encryption_applied_);
  return AddPaths(paths, "Drop Files Onto Archive");
}

// ---- the script command ------------------------------------------------------------

bool CCratexDoc::RunScript() {
  if (!Enabled(DocCommand::kScript)) return false;
  Platform& platform = host_.platform();
  std::string folder;
  if (ReadScriptDir(platform.registry, host_.settings(), &folder)) {
    platform.files.SetCurrentFolder(folder);
  }
  std::string script;
  if (!host_.ChooseOpenFile("Open Script File", "script file (*.txt)|*.txt||", "txt", &script)) {
    return false;
  }
  // The folder remembered must be the script's own, whatever the current
  // folder is by the time the script has run.
  if (!winpath::IsAbsolute(script)) script = winpath::Join(platform.files.CurrentFolder(), script);
  std::unique_ptr<ArchiveEngine> engine;
  if (!CreateEngine(&engine)) return false;
  engine_ = std::move(engine);
  encryption_applied_ = false;

  SetTitle(Format("script: %s", winpath::LastElement(script).c_str()));
  busy_ = true;
  ui::Feedback* feedback = BeginFeedback("Process script", 100);
  ClearView();

  DocumentScriptHost script_host(host_, *hooks_);
  std::string archive;
  ProcessScript(*engine_, script_host, script, &archive);
  // A script that stopped early may leave its archive open.
  engine_->CloseArchive();
  EndFeedback(feedback, ui::kFeedbackSuccess);
  busy_ = false;
  AppendRecentMembers();

  bool ok = true;
  if (options_.verify && !archive.empty() && engine_->completed_archive() == archive) {
    SwallowMessages quiet(host_.ui());
    if (!VerifyClosedArchive(&quiet)) {
      Message("Verify Failed", kMbOk | kMbIconHand);
      ok = false;
    }
  }
  archive_path_ = archive;
  DestroyEngine();
  white_ = false;
  host_.RowsChanged();
  WriteScriptDir(platform.registry, host_.settings(), winpath::Parent(script));
  return ok;
}

// ---- closing -----------------------------------------------------------------------

bool CCratexDoc::VerifyClosedArchive(UserInterface* failure_ui) {
  const std::string archive = engine_->completed_archive();
  if (archive.empty()) return false;
  return VerifyArchive(*engine_, failure_ui ? *failure_ui : host_.ui(), archive,
                       kBuilderCaption);
}

bool CCratexDoc::CloseAndVerify(bool announce) {
  const bool closed = engine_->CloseArchive();
  // An archive that could not be closed was deleted (the engine said why):
  // there is nothing to read back.
  if (!closed || !options_.verify) return closed;
  if (announce) Message("About to Verify Archive...\n", kMbOk | kMbIconAsterisk | kMbTopmost);
  const bool ok = VerifyClosedArchive(nullptr);
  if (announce && ok) Message("Verification Complete", kMbOk | kMbIconAsterisk | kMbTopmost);
  return ok;
}

bool CCratexDoc::Save() {
  if (!Enabled(DocCommand::kSave)) return false;
  const bool ok = CloseAndVerify(false);
  DestroyEngine();
  white_ = false;
  host_.RowsChanged();
  return ok;
}

bool CCratexDoc::Abort() {
  if (!archive_open()) return false;
  if (operation_running()) {
    Message("Can't abort while an archive is being processed.\nUse the 'Options/Quit "
            "Processing' menu item first",
            kMbOk | kMbIconAsterisk | kMbTopmost);
    return false;
  }
  if (Message("Do you realy want to abort the archive?",
              kMbYesNo | kMbIconQuestion | kMbTopmost) != kIdYes) {
    return false;
  }
  engine_->AbortArchive();
  DestroyEngine();
  ClearView();
  return true;
}

bool CCratexDoc::Exit() {
  if (operation_running()) {
    Message("Can't exit while an archive is being processed.\nUse the 'Options/Quit "
            "Processing' menu item first",
            kMbOk | kMbIconAsterisk | kMbTopmost);
    return false;
  }
  if (!archive_open()) return true;
  const int answer = Message("Do you wish to save the archive?", kMbYesNoCancel | kMbIconQuestion);
  if (answer == kIdYes) {
    CloseAndVerify(false);
  } else if (answer == kIdNo) {
    engine_->AbortArchive();
  } else {
    return false;  // Cancel (or no answer): the archive stays open
  }
  DestroyEngine();
  white_ = false;
  host_.RowsChanged();
  return true;
}

void CCratexDoc::CloseDocument() {
  if (!archive_open()) return;
  if (operation_running()) {
    // Nothing may be closed under a running add: it is asked to stop; the
    // archive is dealt with when it has.
    engine_->SetUserQuit();
    return;
  }
  if (Message("Do you wish to save the archive?", kMbYesNo | kMbIconQuestion | kMbTopmost) ==
      kIdYes) {
    CloseAndVerify(true);
  } else {
    engine_->AbortArchive();
  }
  DestroyEngine();
  white_ = false;
  host_.RowsChanged();
}

void CCratexDoc::Discard() {
  if (!archive_open() || operation_running()) return;
  engine_->AbortArchive();
  DestroyEngine();
  ClearView();
}

// ---- Browse, Quit Processing, Preferences ---------------------------------------------

bool CCratexDoc::Browse() {
  if (!Enabled(DocCommand::kBrowse)) return false;
  Message(kBrowseNotice, kMbOk | kMbIconAsterisk);
  std::string path;
  if (!host_.ChooseOpenFile("Browse/Extrcat Archive", "self extracting archive (*.exe)|*.exe||",
                            "exe", &path)) {
    return false;
  }
  if (!host_.platform().files.IsFile(path)) {
    Message(Format("ERROR\ncan't open file '%s'", path.c_str()), kMbOk | kMbIconHand);
    return false;
  }
  {
    ArchiveEngine reader(host_.platform(), host_.ui());
    reader.ReadArchiveInfo(path);
    reader.CloseArchive();
    const TypeRecord& type = reader.type_record();
    if (type.IsSetup()) {
      const SetupInfo& s = type.setup;
      const std::string question = Format(
          "This archive is a SETUP archive designed to run an initial setup program...\n\n     "
          "COMPANY: %s\n     PRODUCT: %s\n     DESCRIPTION: %s\n     SETUP PROGRAM: %s\n     "
          "WAIT-FOR-EXE: %s\n\nHowever, no software will be installed by this extraction "
          "method, the \nsoftware will only be installed if the archive is extrcated by "
          "executing it.\n\nDo you want to continue and browse/extract the files?",
          s.company.c_str(), s.product.c_str(), s.description.c_str(), s.setup_program.c_str(),
          s.wait_program.c_str());
      if (Message(question, kMbYesNo | kMbIconQuestion) != kIdYes) {
        return false;
      }
    }
  }
  host_.ShowBrowser(path);
  return true;
}

void CCratexDoc::QuitProcessing() {
  if (!engine_ || !operation_running()) return;
  hooks_->RequestQuit();
  engine_->SetUserQuit();
}

bool CCratexDoc::Preferences() {
  if (!Enabled(DocCommand::kPreferences)) return false;
  Registry& registry = host_.platform().registry;
  ui::PreferenceValues values;
  ReadPreferences(registry, host_.settings(), &values);
  if (!host_.ShowPreferences(&values)) return false;
  WritePreferences(registry, host_.settings(), values);
  // The activity log setting is read once per process by the first engine:
  // written now, it counts for this run only if no engine was made yet.
  options_.create_on_drop = values.create_on_drop == 1;
  return true;
}

const std::string& CCratexDoc::DocumentationPath() const {
  if (!documentation_looked_up_) {
    documentation_looked_up_ = true;
    std::string home;
    if (ReadHome(host_.platform().registry, host_.settings(), &home)) {
      const std::string path =
          Format("%s\\docs\\CRX_document.htm", winpath::StripTrailingSeparator(home).c_str());
      if (host_.platform().files.IsFile(path)) documentation_path_ = path;
    }
  }
  return documentation_path_;
}

}  // namespace crx::builder
