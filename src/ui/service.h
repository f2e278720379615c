// The user-interface service a program builds at start-up: it picks the
// front-end (an answers file, Win32 dialogs or the terminal), optionally
// records the answers, and implements the engine's UserInterface on it.
#ifndef CRX_UI_SERVICE_H
#define CRX_UI_SERVICE_H

#include <memory>
#include <string>
#include <utility>

#include "engine/user_interface.h"
#include "ui/answers/answers.h"
#include "ui/front_end.h"

namespace crx::ui {

class UserInterfaceService : public UserInterface {
 public:
  explicit UserInterfaceService(std::unique_ptr<FrontEnd> front_end)
      : front_end_(std::move(front_end)) {}

  int MessageBox(const std::string& text, const std::string& caption,
                 uint32_t flags) override;
  int ReplaceExistingFile(const std::string& path) override;
  int SetupInformation(SetupInfo* info) override;
  int AskForDisk(bool reading, int disk_number) override;
  // Shows any dialog model; returns the identifier it closed with. Every
  // dialog the engine does not ask for goes this way (or through the typed
  // helper next to its model, given front_end()).
  int Show(Dialog& dialog) { return front_end_->Show(dialog); }

  FrontEnd& front_end() { return *front_end_; }

 private:
  std::unique_ptr<FrontEnd> front_end_;
};

// The user interface of the command-line programs. A message box with only
// an OK button is a notice, written to the terminal: one with the
// information icon to the output stream, every other one to the error
// stream as "prefix: text", counted as an error. Questions and dialogs go
// to the service's front-end (front_end()).
class TerminalNotices : public UserInterface {
 public:
  TerminalNotices(Terminal& terminal, UserInterfaceService& service, std::string prefix)
      : terminal_(terminal), service_(service), prefix_(std::move(prefix)) {}

  int MessageBox(const std::string& text, const std::string& caption,
                 uint32_t flags) override;
  int ReplaceExistingFile(const std::string& path) override {
    return service_.ReplaceExistingFile(path);
  }
  int SetupInformation(SetupInfo* info) override { return service_.SetupInformation(info); }
  int AskForDisk(bool reading, int disk_number) override {
    return service_.AskForDisk(reading, disk_number);
  }

  FrontEnd& front_end() { return service_.front_end(); }

  // The notices written to the error stream so far.
  int errors() const { return errors_; }

 private:
  Terminal& terminal_;
  UserInterfaceService& service_;
  std::string prefix_;
  int errors_ = 0;
};

struct UserInterfaceOptions {
  // Paths tried when the value of CRX_ANSWERS / CRX_RECORD cannot be opened
  // as given: an entry point that translates host paths passes the
  // translation here.
  std::string answers_alternative;
  std::string record_alternative;
  // Ask on the terminal even where the system has dialogs of its own (the
  // command-line tools).
  bool terminal_only = false;
  // How the answers front-end ends the program; empty = write the message
  // to the terminal's error stream and exit with the given code.
  EndProgram end;
};

// Picks the front-end: the answers file named by CRX_ANSWERS when set, else
// the system's own (Win32 dialogs on Windows, the terminal elsewhere); with
// CRX_RECORD set, the answers given are appended to that file. Null with
// *error when a named file cannot be read or opened, or the answers file
// has a line that is not an answer.
std::unique_ptr<UserInterfaceService> StartUserInterface(
    Platform& platform, const UserInterfaceOptions& options, std::string* error);

}  // namespace crx::ui

#endif  // CRX_UI_SERVICE_H
