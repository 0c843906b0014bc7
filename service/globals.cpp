// Process-wide values written by every request. A short lock makes each
// replacement whole: a reader never sees half of a string.
#include "service/globals.h"

#include <mutex>

namespace hist {

namespace {

std::mutex& SettingsLock() {
  static std::mutex lock;
  return lock;
}

ProcessSettings& Settings() {
  static ProcessSettings settings;
  return settings;
}

}  // namespace

ProcessSettings CurrentSettings() {
  std::lock_guard<std::mutex> guard(SettingsLock());
  return Settings();
}

void SetNominalUpdateTime(rtl::TDateTime value) {
  std::lock_guard<std::mutex> guard(SettingsLock());
  Settings().nominal_update_time = value;
}

void RaiseExecutionTickOnly() {
  std::lock_guard<std::mutex> guard(SettingsLock());
  Settings().execution_tick_only = true;
}

void SetCalcMode(const std::string& value) {
  std::lock_guard<std::mutex> guard(SettingsLock());
  Settings().calc_mode = value;
}

void SetDBMode(const std::string& value) {
  std::lock_guard<std::mutex> guard(SettingsLock());
  Settings().db_mode = value;
}

void ResetProcessSettings() {
  std::lock_guard<std::mutex> guard(SettingsLock());
  Settings() = ProcessSettings();
}

}  // namespace hist
