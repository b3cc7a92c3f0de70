// Tests of Time: calendar fields and the wall-clock constructor in several time zones, around
// daylight-saving changes and far outside the C runtime's local-time range. Expected values
// come from a separate civil-calendar algorithm, from localtime_r, or are worked out by hand.
#include "vendrithane/Time.h"
#include "helpers/ZoneScope.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

using KESTRIN::Vendrithane::Time;

using vdtest::ZoneScope;

// Days since 1970-01-01 of a proleptic Gregorian date, and back (era-based, exact).
long long daysFromCivil(long long y, long long m, long long d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}
void civilFromDays(long long z, long long* y, int* m, int* d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2);
}
long long utc(long long y, int mo, int d, int h, int mi, int s) {
  return daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

// Checks every calendar field of t against local seconds (wall clock read as UTC).
void expectLocal(Time t, long long local) {
  const long long days = (local >= 0 ? local : local - 86399) / 86400;
  const long long sec = local - days * 86400;
  long long y;
  int m, d;
  civilFromDays(days, &y, &m, &d);
  SCOPED_TRACE(testing::Message() << "t=" << static_cast<long long>(t) << " local=" << local);
  EXPECT_EQ(t.year(), y);
  EXPECT_EQ(t.month(), m);
  EXPECT_EQ(t.day(), d);
  EXPECT_EQ(t.hour(), sec / 3600);
  EXPECT_EQ(t.minute(), sec % 3600 / 60);
  EXPECT_EQ(t.second(), sec % 60);
  EXPECT_EQ(t.dayOfWeek(), ((days % 7 + 7) % 7 + 4) % 7 + 1);  // 1970-01-01 was a Thursday
  EXPECT_EQ(t.dayOfYear(), days - daysFromCivil(y, 1, 1) + 1);
}

Time fromFields(const Time& t) {
  return Time(t.year(), t.month(), t.day(), t.hour(), t.minute(), t.second());
}

TEST(Time, KnownInstantsAtUtc) {
  ZoneScope zone("UTC");
  EXPECT_EQ(Time(2008, 3, 5, 14, 7, 9), Time(1204726029));
  EXPECT_STREQ(Time(1204726029).toString().buffer(), "3-5-2008 14:07:09");
  EXPECT_EQ(Time(0).dayOfWeek(), 5);
  EXPECT_EQ(Time(0).year(), 1970);
  EXPECT_LT(Time(-1), Time(0));
  // Before 1970 a wall-clock time maps to its exact instant, not one second later.
  EXPECT_EQ(static_cast<long long>(Time(1969, 12, 31, 23, 58, 20)), -100);
  EXPECT_EQ(static_cast<long long>(Time(1900, 1, 1, 0, 0, 0)), -2208988800LL);
  // The day of year uses the leap table for 2000 but not for 1900.
  EXPECT_EQ(Time(2000, 3, 1, 12, 0, 0).dayOfYear(), 61);
  EXPECT_EQ(Time(1900, 3, 1, 12, 0, 0).dayOfYear(), 60);
}

// Also before year 400 and before the start of the Julian period (4713 BC).
TEST(Time, UtcFieldsAndRoundTripsOverSixteenThousandYears) {
  ZoneScope zone("UTC");
  const long long first = utc(-6000, 1, 1, 0, 0, 0), last = utc(9999, 12, 31, 0, 0, 0);
  unsigned long long seed = 12345;
  for (long long day = first / 86400; day < last / 86400; day += 173 + seed % 97) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    for (long long t : {day * 86400, day * 86400 + static_cast<long long>(seed >> 47) % 86400}) {
      expectLocal(Time(t), t);  // midnights included: never hour 24 of the day before
      EXPECT_EQ(fromFields(Time(t)), Time(t));
    }
  }
}

// Inside 1 .. 2^31 the fields must agree with localtime_r, and the constructor must give the
// instant back except for the second pass through a repeated (fall-back) hour.
TEST(Time, ZonesAgreeWithLocaltimeInsideItsRange) {
  for (const char* name :
       {"America/New_York", "Europe/Berlin", "Asia/Kathmandu", "Pacific/Kiritimati"}) {
    ZoneScope zone(name);
    SCOPED_TRACE(name);
    for (long long t = 1; t < 2147483648LL; t += 1234567) {
      const time_t now = static_cast<time_t>(t), before = static_cast<time_t>(t - 3600);
      struct tm tm, tmBefore;
      ASSERT_TRUE(localtime_r(&now, &tm));
      ASSERT_TRUE(localtime_r(&before, &tmBefore));
      expectLocal(Time(t), utc(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                               tm.tm_sec));
      if (tmBefore.tm_hour != tm.tm_hour) {
        EXPECT_EQ(fromFields(Time(t)), Time(t)) << t;
      }
    }
  }
}

