// Processes that start nothing: Start records the command line and hands
// back a process that has already ended with exit_code (or fails with
// fail_with); everything else goes to the real processes. For tests of
// programs that start other programs.
#ifndef CRX_TESTS_SUPPORT_FAKE_PROCESSES_H
#define CRX_TESTS_SUPPORT_FAKE_PROCESSES_H

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace crx::test {

class RecordingProcesses : public Processes {
 public:
  explicit RecordingProcesses(Processes& real) : real_(real) {}

  std::vector<std::string> started;  // the command lines, in order
  uint32_t fail_with = 0;            // non-zero: Start fails with this error
  uint32_t exit_code = 0;
  int waits = 0;                     // Wait calls on the processes handed out

  std::unique_ptr<Process> Start(const std::string& line, const StartOptions&) override {
    started.push_back(line);
    if (fail_with != 0) {
      SetLastError(fail_with);
      return nullptr;
    }
    return std::make_unique<Ended>(*this);
  }
  bool RunShellCommand(const std::string& c, const std::string& f, uint32_t* code) override {
    return real_.RunShellCommand(c, f, code);
  }
  uint32_t CurrentProcessId() override { return real_.CurrentProcessId(); }
  std::string ProgramPath() override { return real_.ProgramPath(); }
  std::string CommandLineTail() override { return real_.CommandLineTail(); }

 private:
  class Ended : public Process {
   public:
    explicit Ended(RecordingProcesses& owner) : owner_(owner) {}
    uint32_t Id() const override { return 1; }
    WaitResult Wait(uint32_t) override {
      ++owner_.waits;
      return WaitResult::kDone;
    }
    bool ExitCode(uint32_t* code) override {
      *code = owner_.exit_code;
      return true;
    }
    bool Terminate(uint32_t) override { return false; }

   private:
    RecordingProcesses& owner_;
  };

  Processes& real_;
};

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_FAKE_PROCESSES_H
