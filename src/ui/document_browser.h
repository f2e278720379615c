// Showing a document or web address to the person who installs. On Windows
// a top-level "Kestrova Browser" window hosts the system's web-browser
// control; elsewhere the desktop's own opener shows it when there is a
// display, and the terminal names it when there is none.
#ifndef CRX_UI_DOCUMENT_BROWSER_H
#define CRX_UI_DOCUMENT_BROWSER_H

#include <string>

namespace crx {
struct Platform;
}

namespace crx::ui {

enum class BrowseOutcome {
  kShown,      // shown (on Windows: every browser window is closed again)
  kNoBrowser,  // no browser could be made; nothing was shown
};

// Shows target and returns once the person is done with it where that can
// be known (the browser windows are closed), keeping the program's windows
// responsive meanwhile.
BrowseOutcome ShowDocument(Platform& platform, const std::string& target);

// Opens target with the program the system associates with it; false when
// that cannot be done.
bool OpenWithAssociatedProgram(Platform& platform, const std::string& target);

// Lets the system's own front-end show the text viewer (DisplayDialog) in
// its own window: the rich-edit window on Windows (the terminal pages the
// text without being asked). Called before a viewer is shown.
void PrepareDocumentViewer();

// True for a web (or other) address rather than a file: a scheme such as
// "http:" of two letters or more, or a name beginning with "www.".
bool IsAddress(const std::string& target);

// Single-quotes text for the POSIX shell.
std::string ShellQuoted(const std::string& text);

}  // namespace crx::ui

#endif  // CRX_UI_DOCUMENT_BROWSER_H
