#include "stub/temp_folder.h"

#include "common/format.h"
#include "platform/platform.h"
#include "stub/stub_messages.h"

namespace crx::stub {

bool MakeTempFolder(Platform& platform, StubMessages& messages, TempFolder* result) {
  std::string base;
  if (!platform.environment.Get("TEMP", &base)) {
    base = platform.environment.TempPath();
    if (base.empty() || base.size() > kSystemTempLength) {
      messages.StubMessage(
          "Environment variable TEMP is not set\n\n"
          "The system extracts files to the system temp directory\n"
          "and so requires environment variable TEMP to be set",
          0);
      return false;
    }
  }

  result->saved_folder = platform.files.CurrentFolder().substr(0, kSavedFolderLength);

  if (!platform.files.SetCurrentFolder(base)) {
    const uint32_t error = LastError();
    messages.StubMessage(
        Format("The folder sepcified by environment variable TEMP is not valid\n\n"
               "TEMP = %s\n\nError = %d[0x%x]\n",
               base.c_str(), static_cast<int>(error), error),
        0);
    return false;
  }

  for (int n = 0; n < kTempFolderNames; ++n) {
    // The base is used as it is: one that ends in a back-slash gives two
    // in a row, which Windows accepts.
    const std::string name = Format("%s\\__CRX_tmp_%d__", base.c_str(), n);
    // Left over from an earlier run, or made by someone else: not ours.
    if (!platform.files.CreatePrivateFolder(name)) continue;
    if (!platform.files.SetCurrentFolder(name)) {
      const uint32_t error = LastError();
      messages.StubMessage(
          Format("error occurred changing directory\nto a newly created temp directory...\n\n"
                 "%s\n\nError = %d[0x%x]\n",
                 name.c_str(), static_cast<int>(error), error),
          0);
      return false;
    }
    result->folder = name;
    return true;
  }

  messages.StubMessage(
      "Their are already too many __CRX_tmp_ directrories in\n"
      "your system TEMP directory. Remove some of these and\n"
      "retry this operation\n\nThe system TEMP directory is...\n" +
          Format("<%s>", base.c_str()),
      0);
  return false;
}

}  // namespace crx::stub
