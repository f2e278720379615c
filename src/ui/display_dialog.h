// The text viewer of an installation ("File"): a read-me or licence text
// under the caller's title, shown read-only. Its buttons depend on its use:
// Close alone, OK and Cancel (the person may stop the installation), or OK
// and Cancel with the licence tick box that OK requires.
#ifndef CRX_UI_DISPLAY_DIALOG_H
#define CRX_UI_DISPLAY_DIALOG_H

#include <string>

#include "ui/dialog.h"

namespace crx::ui {

enum class DisplayMode {
  kClose,        // Close only
  kCancellable,  // OK, Cancel
  kLicence,      // OK, Cancel and the tick box "Read"
};

// The readable text of rich text: control words and destinations such as
// font and colour tables dropped, paragraph marks and tabs kept, escaped
// characters ("\'e9", "\{") as their bytes. Text that does not begin with
// "{\rtf" is returned unchanged.
std::string RichTextToPlain(const std::string& rtf);

// True when the file name's extension is "RTF" in any case.
bool IsRichTextName(const std::string& path);

class DisplayDialog : public Dialog {
 public:
  static constexpr const char* kName = "DisplayFile";
  static constexpr const char* kTickLabel = "I have read and understand the licence agreement.";
  static constexpr const char* kNotTicked = "Please confirm your have read the licence agreement";
  static constexpr const char* kCannotView = "CANNOT VIEW THE REQUESTED FILE";
  static constexpr const char* kControlError = "EDIT CONTROL INIT ERROR";

  // content: the file's bytes; rich: shown as rich text (else plain).
  // Close is kIdOk; OK kIdOk and Cancel kIdCancel otherwise. The refusing
  // answer is Close or Cancel.
  DisplayDialog(const std::string& title, const std::string& path, std::string content,
                bool rich, DisplayMode mode);

  const DisplayDialog* AsDisplay() const override { return this; }

  const std::string& Path() const { return path_; }
  const std::string& Content() const { return content_; }
  bool Rich() const { return rich_; }
  DisplayMode Mode() const { return mode_; }
  // The content as a terminal shows it (rich text made plain). Virtual so
  // that a front-end reaches it through the model alone: the stubs link the
  // front-ends but never the viewer.
  virtual std::string PlainText() const;

 protected:
  bool Validate(int id, std::string* error) override;

 private:
  std::string path_;
  std::string content_;
  bool rich_;
  DisplayMode mode_;
};

}  // namespace crx::ui

#endif  // CRX_UI_DISPLAY_DIALOG_H
