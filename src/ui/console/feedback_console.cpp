#include "ui/console/feedback_console.h"

#include "common/format.h"
#include "common/terminal_text.h"
#include "platform/platform.h"

namespace crx::ui {

namespace {

constexpr int kBarWidth = 20;
constexpr const char kSpinner[] = "|/-\\";

}  // namespace

std::string ConsoleFeedback::Line(const FeedbackModel& model, int frame, int width) {
  std::string line;
  if (model.bar_enabled()) {
    int filled = static_cast<int>(static_cast<int64_t>(model.bar_position()) * kBarWidth /
                                  model.bar_maximum());
    line += '[';
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(kBarWidth - filled), '.');
    line += "] ";
    int shown = model.count() > model.range() ? model.range() : model.count();
    AppendFormat(&line, "%d/%d ", shown, model.range());
  }
  if (model.animating()) {
    line += kSpinner[frame & 3];
    line += ' ';
  }
  std::string text = model.main_text();
  if (!model.detail_text().empty()) {
    text += " - ";
    text += model.detail_text();
  }
  // Line breaks in a text would break the in-place redraw; any other
  // control character (from a member name) is shown escaped.
  for (char& c : text) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  line += TerminalText(text);
  size_t limit = width > 1 ? static_cast<size_t>(width - 1) : 0;
  if (line.size() > limit) line.resize(limit);
  return line;
}

void ConsoleFeedback::Show(int request) {
  if (!terminal_.IsInteractive()) return;
  const FeedbackModel& m = model();
  if (request == 0) terminal_.Write(TerminalText(m.caption()) + "\n");
  std::string line = Line(m, frame_++, terminal_.Width());
  std::string out = "\r" + line;
  if (last_length_ > line.size()) out.append(last_length_ - line.size(), ' ');
  last_length_ = line.size();
  if (m.ended()) {
    // The final line stays; the next output starts below it.
    out += "\n";
    last_length_ = 0;
  }
  terminal_.Write(out);
}

}  // namespace crx::ui
