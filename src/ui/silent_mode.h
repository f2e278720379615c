// Silent (unattended) runs: the "/sms:" option a stub, the launcher and the
// interpreter take on their command lines, the run-wide silent state it
// sets, and lookups in the response file it may name.
//
// The option is recognised only at the very start of the text given, and
// exactly so ("/SMS:" is not it). The word after it, up to the first blank
// or the end, is "silent" (no response file) or the response file's path;
// "/sms:" alone names a response file with an empty path.
//
// The response file is a private-profile (INI) file. Each program reads its
// own section ([Cratex] for the stubs, [Kestrova] for the interpreter) with
// its own buffer size; a text value that is exactly "-" and a number that
// is exactly -1 count as absent. The file is read afresh on every lookup,
// as the system's profile calls do.
#ifndef CRX_UI_SILENT_MODE_H
#define CRX_UI_SILENT_MODE_H

#include <cstddef>
#include <string>

namespace crx {
struct Platform;
}

namespace crx::ui {

// What "/sms:" at the start of a command line says.
struct SilentOption {
  bool silent = false;
  // True when the word after "/sms:" is not "silent": it names the response
  // file (which may then be the empty name "/sms:" alone gives).
  bool has_response_file = false;
  std::string response_file;
  // The text after the word and the blanks that follow it; the whole
  // command line when it does not begin with "/sms:".
  std::string rest;
};

// Reads the option at the start of command_line (no blanks skipped).
SilentOption ParseSilentOption(const std::string& command_line);

// The run-wide silent state, one object per run, passed to whoever needs
// it (message service, dialogs, the setup phase). Silent mode may be
// switched during a run; the response file stays what the command line
// named (its path may be made absolute on first use).
class SilentMode {
 public:
  SilentMode() = default;
  explicit SilentMode(const SilentOption& option)
      : silent_(option.silent), has_response_file_(option.has_response_file),
        response_file_(option.response_file) {}

  bool silent() const { return silent_; }
  void set_silent(bool silent) { silent_ = silent; }

  bool has_response_file() const { return has_response_file_; }
  // The path as given after "/sms:" (empty without a response file).
  const std::string& response_file() const { return response_file_; }
  void set_response_file(const std::string& path) {
    has_response_file_ = true;
    response_file_ = path;
  }

  // The option that passes this state on to a program started from here:
  // "/sms:" and the response file, or "/sms:silent" when there is none (or
  // its name is empty); "" when the run is not silent.
  std::string Option() const;

 private:
  bool silent_ = false;
  bool has_response_file_ = false;
  std::string response_file_;
};

// A response file's text buffer as the interpreter passes it (at most 255
// characters come back).
inline constexpr size_t kResponseTextBuffer = 256;

// The text value of key in section, read with the default "-" into a buffer
// of buffer_size bytes (at most buffer_size - 1 characters come back).
// False with *value empty when path is empty, the file cannot be read (or
// is over a megabyte: no response file is), the section or key is missing,
// or the value is exactly "-".
bool ReadResponseText(Platform& platform, const std::string& path, const std::string& section,
                      const std::string& key, size_t buffer_size, std::string* value);

// The whole-number value of key in section, read with the default -1 as
// the system's profile call reads numbers. False with *value -1 when it is
// -1 or the file cannot be read.
bool ReadResponseInt(Platform& platform, const std::string& path, const std::string& section,
                     const std::string& key, int* value);

}  // namespace crx::ui

#endif  // CRX_UI_SILENT_MODE_H
