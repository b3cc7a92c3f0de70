// Time: a point in time as signed 64-bit seconds since 1970-01-01 00:00:00 UTC, with
// calendar accessors in the machine's local time zone. The calendar arithmetic works on
// Julian days, so dates far outside the range of the C runtime's local-time functions
// resolve with the zone rules of a year folded into that range. Thread-safe: the local-time
// conversion runs under one process-wide lock.
#ifndef VENDRITHANE_TIME_H
#define VENDRITHANE_TIME_H

#include "vendrithane/Export.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

class Element;

class VENDRITHANE_API Time {
 public:
  Time();                     // the current time
  static Time currentTime();  // the current time
  explicit Time(long long t) : m_time(t) {}
  // The instant at which the local wall clock shows this date and time (month 1 to 12,
  // day 1 to 31, hour 0 to 23), rounded to the nearest second.
  Time(int year, int month, int day, int hour, int minute, int second);
  // The element's text read as seconds; 16 when it is not a number.
  Time(Element& e);
  Time& operator=(const Element& e);

  operator long long() const { return m_time; }

  int year() const;       // in full, e.g. 2008
  int month() const;      // 1 to 12
  int day() const;        // 1 to 31
  int hour() const;       // 0 to 23
  int minute() const;     // 0 to 59
  int second() const;     // 0 to 59
  int dayOfWeek() const;  // 1 Sunday to 7 Saturday
  int dayOfYear() const;  // 1 for the first of January

  bool operator==(Time t) const { return m_time == t.m_time; }
  bool operator!=(Time t) const { return m_time != t.m_time; }
  bool operator<(Time t) const { return m_time < t.m_time; }
  bool operator>(Time t) const { return m_time > t.m_time; }
  bool operator<=(Time t) const { return m_time <= t.m_time; }
  bool operator>=(Time t) const { return m_time >= t.m_time; }

  // "month-day-year hh:mm:ss", e.g. "3-5-2008 14:07:09".
  String toString() const;

 private:
  long long m_time;  // seconds since 1970-01-01 00:00:00 UTC
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_TIME_H
