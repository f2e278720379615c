#ifndef CRX_INTERPRETER_SCRIPT_INTERPRETER_H
#define CRX_INTERPRETER_SCRIPT_INTERPRETER_H

// The installation-script interpreter's context: everything one run of
// Kestrova knows (the parsed command, the script files, the variables, the
// conditional levels, the run flags, the file groups, the records for the
// uninstall script, the log) and every command handler. Handlers are members
// so each reads the current command and the run's state directly; they live
// in one source file per command family:
//
//   runner.cpp            start-up, reading and splitting lines, call/return,
//                         the main loop, executing one command, end of run
//   variables.cpp         variables, aliases, line expansion; set, setenv,
//                         eval, _alias
//   conditionals.cpp      if / elseif / else / endif
//   silent.cpp            silent mode, response file, status report; the
//                         message service
//   command_table.cpp     the keyword table and the dispatcher
//   general_commands.cpp  updating, filegroup, run, fread, fedit, rm, fwrite,
//                         chmod, getdllref, onuninstall, single_step,
//                         maximize, cancel, finalize; message, query
//   copy_command.cpp      copy and its disk-space accounting
//   boot_moves.cpp        replace and delete at the next start
//   registry_commands.cpp setreg, getreg, rmkey, rmregtree (registry_key.h)
//   system_commands.cpp   setsvc, regdll, unregdll, locate, locateobj,
//                         associate, dcomcfg, odbc
//   shortcut_commands.cpp progmenu, desktop, rmprogmenu, rmdesktop
//   uninstall_commands.cpp oktoinstall(ex), uninstalling, oktouninstall(ex),
//                         remove
//   restart.cpp           rmtree, boot-time removals, restart and resuming
//   dialog_commands.cpp   input, select, choosedir
//   document_commands.cpp choosefiles, display, browse
//   window_commands.cpp   banner, title, progress, background
//   bookkeeping.cpp       finishing an installation, tree and file removal,
//                         the clean-up after a failed command
//
// Each family keeps the helpers it alone needs in its own source file.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "ui/feedback.h"
#include "ui/message_service.h"
#include "ui/silent_mode.h"
#include "ui/window_look.h"

namespace crx::ui {
class FrontEnd;
}

namespace crx::interp {

// Field sizes of a parsed command (longer words are cut, with a log line).
inline constexpr size_t kKeywordField = 31;
inline constexpr size_t kArgumentField = 255;
inline constexpr int kArgumentFields = 8;
// A blank that belongs to a word: quoted blanks and blanks of variable values.
inline constexpr char kProtectedBlank = '\x01';
// Script lines: at most 510 characters read, 512 bytes once expanded.
inline constexpr size_t kLineLimit = 510;
inline constexpr size_t kExpandedLimit = 512;
// Open script files: the main script and nine called ones.
inline constexpr int kScriptSlots = 10;
// Evaluated conditional levels.
inline constexpr int kConditionalLevels = 8;
inline constexpr int kFileGroups = 8;

// The message service's answers and flags are the Windows message-box ones
// (engine/user_interface.h): 1 OK, 2 Cancel, 6 Yes, 7 No; 0 plain, 16 stop,
// 33 OK/Cancel with question icon, 64 information.

struct ParsedCommand {
  std::string option;   // empty, or a word beginning with '-'
  std::string command;  // the keyword
  std::string args[kArgumentFields];

