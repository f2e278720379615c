// The host platform of a Windows program: the Win32 implementations of
// every interface, created together and handed out as one Platform.
#include "platform/win32/win32_platform.h"

namespace crx {

uint32_t LastError() { return ::GetLastError(); }

void SetLastError(uint32_t code) { ::SetLastError(code); }

namespace {

class Win32HostPlatform final : public HostPlatform {
 public:
  Win32HostPlatform()
      : files_(win32::NewFileSystem()),
        registry_(win32::NewRegistry()),
        processes_(win32::NewProcesses()),
        environment_(win32::NewEnvironment()),
        clock_(win32::NewClock()),
        terminal_(win32::NewTerminal()),
        shell_(win32::NewShell()),
        platform_{*files_, *registry_, *processes_, *environment_,
                  *clock_, *terminal_, *shell_} {}

  Platform& Get() override { return platform_; }

 private:
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<Processes> processes_;
  std::unique_ptr<Environment> environment_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<Terminal> terminal_;
  std::unique_ptr<Shell> shell_;
  Platform platform_;
};

}  // namespace

std::unique_ptr<HostPlatform> OpenHostPlatform(std::string* error) {
  // The Win32 API is always there; nothing can fail to open.
  if (error) error->clear();
  return std::make_unique<Win32HostPlatform>();
}

}  // namespace crx
