// Whole files of the host's own file system, for tests that look past the
// platform layer: files a host program reads or writes, the emulated
// machine's folders. They report failure by their result and never
// assert, so each test keeps its own assertions and messages.
#ifndef CRX_TESTS_SUPPORT_HOST_FILES_H
#define CRX_TESTS_SUPPORT_HOST_FILES_H

#include <cstdio>
#include <string>

namespace crx::test {

// Creates path (or empties it) with data as its whole content.
inline bool HostWriteFile(const std::string& path, const std::string& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && written;
}

// The whole content of path, or missing when it cannot be opened.
inline std::string HostReadFile(const std::string& path,
                                const std::string& missing = "<missing>") {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return missing;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  std::fclose(f);
  return text;
}

// The host ODBC installer's files in folder (for ODBCSYSINI): the SQLite3
// driver, set up by the library setup_library, and no system data source.
inline bool WriteSqliteOdbcFiles(const std::string& folder, const std::string& setup_library) {
  return HostWriteFile(folder + "/odbcinst.ini",
                       "[SQLite3]\nDescription=SQLite3 ODBC Driver\n"
                       "Driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\nSetup=" +
                           setup_library + "\n") &&
         HostWriteFile(folder + "/odbc.ini", "");
}

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_HOST_FILES_H
