// The archive browser on the terminal: the rows with numbers, and one
// command a line (get all, get selected by numbers, find, the extraction
// settings, viewing a member with the user's pager or editor, sorting,
// quit). The minimal stub's form offers what its list box offers: the
// names only, one row at a time, no sorting, and viewing after the NOTEPAD
// question. Names from the archive are shown with their control characters
// escaped. Without a person at the terminal it never waits: it says so on
// the error stream and closes the browser, the answer nobody can refuse.
#ifndef CRX_UI_CONSOLE_BROWSER_CONSOLE_H
#define CRX_UI_CONSOLE_BROWSER_CONSOLE_H

namespace crx::ui {

class ArchiveBrowser;

// A BrowserRunner: runs the opened browser on its platform's terminal
// until the user quits or input ends; returns kBrowserClosed.
int RunConsoleBrowser(ArchiveBrowser& browser);

}  // namespace crx::ui

#endif  // CRX_UI_CONSOLE_BROWSER_CONSOLE_H
