// The extraction policy: the questions the reader asks before it writes an
// archive member to disk, in this order:
//
//   1. where does the file go              OutputPath
//   2. may an existing file be replaced    OkToReplaceFile
//   3. may a read-only file be overwritten ReadOnlyAllows
//   4. is there enough free space          CheckFreeSpace
//
// and then the creation of the missing folders of the path (CreateFolders),
// which substitutes an existing drive for one that the machine lacks. The
// path helpers RootDirectoryFromPath and MeasureFreeSpace also serve the
// writer and the removable-volume logic.
//
// The archive engine owns one ExtractPolicy. The policy reports failures
// once, through the engine's EngineLog (ReportError, copied into the
// activity log), and asks its questions through the UserInterface.
#ifndef CRX_ENGINE_EXTRACT_POLICY_H
#define CRX_ENGINE_EXTRACT_POLICY_H

#include <cstdint>
#include <string>

#include "common/filetime.h"
#include "platform/platform.h"

namespace crx {

class EngineLog;
class UserInterface;

// Replace modes: the answer to a file that already exists at the output
// path. The values are stored and passed around as plain integers (the
// automation interface sets them by number).
inline constexpr int32_t kReplacePrompt = 0;
inline constexpr int32_t kReplaceAlways = 1;
inline constexpr int32_t kReplaceNever = 2;
inline constexpr int32_t kReplaceIfNewer = 3;

// The answer of the free-space check.
enum class SpaceAnswer {
  kEnough,  // write the file
  kSkip,    // the user chose to go on without this file
  kAbort,   // the user chose to stop the extraction
};

// What the policy needs from the window that shows the operation's
// progress. The defaults do nothing: no window, no quit request.
class PolicyHooks {
 public:
  virtual ~PolicyHooks() = default;
  // Lets waiting window messages be processed (a quit request may arrive).
  virtual void ProcessMessages() {}
  // True once the user asked to stop the operation.
  virtual bool UserQuit() { return false; }
  // Stops (false) or restarts (true) the feedback window's animation while
  // a question is on the screen.
  virtual void Animate(bool on) { (void)on; }
};

// What sits at the path a member is written to. LookUpTarget fills it once
// per member; the questions that follow read it instead of asking the
// file system again.
struct OutputTarget {
  // Of what is at the path (of a symbolic link or junction itself, not of
  // what it points at); kInvalidAttributes when nothing is there.
  uint32_t attributes = kInvalidAttributes;
  // The folder the file goes into exists (no folders need creating).
  bool folder_exists = false;
  // The length of the start of the path known to be an existing folder
  // (0: nothing known), so that creating folders starts below it.
  size_t existing = 0;
  // The length of the start of the path found missing (0: none), so that
  // creating folders makes it without looking again.
  size_t missing = 0;
  // The existing file's last-write time, read when a question first needs
  // it (time_read); time_known is false when it could not be read.
  bool time_read = false;
  bool time_known = false;
  FileTime last_write = 0;

  bool Exists() const { return attributes != kInvalidAttributes; }
  bool IsFolder() const { return Exists() && (attributes & kAttrDirectory) != 0; }
  bool IsLink() const { return Exists() && (attributes & kAttrReparsePoint) != 0; }
};

// True when a member name has a drive letter, a root or a ".." element
// (or one Windows reads as "..", such as "..."): extraction into a folder
// with contained names changes it to keep the member inside.
bool NameLeavesFolder(const std::string& name);

class ExtractPolicy {
 public:
  ExtractPolicy(Platform& platform, EngineLog& log, UserInterface& ui);
  ExtractPolicy(const ExtractPolicy&) = delete;
  ExtractPolicy& operator=(const ExtractPolicy&) = delete;

  // Null goes back to the do-nothing hooks. Not owned.
  void set_hooks(PolicyHooks* hooks);
  // The caption of the questions the policy asks in message boxes.
  void set_caption(const std::string& caption) { caption_ = caption; }

