// A user interface for tests that only need to know what was said: every
// message box's text is kept in order and answered with OK.
#ifndef CRX_TESTS_SUPPORT_RECORDING_UI_H
#define CRX_TESTS_SUPPORT_RECORDING_UI_H

#include <cstdint>
#include <string>
#include <vector>

#include "engine/user_interface.h"

namespace crx::test {

class RecordingUi : public UserInterface {
 public:
  std::vector<std::string> texts;
  int MessageBox(const std::string& text, const std::string&, uint32_t) override {
    texts.push_back(text);
    return kIdOk;
  }
};

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_RECORDING_UI_H
