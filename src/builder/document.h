// The builder's document: the user's option settings, the archive being
// built (one ArchiveEngine from New Archive until Save, Abort or Exit), the
// member rows the view lists, and every command of the builder's menus.
//
// The document is portable: it never draws anything. Everything a person
// sees (questions, messages, file and folder choosers, the lock dialog,
// Preferences, feedback windows, the archive browser) goes through its
// DocumentHost, whose defaults show dialog models on the ui front-end. The
// Win32 main window and the terminal builder are two hosts of it.
//
// What a view (the main window, the terminal loop) does with it:
//   - menus and toolbar: before showing a command ask Enabled(command) and,
//     for a toggle, Checked(command); run it with Run(command) (or the
//     named member, e.g. NewArchive()); Paste and Drop take the paths.
//     Paste is enabled only when the host says the clipboard holds files
//     (Enabled(kPaste, clipboard_has_files)).
//   - the list: rows() in display order; after any command (or when the
//     host's RowsChanged() is called) redraw it. SortRows(column) when a
//     column heading is clicked. The background is white while
//     white_background() is true, else grey (RGB 192,192,192).
//   - the title: title() (empty: the program's own title); the host's
//     TitleChanged is called when it changes.
//   - the status bar: the host's StatusText(text) receives the engine's
//     progress texts while no feedback window is attached.
//   - the background state: archive_open() and operation_running();
//     Quit Processing (QuitProcessing()) is the only command meant for the
//     time an operation runs (the engine pumps messages between files
//     through the host's ProcessMessages).
//   - Exit() returns true when the program may end; CloseDocument() is the
//     same for closing by other means (never refused).
#ifndef CRX_BUILDER_DOCUMENT_H
#define CRX_BUILDER_DOCUMENT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "builder/assembly.h"
#include "builder/settings.h"
#include "engine/archive_engine.h"
#include "ui/feedback.h"
#include "ui/feedback_hooks.h"
#include "ui/member_rows.h"

namespace crx {
struct Platform;
class UserInterface;
}  // namespace crx

namespace crx::ui {
class FrontEnd;
struct PreferenceValues;
}  // namespace crx::ui

namespace crx::builder {


// The menu commands and toggles.
enum class DocCommand {
  kNewArchive,
  kScript,           // "Create Archive using script-file"
  kAddFolder,
  kAddFiles,
  kSave,
  kAbort,
  kBrowse,           // "Extract/Browse Archive"
  kExit,
  kSetupArchive,     // toggle "Generate Installation/Setup Archive"
  kCompress,         // toggle "Compress Files"
  kSubdirectories,   // toggle "Include Subdirectories"
  kProjectBackup,    // toggle "Project Backup Mode"
  kVerify,           // toggle "Verify Archive After Creation"
  kFlatten,          // toggle "Flatten folder hierarchy"
  kMinimize,         // toggle "Minimize output archive size"
  kEncrypt,          // toggle "Encrypt / Password Protect"
  kPasswordOnly,     // toggle "Password Protect - no encryption"
  kQuitProcessing,
  kPaste,
  kPreferences,
  kDocumentation,    // "Documentation..." (the view opens DocumentationPath())
  kAbout,            // the view's about box
  kTestGetOffset,    // the hidden test menu's offset diagnostic (the view's)
};

// The menu text of a command ("New Archive", "Compress Files", ...) and its
// prompt ("Create a new archive\nnew archive": status text, then after the
// line break the tool tip; empty when it has none).
const char* CommandText(DocCommand command);
const char* CommandPrompt(DocCommand command);
bool IsToggle(DocCommand command);

// The option flags of the Options menu.
struct DocumentOptions {
  bool subdirectories = true;  // D
  bool compress = true;        // Z
  bool verify = true;          // verify after Save, Exit and script runs
  bool setup = false;          // S
  bool project = false;        // P
  bool flatten = false;        // F
  bool encrypt = false;        // E, with a password
  bool password_only = false;  // a password, no encryption
  bool minimize = false;       // M
  bool create_on_drop = true;  // from the registry when the document is made
};

// One row of the view: four columns, and the member behind it for sorting.
struct MemberRow {
  MemberEntry member;       // name, size, stored size, modification time
  std::string time_text;    // "%d/%d/%d %d:%d" day, month, year, hour, minute (UTC)
  std::string size_text;    // "%d"
  std::string stored_text;  // "%d"; 0 for a member stored uncompressed
};

// The program around the document. The defaults show dialog models on the
// front-end given; a window program overrides the choosers with its own
// system dialogs, and the view notifications.
class DocumentHost {
 public:
  DocumentHost(Platform& platform, UserInterface& ui, ui::FrontEnd& front_end)
      : platform_(platform), ui_(ui), front_end_(front_end) {}
  virtual ~DocumentHost() = default;
  DocumentHost(const DocumentHost&) = delete;
  DocumentHost& operator=(const DocumentHost&) = delete;

