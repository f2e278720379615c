#include "platform/posix/machine_library.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/format.h"

namespace crx {

namespace {

// Only the user (or the superuser) could have written it, and neither
// group nor others may change it.
bool OnlyUsersOwn(const struct stat& st) {
  return st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string WhyNotOwn(const std::string& path, const struct stat& st) {
  if (st.st_uid != ::geteuid())
    return Format("%s belongs to another user (user id %u)", path.c_str(),
                  static_cast<unsigned>(st.st_uid));
  return Format("%s may be changed by other users (mode %03o; chmod go-w makes it private)",
                path.c_str(), static_cast<unsigned>(st.st_mode & 0777));
}

bool ReadWhole(int fd, std::string* data) {
  data->clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    data->append(buffer, static_cast<size_t>(n));
  }
}

bool WriteWhole(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string MissingLibrary(const std::string& machine, const std::string& path) {
  return Format("the emulated machine %s has no machine library (%s); open the machine once "
                "with crxmachine (or any other program of this system) to put it there",
                machine.c_str(), path.c_str());
}

}  // namespace

bool InstallMachineLibrary(const std::string& machine_folder, const std::string& source,
                           std::string* error) {
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat source_st;
  if (in < 0 || ::fstat(in, &source_st) != 0) {
    *error = Format("cannot read the machine library %s: %s", source.c_str(), std::strerror(errno));
    if (in >= 0) ::close(in);
    return false;
  }

  const std::string folder = machine_folder + "/" + kMachineLibraryFolder;
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = Format("cannot create %s: %s", folder.c_str(), std::strerror(errno));
    ::close(in);
    return false;
  }
  struct stat st;
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    *error = Format("%s is not a folder of this user's own", folder.c_str());
    ::close(in);
    return false;
  }
  if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
    *error = Format("cannot make %s private: %s", folder.c_str(), std::strerror(errno));
    ::close(in);
    return false;
  }

  // A copy made from this very file carries its size and modification
  // time: then nothing needs reading (every program opens the machine, and
  // the library is most of a megabyte). Otherwise the bytes are compared,
  // and a copy found identical takes the source's time for the next start.
  const std::string target = folder + "/" + kMachineLibraryFile;
  int old = ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  bool old_usable = old >= 0 && ::fstat(old, &st) == 0 && S_ISREG(st.st_mode) &&
                    OnlyUsersOwn(st) && st.st_size == source_st.st_size;
  if (old_usable && st.st_mtim.tv_sec == source_st.st_mtim.tv_sec &&
      st.st_mtim.tv_nsec == source_st.st_mtim.tv_nsec) {
    ::close(old);
    ::close(in);
    return true;
  }
  std::string data;
  bool read = ReadWhole(in, &data);
  ::close(in);
  if (!read) {
    if (old >= 0) ::close(old);
    *error = Format("cannot read the machine library %s: %s", source.c_str(), std::strerror(errno));
    return false;
  }
  const struct timespec times[2] = {{0, UTIME_OMIT}, source_st.st_mtim};
  if (old_usable) {
    std::string present;
    const bool same = ReadWhole(old, &present) && present == data;
    if (same) ::futimens(old, times);
    ::close(old);
    if (same) return true;
  } else if (old >= 0) {
    ::close(old);
  }

  std::string temporary = folder + "/." + kMachineLibraryFile + ".XXXXXX";
  int out = ::mkostemp(&temporary[0], O_CLOEXEC);
  if (out < 0) {
    *error = Format("cannot create a file in %s: %s", folder.c_str(), std::strerror(errno));
    return false;
  }
  bool written = WriteWhole(out, data) && ::fchmod(out, 0700) == 0 && ::futimens(out, times) == 0;
  int saved = errno;
  if (::close(out) != 0 && written) {
    written = false;
    saved = errno;
  }
  if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
    if (written) saved = errno;
    ::unlink(temporary.c_str());
    *error = Format("cannot write %s: %s", target.c_str(), std::strerror(saved));
    return false;
  }
  return true;
}

const MachineEntry* LoadMachineLibrary(const std::string& machine_folder,
                                       const std::string& interface, std::string* error) {
  char real[PATH_MAX];
  if (machine_folder.empty() || !::realpath(machine_folder.c_str(), real)) {
    *error = Format("cannot find the emulated machine %s: %s", machine_folder.c_str(),
                    machine_folder.empty() ? "no folder is named" : std::strerror(errno));
    return nullptr;
  }
  const std::string machine = real;
  struct stat st;
  if (::stat(machine.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = Format("the emulated machine %s is not a folder", machine.c_str());
    return nullptr;
  }
  if (!OnlyUsersOwn(st)) {
    *error = "refusing to load the machine library: " + WhyNotOwn(machine, st);
    return nullptr;
  }
  const std::string folder = machine + "/" + kMachineLibraryFolder;
  const std::string path = folder + "/" + kMachineLibraryFile;
  if (::lstat(folder.c_str(), &st) != 0) {
    *error = MissingLibrary(machine, path);
    return nullptr;
  }
  if (!S_ISDIR(st.st_mode)) {
    *error = Format("refusing to load the machine library: %s is not a folder", folder.c_str());
    return nullptr;
  }
  if (!OnlyUsersOwn(st)) {
    *error = "refusing to load the machine library: " + WhyNotOwn(folder, st);
    return nullptr;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *error = errno == ENOENT ? MissingLibrary(machine, path)
                             : Format("refusing to load the machine library %s: %s", path.c_str(),
                                      errno == ELOOP ? "it is a symbolic link"
                                                     : std::strerror(errno));
    return nullptr;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = Format("refusing to load the machine library: %s is not a file", path.c_str());
    return nullptr;
  }
  if (!OnlyUsersOwn(st)) {
    ::close(fd);
    *error = "refusing to load the machine library: " + WhyNotOwn(path, st);
    return nullptr;
  }
  // Loaded through the descriptor that was checked: the file cannot be
  // swapped between the check and the load.
  char by_descriptor[64];
  std::snprintf(by_descriptor, sizeof by_descriptor, "/proc/self/fd/%d", fd);
  void* handle = ::dlopen(by_descriptor, RTLD_NOW | RTLD_LOCAL);
  ::close(fd);
  if (!handle) {
    const char* why = ::dlerror();
    *error = Format("cannot load the machine library %s: %s", path.c_str(), why ? why : "unknown");
    return nullptr;
  }
  auto entry_point =
      reinterpret_cast<const MachineEntry* (*)()>(::dlsym(handle, kMachineEntryName));
  const MachineEntry* entry = entry_point ? entry_point() : nullptr;
  if (!entry || !entry->interface || interface != entry->interface) {
    *error = Format("the machine library %s belongs to another build (interface %s, this "
                    "program needs %s); open the machine once with this build's crxmachine "
                    "to replace it",
                    path.c_str(), entry && entry->interface ? entry->interface : "unknown",
                    interface.c_str());
    ::dlclose(handle);
    return nullptr;
  }
  return entry;  // the library stays loaded until the program ends
}

}  // namespace crx
