// The setup phase of a setup archive, after the stub has extracted it into
// its private temporary folder: run the setup program from there (passing
// silent mode on), leave the finalize hand-off files for the interpreter,
// wait for the installation to finish and remove what the extraction
// wrote - unless the installation asked to go on after a restart.
#ifndef CRX_STUB_SETUP_PHASE_H
#define CRX_STUB_SETUP_PHASE_H

#include <functional>
#include <string>

namespace crx {
class Environment;
struct Platform;
}  // namespace crx

namespace crx::stub {

struct HandoverContext;
struct TempFolder;

// The hand-off files, in the hand-off folder.
inline constexpr const char* kFinalizeData = "crxfin.dat";
inline constexpr const char* kFinalizeProgram = "crxfinalize.exe";
// Left in the temporary folder by an installation that goes on after a
// restart: nothing is removed then.
inline constexpr const char* kRestartMarker = "__restart_env__.tmp";
// A file a setup program may leave behind; removed with the members.
inline constexpr const char* kResultFile = "result_file.txt";
// How long WaitForDeletion waits between attempts.
inline constexpr unsigned kDeletionRetryMilliseconds = 5000;

// The setup program's command line: the text unchanged when it starts with
// a back-slash or a full stop or has a colon second, else ".\" in front;
// in silent runs " /sms:" and the response file (or "silent") after it.
std::string SetupCommandLine(const std::string& setup_program, bool silent,
                             const std::string& response_file);

// TEMP, else TMP, else "" (the hand-off files then lie in the root of the
// current drive).
std::string HandOffFolder(Environment& environment);

// Returns once the file at path has been deleted here or no longer exists,
// trying again every five seconds (process_messages, when not empty, runs
// between attempts). A program that is still running cannot be deleted, so
// this waits for the program as well.
void WaitForDeletion(Platform& platform, const std::string& path,
                     const std::function<void()>& process_messages);

// The whole phase for the extracted archive of context (its setup and wait
// program from the archive's setup information, its member list), run with
// folder as the working folder.
void RunSetupPhaseSteps(HandoverContext& context, const TempFolder& folder);

}  // namespace crx::stub

#endif  // CRX_STUB_SETUP_PHASE_H