  Platform& platform() { return platform_; }
  UserInterface& ui() { return ui_; }
  ui::FrontEnd& front_end() { return front_end_; }
  // Where the settings are (tests point it at a scratch key).
  SettingsLocation& settings() { return settings_; }

  // ---- choosers -------------------------------------------------------------
  // A save dialog (Create Archive). *path holds the proposed name and
  // receives the chosen file; false when cancelled. default_extension is
  // added to a name without one.
  virtual bool ChooseSaveFile(const std::string& title, const std::string& filter,
                              const std::string& default_extension, std::string* path);
  // An open dialog for one existing file; false when cancelled.
  virtual bool ChooseOpenFile(const std::string& title, const std::string& filter,
                              const std::string& default_extension, std::string* path);
  // An open dialog for several files: full paths in the order chosen; false
  // when cancelled or nothing was chosen.
  virtual bool ChooseOpenFiles(const std::string& title, const std::string& filter,
                               std::vector<std::string>* paths);
  // The folder chooser; false when cancelled.
  virtual bool ChooseFolder(const std::string& title, std::string* folder);

  // ---- feedback, browser, preferences -----------------------------------------
  // A new, not yet opened feedback window; null when none can be shown.
  virtual ui::Feedback* NewFeedback() { return nullptr; }
  virtual void DeleteFeedback(ui::Feedback* feedback) { delete feedback; }
  // Opens the archive browser on the archive at path.
  virtual void ShowBrowser(const std::string& path);
  // Shows the Preferences dialog on *values; true when it closed with OK
  // (the values are then the ones to store).
  virtual bool ShowPreferences(ui::PreferenceValues* values);

  // ---- the view ----------------------------------------------------------------
  virtual void ProcessMessages() {}
  virtual void BusyCursor(bool on) { (void)on; }
  virtual void StatusText(const std::string& text) { (void)text; }
  virtual void RowsChanged() {}
  virtual void TitleChanged(const std::string& title) { (void)title; }

 private:
  Platform& platform_;
  UserInterface& ui_;
  ui::FrontEnd& front_end_;
  SettingsLocation settings_;
};

class CCratexDoc {
 public:
  // Reads CreateOnDrop (the key created, a missing value written as "1").
  explicit CCratexDoc(DocumentHost& host);
  // An archive still open is closed as CloseDocument does.
  ~CCratexDoc();
  CCratexDoc(const CCratexDoc&) = delete;
  CCratexDoc& operator=(const CCratexDoc&) = delete;

  // ---- state -------------------------------------------------------------------
  bool archive_open() const { return engine_ != nullptr; }
  // An add or a script run has its feedback window attached.
  bool operation_running() const;
  const DocumentOptions& options() const { return options_; }
  const std::string& archive_path() const { return archive_path_; }
  const std::string& title() const { return title_; }
  const std::vector<MemberRow>& rows() const { return rows_; }
  bool white_background() const { return white_; }
  // The engine of the open archive, or null.
  ArchiveEngine* engine() { return engine_.get(); }
  DocumentHost& host() { return host_; }

