// A self-registering server for the tests of regdll and unregdll. Each entry
// point appends one line ("register" or "unregister") to server_trace.txt
// in the current folder, so a test sees that it ran and in which folder,
// and returns the result named by the environment variable
// CRX_TEST_SERVER_RESULT (hexadecimal; 0 when unset). On Windows the entries
// also register and unregister a real component: the programmatic
// identifier CrxTestServer.Object, its class and the class's in-process
// server (this file). Built with CRX_WITHOUT_ENTRIES it is a library that
// exports neither entry point.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#define CRX_SERVER_EXPORT extern "C" __declspec(dllexport)
#define CRX_SERVER_CALL __stdcall
#else
#define CRX_SERVER_EXPORT extern "C" __attribute__((visibility("default")))
#define CRX_SERVER_CALL
#endif

namespace {

void Trace(const char* line) {
  FILE* file = fopen("server_trace.txt", "ab");
  if (file == nullptr) return;
  fprintf(file, "%s\n", line);
  fclose(file);
}

// HRESULTs are 32-bit on every system.
int Result() {
  char text[32] = "";
#ifdef _WIN32
  if (GetEnvironmentVariableA("CRX_TEST_SERVER_RESULT", text, sizeof text) == 0) return 0;
#else
  const char* value = getenv("CRX_TEST_SERVER_RESULT");
  if (value == nullptr) return 0;
  snprintf(text, sizeof text, "%s", value);
#endif
  return static_cast<int>(strtoul(text, nullptr, 16));
}

#ifdef _WIN32
const char kProgId[] = "CrxTestServer.Object";
const char kClassId[] = "{6B1C2A10-7E44-4C1D-9F0B-3A5D2E8C4F71}";

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&OwnModule), &module);
  return module;
}

void RegisterComponent() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(OwnModule(), path, MAX_PATH);
  char key[128];
  snprintf(key, sizeof key, "%s\\CLSID", kProgId);
  RegSetValueA(HKEY_CLASSES_ROOT, key, REG_SZ, kClassId, static_cast<DWORD>(strlen(kClassId)));
  snprintf(key, sizeof key, "CLSID\\%s\\InProcServer32", kClassId);
  RegSetValueA(HKEY_CLASSES_ROOT, key, REG_SZ, path, static_cast<DWORD>(strlen(path)));
}

void UnregisterComponent() {
  char key[128];
  snprintf(key, sizeof key, "%s\\CLSID", kProgId);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, kProgId);
  snprintf(key, sizeof key, "CLSID\\%s\\InProcServer32", kClassId);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
  snprintf(key, sizeof key, "CLSID\\%s", kClassId);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
}
#endif

}  // namespace

#ifndef CRX_WITHOUT_ENTRIES
CRX_SERVER_EXPORT int CRX_SERVER_CALL DllRegisterServer() {
  Trace("register");
#ifdef _WIN32
  RegisterComponent();
#endif
  return Result();
}

CRX_SERVER_EXPORT int CRX_SERVER_CALL DllUnregisterServer() {
  Trace("unregister");
#ifdef _WIN32
  UnregisterComponent();
#endif
  return Result();
}
#else
CRX_SERVER_EXPORT int CRX_SERVER_CALL CrxPlainLibraryEntry() { return 0; }
#endif
