// The folder browser "Select Directory": a tree of the system's drives and
// their folders, the path of the selected folder in the field "Path", OK
// and Cancel. A person opens a folder (its subfolders are listed below it),
// selects one, or types a path and goes there ("Goto"); "Help..." explains
// the dialog. OK is refused while the path is empty.
//
// Front-ends show it specially (Dialog::AsFolderBrowser): the tree on
// Windows, a numbered list on the terminal; an answers file gives the path
// and OK like any other field. The front-ends reach the model only through
// its inline and virtual members, so programs that never make one do not
// link its code.
#ifndef CRX_UI_FOLDER_BROWSER_H
#define CRX_UI_FOLDER_BROWSER_H

#include <cstddef>
#include <string>
#include <vector>

#include "ui/dialog.h"

namespace crx {
class FileSystem;
}

namespace crx::ui {

enum class FolderKind { kRemovableDrive, kFixedDrive, kFolder };

// One row of the tree, in display order: a drive or a folder, its depth
// (drives 0), and whether its subfolders are listed below it.
struct FolderNode {
  std::string name;  // "C:" or "Program Files"
  std::string path;  // "C:\\" or "C:\\Program Files"
  FolderKind kind = FolderKind::kFolder;
  int depth = 0;
  bool open = false;
};

class FolderBrowserDialog : public Dialog {
 public:
  static constexpr const char* kName = "SelectDirectory";
  static constexpr int kOk = 1;
  static constexpr int kCancel = 2;

  // Lists the drives and, when initial_path leads to a folder, opens the
  // tree down to it. The field "Path" starts as initial_path.
  FolderBrowserDialog(FileSystem& files, const std::string& initial_path);

  FolderBrowserDialog* AsFolderBrowser() override { return this; }

  const std::vector<FolderNode>& Nodes() const { return nodes_; }
  // Index of the selected row; Nodes().size() when none is.
  size_t Selected() const { return selected_; }
  const std::string& Path() const { return FindField("Path")->value; }
  // The path OK takes: the field without blanks at its ends.
  std::string ChosenPath() const;

  // A double click: selects the row (its path goes to "Path") and lists its
  // subfolders below it, sorted by the bytes of their names; a row already
  // open is closed. False for a row that does not exist.
  virtual bool Open(size_t index);
  // A single click: selects the row. False for a row that does not exist.
  virtual bool Select(size_t index);
  // Moves the tree to a typed path: opens each folder on the way and
  // selects the last one found (opened too when the whole path was found). True when the whole path was found (the
  // field then shows it as the tree spells it); otherwise the nearest
  // folder found is selected and the field keeps the typed text.
  virtual bool Goto(const std::string& path);
  // Sets the field as a person types (no tree move).
  virtual void SetPath(const std::string& path);

  // The text "Help..." shows.
  static const char* HelpText() {
    return "Double-click a folder-item to display its contents.\n"
           "As you do this, the currently-selected path will be displayed\n"
           "in the edit control at the bottom. Click OK when you have\n"
           "found the desired folder.\n\n"
           "You can enter a path directly in the edit-control at the bottom.\n"
           "After doing this, just press <RETURN> and the path will be\n"
           "reflected in the tree above.\n\n";
  }
  // The message OK gives while the path is empty.
  static const char* EmptyPathText() { return "No folder has been selected"; }

 protected:
  bool Validate(int id, std::string* error) override;

 private:
  void ListDrives();
  void OpenRow(size_t index);
  void CloseRow(size_t index);
  size_t EndOfChildren(size_t index) const;

  FileSystem& files_;
  std::vector<FolderNode> nodes_;
  size_t selected_ = 0;
};

}  // namespace crx::ui

#endif  // CRX_UI_FOLDER_BROWSER_H
