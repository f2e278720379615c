// Logs and temporary member copies of the archive engine.
//
// Process-wide state (one value per running program): the logging setting
// (read once from the registry) and the last temporary member. Per engine
// object (EngineLog, a member of the archive engine): silent mode, the
// activity log "Cratex.log", open while one archive operation runs with
// logging on, and the daily error log that silent error reports go to.
//
// Both logs live in the log folder: TEMP, else TMP, else "C:/TEMP"; the
// folder's existence is not tested, so a missing folder simply means the log
// cannot be opened and nothing is written. Log entries are written exactly
// as their formats give them, straight to the file (no buffering).
#ifndef CRX_ENGINE_LOGS_H
#define CRX_ENGINE_LOGS_H

#include <memory>
#include <string>

#include "common/filetime.h"
#include "common/format.h"

namespace crx {

struct Platform;
class Environment;
class File;
class Registry;
class UserInterface;

// ---------------------------------------------------------------------------
// Process-wide settings.

// The logging setting: -1 until read, then the decimal value of the
// registry string HKCU "SOFTWARE\Velmora\Cratex\1.00" value Logging (0 when
// the key cannot be opened; a missing value is written as "1"). Only 1
// turns the activity log on.
int LoggingSetting();
// Reads the setting from the registry when it is still -1; returns it.
int LoadLoggingSetting(Registry& registry);
// Overrides the setting for the rest of the run (the builder's preferences).
void SetLoggingSetting(int value);

// Back to the state at program start: logging -1, no temporary member. For
// tests.
void ResetLogState();

// The folder both logs live in (no trailing separator added).
std::string LogFolder(Environment& environment);

// Opens a log or hand-off file in a folder others may write to (TEMP)
// without ever writing through a symbolic link someone planted there:
// afresh (whatever sits at path is deleted - a link itself, never what it
// points at - and the file is created exclusively) or for appending (an
// existing file, or a new one). Null when it cannot be opened; *refused
// (optional) is then true when something sits at path that is not written
// through: a link, or a file that could not be removed.
std::unique_ptr<File> OpenLogFile(Platform& platform, const std::string& path, bool append,
                                  bool* refused = nullptr);

// Appends one report to today's error log, as a silent ReportError does,
// for a program or engine object that cannot report otherwise (a log that
// was refused). Opens and closes the log; false when it cannot be opened.
bool AppendErrorLog(Platform& platform, const std::string& message);

// The path to extract member name to for viewing: in TEMP, TMP, "C:\TEMP",
// "D:\TEMP" or "\TEMP" (the first set or existing), "%s\\%s"; when that
// folder does not exist, "_CRXtmp_<name>" in the current folder. The path is
// remembered as the last temporary member.
std::string TempMemberPath(Platform& platform, const std::string& name);
// Deletes the last temporary member's file, if any (failures ignored), and
// forgets it.
void DeleteTempMember(Platform& platform);
// The last temporary member ("" when none).
const std::string& LastTempMember();

// ---------------------------------------------------------------------------
// Per-engine logs.
//
// A log whose path holds a symbolic link (or a file that cannot be
// replaced) is not written: the activity log is then off for the
// operation, and the refusal is recorded in the error log; a refused error
// log is said on the terminal's error stream.

enum class ActivityKind { kCreate, kList, kExtract, kVerify };

enum class ActivityEnd {
  kCloseCreated,     // "(close created archive)"
  kCloseExtracting,  // "(close extracting archive)"
  kAbortCreated,     // "(abort created archive)"
  kAbortExtracting,  // "(close/abort extracting archive)"
  kCannotOpenRead,   // "ExtractArchive... can't open for read"
};

class EngineLog {
 public:
  // Not silent until set_silent; the first engine object of the process
  // reads the logging setting.
  EngineLog(Platform& platform, UserInterface& ui);
  ~EngineLog();
  EngineLog(const EngineLog&) = delete;
  EngineLog& operator=(const EngineLog&) = delete;

  // Silent mode: error reports go to the error log instead of a message
  // box, and the extraction never asks before replacing a file. Each
  // engine object has its own; its host sets it from its run's state.
  bool silent() const { return silent_; }
  void set_silent(bool silent) { silent_ = silent; }
  // The caption of the message box of interactive error reports.
  void set_caption(const std::string& caption) { caption_ = caption; }

  // Not silent: a topmost message box with an OK button; nothing logged.
  // Silent: a line in the daily error log (opened on the first report and
  // kept open while this object lives); lost when it cannot be opened.
  void ReportError(const std::string& message);
  // How many errors this object has reported so far.
  int errors_reported() const { return errors_reported_; }
  // Silent reports are also written to the terminal's error stream (the
  // builder's command-line mode, where a build pipeline reads them).
  void set_echo_silent_reports(bool echo) { echo_silent_ = echo; }

  // Starts the activity log for an operation when the logging setting is 1
  // ("w" for create, list and extract, "a" for verify) and writes its
  // opening lines; archive_path is named by the create line. A log already
  // open is closed first. False when the log is not open afterwards.
  bool OpenActivityLog(ActivityKind kind, const std::string& archive_path);
  bool ActivityLogOpen() const { return activity_ != nullptr; }
  // Writes one entry exactly as formatted; skipped when the log is closed.
  void LogLine(const char* format, ...) CRX_PRINTF(2, 3);
  void LogText(const std::string& text);
  // Writes the closing line of end and closes the log (nothing when closed).
  void CloseActivityLog(ActivityEnd end);
  // Flushes and closes the log without writing a line (nothing when closed).
  void EndActivityLog();
  // Flushes the log so far (a program may end abruptly after this point).
  void FlushActivityLog();

 private:
  std::unique_ptr<File> OpenText(const std::string& path, bool append);
  // The daily error log's path for the time now.
  std::string ErrorLogPath(const SystemTime& now);
  // Opens the error log (with its header) when it is not open yet.
  bool OpenErrorLog(const SystemTime& now);

  Platform& platform_;
  UserInterface& ui_;
  bool silent_ = false;
  bool echo_silent_ = false;
  int errors_reported_ = 0;
  std::string caption_ = "Cratex";
  std::unique_ptr<File> activity_;
  std::unique_ptr<File> error_log_;
};

}  // namespace crx

#endif  // CRX_ENGINE_LOGS_H
