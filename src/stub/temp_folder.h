// The private temporary folder a stub extracts a setup archive into:
// "__CRX_tmp_<n>__" (n = 0 to 99, the first that can be created) in the
// folder named by TEMP, or in the system's temporary folder when TEMP is
// not set. The new folder becomes the working folder, where the setup
// program later runs; the folder that was current before is kept so the
// clean-up can return to it.
#ifndef CRX_STUB_TEMP_FOLDER_H
#define CRX_STUB_TEMP_FOLDER_H

#include <string>

namespace crx {
struct Platform;
}

namespace crx::stub {

class StubMessages;

// How many "__CRX_tmp_<n>__" names are tried.
inline constexpr int kTempFolderNames = 100;
// The longest system temporary folder and saved working folder taken.
inline constexpr size_t kSystemTempLength = 128;
inline constexpr size_t kSavedFolderLength = 256;

struct TempFolder {
  std::string saved_folder;  // the working folder before
  std::string folder;        // the new folder (the working folder now)
  // The folder's full path, where the archive was extracted to (set once
  // the extraction has run; empty: the working folder).
  std::string output;
};

// Creates the folder, private to the user (no one else may enter it, and a
// name that exists already - a folder or a link someone planted - is
// passed over, never reused), and makes it the working folder. On failure the
// reason has been shown through messages.StubMessage and false returns;
// only the "error occurred changing directory" case leaves a new folder.
bool MakeTempFolder(Platform& platform, StubMessages& messages, TempFolder* result);

}  // namespace crx::stub

#endif  // CRX_STUB_TEMP_FOLDER_H
