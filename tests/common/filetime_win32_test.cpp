// Compares the FILETIME and SYSTEMTIME conversions with the system's.
#include <windows.h>

#include <cstdint>

#include <gtest/gtest.h>

#include "common/filetime.h"

namespace crx {
namespace {

::FILETIME ToSystem(FileTime t) {
  ::FILETIME ft;
  ft.dwLowDateTime = FileTimeLow(t);
  ft.dwHighDateTime = FileTimeHigh(t);
  return ft;
}

::SYSTEMTIME ToSystem(const SystemTime& s) {
  ::SYSTEMTIME st;
  st.wYear = s.year;
  st.wMonth = s.month;
  st.wDayOfWeek = s.day_of_week;
  st.wDay = s.day;
  st.wHour = s.hour;
  st.wMinute = s.minute;
  st.wSecond = s.second;
  st.wMilliseconds = s.milliseconds;
  return st;
}

void ExpectSameFromFileTime(FileTime t) {
  SystemTime ours;
  ::SYSTEMTIME theirs;
  ::FILETIME ft = ToSystem(t);
  bool our_ok = FileTimeToSystemTime(t, &ours);
  bool their_ok = ::FileTimeToSystemTime(&ft, &theirs) != 0;
  ASSERT_EQ(our_ok, their_ok) << "time " << t;
  if (!our_ok) return;
  EXPECT_EQ(ours.year, theirs.wYear) << t;
  EXPECT_EQ(ours.month, theirs.wMonth) << t;
  EXPECT_EQ(ours.day_of_week, theirs.wDayOfWeek) << t;
  EXPECT_EQ(ours.day, theirs.wDay) << t;
  EXPECT_EQ(ours.hour, theirs.wHour) << t;
  EXPECT_EQ(ours.minute, theirs.wMinute) << t;
  EXPECT_EQ(ours.second, theirs.wSecond) << t;
  EXPECT_EQ(ours.milliseconds, theirs.wMilliseconds) << t;
}

TEST(FileTimeWin32, FileTimeToSystemTimeMatchesTheSystem) {
  const FileTime kTimes[] = {
      0, 1, 9999, 10000, 863999999999ULL, 864000000000ULL, kUnixEpochAsFileTime,
      kUnixEpochAsFileTime - 1, 125911584000000000ULL /* 2000-01-01 */,
      125912448000000000ULL /* 2000-01-02 */, 0x7FFFFFFFFFFFFFFFULL,
      0x8000000000000000ULL, 0xFFFFFFFFFFFFFFFFULL};
  for (FileTime t : kTimes) ExpectSameFromFileTime(t);
  // Every day boundary of the first eight centuries' leap-year corners,
  // and a spread over the whole range.
  for (uint64_t day = 0; day < 146097 * 2; day += 1) {
    ExpectSameFromFileTime(day * 864000000000ULL + 123456789ULL % 864000000000ULL);
  }
  uint64_t state = 88172645463325252ULL;
  for (int i = 0; i < 20000; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    ExpectSameFromFileTime(state >> 1);
  }
}

TEST(FileTimeWin32, SystemTimeToFileTimeMatchesTheSystem) {
  for (uint16_t year : {1600, 1601, 1700, 1900, 2000, 2001, 2004, 2100, 2400, 30827, 30828}) {
    for (uint16_t month = 0; month <= 13; ++month) {
      for (uint16_t day : {0, 1, 28, 29, 30, 31, 32}) {
        SystemTime s;
        s.year = year;
        s.month = month;
        s.day = day;
        s.day_of_week = 6;  // ignored
        s.hour = 23;
        s.minute = 59;
        s.second = 59;
        s.milliseconds = 999;
        FileTime ours = 0;
        ::FILETIME theirs;
        ::SYSTEMTIME st = ToSystem(s);
        bool our_ok = SystemTimeToFileTime(s, &ours);
        bool their_ok = ::SystemTimeToFileTime(&st, &theirs) != 0;
        bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        if (month == 2 && day == 29 && !leap) {
          // Wine accepts 29 February of every year (its month-length check
          // takes the leap-year table for all of February); Windows rejects
          // it in common years, and so do we.
          EXPECT_FALSE(our_ok) << year;
          continue;
        }
        if (!our_ok && their_ok && year == 30828) {
          // Past 30828-09-14 the value no longer fits a FILETIME that
          // FileTimeToSystemTime accepts. Wine still succeeds and returns
          // such a value; Windows documents the year range as ending with
          // 30827, and we refuse what cannot be converted back.
          EXPECT_GT(MakeFileTime(theirs.dwLowDateTime, theirs.dwHighDateTime),
                    0x7FFFFFFFFFFFFFFFULL);
          continue;
        }
        ASSERT_EQ(our_ok, their_ok) << year << "-" << month << "-" << day;
        if (our_ok) {
          EXPECT_EQ(ours, MakeFileTime(theirs.dwLowDateTime, theirs.dwHighDateTime))
              << year << "-" << month << "-" << day;
        }
      }
    }
  }
  struct Fields {
    uint16_t hour, minute, second, milliseconds;
  };
  for (Fields f : {Fields{24, 0, 0, 0}, Fields{0, 60, 0, 0}, Fields{0, 0, 60, 0},
                   Fields{0, 0, 0, 1000}, Fields{23, 59, 59, 999}, Fields{0, 0, 0, 0}}) {
    SystemTime s;
    s.year = 2023;
    s.month = 5;
    s.day = 17;
    s.hour = f.hour;
    s.minute = f.minute;
    s.second = f.second;
    s.milliseconds = f.milliseconds;
    FileTime ours = 0;
    ::FILETIME theirs;
    ::SYSTEMTIME st = ToSystem(s);
    EXPECT_EQ(SystemTimeToFileTime(s, &ours), ::SystemTimeToFileTime(&st, &theirs) != 0)
        << f.hour << ":" << f.minute << ":" << f.second << "." << f.milliseconds;
  }
}

}  // namespace
}  // namespace crx
