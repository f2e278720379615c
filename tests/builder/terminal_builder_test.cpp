// The builder on a terminal: the command loop driven with scripted lines
// (questions answered on the same input), and the real program on a
// pseudo-terminal and without one. Archives are read back with the engine.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "builder/terminal_builder.h"
#include "engine/archive_engine.h"
#include "engine/format.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#ifndef _WIN32
#include "platform/posix/host_paths.h"
#endif
#include "support/file_helpers.h"
#include "support/test_platform.h"
#include "ui/console/console_front_end.h"
#include "ui/service.h"

namespace crx {
namespace {

#ifndef _WIN32

constexpr const char* kKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

class LinesTerminal : public Terminal {
 public:
  std::deque<std::string> input;
  std::string output;
  std::string errors;
  bool IsInteractive() override { return true; }
  bool ReadLine(std::string* line) override {
    if (input.empty()) return false;
    *line = input.front();
    input.pop_front();
    return true;
  }
  void Write(const std::string& text) override { output += text; }
  void WriteError(const std::string& text) override { errors += text; }
  int Width() override { return 80; }
};

class Messages : public UserInterface {
 public:
  std::vector<std::string> shown;
  int MessageBox(const std::string& text, const std::string&, uint32_t) override {
    shown.push_back(text);
    return kIdOk;
  }
};

class TerminalBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok()) << machine_.Error();
    ResetLogState();
    SetLoggingSetting(0);
    dir_ = machine_.Scratch();
    Write(dir_ + "\\full.dat", std::string(FULL_STUB_SIZE, 'S'));
    ScopedRegKey key(p().registry);
    ASSERT_EQ(p().registry.CreateKey(kHKeyLocalMachine, kKey, RegAccess::kAll, key.Out(), nullptr),
              kErrorSuccess);
    p().registry.SetString(key.Get(), "datafile", dir_ + "\\full.dat");
    ASSERT_TRUE(p().files.CreateFolder(dir_ + "\\in"));
    ASSERT_TRUE(p().files.CreateFolder(dir_ + "\\in\\sub"));
    Write(dir_ + "\\in\\one.txt", "one one one one one one one one one one\n");
    Write(dir_ + "\\in\\sub\\two.txt", "two");
    Write(dir_ + "\\three file.txt", "three");
  }
  void TearDown() override { ResetLogState(); }

  Platform& p() { return machine_.Get(); }
  void Write(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(test::WriteWholeFile(p().files, path, bytes)) << path;
  }
  std::vector<MemberEntry> ReadBack(const std::string& path, TypeRecord* type = nullptr) {
    Messages quiet;
    ArchiveEngine reader(p(), quiet);
    reader.set_password_accepted(true);
    std::vector<MemberEntry> members;
    if (reader.ListArchive(path)) members = reader.members();
    reader.CloseArchive();
    if (type) *type = reader.type_record();
    return members;
  }

  test::TestPlatform machine_;
  std::string dir_;
};

