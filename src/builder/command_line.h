// The builder without its window: the verification sequence that follows
// every archive creation, and the command-line mode in which the builder
// runs one script, verifies the archive and ends.
#ifndef CRX_BUILDER_COMMAND_LINE_H
#define CRX_BUILDER_COMMAND_LINE_H

#include <string>

#include "builder/script.h"
#include "engine/archive_engine.h"

namespace crx::builder {

// The verification sequence of the builder (script runs, its commands):
// reads the archive engine created at archive_path back and checks every
// member; shows "ERROR\nVerification Failed" when that fails. An engine
// that created no archive (archive_path empty) succeeds at once. The
// engine's verify option is left as it was.
//
// An archive the engine wrote across removable disks (completed_volumes()
// of 2 or more) asks first for its first disk ("VERIFY ARCHIVE..."; Cancel
// skips the verification, which then counts as passed), waits a second,
// and when the first volume cannot be opened asks "DRIVE NOT READY..." or
// "CAN'T FIND REQUIRED FILE ON MEDIA..." until it can (Cancel: false, no
// further message); success ends with "Multiple Volume Verification
// Complete".
bool VerifyArchive(ArchiveEngine& engine, UserInterface& ui, const std::string& archive_path,
                   const std::string& caption);

struct CommandLineRun {
  std::string script;         // the script path taken from the command line
  std::string archive;        // the archive the script created, if any
  bool script_ok = false;     // the script ran to its end
  bool verified = false;      // the archive read back intact (or none was made)
  int errors_reported = 0;    // errors the engine reported (silently) meanwhile
  bool interrupted = false;   // the user stopped the script: nothing was put in place
  bool bad_source_date = false;  // SOURCE_DATE_EPOCH was set but not usable
};

// Command-line mode: the whole command line, trimmed (and without one pair
// of double quotes around it), is the script path. A silent engine runs the
// script; when it fails, "ERROR: Failed to process script file..." is
// shown; then the archive is verified whether or not the script
// succeeded. The new archive is verified under its temporary name and takes
// its own name only when it verified: a failed build or verification, or
// an interruption (which skips the verification), leaves an archive of
// that name from an earlier build as it was. With SOURCE_DATE_EPOCH set, archives record that moment as
// their creation time (an unusable value stops the run before anything is
// written). The engine's error reports go to the daily error log and, for
// build pipelines, to the terminal's error stream too.
CommandLineRun RunCommandLineScript(ScriptHost& host, const std::string& command_line);

// The script path in a command line, as RunCommandLineScript takes it.
std::string ScriptPathFromCommandLine(const std::string& command_line);

}  // namespace crx::builder

#endif  // CRX_BUILDER_COMMAND_LINE_H
