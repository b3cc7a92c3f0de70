// Selects a time zone through TZ for the lifetime of the object, and puts back the one
// before (or none) at its end.
#ifndef VENDRITHANE_TESTS_ZONESCOPE_H
#define VENDRITHANE_TESTS_ZONESCOPE_H

#include <cstdlib>
#include <ctime>
#include <string>

namespace vdtest {

class ZoneScope {
 public:
  // `callTzset` false leaves the C runtime's zone unread until something calls tzset().
  explicit ZoneScope(const char* zone, bool callTzset = true) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("TZ", zone, 1);
    if (callTzset) tzset();
  }
  ~ZoneScope() {
    hadOld_ ? setenv("TZ", old_.c_str(), 1) : unsetenv("TZ");
    tzset();
  }
  ZoneScope(const ZoneScope&) = delete;
  ZoneScope& operator=(const ZoneScope&) = delete;

 private:
  bool hadOld_;      // whether TZ was set before
  std::string old_;  // its previous value
};

}  // namespace vdtest

#endif  // VENDRITHANE_TESTS_ZONESCOPE_H
