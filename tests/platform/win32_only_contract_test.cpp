// Behaviour of the Win32 platform that only the real API shows: the
// predefined registry hives mapped onto the real handles, the command-line
// tail after a quoted program name, the terminal with redirected standard
// handles, the command interpreter without COMSPEC, 8.3 names in listings
// and libraries with their entry points. Child processes are this very
// test program. Compiles to nothing outside Windows.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

// <windows.h> without the macros that clash with the interfaces' names.
#include "platform/win32/win32_platform.h"
#include "support/test_platform.h"

namespace crx {
namespace {

// Set in a child's environment, this turns the child test below into a
// helper process for the parent tests: "tail:FILE" writes the command-line
// tail to FILE, "terminal" echoes standard input to standard output.
constexpr char kChildJob[] = "CRX_WIN32_CHILD_JOB";

std::string ReadWhole(FileSystem& fs, const std::string& path) {
  std::unique_ptr<File> f = fs.Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
  if (!f) return "<missing>";
  std::string text(4096, '\0');
  size_t got = 0;
  if (!f->Read(&text[0], text.size(), &got)) return "<unreadable>";
  text.resize(got);
  return text;
}

// The lines of text that start with prefix, each without it.
std::string LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    if (text.compare(pos, prefix.size(), prefix) == 0) {
      out.append(text, pos + prefix.size(), end + 1 - pos - prefix.size());
    }
    pos = end + 1;
  }
  return out;
}

TEST(Win32ChildProcess, DoesItsJob) {
  const char* job = std::getenv(kChildJob);
  if (job == nullptr) GTEST_SKIP() << "helper for the process tests";
  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  ASSERT_TRUE(host) << error;
  Platform& p = host->Get();
  std::string what = job;
  if (what.compare(0, 5, "tail:") == 0) {
    std::string tail = p.processes.CommandLineTail();
    std::unique_ptr<File> f =
        p.files.Open(what.substr(5), kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_TRUE(f && f->Write(tail.data(), tail.size()));
  } else if (what == "terminal") {
    std::string line;
    while (p.terminal.ReadLine(&line)) p.terminal.Write("echo:[" + line + "]\n");
    p.terminal.Write(p.terminal.IsInteractive() ? "echo:interactive\n" : "echo:redirected\n");
    p.terminal.WriteError("echo:to stderr\n");
  }
  ::ExitProcess(17);
}

class Win32OnlyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(machine_.ok()) << machine_.Error(); }
  Platform& p() { return machine_.Get(); }
  std::string At(const std::string& name) { return machine_.Scratch() + "\\" + name; }

  test::TestPlatform machine_;
};

TEST_F(Win32OnlyTest, TailSkipsAQuotedProgramAndTheBlanksAfterIt) {
  std::string report = At("tail.txt");
  ASSERT_TRUE(p().environment.Set(kChildJob, "tail:" + report));
  std::string line = "\"" + p().processes.ProgramPath() +
                     "\" \t  --gtest_filter=Win32ChildProcess.*  \"two words\" x ";
  StartOptions options;
  options.hidden = true;
  std::unique_ptr<Process> child = p().processes.Start(line, options);
  p().environment.Unset(kChildJob);
  ASSERT_TRUE(child) << "error " << LastError();
  ASSERT_EQ(WaitResult::kDone, child->Wait(60000));
  uint32_t code = 0;
  ASSERT_TRUE(child->ExitCode(&code));
  EXPECT_EQ(17u, code);
  EXPECT_EQ("--gtest_filter=Win32ChildProcess.*  \"two words\" x ", ReadWhole(p().files, report));
}

TEST_F(Win32OnlyTest, RedirectedTerminalReadsLinesAndIsNotInteractive) {
  {
    std::unique_ptr<File> in =
        p().files.Open(At("in.txt"), kAccessWrite, kShareNone, Disposition::kCreateAlways);
    const std::string text = "one\r\ntwo\n\r\n\nlast without end";
    ASSERT_TRUE(in && in->Write(text.data(), text.size()));
  }
  ASSERT_TRUE(p().environment.Set(kChildJob, "terminal"));
  // Through the command interpreter, which does the redirection.
  uint32_t code = 0;
  bool ran = p().processes.RunShellCommand(
      p().processes.ProgramPath() +
          " --gtest_filter=Win32ChildProcess.* < in.txt > out.txt 2> err.txt",
      machine_.Scratch(), &code);
  p().environment.Unset(kChildJob);
  ASSERT_TRUE(ran) << LastError();
  EXPECT_EQ(17u, code);
  EXPECT_EQ("[one]\n[two]\n[]\n[]\n[last without end]\nredirected\n",
            LinesStartingWith(ReadWhole(p().files, At("out.txt")), "echo:"));
  EXPECT_EQ("to stderr\n", LinesStartingWith(ReadWhole(p().files, At("err.txt")), "echo:"));
}

TEST_F(Win32OnlyTest, ShellWorksWithoutComspec) {
  std::string comspec;
  bool had = p().environment.Get("COMSPEC", &comspec);
  ASSERT_TRUE(p().environment.Unset("COMSPEC"));
  uint32_t code = 0;
  bool ran = p().processes.RunShellCommand("exit 3", "", &code);
  if (had) p().environment.Set("COMSPEC", comspec);
  ASSERT_TRUE(ran) << LastError();
  EXPECT_EQ(3u, code);
}

