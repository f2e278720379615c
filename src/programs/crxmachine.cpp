// crxmachine: creates and inspects the emulated Windows machine that the
// Linux builds of Cratex run in. See Usage() for the commands.
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/winpath.h"
#include "platform/platform.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/machine.h"
#include "platform/posix/machine_reboot.h"
#include "platform/registry_text.h"

namespace crx {
namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: crxmachine [--machine DIR] COMMAND [ARGUMENTS]\n"
    "\n"
    "The machine is the folder named by --machine, else by CRX_MACHINE, else\n"
    "$XDG_DATA_HOME/cratex/machine (~/.local/share/cratex/machine). It is\n"
    "created on first use.\n"
    "\n"
    "Commands:\n"
    "  create                      create the machine (nothing happens if it exists)\n"
    "  show                        the machine's folder, drives, user, version and\n"
    "                              environment\n"
    "  path WINPATH                the host path of a Windows path\n"
    "  winpath HOSTPATH            the Windows path of a host path\n"
    "  run COMMANDLINE             start a program of the machine with a Windows\n"
    "                              command line (one argument; the current folder\n"
    "                              is the host's), wait for it and exit with its\n"
    "                              exit status\n"
    "  reboot                      restart the machine: carry out the boot-time\n"
    "                              moves (PendingFileRenameOperations), the\n"
    "                              [Rename] section of C:\\WINDOWS\\wininit.ini and\n"
    "                              then the batch files of the user's Startup\n"
    "                              folder; one line per action; exit status 1 when\n"
    "                              something was not carried out\n"
    "  stubs HOSTDIR               point the builder at the self-extractor stubs\n"
    "                              Cratex.dat and Cratexm.dat in HOSTDIR (for\n"
    "                              example build/win64/stubs to build archives for\n"
    "                              Windows; a new machine has this build's own)\n"
    "  set NAME VALUE              change a machine setting: UserName, ComputerName,\n"
    "                              Version (major.minor.build), PlatformId (2 = NT,\n"
    "                              1 = Windows 95 family), ServicePack,\n"
    "                              Administrator (0/1), BootMoves (0/1),\n"
    "                              HostWrites (0/1: 1 lets programs on the machine\n"
    "                              write anywhere on host drives such as Z:; with 0,\n"
    "                              the default, they write only inside the machine\n"
    "                              folder and below folders their user named)\n"
    "  drive add LETTER HOSTDIR    add a fixed drive at a host folder\n"
    "  drive add LETTER --removable CAPACITY --media DIR [--media DIR...]\n"
    "                              add a removable drive of CAPACITY bytes whose\n"
    "                              disks are the host folders DIR (disk 1 is in)\n"
    "  drive insert LETTER N       put disk N of a removable drive in (0: none)\n"
    "  drive remove LETTER         remove a drive (not C:)\n"
    "  reg query KEY [VALUE]       show a key's values and subkeys, or one value\n"
    "  reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA]\n"
    "                              create a key, or set a value (TYPE: REG_SZ,\n"
    "                              REG_EXPAND_SZ, REG_DWORD, REG_BINARY, REG_MULTI_SZ;\n"
    "                              REG_DWORD data is decimal or 0x hexadecimal,\n"
    "                              REG_BINARY data hexadecimal digits, REG_MULTI_SZ\n"
    "                              strings are separated by \\0)\n"
    "  reg delete KEY [/v NAME | /ve]\n"
    "                              delete a key with its subkeys, or one value\n"
    "  reg export KEY [FILE]       write the key tree as REGEDIT4 text (to standard\n"
    "                              output without FILE)\n"
    "  reg import FILE             apply REGEDIT4 text\n"
    "\n"
    "KEY is a full key path such as HKLM\\SOFTWARE\\X or HKEY_CURRENT_USER\\Y.\n"
    "Exit status: 0 done, 1 failed (the reason is on standard error), 2 usage.\n";

int UsageError(const char* message) {
  std::fprintf(stderr, "crxmachine: %s\n\n%s", message, kUsageText);
  return kUsage;
}

int Failure(const std::string& message) {
  std::fprintf(stderr, "crxmachine: %s\n", message.c_str());
  return kFailed;
}

const char* TypeName(uint32_t type) {
  switch (type) {
    case kRegNone: return "REG_NONE";
    case kRegSz: return "REG_SZ";
    case kRegExpandSz: return "REG_EXPAND_SZ";
    case kRegBinary: return "REG_BINARY";
    case kRegDword: return "REG_DWORD";
    case kRegMultiSz: return "REG_MULTI_SZ";
    default: return nullptr;
  }
}

bool TypeFromName(const std::string& name, uint32_t* type) {
  static const uint32_t kTypes[] = {kRegSz, kRegExpandSz, kRegBinary, kRegDword, kRegMultiSz,
                                    kRegNone};
  for (uint32_t t : kTypes) {
    if (winpath::EqualsNoCase(name, TypeName(t))) {
      *type = t;
      return true;
    }
  }
  return false;
}

std::string ShowData(uint32_t type, const std::string& data) {
  if (type == kRegSz || type == kRegExpandSz) return data.substr(0, data.find('\0'));
  if (type == kRegDword && data.size() == 4) {
    uint32_t v = static_cast<uint8_t>(data[0]) | static_cast<uint8_t>(data[1]) << 8 |
                 static_cast<uint8_t>(data[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(data[3])) << 24;
    return Format("0x%x", v);
  }
  if (type == kRegMultiSz) {
    std::string out;
    size_t pos = 0;
    while (pos < data.size() && data[pos] != '\0') {
      size_t end = data.find('\0', pos);
      if (end == std::string::npos) end = data.size();
      if (!out.empty()) out += "\\0";
      out += data.substr(pos, end - pos);
      pos = end + 1;
    }
    return out;
  }
  std::string out;
  for (unsigned char c : data) AppendFormat(&out, "%02X", c);
  return out;
}

class Tool {
 public:
  Tool(HostPlatform& host, Machine& machine) : host_(host), machine_(machine) {}

  int Run(const std::vector<std::string>& args) {
    const std::string& command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "create") return rest.empty() ? Create() : UsageError("create takes no arguments");
    if (command == "show") return rest.empty() ? Show() : UsageError("show takes no arguments");
    if (command == "path") return rest.size() == 1 ? Path(rest[0]) : UsageError("path takes one Windows path");
    if (command == "winpath") {
      return rest.size() == 1 ? WinPath(rest[0]) : UsageError("winpath takes one host path");
    }
    if (command == "run") return rest.size() == 1 ? RunProgram(rest[0]) : UsageError("run takes one command line");
    if (command == "reboot") return rest.empty() ? Reboot() : UsageError("reboot takes no arguments");
    if (command == "stubs") return rest.size() == 1 ? Stubs(rest[0]) : UsageError("stubs takes one host folder");
    if (command == "set") return rest.size() == 2 ? Set(rest[0], rest[1]) : UsageError("set takes a name and a value");
    if (command == "drive") return Drive(rest);
    if (command == "reg") return Reg(rest);
    return UsageError(Format("unknown command '%s'", command.c_str()).c_str());
  }

 private:
  Platform& P() { return host_.Get(); }

  int Create() {
    std::printf("%s\n", machine_.Folder().c_str());
    return kOk;
  }

  int Show() {
    const MachineSettings& s = machine_.Settings();
    std::printf("Machine folder: %s\n", machine_.Folder().c_str());
    std::printf("User: %s\nComputer: %s\n", s.user_name.c_str(), s.computer_name.c_str());
    std::printf("Version: %u.%u.%u (platform id %u%s%s)\n", s.version.major, s.version.minor,
                s.version.build, s.version.platform_id, s.version.service_pack.empty() ? "" : ", ",
                s.version.service_pack.c_str());
    std::printf("Administrator: %s\nBoot-time moves: %s\n", s.administrator ? "yes" : "no",
                s.boot_moves ? "supported" : "not supported");
    std::printf("Host writes: %s\n", s.host_writes ? "allowed everywhere"
                                                    : "only below folders the user names");
    std::printf("Drives:\n");
    for (const MachineDrive& d : s.drives) {
      std::string root = Format("%c:\\", d.letter);
      std::printf("  %c: %s", d.letter, DriveTypeName(d.type));
      if (d.IsEmulatedRemovable()) {
        std::printf(", capacity %llu bytes, disk %d of %zu", static_cast<unsigned long long>(d.capacity),
                    d.current_media, d.media.size());
      }
      std::string folder = d.Root();
      std::printf(", host folder %s", folder.empty() ? "(no disk)" : folder.c_str());
      FreeSpace space;
      if (!folder.empty() && P().files.GetFreeSpace(root, &space)) {
        std::printf(", %llu of %llu bytes free", static_cast<unsigned long long>(space.free_to_caller),
                    static_cast<unsigned long long>(space.total));
      }
      std::printf("\n");
      for (size_t i = 0; i < d.media.size(); ++i) {
        std::printf("     disk %zu: %s\n", i + 1, d.media[i].c_str());
      }
    }
    std::printf("Environment:\n");
    for (const auto& [name, value] : s.environment) {
      std::printf("  %s=%s\n", name.c_str(), value.c_str());
    }
    return kOk;
  }

  int Path(const std::string& windows_path) {
    std::string host = WindowsToHostPath(windows_path);
    if (host.empty()) return Failure(Format("%s names nothing on the machine", windows_path.c_str()));
    std::printf("%s\n", host.c_str());
    return kOk;
  }

  int WinPath(const std::string& host_path) {
    std::string windows = HostToWindowsPath(host_path);
    if (windows.empty()) return Failure(Format("no drive of the machine holds %s", host_path.c_str()));
    std::printf("%s\n", windows.c_str());
    return kOk;
  }

  int RunProgram(const std::string& command_line) {
    std::unique_ptr<Process> process = P().processes.Start(command_line, StartOptions{});
    if (!process) {
      const uint32_t error = LastError();
      return Failure(Format("cannot start %s (error %u)", command_line.c_str(), error));
    }
    uint32_t code = 0;
    if (process->Wait(kInfinite) != WaitResult::kDone || !process->ExitCode(&code)) {
      return Failure(Format("lost track of %s", command_line.c_str()));
    }
    return static_cast<int>(code & 0xFF);
  }

  int Reboot() {
    // Programs that the Startup batch files start write to the same output:
    // each line goes out at once.
    bool ok = RebootMachine(P(), [](const std::string& line) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    });
    return ok ? kOk : kFailed;
  }

