// The archive browser: the dialog that lists the members of an archive and
// extracts all or some of them, with a choice of output folder and
// replacement rules, and lets the user look at one member with Notepad or
// with the application registered for its file type.
//
// ArchiveBrowser is the portable model: it owns the ArchiveEngine the dialog
// reads with, the rows, the selection, the extraction settings, the Find
// settings and the busy state, and it shows its own messages through the
// UserInterface. Three front-ends present it:
//   win32/browser_win32     the list-view dialog (and the minimal stub's
//                           list-box form)
//   console/browser_console a browser on the terminal
//   RunBrowserDialogs       one "Browse" dialog model per action, shown by
//                           any FrontEnd (answers files, recording)
// ShowArchiveBrowser picks one and runs the whole dialog.
#ifndef CRX_UI_BROWSER_H
#define CRX_UI_BROWSER_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/archive_engine.h"
#include "ui/dialog.h"
#include "ui/feedback_hooks.h"
#include "ui/member_rows.h"

namespace crx {
struct Platform;
class UserInterface;
}  // namespace crx

namespace crx::ui {

class Feedback;
class FrontEnd;
class ArchiveBrowser;

// The dialog's modal results.
inline constexpr int kBrowserClosed = 1;     // the user closed the browser
inline constexpr int kBrowserCancelled = 2;  // the browser closed while opening

// The row icons, in the order of the image list.
enum BrowserIcon : int {
  kIconUnread = 0,
  kIconExtracted = 1,
  kIconFailed = 2,
  kIconSkipped = 3,
};


// One list row. member is the index of its MemberEntry in the engine's list.
struct BrowserRow {
  size_t member = 0;
  std::string name;
  std::string time_text;   // "%d/%d/%d %d:%d": day, month, year, hour, minute
  std::string size_text;
  std::string stored_text;
  int icon = kIconUnread;
  bool selected = false;
};

// The settings the extraction controls hold.
struct ExtractionSettings {
  bool to_locations = true;   // "output to locations on archive"
  std::string output_folder;  // used when to_locations is off
  bool flatten = false;
  int32_t replace_mode = kReplacePrompt;
  bool overwrite_read_only = false;
};

// The right-click menu.
enum BrowserCommand : int {
  kCommandExtract = 1,
  kCommandOpenAssociated = 2,
  kCommandViewNotepad = 3,
  kCommandFind = 4,
};

struct BrowserMenuItem {
  int command = 0;  // 0 = a separator
  std::string text;
  bool enabled = true;
};

// The open verb of a member's file type, from HKEY_CLASSES_ROOT.
struct OpenVerb {
  std::string verb;
  std::string command;
  std::string dde_command;  // empty: no DDE
  std::string dde_application;
  std::string dde_topic;
};

// Sends a DDE execute transaction (command) to application and topic with
// a time-out in milliseconds; true when it was accepted. The Win32
// front-end provides it; elsewhere there is none.
using DdeSender = bool (*)(const std::string& application, const std::string& topic,
                           const std::string& command, uint32_t timeout);

// Runs the dialog of a browser that has opened; returns the modal result.
using BrowserRunner = int (*)(ArchiveBrowser& browser);

struct BrowserOptions {
  std::string path;             // empty: the running program's own file
  bool list_only = false;       // no extraction controls, no password
  bool pre_authorised = false;  // the caller has checked the password
  bool minimal = false;         // the minimal stub's list-box form
  // The user's locale (LCID); 1033 and 4105 write dates month first.
  uint32_t locale = 1033;
  // Stubs read only their own archive at their own length.
  bool stub_reader = false;
  int32_t own_offset = 0;
  // A silent run: the browser's engine reports errors to the error log and
  // replaces files without asking.
  bool silent = false;
  // Makes a feedback window for a long extraction; null: none is shown.
  std::function<std::unique_ptr<Feedback>()> make_feedback;
  // The window the listing of an archive that spans disks shows (not
  // owned, e.g. an OwnFeedbackWindow); null: none.
  OwnFeedback* own_feedback = nullptr;
  // The interactive dialog of the program (Win32 or the terminal). Null,
  // or an unattended run (CRX_ANSWERS set): the "Browse" dialogs through
  // the front-end.
  BrowserRunner native = nullptr;
  DdeSender send_dde = nullptr;
};

// Builds the command that views the file at path: the first "%1" of
// command replaced by path, else command, a space and path.
std::string ViewCommand(const std::string& command, const std::string& path);

// The caption "Cratex Archive - name (date time)", month first for the
// locales 1033 and 4105, day first for every other.
std::string BrowserCaption(const std::string& name, const SystemTime& created,
                           uint32_t locale);

// The "Find" dialog: field Text, check boxes FromCurrent ("find from
// current position") and MatchCase ("match case"), OK and Cancel.
class FindDialog : public Dialog {
 public:
  static constexpr const char* kName = "Find";
  FindDialog(const std::string& text, bool from_current, bool match_case);
};

class ArchiveBrowser {
 public:
  ArchiveBrowser(Platform& platform, UserInterface& ui, FrontEnd& front_end,
                 const BrowserOptions& options);
  ~ArchiveBrowser();
  ArchiveBrowser(const ArchiveBrowser&) = delete;
  ArchiveBrowser& operator=(const ArchiveBrowser&) = delete;

  // Reads the archive's information, asks for the password, lists it and
  // builds the caption and rows. False when the browser is to close
  // (Cancel at the password, a failed listing, an empty archive); the
  // reason has been shown.
  bool Open();

