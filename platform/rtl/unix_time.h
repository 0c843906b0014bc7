// Date-time values (local wall-clock time) as seconds since 1970, the
// form that monitoring compares with its own clock.
#ifndef HISTDATA_PLATFORM_RTL_UNIX_TIME_H_
#define HISTDATA_PLATFORM_RTL_UNIX_TIME_H_

#include "platform/rtl/datetime.h"

namespace rtl {

// The moment a local date-time value names, in seconds since 1970 UTC
// (fractions kept). Where a clock change makes a local time happen twice,
// the earlier is taken.
double LocalToUnixSeconds(TDateTime value);

}  // namespace rtl

#endif  // HISTDATA_PLATFORM_RTL_UNIX_TIME_H_
