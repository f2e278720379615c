// The setup library of an ODBC driver for the tests of the odbc command on
// Linux: the host's installer library hands SQLConfigDataSource requests to
// the ConfigDSN of the driver's setup library, which the SQLite driver does
// not have. This one adds, configures and removes a data source with the
// installer library's own profile functions, as a driver's setup does.
#include <string.h>

extern "C" {
int SQLWriteDSNToIni(const char* dsn, const char* driver);
int SQLRemoveDSNFromIni(const char* dsn);
int SQLWritePrivateProfileString(const char* section, const char* entry, const char* text,
                                 const char* file);

__attribute__((visibility("default"))) int ConfigDSN(void* parent, unsigned short request,
                                                     const char* driver, const char* attributes) {
  (void)parent;
  const char* dsn = nullptr;
  for (const char* a = attributes; *a != '\0'; a += strlen(a) + 1) {
    if (strncmp(a, "DSN=", 4) == 0) dsn = a + 4;
  }
  if (dsn == nullptr || *dsn == '\0') return 0;
  enum { kAdd = 1, kConfig = 2, kRemove = 3 };
  // The system forms (4 to 6) come through as they are: the installer
  // library has already chosen the system files.
  if (request > kRemove) request = static_cast<unsigned short>(request - kRemove);
  if (request == kRemove) return SQLRemoveDSNFromIni(dsn);
  if (request != kAdd && request != kConfig) return 0;
  if (request == kAdd && !SQLWriteDSNToIni(dsn, driver)) return 0;
  for (const char* a = attributes; *a != '\0'; a += strlen(a) + 1) {
    const char* equals = strchr(a, '=');
    if (equals == nullptr || strncmp(a, "DSN=", 4) == 0) continue;
    char key[256];
    size_t length = static_cast<size_t>(equals - a);
    if (length >= sizeof key) return 0;
    memcpy(key, a, length);
    key[length] = '\0';
    if (!SQLWritePrivateProfileString(dsn, key, equals + 1, "odbc.ini")) return 0;
  }
  return 1;
}
}
