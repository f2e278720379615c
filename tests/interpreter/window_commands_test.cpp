// The window's look (background, banner, title) and the progress display,
// as script lines through the keyword table and in whole runs. The host
// records the look it was asked to paint and every progress display.
#include <string>
#include <vector>

#include "engine/user_interface.h"
#include "interpreter/copy_fixture.h"
#include "interpreter/log_compare.h"

namespace crx::test {
namespace {

class WindowCommandsTest : public CopyFixture {
 protected:
  void SetUp() override {
    CopyFixture::SetUp();
    ASSERT_TRUE(P().files.SetCurrentFolder(Scratch()));
  }
  // One script line, split as the reader does and run through the table.
  bool Do(const std::string& line) {
    K().SplitLine(line);
    return K().Dispatch();
  }
  std::vector<std::string> Shown() {
    std::vector<std::string> texts;
    for (const ShownDialog& shown : front_end_.shown) texts.push_back(shown.text);
    return texts;
  }
  // A 2 x 1 bitmap of 24 bits: a red and a blue pixel.
  std::string SmallBitmap() {
    std::string b = "BM";
    auto u32 = [&b](uint32_t v) {
      for (int i = 0; i < 4; ++i) b += static_cast<char>(v >> (8 * i));
    };
    auto u16 = [&b](uint32_t v) {
      b += static_cast<char>(v);
      b += static_cast<char>(v >> 8);
    };
    u32(62);
    u32(0);
    u32(54);
    u32(40);
    u32(2);
    u32(1);
    u16(1);
    u16(24);
    for (int i = 0; i < 6; ++i) u32(0);
    b += std::string("\0\0\xFF\xFF\0\0\0\0", 8);
    return b;
  }
};

TEST_F(WindowCommandsTest, BackgroundBannerAndTitleChangeTheLook) {
  ASSERT_TRUE(Do("background 255:65:20"));
  EXPECT_TRUE(host_.look.has_colour());
  EXPECT_EQ(host_.look.colour(), ui::MakeColour(255, 65, 20));

  ASSERT_TRUE(Do("banner -c Welcome Arial 240 255:255:255"));
  ASSERT_TRUE(Do("banner -r \"second line\""));
  ASSERT_TRUE(Do("banner \"third line\" Courier 0 0,0,200"));
  ASSERT_EQ(host_.look.lines().size(), 3u);
  const ui::BannerLine& welcome = host_.look.lines()[0];
  EXPECT_EQ(welcome.text, "Welcome");
  EXPECT_EQ(welcome.font, "Arial");
  EXPECT_EQ(welcome.size, 240);
  EXPECT_EQ(welcome.align, ui::BannerAlign::kCentre);
  EXPECT_EQ(welcome.colour, 0xFFFFFFu);
  const ui::BannerLine& second = host_.look.lines()[1];
  EXPECT_EQ(second.font, "Times New Roman");
  EXPECT_EQ(second.size, 120);
  EXPECT_EQ(second.colour, 0u);
  EXPECT_EQ(second.align, ui::BannerAlign::kRight);
  // A size that is no size keeps the default; no option aligns left.
  EXPECT_EQ(host_.look.lines()[2].size, 120);
  EXPECT_EQ(host_.look.lines()[2].align, ui::BannerAlign::kLeft);
  EXPECT_EQ(host_.look.lines()[2].colour, ui::MakeColour(0, 0, 200));

  // -clear holds both c and r; it is its own form, not an alignment.
  ASSERT_TRUE(Do("banner -clear"));
  EXPECT_TRUE(host_.look.lines().empty());
  // The other forms need a text.
  EXPECT_FALSE(Do("banner -c"));
  EXPECT_TRUE(host_.look.lines().empty());
  // The table refuses an option for background other than -b, and counts.
  EXPECT_FALSE(Do("background -x 1:2:3"));
  EXPECT_FALSE(Do("background"));
  EXPECT_EQ(host_.look.colour(), ui::MakeColour(255, 65, 20));

  ASSERT_TRUE(Do("title Tool Setup"));
  EXPECT_EQ(host_.title, "Tool Setup");
  EXPECT_EQ(K().title, "Tool Setup");
  EXPECT_FALSE(Do("title -x Tool"));
  EXPECT_EQ(K().title, "Tool Setup");
  EXPECT_TRUE(front_end_.shown.empty());
}

TEST_F(WindowCommandsTest, ABackgroundBitmapIsTiledOrReportedWhenUnreadable) {
  Write(At("tile.bmp"), SmallBitmap());
  ASSERT_TRUE(Do("background 1:2:3"));
  ASSERT_TRUE(Do("background -b tile.bmp"));
  ASSERT_NE(host_.look.bitmap(), nullptr);
  EXPECT_EQ(host_.look.bitmap()->pixels, (std::vector<uint32_t>{0xFF0000, 0x0000FF}));
  const int repaints = host_.repaints;

  // Missing or not a bitmap: the message, the look unchanged, and the
  // installation goes on.
  Write(At("cut.bmp"), SmallBitmap().substr(0, 58));
  Write(At("notes.txt"), "not a picture");
  EXPECT_TRUE(Do("background -b missing.bmp"));
  EXPECT_TRUE(Do("background -b cut.bmp"));
  EXPECT_TRUE(Do("background -b notes.txt"));
  EXPECT_EQ(Shown(), (std::vector<std::string>{"failed to open bitmap file",
                                               "failed to open bitmap file",
                                               "failed to open bitmap file"}));
  EXPECT_EQ(front_end_.shown[0].flags, kMbIconHand);
  EXPECT_EQ(host_.repaints, repaints);
  EXPECT_NE(host_.look.bitmap(), nullptr);
  const std::string log = LogText();
  EXPECT_NE(log.find("# background: bitmap file <cut.bmp>: the pixel bits are cut short\n"),
            std::string::npos);

  // A colour drops the bitmap again.
  ASSERT_TRUE(Do("background 9:9:9"));
  EXPECT_EQ(host_.look.bitmap(), nullptr);
}

TEST_F(WindowCommandsTest, SilentRunsAndMissingViewsShowNothing) {
  host_.has_view = false;
  EXPECT_FALSE(Do("background 1:1:1"));
  EXPECT_FALSE(Do("banner hello"));
  EXPECT_FALSE(Do("title Tool"));
  EXPECT_EQ(host_.repaints, 0);

  // Silent: nothing is painted or shown, and nothing fails for want of a
  // view; the title is still remembered for the cancelled caption.
  K().silent_mode.set_silent(true);
  EXPECT_TRUE(Do("background 1:1:1"));
  EXPECT_TRUE(Do("background -b missing.bmp"));
  EXPECT_TRUE(Do("banner hello"));
  EXPECT_TRUE(Do("title Tool"));
  EXPECT_TRUE(Do("progress -i 5"));
  EXPECT_EQ(host_.repaints, 0);
  EXPECT_EQ(K().title, "Tool");
  EXPECT_TRUE(host_.animations.empty());
  EXPECT_TRUE(front_end_.shown.empty());
}

TEST_F(WindowCommandsTest, ProgressCountsAndAnimations) {
  // No groups with files: the count is 0 and the display is refused...
  EXPECT_FALSE(Do("progress -i"));
  EXPECT_EQ(Shown(), (std::vector<std::string>{"progress -i (error): no file groups found"}));
  EXPECT_TRUE(host_.animations.empty());
  // ...unless the count was written, even as 0: then there is no bar.
  ASSERT_TRUE(Do("progress -i 0"));
  ASSERT_NE(host_.progress, nullptr);
  EXPECT_EQ(host_.progress->model().range(), 0);
  EXPECT_EQ(host_.progress->model().caption(), "copying files");
  // A second -i closes the first display before opening its own.
  ASSERT_TRUE(Do("progress -i 12"));
  ASSERT_EQ(host_.progress_transcripts.size(), 1u);
  EXPECT_EQ(host_.progress_transcripts[0], "Open(\"copying files\",0)=1\nEnd(1)=1\n");
  EXPECT_EQ(host_.progress->model().range(), 12);
  EXPECT_EQ(host_.pauses, (std::vector<uint32_t>{1000, 1000, 1000}));
  ASSERT_TRUE(Do("progress -c"));
  EXPECT_EQ(host_.progress, nullptr);
  ASSERT_TRUE(Do("progress -c"));  // nothing open: no pause
  EXPECT_EQ(host_.pauses.size(), 4u);
  EXPECT_FALSE(Do("progress -x"));
  EXPECT_FALSE(Do("progress 3"));

  // Animations: the built-in ones and existing files as they are; a
  // missing file warns, is kept, and plays the first built-in one.
  Write(At("spin.avi"), "clip");
  front_end_.shown.clear();
  ASSERT_TRUE(Do("progress -a @files"));
  ASSERT_TRUE(Do("progress -i 1"));
  ASSERT_TRUE(Do("progress -a spin.avi"));
  ASSERT_TRUE(Do("progress -i 1"));
  ASSERT_TRUE(Do("progress -a nothere.avi"));
  EXPECT_EQ(K().progress_animation, "nothere.avi");
  ASSERT_TRUE(Do("progress -i 1"));
  EXPECT_EQ(host_.animations.back(), "@pistons");
  EXPECT_EQ(host_.animations,
            (std::vector<std::string>{"@pistons", "@pistons", "@files", "spin.avi", "@pistons"}));
  EXPECT_EQ(Shown(), (std::vector<std::string>{"WARNING: can't load progress indicator AVI"}));
  EXPECT_EQ(front_end_.shown[0].flags, 0u);
}

TEST_F(WindowCommandsTest, ARunCountsTheSelectedGroupsAndEveryCopyIsAStep) {
  files_.free_space = 1000000;
  const std::string home = At("Tool Home");
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) Write(At(name), name);
  Write(At("install.txt"),
        "set APP Tool\n"
        "set HOME \"" + home + "\"\n"
        "filegroup G1 Main\n"
        "filegroup G2 Extra\n"
        "filegroup -d G2\n"
        "progress -i\n"
        "copy a.txt $HOME\\a.txt G1\n"
        "copy b.txt $HOME\\b.txt G12\n"
        "copy c.txt $HOME\\c.txt G2\n"
        "copy d.txt $HOME\\d.txt\n"
        "progress -c\n"
        "set NO_UNINSTALL TRUE\n");
  const interp::RunResult result = K().Run("install.txt");
  EXPECT_EQ(result.exit_code, 0);
  // G1 has two files, the deselected G2 none counted; the file in no
  // group is copied and reported all the same.
  ASSERT_EQ(host_.progress_transcripts.size(), 2u);
  EXPECT_EQ(host_.progress_transcripts[0],
            "Open(\"copying files\",2)=1\nSetText(\"" + home + "\\a.txt\")=1\nSetText(\"" + home +
                "\\b.txt\")=1\nSetText(\"" + home + "\\d.txt\")=1\nEnd(1)=1\n");
  // The end of the installation has a display of its own.
  EXPECT_EQ(host_.progress_transcripts[1],
            "Open(\"finalizing installation\",4)=1\nSetText(\"processing...\")=1\nEnd(1)=1\n");
  EXPECT_EQ(host_.pauses, (std::vector<uint32_t>{1000, 1000, 1000}));
}

TEST_F(WindowCommandsTest, AFailedCommandClosesTheDisplayBeforeItsReport) {
  // A copy before HOME is set fails.
  Write(At("a.txt"), "a");
  Write(At("install.txt"),
        "set APP Tool\n"
        "progress -i 3\n"
        "copy a.txt b.txt\n");
  interp::RunResult result = K().Run("install.txt");
  EXPECT_EQ(result.exit_code, 1);
  ASSERT_EQ(host_.progress_transcripts.size(), 1u);
  EXPECT_EQ(host_.progress_transcripts[0], "Open(\"copying files\",3)=1\nEnd(1)=1\n");
  ASSERT_FALSE(front_end_.shown.empty());
  // The display is gone before the error report comes up.
  EXPECT_EQ(host_.pauses, (std::vector<uint32_t>{1000, 1000}));
}

TEST_F(WindowCommandsTest, ACancelledRunIsGreyWithItsBanner) {
  Write(At("install.txt"),
        "title Tool Setup\n"
        "banner -c Welcome\n"
        "cancel\n"
        "set AFTER yes\n");
  interp::RunResult result = K().Run("install.txt");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(host_.title, "Tool Setup (cancelled)");
  EXPECT_EQ(host_.look.colour(), ui::MakeColour(128, 128, 128));
  ASSERT_EQ(host_.look.lines().size(), 2u);
  const ui::BannerLine& line = host_.look.lines()[1];
  EXPECT_EQ(line.text, "...cancelled");
  EXPECT_EQ(line.font, "Times New Roman");
  EXPECT_EQ(line.size, 240);
  EXPECT_EQ(line.align, ui::BannerAlign::kLeft);
  EXPECT_EQ(line.colour, 0xFFFFFFu);
  const std::string log = LogText();
  EXPECT_NE(log.find("cmd<cancel> opt<> a1<> a2<> a3<> a4<> a5<> a6<> a7<> a8<>\n\n"
                     "cmd<background> opt<> a1<128:128:128> a2<> a3<> a4<> a5<> a6<> a7<> a8<>\n\n"
                     "cmd<banner> opt<-l> a1<...cancelled> a2<Times New Roman> a3<240> "
                     "a4<255:255:255> a5<> a6<> a7<> a8<>\n"),
            std::string::npos)
      << log;
}

}  // namespace
}  // namespace crx::test
