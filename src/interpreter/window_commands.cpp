// The look of the interpreter's window and its progress display:
// background, banner, title and progress. The look is kept in a portable
// model (ui/window_look.h) that the host paints; the progress display is
// the feedback window the host makes. In silent mode nothing is shown:
// background and banner do nothing, title is only remembered, and progress
// checks its count but opens no display. Argument counts and options are
// checked by the command table before any of these runs.
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/format.h"
#include "engine/user_interface.h"
#include "interpreter/script_interpreter.h"

namespace crx::interp {

namespace {

constexpr const char* kPistons = "@pistons";
constexpr const char* kFiles = "@files";

// The window commands need the view; without one they fail.
bool NoView(ScriptInterpreter& k) {
  if (k.host.HasView()) return false;
  k.LogF("# %s: there is no window to show it in\n", k.cmd.command.c_str());
  return true;
}

// Reads a whole bitmap file through the platform layer and decodes it;
// false with the reason.
bool LoadBitmap(ScriptInterpreter& k, const std::string& path, ui::Bitmap* bitmap,
                std::string* reason) {
  std::unique_ptr<File> file =
      k.platform.files.Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
  if (!file) {
    *reason = Format("can't open it (error %d)", static_cast<int>(LastError()));
    return false;
  }
  int64_t size = 0;
  if (!file->Size(&size) || size < 0) {
    *reason = "can't read its size";
    return false;
  }
  if (size > ui::kBitmapMaxFileSize) {
    *reason = "the file is too large";
    return false;
  }
  std::vector<uint8_t> data(static_cast<size_t>(size));
  size_t got = 0;
  while (got < data.size()) {
    size_t n = 0;
    if (!file->Read(data.data() + got, data.size() - got, &n)) {
      *reason = Format("can't read it (error %d)", static_cast<int>(LastError()));
      return false;
    }
    if (n == 0) break;
    got += n;
  }
  data.resize(got);
  return ui::DecodeBitmap(data.data(), data.size(), bitmap, reason);
}

// The animation a display opened now plays: a chosen file that is not
// there falls back to the first built-in one.
std::string PlayedAnimation(ScriptInterpreter& k) {
  const std::string& chosen = k.progress_animation;
  if (chosen == kPistons || chosen == kFiles) return chosen;
  return k.platform.files.IsFile(chosen) ? chosen : std::string(kPistons);
}

}  // namespace

bool ScriptInterpreter::CmdBackground() {
  if (silent_mode.silent()) return true;
  if (NoView(*this)) return false;
  if (cmd.option.empty()) {
    look.SetColour(ui::ParseColour(cmd.args[0]));
    host.SetLook(look);
    return true;
  }
  // -b: a bitmap tiled over the view. One that cannot be read leaves the
  // look as it was; the message tells the script's author, and the
  // installation goes on (a missing picture is no reason to undo it).
  auto bitmap = std::make_shared<ui::Bitmap>();
  std::string reason;
  if (!LoadBitmap(*this, cmd.args[0], bitmap.get(), &reason)) {
    LogF("# background: bitmap file <%s>: %s\n", cmd.args[0].c_str(), reason.c_str());
    ShowAndLog("failed to open bitmap file", kMbOk | kMbIconHand);
    return true;
  }
  look.SetBitmap(std::move(bitmap));
  host.SetLook(look);
  return true;
}

bool ScriptInterpreter::CmdBanner() {
  if (silent_mode.silent()) return true;
  if (NoView(*this)) return false;
  if (cmd.option == "-clear") {
    if (cmd.ArgCount() > 0) Log("# banner -clear: arguments ignored\n");
    look.ClearBanners();
    host.SetLook(look);
    return true;
  }
  if (cmd.ArgCount() < 1) {
    Log("# banner: no text\n");
    return false;
  }
  ui::BannerLine line;
  line.text = cmd.args[0];
  line.align = cmd.HasOption('c')   ? ui::BannerAlign::kCentre
               : cmd.HasOption('r') ? ui::BannerAlign::kRight
                                    : ui::BannerAlign::kLeft;
  if (!cmd.args[1].empty()) line.font = cmd.args[1];
  if (!cmd.args[2].empty()) {
    // A size that is no number (or not above 0) keeps the default; a huge
    // one is cut to what a window can show.
    const long size = std::strtol(cmd.args[2].c_str(), nullptr, 10);
    if (size > 0) line.size = size > ui::kMaxBannerSize ? ui::kMaxBannerSize : static_cast<int>(size);
  }
  if (!cmd.args[3].empty()) line.colour = ui::ParseColour(cmd.args[3]);
  look.AddBanner(std::move(line));
  host.SetLook(look);
  return true;
}

bool ScriptInterpreter::CmdTitle() {
  // Unquoted words make one title, as they were meant to.
  std::string text;
  for (int i = 0; i < cmd.ArgCount(); ++i) {
    if (i > 0) text += ' ';
    text += cmd.args[i];
  }
  title = text;
  if (!silent_mode.silent() && NoView(*this)) return false;
  host.SetTitle(text);
  return true;
}

bool ScriptInterpreter::CmdProgress() {
  if (cmd.option == "-c") {
    CloseProgress();
    return true;
  }
  if (cmd.option == "-a") {
    if (cmd.ArgCount() != 1) {
      Log("# progress -a: no animation named\n");
      return false;
    }
    const std::string& animation = cmd.args[0];
    if (animation != kPistons && animation != kFiles && !platform.files.IsFile(animation)) {
      Message("WARNING: can't load progress indicator AVI", kMbOk);
    }
    progress_animation = animation;
    return true;
  }
  if (cmd.option != "-i") return false;

  CloseProgress();
  const int given = cmd.ArgCount();
  int steps = given >= 1 ? std::atoi(cmd.args[0].c_str()) : 0;
  if (steps == 0) {
    for (const FileGroup& group : groups) {
      if (!group.deselected) steps += group.files;
    }
  }
  if (steps == 0 && given != 1) {
    ShowAndLog("progress -i (error): no file groups found", kMbOk | kMbIconHand);
    return false;
  }
  if (silent_mode.silent()) return true;
  if (OpenProgress("copying files", steps)) host.Pause(platform.clock, 1000);
  return true;
}

bool ScriptInterpreter::RunWindowCommand(const std::string& command, const std::string& option,
                                 const std::vector<std::string>& args) {
  const ParsedCommand saved = cmd;
  cmd.Clear();
  cmd.command = command;
  cmd.option = option;
  for (size_t i = 0; i < args.size() && i < static_cast<size_t>(kArgumentFields); ++i) {
    cmd.args[i] = args[i];
  }
  const bool ok = Dispatch();
  cmd = saved;
  return ok;
}

void ScriptInterpreter::ShowCancelledLook() {
  host.SetTitle(title.empty() ? std::string("CANCELLED") : title + " (cancelled)");
  RunWindowCommand("background", "", {"128:128:128"});
  RunWindowCommand("banner", "-l", {"...cancelled", "Times New Roman", "240", "255:255:255"});
}

bool ScriptInterpreter::OpenProgress(const std::string& caption, int steps) {
  CloseProgress();
  if (silent_mode.silent()) return false;
  progress = host.MakeProgress(PlayedAnimation(*this));
  if (!progress) return false;
  if (!progress->Open(caption, steps)) {
    Log("# the progress display can't be opened\n");
    progress.reset();
    return false;
  }
  return true;
}

void ScriptInterpreter::ProgressStep(const std::string& text) {
  if (progress) progress->SetText(text);
}

void ScriptInterpreter::CloseProgress(uint32_t pause_milliseconds) {
  if (!progress) return;
  progress->End(ui::kFeedbackSuccess);
  if (pause_milliseconds > 0) host.Pause(platform.clock, pause_milliseconds);
  progress.reset();
}

}  // namespace crx::interp