  int Stubs(const std::string& host_folder) {
    const std::string folder = HostToWindowsPath(host_folder);
    if (folder.empty()) return Failure(Format("no drive of the machine holds %s", host_folder.c_str()));
    for (const char* name : {"Cratex.dat", "Cratexm.dat"}) {
      if (!P().files.IsFile(winpath::Join(folder, name))) {
        return Failure(Format("%s has no %s (build the stubs first)", host_folder.c_str(), name));
      }
    }
    std::string error;
    if (!WriteBuilderStubs(P().registry, P().files, folder, &error)) return Failure(error);
    std::printf("datafile  = %s\nmdatafile = %s\n", winpath::Join(folder, "Cratex.dat").c_str(),
                winpath::Join(folder, "Cratexm.dat").c_str());
    return kOk;
  }

  int Save() {
    std::string error;
    if (!machine_.SaveSettings(&error)) return Failure(error);
    return kOk;
  }

  int Set(const std::string& name, const std::string& value) {
    MachineSettings& s = machine_.MutableSettings();
    auto flag = [&](bool* out) {
      if (value != "0" && value != "1") return UsageError("the value must be 0 or 1");
      *out = value == "1";
      return Save();
    };
    if (winpath::EqualsNoCase(name, "UserName") || winpath::EqualsNoCase(name, "ComputerName")) {
      if (value.empty()) return UsageError("the name must not be empty");
      (winpath::EqualsNoCase(name, "UserName") ? s.user_name : s.computer_name) = value;
      return Save();
    }
    if (winpath::EqualsNoCase(name, "Version")) {
      unsigned a = 0, b = 0, c = 0;
      char extra = 0;
      if (std::sscanf(value.c_str(), "%u.%u.%u%c", &a, &b, &c, &extra) != 3) {
        return UsageError("the version must be major.minor.build");
      }
      s.version.major = a;
      s.version.minor = b;
      s.version.build = c;
      return Save();
    }
    if (winpath::EqualsNoCase(name, "PlatformId")) {
      if (value != "1" && value != "2") return UsageError("the platform id must be 1 or 2");
      s.version.platform_id = value == "1" ? 1 : 2;
      return Save();
    }
    if (winpath::EqualsNoCase(name, "ServicePack")) {
      s.version.service_pack = value;
      return Save();
    }
    if (winpath::EqualsNoCase(name, "Administrator")) return flag(&s.administrator);
    if (winpath::EqualsNoCase(name, "BootMoves")) return flag(&s.boot_moves);
    if (winpath::EqualsNoCase(name, "HostWrites")) return flag(&s.host_writes);
    return UsageError(Format("unknown setting '%s'", name.c_str()).c_str());
  }

