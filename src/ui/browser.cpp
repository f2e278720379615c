#include "ui/browser.h"

#include <algorithm>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "platform/platform.h"
#include "ui/feedback.h"
#include "ui/front_end.h"
#include "ui/password_dialogs.h"

namespace crx::ui {

namespace {

constexpr const char* kMessageCaption = "Cratex";
constexpr const char* kMultiVolumeNotice =
    "This is a multi volume archive.\nEnsure volume 1 is in the drive.";
// Archives of more blocks than this extract with a feedback window.
constexpr int32_t kQuietBlocks = 50;

bool Contains(const std::string& haystack, const std::string& needle, bool match_case) {
  if (match_case) return haystack.find(needle) != std::string::npos;
  return winpath::ToUpperAscii(haystack).find(winpath::ToUpperAscii(needle)) !=
         std::string::npos;
}

// The default value of a key under HKEY_CLASSES_ROOT; false when the key
// or the value is missing.
bool ClassDefault(Registry& registry, const std::string& path, std::string* value) {
  ScopedRegKey key(registry);
  if (registry.OpenKey(kHKeyClassesRoot, path, RegAccess::kRead, key.Out()) != kErrorSuccess) {
    return false;
  }
  return registry.GetString(key.Get(), "", value) == kErrorSuccess;
}

}  // namespace

class ArchiveBrowser::Hooks : public FeedbackHooks {
 public:
  explicit Hooks(ArchiveBrowser& browser) : browser_(browser) {}
  void ProcessMessages() override {
    if (browser_.process_messages) browser_.process_messages();
  }
  bool UserQuit() override { return quit; }
  bool quit = false;

 private:
  ArchiveBrowser& browser_;
};

std::string ViewCommand(const std::string& command, const std::string& path) {
  size_t at = command.find("%1");
  if (at == std::string::npos) return command + " " + path;
  std::string out = command;
  out.replace(at, 2, path);
  return out;
}

std::string BrowserCaption(const std::string& name, const SystemTime& t, uint32_t locale) {
  bool month_first = locale == 1033 || locale == 4105;
  return Format("Cratex Archive - %s (%02d/%02d/%4d %02d:%02d)", name.c_str(),
                month_first ? t.month : t.day, month_first ? t.day : t.month, t.year, t.hour,
                t.minute);
}

FindDialog::FindDialog(const std::string& text, bool from_current, bool match_case)
    : Dialog(kName, "Find", "") {
  AddField({"Text", "Find what:", FieldKind::kText, text, false});
  AddField({"FromCurrent", "find from current position", FieldKind::kCheck,
            from_current ? "1" : "0", false});
  AddField({"MatchCase", "match case", FieldKind::kCheck, match_case ? "1" : "0", false});
  AddButton("OK", "OK", kIdOk);
  AddButton("Cancel", "Cancel", kIdCancel);
  SetRefusingButton(1);
}

ArchiveBrowser::ArchiveBrowser(Platform& platform, UserInterface& ui, FrontEnd& front_end,
                               const BrowserOptions& options)
    : platform_(platform),
      ui_(ui),
      front_end_(front_end),
      options_(options),
      engine_(platform, ui),
      hooks_(std::make_unique<Hooks>(*this)) {
  engine_.set_hooks(hooks_.get());
  engine_.set_own_feedback(options_.own_feedback);
  engine_.log().set_silent(options_.silent);
  if (options_.stub_reader) engine_.set_stub_reader(true, options_.own_offset);
}

ArchiveBrowser::~ArchiveBrowser() { engine_.set_hooks(nullptr); }

int ArchiveBrowser::Message(const std::string& text, uint32_t flags) {
  return ui_.MessageBox(text, kMessageCaption, flags);
}

bool ArchiveBrowser::Open() {
  const std::string& path = options_.path;
  engine_.ReadArchiveInfo(path);
  bool accepted = options_.pre_authorised || options_.list_only;
  engine_.set_password_accepted(accepted);
  const IdentificationRecord& id = engine_.identification();
  if (!engine_.open_failed() && id.HasPassword() && !accepted) {
    if (!RunUnlockDialog(front_end_, id.password_digest)) return false;
    engine_.set_password_accepted(true);
  }

  // An archive that could not be opened for its information is not tried
  // a second time (that would only repeat the engine's report).
  if (engine_.open_failed() || !engine_.ListArchive(path)) {
    engine_.CloseArchive();
    if (engine_.identification().file_count == kListCancelledByUser) {
      Message("Multi-volume list operation cancelled,\nno contents list is available", kMbOk);
      engine_.members().clear();
    } else {
      Message(path.empty() ? std::string("ERROR - can't list archive")
                           : Format("ERROR - can't list archive...<%s>", path.c_str()),
              kMbOk | kMbIconHand);
      return false;
    }
  } else {
    engine_.CloseArchive();
  }

  std::string own = path.empty() ? platform_.processes.ProgramPath() : path;
  caption_ = BrowserCaption(winpath::LastElement(own), engine_.identification().created,
                            options_.locale);

  const std::vector<MemberEntry>& members = engine_.members();
  if (members.empty() && engine_.identification().file_count == 0) {
    Message("Archive Contains No Files", kMbOk);
    return false;
  }
  rows_.clear();
  rows_.reserve(members.size());
  for (size_t i = 0; i < members.size(); ++i) {
    const MemberEntry& m = members[i];
    BrowserRow row;
    row.member = i;
    row.name = m.name;
    row.time_text = MemberTimeText(m.modified);
    row.size_text = Format("%d", m.size);
    row.stored_text = Format("%d", m.compressed_size);
    rows_.push_back(std::move(row));
  }
  return true;
}

// ---- selection ----------------------------------------------------------------

void ArchiveBrowser::Select(size_t row, bool selected) {
  if (row >= rows_.size()) return;
  if (rows_[row].selected != selected) RowStateChanged();
  rows_[row].selected = selected;
}

void ArchiveBrowser::SelectOnly(size_t row) {
  ClearSelection();
  Select(row, true);
  if (row < rows_.size()) mark_ = static_cast<int>(row);
}

void ArchiveBrowser::ClearSelection() {
  for (size_t i = 0; i < rows_.size(); ++i) Select(i, false);
}

size_t ArchiveBrowser::SelectedCount() const {
  size_t n = 0;
  for (const BrowserRow& r : rows_) n += r.selected ? 1 : 0;
  return n;
}

int ArchiveBrowser::FirstSelected() const {
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].selected) return static_cast<int>(i);
  }
  return -1;
}

