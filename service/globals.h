// Process-wide values written by every request (the handler re-reads them
// from the settings) and read by the generators. Each is replaced as a whole
// under a short lock, so a reader sees the earlier or the later value.
#ifndef HISTDATA_SERVICE_GLOBALS_H_
#define HISTDATA_SERVICE_GLOBALS_H_

#include <string>

#include "platform/rtl/datetime.h"

namespace hist {

struct ProcessSettings {
  rtl::TDateTime nominal_update_time = 16.0 / 24.0;
  bool execution_tick_only = false;  // raised by a setting, never lowered
  std::string calc_mode = "DC";
  std::string db_mode = "PARADOX";
};

// A copy of the current values; a generator takes one at its start.
ProcessSettings CurrentSettings();
void SetNominalUpdateTime(rtl::TDateTime value);
void RaiseExecutionTickOnly();
void SetCalcMode(const std::string& value);
void SetDBMode(const std::string& value);
// Back to the start values (tests, unload).
void ResetProcessSettings();

// The line terminator of lines assembled by concatenation: always CR LF.
inline constexpr const char* kLineTerminator = "\r\n";

}  // namespace hist

#endif  // HISTDATA_SERVICE_GLOBALS_H_
