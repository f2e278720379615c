// The folder browser model on a scratch folder, with a drive list made up
// around the scratch folder's drive, and its terminal form.
#include <gtest/gtest.h>

#include <string>

#include "support/file_helpers.h"
#include "support/forwarding_file_system.h"
#include "support/test_platform.h"
#include "ui/answers/answers.h"
#include "ui/console/console_front_end.h"
#include "ui/fakes.h"
#include "ui/folder_browser.h"

namespace crx::ui {
namespace {

// Drives: A: (a floppy drive whose type is unknown), the scratch folder's
// drive, a CD drive without a disc and a removable drive whose root must
// not be touched.
class DriveList : public test::ForwardingFileSystem {
 public:
  DriveList(FileSystem& real, char home) : ForwardingFileSystem(real), home_(home) {
    for (char c : std::string("DEGH")) {
      if (c != home_) {
        cd_ = c;
        break;
      }
    }
    for (char c : std::string("FIJK")) {
      if (c != home_) {
        usb_ = c;
        break;
      }
    }
  }
  uint32_t LogicalDrives() override { return Bit('A') | Bit(home_) | Bit(cd_) | Bit(usb_); }
  DriveType GetDriveType(const std::string& root) override {
    if (root[0] == 'A') return DriveType::kUnknown;
    if (root[0] == cd_) return DriveType::kCdRom;
    if (root[0] == usb_) return DriveType::kRemovable;
    return real().GetDriveType(root);
  }
  uint32_t GetAttributes(const std::string& path) override {
    if (path.size() <= 3 && (path[0] == 'A' || path[0] == usb_)) ++removable_roots_read;
    if (path.size() <= 3 && path[0] == cd_) return kInvalidAttributes;
    return real().GetAttributes(path);
  }

  char cd_ = 0;
  char usb_ = 0;
  int removable_roots_read = 0;

 private:
  static uint32_t Bit(char c) { return 1u << (c - 'A'); }
  char home_;
};

class FolderBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform_.ok()) << platform_.Error();
    scratch_ = platform_.Scratch();
    files_ = std::make_unique<DriveList>(platform_.Get().files, scratch_[0]);
    FileSystem& f = platform_.Get().files;
    for (const char* name : {"b", "A", "_x", "Zed", "A\\inner", "b\\deeper"}) {
      ASSERT_TRUE(f.CreateFolder(scratch_ + "\\" + name)) << name;
    }
    ASSERT_TRUE(test::WriteWholeFile(f, scratch_ + "\\file.txt", "x"));
  }

  // Index of the row with this path; Nodes().size() when none.
  static size_t Row(const FolderBrowserDialog& b, const std::string& path) {
    for (size_t i = 0; i < b.Nodes().size(); ++i) {
      if (b.Nodes()[i].path == path) return i;
    }
    return b.Nodes().size();
  }

  test::TestPlatform platform_;
  std::string scratch_;
  std::unique_ptr<DriveList> files_;
};

TEST_F(FolderBrowserTest, ListsDrivesByKindWithoutReadingRemovableOnes) {
  FolderBrowserDialog b(*files_, "");
  EXPECT_EQ(b.Caption(), "Select Directory");
  std::string home(1, scratch_[0]);
  std::vector<std::pair<std::string, FolderKind>> drives;
  for (const FolderNode& n : b.Nodes()) {
    EXPECT_EQ(n.depth, 0);
    EXPECT_EQ(n.path, n.name + "\\");
    drives.emplace_back(n.name, n.kind);
  }
  std::vector<std::pair<std::string, FolderKind>> expected = {
      {"A:", FolderKind::kRemovableDrive}, {home + ":", FolderKind::kFixedDrive}};
  std::string usb = std::string(1, files_->usb_) + ":";
  // Drive order is letter order; the CD drive without a disc is left out.
  if (files_->usb_ < scratch_[0]) {
    expected.insert(expected.begin() + 1, {usb, FolderKind::kRemovableDrive});
  } else {
    expected.push_back({usb, FolderKind::kRemovableDrive});
  }
  EXPECT_EQ(drives, expected);
  EXPECT_EQ(files_->removable_roots_read, 0);
  EXPECT_EQ(b.Selected(), b.Nodes().size());
}

TEST_F(FolderBrowserTest, OpensFoldersInByteOrderAndKeepsTheSelection) {
  FolderBrowserDialog b(*files_, scratch_);
  // The initial path opened the tree down to it and selected it.
  size_t at = Row(b, scratch_);
  ASSERT_LT(at, b.Nodes().size());
  EXPECT_EQ(b.Selected(), at);
  EXPECT_EQ(b.Path(), scratch_);
  ASSERT_TRUE(b.Nodes()[at].open);
  std::vector<std::string> children;
  for (size_t i = at + 1; i < b.Nodes().size() && b.Nodes()[i].depth > b.Nodes()[at].depth; ++i) {
    EXPECT_EQ(b.Nodes()[i].depth, b.Nodes()[at].depth + 1);
    children.push_back(b.Nodes()[i].name);
  }
  // Byte order: upper case, then '_', then lower case; files are not listed.
  EXPECT_EQ(children, (std::vector<std::string>{"A", "Zed", "_x", "b"}));

  // Select "b", then open "A" above it: the selection stays on "b".
  ASSERT_TRUE(b.Select(Row(b, scratch_ + "\\b")));
  ASSERT_TRUE(b.Open(Row(b, scratch_ + "\\A")));
  ASSERT_TRUE(b.Select(Row(b, scratch_ + "\\b")));
  size_t a_row = Row(b, scratch_ + "\\A");
  ASSERT_TRUE(b.Open(a_row));  // closes it again
  EXPECT_FALSE(b.Nodes()[a_row].open);
  EXPECT_EQ(Row(b, scratch_ + "\\A\\inner"), b.Nodes().size());
  EXPECT_EQ(b.Path(), scratch_ + "\\A");
  ASSERT_TRUE(b.Open(a_row));
  ASSERT_TRUE(b.Select(Row(b, scratch_ + "\\A\\inner")));
  ASSERT_TRUE(b.Open(at));  // closing the parent moves the selection to it
  EXPECT_EQ(b.Selected(), at);
  EXPECT_FALSE(b.Open(b.Nodes().size()));
  EXPECT_FALSE(b.Select(b.Nodes().size()));
}

