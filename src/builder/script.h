// The builder's script processor: makes an archive from a script file
// without asking anything, line by line.
//
// Each line's first character decides what it does:
//   # or empty   comment
//   >NAME        create the archive NAME (date, time, user and computer
//                substitutions; "?:" = the Windows drive)
//   +LETTERS     switch engine options on (-LETTERS: off); only the first
//                sign counts, so "+ZD-F" switches Z, D and F on
//   :TEXT        the next empty setup text (company, product, description,
//                setup program, wait program)
//   ~EXT:EXT     the ignore list, and ignoring by extension on
//   @FOLDER      change the current folder ("?:" searched on C: to Z:)
//   *PASSWORD    the archive's password digest
//   !!COMMAND    run a command through the system's command interpreter
//   !#TEXT       message shown after a successful close ("\n" = new line)
//   !$COMMAND    command run after a successful close
//   !(TITLE      open a feedback window for the rest of the script
//   !?TEXT       ask Yes/No; No ends the script
//   anything     a file or folder to add; "<name>=path" stores path as name
// Lines are cut at their first control or non-ASCII byte. A line longer
// than 511 characters stops the script with an error naming it, and a file
// that is empty, UTF-16 or holds NUL bytes is refused before any line runs.
// Option letters E, M and S and the password cannot change an archive
// already created: such lines after ">" are reported and only apply to a
// later archive; "+E" without Z switches compression on as well.
#ifndef CRX_BUILDER_SCRIPT_H
#define CRX_BUILDER_SCRIPT_H

#include <string>

#include "engine/archive_engine.h"
#include "ui/feedback.h"
#include "ui/feedback_hooks.h"

namespace crx {
struct Platform;
class FileSystem;
class UserInterface;
}  // namespace crx

namespace crx::builder {

// The longest script line, and the longest exit command and exit message.
inline constexpr size_t kScriptPieceLength = 511;
inline constexpr size_t kScriptExitTextLength = 255;

// What a script run needs from the program around it.
class ScriptHost {
 public:
  ScriptHost(Platform& platform, UserInterface& ui) : platform_(platform), ui_(ui) {}
  virtual ~ScriptHost() = default;
  ScriptHost(const ScriptHost&) = delete;
  ScriptHost& operator=(const ScriptHost&) = delete;

  Platform& platform() { return platform_; }
  UserInterface& ui() { return ui_; }
  // The hooks of the engine that runs the script; ProcessScript installs
  // them, and a "!(" line attaches its feedback window to them. A program
  // with windows to keep responsive overrides ProcessMessages and UserQuit.
  virtual ui::FeedbackHooks& hooks() { return hooks_; }

  // A new, not yet opened feedback window for a "!(" line; null when the
  // program cannot show one. DeleteFeedback destroys what it made.
  virtual ui::Feedback* NewFeedback() { return nullptr; }
  virtual void DeleteFeedback(ui::Feedback* feedback) { delete feedback; }

  // The user answered No to a "!?" question: the program is asked to end.
  virtual void RequestQuit() {}

  // The caption of the message boxes the script shows.
  virtual std::string Caption() { return "Cratex"; }

 private:
  Platform& platform_;
  UserInterface& ui_;
  ui::FeedbackHooks hooks_;
};

// Runs the script at path on engine. True when the script ran to its end
// and the archive was closed without error, or when the user quit before a
// line (or answered No to a question); false on an error that stopped the
// script, after a quit noticed right after adding files, or when closing
// failed. *archive_path receives the full path of the archive the last ">"
// line created (empty when none was).
//
// A ">" line while an archive is still being written first closes that
// archive properly (end marker and counts) and logs it; when that close
// fails the script stops rather than start another archive.
bool ProcessScript(ArchiveEngine& engine, ScriptHost& host, const std::string& path,
                   std::string* archive_path);

// The archive name of a ">" line after its substitutions, for the given
// UTC time: "?:" at the start becomes the Windows drive; "#" ddmmyyyy,
// "$" mmddyyyy, "~" yyyymmdd, "%" hhmmss, "*" the user's name ("USR" when
// unknown), "@" the computer's name ("HOST"); then trimmed of spaces.
// *with_drive receives the text after the "?:" replacement, or is emptied
// when none was made.
std::string ArchiveNameFromScript(Platform& platform, const std::string& text,
                                  const SystemTime& utc, std::string* with_drive);

// "?:" at the start of path replaced by the first drive from C: to Z: on
// which the path exists; Z: when none has it. Other paths are returned as
// they are.
std::string ResolveDriveSearch(FileSystem& files, const std::string& path);

// "\n" (back-slash, n) turned into a space and a line break, as the exit
// message and questions show them.
std::string ScriptLineBreaks(const std::string& text);

}  // namespace crx::builder

#endif  // CRX_BUILDER_SCRIPT_H
