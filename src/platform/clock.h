// Time sources: a monotonic clock for time-outs and the local calendar
// time for texts meant for people.
#ifndef VOICECONTROL_PLATFORM_CLOCK_H_
#define VOICECONTROL_PLATFORM_CLOCK_H_

#include <cstdint>
#include <ctime>

#include "internal_export.h"

namespace voicecontrol {
namespace platform {

// Milliseconds since an arbitrary fixed point; never goes backwards, not
// affected by changes of the wall clock.
VC_INTERNAL_API int64_t MonotonicMilliseconds();

// The same clock in microseconds, for timelines finer than a millisecond.
VC_INTERNAL_API int64_t MonotonicMicroseconds();

struct LocalDateTime {
  int year = 0;    // e.g. 2024
  int month = 0;   // 1-12
  int day = 0;     // 1-31
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
  int second = 0;  // 0-60
};

// The fields of a broken-down time as the C library gives them.
inline LocalDateTime LocalDateTimeOf(const std::tm& t) {
  LocalDateTime out;
  out.year = t.tm_year + 1900;
  out.month = t.tm_mon + 1;
  out.day = t.tm_mday;
  out.hour = t.tm_hour;
  out.minute = t.tm_min;
  out.second = t.tm_sec;
  return out;
}

// The local date and time of calendar time `when` (seconds since the
// epoch, as std::time gives). Thread-safe. False when the system cannot
// represent it.
VC_INTERNAL_API bool ToLocalDateTime(std::time_t when, LocalDateTime* out);

}  // namespace platform
}  // namespace voicecontrol

#endif  // VOICECONTROL_PLATFORM_CLOCK_H_