bool ArchiveBrowser::AcceptChosenFolder(const std::string& typed,
                                        const std::string& dialog_folder,
                                        const std::string& start_folder, std::string* chosen) {
  std::string name = Trimmed(typed);
  if (name.empty()) return false;
  FileSystem& files = platform_.files;
  std::string candidates[] = {name, winpath::IsAbsolute(name) ? std::string() : winpath::Join(dialog_folder, name),
                              winpath::IsAbsolute(name) ? std::string() : winpath::Join(start_folder, name)};
  for (const std::string& c : candidates) {
    if (!c.empty() && files.IsFolder(c)) {
      *chosen = c;
      return true;
    }
  }
  if (Message("The directory-path you have selected does not exist\nDo you wish to create it?",
              kMbYesNo | kMbIconQuestion) != kIdYes) {
    return false;
  }
  std::string target = files.FullPath(winpath::IsAbsolute(name) || dialog_folder.empty()
                                          ? name
                                          : winpath::Join(dialog_folder, name));
  files.AllowWritesBelow(target);
  std::string prefix = winpath::Root(target);
  for (const std::string& element : winpath::Elements(target)) {
    prefix = prefix.empty() || prefix.back() == '\\' ? prefix + element : prefix + "\\" + element;
    if (!files.IsFolder(prefix) && !files.CreateFolder(prefix)) {
      uint32_t code = LastError();
      Message(Format("Can't create directory...\n<%s>\nError: 0x%x[%d]", prefix.c_str(), code,
                     static_cast<int>(code)),
              kMbOk | kMbIconHand);
      return false;
    }
  }
  *chosen = target;
  return true;
}

// ---- extraction ---------------------------------------------------------------

bool ArchiveBrowser::TakeSettings() {
  if (!settings_.to_locations && settings_.output_folder.empty()) {
    Message("You have chosen NOT to extract files to \nthe same location as on the archive, "
            "but\nyou have not chosen an alternative location.",
            kMbOk | kMbIconExclamation);
    return false;
  }
  // The user named this folder as the destination.
  if (!settings_.to_locations) {
    platform_.files.AllowWritesBelow(platform_.files.FullPath(settings_.output_folder));
  }
  engine_.SetOptions(settings_.flatten ? "+F" : "-F");
  engine_.policy().set_replace_mode(settings_.replace_mode);
  engine_.policy().set_overwrite_read_only(settings_.overwrite_read_only);
  return true;
}

