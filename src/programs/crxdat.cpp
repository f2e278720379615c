// CRXdat and CRXdat_min: the self-extractor stubs. One entry point built
// twice; CRX_MINIMAL_STUB selects the minimal stub. The builder copies the
// padded program in front of every self-extracting archive it writes, and
// the stub reads the archive that follows its own bytes (src/stub/).
//
// The entry point builds the platform and the user interface: on Windows
// real dialogs and the feedback window (on its own thread in the full stub,
// modeless on the only thread in the minimal one), on Linux the terminal;
// with CRX_ANSWERS set, answers from that file and a feedback window that
// only records, for unattended runs and tests; with CRX_RECORD set, the
// answers given are appended to that file.
#include <cstdio>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "stub/stub.h"
#include "stub/stub_interface.h"
#include "stub/stub_variant.h"
#include "ui/browser.h"
#include "ui/feedback.h"
#include "ui/feedback_hooks.h"

#ifdef _WIN32
#include <windows.h>

#include "ui/win32/browser_win32.h"
#include "ui/win32/feedback_win32.h"
#else
#include "platform/posix/host_paths.h"
#include "ui/answers/disk_insert.h"
#include "ui/console/browser_console.h"
#endif

namespace crx {
namespace {

#ifdef CRX_MINIMAL_STUB
const stub::StubVariant& Variant() { return stub::MinimalStub(); }
#else
const stub::StubVariant& Variant() { return stub::FullStub(); }
#endif

#ifdef _WIN32
// The full stub's window runs on a thread of its own; the minimal stub's is
// a modeless window of its only thread. Chosen at compile time, so each
// stub links only its own kind.
std::unique_ptr<ui::Feedback> NativeFeedback(Platform& platform) {
#ifdef CRX_MINIMAL_STUB
  return std::make_unique<ui::Win32ModelessFeedback>(platform);
#else
  return ui::MakeWin32Feedback(platform);
#endif
}

// Dispatches the window messages waiting on this thread, so the minimal
// stub's modeless feedback window paints and animates between steps.
// Unattended runs record the feedback window's requests; others show the
// window. (MakeFeedback's terminal progress line has no place in a window
// program.)
std::unique_ptr<ui::Feedback> MakeFeedback(Platform& platform, bool unattended) {
  if (unattended) return std::make_unique<ui::RecordingFeedback>(platform.clock);
  return NativeFeedback(platform);
}

void ProcessMessages() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

void ReportStartFailure(const std::string& text) {
  ::MessageBoxA(nullptr, text.c_str(), "Cratex", MB_OK | MB_ICONERROR);
}
#else
std::unique_ptr<ui::Feedback> MakeFeedback(Platform& platform, bool unattended) {
  return ui::MakeFeedback(platform, unattended);
}

// On the emulated machine an answer may change the disk in the drive
// (Insert=N) before it is given, for archives that span disks.
std::unique_ptr<ui::FrontEnd> WithDiskChanges(std::unique_ptr<ui::AnswersFrontEnd> answers,
                                              Platform& platform) {
  return std::make_unique<ui::DiskInsertingFrontEnd>(std::move(answers), platform);
}

void ProcessMessages() {}

void ReportStartFailure(const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", Variant().program, text.c_str());
}

// A path of the host, named by an environment variable, as a path of the
// emulated machine.
std::string MachinePathOf(Platform& platform, const char* variable) {
  std::string value;
  if (!platform.environment.Get(variable, &value) || value.empty()) return std::string();
  return HostToWindowsPath(value);
}
#endif

int Main() {
  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  if (!host) {
    ReportStartFailure(error);
    return stub::kStubFailed;
  }
  Platform& platform = host->Get();

  std::string answers_alternative;
  std::string record_alternative;
#ifndef _WIN32
  answers_alternative = MachinePathOf(platform, "CRX_ANSWERS");
  record_alternative = MachinePathOf(platform, "CRX_RECORD");
#endif
#ifdef _WIN32
  // Windows has no disks a program changes, and its stubs no room for it.
  const stub::AnswersWrapper wrap_answers = nullptr;
#else
  const stub::AnswersWrapper wrap_answers = WithDiskChanges;
#endif
  std::unique_ptr<stub::StubInterface> service = stub::StartStubInterface(
      platform, answers_alternative, record_alternative, &error, wrap_answers);
  if (!service) {
    ReportStartFailure(error);
    return stub::kStubFailed;
  }

  const bool unattended = stub::UnattendedRun(platform);
  stub::StubHost stub_host{platform, *service, service->front_end(),
                           [&platform, unattended]() { return MakeFeedback(platform, unattended); },
                           ProcessMessages};
  // Listing an archive that spans disks shows a window of its own.
  ui::OwnFeedbackWindow list_window(stub_host.make_feedback);
  stub_host.own_feedback = &list_window;
#ifdef _WIN32
#ifdef CRX_MINIMAL_STUB
  // The list box form has no "open with the associated application".
  stub_host.browser = ui::RunWin32ListBoxBrowser;
#else
  stub_host.browser = ui::RunWin32Browser;
  stub_host.send_dde = ui::SendDdeExecute;
#endif
  stub_host.locale = ::GetUserDefaultLCID();
#else
  stub_host.browser = ui::RunConsoleBrowser;
#endif
  return stub::RunStub(Variant(), stub_host, platform.processes.CommandLineTail());
}

}  // namespace
}  // namespace crx

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return crx::Main(); }
#else
int main() { return crx::Main(); }
#endif