  const BrowserOptions& options() const { return options_; }
  bool list_only() const { return options_.list_only; }
  bool minimal() const { return options_.minimal; }
  const std::string& caption() const { return caption_; }
  // The rows in display order.
  const std::vector<BrowserRow>& rows() const { return rows_; }
  ArchiveEngine& engine() { return engine_; }
  Platform& platform() { return platform_; }
  UserInterface& ui() { return ui_; }
  FrontEnd& front_end() { return front_end_; }

  // ---- selection ------------------------------------------------------------
  void Select(size_t row, bool selected);
  void SelectOnly(size_t row);
  void ClearSelection();
  size_t SelectedCount() const;
  // The first selected row in display order, or -1.
  int FirstSelected() const;
  // The row Find starts after (the list's selection mark), or -1.
  int mark() const { return mark_; }
  void set_mark(int row) { mark_ = row; }
  // "Get Selected" is enabled once a row's state has changed.
  bool get_selected_enabled() const { return get_selected_enabled_; }
  void RowStateChanged() { get_selected_enabled_ = true; }

  // ---- settings ---------------------------------------------------------------
  // The output folder set here is a folder the user named: extraction
  // there is allowed even where the machine limits the writes of programs
  // run from archives (FileSystem::AllowWritesBelow).
  ExtractionSettings& settings() { return settings_; }

  // The output-folder chooser accepted typed (trimmed): an existing folder
  // is taken as it is, else relative to the chooser's folder, else to the
  // start folder; otherwise the user is asked whether to create it (with
  // its missing parents; the user has named it, so writes below it are
  // allowed). True with the folder in *chosen; false keeps the chooser open.
  bool AcceptChosenFolder(const std::string& typed, const std::string& dialog_folder,
                          const std::string& start_folder, std::string* chosen);

  // ---- actions ----------------------------------------------------------------
  // Get All / Get Selected. False when nothing was extracted (the settings
  // were refused, nothing was selected, busy) or the extraction failed.
  bool GetAll();
  bool GetSelected();
  bool busy() const { return busy_; }
  // "Close" / "Quit": while busy asks a running extraction to stop and
  // returns false; otherwise deletes the temporary member and returns true
  // (the dialog closes).
  bool PressClose();
  // While busy the close button reads "Quit".
  const char* CloseLabel() const { return busy_ ? "Quit" : "Close"; }

  // The right-click menu for the current selection; empty when there is
  // none (no selection, list-only, busy, or the minimal form).
  std::vector<BrowserMenuItem> ContextMenu();
  // The open verb of member name's file type; false when it has none.
  bool LookUpOpenVerb(const std::string& name, OpenVerb* verb);
  // Runs a menu command (kCommandExtract ... kCommandFind).
  bool RunCommand(int command);

  // Viewing: extracts the first selected member to its temporary path
  // (*path). False when it failed (the engine has reported why).
  bool ExtractForViewing(std::string* path);
  // Starts the viewing command and waits for it; reports a failed start.
  bool RunViewer(const std::string& command);
  // Views the first selected member with Notepad (associated false) or
  // with the open verb found by the last ContextMenu().
  bool View(bool associated);
  // The minimal form's double click up to the viewer: asks "Do you want
  // to view the selected file in NOTEPAD?" and extracts the selected
  // member to its temporary path (*path). False when the user said No or
  // the extraction failed ("Failed to extract file" shown).
  bool PrepareMinimalView(std::string* path);
  // The minimal form's double click: PrepareMinimalView, then Notepad.
  bool ViewMinimal();

  // ---- Find -------------------------------------------------------------------
  // Shows the Find dialog through the front-end; on OK stores the settings
  // and searches.
  bool FindWithDialog();
  // Searches with the stored settings. The hit is selected alone and
  // marked; -1 and "Not found" otherwise.
  int FindNext();
  std::string find_text;
  bool find_match_case = false;
  bool find_from_current = false;

  // ---- sorting ------------------------------------------------------------------
  // Sorts the rows ascending and stably by a column; refused while busy.
  bool SortBy(BrowserColumn column);

  // How many entries the last extraction left with status 3.
  int read_only_refusals() const { return read_only_refusals_; }

  // The front-end's hook for letting window messages through while the
  // engine works (the Quit button must stay live).
  std::function<void()> process_messages;
  // Called when busy changes (the front-end relabels its buttons).
  std::function<void()> busy_changed;

 private:
  class Hooks;
  bool TakeSettings();
  bool Extract(const std::vector<std::string>* selection, bool multi_volume_notice,
               const char* title, int range, bool show_feedback);
  void SetBusy(bool busy);
  void UpdateIcons();
  int Message(const std::string& text, uint32_t flags);
  const std::string& ArchiveName() const;

  Platform& platform_;
  UserInterface& ui_;
  FrontEnd& front_end_;
  BrowserOptions options_;
  ArchiveEngine engine_;
  std::unique_ptr<Hooks> hooks_;
  std::string caption_;
  std::vector<BrowserRow> rows_;
  ExtractionSettings settings_;
  OpenVerb open_verb_;
  bool has_open_verb_ = false;
  int mark_ = -1;
  bool get_selected_enabled_ = false;
  bool busy_ = false;
  int read_only_refusals_ = 0;
};

// Runs the browser with one "Browse" dialog model per action through the
// front-end (an answers file, recording, or any front-end without a
// browser of its own). Returns the modal result.
int RunBrowserDialogs(ArchiveBrowser& browser);

// The one entry of the stubs and the builder: opens the browser on the
// archive and runs it with options.native, or with the "Browse" dialogs
// when none is given or the run is unattended (CRX_ANSWERS set). Returns
// kBrowserClosed, or kBrowserCancelled when it closed while opening.
int ShowArchiveBrowser(Platform& platform, UserInterface& ui, FrontEnd& front_end,
                       const BrowserOptions& options);

}  // namespace crx::ui

#endif  // CRX_UI_BROWSER_H
