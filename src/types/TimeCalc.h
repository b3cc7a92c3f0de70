// The calendar arithmetic behind Time: Julian dates of calendar dates and of time values,
// the folding of time values into the range the C runtime's local-time conversion handles,
// and the calendar fields of a Julian date (pure arithmetic), and the local calendar fields of
// a time value.
#ifndef VENDRITHANE_TYPES_TIMECALC_H
#define VENDRITHANE_TYPES_TIMECALC_H

namespace KESTRIN {
namespace Vendrithane {

constexpr double kUnixEpochJd = 2440587.5;          // Julian date of 1970-01-01 00:00 UTC
constexpr long long kSecondsPerDay = 86400;         // length of a calendar day
constexpr long long kJulianYearSeconds = 31557600;  // 365.25 days, the folding step
constexpr long long kLocalRangeEnd = 2147483648LL;  // 2^31, last value converted as it is

// Calendar fields of a Julian date in the proleptic Gregorian calendar.
struct CalendarFields {
  int year;       // in full; saturates at INT_MIN / INT_MAX far outside 32 bits
  int month;      // 1 to 12
  int day;        // 1 to 31
  int hour;       // 0 to 23
  int minute;     // 0 to 59
  int second;     // 0 to 59
  int dayOfWeek;  // 1 Sunday to 7 Saturday
};

// Julian date of a calendar date and time of day. The arguments are widened so that any
// int inputs (also out-of-range months, days or hours) are computed without overflow.
double julianDate(long long year, long long month, long long day, long long hour, long long minute,
                  long long second);

// Julian date of a time value (seconds since 1970-01-01 00:00 UTC).
inline double julianDateUtc(long long t) {
  return static_cast<double>(t) / static_cast<double>(kSecondsPerDay) + kUnixEpochJd;
}

// t shifted by whole Julian years into 1 .. 2^31 (values already there stay as they are).
long long foldIntoLocalRange(long long t);

// Calendar fields of the Julian date jd. Fields are rounded to the nearest millisecond
// before the seconds are cut, so a value a hair below midnight counts as midnight.
CalendarFields calendarFromJulian(double jd);

// Calendar fields of a time value in the local time zone (one conversion for all fields).
CalendarFields localCalendar(long long t);

// 1 for the first of January; uses the leap table for Gregorian leap years.
int dayOfYear(int year, int month, int day);

// floor(value + 0.5) as a 64-bit integer, saturating instead of overflowing.
long long roundToSecond(double value);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_TYPES_TIMECALC_H
