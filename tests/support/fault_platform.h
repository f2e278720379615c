// A platform for fault-injection tests: it hands every call to a real
// platform, counts the calls that change something (or may fail for want
// of a resource) and makes the Nth of them fail with a chosen error, as one
// sweeps the Nth allocation of a run:
//
//   test::FaultPlatform faults(real);
//   faults.files().Count();              // a run that fails nothing
//   Work(faults.Get());
//   const int calls = faults.files().calls();
//   for (int n = 1; n <= calls; ++n) {
//     faults.files().Arm(n, kErrorDiskFull);
//     ... set up, Work(faults.Get()), check the outcome is a clean failure ...
//     EXPECT_TRUE(faults.files().fired()) << n;
//   }
//
// File calls counted (one counter for the whole FileSystem and every File
// it opened): Open, File::Read, File::Write, File::SetEnd, File::Flush,
// File::SetLastWriteTime, CopyFile, DeleteFile, MoveFile, ReplaceFile,
// SetAttributes, SetLastWriteTime, CreateFolder, CreatePrivateFolder and
// RemoveFolder. A failing file call returns false (Open: null) with the
// error as LastError(), and does nothing. Queries (attributes, listings,
// sizes, seeks, paths) are never counted and never fail.
//
// Registry calls counted: CreateKey, OpenKey, SetValue, DeleteKey and
// DeleteValue; a failing one returns the error and does nothing. Reading
// values, enumerating and closing keys are not counted.
//
// Processes, environment, clock, terminal and shell are the real ones.
#ifndef CRX_TESTS_SUPPORT_FAULT_PLATFORM_H
#define CRX_TESTS_SUPPORT_FAULT_PLATFORM_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/forwarding_file_system.h"

namespace crx::test {

// Counts the calls of one interface and fails the armed one.
class FaultCounter {
 public:
  // Counts afresh from now on: the nth counted call fails with error (the
  // first call is 1); n <= 0 fails nothing. With sticky set, every counted
  // call after the nth fails as well (a disk that stays full, a registry
  // that stays locked).
  void Arm(int n, uint32_t error, bool sticky = false);
  // Counts afresh from now on and fails nothing: the counting run.
  void Count() { Arm(0, 0); }

  // Counted calls since Arm or Count.
  int calls() const { return calls_; }
  // True once the armed call came (and failed).
  bool fired() const { return failures_ > 0; }
  // How many calls failed since Arm.
  int failures() const { return failures_; }
  // The first call that failed, as "Write C:\\path" (empty when none).
  const std::string& failed_call() const { return failed_call_; }
  // Every counted call since Arm, in the same form (for messages when a
  // sweep finds a fault).
  const std::vector<std::string>& log() const { return log_; }

  // For the wrappers: counts a call named what on path; true when it is
  // to fail (the error is then error()).
  bool Fail(const char* what, const std::string& path);
  uint32_t error() const { return error_; }

 private:
  int armed_ = 0;
  uint32_t error_ = 0;
  bool sticky_ = false;
  int calls_ = 0;
  int failures_ = 0;
  std::string failed_call_;
  std::vector<std::string> log_;
};

// The file system that counts and fails.
class FaultFileSystem : public ForwardingFileSystem {
 public:
  FaultFileSystem(FileSystem& real, FaultCounter& counter)
      : ForwardingFileSystem(real), counter_(counter) {}

  std::unique_ptr<File> Open(const std::string& path, uint32_t access, uint32_t share,
                             Disposition disposition, uint32_t attributes) override;
  bool CopyFile(const std::string& from, const std::string& to, bool fail_if_exists) override;
  bool DeleteFile(const std::string& path) override;
  bool MoveFile(const std::string& from, const std::string& to) override;
  bool ReplaceFile(const std::string& from, const std::string& to) override;
  bool SetAttributes(const std::string& path, uint32_t attributes) override;
  bool SetLastWriteTime(const std::string& path, FileTime time) override;
  bool CreateFolder(const std::string& path) override;
  bool CreatePrivateFolder(const std::string& path) override;
  bool RemoveFolder(const std::string& path) override;

 private:
  // Counts the call; true (with LastError set) when it is to fail.
  bool Fail(const char* what, const std::string& path);

  FaultCounter& counter_;
};

// The registry that counts and fails.
class FaultRegistry : public Registry {
 public:
  FaultRegistry(Registry& real, FaultCounter& counter) : real_(real), counter_(counter) {}

  long OpenKey(RegKey parent, const std::string& sub_key, RegAccess access,
               RegKey* key) override;
  long CreateKey(RegKey parent, const std::string& sub_key, RegAccess access, RegKey* key,
                 bool* created) override;
  long CloseKey(RegKey key) override { return real_.CloseKey(key); }
  long DeleteKey(RegKey parent, const std::string& sub_key) override;
  long DeleteValue(RegKey key, const std::string& name) override;
  long QueryValue(RegKey key, const std::string& name, uint32_t* type,
                  std::string* data) override {
    return real_.QueryValue(key, name, type, data);
  }
  long SetValue(RegKey key, const std::string& name, uint32_t type, const void* data,
                size_t size) override;
  long EnumKey(RegKey key, uint32_t index, std::string* name) override {
    return real_.EnumKey(key, index, name);
  }
  long EnumValue(RegKey key, uint32_t index, std::string* name, uint32_t* type,
                 std::string* data) override {
    return real_.EnumValue(key, index, name, type, data);
  }

 private:
  Registry& real_;
  FaultCounter& counter_;
};

// A whole platform over a real one, with a counter per interface.
class FaultPlatform {
 public:
  explicit FaultPlatform(Platform& real)
      : files_(real.files, file_counter_), registry_(real.registry, registry_counter_),
        platform_{files_, registry_, real.processes, real.environment, real.clock,
                  real.terminal, real.shell} {}
  FaultPlatform(const FaultPlatform&) = delete;
  FaultPlatform& operator=(const FaultPlatform&) = delete;

  Platform& Get() { return platform_; }
  FaultCounter& files() { return file_counter_; }
  FaultCounter& registry() { return registry_counter_; }

 private:
  FaultCounter file_counter_;
  FaultCounter registry_counter_;
  FaultFileSystem files_;
  FaultRegistry registry_;
  Platform platform_;
};

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_FAULT_PLATFORM_H
