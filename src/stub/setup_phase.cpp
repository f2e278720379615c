#include "stub/setup_phase.h"

#include <memory>

#include "common/format.h"
#include "engine/archive_engine.h"
#include "engine/user_interface.h"
#include "platform/platform.h"
#include "stub/handover.h"
#include "stub/stub_messages.h"
#include "stub/temp_folder.h"

namespace crx::stub {

namespace {

// The longest program path written into the hand-off file.
constexpr size_t kProgramPathLength = 256;

// Writes the full path of the running self-extracting program, for the
// finalize program the interpreter may start at the end.
void WriteFinalizeData(Platform& platform, const std::string& handoff) {
  std::unique_ptr<File> file = platform.files.Open(
      Format("%s\\%s", handoff.c_str(), kFinalizeData), kAccessWrite, kShareRead,
      Disposition::kCreateAlways);
  if (!file) return;
  std::string line = platform.processes.ProgramPath();
  if (line.size() > kProgramPathLength) line.resize(kProgramPathLength);
  line += "\n";
  file->Write(line.data(), line.size());
}

}  // namespace

std::string SetupCommandLine(const std::string& setup_program, bool silent,
                             const std::string& response_file) {
  std::string line;
  if ((!setup_program.empty() && (setup_program[0] == '\\' || setup_program[0] == '.')) ||
      (setup_program.size() > 1 && setup_program[1] == ':')) {
    line = setup_program;
  } else {
    line = ".\\" + setup_program;
  }
  if (silent) line += " /sms:" + (response_file.empty() ? std::string("silent") : response_file);
  return line;
}

std::string HandOffFolder(Environment& environment) {
  std::string folder;
  if (environment.Get("TEMP", &folder)) return folder;
  if (environment.Get("TMP", &folder)) return folder;
  return std::string();
}

void WaitForDeletion(Platform& platform, const std::string& path,
                     const std::function<void()>& process_messages) {
  for (;;) {
    if (platform.files.DeleteFile(path)) return;
    if (!platform.files.Exists(path)) return;
    if (process_messages) process_messages();
    platform.clock.Sleep(kDeletionRetryMilliseconds);
  }
}

void RunSetupPhaseSteps(HandoverContext& context, const TempFolder& folder) {
  Platform& platform = context.platform;
  FileSystem& files = platform.files;
  StubLog& log = context.log;
  const SetupInfo& setup = context.engine.setup_info();
  const std::string& program = setup.setup_program;
  const std::string& wait = setup.wait_program;

  if (!program.empty()) {
    const std::string command_line =
        SetupCommandLine(program, context.silent, context.response_file);
    // The two stubs write this line in different case; the variant holds
    // the format, which always takes the program text and the line.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    log.Write(Format(context.variant.run_program_line, program.c_str(), command_line.c_str()));
#pragma GCC diagnostic pop
    std::unique_ptr<Process> process = platform.processes.Start(command_line, StartOptions{});
    if (process) {
      const std::string handoff = HandOffFolder(platform.environment);
      WriteFinalizeData(platform, handoff);
      // Most archives have no finalize program: the failed copy is normal.
      files.CopyFile(kFinalizeProgram, Format("%s\\%s", handoff.c_str(), kFinalizeProgram),
                     false);
      if (!wait.empty()) {
        log.Write("(waiting for program to compltete)\n");
        log.Flush();
        process->Wait(kInfinite);
        log.Write("(program is compltete)\n");
        log.Flush();
      } else {
        log.Write("(not waiting for program to compltete)\n");
      }
    } else {
      const uint32_t error = LastError();
      context.messages.StubMessage(
          Format("ERROR: can't run setup program\nerror creating process %d[0x%x]\n%s",
                 static_cast<int>(error), error, program.c_str()),
          kMbOk);
      log.Write(Format("run prog error 0x%x\n", error));
    }
  }

  const bool wait_found = !wait.empty() && files.IsFile(wait);
  if (!wait_found) {
    log.Write(Format("(info: cannot locate exe to wait for '%s')\n", wait.c_str()));
    log.Write(Format("(cannot perform cleanup phase, will leave folder '%s')",
                     folder.folder.c_str()));
  }
  log.Write("FINAL SETUP PHASE...\n");
  log.Flush();
  if (!wait_found) return;

  if (wait != program) {
    log.Write(Format("wait for {%s:%s}\n", wait.c_str(), program.c_str()));
    log.Flush();
    WaitForDeletion(platform, wait, context.process_messages);
  }
  if (files.Exists(kRestartMarker)) return;

  log.Write("CLEANUP PHASE\n");
  log.Flush();
  int number = 0;
  for (const MemberEntry& member : context.engine.members()) {
    log.Write(Format("(%d) remove file '%s'\n", number++, member.name.c_str()));
    if (!files.DeleteFile(member.name)) {
      log.Write(Format("remove file error 0x%x\n", LastError()));
      log.Flush();
    }
  }
  files.DeleteFile(kResultFile);
  if (files.SetCurrentFolder(folder.saved_folder)) {
    log.Write(Format("change directory to '%s'\n", folder.saved_folder.c_str()));
  } else {
    const uint32_t error = LastError();
    log.Write(Format("can't change directory to '%s' 0x%x[%d]\n", folder.saved_folder.c_str(),
                     error, static_cast<int>(error)));
  }
  log.Write(Format("remove directory '%s'\n", folder.folder.c_str()));
  log.Flush();
  if (!files.RemoveFolder(folder.folder)) {
    log.Write(Format("remove directory error 0x%x\n", LastError()));
  }
}

}  // namespace crx::stub
