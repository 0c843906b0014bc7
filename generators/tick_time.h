// Whole-number views of the date-time values that the tick-table generators
// read, so that slot boundaries are decided by integer arithmetic: a tick that
// lies exactly on a boundary then always falls into the later slot, however
// many slots lie between it and the day's anchor.
//
// Each view goes through the nearest millisecond first (rtl::ToMilliseconds),
// as the value's text forms do, so a value and its printed form never
// disagree.
#ifndef HISTDATA_GENERATORS_TICK_TIME_H_
#define HISTDATA_GENERATORS_TICK_TIME_H_

#include <cstdint>

#include "platform/rtl/datetime.h"

namespace hist {

// The day of a value, as its date text names it (truncated toward zero),
// from the value or from its nearest millisecond (rtl::ToMilliseconds).
inline int64_t DayOfMs(int64_t ms) { return ms / rtl::kMsPerDay; }
inline int64_t DayOf(rtl::TDateTime value) { return DayOfMs(rtl::ToMilliseconds(value)); }

// The time of day of a value in whole seconds, as its "hh:nn:ss" text shows
// it: milliseconds are cut, and a value before the epoch shows the time of
// its absolute fraction.
inline int64_t SecondOfDayMs(int64_t ms) {
  ms %= rtl::kMsPerDay;
  return (ms < 0 ? -ms : ms) / 1000;
}
inline int64_t SecondOfDay(rtl::TDateTime value) { return SecondOfDayMs(rtl::ToMilliseconds(value)); }

// A count of seconds or milliseconds since the epoch as a date-time value for
// the text forms; the division is exact to far below a millisecond.
inline rtl::TDateTime FromSeconds(int64_t seconds) { return static_cast<double>(seconds) / 86400.0; }
inline rtl::TDateTime FromMilliseconds(int64_t ms) {
  return static_cast<double>(ms) / static_cast<double>(rtl::kMsPerDay);
}

// Whether an interval can form bars; slots of no length would never advance.
inline bool IsValidBarInterval(int interval) { return interval > 0; }

}  // namespace hist

#endif  // HISTDATA_GENERATORS_TICK_TIME_H_