void ArchiveBrowser::SetBusy(bool busy) {
  busy_ = busy;
  if (busy_changed) busy_changed();
}

bool ArchiveBrowser::Extract(const std::vector<std::string>* selection,
                             bool multi_volume_notice, const char* title, int range,
                             bool show_feedback) {
  if (multi_volume_notice) Message(kMultiVolumeNotice, kMbOk | kMbIconAsterisk);
  std::unique_ptr<Feedback> feedback;
  if (show_feedback && options_.make_feedback) {
    feedback = options_.make_feedback();
    if (feedback && feedback->Open(title, range)) {
      hooks_->Attach(feedback.get());
    }
  }
  hooks_->quit = false;
  SetBusy(true);
  // The engine rebuilds a setup archive's member list on every extraction
  // when it still holds the company text of the last read; the rows and the
  // statuses set here must survive, so the text is dropped (the read brings
  // it back) and the entries the engine appends are cut off afterwards.
  std::vector<MemberEntry>& members = engine_.members();
  size_t listed = members.size();
  engine_.setup_info().company.clear();
  bool ok = engine_.ExtractArchive(options_.path, selection,
                                   settings_.to_locations || options_.list_only
                                       ? std::string()
                                       : settings_.output_folder);
  engine_.CloseArchive();
  if (members.size() > listed) members.resize(listed);
  // The engine ends and detaches the window itself when it gives up.
  if (hooks_->attached()) feedback->End(ok ? kFeedbackSuccess : 0);
  hooks_->Detach();
  SetBusy(false);
  return ok;
}

bool ArchiveBrowser::GetAll() {
  if (busy_ || list_only()) return false;
  DeleteTempMember(platform_);
  if (!TakeSettings()) return false;
  for (MemberEntry& m : engine_.members()) m.status = kMemberNotExtracted;
  const IdentificationRecord& id = engine_.identification();
  bool show = id.block_count == 0 || id.block_count > kQuietBlocks || id.file_count == -1;
  bool ok = Extract(nullptr, false, "Extrtact All Files",
                    id.file_count == -1 ? 100 : id.file_count, show);
  UpdateIcons();
  return ok;
}

bool ArchiveBrowser::GetSelected() {
  if (busy_ || list_only()) return false;
  if (SelectedCount() == 0) {
    if (minimal()) Message("Nothing Selected", kMbOk);
    return false;
  }
  if (!TakeSettings()) return false;
  for (MemberEntry& m : engine_.members()) m.status = kMemberNotExtracted;
  std::vector<std::string> names;
  for (const BrowserRow& r : rows_) {
    if (r.selected) names.push_back(r.name);
  }
  bool multi = engine_.identification().block_count == 0;
  bool ok = Extract(&names, multi, "Extrtact Selected Files", static_cast<int>(names.size()),
                    multi);
  UpdateIcons();
  return ok;
}

void ArchiveBrowser::UpdateIcons() {
  std::vector<MemberEntry>& members = engine_.members();
  read_only_refusals_ = 0;
  for (BrowserRow& row : rows_) {
    const MemberEntry* entry = nullptr;
    if (row.member < members.size() && members[row.member].name == row.name) {
      entry = &members[row.member];
    } else {
      for (const MemberEntry& m : members) {
        if (m.name == row.name) {
          entry = &m;
          break;
        }
      }
    }
    if (!entry) continue;
    switch (entry->status) {
      case kMemberExtracted: row.icon = kIconExtracted; break;
      case kMemberFailed: row.icon = kIconFailed; break;
      case kMemberReadOnly: ++read_only_refusals_; row.icon = kIconSkipped; break;
      case kMemberReplaceRefused: row.icon = kIconSkipped; break;
      default: break;
    }
  }
  if (read_only_refusals_ > 0) {
    std::string count = read_only_refusals_ == 1 ? std::string("1 file was")
                                                 : Format("%d files were", read_only_refusals_);
    Message(Format("INFORMATION...\n\n%s not extracxted because ReadOnly versions\nalreasdy "
                   "existed on the disk. To replace ReadOnly files,  \ncheck the 'Overwrite "
                   "ReadOnly Files' box on the dialog",
                   count.c_str()),
            kMbOk | kMbIconAsterisk);
  }
}

bool ArchiveBrowser::PressClose() {
  if (busy_) {
    if (hooks_->attached()) {
      hooks_->quit = true;
      engine_.SetUserQuit();
    }
    return false;
  }
  DeleteTempMember(platform_);
  return true;
}

