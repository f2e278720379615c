// The registry values and folders of a new machine: those of a Windows
// installation that programs read (shell folders, program files, the
// Uninstall key, version information).
#include "common/format.h"
#include "common/winpath.h"
#include "platform/posix/machine.h"

namespace crx {

namespace {

// Creates a folder and the folders above it; an existing folder is fine.
bool MakeFolders(FileSystem& files, const std::string& path, std::string* error) {
  if (files.IsFolder(path)) return true;
  std::string parent = winpath::Parent(path);
  if (!parent.empty() && parent != path && !MakeFolders(files, parent, error)) return false;
  if (!files.CreateFolder(path) && LastError() != kErrorAlreadyExists) {
    *error = Format("cannot create the folder %s (error %u)", path.c_str(), LastError());
    return false;
  }
  return true;
}

struct Value {
  const char* name;
  std::string data;
};

// Sets string values under a key; each value names a folder that is made
// when `folders` is set.
bool WriteKey(Registry& registry, FileSystem& files, RegKey root, const std::string& key,
              const std::vector<Value>& values, bool folders, std::string* error) {
  RegKey handle = 0;
  long rc = registry.CreateKey(root, key, RegAccess::kAll, &handle, nullptr);
  if (rc != kErrorSuccess) {
    *error = Format("cannot create the registry key %s (error %ld)", key.c_str(), rc);
    return false;
  }
  for (const Value& v : values) {
    if (folders && !MakeFolders(files, v.data, error)) {
      registry.CloseKey(handle);
      return false;
    }
    rc = registry.SetString(handle, v.name, v.data);
    if (rc != kErrorSuccess) {
      *error = Format("cannot write the registry value %s\\%s (error %ld)", key.c_str(), v.name, rc);
      registry.CloseKey(handle);
      return false;
    }
  }
  registry.CloseKey(handle);
  return true;
}

}  // namespace

bool WriteDefaultRegistry(Registry& registry, FileSystem& files, const MachineSettings& settings,
                          std::string* error) {
  const std::string profile = "C:\\Documents and Settings\\" + settings.user_name;
  const std::string all = "C:\\Documents and Settings\\All Users";
  const std::string shell_folders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  const std::string version = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  bool ok =
      WriteKey(registry, files, kHKeyCurrentUser, shell_folders,
               {{"AppData", profile + "\\Application Data"},
                {"Desktop", profile + "\\Desktop"},
                {"Favorites", profile + "\\Favorites"},
                {"Local Settings", profile + "\\Local Settings"},
                {"Personal", profile + "\\My Documents"},
                {"Programs", profile + "\\Start Menu\\Programs"},
                {"Start Menu", profile + "\\Start Menu"},
                {"Startup", profile + "\\Start Menu\\Programs\\Startup"},
                {"Templates", profile + "\\Templates"}},
               true, error) &&
      WriteKey(registry, files, kHKeyLocalMachine, shell_folders,
               {{"Common AppData", all + "\\Application Data"},
                {"Common Desktop", all + "\\Desktop"},
                {"Common Documents", all + "\\Documents"},
                {"Common Programs", all + "\\Start Menu\\Programs"},
                {"Common Start Menu", all + "\\Start Menu"},
                {"Common Startup", all + "\\Start Menu\\Programs\\Startup"}},
               true, error) &&
      WriteKey(registry, files, kHKeyLocalMachine, version,
               {{"ProgramFilesDir", "C:\\Program Files"},
                {"CommonFilesDir", "C:\\Program Files\\Common Files"}},
               true, error) &&
      WriteKey(registry, files, kHKeyLocalMachine, version,
               {{"SystemRoot", "C:\\WINDOWS"},
                {"VersionNumber", Format("%u.%02u.%u", settings.version.major,
                                         settings.version.minor, settings.version.build)},
                {"RegisteredOwner", settings.user_name},
                {"RegisteredOrganization", ""}},
               false, error) &&
      WriteKey(registry, files, kHKeyLocalMachine, version + "\\Uninstall", {}, false, error) &&
      WriteKey(registry, files, kHKeyLocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
               {{"CurrentVersion", Format("%u.%u", settings.version.major, settings.version.minor)},
                {"CurrentBuildNumber", Format("%u", settings.version.build)},
                {"CurrentBuild", Format("%u", settings.version.build)},
                {"CSDVersion", settings.version.service_pack},
                {"SystemRoot", "C:\\WINDOWS"},
                {"RegisteredOwner", settings.user_name},
                {"RegisteredOrganization", ""}},
               false, error) &&
      WriteKey(registry, files, kHKeyLocalMachine,
               "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
               {{"ComputerName", settings.computer_name}}, false, error) &&
      WriteKey(registry, files, kHKeyLocalMachine,
               "SYSTEM\\CurrentControlSet\\Control\\Session Manager", {}, false, error) &&
#ifdef CRX_STUB_FOLDER
      // The builder comes installed: its stubs are those of the build the
      // programs belong to, seen through the Z: drive (the host's root).
      WriteBuilderStubs(registry, files, "Z:" + winpath::ToBackslashes(CRX_STUB_FOLDER), error) &&
#endif
      MakeFolders(files, profile + "\\Local Settings\\Temp", error) &&
      MakeFolders(files, "C:\\WINDOWS\\system32", error) &&
      MakeFolders(files, "C:\\WINDOWS\\TEMP", error);
  return ok;
}

bool WriteBuilderStubs(Registry& registry, FileSystem& files, const std::string& folder,
                       std::string* error) {
  return WriteKey(registry, files, kHKeyLocalMachine, "SOFTWARE\\Velmora\\Cratex\\1.00",
                  {{"datafile", winpath::Join(folder, "Cratex.dat")},
                   {"mdatafile", winpath::Join(folder, "Cratexm.dat")}},
                  false, error);
}

}  // namespace crx