  // kReplacePrompt ... kReplaceIfNewer. The replace dialog's "To All"
  // answers change it for the rest of the operation.
  int32_t replace_mode() const { return replace_mode_; }
  void set_replace_mode(int32_t mode) { replace_mode_ = mode; }
  // Clear the read-only attribute of an existing file before replacing it.
  bool overwrite_read_only() const { return overwrite_read_only_; }
  void set_overwrite_read_only(bool on) { overwrite_read_only_ = on; }
  // Option F: extract into the output folder without the stored sub-path.
  bool flatten() const { return flatten_; }
  void set_flatten(bool on) { flatten_ = on; }
  // Empty: extract to the locations stored on the archive.
  const std::string& output_folder() const { return output_folder_; }
  void set_output_folder(const std::string& folder) { output_folder_ = folder; }
  // A setup archive replaces existing files in every mode.
  bool setup() const { return setup_; }
  void set_setup(bool on) { setup_ = on; }
  // With an output folder: a member name's drive letter, root (a network
  // path's server and share included) and its empty, "." and ".." elements
  // are removed, so every member lands inside the output folder (instead of
  // a ".." name being refused). crx without -o and the stubs' setup
  // extraction into their private folder use it.
  bool contain_names() const { return contain_names_; }
  void set_contain_names(bool on) { contain_names_ = on; }
  // Results of the last MeasureFreeSpace: free bytes and total bytes of
  // the drive.
  uint64_t free_space() const { return free_space_; }
  uint64_t media_size() const { return media_size_; }

  // Starts an extraction: forgets the free space measured and the folders
  // looked at by an earlier one.
  void BeginExtraction();

  // The path member name (as stored) is written to. viewing: the member is
  // extracted only to be looked at (member status 100), so it goes to a
  // temporary copy named after its last element. Otherwise it goes below
  // the output folder when one is set (the name's root removed, or only its
  // last element with flatten; with contain_names the name made relative),
  // else to the name as stored.
  // False, with the refusal reported, when the name would land outside the
  // output folder (a ".." element, or a path that resolves outside it) or
  // names nothing once made relative; the caller marks the member failed
  // and goes on with the next one.
  bool OutputPath(const std::string& name, bool viewing, std::string* path);

  // Looks up what is at path (the output path of member name) and whether
  // its folder exists. Below an output folder every element on the way
  // that exists is looked at as well: one that is a symbolic link or
  // junction refuses the member (false, reported with the member and the
  // link), so nothing is ever written through a link into another place.
  // Folders found clean stay known for the rest of the extraction.
  bool LookUpTarget(const std::string& name, const std::string& path, OutputTarget* target);

  // The questions below with what LookUpTarget found (target is updated
  // when a question changes what is there or reads the file's time).
  bool OkToReplaceFile(const std::string& path, FileTime member_time, OutputTarget* target);
  // A link at path is allowed without looking at its attributes: it is
  // replaced, never written through (and clearing its read-only attribute
  // could change what it points at).
  bool ReadOnlyAllows(const std::string& path, OutputTarget* target);
  // CheckFreeSpace for the drive of path, measured once while the members
  // of an extraction go to the same drive: later members are held against
  // what the last measurement left, less the members admitted since, and
  // the drive is measured again only when that estimate falls short (so a
  // warning always rests on a fresh measurement).
  SpaceAnswer CheckSpaceFor(const std::string& path, uint32_t size);
  // CreateFolders when the target's folder is missing; otherwise only turns
  // the separators of *path into back-slashes.
  bool PrepareFolders(std::string* path, const OutputTarget& target);
  // Removes the link at path (member name) so that the member's file can
  // take its place. False (reported) when the link stays.
  bool RemoveLink(const std::string& name, const std::string& path);

  // The same questions each on its own, looking at path afresh. (Defined
  // here: the stubs, which ask through the calls above, do not carry them.)

  // May the file at path be replaced by a member last written at
  // member_time? Asks the user in prompt mode; may change the replace mode.
  bool OkToReplaceFile(const std::string& path, FileTime member_time) {
    OutputTarget target = Existing(path);
    return OkToReplaceFile(path, member_time, &target);
  }

