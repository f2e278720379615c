// The builder's main window on Windows: a single-document frame
// (window class "Cratex.MainFrame") with the menu bar ("File", "Options",
// "Edit", "Help"), the toolbar with tool tips, the status bar and the
// report list of the members added to the open archive (CCratexView).
//
// The window decides nothing itself: every enabling rule, check mark and
// command is asked of the document behind MainFrameDocument, which shows
// its own dialogs (file choosers, the lock dialog, questions, feedback
// windows, Preferences) through the program's front-end. The window only
// turns menu picks, toolbar presses, accelerators, dropped file lists and
// pasted file lists into document calls, and paints the document's rows,
// background and title.
#ifndef CRX_UI_WIN32_MAIN_FRAME_WIN32_H
#define CRX_UI_WIN32_MAIN_FRAME_WIN32_H

#include <cstdint>
#include <string>
#include <vector>

namespace crx::ui {

// The commands of the menu bar and the toolbar (WM_COMMAND identifiers;
// the test helpers read the menu state by these numbers).
enum class FrameCommand : int {
  kNewArchive = 32771,
  kScript = 32772,
  kAddFolder = 32773,
  kAddFiles = 32774,
  kSaveArchive = 32775,
  kAbortArchive = 32776,
  kBrowse = 32777,
  kExit = 32778,
  kSetupArchive = 32779,
  kCompress = 32780,
  kSubdirectories = 32781,
  kProjectBackup = 32782,
  kVerify = 32783,
  kFlatten = 32784,
  kMinimize = 32785,
  kEncrypt = 32786,
  kPasswordOnly = 32787,
  kQuitProcessing = 32788,
  kPaste = 32789,
  kPreferences = 32790,
  kDocumentation = 32791,
  kAbout = 32792,
  kGetOffset = 32793,
};

// One row of the member list, as the document formats it.
struct FrameRow {
  std::string name;      // "file": the name on the archive
  std::string modtime;   // "modtime": "%d/%d/%d %d:%d"
  std::string size;      // "size"
  std::string zsize;     // "zsize"
};

// What the window needs of the builder's document.
class MainFrameDocument {
 public:
  virtual ~MainFrameDocument() = default;

  // The enabling rule of a command, evaluated whenever its menu is shown
  // and whenever the toolbar is brought up to date. clipboard_has_files
  // tells whether the clipboard holds a list of files (for Paste).
  virtual bool Enabled(FrameCommand command, bool clipboard_has_files) = 0;
  // True while an option shows its check mark.
  virtual bool Checked(FrameCommand command) = 0;
  // Runs a command (Exit is asked through CloseRequested instead).
  virtual void Run(FrameCommand command) = 0;
  // A list of files and folders dropped onto the view, or pasted from the
  // clipboard, in the order given.
  virtual void Drop(const std::vector<std::string>& paths) = 0;
  virtual void Paste(const std::vector<std::string>& paths) = 0;
  // The window is asked to close (Exit, the close box, Alt+F4, the end of
  // the session): true when the program may end now. The document asks its
  // questions (save the open archive?) and refuses while an operation runs.
  virtual bool CloseRequested() = 0;

  // The list: its rows in order, whether its background is white (an
  // archive is open) or grey, and the document's title ("" = untitled).
  virtual std::vector<FrameRow> Rows() = 0;
  virtual bool ViewWhite() = 0;
  virtual std::string Title() = 0;
  // Reorders the rows by a column (0 file, 1 modtime, 2 size, 3 zsize).
  virtual void SortBy(int column) = 0;
};

class MainFrame {
 public:
  static constexpr const char* kClassName = "Cratex.MainFrame";
  static constexpr const char* kApplication = "Cratex";
  // The help window's caption.
  static constexpr const char* kHelpCaption = "Cratex Help Browser";

  MainFrame() = default;
  ~MainFrame();
  MainFrame(const MainFrame&) = delete;
  MainFrame& operator=(const MainFrame&) = delete;