TEST_F(FolderBrowserTest, GotoFindsAnyCaseAndKeepsAPathItCannotFind) {
  FolderBrowserDialog b(*files_, "");
  std::string lower = scratch_;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_TRUE(b.Goto(lower + "/B/deeper/"));
  EXPECT_EQ(b.Path(), scratch_ + "\\b\\deeper");
  EXPECT_EQ(b.Selected(), Row(b, scratch_ + "\\b\\deeper"));

  EXPECT_FALSE(b.Goto(scratch_ + "\\a\\missing\\x"));
  EXPECT_EQ(b.Selected(), Row(b, scratch_ + "\\A"));
  EXPECT_EQ(b.Path(), scratch_ + "\\a\\missing\\x");
  size_t selected = b.Selected();
  EXPECT_FALSE(b.Goto("no drive"));
  EXPECT_FALSE(b.Goto(std::string(1, files_->cd_) + ":\\x"));
  EXPECT_EQ(b.Selected(), selected);

  // A starting path that does not exist is kept as given.
  FolderBrowserDialog start(*files_, scratch_ + "\\new folder ");
  EXPECT_EQ(start.Path(), scratch_ + "\\new folder ");
  EXPECT_EQ(start.Selected(), Row(start, scratch_));
}

TEST_F(FolderBrowserTest, OkNeedsAPathButNotAnExistingOne) {
  FolderBrowserDialog b(*files_, "   ");
  std::string error;
  EXPECT_FALSE(b.Press(FolderBrowserDialog::kOk, &error));
  EXPECT_EQ(error, "No folder has been selected");
  EXPECT_FALSE(b.Closed());
  b.SetPath("  Q:\\not\\there  ");
  ASSERT_TRUE(b.Press(FolderBrowserDialog::kOk, &error)) << error;
  EXPECT_EQ(b.ChosenPath(), "Q:\\not\\there");

  // An answers file gives the path like any other field.
  std::vector<AnswerLine> lines;
  ASSERT_TRUE(ParseAnswers("SelectDirectory OK \"Path=C:\\Program Files\"\n", &lines, &error));
  FolderBrowserDialog answered(*files_, "");
  ASSERT_TRUE(ApplyAnswer(lines[0], answered, &error)) << error;
  EXPECT_EQ(answered.ChosenPath(), "C:\\Program Files");
  EXPECT_EQ(FormatAnswer(answered), "SelectDirectory OK Path=\"C:\\Program Files\"\n");
}

TEST_F(FolderBrowserTest, TerminalNavigatesByNumbersAndPaths) {
  test::FakeTerminal terminal;
  FolderBrowserDialog b(*files_, "");
  size_t home = Row(b, std::string(1, scratch_[0]) + ":\\");
  // Empty path: OK refused; help; open the drive by number; go to a
  // folder; select a row by number; a word it does not know; then OK.
  for (std::string line : {std::string(""), std::string("h"), std::to_string(home + 1),
                           "g " + scratch_ + "\\Zed", std::string("bogus"),
                           std::string("g ") + scratch_ + "\\nothing", std::string("ok")}) {
    terminal.input.push_back(line);
  }
  ConsoleFrontEnd console(terminal);
  EXPECT_EQ(console.Show(b), FolderBrowserDialog::kOk);
  EXPECT_EQ(b.ChosenPath(), scratch_ + "\\nothing");
  EXPECT_TRUE(terminal.input.empty());
  const std::string& out = terminal.output;
  EXPECT_NE(out.find("No folder has been selected\n"), std::string::npos);
  EXPECT_NE(out.find(FolderBrowserDialog::HelpText()), std::string::npos);
  EXPECT_NE(out.find("Path: " + scratch_ + "\\Zed\n"), std::string::npos);
  EXPECT_NE(out.find("Please type a folder's number"), std::string::npos);
  EXPECT_NE(out.find("not found in the tree"), std::string::npos);
  EXPECT_NE(out.find("1. A:  (removable)  [+]\n"), std::string::npos) << out;

  test::FakeTerminal select_and_cancel;
  select_and_cancel.input = {std::to_string(home + 1), "s " + std::to_string(home + 2), "c"};
  FolderBrowserDialog c(*files_, "");
  ConsoleFrontEnd console2(select_and_cancel);
  EXPECT_EQ(console2.Show(c), FolderBrowserDialog::kCancel);
  EXPECT_EQ(c.Selected(), home + 1);
  EXPECT_EQ(c.Nodes()[home + 1].depth, 1);

  // No terminal: never waits, takes Cancel.
  test::FakeTerminal none;
  none.interactive = false;
  FolderBrowserDialog d(*files_, "C:\\");
  ConsoleFrontEnd console3(none);
  EXPECT_EQ(console3.Show(d), FolderBrowserDialog::kCancel);
  EXPECT_EQ(none.reads, 0);
}

}  // namespace
}  // namespace crx::ui
