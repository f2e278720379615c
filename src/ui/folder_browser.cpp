#include "ui/folder_browser.h"

#include <algorithm>

#include "platform/platform.h"
#include "ui/input_dialogs.h"

namespace crx::ui {

namespace {

char UpperLetter(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && IsSeparator(folder.back())) return folder + name;
  return folder + "\\" + name;
}

// "C:\\a/b\\" -> "C:" and {"a", "b"}; false when the path does not begin
// with a drive letter and a colon.
bool SplitDrivePath(const std::string& path, std::string* drive,
                    std::vector<std::string>* parts) {
  if (path.size() < 2 || path[1] != ':') return false;
  char letter = UpperLetter(path[0]);
  if (letter < 'A' || letter > 'Z') return false;
  *drive = std::string(1, letter) + ":";
  parts->clear();
  size_t pos = 2;
  while (pos < path.size()) {
    while (pos < path.size() && IsSeparator(path[pos])) ++pos;
    size_t end = pos;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (end > pos) parts->push_back(path.substr(pos, end - pos));
    pos = end;
  }
  return true;
}

}  // namespace

FolderBrowserDialog::FolderBrowserDialog(FileSystem& files, const std::string& initial_path)
    : Dialog(kName, "Select Directory", std::string()), files_(files) {
  DialogField field;
  field.name = "Path";
  field.label = "Path";
  AddField(field);
  AddButton("OK", "OK", kOk);
  AddButton("Cancel", "Cancel", kCancel);
  SetRefusingButton(1);
  ListDrives();
  selected_ = nodes_.size();
  std::string start = TrimBlanks(initial_path);
  if (!start.empty()) Goto(start);
  // The field shows what the caller gave, found in the tree or not.
  MutableField("Path")->value = initial_path;
}

void FolderBrowserDialog::ListDrives() {
  uint32_t drives = files_.LogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((drives & (1u << i)) == 0) continue;
    FolderNode node;
    node.name = std::string(1, static_cast<char>('A' + i)) + ":";
    node.path = node.name + "\\";
    if (i < 2 || files_.GetDriveType(node.path) == DriveType::kRemovable) {
      // A removable drive is listed without touching it: reading an empty
      // floppy drive would make the user wait.
      node.kind = FolderKind::kRemovableDrive;
    } else if (files_.GetAttributes(node.path) != kInvalidAttributes) {
      node.kind = FolderKind::kFixedDrive;
    } else {
      continue;  // no medium, or a root that cannot be read
    }
    nodes_.push_back(node);
  }
}

std::string FolderBrowserDialog::ChosenPath() const { return TrimBlanks(Path()); }

size_t FolderBrowserDialog::EndOfChildren(size_t index) const {
  size_t end = index + 1;
  while (end < nodes_.size() && nodes_[end].depth > nodes_[index].depth) ++end;
  return end;
}

void FolderBrowserDialog::OpenRow(size_t index) {
  if (nodes_[index].open) return;
  std::vector<FolderEntry> entries;
  std::vector<std::string> names;
  if (files_.ListFolder(JoinPath(nodes_[index].path, "*.*"), &entries)) {
    for (const FolderEntry& e : entries) {
      if ((e.attributes & kAttrDirectory) == 0 || e.name == "." || e.name == "..") continue;
      names.push_back(e.name);
    }
  }
  std::sort(names.begin(), names.end());  // std::string compares bytes as unsigned
  std::vector<FolderNode> children;
  for (const std::string& name : names) {
    FolderNode child;
    child.name = name;
    child.path = JoinPath(nodes_[index].path, name);
    child.kind = FolderKind::kFolder;
    child.depth = nodes_[index].depth + 1;
    children.push_back(child);
  }
  bool none = selected_ >= nodes_.size();
  nodes_[index].open = true;
  nodes_.insert(nodes_.begin() + static_cast<std::ptrdiff_t>(index) + 1, children.begin(),
                children.end());
  if (none) {
    selected_ = nodes_.size();
  } else if (selected_ > index) {
    selected_ += children.size();
  }
}

void FolderBrowserDialog::CloseRow(size_t index) {
  size_t end = EndOfChildren(index);
  size_t removed = end - (index + 1);
  bool none = selected_ >= nodes_.size();
  nodes_.erase(nodes_.begin() + static_cast<std::ptrdiff_t>(index) + 1,
               nodes_.begin() + static_cast<std::ptrdiff_t>(end));
  nodes_[index].open = false;
  if (none) {
    selected_ = nodes_.size();
  } else if (selected_ > index && selected_ < end) {
    selected_ = index;
  } else if (selected_ >= end) {
    selected_ -= removed;
  }
}

bool FolderBrowserDialog::Select(size_t index) {
  if (index >= nodes_.size()) return false;
  selected_ = index;
  MutableField("Path")->value = nodes_[index].path;
  return true;
}

bool FolderBrowserDialog::Open(size_t index) {
  if (index >= nodes_.size()) return false;
  if (nodes_[index].open) {
    CloseRow(index);
  } else {
    OpenRow(index);
  }
  return Select(index);
}

bool FolderBrowserDialog::Goto(const std::string& path) {
  std::string drive;
  std::vector<std::string> parts;
  if (!SplitDrivePath(TrimBlanks(path), &drive, &parts)) return false;
  size_t at = nodes_.size();
  for (size_t i = 0; i < nodes_.size(); ++i) {
    if (nodes_[i].depth == 0 && SameName(nodes_[i].name, drive)) {
      at = i;
      break;
    }
  }
  if (at == nodes_.size()) return false;
  bool found = true;
  for (const std::string& part : parts) {
    OpenRow(at);
    size_t end = EndOfChildren(at);
    size_t next = end;
    // An exact name first; Windows names match in any case.
    for (size_t i = at + 1; i < end && next == end; ++i) {
      if (nodes_[i].depth == nodes_[at].depth + 1 && nodes_[i].name == part) next = i;
    }
    for (size_t i = at + 1; i < end && next == end; ++i) {
      if (nodes_[i].depth == nodes_[at].depth + 1 && SameName(nodes_[i].name, part)) next = i;
    }
    if (next == end) {
      found = false;
      break;
    }
    at = next;
  }
  // The folder reached shows its subfolders, as after a double click.
  if (found) OpenRow(at);
  Select(at);
  if (!found) MutableField("Path")->value = path;
  return found;
}

void FolderBrowserDialog::SetPath(const std::string& path) { MutableField("Path")->value = path; }

bool FolderBrowserDialog::Validate(int id, std::string* error) {
  if (id == kOk && ChosenPath().empty()) {
    *error = EmptyPathText();
    return false;
  }
  return true;
}

}  // namespace crx::ui