  // Creates and shows the window with its menu, toolbar, status bar and
  // list. False when a part cannot be made (the list's columns: "column
  // insert error" is shown first). The list registers as a drop target for
  // file lists (copy effect) when the thread has OLE; when that fails
  // "Failed to register View as a drop target" is shown and the window
  // still takes file lists dropped the older way (WM_DROPFILES).
  bool Create(MainFrameDocument& document, int show_command);

  // Runs the message loop until the window is closed; returns the exit
  // code.
  int RunMessageLoop();

  // The document's state changed: the rows, the background and the title
  // are read again and the toolbar's buttons are enabled anew.
  void Refresh();
  // The status bar's text (the engine's progress texts); the window's
  // waiting messages are processed so it stays live during long work.
  void SetStatus(const std::string& text);
  std::string StatusText() const;
  // Processes the window messages that are waiting (the engine calls it
  // between files so that the window and Quit Processing stay live).
  void ProcessMessages();

  // The window handle (HWND) for dialogs owned by the window; null before
  // Create.
  void* Handle() const { return window_; }

  // The window procedures' work (public for the procedures only).
  long long HandleMessage(unsigned message, unsigned long long wparam, long long lparam);

 private:
  void CreateToolbar();
  bool CreateView();
  void LayOut();
  void FillView();
  void UpdateToolbar();
  void UpdateTitle();
  void InitMenu(void* menu);
  void Command(int id);
  void MenuSelect(int id, unsigned flags);
  void DropFiles(void* drop);
  void PasteFromClipboard();
  void RegisterDropTarget();
  void RevokeDropTarget();

 public:
  // A file list the view's drop target took: handed to the document from
  // the window's own message (the program that dragged it waits until the
  // drop target returns).
  void QueueDrop(std::vector<std::string> paths);

 private:
  void RunQueuedDrop();

  MainFrameDocument* document_ = nullptr;
  void* window_ = nullptr;       // HWND of the frame
  void* toolbar_ = nullptr;      // HWND
  void* status_bar_ = nullptr;   // HWND
  void* view_ = nullptr;         // HWND of the list view
  void* accelerators_ = nullptr; // HACCEL
  std::string status_;           // the last text the engine showed
  bool in_menu_ = false;
  bool white_ = true;
  void* drop_target_ = nullptr;  // the view's IDropTarget, registered
  std::vector<std::vector<std::string>> queued_drops_;
};

// The command prompt of a command: the status-bar text, and after "\n"
// the tool tip (empty for commands without a prompt).
const char* CommandPrompt(FrameCommand command);
// The tool tip of a toolbar command: the text after the prompt's "\n".
std::string ToolTip(FrameCommand command);

// The about box.
void ShowAboutBox(void* owner);

// The system's file dialogs for the document's choosers; owner is the
// main window (HWND) or null. filter is "text (*.ext)|*.ext||", or a bare
// "text (*.ext)" whose pattern is taken from the parentheses.
// default_extension is added to a typed name without one. *path holds the
// proposed name and receives the chosen file; false when cancelled.
bool ShowSaveFileDialog(void* owner, const std::string& title, const std::string& filter,
                        const std::string& default_extension, std::string* path);
bool ShowOpenFileDialog(void* owner, const std::string& title, const std::string& filter,
                        const std::string& default_extension, std::string* path);
// Several existing files: full paths in the order the dialog gives them.
bool ShowOpenFilesDialog(void* owner, const std::string& title, const std::string& filter,
                         std::vector<std::string>* paths);

// The filter in the dialogs' form: pairs of description and pattern, each
// ended by a NUL, the whole ended by another NUL.
std::string DialogFilter(const std::string& filter);
// The files of a multiple selection as the dialog returns it: one full
// path, or a folder followed by file names, each ended by a NUL, the list
// ended by another NUL (size is the buffer's size).
std::vector<std::string> SelectedFiles(const char* buffer, size_t size);

}  // namespace crx::ui

#endif  // CRX_UI_WIN32_MAIN_FRAME_WIN32_H
