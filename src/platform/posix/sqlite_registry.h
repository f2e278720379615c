// The emulated machine's registry: a SQLite database file in the machine
// folder. Every Registry object has its own connection, so each process of
// the machine opens the file itself; every change runs in its own write
// transaction, and WAL journalling with a busy timeout lets several programs
// of one machine work on the registry at the same time without losing data.
#ifndef CRX_PLATFORM_POSIX_SQLITE_REGISTRY_H
#define CRX_PLATFORM_POSIX_SQLITE_REGISTRY_H

#include <memory>
#include <string>

#include "platform/platform.h"

namespace crx {

// Opens (creating it when missing) the registry database at database_path,
// a host path. The hives HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and
// HKEY_USERS exist in every database, as do the keys that HKEY_CLASSES_ROOT
// (HKLM\SOFTWARE\Classes) and HKEY_CURRENT_CONFIG
// (HKLM\System\CurrentControlSet\Hardware Profiles\Current) stand for.
// Returns null with a message in *error when the file cannot be opened or
// is not a registry database; the file is then left as it was.
std::unique_ptr<Registry> OpenSqliteRegistry(const std::string& database_path,
                                             std::string* error);

}  // namespace crx

#endif  // CRX_PLATFORM_POSIX_SQLITE_REGISTRY_H