TEST_F(Win32OnlyTest, ListingsCarryShortNamesOfLongNamesOnly) {
  for (const char* name : {"A Long File Name.text", "SHORT.TXT"}) {
    std::unique_ptr<File> f =
        p().files.Open(At(name), kAccessWrite, kShareNone, Disposition::kCreateNew);
    ASSERT_TRUE(f && f->Write(name, 5));
  }
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(p().files.ListFolder(At("*"), &entries));
  ASSERT_EQ(2u, entries.size());
  for (const FolderEntry& e : entries) {
    if (e.name == "SHORT.TXT") {
      EXPECT_EQ("", e.short_name);
    } else {
      ASSERT_EQ("A Long File Name.text", e.name);
      ASSERT_FALSE(e.short_name.empty());
      EXPECT_EQ(std::string::npos, e.short_name.find(' ')) << e.short_name;
      EXPECT_EQ("A Lon", ReadWhole(p().files, At(e.short_name)));
    }
    EXPECT_EQ(5u, e.size);
  }
}

TEST_F(Win32OnlyTest, LibrariesAndTheirEntries) {
  // GetCurrentThreadId takes no arguments and returns 32 bits, as the
  // registration entries do, and its answer is known.
  std::unique_ptr<Library> kernel = p().shell.LoadLibrary("kernel32.dll");
  ASSERT_TRUE(kernel) << LastError();
  long result = 0;
  ASSERT_TRUE(kernel->CallEntry("GetCurrentThreadId", &result));
  EXPECT_EQ(static_cast<long>(::GetCurrentThreadId()), result);
  FARPROC real = ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetCurrentThreadId");
  ASSERT_NE(nullptr, real);
  EXPECT_EQ(reinterpret_cast<void*>(reinterpret_cast<void (*)()>(real)),
            kernel->Entry("GetCurrentThreadId"));
  EXPECT_FALSE(kernel->CallEntry("CrxNoSuchEntry", &result));
  EXPECT_EQ(kErrorProcNotFound, LastError());
  EXPECT_EQ(nullptr, kernel->Entry("CrxNoSuchEntry"));

  EXPECT_EQ(nullptr, p().shell.LoadLibrary(At("missing.dll")));
  EXPECT_EQ(kErrorModNotFound, LastError());
  // A file that is not a program at all.
  {
    std::unique_ptr<File> f =
        p().files.Open(At("text.dll"), kAccessWrite, kShareNone, Disposition::kCreateNew);
    ASSERT_TRUE(f && f->Write("not a library", 13));
  }
  EXPECT_EQ(nullptr, p().shell.LoadLibrary(At("text.dll")));
  EXPECT_EQ(kErrorBadExeFormat, LastError());
}

TEST_F(Win32OnlyTest, PredefinedHivesAreTheRealOnesAndStayOpen) {
  Registry& reg = p().registry;
  {
    ScopedRegKey key(reg);
    ASSERT_EQ(kErrorSuccess,
              reg.CreateKey(kHKeyCurrentUser, machine_.ScratchKey(), RegAccess::kAll, key.Out(),
                            nullptr));
    ASSERT_EQ(kErrorSuccess, reg.SetString(key.Get(), "seen", "through the hive"));
  }
  // The value is where the real API finds it.
  HKEY real = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_CURRENT_USER, machine_.ScratchKey().c_str(), 0,
                                           KEY_READ, &real));
  char text[64] = {};
  DWORD size = sizeof text;
  EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExA(real, "seen", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(text), &size));
  EXPECT_STREQ("through the hive", text);
  ::RegCloseKey(real);

  // Handles to the hive itself, closed again, leave the hive usable.
  for (RegKey hive : {kHKeyCurrentUser, kHKeyLocalMachine, kHKeyClassesRoot}) {
    RegKey same = 0;
    ASSERT_EQ(kErrorSuccess, reg.CreateKey(hive, "", RegAccess::kRead, &same, nullptr));
    EXPECT_EQ(kErrorSuccess, reg.CloseKey(same));
    RegKey opened = 0;
    ASSERT_EQ(kErrorSuccess, reg.OpenKey(hive, "", RegAccess::kRead, &opened));
    EXPECT_EQ(kErrorSuccess, reg.CloseKey(opened));
    EXPECT_EQ(kErrorSuccess, reg.CloseKey(hive));
    std::string name;
    EXPECT_EQ(kErrorSuccess, reg.EnumKey(hive, 0, &name)) << hive;
    EXPECT_FALSE(name.empty());
  }
  ScopedRegKey again(reg);
  ASSERT_EQ(kErrorSuccess,
            reg.OpenKey(kHKeyCurrentUser, machine_.ScratchKey(), RegAccess::kRead, again.Out()));
  std::string value;
  EXPECT_EQ(kErrorSuccess, reg.GetString(again.Get(), "seen", &value));
  EXPECT_EQ("through the hive", value);
}

}  // namespace
}  // namespace crx

#endif  // _WIN32
