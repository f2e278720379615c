// The Windows builder as the COM local server of "Cratex.Archive".
#ifndef CRX_PROGRAMS_AUTOMATION_SERVER_WIN32_H
#define CRX_PROGRAMS_AUTOMATION_SERVER_WIN32_H

namespace crx {
struct Platform;

// Registers the class object for one use, serves the one object it makes
// on this thread without a window, and returns once the object is
// released (or its client is gone, or no client claimed it within a
// minute). The exit status: 0, or 1 when COM could not be initialised
// (after the OLE failure message) or the class could not be registered.
int RunAutomationServer(Platform& platform);

}  // namespace crx

#endif  // CRX_PROGRAMS_AUTOMATION_SERVER_WIN32_H
