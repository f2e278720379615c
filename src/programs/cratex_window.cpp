#include "programs/cratex_window.h"

// The portable headers come before <windows.h>, whose macros (MessageBox,
// GetFreeSpace, ...) would rename their members.
#include "builder/assembly.h"
#include "builder/document.h"
#include "platform/platform.h"
#include "ui/browser.h"
#include "ui/document_browser.h"
#include "ui/feedback.h"
#include "ui/front_end.h"

#include <windows.h>
#include <ole2.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/win32/browser_win32.h"
#include "ui/win32/document_browser_win32.h"
#include "ui/win32/feedback_win32.h"
#include "ui/win32/folder_browser_win32.h"
#include "ui/win32/main_frame_win32.h"
#include "ui/win32/preferences_win32.h"

namespace crx {
namespace {

using builder::DocCommand;
using ui::FrameCommand;

struct CommandPair {
  FrameCommand frame;
  DocCommand document;
};

const CommandPair kCommands[] = {
    {FrameCommand::kNewArchive, DocCommand::kNewArchive},
    {FrameCommand::kScript, DocCommand::kScript},
    {FrameCommand::kAddFolder, DocCommand::kAddFolder},
    {FrameCommand::kAddFiles, DocCommand::kAddFiles},
    {FrameCommand::kSaveArchive, DocCommand::kSave},
    {FrameCommand::kAbortArchive, DocCommand::kAbort},
    {FrameCommand::kBrowse, DocCommand::kBrowse},
    {FrameCommand::kExit, DocCommand::kExit},
    {FrameCommand::kSetupArchive, DocCommand::kSetupArchive},
    {FrameCommand::kCompress, DocCommand::kCompress},
    {FrameCommand::kSubdirectories, DocCommand::kSubdirectories},
    {FrameCommand::kProjectBackup, DocCommand::kProjectBackup},
    {FrameCommand::kVerify, DocCommand::kVerify},
    {FrameCommand::kFlatten, DocCommand::kFlatten},
    {FrameCommand::kMinimize, DocCommand::kMinimize},
    {FrameCommand::kEncrypt, DocCommand::kEncrypt},
    {FrameCommand::kPasswordOnly, DocCommand::kPasswordOnly},
    {FrameCommand::kQuitProcessing, DocCommand::kQuitProcessing},
    {FrameCommand::kPaste, DocCommand::kPaste},
    {FrameCommand::kPreferences, DocCommand::kPreferences},
    {FrameCommand::kDocumentation, DocCommand::kDocumentation},
    {FrameCommand::kAbout, DocCommand::kAbout},
    {FrameCommand::kGetOffset, DocCommand::kTestGetOffset},
};

bool ToDocument(FrameCommand command, DocCommand* out) {
  for (const CommandPair& pair : kCommands) {
    if (pair.frame == command) {
      *out = pair.document;
      return true;
    }
  }
  return false;
}

// The program around the document: the system's file dialogs, the tree
// folder browser, feedback windows, the list-view archive browser, and the
// main window as the view.
class WindowHost : public builder::DocumentHost {
 public:
  WindowHost(Platform& platform, UserInterface& ui, ui::FrontEnd& front_end,
             ui::MainFrame& frame, bool unattended)
      : DocumentHost(platform, ui, front_end), frame_(frame), unattended_(unattended) {}

  bool ChooseSaveFile(const std::string& title, const std::string& filter,
                      const std::string& default_extension, std::string* path) override {
    if (unattended_) return DocumentHost::ChooseSaveFile(title, filter, default_extension, path);
    return ui::ShowSaveFileDialog(frame_.Handle(), title, filter, default_extension, path);
  }
  bool ChooseOpenFile(const std::string& title, const std::string& filter,
                      const std::string& default_extension, std::string* path) override {
    if (unattended_) return DocumentHost::ChooseOpenFile(title, filter, default_extension, path);
    return ui::ShowOpenFileDialog(frame_.Handle(), title, filter, default_extension, path);
  }
  bool ChooseOpenFiles(const std::string& title, const std::string& filter,
                       std::vector<std::string>* paths) override {
    if (unattended_) return DocumentHost::ChooseOpenFiles(title, filter, paths);
    return ui::ShowOpenFilesDialog(frame_.Handle(), title, filter, paths);
  }

  // The window of its own: SetDefaults fills the list without closing it.
  bool ShowPreferences(ui::PreferenceValues* values) override {
    if (unattended_) return DocumentHost::ShowPreferences(values);
    return ui::RunPreferencesWindow(values);
  }

