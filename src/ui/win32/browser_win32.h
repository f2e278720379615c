// The archive browser's Win32 dialogs: the list-view form (report list with
// four small row icons, column sorting, the right-click menu, F3, the
// output-folder chooser) and the minimal stub's list-box form. Both are
// built at run time from in-memory templates and present an ArchiveBrowser.
#ifndef CRX_UI_WIN32_BROWSER_WIN32_H
#define CRX_UI_WIN32_BROWSER_WIN32_H

#include <cstdint>
#include <string>

namespace crx::ui {

class ArchiveBrowser;

// A BrowserRunner: shows the opened browser modally (the list-box form
// when browser.minimal()); returns kBrowserClosed.
int RunWin32Browser(ArchiveBrowser& browser);
// The list-box form only, for the minimal stub: links none of the list
// view's code.
int RunWin32ListBoxBrowser(ArchiveBrowser& browser);

// A DdeSender: an execute transaction of command to application/topic.
bool SendDdeExecute(const std::string& application, const std::string& topic,
                    const std::string& command, uint32_t timeout);

// Control identifiers of the browser window (for tests that drive it).
enum : int {
  kBrowserListId = 1100,
  kBrowserToLocationsId = 1101,
  kBrowserFolderId = 1102,
  kBrowserChooseId = 1103,
  kBrowserFlattenId = 1104,
  kBrowserReadOnlyId = 1105,
  kBrowserGetSelectedId = 1106,
  kBrowserAlwaysId = 1110,  // then never, prompt, only if newer
  kBrowserGetAllId = 1,     // IDOK
  kBrowserCloseId = 2,      // IDCANCEL
};

}  // namespace crx::ui

#endif  // CRX_UI_WIN32_BROWSER_WIN32_H
