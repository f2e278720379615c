// The real stub programs of this build (the padded Cratex.dat and
// Cratexm.dat) with archives the engine appends, run as programs on the
// emulated machine, or under wine64 in the win64 build: they must find
// their archive at their own length, extract every member into a new
// __CRX_tmp_ folder under TEMP, run the archive's setup program there with
// silent mode passed on, and clean up behind it. The setup program is a
// real one that writes down how it was started: a shell script on the
// emulated machine, the record_run helper under wine.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "engine/scramble.h"
#include "engine/user_interface.h"
#include "support/file_helpers.h"
#include "support/program_fixture.h"
#include "support/volume_set.h"

#ifdef _WIN32
#include <algorithm>
#else
#include <elf.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/posix/host_paths.h"
#include "platform/posix/machine_library.h"
#endif

namespace crx {
namespace {

constexpr int kExitDone = 0;

class QuietUi : public UserInterface {
 public:
  std::string first;
  int MessageBox(const std::string& text, const std::string&, uint32_t) override {
    if (first.empty()) first = text;
    return kIdOk;
  }
};

// A file of the build tree as the test's platform names it.
std::string BuildTreePath(std::string host) {
#ifdef _WIN32
  // Wine shows the host's root as drive Z:.
  std::replace(host.begin(), host.end(), '/', '\\');
  return "Z:" + host;
#else
  return HostToWindowsPath(host);
#endif
}

// A path of the platform as the setup program sees it (the script on the
// emulated machine works with host paths).
std::string ProgramSidePath(const std::string& path) {
#ifdef _WIN32
  return path;
#else
  return WindowsToHostPath(path);
#endif
}

// Folder names compare without regard to case (wine may spell the
// temporary folder's parents differently from TEMP).
std::string Lower(std::string text) {
  for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

class StubProgramTest : public test::ProgramFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    ResetLogState();
    full_stub_ = BuildTreePath(CRX_FULL_STUB_FILE);
    min_stub_ = BuildTreePath(CRX_MIN_STUB_FILE);
    ASSERT_FALSE(full_stub_.empty());
    // The stub's activity log is on, so its lines can be checked.
    NameStubs(full_stub_, min_stub_);
    if (HasFatalFailure()) return;

    UseTempFolder(false);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(p().environment.Set("CRX_RUN_RECORD", ProgramSidePath(At("record.txt"))));
    ASSERT_TRUE(p().files.CreateFolder(At("product")));
    WriteSetupProgram(At("product\\setup.exe"));
    Write(At("product\\readme.txt"), std::string(20000, 'r') + "\r\nend\r\n");
  }

  void TearDown() override {
    p().environment.Unset("CRX_ANSWERS");
    p().environment.Unset("CRX_RUN_RECORD");
    p().environment.Unset("CRX_RUN_RESTART");
  }

  // A setup program that appends "cmd=<its command line>" and "cwd=<its
  // folder>" to the file CRX_RUN_RECORD names and, with CRX_RUN_RESTART
  // set, leaves the restart marker in its folder.
  void WriteSetupProgram(const std::string& path) {
#ifdef _WIN32
    ASSERT_TRUE(p().files.CopyFile(BuildTreePath(CRX_RECORD_PROGRAM), path, false));
#else
    Write(path,
          "#!/bin/sh\n"
          "[ -n \"$CRX_RUN_RESTART\" ] && : > __restart_env__.tmp\n"
          "printf 'cmd=%s\\ncwd=%s\\n' \"$CRX_COMMAND_LINE\" \"$(pwd)\" >> \"$CRX_RUN_RECORD\"\n");
#endif
    program_bytes_ = Read(path);
  }