// ---- the right-click menu and viewing ----------------------------------------

bool ArchiveBrowser::LookUpOpenVerb(const std::string& name, OpenVerb* verb) {
  *verb = OpenVerb();
  std::string extension = winpath::Extension(winpath::LastElement(name));
  Registry& registry = platform_.registry;
  std::string type;
  if (extension.empty() || !ClassDefault(registry, extension, &type) || type.empty()) {
    return false;
  }
  ScopedRegKey shell(registry);
  if (registry.OpenKey(kHKeyClassesRoot, type + "\\shell", RegAccess::kRead, shell.Out()) !=
      kErrorSuccess) {
    return false;
  }
  std::string found;
  std::string sub;
  for (uint32_t i = 0; registry.EnumKey(shell.Get(), i, &sub) == kErrorSuccess; ++i) {
    if (winpath::ToUpperAscii(sub).find("OPEN") != std::string::npos) {
      found = sub;
      break;
    }
  }
  if (found.empty()) return false;
  std::string base = type + "\\shell\\" + found;
  if (!ClassDefault(registry, base + "\\command", &verb->command) || verb->command.empty()) {
    return false;
  }
  verb->verb = found;
  if (ClassDefault(registry, base + "\\ddeexec", &verb->dde_command)) {
    if (!ClassDefault(registry, base + "\\ddeexec\\application", &verb->dde_application)) {
      ClassDefault(registry, base + "\\ddeexec\\service", &verb->dde_application);
    }
    ClassDefault(registry, base + "\\ddeexec\\topic", &verb->dde_topic);
  }
  return true;
}

std::vector<BrowserMenuItem> ArchiveBrowser::ContextMenu() {
  std::vector<BrowserMenuItem> menu;
  size_t selected = SelectedCount();
  if (selected == 0 || list_only() || busy_ || minimal()) return menu;
  bool single = selected == 1;
  menu.push_back({kCommandExtract, "Extract", true});
  has_open_verb_ = LookUpOpenVerb(rows_[static_cast<size_t>(FirstSelected())].name, &open_verb_);
  if (has_open_verb_ &&
      winpath::ToUpperAscii(open_verb_.command).find("NOTEPAD") == std::string::npos) {
    menu.push_back({0, "", true});
    menu.push_back({kCommandOpenAssociated,
                    open_verb_.verb.size() >= 5 ? open_verb_.verb
                                                : std::string("Open With Associated Application"),
                    single});
  }
  menu.push_back({kCommandViewNotepad, "View In Notepad", single});
  menu.push_back({0, "", true});
  menu.push_back({kCommandFind, "Find (F3)...", true});
  return menu;
}

bool ArchiveBrowser::RunCommand(int command) {
  switch (command) {
    case kCommandExtract: return GetSelected();
    case kCommandOpenAssociated: return View(true);
    case kCommandViewNotepad: return View(false);
    case kCommandFind: return FindWithDialog();
    default: return false;
  }
}

bool ArchiveBrowser::ExtractForViewing(std::string* path) {
  int first = FirstSelected();
  if (busy_ || first < 0) return false;
  DeleteTempMember(platform_);
  const BrowserRow& row = rows_[static_cast<size_t>(first)];
  std::vector<MemberEntry>& members = engine_.members();
  for (MemberEntry& m : members) m.status = kMemberNotExtracted;
  if (row.member >= members.size()) return false;
  const MemberEntry& entry = members[row.member];
  bool multi = engine_.identification().block_count == 0;
  bool show = multi;
  const char* title = "Searching For Selected File";
  if (minimal()) {
    title = "Searching For Selected Files";
    show = multi || entry.compressed_size / 1024 > 50;
  }
  members[row.member].status = kMemberView;
  std::vector<std::string> names{row.name};
  // Viewing leaves the user's replace rules alone: the temporary copy is
  // always replaced.
  int32_t mode = engine_.policy().replace_mode();
  engine_.policy().set_replace_mode(kReplaceAlways);
  bool ok = Extract(&names, multi, title, 100, show);
  engine_.policy().set_replace_mode(mode);
  bool written = ok && row.member < members.size() &&
                 members[row.member].status == kMemberExtracted;
  for (MemberEntry& m : members) m.status = kMemberNotExtracted;
  if (!written) return false;
  *path = LastTempMember();
  return !path->empty();
}

