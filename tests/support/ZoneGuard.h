// Pins the process's time zone (TZ) for as long as the object lives, then puts
// back what was there.
#pragma once

#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>

namespace vto::testing {

#if defined(_WIN32)
// Windows under Wine takes the zone from TZ as the process starts, and a
// process cannot change it afterwards: the guard only checks that the process
// was started in the zone asked for (the suite's CMake sets TZ), and fails
// the test otherwise.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    const char* started = std::getenv("TZ");
    if (started == nullptr || std::string(started) != zone) {
      throw std::runtime_error(std::string("the test process must start with TZ=") + zone);
    }
  }
  ZoneGuard(const ZoneGuard&) = delete;
  ZoneGuard& operator=(const ZoneGuard&) = delete;
};
#else
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
#endif

}  // namespace vto::testing