  // What the setup program wrote down, or "<missing>".
  std::string Record() { return Read(At("record.txt")); }
  std::string Ran(const std::string& command_line, const std::string& folder) {
    return "cmd=" + command_line + "\ncwd=" + Lower(ProgramSidePath(folder)) + "\n";
  }
  // The record with its folders in lower case.
  std::string RecordLowerFolders() {
    std::string record = Record();
    std::string out;
    size_t at = 0;
    while (at < record.size()) {
      size_t end = record.find('\n', at);
      if (end == std::string::npos) end = record.size() - 1;
      std::string line = record.substr(at, end + 1 - at);
      out += line.rfind("cwd=", 0) == 0 ? Lower(line) : line;
      at = end + 1;
    }
    return out;
  }

  // A setup archive of the product behind the full (or minimal) stub,
  // whose setup program and program to wait for are program.
  void Build(const std::string& archive, bool minimal, const std::string& password,
             const std::string& program = "setup.exe") {
    QuietUi ui;
    ArchiveEngine engine(p(), ui);
    engine.SetOptions(minimal ? "+SZM" : "+SZ");
    SetupInfo& info = engine.setup_info();
    info.company = "Velmora";
    info.product = "Widget";
    info.description = "Widget tools";
    info.setup_program = program;
    info.wait_program = program;
    if (!password.empty()) engine.set_password_digest(DigestFromPaddedPassword(password));
    ASSERT_TRUE(engine.CreateArchive(archive)) << ui.first;
    ASSERT_TRUE(engine.AddFile(At("product\\setup.exe"), "setup.exe")) << ui.first;
    ASSERT_TRUE(engine.AddFile(At("product\\readme.txt"), "docs\\readme.txt")) << ui.first;
    ASSERT_TRUE(engine.CloseArchive()) << ui.first;
    // The creation's activity log shares the stub's folder.
    p().files.DeleteFile(At("temp\\Cratex.log"));
  }

  // A plain archive (no setup information) of the product behind the full
  // or minimal stub.
  void BuildPlain(const std::string& archive, bool minimal) {
    QuietUi ui;
    ArchiveEngine engine(p(), ui);
    engine.SetOptions(minimal ? "+ZM" : "+Z");
    ASSERT_TRUE(engine.CreateArchive(archive)) << ui.first;
    ASSERT_TRUE(engine.AddFile(At("product\\setup.exe"), "setup.exe")) << ui.first;
    ASSERT_TRUE(engine.AddFile(At("product\\readme.txt"), "docs\\readme.txt")) << ui.first;
    ASSERT_TRUE(engine.CloseArchive()) << ui.first;
    p().files.DeleteFile(At("temp\\Cratex.log"));
  }

  int Run(const std::string& program, const std::string& arguments) {
    return test::RunAndWait(p().processes, "\"" + program + "\" " + arguments, StartOptions(),
                            120000);
  }

  void ExpectExtractedInto(const std::string& folder) {
    EXPECT_TRUE(program_bytes_ == Read(folder + "\\setup.exe")) << folder;
    EXPECT_TRUE(std::string(20000, 'r') + "\r\nend\r\n" == Read(folder + "\\docs\\readme.txt"))
        << folder;
  }

  // After the clean-up: the members are gone, and so are the sub-folder
  // the extraction made for one of them and the temporary folder.
  void ExpectCleanedUp(const std::string& folder, const std::string& log) {
    EXPECT_FALSE(p().files.Exists(folder));
    EXPECT_NE(std::string::npos,
              log.find("CLEANUP PHASE\n(0) remove file 'setup.exe'\n"
                       "(1) remove file 'docs\\readme.txt'\n"))
        << log;
    EXPECT_NE(std::string::npos, log.find(Format("remove directory '%s'\n", folder.c_str())))
        << log;
    EXPECT_EQ(std::string::npos, log.find("error")) << log;
  }