  ui::Feedback* NewFeedback() override {
    return ui::MakeFeedback(platform(), unattended_, ui::MakeWin32Feedback).release();
  }

  void ShowBrowser(const std::string& path) override {
    ui::BrowserOptions options;
    options.path = path;
    options.locale = static_cast<uint32_t>(::GetUserDefaultLCID());
    if (!unattended_) options.native = ui::RunWin32Browser;
    options.send_dde = ui::SendDdeExecute;
    Platform& platform = this->platform();
    const bool unattended = unattended_;
    options.make_feedback = [&platform, unattended]() {
      return ui::MakeFeedback(platform, unattended, ui::MakeWin32Feedback);
    };
    ui::OwnFeedbackWindow list_window(options.make_feedback);
    options.own_feedback = &list_window;
    ui::ShowArchiveBrowser(platform, ui(), front_end(), options);
  }

  void ProcessMessages() override { frame_.ProcessMessages(); }
  void BusyCursor(bool on) override {
    ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(on ? IDC_WAIT : IDC_ARROW)));
  }
  void StatusText(const std::string& text) override { frame_.SetStatus(text); }
  void RowsChanged() override { frame_.Refresh(); }
  void TitleChanged(const std::string&) override { frame_.Refresh(); }

 private:
  ui::MainFrame& frame_;
  bool unattended_;
};

// The document as the window sees it.
class WindowDocument : public ui::MainFrameDocument {
 public:
  WindowDocument(builder::CCratexDoc& document, Platform& platform, UserInterface& ui)
      : document_(document), platform_(platform), ui_(ui) {}

  bool Enabled(FrameCommand command, bool clipboard_has_files) override {
    DocCommand mapped;
    return ToDocument(command, &mapped) && document_.Enabled(mapped, clipboard_has_files);
  }
  bool Checked(FrameCommand command) override {
    DocCommand mapped;
    return ToDocument(command, &mapped) && builder::IsToggle(mapped) &&
           document_.Checked(mapped);
  }
  void Run(FrameCommand command) override {
    DocCommand mapped;
    if (!ToDocument(command, &mapped)) return;
    switch (mapped) {
      case DocCommand::kDocumentation: {
        const std::string& path = document_.DocumentationPath();
        if (path.empty()) return;
        if (ui::ShowDocumentWindow(platform_, path, ui::MainFrame::kHelpCaption, true) ==
            ui::BrowseOutcome::kNoBrowser) {
          ui::OpenWithAssociatedProgram(platform_, path);
        }
        return;
      }
      case DocCommand::kTestGetOffset:
        builder::ShowStubOffsets(platform_.files, ui_);
        return;
      default:
        document_.Run(mapped);
        return;
    }
  }
  void Drop(const std::vector<std::string>& paths) override { document_.Drop(paths); }
  void Paste(const std::vector<std::string>& paths) override { document_.Paste(paths); }
  bool CloseRequested() override { return document_.Exit(); }

  std::vector<ui::FrameRow> Rows() override {
    std::vector<ui::FrameRow> rows;
    for (const builder::MemberRow& row : document_.rows()) {
      rows.push_back({row.member.name, row.time_text, row.size_text, row.stored_text});
    }
    return rows;
  }
  bool ViewWhite() override { return document_.white_background(); }
  std::string Title() override { return document_.title(); }
  void SortBy(int column) override {
    if (column < 0 || column > 3) return;
    document_.SortRows(static_cast<ui::BrowserColumn>(column));
  }

 private:
  builder::CCratexDoc& document_;
  Platform& platform_;
  UserInterface& ui_;
};

}  // namespace

int RunBuilderWindow(Platform& platform, UserInterface& ui, ui::FrontEnd& front_end,
                     bool unattended) {
  // Drag and drop, the file dialogs and the help window's browser control
  // need OLE on this thread.
  const HRESULT ole = ::OleInitialize(nullptr);
  ui::UseFolderBrowserWindow();
  int status = 1;
  {
    ui::MainFrame frame;
    WindowHost host(platform, ui, front_end, frame, unattended);
    builder::CCratexDoc document(host);
    WindowDocument view(document, platform, ui);
    if (frame.Create(view, SW_SHOWDEFAULT)) {
      status = frame.RunMessageLoop();
    } else {
      ::MessageBoxA(nullptr, "The builder's main window cannot be created.",
                    builder::kBuilderCaption, MB_OK | MB_ICONSTOP);
    }
  }
  if (SUCCEEDED(ole)) ::OleUninitialize();
  return status;
}

}  // namespace crx