  // The number of non-empty argument fields; -1 when the command is empty.
  int ArgCount() const;
  // True when the option begins with '-' and holds the letter anywhere.
  bool HasOption(char letter) const;
  void Clear();
};

struct FileGroup {
  std::string description;  // empty: no filegroup command defined it
  int64_t bytes = 0;        // pre-scan total of the group's files
  int files = 0;
  bool mandatory = false;
  // Kept apart from the byte total: a group whose files the pre-scan could
  // not count (total 0) must still be deselectable.
  bool deselected = false;
};

// A registry key a command created (not merely opened).
struct CreatedKey {
  RegKey hive = 0;
  std::string path;  // below the hive, components joined by back-slashes
};

struct ShortcutRecord {
  std::string path;
  bool shared = false;  // made with option -s
};

// What the program around the interpreter provides: the main window's status
// pane, its title, the script file dialog. Win32 shows a window; on Linux the
// status is one updating line on a terminal, or nothing.
class InterpreterHost {
 public:
  virtual ~InterpreterHost() = default;
  // Sets the first status pane and lets the window process waiting messages.
  virtual void SetStatus(const std::string& text) = 0;
  // The "Run Install Script" file dialog; false when the user cancels.
  virtual bool AskScriptFile(const std::string& initial_file,
                             const std::string& initial_folder,
                             std::string* chosen) = 0;
  virtual void SetTitle(const std::string& title) { (void)title; }
  virtual void Maximize() {}
  // Whether there is a view to show the window's look in; the window
  // commands fail without one.
  virtual bool HasView() { return true; }
  // The look changed (background, bitmap, banner lines): repaint the view.
  virtual void SetLook(const ui::WindowLook& look) { (void)look; }
  // A new, unopened progress display (the feedback window) playing the
  // animation "@pistons", "@files" or an animation file; null: no display.
  virtual std::unique_ptr<ui::Feedback> MakeProgress(const std::string& animation) {
    (void)animation;
    return nullptr;
  }
  // Waits, keeping the window live where there is one.
  virtual void Pause(Clock& clock, uint32_t milliseconds) { clock.Sleep(milliseconds); }
};

// How a run ended, for the program's entry point.
struct RunResult {
  int exit_code = 0;
  // True when the window should stay open until the user closes it
  // (interactive runs that ended with their report).
  bool keep_window = false;
};

class ScriptInterpreter {
 public:
  ScriptInterpreter(Platform& platform, ui::FrontEnd& front_end, InterpreterHost& host);
  ~ScriptInterpreter();
  ScriptInterpreter(const ScriptInterpreter&) = delete;
  ScriptInterpreter& operator=(const ScriptInterpreter&) = delete;

