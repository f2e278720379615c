// The message service: how a program built on the front-ends tells the
// user something and asks simple questions. Interactive runs show a
// message box. Silent runs never wait for a person: the message goes to
// the program's log (the entry's format is the program's own) and gets a
// fixed answer: Yes for a box whose flags have the MB_YESNO bit (so
// MB_RETRYCANCEL, which shares it, is answered Yes too), OK otherwise.
// Messages given while no log is open are kept, as they would have been
// logged, for a log opened later (unlogged()).
//
// The stubs and the interpreter each make one per run, with their log,
// their caption and their silent texts; the silent state is read at every
// message, so switching it (sms_on, sms_off) takes effect at once.
#ifndef CRX_UI_MESSAGE_SERVICE_H
#define CRX_UI_MESSAGE_SERVICE_H

#include <cstdint>
#include <string>
#include <utility>

namespace crx::ui {

class FrontEnd;
class SilentMode;

// Where a program's silent messages are written.
class MessageLog {
 public:
  virtual ~MessageLog() = default;
  virtual bool IsOpen() const = 0;
  // Writes text exactly as given.
  virtual void Write(const std::string& text) = 0;
  virtual void Flush() = 0;
};

// What a silent run writes for a message: "\n" + heading + " (flags=0x%x)\n"
// + the text + "\n"; then yes_answer or ok_answer, when not null, for the
// answer given.
struct SilentMessageTexts {
  const char* heading = "MESSAGE";
  const char* yes_answer = nullptr;
  const char* ok_answer = nullptr;
};

class MessageService {
 public:
  MessageService(FrontEnd& front_end, MessageLog& log, const SilentMode& mode,
                 std::string caption, SilentMessageTexts texts = SilentMessageTexts())
      : front_end_(front_end), log_(log), mode_(mode), caption_(std::move(caption)),
        texts_(texts) {}

  bool silent() const;
  const std::string& caption() const { return caption_; }

  // Interactive: a message box with text, the caption and the MB_* flags;
  // returns the button pressed. Silent: the entry (and answer line) into
  // the log when one is open (flushed), else kept; returns IDYES or IDOK.
  int Message(const std::string& text, uint32_t flags);

  // The silent entries written while no log was open, in order.
  const std::string& unlogged() const { return unlogged_; }
  void ClearUnlogged() { unlogged_.clear(); }

 private:
  FrontEnd& front_end_;
  MessageLog& log_;
  const SilentMode& mode_;
  std::string caption_;
  SilentMessageTexts texts_;
  std::string unlogged_;
};

}  // namespace crx::ui

#endif  // CRX_UI_MESSAGE_SERVICE_H
