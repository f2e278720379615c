#ifndef CRX_TESTS_INTERPRETER_LOG_COMPARE_H
#define CRX_TESTS_INTERPRETER_LOG_COMPARE_H

// Comparing a whole run's log with its expected text, written by hand.

#include <gtest/gtest.h>

#include <string>

namespace crx::test {

// The log with its date and time masked.
inline std::string MaskHead(const std::string& log) {
  const std::string head = "Kestrova log ";
  if (log.compare(0, head.size(), head) != 0 || log.size() < head.size() + 19) return log;
  return head + "DD/MM/YYYY hh:mm:ss" + log.substr(head.size() + 19);
}

inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// Compares line by line, so a difference names its line.
inline void ExpectSameLines(const std::string& actual, const std::string& expected) {
  size_t a = 0;
  size_t e = 0;
  for (int line = 1; a < actual.size() || e < expected.size(); ++line) {
    size_t a_end = actual.find('\n', a);
    size_t e_end = expected.find('\n', e);
    std::string a_line = actual.substr(a, a_end == std::string::npos ? std::string::npos : a_end - a);
    std::string e_line = expected.substr(e, e_end == std::string::npos ? std::string::npos : e_end - e);
    ASSERT_EQ(a_line, e_line) << "line " << line << "\n--- whole text:\n" << actual;
    a = a_end == std::string::npos ? actual.size() : a_end + 1;
    e = e_end == std::string::npos ? expected.size() : e_end + 1;
    if ((a_end == std::string::npos) != (e_end == std::string::npos)) {
      FAIL() << "line " << line << " ends differently\n--- whole text:\n" << actual;
    }
  }
}

}  // namespace crx::test

#endif  // CRX_TESTS_INTERPRETER_LOG_COMPARE_H