  // The read-only rule: true when nothing exists at path, when the file is
  // not read-only, or when overwrite read-only is on and the attribute was
  // cleared (the other attributes are kept).
  bool ReadOnlyAllows(const std::string& path) {
    OutputTarget target = Existing(path);
    return ReadOnlyAllows(path, &target);
  }

  // Measures the free space of root and compares it with size + 1024
  // bytes; when it is short, asks whether to skip the file (path) and go
  // on, or to abort.
  SpaceAnswer CheckFreeSpace(const std::string& root, uint32_t size,
                             const std::string& path) {
    MeasureFreeSpace(root);  // a failure was reported and leaves 0 bytes free
    return AnswerForSpace(size, path);
  }

  // Creates the missing folders on the way to the file *path. A drive
  // letter the machine does not have is replaced by the first existing
  // drive from C: to Z:. Afterwards every separator of *path is a
  // back-slash. False (reported) when a folder cannot be created.
  bool CreateFolders(std::string* path) {
    OutputTarget target;
    target.folder_exists = path->empty() || IsFolderPath(*path);
    return PrepareFolders(path, target);
  }

  // The root folder of path ("C:\\" or "\\") when it exists, else the
  // current folder; the current folder for a relative path; "" (logged)
  // for an empty path.
  std::string RootDirectoryFromPath(const std::string& path);

  // Sets free_space() and media_size() for the drive of path. False
  // (reported, free space 0) when the system cannot tell.
  bool MeasureFreeSpace(const std::string& path);

 private:
  // What is at path, for the questions asked on their own.
  OutputTarget Existing(const std::string& path) {
    OutputTarget target;
    target.folder_exists = true;
    target.attributes = platform_.files.GetAttributes(path);
    return target;
  }
  bool IsFolderPath(const std::string& path) { return platform_.files.IsFolder(path); }
  // Reports a member name refused: "File name on archive <what>...", the
  // name, and detail (lines ending in a line feed, or nothing).
  void RefuseName(const char* what, const std::string& name, const std::string& detail);

  // The member is not older than the file at path.
  bool NotOlder(const std::string& path, FileTime member_time, OutputTarget* target);
  // Logs the space needed against free_space() and asks when it is short.
  SpaceAnswer AnswerForSpace(uint32_t size, const std::string& path);
  // CreateFolders without its first look at path itself; path[0, existing)
  // is known to be an existing folder, path[0, missing) (when missing is
  // not 0) to be missing.
  bool MakeFolders(std::string* path, size_t existing, size_t missing);
  // Where the elements below the output folder start in path, or
  // std::string::npos when path is not below it.
  size_t BelowOutputFolder(const std::string& path) const;
  // Checks that full (output folder + the rest of a member name) stays
  // inside the output folder; reports name otherwise.
  bool InsideOutputFolder(const std::string& name, const std::string& rest,
                          const std::string& full);
  // ReportError plus the same text as one line of the activity log.
  void Report(const std::string& message);

  Platform& platform_;
  EngineLog& log_;
  UserInterface& ui_;
  PolicyHooks* hooks_;
  std::string caption_ = "Cratex";

  int32_t replace_mode_ = kReplacePrompt;
  bool overwrite_read_only_ = false;
  bool flatten_ = false;
  std::string output_folder_;
  bool setup_ = false;
  bool contain_names_ = false;
  uint64_t free_space_ = 0;
  uint64_t media_size_ = 0;

  // Per extraction (BeginExtraction empties them). The free space last
  // measured on the drive of the last member (less what was admitted
  // since); the drive by the root text of the member's path ("C:\\" with
  // the letter in upper case, "\\", or "" for a relative path) and by the
  // root RootDirectoryFromPath gave for it.
  bool estimated_ = false;
  std::string estimate_text_;
  std::string estimate_root_;
  uint64_t estimate_ = 0;
  // A folder known to exist and, below the output folder, to be reached
  // through no link; so are the folders on its way.
  std::string known_folder_;
};

}  // namespace crx

#endif  // CRX_ENGINE_EXTRACT_POLICY_H