TEST(Time, ZonesFarFromUtc) {
  {
    ZoneScope zone("Pacific/Kiritimati");  // +14 since 1995, -10:40 in 1970
    expectLocal(Time(1204726029), utc(2008, 3, 6, 4, 7, 9));
    EXPECT_EQ(Time(2008, 3, 6, 4, 7, 9), Time(1204726029));
    EXPECT_EQ(Time(0).year(), 1969);
  }
  ZoneScope zone("Asia/Kathmandu");  // +5:30 until 1986, +5:45 since
  expectLocal(Time(1204726029), utc(2008, 3, 5, 19, 52, 9));
  expectLocal(Time(0), utc(1970, 1, 1, 5, 30, 0));
  // A local midnight whose Julian date comes out a hair below the whole day is still 00:00
  // of its own day, not 24:00 of the day before.
  expectLocal(Time(-45298416600LL), -45298416600LL + 19800);
  // Outside the local-time range the folded years (1970, 2037) decide the offset.
  for (long long y = -2000; y < 12000; y += 37) {
    for (long long t : {utc(y, 1, 1, 0, 0, 0), utc(y, 8, 31, 18, 14, 59)}) {
      if (t > 0 && t <= 2147483648LL) continue;
      expectLocal(Time(t), t + (t <= 0 ? 19800 : 20700));
      EXPECT_EQ(fromFields(Time(t)), Time(t));
    }
  }
}

TEST(Time, DaylightSavingGapAndRepeatedHour) {
  {
    ZoneScope zone("America/New_York");
    // 02:30 does not exist on 2008-03-09: no candidate shows hour 2, the corrected guess
    // (03:30 EDT) stands.
    EXPECT_EQ(Time(2008, 3, 9, 2, 30, 0), Time(utc(2008, 3, 9, 7, 30, 0)));
    // 01:30 on 2008-11-02 happens twice; the first (EDT) is taken.
    EXPECT_EQ(Time(2008, 11, 2, 1, 30, 0), Time(utc(2008, 11, 2, 5, 30, 0)));
    // The offset at the first guess is daylight time; the hour search moves to 03:00 EST.
    EXPECT_EQ(Time(2008, 11, 2, 3, 0, 0), Time(utc(2008, 11, 2, 8, 0, 0)));
  }
  ZoneScope zone("Europe/Berlin");
  // Here the first guess lies after the change and the hour search repairs 01:30 CET.
  EXPECT_EQ(Time(2008, 3, 30, 1, 30, 0), Time(utc(2008, 3, 30, 0, 30, 0)));
  EXPECT_EQ(Time(2008, 3, 30, 3, 30, 0), Time(utc(2008, 3, 30, 1, 30, 0)));
}

TEST(Time, FoldedYearRulesOutsideTheRange) {
  {
    ZoneScope zone("America/New_York");
    // Daylight time ended on 1950-09-24 but on 1970-10-25: the 1970 rules give EDT.
    EXPECT_EQ(Time(1950, 10, 1, 12, 0, 0), Time(utc(1950, 10, 1, 16, 0, 0)));
    expectLocal(Time(utc(1950, 10, 1, 17, 0, 0)), utc(1950, 10, 1, 13, 0, 0));
    // The fold is by Julian years of 365.25 days: 1969-04-26 03:00 UTC becomes 1970-04-26
    // 09:00 UTC, two hours into daylight time, although 1970-04-25 was still standard time.
    expectLocal(Time(utc(1969, 4, 26, 3, 0, 0)), utc(1969, 4, 25, 23, 0, 0));
    // One year is folded, not four: 1970 daylight time ended on 10-25, 1973 on 10-28.
    EXPECT_EQ(Time(1969, 10, 27, 12, 0, 0), Time(utc(1969, 10, 27, 17, 0, 0)));
    EXPECT_EQ(Time(2100, 7, 1, 12, 0, 0), Time(utc(2100, 7, 1, 16, 0, 0)));
    EXPECT_EQ(Time(2100, 1, 15, 12, 0, 0), Time(utc(2100, 1, 15, 17, 0, 0)));
    EXPECT_EQ(Time(3000, 1, 1, 0, 0, 0), Time(utc(3000, 1, 1, 5, 0, 0)));
    EXPECT_STREQ(Time(utc(3000, 1, 1, 5, 0, 0)).toString().buffer(), "1-1-3000 00:00:00");
  }
  ZoneScope zone("Europe/Berlin");
  expectLocal(Time(utc(2100, 7, 1, 10, 0, 0)), utc(2100, 7, 1, 12, 0, 0));
}

TEST(Time, ChangedZoneIsHonouredWithoutTzset) {
  const Time t(1204726029);
  {
    ZoneScope zone("UTC", false);
    EXPECT_EQ(t.hour(), 14);
  }
  ZoneScope zone("Asia/Kathmandu", false);
  EXPECT_EQ(t.hour(), 19);
}

// Extreme inputs must neither overflow nor produce fields outside their ranges.
TEST(Time, ExtremeValuesStayDefined) {
  ZoneScope zone("Europe/Berlin");
  EXPECT_EQ(Time(LLONG_MAX).year(), INT_MAX);
  EXPECT_EQ(Time(LLONG_MIN).year(), INT_MIN);
  for (Time t : {Time(LLONG_MAX), Time(LLONG_MIN),
                 Time(INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX),
                 Time(INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN)}) {
    EXPECT_GE(t.month(), 1);
    EXPECT_LE(t.month(), 12);
    EXPECT_GE(t.hour(), 0);
    EXPECT_LE(t.hour(), 23);
    EXPECT_GE(t.dayOfWeek(), 1);
    EXPECT_LE(t.dayOfWeek(), 7);
  }
}

}  // namespace
