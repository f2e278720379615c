// A platform for one test. On Linux it is a new emulated machine in a fresh
// host folder (CRX_MACHINE is pointed at it before it opens), removed again
// afterwards. On Windows it is the real system, with a scratch folder in the
// temporary folder and a scratch registry key under HKEY_CURRENT_USER, both
// removed afterwards. Tests only ever use the Windows paths and keys it
// hands out, so the same test runs on both.
#ifndef CRX_TESTS_SUPPORT_TEST_PLATFORM_H
#define CRX_TESTS_SUPPORT_TEST_PLATFORM_H

#include <memory>
#include <string>

#include "platform/platform.h"

namespace crx::test {

class TestPlatform {
 public:
  TestPlatform();
  ~TestPlatform();
  TestPlatform(const TestPlatform&) = delete;
  TestPlatform& operator=(const TestPlatform&) = delete;

  // False (with the reason in Error()) when the platform could not open.
  bool ok() const { return host_ != nullptr; }
  const std::string& Error() const { return error_; }

  Platform& Get() { return host_->Get(); }
  // An empty folder (Windows path, no trailing back-slash) for this test.
  const std::string& Scratch() const { return scratch_; }
  // A key path under HKEY_CURRENT_USER for this test, not yet created.
  const std::string& ScratchKey() const { return scratch_key_; }
  // True when the Windows build runs under wine rather than on Windows.
  // Tests use it only where wine is known to differ from Windows, each time
  // with a note on the difference.
  bool UnderWine();
  // Linux only: the host folder of the emulated machine ("" on Windows).
  const std::string& MachineFolder() const { return machine_; }

 private:
  void RemoveScratch();

  std::unique_ptr<HostPlatform> host_;
  std::string error_;
  std::string scratch_;
  std::string scratch_key_;
  std::string machine_;
  std::string host_root_;
};

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_TEST_PLATFORM_H
