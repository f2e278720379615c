// How a stub tells the user something, and its own log.
//
// The stub's messages go through the shared message service
// (ui/message_service.h): interactive runs show message boxes; silent runs
// never wait for a person, their messages go to the stub's log when one is
// open and are otherwise kept for StubFatal. The stub's log is the
// engine's activity log once the extraction has succeeded, or the log that
// StubFatal opens for itself.
#ifndef CRX_STUB_STUB_MESSAGES_H
#define CRX_STUB_STUB_MESSAGES_H

#include <cstdint>
#include <memory>
#include <string>

#include "ui/message_service.h"

namespace crx {
struct Platform;
class EngineLog;
class File;
}  // namespace crx

namespace crx::ui {
class FrontEnd;
class SilentMode;
}  // namespace crx::ui

namespace crx::stub {

// The caption of the stub's message boxes.
inline constexpr const char* kStubCaption = "Cratex";

// Where the stub's own lines go: nowhere, the engine's activity log (while
// that is open), or a file of the stub's own.
class StubLog : public ui::MessageLog {
 public:
  explicit StubLog(Platform& platform);
  ~StubLog() override;
  StubLog(const StubLog&) = delete;
  StubLog& operator=(const StubLog&) = delete;

  // From now on the stub writes to the engine's activity log (not owned).
  void UseEngineLog(EngineLog* log);
  // Makes path afresh as the stub's log (a link there is removed or
  // refused, never written through; a refusal is noted in the error log);
  // false when it cannot be made (the stub then has no log).
  bool OpenOwn(const std::string& path);
  void Close();

  bool IsOpen() const override;
  // Writes text exactly as given; nothing when no log is open.
  void Write(const std::string& text) override;
  void Flush() override;

 private:
  Platform& platform_;
  EngineLog* engine_log_ = nullptr;
  std::unique_ptr<File> own_;
};

class StubMessages {
 public:
  // mode: the run's silent state (not owned).
  StubMessages(ui::FrontEnd& front_end, StubLog& log, const ui::SilentMode& mode)
      : log_(log), service_(front_end, log, mode, kStubCaption) {}

  bool silent() const { return service_.silent(); }

  // Interactive: a message box with text and the MB_* flags; returns the
  // button pressed. Silent: "\nMESSAGE (flags=0x%x)\n%s\n" into the log
  // when one is open (flushed), and IDYES for MB_YESNO, else IDOK.
  int StubMessage(const std::string& text, uint32_t flags) {
    return service_.Message(text, flags);
  }

  // Silent runs only, for the failures that end them: makes "Cratex.log"
  // in the log folder (TEMP, else TMP, else "C:/TEMP") the stub's log,
  // emptied, whatever the logging setting; records there the silent
  // messages that found no log open before, then text as a message with
  // flags 0, and closes the log. When that log cannot be made, text goes
  // to the daily error log. The caller then ends the stub.
  void StubFatal(Platform& platform, const std::string& text);

 private:
  StubLog& log_;
  ui::MessageService service_;
};

}  // namespace crx::stub

#endif  // CRX_STUB_STUB_MESSAGES_H