  // ---- runner.cpp ------------------------------------------------------
  // The whole program run for a command line (the text after the program
  // name): silent option, script choice, log, pre-scan, main loop, report,
  // finalize hand-off.
  RunResult Run(const std::string& command_line);
  // Turns one expanded line into the current command (quoting, splitting,
  // protected blanks, grave accents, field cuts). Public for tests.
  void SplitLine(std::string line);
  // Executes the current command: status text, single-step question,
  // dispatch, failure report and clean-up. Returns success.
  bool Execute();
  // Writes the command record "\ncmd<%s> opt<%s> a1<%s> ... a8<%s>\n".
  void LogCommandRecord();
  // Sets the status text (nothing in silent mode).
  void SetStatus(const std::string& text);
  // SetStatus of a formatted text; nothing is formatted in silent mode.
  void SetStatusF(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  // Opens a script file into the slot at the current depth (logged).
  bool OpenScript(const std::string& path);
  // Reads lines (following call and return) until the next command is in
  // cmd; false when the run ends, with run_end telling how.
  bool ReadNextCommand();

  // ---- silent.cpp --------------------------------------------------------
  // Removes a leading "/sms:" form and returns the rest; false when the
  // program must quit (missing response file, already reported).
  bool ParseSilentOption(const std::string& command_line, std::string* rest);
  bool GetResponse(const std::string& key, std::string* value);
  bool GetResponseInt(const std::string& key, int* value);
  void ReportStatusMIF(bool success, const std::string& text);
  // The message service: shows (or, silently, logs) a message and returns
  // the button pressed (kIdOk, kIdCancel, kIdYes, kIdNo).
  int Message(const std::string& text, uint32_t flags);
  // A message that is also copied to the log ("text\n"); in silent mode the
  // message service's own record is the copy.
  int ShowAndLog(const std::string& text, uint32_t flags);
  bool CmdSmsOn();
  bool CmdSmsOff();

  // ---- the log (runner.cpp) ----------------------------------------------
  bool OpenLog();
  void Log(const std::string& text);  // only while logging is enabled
  void LogF(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  // Hands the gathered lines to the system, so that a program reading the
  // log now finds them. SyncLog also asks the system to keep them on disk:
  // done once, when the run ends (a sync at every flush cost more than a
  // small installation's copies, whose files are not synced either).
  void FlushLog();
  void SyncLog();

  // ---- variables.cpp -------------------------------------------------------
  void SetBuiltInVariables();
  bool SetVariable(const std::string& name, const std::string& value, bool environment = false);
  // The value as stored (blanks as protected marks); false when unknown.
  bool GetVariable(const std::string& name, std::string* value);
  // ?, USER, HOST, ... : names the script cannot set.
  static bool IsReadOnlyVariable(const std::string& name);
  // The readable value (grave accents at the ends and marks undone); "" when unknown.
  std::string VariableText(const std::string& name);
  // Expands $NAME references of a raw line into at most 512 bytes.
  std::string ExpandLine(const std::string& raw);
  void AddAlias(const std::string& name, const std::string& text);
  void SubstituteAliases();  // on the current command's arguments
  bool CmdSet();
  bool CmdSetenv();
  bool CmdEval();
  bool CmdAlias();

  // ---- conditionals.cpp ----------------------------------------------------
  bool MayRun() const;
  bool CmdIf();
  bool CmdElseif();
  bool CmdElse();
  bool CmdEndif();
  bool FileStatusTest(const std::string& path, const std::string& test);

  // ---- command_table.cpp ---------------------------------------------------
  // Runs the current command through its row of the keyword table
  // (command_table.h says how each kind of row is treated).
  bool Dispatch();
  // Checks the current command's argument count and option against its
  // row, showing the row's message (if any) on a mismatch; false when they
  // do not fit. `if` calls it once it knows its branch is evaluated.
  bool CheckCommandRow();

  // ---- general_commands.cpp ------------------------------------------------
  bool CmdUpdating();
  bool CmdFilegroup();
  bool CmdRun();
  bool CmdFread();
  bool CmdFedit();
  bool CmdRm();
  bool CmdFwrite();
  bool CmdChmod();
  bool CmdGetdllref();
  bool CmdOnuninstall();
  bool CmdSingleStep();
  bool CmdMaximize();
  bool CmdCancel();
  bool CmdFinalize();
  bool CmdMessage();
  bool CmdQuery();

  // ---- copy_command.cpp ----------------------------------------------------
  bool CmdCopy();
  // Pre-scan accounting of the current (copy) command.
  void CountCopySpace();
  // Reads the free space of HOME's drive (called when HOME is set).
  void UpdateFreeSpace(const std::string& home);
  // Creates every missing folder of a path (the folder itself included),
  // recording each it made; reports a failure through the message service.
  bool CreateFolders(const std::string& folder);
  // The shared-file reference count of a full path; -1 when unknown.
  int SharedRefCount(const std::string& path);
  // Sets it; returns the system result (0 = success).
  long SetSharedRefCount(const std::string& path, int count);
  // The one full path under which a file's name is registered as a shared
  // file ("" when none or several are; logged).
  std::string SharedName(const std::string& file);

  // ---- boot_moves.cpp ------------------------------------------------------
  bool BootMoveSupported();
  bool MoveOnBoot(const std::string& source, const std::string* destination);
  bool DeleteOnBoot(const std::string& path);

  // ---- registry_commands.cpp -----------------------------------------------
  bool CmdSetreg();
  bool CmdGetreg();
  bool CmdRmkey();
  bool CmdRmregtree();
  // rmregtree of a key under a hive, as the clean-up uses it.
  bool RemoveRegistryTree(RegKey hive, const std::string& key);

  // ---- system_commands.cpp -------------------------------------------------
  // setsvc, regdll, unregdll, locate, locateobj, associate, dcomcfg, odbc
  bool CmdSetsvc();
  bool CmdRegdll();
  bool CmdUnregdll();
  bool CmdLocate();
  bool CmdLocateobj();
  bool CmdAssociate();
  bool CmdDcomcfg();
  bool CmdOdbc();

  // ---- shortcut_commands.cpp -----------------------------------------------
  bool CmdProgmenu();
  bool CmdDesktop();
  bool CmdRmprogmenu();
  bool CmdRmdesktop();

  // ---- uninstall_commands.cpp ----------------------------------------------
  // oktoinstall, oktoinstallex, uninstalling, oktouninstall,
  // oktouninstallex, remove
  bool CmdOktoinstall();
  bool CmdOktoinstallex();
  bool CmdUninstalling();
  bool CmdOktouninstall();
  bool CmdOktouninstallex();
  bool CmdRemove();
  // Shows the naming-convention message for the first of HOME (when
  // need_home), VENDOR, APP and VER that is not set; true when one was
  // missing.
  bool ReportMissingConvention(bool need_home);

  // ---- restart.cpp ---------------------------------------------------------
  // rmtree, the boot-time removal of what it left, restart and resuming
  bool CmdRmtree();
  bool CmdRestart();
  // Schedules the pending file and folder removals for the next start;
  // returns how many were scheduled (0: nothing to do).
  int SchedulePendingRemovals();
  // Sets the reboot-needed flag and NEEDS_RE_BOOT to "TRUE" (boot_moves.cpp).
  void MarkRebootNeeded();
  // The rename batch in the Startup folder: opened on first need (false
  // when it cannot be), completed with its trailer at the end of the run,
  // deleted by cancel.
  bool OpenRenameBatch();
  // Creates "<Startup>\<prefix>_<seconds in hex>.bat" (APP must be set);
  // null when it cannot be (already reported).
  std::unique_ptr<File> CreateStartupBatch(const char* prefix, std::string* path);
  bool WriteRenameBatch(const std::string& text);
  void CloseRenameBatch();
  void DeleteRenameBatch();
  // The command line of a restarted run ("-r<label>$<mode>$<script>"):
  // sets the resume marker and silent mode and gives the script to run.
  // False when the program must quit (already reported).
  bool StartRestartedRun(const std::string& command_line, std::string* script);
  // Called by the main loop for each command read while resume_marker is
  // set: false skips the command; true at the matching restart line, whose
  // marker is then cleared and whose saved state is to be called.
  bool ResumeCheck();
  // At the end of a resumed run that did not suspend itself again: the
  // folder a setup archive's stub extracted the installation to, and kept
  // for the restart, is removed (what is in use goes at the next start).
  void RemoveKeptSetupFolder();

  // The main script's full path (the restart command line names it).
  std::string main_script;
  std::unique_ptr<File> rename_batch;
  std::string rename_batch_path;
  int rename_lines = 0;
  // if blocks opened (by their structure) among the commands skipped while
  // resuming; they are open again at the restart line.
  int resume_if_depth = 0;
  // The depth of the script slot that holds the environment file being
  // read back (its set lines may restore PWD); -1 when none.
  int restore_depth = -1;

  // ---- dialog_commands.cpp -------------------------------------------------
  bool CmdInput();
  bool CmdSelect();
  bool CmdChoosedir();

  // ---- document_commands.cpp -----------------------------------------------
  bool CmdChoosefiles();
  bool CmdDisplay();
  bool CmdBrowse();

  // ---- window_commands.cpp -------------------------------------------------
  bool CmdBanner();
  bool CmdTitle();
  bool CmdProgress();
  bool CmdBackground();
  // Carries out a window command as if the script held it (through the
  // keyword table, with its command record); the current command is kept.
  // The cancelled and suspended looks use it.
  bool RunWindowCommand(const std::string& command, const std::string& option,
                const std::vector<std::string>& args);
  // What a cancelled run draws: the title with " (cancelled)" (or
  // "CANCELLED"), a grey background and the "...cancelled" banner.
  void ShowCancelledLook();
  // Opens the progress display (closing one that is open); nothing in
  // silent mode. False when the host has none or it cannot be opened.
  bool OpenProgress(const std::string& caption, int steps);
  // One step of the progress display, when one is open.
  void ProgressStep(const std::string& text);
  // Tells an open progress display to close, waits the given time and
  // destroys it; nothing when none is open.
  void CloseProgress(uint32_t pause_milliseconds = 1000);

  ui::WindowLook look;
  // The animation for progress displays opened later (progress -a).
  std::string progress_animation = "@pistons";
  std::unique_ptr<ui::Feedback> progress;

  // ---- bookkeeping.cpp -----------------------------------------------------
  bool FinalizeInstallation();
  bool RegisterUninstall();
  bool RemoveTree(const std::string& folder);
  bool RemoveFile(const std::string& path);
  // The clean-up after a failed command (the run's links and associations,
  // HOME tree, application key).
  void CleanUpAfterFailure();
  // Parts of the clean-up: the links (shortcut_commands.cpp) and the
  // associations (system_commands.cpp) this run recorded, quietly.
  void RemoveShortcutsOfThisRun();
  void RemoveAssociationsOfThisRun();

  // ---- state ------------------------------------------------------------
  Platform& platform;
  ui::FrontEnd& front_end;
  InterpreterHost& host;

  ParsedCommand cmd;

  // Script files (runner.cpp owns the reading state).
  struct ScriptSlot;
  std::vector<std::unique_ptr<ScriptSlot>> slots;  // kScriptSlots entries
  int depth = 0;
  bool prescan = false;
  std::string raw_line;  // the line as read, before expansion
  // How the reading ended: not yet, at the end of the script (or return at
  // depth 0), cancelled, suspended for a reboot, or by a failed call.
  enum class RunEnd { kNone, kCompleted, kCancelled, kSuspended, kFailed };
  RunEnd run_end = RunEnd::kNone;

  // Run-wide flags.
  bool cancelled = false;
  bool suspended = false;      // restart: awaiting a reboot
  bool reboot_needed = false;
  bool uninstalling = false;
  bool update_mode = false;
  bool single_step = false;
  bool exit_at_end = false;
  bool finalize_requested = false;
  bool logging = false;
  bool cleaning_up = false;    // the clean-up after a failed command runs
  bool extended_confirmation = false;  // oktoinstallex
  std::string resume_marker;   // restart label of a restarted run
  bool resumed = false;        // the run went on after its restart line
  std::string title;           // last window title set

  // Silent mode and the response file (switched by /sms:, sms_on and
  // sms_off; shared with the message service).
  ui::SilentMode silent_mode;

  // Variables and aliases, in order of first assignment.
  struct Pair {
    std::string name;
    std::string value;
  };
  std::vector<Pair> variables;
  std::vector<Pair> aliases;

  // Conditionals.
  uint8_t levels[kConditionalLevels] = {};
  int active_index = -1;
  int depth_index = -1;

  // Copy.
  uint64_t needed_total = 0;
  uint64_t free_space = UINT64_MAX;  // unknown until HOME is set
  bool space_checked = false;
  FileGroup groups[kFileGroups];
  std::string copy_folder;  // the folder the last copy made sure of

  // Records for the uninstall script.
  std::vector<std::string> on_uninstall;
  std::vector<std::string> servers;
  std::vector<std::string> data_sources;
  std::vector<std::string> associations;
  std::vector<ShortcutRecord> menu_shortcuts;
  std::vector<ShortcutRecord> desktop_shortcuts;

  // What this run made, so the clean-up removes nothing else.
  std::vector<std::string> created_folders;  // in creation order
  std::vector<std::string> copied_files;     // destinations written
  std::vector<CreatedKey> created_keys;      // by setreg, in creation order

  // Removals that could not be done now (bookkeeping.cpp, boot_moves.cpp).
  std::vector<std::string> pending_files;
  std::vector<std::string> pending_folders;
  int remove_answer = 0;  // 0 none, kIdYes yes to all, kIdNo no to all
  int boot_moves = -1;    // -1 unknown, 0 no, 1 yes

 private:
  // The log as the shared message service writes to it (silent.cpp).
  class ServiceLog : public ui::MessageLog {
   public:
    explicit ServiceLog(ScriptInterpreter& k) : k_(k) {}
    bool IsOpen() const override;
    void Write(const std::string& text) override;
    void Flush() override;

   private:
    ScriptInterpreter& k_;
  };

  // Writes the gathered log lines.
  void WriteLogBuffer();
  void Logged();
  static constexpr size_t kLogBufferSize = 4096;
  static constexpr uint32_t kLogBufferMilliseconds = 200;

  std::unique_ptr<File> log_;
  std::string log_buffer_;
  uint32_t log_written_at_ = 0;
  std::unique_ptr<ServiceLog> service_log_;
  std::unique_ptr<ui::MessageService> messages_;
};

}  // namespace crx::interp

#endif  // CRX_INTERPRETER_SCRIPT_INTERPRETER_H
