// The calendar arithmetic behind Time. The Julian-day formulas use floor division
// throughout, so the proleptic Gregorian calendar comes out right for every year, also
// before year 400 and before the start of the Julian period, where truncation toward zero
// would shift dates by a day.
#include "types/TimeCalc.h"

#include <climits>
#include <cmath>

namespace KESTRIN {
namespace Vendrithane {

namespace {

// floor(x) as a 64-bit integer, saturating at the ends of the range (a double outside it
// cannot be converted without undefined behaviour).
long long floorToInt64(double x) {
  const double f = std::floor(x);
  if (!(f > -9223372036854775808.0)) return LLONG_MIN;  // also NaN
  if (f >= 9223372036854775808.0) return LLONG_MAX;
  return static_cast<long long>(f);
}

// Integer division rounding toward minus infinity.
long long floorDiv(long long a, long long b) {
  const long long q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int clampToInt(long long v) {
  if (v < INT_MIN) return INT_MIN;
  if (v > INT_MAX) return INT_MAX;
  return static_cast<int>(v);
}

}  // namespace

double julianDate(long long year, long long month, long long day, long long hour, long long minute,
                  long long second) {
  if (month == 1 || month == 2) {
    year -= 1;
    month += 12;
  }
  const long long a = floorDiv(year, 100);
  const long long whole = floorToInt64(365.25 * static_cast<double>(year + 4716)) +
                          floorToInt64(30.6001 * static_cast<double>(month + 1)) + day + 2 - a +
                          floorDiv(a, 4);
  const long long secondsOfDay = 3600 * hour + 60 * minute + second;
  return static_cast<double>(whole) - 1524.5 +
         static_cast<double>(secondsOfDay) / static_cast<double>(kSecondsPerDay);
}

long long foldIntoLocalRange(long long t) {
  // The remainders give the same result as adding or subtracting the counted Julian years,
  // without overflowing near the ends of the 64-bit range.
  if (t <= 0) return t % kJulianYearSeconds + kJulianYearSeconds;
  if (t > kLocalRangeEnd) {
    return kLocalRangeEnd + (t - kLocalRangeEnd) % kJulianYearSeconds - kJulianYearSeconds;
  }
  return t;
}

CalendarFields calendarFromJulian(double jd) {
  const double shifted = jd + 0.5;  // Julian days start at noon
  long long z = floorToInt64(shifted);
  long long millis = floorToInt64((shifted - static_cast<double>(z)) * 86400000.0 + 0.5);
  if (millis >= 86400000) {  // rounded up to the next midnight
    millis -= 86400000;
    z += 1;
  }
  const long long alpha = floorToInt64((static_cast<double>(z) - 1867216.25) / 36524.25);
  const long long b = z + alpha - floorDiv(alpha, 4) + 1525;
  const long long c = floorToInt64((static_cast<double>(b) - 122.1) / 365.25);
  const long long daysBeforeMonth = b - floorToInt64(365.25 * static_cast<double>(c));
  const long long e = floorToInt64(static_cast<double>(daysBeforeMonth) / 30.6001);

  CalendarFields f;
  f.day = static_cast<int>(daysBeforeMonth - floorToInt64(30.6001 * static_cast<double>(e)));
  f.month = static_cast<int>(e <= 13 ? e - 1 : e - 13);
  f.year = clampToInt(f.month > 2 ? c - 4716 : c - 4715);
  const long long seconds = millis / 1000;
  f.hour = static_cast<int>(seconds / 3600);
  f.minute = static_cast<int>(seconds % 3600 / 60);
  f.second = static_cast<int>(seconds % 60);
  long long weekday = (z + 1) % 7;  // 0 Sunday; day 0 of the Julian period was a Monday
  if (weekday < 0) weekday += 7;
  f.dayOfWeek = static_cast<int>(weekday) + 1;
  return f;
}

int dayOfYear(int year, int month, int day) {
  static const int kCommon[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  static const int kLeap[12] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
  if (month < 1 || month > 12) return day;
  const bool leap = year % 4 == 0 && (year % 400 == 0 || year % 100 != 0);
  return day + (leap ? kLeap : kCommon)[month - 1];
}

long long roundToSecond(double value) {
  return floorToInt64(value + 0.5);
}

}  // namespace Vendrithane
}  // namespace KESTRIN
