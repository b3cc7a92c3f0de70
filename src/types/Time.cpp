// Time: calendar fields in local time through Julian-day arithmetic, and the conversion of
// a local wall-clock time to an instant. Only the zone offset comes from the C runtime
// (localtime_r and mktime), always under one process-wide lock.
#include "vendrithane/Time.h"

#include <cstdio>
#include <ctime>

#include "platform/Mutex.h"
#include "types/TimeCalc.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

// The lock around local-time conversion. tzset() runs under it on every conversion so that a
// changed TZ is honoured (localtime_r alone may keep using the zone it loaded first).
platform::Mutex& localTimeLock() {
  static platform::Mutex lock{platform::LockRank::kLocalTime, "local-time lock"};
  return lock;
}

// Local broken-down time of t; false when the C runtime cannot convert it.
bool localBrokenDown(long long t, struct tm* out) {
  const time_t value = static_cast<time_t>(t);
  platform::MutexLock hold(localTimeLock());
  tzset();
  return localtime_r(&value, out) != nullptr;
}

// mktime of a local broken-down time; fallback when mktime reports failure.
long long localMktime(struct tm* tm, long long fallback) {
  platform::MutexLock hold(localTimeLock());
  tzset();
  const time_t result = mktime(tm);
  return result == static_cast<time_t>(-1) ? fallback : static_cast<long long>(result);
}

// Offset of the local zone at t, in days (UTC Julian date minus local Julian date). Values
// outside 1 .. 2^31 take the offset of t folded into that range by whole Julian years, so
// the zone rules of the folded year apply to them.
double zoneOffsetDays(long long t) {
  long long folded = foldIntoLocalRange(t);
  struct tm tm;
  if (!localBrokenDown(folded, &tm)) {
    folded = 90000;  // the second day of 1970, which every zone database covers
    if (!localBrokenDown(folded, &tm)) return 0.0;
  }
  return julianDateUtc(folded) - julianDate(tm.tm_year + 1900LL, tm.tm_mon + 1LL, tm.tm_mday,
                                            tm.tm_hour, tm.tm_min, tm.tm_sec);
}

}  // namespace

CalendarFields localCalendar(long long t) {
  return calendarFromJulian(julianDateUtc(t) - zoneOffsetDays(t));
}

Time::Time() : m_time(static_cast<long long>(std::time(nullptr))) {}

Time Time::currentTime() {
  return Time();
}

// The wall-clock time is first read as UTC and corrected by the zone offset there. Inside
// the local-time range the hour is then checked, because the offset at that first guess may
// belong to the other side of a daylight-saving change: the nearest of +-1 h and +-2 h whose
// local hour matches wins. A wall-clock time skipped by a spring-forward keeps the corrected
// guess; one repeated by a fall-back resolves to its first occurrence.
Time::Time(int year, int month, int day, int hour, int minute, int second) {
  const double x = julianDate(year, month, day, hour, minute, second);
  long long f = roundToSecond((x - kUnixEpochJd) * kSecondsPerDay);
  f = roundToSecond((zoneOffsetDays(f) + x - kUnixEpochJd) * kSecondsPerDay);
  m_time = f;
  if (f <= 0 || f >= kLocalRangeEnd) return;

  struct tm tm;
  if (localBrokenDown(f, &tm) && tm.tm_hour == hour) return;
  for (long long delta : {3600LL, -3600LL, 7200LL, -7200LL}) {
    const long long candidate = f + delta;
    if (localBrokenDown(candidate, &tm) && tm.tm_hour == hour) {
      m_time = localMktime(&tm, candidate);
      return;
    }
  }
}

int Time::year() const {
  return localCalendar(m_time).year;
}
int Time::month() const {
  return localCalendar(m_time).month;
}
int Time::day() const {
  return localCalendar(m_time).day;
}
int Time::hour() const {
  return localCalendar(m_time).hour;
}
int Time::minute() const {
  return localCalendar(m_time).minute;
}
int Time::second() const {
  return localCalendar(m_time).second;
}
int Time::dayOfWeek() const {
  return localCalendar(m_time).dayOfWeek;
}

int Time::dayOfYear() const {
  const CalendarFields f = localCalendar(m_time);
  return Vendrithane::dayOfYear(f.year, f.month, f.day);
}

String Time::toString() const {
  const CalendarFields f = localCalendar(m_time);
  char text[80];
  std::snprintf(text, sizeof text, "%d-%d-%d %02d:%02d:%02d", f.month, f.day, f.year, f.hour,
                f.minute, f.second);
  return String(text);
}

}  // namespace Vendrithane
}  // namespace KESTRIN