bool ArchiveBrowser::View(bool associated) {
  if (SelectedCount() != 1) return false;
  if (associated && !has_open_verb_) return false;
  std::string path;
  if (!ExtractForViewing(&path)) return false;
  if (associated && !open_verb_.dde_command.empty() && options_.send_dde &&
      options_.send_dde(open_verb_.dde_application, open_verb_.dde_topic,
                        ViewCommand(open_verb_.dde_command, path), 1000)) {
    return true;
  }
  return RunViewer(ViewCommand(associated ? open_verb_.command : "NOTEPAD %1", path));
}

bool ArchiveBrowser::RunViewer(const std::string& command) {
  std::unique_ptr<Process> process = platform_.processes.Start(command, StartOptions());
  if (!process) {
    uint32_t code = LastError();
    Message(Format("error creating process %d[0x%x]", static_cast<int>(code), code),
            kMbOk | kMbIconHand);
    return false;
  }
  process->Wait(kInfinite);
  return true;
}

bool ArchiveBrowser::PrepareMinimalView(std::string* path) {
  if (busy_ || FirstSelected() < 0) return false;
  if (Message("Do you want to view the selected file in NOTEPAD?", kMbYesNo | kMbIconQuestion) !=
      kIdYes) {
    return false;
  }
  if (!ExtractForViewing(path)) {
    Message("Failed to extract file", kMbOk | kMbIconHand);
    return false;
  }
  return true;
}

bool ArchiveBrowser::ViewMinimal() {
  std::string path;
  return PrepareMinimalView(&path) && RunViewer(Format("NOTEPAD %s", path.c_str()));
}

// ---- Find and sorting -----------------------------------------------------------

bool ArchiveBrowser::FindWithDialog() {
  FindDialog dialog(find_text, find_from_current, find_match_case);
  if (front_end_.Show(dialog) != kIdOk) return false;
  find_text = dialog.FindField("Text")->value;
  find_from_current = dialog.FindField("FromCurrent")->value == "1";
  find_match_case = dialog.FindField("MatchCase")->value == "1";
  return FindNext() >= 0;
}

int ArchiveBrowser::FindNext() {
  size_t start = find_from_current ? static_cast<size_t>(mark_ + 1) : 0;
  for (size_t i = start; i < rows_.size(); ++i) {
    if (!Contains(rows_[i].name, find_text, find_match_case)) continue;
    if (mark_ >= 0) Select(static_cast<size_t>(mark_), false);
    Select(i, true);
    mark_ = static_cast<int>(i);
    return mark_;
  }
  Message("Not found", kMbOk);
  return -1;
}

bool ArchiveBrowser::SortBy(BrowserColumn column) {
  if (busy_) return false;
  const std::vector<MemberEntry>& m = engine_.members();
  auto less = [&](size_t x, size_t y) {
    return MemberLess(column, m[rows_[x].member], m[rows_[y].member]);
  };
  // A bottom-up merge sort of row numbers: stable, and far smaller in the
  // stubs than the library's stable sort over whole rows.
  size_t n = rows_.size();
  std::vector<size_t> order(n);
  std::vector<size_t> merged(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  for (size_t width = 1; width < n; width *= 2) {
    for (size_t lo = 0; lo < n; lo += 2 * width) {
      size_t mid = std::min(lo + width, n);
      size_t hi = std::min(lo + 2 * width, n);
      size_t i = lo, j = mid;
      for (size_t k = lo; k < hi; ++k) {
        merged[k] = (i < mid && (j >= hi || !less(order[j], order[i]))) ? order[i++] : order[j++];
      }
    }
    order.swap(merged);
  }
  std::vector<BrowserRow> sorted;
  sorted.reserve(n);
  int mark = -1;
  for (size_t i = 0; i < n; ++i) {
    if (static_cast<int>(order[i]) == mark_) mark = static_cast<int>(i);
    sorted.push_back(std::move(rows_[order[i]]));
  }
  rows_.swap(sorted);
  mark_ = mark;
  return true;
}

// ---- the entry ------------------------------------------------------------------

int ShowArchiveBrowser(Platform& platform, UserInterface& ui, FrontEnd& front_end,
                       const BrowserOptions& options) {
  ArchiveBrowser browser(platform, ui, front_end, options);
  if (!browser.Open()) return kBrowserCancelled;
  std::string answers;
  bool unattended = platform.environment.Get("CRX_ANSWERS", &answers) && !answers.empty();
  int result = options.native && !unattended ? options.native(browser)
                                             : RunBrowserDialogs(browser);
  DeleteTempMember(platform);
  return result;
}

}  // namespace crx::ui
