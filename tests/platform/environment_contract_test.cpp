// Environment variables and system information, for both implementations.
#include <gtest/gtest.h>

#include <string>

#include "support/test_platform.h"

namespace crx {
namespace {

TEST(EnvironmentTest, SetGetUnset) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Environment& env = tp.Get().environment;
  std::string value = "sentinel";
  ASSERT_TRUE(env.Unset("CRX_ENV_TEST"));
  EXPECT_FALSE(env.Get("CRX_ENV_TEST", &value));
  EXPECT_EQ("sentinel", value);
  ASSERT_TRUE(env.Set("CRX_ENV_TEST", "one two"));
  ASSERT_TRUE(env.Get("CRX_ENV_TEST", &value));
  EXPECT_EQ("one two", value);
  // Names compare without case, and setting in another case replaces.
  ASSERT_TRUE(env.Get("crx_env_test", &value));
  EXPECT_EQ("one two", value);
  ASSERT_TRUE(env.Set("Crx_Env_Test", "three"));
  ASSERT_TRUE(env.Get("CRX_ENV_TEST", &value));
  EXPECT_EQ("three", value);
  ASSERT_TRUE(env.Set("CRX_ENV_TEST", ""));
  ASSERT_TRUE(env.Unset("crx_ENV_test"));
  EXPECT_FALSE(env.Get("CRX_ENV_TEST", &value));
}

TEST(EnvironmentTest, SystemInformation) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Platform& p = tp.Get();
  Environment& env = p.environment;
  std::string temp = env.TempPath();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ('\\', temp.back());
  EXPECT_TRUE(p.files.IsFolder(temp.substr(0, temp.size() - 1))) << temp;
  std::string windows = env.WindowsFolder();
  std::string system = env.SystemFolder();
  ASSERT_FALSE(windows.empty());
  EXPECT_NE('\\', windows.back());
  EXPECT_NE('\\', system.back());
  EXPECT_TRUE(p.files.IsFolder(windows)) << windows;
  EXPECT_TRUE(p.files.IsFolder(system)) << system;
  // GetTempPath follows TMP first.
  std::string tmp;
  bool had_tmp = env.Get("TMP", &tmp);
  ASSERT_TRUE(env.Set("TMP", tp.Scratch()));
  EXPECT_EQ(tp.Scratch() + "\\", env.TempPath());
  if (had_tmp) {
    env.Set("TMP", tmp);
  } else {
    env.Unset("TMP");
  }
  EXPECT_FALSE(env.UserName().empty());
  EXPECT_FALSE(env.ComputerName().empty());
  OsVersion v = env.Version();
  EXPECT_GE(v.major, 4u);
  EXPECT_TRUE(v.platform_id == 1 || v.platform_id == 2);
}

TEST(ClockTest, TimesAreSane) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Clock& clock = tp.Get().clock;
  SystemTime utc = clock.UtcNow();
  EXPECT_GE(utc.year, 2020);
  EXPECT_GE(utc.month, 1);
  EXPECT_LE(utc.month, 12);
  EXPECT_LE(utc.milliseconds, 999);
  uint32_t before = clock.TickCount();
  // The tick count moves in steps of about 16 ms on Windows.
  clock.Sleep(100);
  uint32_t elapsed = clock.TickCount() - before;
  EXPECT_GE(elapsed, 80u);
  EXPECT_LT(elapsed, 5000u);
}

}  // namespace
}  // namespace crx
