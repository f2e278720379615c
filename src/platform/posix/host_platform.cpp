// OpenHostPlatform on Linux: the emulated machine named by CRX_MACHINE.
#include <mutex>

#include "common/format.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/machine_library.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/sqlite_registry.h"

namespace crx {

namespace {

thread_local uint32_t t_last_error = 0;

class PosixHostPlatform;

// The machine of the platform opened last, for the path translations of
// host_paths.h.
std::mutex g_open_mutex;
Machine* g_open_machine = nullptr;

class PosixHostPlatform : public HostPlatform {
 public:
  PosixHostPlatform(std::unique_ptr<Machine> machine, std::unique_ptr<Registry> registry)
      : machine_(std::move(machine)),
        registry_(std::move(registry)),
        files_(NewPosixFileSystem(*machine_)),
        environment_(NewPosixEnvironment(*machine_)),
        processes_(NewPosixProcesses(*machine_, *files_, *environment_)),
        clock_(NewPosixClock()),
        terminal_(NewPosixTerminal()),
        shell_(NewPosixShell(*machine_, *registry_, *files_, *environment_)),
        platform_{*files_, *registry_, *processes_, *environment_, *clock_, *terminal_, *shell_,
                  dynamic_cast<DiskChanger*>(files_.get())} {
    std::lock_guard<std::mutex> lock(g_open_mutex);
    previous_ = g_open_machine;
    g_open_machine = machine_.get();
  }

  ~PosixHostPlatform() override {
    std::lock_guard<std::mutex> lock(g_open_mutex);
    if (g_open_machine == machine_.get()) g_open_machine = previous_;
  }

  Platform& Get() override { return platform_; }
  Machine& GetMachine() { return *machine_; }

 private:
  std::unique_ptr<Machine> machine_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<Environment> environment_;
  std::unique_ptr<Processes> processes_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<Terminal> terminal_;
  std::unique_ptr<Shell> shell_;
  Platform platform_;
  Machine* previous_ = nullptr;
};

}  // namespace

uint32_t LastError() { return t_last_error; }

void SetLastError(uint32_t code) { t_last_error = code; }

std::unique_ptr<HostPlatform> OpenHostPlatform(std::string* error) {
  LockOwnImage();
  std::string message;
  std::unique_ptr<Machine> machine = Machine::Open(Machine::DefaultFolder(), &message);
  if (!machine) {
    *error = "cannot open the emulated machine: " + message;
    return nullptr;
  }
  std::unique_ptr<Registry> registry =
      OpenSqliteRegistry(machine->Folder() + "/registry.db", &message);
  if (!registry) {
    *error = Format("cannot open the registry of the machine %s: %s", machine->Folder().c_str(),
                    message.c_str());
    return nullptr;
  }
  Machine& m = *machine;
  auto host = std::make_unique<PosixHostPlatform>(std::move(machine), std::move(registry));
  if (m.IsNew()) {
    // The settings file is written last: a machine whose creation stopped
    // half-way is completed by the next program that opens it.
    if (!WriteDefaultRegistry(host->Get().registry, host->Get().files, m.Settings(), &message) ||
        !m.SaveSettings(&message)) {
      *error = Format("cannot create the machine %s: %s", m.Folder().c_str(), message.c_str());
      return nullptr;
    }
  }
#ifdef CRX_MACHINE_LIBRARY
  // The tools keep the machine library of their build in the machine, for
  // the self-extractor stubs run on it. A machine that cannot take it still
  // serves the tools; a stub then says what is missing.
  InstallMachineLibrary(m.Folder(), CRX_MACHINE_LIBRARY, &message);
#endif
  m.ApplyEnvironment();
  return host;
}

std::string HostToWindowsPath(const std::string& host_path) {
  std::lock_guard<std::mutex> lock(g_open_mutex);
  return g_open_machine ? g_open_machine->HostToWindows(host_path) : "";
}

std::string WindowsToHostPath(const std::string& windows_path) {
  std::lock_guard<std::mutex> lock(g_open_mutex);
  if (!g_open_machine) return "";
  ResolvedPath p;
  uint32_t error = 0;
  if (!g_open_machine->Resolve(windows_path, &p, &error)) return "";
  return p.host;
}

}  // namespace crx