  std::string full_stub_, min_stub_;
  std::string program_bytes_;
};

TEST_F(StubProgramTest, FullStubRunsTheSetupProgramSilentlyAndCleansUp) {
  int64_t size = 0;
  {
    std::unique_ptr<File> stub =
        p().files.Open(full_stub_, kAccessRead, kShareRead, Disposition::kOpenExisting);
    ASSERT_TRUE(stub && stub->Size(&size));
  }
  ASSERT_EQ(FULL_STUB_SIZE, size);
  const std::string archive = At("widget.exe");
  Build(archive, false, "");

  EXPECT_EQ(kExitDone, Run(archive, "/sms:silent"));
  const std::string folder = At("temp\\__CRX_tmp_0__");
  EXPECT_EQ(Ran(".\\setup.exe /sms:silent", folder), RecordLowerFolders());
  std::string log = Read(At("temp\\Cratex.log"));
  EXPECT_NE(std::string::npos,
            log.find("SETUP PHASE: RUN PROGRAM <setup.exe> (.\\setup.exe /sms:silent)\n"
                     "(waiting for program to compltete)\n(program is compltete)\n"
                     "FINAL SETUP PHASE...\n"))
      << log;
  ExpectCleanedUp(folder, log);
  // The hand-off file names the running archive.
  EXPECT_EQ(Lower(archive) + "\n", Lower(Read(At("temp\\crxfin.dat"))));
  EXPECT_FALSE(p().files.Exists(At("temp\\crxfinalize.exe")));
  const std::string end = "Cratex COMPLETE\n(close extracting archive)\n";
  EXPECT_EQ(log.size() - end.size(), log.rfind(end)) << log;

  // Run again: the first folder is gone, so its name is used again.
  p().files.DeleteFile(At("record.txt"));
  EXPECT_EQ(kExitDone, Run(archive, "/sms:silent"));
  EXPECT_EQ(Ran(".\\setup.exe /sms:silent", folder), RecordLowerFolders());
  ExpectCleanedUp(folder, Read(At("temp\\Cratex.log")));
}

TEST_F(StubProgramTest, MinimalStubTakesItsPasswordFromTheResponseFile) {
  const std::string archive = At("locked.exe");
  Build(archive, true, "opensesame");
  Write(At("answers.ini"), "[Cratex]\r\npassword=opensesame\r\n");
  // The installation asks to go on after a restart: everything stays.
  ASSERT_TRUE(p().environment.Set("CRX_RUN_RESTART", "1"));

  // Only the path is the response file; the words behind it are ignored,
  // and the path goes on to the setup program as it was given.
  EXPECT_EQ(kExitDone, Run(archive, "/sms:" + At("answers.ini") + " /q more words"));
  const std::string folder = At("temp\\__CRX_tmp_0__");
  EXPECT_EQ(Ran(".\\setup.exe /sms:" + At("answers.ini"), folder), RecordLowerFolders());
  ExpectExtractedInto(folder);
  EXPECT_TRUE(p().files.Exists(folder + "\\__restart_env__.tmp"));
  const std::string log = Read(At("temp\\Cratex.log"));
  EXPECT_NE(std::string::npos, log.find("setup phase: run program <setup.exe> (.\\setup.exe /sms:" +
                                        At("answers.ini") + ")\n"))
      << log;
  EXPECT_EQ(std::string::npos, log.find("CLEANUP PHASE")) << log;

  // A wrong password ends the run before anything is extracted.
  Write(At("answers.ini"), "[Cratex]\r\npassword=wrong\r\n");
  EXPECT_EQ(1, Run(archive, "/sms:" + At("answers.ini")));
  EXPECT_EQ("\nMESSAGE (flags=0x0)\nERROR - invalid passwd in RESPONSE file\n",
            Read(At("temp\\Cratex.log")));
  EXPECT_FALSE(p().files.Exists(At("temp\\__CRX_tmp_1__")));
}

TEST_F(StubProgramTest, InteractiveRunTakesItsAnswersFromTheAnswersFile) {
  const std::string archive = At("widget.exe");
  Build(archive, false, "");
  ASSERT_TRUE(p().environment.Set("CRX_ANSWERS", At("answers.txt")));

  // Declined: nothing is created.
  Write(At("answers.txt"), "SetupConfirm NO\n");
  EXPECT_EQ(2, Run(archive, ""));
  EXPECT_FALSE(p().files.Exists(At("temp\\__CRX_tmp_0__")));
  EXPECT_EQ("<missing>", Record());

  // Browse (the list-only browser, closed at once), then YES. "/SMS:" is
  // not the silent option, so the setup program gets no "/sms:" either.
  Write(At("answers.txt"), "SetupConfirm Browse\nBrowse Close\nSetupConfirm YES\n");
  EXPECT_EQ(kExitDone, Run(archive, "/SMS:silent"));
  EXPECT_EQ(Ran(".\\setup.exe", At("temp\\__CRX_tmp_0__")), RecordLowerFolders());
  ExpectCleanedUp(At("temp\\__CRX_tmp_0__"), Read(At("temp\\Cratex.log")));

  // A setup program that is not in the archive cannot be started: the
  // message about it finds the answers file used up, which ends the
  // program instead of waiting; the extracted files stay.
  p().files.DeleteFile(At("record.txt"));
  Build(archive, false, "", "absent.exe");
  Write(At("answers.txt"), "SetupConfirm YES\n");
  EXPECT_EQ(97, Run(archive, ""));
  ExpectExtractedInto(At("temp\\__CRX_tmp_0__"));
  EXPECT_EQ("<missing>", Record());
}

TEST_F(StubProgramTest, PlainArchivesOpenTheBrowserOfEitherStub) {
  ASSERT_TRUE(p().environment.Set("CRX_ANSWERS", At("answers.txt")));
  for (bool minimal : {false, true}) {
    SCOPED_TRACE(minimal ? "minimal stub" : "full stub");
    const std::string archive = At(minimal ? "plainm.exe" : "plain.exe");
    const std::string out = At(minimal ? "outm" : "out");
    BuildPlain(archive, minimal);
    ASSERT_TRUE(p().files.CreateFolder(out));

    // Silent mode browses too: the second row into the chosen folder,
    // then everything flattened into it.
    Write(At("answers.txt"),
          "Browse GetSelected Selection=2 ToLocations=0 \"OutputFolder=" + out + "\"\n"
          "Browse GetAll Selection= Flatten=1 Replace=always\n"
          "Browse Close\n");
    EXPECT_EQ(kExitDone, Run(archive, "/sms:silent"));
    EXPECT_TRUE(std::string(20000, 'r') + "\r\nend\r\n" == Read(out + "\\docs\\readme.txt"));
    EXPECT_TRUE(program_bytes_ == Read(out + "\\setup.exe"));
    EXPECT_TRUE(std::string(20000, 'r') + "\r\nend\r\n" == Read(out + "\\readme.txt"));
    // Nothing was run and no temporary folder made.
    EXPECT_EQ("<missing>", Record());
    EXPECT_FALSE(p().files.Exists(At("temp\\__CRX_tmp_0__")));

    // An answers file without a Browse answer ends the run as unanswered.
    Write(At("answers.txt"), "");
    EXPECT_EQ(97, Run(archive, ""));
  }
}

// A plain archive whose disks were copied into one folder: either stub
// reads on in the volume files beside its own, without a question, where
// a volume ends inside a member's data and where one ends before a member
// record.
TEST_F(StubProgramTest, EitherStubReadsOnInTheVolumeFilesBesideIt) {
  ASSERT_TRUE(p().environment.Set("CRX_ANSWERS", At("answers.txt")));
  for (bool minimal : {false, true}) {
    SCOPED_TRACE(minimal ? "minimal stub" : "full stub");
    const std::string whole = At(minimal ? "wholem.exe" : "whole.exe");
    BuildPlain(whole, minimal);
    const std::vector<std::string> volumes =
        test::CutIntoVolumes(Read(whole), minimal ? MIN_STUB_SIZE : FULL_STUB_SIZE, 0, 1);
    ASSERT_EQ(volumes.size(), 3u);
    const std::string first = At(minimal ? "setm.exe" : "set.exe");
    Write(first, volumes[0]);
    Write(first + "-1", volumes[1]);
    Write(first + "-2", volumes[2]);
    const std::string out = At(minimal ? "outm" : "out");
    ASSERT_TRUE(p().files.CreateFolder(out));

    // Any question would find no answer and end the run with 97.
    Write(At("answers.txt"),
          "Browse GetAll ToLocations=0 \"OutputFolder=" + out + "\"\n"
          "Browse Close\n");
    EXPECT_EQ(kExitDone, Run(first, ""));
    EXPECT_TRUE(program_bytes_ == Read(out + "\\setup.exe"));
    EXPECT_TRUE(std::string(20000, 'r') + "\r\nend\r\n" == Read(out + "\\docs\\readme.txt"));
  }
}

#ifndef _WIN32
// The dynamic section of an ELF program: its run paths and the libraries
// it needs, by name. False when the file is not a 64-bit ELF program.
struct DynamicInfo {
  bool run_path = false;
  std::vector<std::string> needed;
};

bool ReadDynamicInfo(const std::string& path, DynamicInfo* info) {
  std::ifstream in(path, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.size() < sizeof(Elf64_Ehdr) || data.compare(0, 4, ELFMAG) != 0 ||
      data[EI_CLASS] != ELFCLASS64)
    return false;
  Elf64_Ehdr eh;
  std::memcpy(&eh, data.data(), sizeof eh);
  std::vector<Elf64_Phdr> segments(eh.e_phnum);
  for (size_t i = 0; i < segments.size(); ++i) {
    const size_t at = eh.e_phoff + i * sizeof(Elf64_Phdr);
    if (at + sizeof(Elf64_Phdr) > data.size()) return false;
    std::memcpy(&segments[i], data.data() + at, sizeof(Elf64_Phdr));
  }
  // A run-time address as an offset in the file.
  auto offset_of = [&](uint64_t address, uint64_t* offset) {
    for (const Elf64_Phdr& s : segments) {
      if (s.p_type == PT_LOAD && address >= s.p_vaddr && address < s.p_vaddr + s.p_filesz) {
        *offset = address - s.p_vaddr + s.p_offset;
        return true;
      }
    }
    return false;
  };
  for (const Elf64_Phdr& s : segments) {
    if (s.p_type != PT_DYNAMIC) continue;
    std::vector<uint64_t> needed;
    uint64_t strtab = 0;
    for (uint64_t at = s.p_offset; at + sizeof(Elf64_Dyn) <= s.p_offset + s.p_filesz;
         at += sizeof(Elf64_Dyn)) {
      if (at + sizeof(Elf64_Dyn) > data.size()) return false;
      Elf64_Dyn d;
      std::memcpy(&d, data.data() + at, sizeof d);
      if (d.d_tag == DT_NULL) break;
      if (d.d_tag == DT_RPATH || d.d_tag == DT_RUNPATH) info->run_path = true;
      if (d.d_tag == DT_NEEDED) needed.push_back(d.d_un.d_val);
      if (d.d_tag == DT_STRTAB) strtab = d.d_un.d_ptr;
    }
    uint64_t table = 0;
    if (!offset_of(strtab, &table)) return false;
    for (uint64_t n : needed) {
      if (table + n >= data.size()) return false;
      info->needed.push_back(data.c_str() + table + n);
    }
    return true;
  }
  return false;
}

// Runs a shell command line; its output (standard error included) and
// exit status.
int RunCapturing(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, got);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// An archive built on Linux runs wherever it is copied: the stubs carry
// no run path and need only the system's libraries; the machine's code is
// the private copy in the machine folder, loaded only when nobody else
// could have changed it.
TEST_F(StubProgramTest, LinuxArchivesNeedNothingFromTheBuildTree) {
  for (const char* stub : {CRX_FULL_STUB_FILE, CRX_MIN_STUB_FILE}) {
    SCOPED_TRACE(stub);
    DynamicInfo info;
    ASSERT_TRUE(ReadDynamicInfo(stub, &info));
    EXPECT_FALSE(info.run_path);
    ASSERT_FALSE(info.needed.empty());
    for (const std::string& name : info.needed) {
      EXPECT_EQ(std::string::npos, name.find('/')) << name;
      EXPECT_EQ(std::string::npos, name.find("crx")) << name;
    }
    std::string ldd;
    EXPECT_EQ(0, RunCapturing("PATH=/usr/bin:/bin ldd " + Quoted(stub), &ldd)) << ldd;
    EXPECT_EQ(std::string::npos, ldd.find("not found")) << ldd;
    EXPECT_EQ(std::string::npos, ldd.find(CRX_BUILD_DIR)) << ldd;
  }

  // Opening the machine put a private copy of the library in it.
  const std::string machine = tp_.MachineFolder();
  const std::string lib_folder = machine + "/lib";
  const std::string library = lib_folder + "/" + kMachineLibraryFile;
  struct stat st;
  ASSERT_EQ(0, ::lstat(lib_folder.c_str(), &st));
  EXPECT_EQ(0u, st.st_mode & 077);
  ASSERT_EQ(0, ::lstat(library.c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));

  // The archive, copied to a folder of its own, runs from another folder.
  ASSERT_TRUE(p().files.CreateFolder(At("copy")));
  ASSERT_TRUE(p().files.CreateFolder(At("elsewhere")));
  Build(At("widget.exe"), true, "");
  ASSERT_TRUE(p().files.CopyFile(At("widget.exe"), At("copy\\widget.exe"), false));
  StartOptions elsewhere;
  elsewhere.folder = At("elsewhere");
  EXPECT_EQ(kExitDone, test::RunAndWait(p().processes, "\"" + At("copy\\widget.exe") +
                                                           "\" /sms:silent",
                                        elsewhere, 120000));
  EXPECT_EQ(Ran(".\\setup.exe /sms:silent", At("temp\\__CRX_tmp_0__")), RecordLowerFolders());

  // A library others could have changed, one reached through a link, a
  // file that is no library, or none at all: the stub refuses, says why,
  // and runs nothing.
  const std::string run = "CRX_MACHINE=" + Quoted(machine) + " " +
                          Quoted(WindowsToHostPath(At("copy\\widget.exe"))) + " /sms:silent";
  auto expect_refused = [&](const std::string& why) {
    SCOPED_TRACE(why);
    p().files.DeleteFile(At("record.txt"));
    std::string output;
    EXPECT_NE(0, RunCapturing(run, &output));
    EXPECT_NE(std::string::npos, output.find("cannot open the emulated machine")) << output;
    EXPECT_NE(std::string::npos, output.find(why)) << output;
    EXPECT_EQ("<missing>", Record());
  };
  ASSERT_EQ(0, ::chmod(library.c_str(), 0720));
  expect_refused("may be changed by other users");
  ASSERT_EQ(0, ::chmod(library.c_str(), 0700));
  ASSERT_EQ(0, ::chmod(lib_folder.c_str(), 0770));
  expect_refused(lib_folder + " may be changed by other users");
  ASSERT_EQ(0, ::chmod(lib_folder.c_str(), 0700));
  ASSERT_EQ(0, ::stat(machine.c_str(), &st));
  ASSERT_EQ(0, ::chmod(machine.c_str(), (st.st_mode & 0777) | S_IWOTH));
  expect_refused(machine + " may be changed by other users");
  ASSERT_EQ(0, ::chmod(machine.c_str(), st.st_mode & 0777));
  ASSERT_EQ(0, ::unlink(library.c_str()));
  ASSERT_EQ(0, ::symlink(CRX_MACHINE_LIBRARY_FILE, library.c_str()));
  expect_refused("it is a symbolic link");
  ASSERT_EQ(0, ::unlink(library.c_str()));
  {
    std::ofstream junk(library, std::ios::binary);
    junk << "not a library";
  }
  ASSERT_EQ(0, ::chmod(library.c_str(), 0600));
  expect_refused("cannot load the machine library");
  ASSERT_EQ(0, ::unlink(library.c_str()));
  expect_refused("has no machine library");

  // A machine made under a umask that lets the group write is still the
  // user's alone, so its archives run.
  const std::string fresh = WindowsToHostPath(At("fresh"));
  ASSERT_FALSE(fresh.empty());
  std::string made;
  ASSERT_EQ(0, RunCapturing("umask 002 && CRX_MACHINE=" + Quoted(fresh) + " " +
                                Quoted(CRX_MACHINE_TOOL) + " show",
                            &made))
      << made;
  ASSERT_EQ(0, ::stat(fresh.c_str(), &st));
  EXPECT_EQ(0u, st.st_mode & (S_IWGRP | S_IWOTH));
  std::string fresh_run;
  RunCapturing("CRX_MACHINE=" + Quoted(fresh) + " " +
                   Quoted(WindowsToHostPath(At("copy\\widget.exe"))) + " /sms:silent",
               &fresh_run);
  EXPECT_EQ(std::string::npos, fresh_run.find("cannot open the emulated machine")) << fresh_run;

  // Put back by the tools: the archive runs again.
  std::string error;
  ASSERT_TRUE(InstallMachineLibrary(machine, CRX_MACHINE_LIBRARY_FILE, &error)) << error;
  ASSERT_TRUE(InstallMachineLibrary(machine, CRX_MACHINE_LIBRARY_FILE, &error)) << error;
  p().files.DeleteFile(At("record.txt"));
  std::string output;
  EXPECT_EQ(kExitDone, RunCapturing(run, &output)) << output;
  EXPECT_EQ(Ran(".\\setup.exe /sms:silent", At("temp\\__CRX_tmp_0__")), RecordLowerFolders());
}

// Ends the processes whose ids the test's programs wrote into files, and
// the stub, on every way out of the test.
class ProcessReaper {
 public:
  explicit ProcessReaper(std::vector<std::string> pid_files) : pid_files_(std::move(pid_files)) {}
  ProcessReaper(const ProcessReaper&) = delete;
  ProcessReaper& operator=(const ProcessReaper&) = delete;
  ~ProcessReaper() {
    if (stub) stub->Terminate(1);
    for (const std::string& file : pid_files_) {
      std::ifstream in(file);
      long pid = 0;
      if (in >> pid && pid > 1) ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
  }
  std::unique_ptr<Process> stub;

 private:
  std::vector<std::string> pid_files_;
};

// A setup program that starts a second stage through the machine and ends
// at once: the stub must wait until the second stage (the program named to
// wait for) has ended before it cleans up, as on Windows, because the
// machine does not let a running program's file be deleted.
TEST_F(StubProgramTest, StubWaitsForTheSecondStageBeforeCleaningUp) {
  ASSERT_TRUE(p().files.CreateFolder(At("pids")));
  const std::string pids = ProgramSidePath(At("pids"));
  const std::string folder = At("temp\\__CRX_tmp_0__");
  ASSERT_TRUE(p().environment.Set("CRX_TEST_TOOL", CRX_MACHINE_TOOL));
  ASSERT_TRUE(p().environment.Set("CRX_TEST_STAGE2", folder + "\\stage2.exe"));
  ASSERT_TRUE(p().environment.Set("CRX_TEST_PIDS", pids));
  // Each loop is bounded (two minutes), so nothing outlives a lost test.
  Write(At("product\\setup.exe"),
        "#!/bin/sh\n"
        "echo $$ > \"$CRX_TEST_PIDS/setup.pid\"\n"
        "\"$CRX_TEST_TOOL\" run \"$CRX_TEST_STAGE2\" >\"$CRX_TEST_PIDS/tool.txt\" 2>&1 &\n"
        "echo $! > \"$CRX_TEST_PIDS/tool.pid\"\n"
        "i=0\n"
        "while [ ! -f \"$CRX_TEST_PIDS/stage2.pid\" ] && [ $i -lt 1200 ]; do\n"
        "  /bin/sleep 0.1; i=$((i+1))\n"
        "done\n"
        "printf 'cmd=%s\\ncwd=%s\\n' \"$CRX_COMMAND_LINE\" \"$(pwd)\" >> \"$CRX_RUN_RECORD\"\n");
  Write(At("product\\stage2.exe"),
        "#!/bin/sh\n"
        "echo $$ > \"$CRX_TEST_PIDS/stage2.pid\"\n"
        "i=0\n"
        "while [ ! -f \"$CRX_TEST_PIDS/release\" ] && [ $i -lt 1200 ]; do\n"
        "  /bin/sleep 0.1; i=$((i+1))\n"
        "done\n");
  const std::string archive = At("staged.exe");
  {
    QuietUi ui;
    ArchiveEngine engine(p(), ui);
    engine.SetOptions("+SZ");
    SetupInfo& info = engine.setup_info();
    info.company = "Velmora";
    info.product = "Widget";
    info.description = "Widget tools";
    info.setup_program = "setup.exe";
    info.wait_program = "stage2.exe";
    ASSERT_TRUE(engine.CreateArchive(archive)) << ui.first;
    ASSERT_TRUE(engine.AddFile(At("product\\setup.exe"), "setup.exe")) << ui.first;
    ASSERT_TRUE(engine.AddFile(At("product\\stage2.exe"), "stage2.exe")) << ui.first;
    ASSERT_TRUE(engine.CloseArchive()) << ui.first;
    p().files.DeleteFile(At("temp\\Cratex.log"));
  }

  ProcessReaper reaper({pids + "/setup.pid", pids + "/tool.pid", pids + "/stage2.pid"});
  reaper.stub = p().processes.Start("\"" + archive + "\" /sms:silent", StartOptions());
  ASSERT_TRUE(reaper.stub);

  // The setup program has ended and the stub has begun its wait.
  const std::string waiting = "wait for {stage2.exe:setup.exe}\n";
  std::string log;
  for (int i = 0; i < 600 && log.find(waiting) == std::string::npos; ++i) {
    const bool ended = reaper.stub->Wait(100) == WaitResult::kDone;
    log = Read(At("temp\\Cratex.log"));
    if (ended) break;
  }
  ASSERT_NE(std::string::npos, log.find(waiting)) << log << Read(At("pids\\tool.txt"));
  EXPECT_EQ(Ran(".\\setup.exe /sms:silent", folder), RecordLowerFolders());

  // While the second stage runs, the stub keeps waiting and keeps its files.
  EXPECT_EQ(WaitResult::kTimeout, reaper.stub->Wait(2000));
  EXPECT_TRUE(p().files.Exists(folder + "\\stage2.exe"));
  EXPECT_TRUE(p().files.Exists(folder + "\\setup.exe"));
  EXPECT_EQ(std::string::npos, Read(At("temp\\Cratex.log")).find("CLEANUP PHASE"));

  // Once it has ended, the stub cleans up and ends.
  Write(At("pids\\release"), "");
  ASSERT_EQ(WaitResult::kDone, reaper.stub->Wait(120000));
  uint32_t code = 1;
  ASSERT_TRUE(reaper.stub->ExitCode(&code));
  EXPECT_EQ(static_cast<uint32_t>(kExitDone), code);
  EXPECT_FALSE(p().files.Exists(folder));
  log = Read(At("temp\\Cratex.log"));
  EXPECT_NE(std::string::npos, log.find(waiting + "CLEANUP PHASE\n")) << log;
  EXPECT_NE(std::string::npos, log.find(Format("remove directory '%s'\n", folder.c_str()))) << log;
}
#endif

}  // namespace
}  // namespace crx