  static bool ParseLetter(const std::string& text, char* letter) {
    std::string t = text;
    if (t.size() == 2 && t[1] == ':') t.pop_back();
    if (t.size() != 1 || !std::isalpha(static_cast<unsigned char>(t[0]))) return false;
    *letter = static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
    return true;
  }

  static std::string AbsoluteHost(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
  }

  int Drive(const std::vector<std::string>& args) {
    if (args.empty()) return UsageError("drive needs add, insert or remove");
    MachineSettings& s = machine_.MutableSettings();
    char letter = 0;
    if (args.size() < 2 || !ParseLetter(args[1], &letter)) return UsageError("drive needs a drive letter");
    const std::string& verb = args[0];
    if (verb == "add") {
      if (machine_.FindDrive(letter)) return Failure(Format("drive %c: exists already", letter));
      MachineDrive d;
      d.letter = letter;
      d.serial = 0x1000u + static_cast<uint32_t>(letter);
      if (args.size() == 3 && args[2].compare(0, 2, "--") != 0) {
        d.folder = AbsoluteHost(args[2]);
      } else {
        d.type = DriveType::kRemovable;
        for (size_t i = 2; i < args.size(); ++i) {
          if (args[i] == "--removable" && i + 1 < args.size()) {
            char* end = nullptr;
            d.capacity = std::strtoull(args[++i].c_str(), &end, 10);
            if (!end || *end || d.capacity == 0) return UsageError("the capacity must be a number of bytes");
          } else if (args[i] == "--media" && i + 1 < args.size()) {
            d.media.push_back(AbsoluteHost(args[++i]));
            d.media_labels.push_back(Format("DISK%zu", d.media.size()));
            d.media_serials.push_back(0x1000u * static_cast<uint32_t>(letter) +
                                      static_cast<uint32_t>(d.media.size()));
          } else {
            return UsageError(Format("unexpected '%s'", args[i].c_str()).c_str());
          }
        }
        if (d.capacity == 0 || d.media.empty()) {
          return UsageError("a removable drive needs --removable CAPACITY and --media DIR");
        }
        d.current_media = 1;
      }
      s.drives.push_back(d);
      return Save();
    }
    if (verb == "insert") {
      if (args.size() != 3) return UsageError("drive insert needs a letter and a disk number");
      MachineDrive* d = nullptr;
      for (MachineDrive& x : s.drives) {
        if (x.letter == letter) d = &x;
      }
      if (!d || !d->IsEmulatedRemovable()) {
        return Failure(Format("drive %c: is not a removable drive with disks", letter));
      }
      char* end = nullptr;
      long n = std::strtol(args[2].c_str(), &end, 10);
      if (!end || *end || n < 0 || n > static_cast<long>(d->media.size())) {
        return UsageError("no such disk");
      }
      d->current_media = static_cast<int>(n);
      return Save();
    }
    if (verb == "remove") {
      if (args.size() != 2) return UsageError("drive remove takes a letter");
      if (letter == 'C') return Failure("drive C: cannot be removed");
      for (size_t i = 0; i < s.drives.size(); ++i) {
        if (s.drives[i].letter == letter) {
          s.drives.erase(s.drives.begin() + static_cast<long>(i));
          return Save();
        }
      }
      return Failure(Format("there is no drive %c:", letter));
    }
    return UsageError(Format("unknown drive command '%s'", verb.c_str()).c_str());
  }