TEST_F(TerminalBuilderTest, CommandsDriveTheDocumentAndQuestionsAreAnsweredOnTheSameInput) {
  LinesTerminal terminal;
  Platform platform{p().files, p().registry, p().processes, p().environment,
                    p().clock, terminal,     p().shell};
  ui::UserInterfaceService service(std::make_unique<ui::ConsoleFrontEnd>(terminal));
  ui::TerminalNotices ui(terminal, service, "Cratex");
  ui::FrontEnd& front_end = service.front_end();
  terminal.input = {
      "save",                       // refused: nothing open
      "options setup",              // ticks flatten too
      "options setup",              // and clears both
      "options compress",           // off: members stored
      "new " + dir_ + "\\term.exe",
      "options encrypt",            // fixed while the archive is open
      "paste",                      // a list, ended by an empty line
      dir_ + "\\in",
      dir_ + "\\three file.txt",
      "",
      "paste \"" + dir_ + "\\three file.txt\"",  // already there: listed once
      "list size",
      "quit",
      "c",                          // Cancel: stays open
      "bogus",
      "save",
      "quit",
  };
  EXPECT_EQ(builder::RunTerminalBuilder(platform, ui, front_end, false), 0);
  const std::string& out = terminal.output;
  EXPECT_NE(out.find("\"Save Archive\" is not available without an open archive"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("[x] setup"), std::string::npos);
  EXPECT_NE(out.find("[x] flatten"), std::string::npos);
  EXPECT_NE(out.find("\"Encrypt / Password Protect\" is not available while an archive is open"),
            std::string::npos);
  EXPECT_NE(out.find("3 members on the archive"), std::string::npos) << out;
  EXPECT_EQ(out.find("4 members on the archive"), std::string::npos) << out;
  EXPECT_NE(out.find("Do you wish to save the archive?"), std::string::npos);
  EXPECT_NE(out.find("unknown command \"bogus\""), std::string::npos);
  EXPECT_NE(out.find("saved " + dir_ + "\\term.exe"), std::string::npos) << out;
  // The list sorted by size: 3, 5, 40 bytes, all stored.
  const size_t listed = out.find("modtime");
  ASSERT_NE(listed, std::string::npos);
  EXPECT_LT(out.find("two.txt", listed), out.find("three file.txt", listed));
  EXPECT_LT(out.find("three file.txt", listed), out.find("one.txt", listed));

  std::vector<MemberEntry> members = ReadBack(dir_ + "\\term.exe");
  ASSERT_EQ(members.size(), 3u);
  for (const MemberEntry& m : members) EXPECT_EQ(m.compressed_size, 0) << m.name;
}

TEST_F(TerminalBuilderTest, EndOfInputAbortsAnOpenArchive) {
  LinesTerminal terminal;
  Platform platform{p().files, p().registry, p().processes, p().environment,
                    p().clock, terminal,     p().shell};
  ui::UserInterfaceService service(std::make_unique<ui::ConsoleFrontEnd>(terminal));
  ui::TerminalNotices ui(terminal, service, "Cratex");
  ui::FrontEnd& front_end = service.front_end();
  terminal.input = {"new " + dir_ + "\\left.exe", "add-files \"" + dir_ + "\\three file.txt\""};
  EXPECT_EQ(builder::RunTerminalBuilder(platform, ui, front_end, false), 1);
  EXPECT_NE(terminal.errors.find("the open archive was aborted"), std::string::npos);
  EXPECT_FALSE(p().files.Exists(dir_ + "\\left.exe"));
}

// Runs the program with input written to it; returns its exit status and
// its output in *output. On a pseudo-terminal when pty is set, else with
// input and output on pipes.
int RunProgram(bool pty, const std::string& input, std::string* output) {
  int in_pipe[2] = {-1, -1};
  int out_pipe[2] = {-1, -1};
  int master = -1;
  pid_t pid;
  if (pty) {
    pid = forkpty(&master, nullptr, nullptr, nullptr);
  } else {
    if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0) return -1;
    pid = fork();
  }
  if (pid < 0) return -1;
  if (pid == 0) {
    if (!pty) {
      dup2(in_pipe[0], 0);
      dup2(out_pipe[1], 1);
      dup2(out_pipe[1], 2);
      close(in_pipe[1]);
      close(out_pipe[0]);
    }
    execl(CRX_BUILDER_PROGRAM, "Cratex", static_cast<char*>(nullptr));
    _exit(127);
  }
  const int write_fd = pty ? master : in_pipe[1];
  const int read_fd = pty ? master : out_pipe[0];
  if (!pty) {
    close(in_pipe[0]);
    close(out_pipe[1]);
  }
  // Line by line, each once the program has asked for input (a pty's
  // canonical mode would otherwise be free to take them as they come).
  size_t sent = 0;
  for (;;) {
    pollfd fd{read_fd, POLLIN, 0};
    const int ready = poll(&fd, 1, 200);
    if (ready > 0) {
      char buffer[4096];
      const ssize_t got = read(read_fd, buffer, sizeof buffer);
      if (got <= 0) break;
      output->append(buffer, static_cast<size_t>(got));
      continue;
    }
    if (ready == 0 && sent < input.size()) {
      const size_t end = input.find('\n', sent);
      const size_t next = end == std::string::npos ? input.size() : end + 1;
      if (write(write_fd, input.data() + sent, next - sent) < 0) break;
      sent = next;
      if (!pty && sent == input.size()) close(write_fd);
    } else if (ready < 0) {
      break;
    }
  }
  if (pty) close(master);
  else close(read_fd);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(TerminalBuilderTest, TheProgramBuildsAnArchiveOnATerminalAndRefusesWithoutOne) {
  const std::string archive = dir_ + "\\pty.exe";
  std::string output;
  const int status = RunProgram(true,
                                "new " + archive + "\n"
                                "add-folder " + dir_ + "\\in\n"
                                "y\n"
                                // A host path is the machine's file.
                                "add-files \"" + WindowsToHostPath(dir_ + "\\three file.txt") +
                                    "\"\n"
                                "list\n"
                                "save\n"
                                "quit\n",
                                &output);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("About to add a folder and all its subfolders"), std::string::npos)
      << output;
  std::vector<MemberEntry> members = ReadBack(archive);
  ASSERT_EQ(members.size(), 3u) << output;

  output.clear();
  EXPECT_EQ(RunProgram(false, "new " + dir_ + "\\pipe.exe\nquit\n", &output), 2);
  EXPECT_NE(output.find("usage: Cratex SCRIPT"), std::string::npos) << output;
  EXPECT_FALSE(p().files.Exists(dir_ + "\\pipe.exe"));
}

#endif  // _WIN32

}  // namespace
}  // namespace crx
