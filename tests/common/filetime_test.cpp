#include "common/filetime.h"

#include <gtest/gtest.h>

namespace crx {
namespace {

struct Known {
  FileTime time;
  SystemTime fields;  // year, month, day_of_week, day, hour, minute, second, ms
};

TEST(FileTime, KnownDatesBothWays) {
  const Known kKnown[] = {
      {0, {1601, 1, 1, 1, 0, 0, 0, 0}},                               // a Monday
      {kUnixEpochAsFileTime, {1970, 1, 4, 1, 0, 0, 0, 0}},           // a Thursday
      {125911584000000000ULL, {2000, 1, 6, 1, 0, 0, 0, 0}},
      {125962560000000000ULL, {2000, 2, 2, 29, 0, 0, 0, 0}},         // leap day of a 400th year
      {126227807990000000ULL, {2000, 12, 0, 31, 23, 59, 59, 0}},
      {0x7FFFFFFFFFFFFFFFULL - 5807ULL, {30828, 9, 4, 14, 2, 48, 5, 477}},
  };
  for (const Known& k : kKnown) {
    SystemTime s;
    ASSERT_TRUE(FileTimeToSystemTime(k.time, &s)) << k.time;
    EXPECT_EQ(s.year, k.fields.year) << k.time;
    EXPECT_EQ(s.month, k.fields.month) << k.time;
    EXPECT_EQ(s.day_of_week, k.fields.day_of_week) << k.time;
    EXPECT_EQ(s.day, k.fields.day) << k.time;
    EXPECT_EQ(s.hour, k.fields.hour) << k.time;
    EXPECT_EQ(s.minute, k.fields.minute) << k.time;
    EXPECT_EQ(s.second, k.fields.second) << k.time;
    EXPECT_EQ(s.milliseconds, k.fields.milliseconds) << k.time;
    FileTime back = 1;
    ASSERT_TRUE(SystemTimeToFileTime(k.fields, &back));
    EXPECT_EQ(back, k.time - k.time % 10000) << "whole milliseconds only";
  }
  SystemTime s;
  EXPECT_FALSE(FileTimeToSystemTime(0x8000000000000000ULL, &s));
}

TEST(FileTime, EveryDayOfFourHundredYearsRoundTrips) {
  // One full Gregorian cycle covers every leap-year rule (4, 100, 400).
  uint16_t expected_weekday = 1;
  for (uint64_t day = 0; day < 146097; ++day) {
    FileTime t = day * 864000000000ULL + 45296789ULL * 10000ULL % 864000000000ULL;
    SystemTime s;
    ASSERT_TRUE(FileTimeToSystemTime(t, &s));
    ASSERT_EQ(s.day_of_week, expected_weekday) << day;
    expected_weekday = static_cast<uint16_t>((expected_weekday + 1) % 7);
    s.day_of_week = 3;  // ignored on the way back
    FileTime back = 0;
    ASSERT_TRUE(SystemTimeToFileTime(s, &back));
    ASSERT_EQ(back, t) << day;
  }
}

TEST(FileTime, InvalidFieldsAreRefused) {
  struct Case {
    uint16_t year, month, day, hour, minute, second, ms;
  };
  const Case kBad[] = {
      {1600, 12, 31, 0, 0, 0, 0}, {2001, 2, 29, 0, 0, 0, 0}, {1900, 2, 29, 0, 0, 0, 0},
      {2023, 4, 31, 0, 0, 0, 0},  {2023, 0, 1, 0, 0, 0, 0},  {2023, 13, 1, 0, 0, 0, 0},
      {2023, 1, 0, 0, 0, 0, 0},   {2023, 1, 32, 0, 0, 0, 0}, {2023, 1, 1, 24, 0, 0, 0},
      {2023, 1, 1, 0, 60, 0, 0},  {2023, 1, 1, 0, 0, 60, 0}, {2023, 1, 1, 0, 0, 0, 1000},
      {30828, 9, 15, 0, 0, 0, 0}, {65535, 1, 1, 0, 0, 0, 0},
  };
  for (const Case& c : kBad) {
    SystemTime s{c.year, c.month, 0, c.day, c.hour, c.minute, c.second, c.ms};
    FileTime out = 12345;
    EXPECT_FALSE(SystemTimeToFileTime(s, &out)) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(out, 12345u) << "output untouched on failure";
  }
  SystemTime ok{2000, 2, 0, 29, 0, 0, 0, 0};
  FileTime out = 0;
  EXPECT_TRUE(SystemTimeToFileTime(ok, &out));
  SystemTime ok2{2024, 2, 0, 29, 23, 59, 59, 999};
  EXPECT_TRUE(SystemTimeToFileTime(ok2, &out));
}

TEST(FileTime, UnixConversions) {
  EXPECT_EQ(UnixToFileTime(0), kUnixEpochAsFileTime);
  EXPECT_EQ(UnixToFileTime(1, 999999999), kUnixEpochAsFileTime + 19999999);
  EXPECT_EQ(UnixToFileTime(0, 2500000000u), kUnixEpochAsFileTime + 25000000);
  EXPECT_EQ(UnixToFileTime(-11644473600LL), 0u);
  EXPECT_EQ(UnixToFileTime(-11644473601LL), 0u);
  EXPECT_EQ(UnixToFileTime(INT64_MIN), 0u);
  EXPECT_EQ(UnixToFileTime(INT64_MAX), 0x7FFFFFFFFFFFFFFFULL);

  EXPECT_EQ(FileTimeToUnixSeconds(kUnixEpochAsFileTime), 0);
  EXPECT_EQ(FileTimeToUnixSeconds(0), -11644473600LL);
  // Before 1970 the seconds round down, and the nanoseconds stay positive.
  FileTime before = kUnixEpochAsFileTime - 1;
  EXPECT_EQ(FileTimeToUnixSeconds(before), -1);
  EXPECT_EQ(FileTimeSubsecondNanos(before), 999999900u);
  for (int64_t seconds : {-5000000000LL, -1LL, 0LL, 1LL, 1700000000LL, 32503680000LL}) {
    for (uint32_t nanos : {0u, 100u, 123456700u, 999999900u}) {
      FileTime t = UnixToFileTime(seconds, nanos);
      EXPECT_EQ(FileTimeToUnixSeconds(t), seconds);
      EXPECT_EQ(FileTimeSubsecondNanos(t), nanos);
    }
  }
  EXPECT_EQ(FileTimeSubsecondNanos(UnixToFileTime(5, 199)), 100u);
}

TEST(FileTime, HalvesAndComparison) {
  FileTime t = MakeFileTime(0x89ABCDEFu, 0x01234567u);
  EXPECT_EQ(t, 0x0123456789ABCDEFULL);
  EXPECT_EQ(FileTimeLow(t), 0x89ABCDEFu);
  EXPECT_EQ(FileTimeHigh(t), 0x01234567u);
  EXPECT_EQ(CompareFileTime(1, 2), -1);
  EXPECT_EQ(CompareFileTime(2, 2), 0);
  EXPECT_EQ(CompareFileTime(0x100000000ULL, 0xFFFFFFFFULL), 1);
}

}  // namespace
}  // namespace crx
