#include "launcher/launcher.h"

#include <memory>

#include "common/format.h"
#include "engine/user_interface.h"
#include "platform/platform.h"

namespace crx::launcher {

namespace {

constexpr const char* kCaption = "Setup";

// The current folder as a program with a buffer of the given size reads
// it: longer paths are cut.
std::string CurrentFolder(FileSystem& files, size_t limit) {
  std::string folder = files.CurrentFolder();
  if (folder.size() > limit) folder.resize(limit);
  return folder;
}

}  // namespace

std::string InterpreterCommandLine(const std::string& arguments) {
  return std::string(kInterpreterProgram) + " " + arguments;
}

int RunSetupLauncher(Platform& platform, UserInterface& ui, const std::string& arguments) {
  if (!platform.files.Exists(kInterpreterProgram)) {
    ui.MessageBox(Format("Setup Error...\n\nCan't find program <%s>\n(current directory: <%s>)"
                         "\n\nTHE Cratex ARCHIVE DOES NOT CONTAIN\nALL THE REQUIRED "
                         "INSTALLATION FILES",
                         kInterpreterProgram, CurrentFolder(platform.files, 256).c_str()),
                  kCaption, kMbOk);
    return kLauncherFailed;
  }

  const std::string command_line = InterpreterCommandLine(arguments);
  std::unique_ptr<Process> interpreter = platform.processes.Start(command_line, StartOptions{});
  if (!interpreter) {
    const uint32_t error = LastError();
    ui.MessageBox(Format("CAN'T START INSTALL SCRIPT...\ncmd=<%s>...\nerror %d [0x%x]\npwd=<%s>",
                         command_line.c_str(), static_cast<int>(error), error,
                         CurrentFolder(platform.files, 127).c_str()),
                  kCaption, kMbOk);
    return kLauncherFailed;
  }

  interpreter->Wait(kInfinite);
  platform.clock.Sleep(1000);
  uint32_t code = 0;
  if (!interpreter->ExitCode(&code)) return kLauncherFailed;
  return static_cast<int>(code);
}

}  // namespace crx::launcher
