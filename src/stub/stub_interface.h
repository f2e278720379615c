// The user interface of a stub: the engine's calls a stub answers (message
// boxes and the replace question of the extraction; other dialogs, the
// unlock dialog and the setup confirmation, are shown on front_end()), on
// the system's own front-end or, with CRX_ANSWERS set, on answers read
// from that file. It leaves out what the other programs' service carries
// (the terminal-only mode, the builder's dialogs), which a stub never uses
// and cannot afford to link. Like every program it records the answers
// given when CRX_RECORD is set.
#ifndef CRX_STUB_STUB_INTERFACE_H
#define CRX_STUB_STUB_INTERFACE_H

#include <memory>
#include <string>

#include "engine/user_interface.h"
#include "ui/front_end.h"

namespace crx {
struct Platform;
}

namespace crx::ui {
class AnswersFrontEnd;
}

namespace crx::stub {

class StubInterface : public UserInterface {
 public:
  explicit StubInterface(std::unique_ptr<ui::FrontEnd> front_end)
      : front_end_(std::move(front_end)) {}

  int MessageBox(const std::string& text, const std::string& caption,
                 uint32_t flags) override;
  int ReplaceExistingFile(const std::string& path) override;

  ui::FrontEnd& front_end() { return *front_end_; }

 private:
  std::unique_ptr<ui::FrontEnd> front_end_;
};

// The answers file named by CRX_ANSWERS when it is set, else the system's
// own front-end; with CRX_RECORD set, every answer is appended to the file
// it names. The alternatives are second paths to try when the first cannot
// be opened, such as their translation from a host path. Null with *error
// when the answers file cannot be read or has a line that is not an
// answer, or the record file cannot be opened; an answers file that runs
// out ends the program with a message.
//
// wrap_answers, when given, wraps the answers front-end (on the emulated
// machine: the disk changes that answers may ask for, Insert=N).
using AnswersWrapper = std::unique_ptr<ui::FrontEnd> (*)(std::unique_ptr<ui::AnswersFrontEnd>,
                                                         Platform&);
std::unique_ptr<StubInterface> StartStubInterface(Platform& platform,
                                                  const std::string& answers_alternative,
                                                  const std::string& record_alternative,
                                                  std::string* error,
                                                  AnswersWrapper wrap_answers = nullptr);

// True when the run is unattended (CRX_ANSWERS is set).
bool UnattendedRun(Platform& platform);

}  // namespace crx::stub

#endif  // CRX_STUB_STUB_INTERFACE_H
