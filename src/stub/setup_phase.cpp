#include "stub/setup_phase.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/archive_engine.h"
#include "engine/extract_policy.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "platform/platform.h"
#include "stub/handover.h"
#include "stub/stub_messages.h"
#include "stub/temp_folder.h"
#include "ui/silent_mode.h"

namespace crx::stub {

namespace {

// The longest program path written into the hand-off file.
constexpr size_t kProgramPathLength = 256;

// Makes a hand-off file afresh in the hand-off folder, which other users
// may write to as well: a link planted there is removed or refused (with a
// log line), never written through.
std::unique_ptr<File> CreateHandOffFile(Platform& platform, StubLog& log,
                                        const std::string& path) {
  bool refused = false;
  std::unique_ptr<File> file = OpenLogFile(platform, path, false, &refused);
  if (refused) {
    log.Write(Format("(hand-off file '%s' refused: a link or a file that cannot be replaced "
                     "is in the way)\n",
                     path.c_str()));
  }
  return file;
}

// Writes the full path of the running self-extracting program, for the
// finalize program the interpreter may start at the end.
void WriteFinalizeData(Platform& platform, StubLog& log, const std::string& handoff) {
  std::unique_ptr<File> file =
      CreateHandOffFile(platform, log, Format("%s\\%s", handoff.c_str(), kFinalizeData));
  if (!file) return;
  std::string line = platform.processes.ProgramPath();
  if (line.size() > kProgramPathLength) line.resize(kProgramPathLength);
  line += "\n";
  file->Write(line.data(), line.size());
}

// Copies the archive's finalize program (a member in the working folder)
// into the hand-off folder. Most archives have none: then nothing happens.
void HandOffFinalizeProgram(Platform& platform, StubLog& log, const std::string& handoff) {
  std::unique_ptr<File> from = platform.files.Open(kFinalizeProgram, kAccessRead, kShareRead,
                                                   Disposition::kOpenExisting, kOpenNoFollow);
  if (!from) return;
  const std::string path = Format("%s\\%s", handoff.c_str(), kFinalizeProgram);
  std::unique_ptr<File> to = CreateHandOffFile(platform, log, path);
  if (!to) return;
  std::string buffer(64 * 1024, '\0');
  size_t got = 0;
  bool copied = true;
  while (copied && from->Read(buffer.data(), buffer.size(), &got) && got != 0) {
    copied = to->Write(buffer.data(), got);
  }
  FileTime modified = 0;
  if (copied && from->GetLastWriteTime(&modified)) to->SetLastWriteTime(modified);
  to.reset();
  // A half-written program must not be started later.
  if (!copied) platform.files.DeleteFile(path);
}

bool StartsWithNoCase(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() &&
         winpath::EqualsNoCase(path.substr(0, folder.size()), folder) &&
         (folder.back() == '\\' || path[folder.size()] == '\\');
}

// The full path of path (relative to the working folder), with back-slashes.
std::string Resolved(FileSystem& files, const std::string& path) {
  return winpath::StripTrailingSeparator(winpath::ToBackslashes(files.FullPath(path)));
}

// Adds the folders between path (inside folder) and folder itself,
// innermost first, to the list of folders the extraction made, each once
// (Windows names compare without regard to case). Climbing stops at a
// folder already listed: its parents were listed with it.
void AddFoldersBetween(const std::string& path, const std::string& folder,
                       std::vector<std::string>* folders) {
  std::string parent = winpath::StripTrailingSeparator(winpath::Parent(path));
  while (StartsWithNoCase(parent, folder)) {
    for (const std::string& known : *folders) {
      if (winpath::EqualsNoCase(known, parent)) return;
    }
    folders->push_back(parent);
    parent = winpath::StripTrailingSeparator(winpath::Parent(parent));
  }
}

size_t Depth(const std::string& path) {
  return static_cast<size_t>(std::count(path.begin(), path.end(), '\\'));
}

// Deletes the files the extraction wrote into the temporary folder, by the
// paths it wrote them to, then the sub-folders it made on the way, deepest
// first, once they are empty. A member that was not extracted, or whose
// path is not inside the folder, is left alone.
void RemoveExtracted(HandoverContext& context, const std::string& folder) {
  FileSystem& files = context.platform.files;
  StubLog& log = context.log;
  ExtractPolicy& policy = context.engine.policy();
  std::vector<std::string> folders;
  int number = 0;
  for (const MemberEntry& member : context.engine.members()) {
    log.Write(Format("(%d) remove file '%s'\n", number++, member.name.c_str()));
    std::string path;
    if (member.status != kMemberExtracted || !policy.OutputPath(member.name, false, &path) ||
        !StartsWithNoCase(Resolved(files, path), folder)) {
      log.Write("(not extracted into the temporary folder: left alone)\n");
      continue;
    }
    path = Resolved(files, path);
    AddFoldersBetween(path, folder, &folders);
    if (!files.DeleteFile(path)) {
      log.Write(Format("remove file error 0x%x\n", LastError()));
      log.Flush();
    }
  }
  files.DeleteFile(kResultFile);
  // Deepest first: a folder is empty only once the folders in it are gone.
  std::vector<size_t> depths;
  size_t deepest = 0;
  for (const std::string& sub_folder : folders) {
    depths.push_back(Depth(sub_folder));
    deepest = std::max(deepest, depths.back());
  }
  for (size_t depth = deepest; depth > 0; --depth) {
    for (size_t i = 0; i < folders.size(); ++i) {
      const std::string& sub_folder = folders[i];
      if (depths[i] != depth || files.RemoveFolder(sub_folder)) continue;
      // Something else was put there (by the setup program): it stays.
      log.Write(Format("remove directory '%s'\n", sub_folder.c_str()));
      log.Write(Format("remove directory error 0x%x\n", LastError()));
    }
  }
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
        SetupCommandLine(program, context.silent_mode.silent(),
                         context.silent_mode.response_file());
    // The two stubs write this line in different case; the variant holds
    // the format, which always takes the program text and the line.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    log.Write(Format(context.variant.run_program_line, program.c_str(), command_line.c_str()));
#pragma GCC diagnostic pop
    std::unique_ptr<Process> process = platform.processes.Start(command_line, StartOptions{});
    if (process) {
      const std::string handoff = HandOffFolder(platform.environment);
      WriteFinalizeData(platform, log, handoff);
      HandOffFinalizeProgram(platform, log, handoff);
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

  // Only the folder the archive was extracted to is cleaned up.
  const std::string inside =
      Resolved(files, folder.output.empty() ? files.CurrentFolder() : folder.output);
  if (wait != program) {
    log.Write(Format("wait for {%s:%s}\n", wait.c_str(), program.c_str()));
    log.Flush();
    // Waiting means deleting the program once it has ended: never a file
    // outside the temporary folder.
    if (!StartsWithNoCase(Resolved(files, wait), inside)) {
      log.Write(Format("(will not delete '%s': it is not in the temporary folder; will leave "
                       "folder '%s')\n",
                       wait.c_str(), folder.folder.c_str()));
      log.Flush();
      return;
    }
    WaitForDeletion(platform, wait, context.process_messages);
  }
  if (files.Exists(kRestartMarker)) return;

  log.Write("CLEANUP PHASE\n");
  log.Flush();
  RemoveExtracted(context, inside);
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
