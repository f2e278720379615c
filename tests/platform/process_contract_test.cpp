// Starting processes, their command lines, exit codes and environment, for
// both implementations. The child programs are this test program itself:
// started with "--crx-child" as its first argument it does one small job
// (below) and exits before any test runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/cmdline.h"
#include "common/format.h"
#include "common/winpath.h"
#include "support/child_program.h"
#include "support/test_platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#endif

namespace crx {
namespace {

using test::kChildFlag;
using test::StartedAsChild;

bool WriteText(FileSystem& fs, const std::string& path, const std::string& text) {
  std::unique_ptr<File> f = fs.Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
  return f && f->Write(text.data(), text.size());
}

// The child's jobs, chosen by the second argument:
//   exit N            exits with N
//   tail FILE         writes its command-line tail to FILE
//   env NAME FILE     writes the variable's value, or "(unset)", to FILE
//   cwd FILE          writes its current folder to FILE
//   sleep MS          sleeps, then exits with 0
int RunChild() {
  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  if (!host) return 100;
  Platform& p = host->Get();
  std::string tail = p.processes.CommandLineTail();
  std::vector<std::string> args = cmdline::SplitArguments(tail);
  if (args.size() < 3) return 101;
  const std::string& job = args[1];
  if (job == "exit") return std::atoi(args[2].c_str());
  if (job == "tail") return WriteText(p.files, args[2], tail) ? 0 : 102;
  if (job == "cwd") return WriteText(p.files, args[2], p.files.CurrentFolder()) ? 0 : 102;
  if (job == "sleep") {
    p.clock.Sleep(static_cast<uint32_t>(std::atoi(args[2].c_str())));
    return 0;
  }
  if (job == "env" && args.size() == 4) {
    std::string value;
    if (!p.environment.Get(args[2], &value)) value = "(unset)";
    return WriteText(p.files, args[3], value) ? 0 : 102;
  }
  return 103;
}

// Runs before main: a child does its job and never reaches the tests.
const bool kIsChild = [] {
  if (!StartedAsChild()) return false;
  std::_Exit(RunChild());
}();

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(kIsChild);
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
  }

  Platform& p() { return tp_.Get(); }
  std::string At(const std::string& name) { return tp_.Scratch() + "\\" + name; }
  std::string Self() { return cmdline::Quote(p().processes.ProgramPath()); }

  // Starts a child with the given arguments and returns its exit code.
  uint32_t RunChildWith(const std::string& arguments, const StartOptions& options = {}) {
    std::unique_ptr<Process> child = p().processes.Start(Self() + " " + arguments, options);
    if (!child) return 0xDEADBEEF;
    if (child->Wait(60000) != WaitResult::kDone) return 0xDEADBEEE;
    uint32_t code = 0xDEADBEED;
    child->ExitCode(&code);
    return code;
  }

  std::string ReadText(const std::string& path) {
    std::unique_ptr<File> f = p().files.Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
    if (!f) return "<missing>";
    std::string out(4096, '\0');
    size_t got = 0;
    if (!f->Read(out.data(), out.size(), &got)) return "<unreadable>";
    out.resize(got);
    return out;
  }

  test::TestPlatform tp_;
};

TEST_F(ProcessTest, StartWaitAndExitCodes) {
  EXPECT_EQ(7u, RunChildWith("--crx-child exit 7"));
  EXPECT_EQ(0u, RunChildWith("--crx-child exit 0"));

  std::unique_ptr<Process> child = p().processes.Start(Self() + " --crx-child sleep 30000", {});
  ASSERT_TRUE(child) << LastError();
  EXPECT_NE(0u, child->Id());
  EXPECT_EQ(WaitResult::kTimeout, child->Wait(50));
  uint32_t code = 0;
  ASSERT_TRUE(child->ExitCode(&code));
  EXPECT_EQ(kStillActive, code);
  ASSERT_TRUE(child->Terminate(42));
  EXPECT_EQ(WaitResult::kDone, child->Wait(10000));
  ASSERT_TRUE(child->ExitCode(&code));
  EXPECT_EQ(42u, code);
}

TEST_F(ProcessTest, CommandLineTailComesBackExactly) {
  const std::string file = At("tail out.txt");
  const std::string tail = "--crx-child tail " + cmdline::Quote(file) +
                           " plain \"two words\" \"say \\\"hi\\\"\" C:\\dir\\ \"ends\\\\\"";
  ASSERT_EQ(0u, RunChildWith(tail));
  EXPECT_EQ(tail, ReadText(file));
}

TEST_F(ProcessTest, MissingProgramsAndFolders) {
  EXPECT_FALSE(p().processes.Start(cmdline::Quote(At("missing.exe")) + " x", {}));
  EXPECT_EQ(kErrorFileNotFound, LastError());
  EXPECT_FALSE(p().processes.Start(cmdline::Quote(At("missing")), {}));
  EXPECT_EQ(kErrorFileNotFound, LastError());
  StartOptions options;
  options.folder = At("no such folder");
  EXPECT_FALSE(p().processes.Start(Self() + " --crx-child exit 1", options));
  EXPECT_EQ(kErrorDirectory, LastError());
}

TEST_F(ProcessTest, WorkingFolderAndEnvironmentPassToTheChild) {
  ASSERT_TRUE(p().files.CreateFolder(At("work dir")));
  StartOptions options;
  options.folder = At("work dir");
  ASSERT_EQ(0u, RunChildWith("--crx-child cwd " + cmdline::Quote(At("cwd.txt")), options));
  std::string cwd = ReadText(At("cwd.txt"));
  if (!cwd.empty() && cwd.back() == '\\') cwd.pop_back();
  EXPECT_TRUE(winpath::EqualsNoCase(At("work dir"), cwd)) << cwd;

  ASSERT_TRUE(p().environment.Set("CRX_TEST_VALUE", "a value; with = signs"));
  ASSERT_EQ(0u, RunChildWith("--crx-child env CRX_TEST_VALUE " + cmdline::Quote(At("env.txt"))));
  EXPECT_EQ("a value; with = signs", ReadText(At("env.txt")));
  ASSERT_TRUE(p().environment.Unset("CRX_TEST_VALUE"));
  ASSERT_EQ(0u, RunChildWith("--crx-child env CRX_TEST_VALUE " + cmdline::Quote(At("env.txt"))));
  EXPECT_EQ("(unset)", ReadText(At("env.txt")));
  // A variable the program removes stays removed for its children.
  std::string temp;
  ASSERT_TRUE(p().environment.Get("TEMP", &temp));
  ASSERT_TRUE(p().environment.Unset("TEMP"));
  uint32_t code = RunChildWith("--crx-child env TEMP " + cmdline::Quote(At("temp.txt")));
  ASSERT_TRUE(p().environment.Set("TEMP", temp));
  ASSERT_EQ(0u, code);
  EXPECT_EQ("(unset)", ReadText(At("temp.txt")));
}

TEST_F(ProcessTest, ShellCommandsGiveTheirExitCode) {
  uint32_t code = 99;
  ASSERT_TRUE(p().processes.RunShellCommand("exit 3", "", &code));
  EXPECT_EQ(3u, code);
  ASSERT_TRUE(p().processes.RunShellCommand("exit 0", tp_.Scratch(), &code));
  EXPECT_EQ(0u, code);
}

}  // namespace
}  // namespace crx
