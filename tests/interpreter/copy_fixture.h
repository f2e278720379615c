// An interpreter for the copy and boot-move tests on a test platform whose
// file system can be made to fail and whose boot-time requests are recorded.
// On the emulated machine the requests also go to the machine (which records
// them for its next "boot"); on Windows they are only recorded, so a test
// never schedules anything on the real system.
#ifndef CRX_TESTS_INTERPRETER_COPY_FIXTURE_H
#define CRX_TESTS_INTERPRETER_COPY_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "interpreter/interpreter_fixture.h"
#include "interpreter/script_interpreter.h"
#include "support/forwarding_file_system.h"
#include "support/test_platform.h"

namespace crx::test {

struct BootRequest {
  std::string from;
  std::string to;
};

class RecordingShell : public Shell {
 public:
  RecordingShell(Shell& real, bool forward) : real_(&real), forward_(forward) {}
  // From now on the requests go to another platform's shell.
  void ForwardTo(Shell& shell) {
    real_ = &shell;
    forward_ = true;
  }
  std::vector<BootRequest> requests;
  bool refuse = false;
  uint32_t refusal = kErrorInvalidParameter;

  bool MoveAtBoot(const std::string& from, const std::string& to) override {
    if (refuse) {
      SetLastError(refusal);
      return false;
    }
    requests.push_back({from, to});
    return forward_ ? real_->MoveAtBoot(from, to) : true;
  }
  std::unique_ptr<Library> LoadLibrary(const std::string& path) override {
    return real_->LoadLibrary(path);
  }

 private:
  Shell* real_;
  bool forward_;
};

// A file whose writes fail once the shared budget is spent.
class BudgetFile : public File {
 public:
  BudgetFile(std::unique_ptr<File> real, int* budget) : real_(std::move(real)), budget_(budget) {}
  bool Read(void* b, size_t s, size_t* g) override { return real_->Read(b, s, g); }
  bool Write(const void* d, size_t s) override {
    if (*budget_ >= 0 && (*budget_)-- == 0) {
      // Half of the piece reaches the disk, as on a drive that fills up.
      real_->Write(d, s / 2);
      SetLastError(kErrorDiskFull);
      return false;
    }
    return real_->Write(d, s);
  }
  bool Seek(int64_t o, SeekFrom f, int64_t* p) override { return real_->Seek(o, f, p); }
  bool Size(int64_t* s) override { return real_->Size(s); }
  bool SetEnd() override { return real_->SetEnd(); }
  bool Flush() override { return real_->Flush(); }
  bool GetLastWriteTime(FileTime* t) override { return real_->GetLastWriteTime(t); }
  bool SetLastWriteTime(FileTime t) override { return real_->SetLastWriteTime(t); }

 private:
  std::unique_ptr<File> real_;
  int* budget_;
};

class FaultyFiles : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  // Writes to files in budget_folder that succeed before one fails; -1:
  // none fails.
  int write_budget = -1;
  std::string budget_folder;
  // The free space every drive reports; -1: the real one.
  int64_t free_space = -1;
  bool free_space_fails = false;
  std::vector<std::string> free_space_roots;

  std::unique_ptr<File> Open(const std::string& p, uint32_t a, uint32_t s, Disposition d,
                             uint32_t attr) override {
    std::unique_ptr<File> f = real().Open(p, a, s, d, attr);
    if (!f || !(a & kAccessWrite) || budget_folder.empty() ||
        p.compare(0, budget_folder.size(), budget_folder) != 0) {
      return f;
    }
    return std::make_unique<BudgetFile>(std::move(f), &write_budget);
  }
  bool GetFreeSpace(const std::string& r, FreeSpace* s) override {
    free_space_roots.push_back(r);
    if (free_space_fails) {
      SetLastError(kErrorNotReady);
      return false;
    }
    if (free_space < 0) return real().GetFreeSpace(r, s);
    s->free_to_caller = s->total_free = static_cast<uint64_t>(free_space);
    s->total = s->free_to_caller * 2;
    return true;
  }
};

class CopyFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform_.ok()) << platform_.Error();
    files_.budget_folder = Scratch() + "\\";
    K().SetBuiltInVariables();
    // The log goes to TEMP; tests read it back.
    K().OpenLog();
    K().logging = true;
  }
  void TearDown() override { RemoveTestCounts(); }

  interp::ScriptInterpreter& K() { return *k_; }
  Platform& P() { return wrapped_; }
  const std::string& Scratch() const { return platform_.Scratch(); }
  std::string At(const std::string& name) const { return Scratch() + "\\" + name; }

  // Sets a variable as the table holds it (the tests use values without
  // blanks, which are stored unchanged).
  void Set(const std::string& name, const std::string& value) {
    for (interp::ScriptInterpreter::Pair& pair : K().variables) {
      if (pair.name == name) {
        pair.value = value;
        return;
      }
    }
    K().variables.push_back({name, value});
  }

  void Command(const std::string& option, const std::string& a1, const std::string& a2,
               const std::string& a3 = std::string()) {
    K().cmd.Clear();
    K().cmd.command = "copy";
    K().cmd.option = option;
    K().cmd.args[0] = a1;
    K().cmd.args[1] = a2;
    K().cmd.args[2] = a3;
  }

  void Write(const std::string& path, const std::string& data, FileTime time = 0) {
    std::unique_ptr<File> f =
        files_.Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways, 0);
    ASSERT_TRUE(f) << path << " " << LastError();
    ASSERT_TRUE(data.empty() || f->Write(data.data(), data.size()));
    f.reset();
    if (time != 0) {
      ASSERT_TRUE(files_.SetLastWriteTime(path, time));
    }
  }
  std::string Read(const std::string& path) {
    std::unique_ptr<File> f = files_.Open(path, kAccessRead, kShareRead | kShareWrite,
                                          Disposition::kOpenExisting, 0);
    if (!f) return "(missing)";
    std::string out;
    char buffer[65536];
    size_t got = 0;
    while (f->Read(buffer, sizeof buffer, &got) && got > 0) out.append(buffer, got);
    return out;
  }
  FileTime TimeOf(const std::string& path) {
    FileTime t = 0;
    files_.GetLastWriteTime(path, &t);
    return t;
  }
  std::vector<std::string> Names(const std::string& folder) {
    std::vector<FolderEntry> entries;
    std::vector<std::string> names;
    if (files_.ListFolder(folder + "\\*", &entries)) {
      for (const FolderEntry& e : entries) names.push_back(e.name);
    }
    return names;
  }

  // The interpreter's log as written so far.
  std::string LogText() {
    K().FlushLog();
    std::string temp = K().VariableText("TEMP");
    return Read(temp + "\\Kestrova.log");
  }

  int Count(const std::string& path) {
    RegKey key = 0;
    if (P().registry.OpenKey(kHKeyLocalMachine, kSharedDlls, RegAccess::kRead, &key) !=
        kErrorSuccess) {
      return -1;
    }
    uint32_t value = 0;
    long rc = P().registry.GetDword(key, path, &value);
    P().registry.CloseKey(key);
    return rc == kErrorSuccess ? static_cast<int>(value) : -1;
  }
  void SetCount(const std::string& path, uint32_t count) {
    RegKey key = 0;
    ASSERT_EQ(kErrorSuccess, P().registry.CreateKey(kHKeyLocalMachine, kSharedDlls,
                                                    RegAccess::kAll, &key, nullptr));
    ASSERT_EQ(kErrorSuccess, P().registry.SetDword(key, path, count));
    P().registry.CloseKey(key);
  }
  // Counts named by this test's paths go again (on Windows the registry is
  // the real one).
  void RemoveTestCounts() {
    if (!platform_.ok()) return;
    RegKey key = 0;
    if (P().registry.OpenKey(kHKeyLocalMachine, kSharedDlls, RegAccess::kAll, &key) !=
        kErrorSuccess) {
      return;
    }
    std::vector<std::string> ours;
    std::string name, data;
    uint32_t type = 0;
    for (uint32_t i = 0; P().registry.EnumValue(key, i, &name, &type, &data) == kErrorSuccess;
         ++i) {
      if (name.compare(0, Scratch().size(), Scratch()) == 0) ours.push_back(name);
    }
    for (const std::string& n : ours) P().registry.DeleteValue(key, n);
    P().registry.CloseKey(key);
  }

  static constexpr const char* kSharedDlls =
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

  TestPlatform platform_;
  FaultyFiles files_{platform_.Get().files};
  RecordingShell shell_{platform_.Get().shell, !platform_.MachineFolder().empty()};
  Platform wrapped_{files_,
                    platform_.Get().registry,
                    platform_.Get().processes,
                    platform_.Get().environment,
                    platform_.Get().clock,
                    platform_.Get().terminal,
                    shell_};
  ScriptedFrontEnd front_end_;
  RecordingHost host_;
  std::unique_ptr<interp::ScriptInterpreter> k_ =
      std::make_unique<interp::ScriptInterpreter>(wrapped_, front_end_, host_);
};

}  // namespace crx::test

#endif  // CRX_TESTS_INTERPRETER_COPY_FIXTURE_H
