// Pins the process's time zone (TZ) for as long as the object lives, then puts
// back what was there.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace vto::testing {

class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  ZoneGuard(const ZoneGuard&) = delete;
  ZoneGuard& operator=(const ZoneGuard&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

}  // namespace vto::testing