  // ---- enabling --------------------------------------------------------------------
  // Whether the command may run now. clipboard_has_files: the clipboard
  // holds a list of files (only Paste looks at it).
  bool Enabled(DocCommand command, bool clipboard_has_files = false) const;
  // Whether a toggle is on.
  bool Checked(DocCommand command) const;
  // Switches a toggle with its coupling rules; false (nothing changed) when
  // it is disabled or not a toggle.
  bool Toggle(DocCommand command);
  // Runs a command that needs nothing more than the document (not Paste,
  // Drop, Documentation, About, Test - Get Offset); false when it is
  // disabled or did not complete.
  bool Run(DocCommand command);

  // ---- commands ------------------------------------------------------------------------
  bool NewArchive();
  bool AddFolder();
  bool AddFiles();
  // Adds the paths (the clipboard's file list): folders go to AddDirectory
  // as with a drop, anything else to AddFile.
  bool Paste(const std::vector<std::string>& paths);
  // Paths dropped onto the view.
  bool Drop(const std::vector<std::string>& paths);
  bool RunScript();
  bool Save();
  bool Abort();
  // True when the program may end (nothing running, and the archive saved,
  // aborted or none open); false when the user stays.
  bool Exit();
  // Closing by other means (an automation client releasing the document):
  // an open archive is saved (and verified) or aborted as the user answers.
  void CloseDocument();
  // Aborts an open archive without asking (nobody is left to ask: the
  // input of the terminal builder ended). Nothing happens while an
  // operation runs.
  void Discard();
  bool Browse();
  void QuitProcessing();
  bool Preferences();

  // The documentation file ("<Home>\docs\CRX_document.htm" from the machine
  // key), looked up once; empty when the value is missing or the file does
  // not exist.
  const std::string& DocumentationPath() const;

  // Sorts the rows ascending by a column, with the archive browser's
  // comparison.
  void SortRows(ui::BrowserColumn column);

  // The proposed name of a new archive: "%s\crx.exe" in TEMP, else TMP,
  // else "\crx.exe".
  std::string ProposedArchiveName() const;

  // The engine options D, S, Z, P, F, E and M as SetOptions letters
  // ("+DZ" / "-SPFEM" pairs); with_encryption false leaves E off.
  void TransferOptions(ArchiveEngine& engine, bool with_encryption) const;

 private:
  class Hooks;

  bool CreateEngine(std::unique_ptr<ArchiveEngine>* engine);
  void DestroyEngine();
  void AppendRecentMembers();
  void ClearView();
  void SetTitle(const std::string& title);
  // Closes the archive and, with verify on, runs the verification
  // sequence; false when either failed.
  bool CloseAndVerify(bool announce);
  // The verification sequence on the archive the engine closed last: the
  // one place every command verifies through. failure_ui (null: the
  // host's) receives the failure message.
  bool VerifyClosedArchive(UserInterface* failure_ui);
  // Opens and attaches a feedback window (null when there is none).
  ui::Feedback* BeginFeedback(const std::string& title, int range);
  void EndFeedback(ui::Feedback* feedback, int result);
  // One path of a drop or paste: a folder to AddDirectory, else AddFile.
  bool AddPath(const std::string& path);
  bool AddPaths(const std::vector<std::string>& paths, const char* title);
  int Message(const std::string& text, uint32_t flags);

  DocumentHost& host_;
  DocumentOptions options_;
  std::unique_ptr<ArchiveEngine> engine_;
  std::unique_ptr<Hooks> hooks_;
  std::string archive_path_;
  std::string title_;
  std::vector<MemberRow> rows_;
  bool white_ = true;
  bool busy_ = false;  // an add or a script run is in progress
  mutable bool documentation_looked_up_ = false;
  mutable std::string documentation_path_;
  bool encryption_applied_ = false;  // this archive got option E
};

// The row of a member as the view shows it.
MemberRow MakeMemberRow(const MemberEntry& member);

}  // namespace crx::builder

#endif  // CRX_BUILDER_DOCUMENT_H