  int Reg(const std::vector<std::string>& args) {
    if (args.size() < 2) return UsageError("reg needs a command and a key");
    const std::string& verb = args[0];
    Registry& reg = P().registry;
    if (verb == "import") {
      if (args.size() != 2) return UsageError("reg import takes one file");
      FILE* f = std::fopen(args[1].c_str(), "rb");
      if (!f) return Failure(Format("cannot read %s: %s", args[1].c_str(), std::strerror(errno)));
      std::string text;
      char buf[8192];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
      std::fclose(f);
      std::string error;
      if (!ImportRegistryText(reg, text, &error)) return Failure(error);
      return kOk;
    }
    RegKey root = 0;
    std::string sub_key;
    if (!ParseRegistryPath(args[1], &root, &sub_key)) {
      return Failure(Format("%s is not a registry key path", args[1].c_str()));
    }
    if (verb == "query") {
      if (args.size() > 3) return UsageError("reg query takes a key and at most one value name");
      return Query(reg, root, sub_key, args[1], args.size() == 3 ? &args[2] : nullptr);
    }
    if (verb == "export") {
      if (args.size() > 3) return UsageError("reg export takes a key and at most one file");
      std::string text, error;
      if (!ExportRegistryText(reg, args[1], &text, &error)) return Failure(error);
      if (args.size() == 2) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return kOk;
      }
      FILE* f = std::fopen(args[2].c_str(), "wb");
      if (!f) return Failure(Format("cannot write %s: %s", args[2].c_str(), std::strerror(errno)));
      bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
      ok = std::fclose(f) == 0 && ok;
      return ok ? kOk : Failure(Format("cannot write %s", args[2].c_str()));
    }
    // add and delete: /v NAME, /ve, /t TYPE, /d DATA.
    std::string name;
    bool has_value = false;
    uint32_t type = kRegSz;
    std::string data;
    for (size_t i = 2; i < args.size(); ++i) {
      const std::string& a = args[i];
      if (winpath::EqualsNoCase(a, "/v") && i + 1 < args.size()) {
        name = args[++i];
        has_value = true;
      } else if (winpath::EqualsNoCase(a, "/ve")) {
        name.clear();
        has_value = true;
      } else if (verb == "add" && winpath::EqualsNoCase(a, "/t") && i + 1 < args.size()) {
        if (!TypeFromName(args[++i], &type)) return UsageError("unknown value type");
      } else if (verb == "add" && winpath::EqualsNoCase(a, "/d") && i + 1 < args.size()) {
        data = args[++i];
      } else {
        return UsageError(Format("unexpected '%s'", a.c_str()).c_str());
      }
    }
    if (verb == "add") return Add(reg, root, sub_key, has_value, name, type, data);
    if (verb == "delete") {
      if (!has_value) {
        if (sub_key.empty()) return Failure("a hive cannot be deleted");
        long rc = reg.DeleteTree(root, sub_key);
        return rc == kErrorSuccess ? kOk : Failure(Format("cannot delete %s (error %ld)", args[1].c_str(), rc));
      }
      RegKey key = 0;
      long rc = reg.OpenKey(root, sub_key, RegAccess::kAll, &key);
      if (rc != kErrorSuccess) return Failure(Format("cannot open %s (error %ld)", args[1].c_str(), rc));
      rc = reg.DeleteValue(key, name);
      reg.CloseKey(key);
      return rc == kErrorSuccess ? kOk : Failure(Format("cannot delete the value (error %ld)", rc));
    }
    return UsageError(Format("unknown reg command '%s'", verb.c_str()).c_str());
  }

  static int Add(Registry& reg, RegKey root, const std::string& sub_key, bool has_value,
                 const std::string& name, uint32_t type, const std::string& data) {
    std::string bytes;
    if (type == kRegSz || type == kRegExpandSz) {
      bytes = data + '\0';
    } else if (type == kRegDword) {
      char* end = nullptr;
      unsigned long long v = std::strtoull(data.c_str(), &end, 0);
      if (data.empty() || !end || *end || v > 0xFFFFFFFFull) return UsageError("REG_DWORD data must be a 32-bit number");
      for (int i = 0; i < 4; ++i) bytes += static_cast<char>((v >> (8 * i)) & 0xff);
    } else if (type == kRegBinary || type == kRegNone) {
      if (data.size() % 2) return UsageError("binary data must be pairs of hexadecimal digits");
      for (size_t i = 0; i < data.size(); i += 2) {
        char pair[3] = {data[i], data[i + 1], 0};
        char* end = nullptr;
        long v = std::strtol(pair, &end, 16);
        if (!end || *end || !std::isxdigit(static_cast<unsigned char>(pair[0]))) {
          return UsageError("binary data must be pairs of hexadecimal digits");
        }
        bytes += static_cast<char>(v);
      }
    } else if (type == kRegMultiSz) {
      size_t pos = 0;
      while (pos <= data.size() && !data.empty()) {
        size_t sep = data.find("\\0", pos);
        if (sep == std::string::npos) sep = data.size();
        bytes += data.substr(pos, sep - pos) + '\0';
        pos = sep + 2;
      }
      bytes += '\0';
    }
    RegKey key = 0;
    long rc = reg.CreateKey(root, sub_key, RegAccess::kAll, &key, nullptr);
    if (rc != kErrorSuccess) return Failure(Format("cannot create the key (error %ld)", rc));
    if (has_value) rc = reg.SetValue(key, name, type, bytes.data(), bytes.size());
    reg.CloseKey(key);
    return rc == kErrorSuccess ? kOk : Failure(Format("cannot set the value (error %ld)", rc));
  }

  static int Query(Registry& reg, RegKey root, const std::string& sub_key, const std::string& shown,
                   const std::string* value_name) {
    RegKey key = 0;
    long rc = reg.OpenKey(root, sub_key, RegAccess::kRead, &key);
    if (rc != kErrorSuccess) return Failure(Format("cannot open %s (error %ld)", shown.c_str(), rc));
    std::string full = std::string(RegistryRootName(root)) + (sub_key.empty() ? "" : "\\" + sub_key);
    std::printf("%s\n", full.c_str());
    auto print = [](const std::string& n, uint32_t t, const std::string& d) {
      const char* tn = TypeName(t);
      std::string type_text = tn ? tn : Format("REG_0x%x", t);
      std::printf("    %s    %s    %s\n", n.empty() ? "(Default)" : n.c_str(), type_text.c_str(),
                  ShowData(t, d).c_str());
    };
    if (value_name) {
      uint32_t type = 0;
      std::string data;
      rc = reg.QueryValue(key, *value_name, &type, &data);
      reg.CloseKey(key);
      if (rc != kErrorSuccess) {
        return Failure(Format("%s has no value '%s' (error %ld)", shown.c_str(), value_name->c_str(), rc));
      }
      print(*value_name, type, data);
      return kOk;
    }
    for (uint32_t i = 0;; ++i) {
      std::string n, d;
      uint32_t t = 0;
      if (reg.EnumValue(key, i, &n, &t, &d) != kErrorSuccess) break;
      print(n, t, d);
    }
    bool first = true;
    for (uint32_t i = 0;; ++i) {
      std::string n;
      if (reg.EnumKey(key, i, &n) != kErrorSuccess) break;
      if (first) std::printf("\n");
      first = false;
      std::printf("%s\\%s\n", full.c_str(), n.c_str());
    }
    reg.CloseKey(key);
    return kOk;
  }

  HostPlatform& host_;
  Machine& machine_;
};

int Main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  if (args.size() >= 1 && args[0] == "--machine") {
    if (args.size() < 2 || args[1].empty()) return UsageError("--machine needs a folder");
    ::setenv("CRX_MACHINE", args[1].c_str(), 1);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) return UsageError("no command given");
  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  if (!host) return Failure(error);
  // The machine's own tool writes where its user tells it (reg export FILE).
  host->Get().files.AllowAllWrites();
  // The settings, opened again for the commands that change them.
  std::unique_ptr<Machine> machine = Machine::Open(Machine::DefaultFolder(), &error);
  if (!machine) return Failure(error);
  Tool tool(*host, *machine);
  return tool.Run(args);
}

}  // namespace
}  // namespace crx

int main(int argc, char** argv) { return crx::Main(argc, argv); }
