// The document browser window with a caption of the caller's choice and,
// when asked, a toolbar for going back and forward and for printing (the
// builder's help window). ShowDocument (document_browser.h) is this window
// captioned "Kestrova Browser" without a toolbar.
#ifndef CRX_UI_WIN32_DOCUMENT_BROWSER_WIN32_H
#define CRX_UI_WIN32_DOCUMENT_BROWSER_WIN32_H

#include <string>

#include "ui/document_browser.h"

namespace crx::ui {

BrowseOutcome ShowDocumentWindow(Platform& platform, const std::string& target,
                                 const char* caption, bool with_toolbar);

}  // namespace crx::ui

#endif  // CRX_UI_WIN32_DOCUMENT_BROWSER_WIN32_H
