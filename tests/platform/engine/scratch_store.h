// A scratch data folder for engine tests that need a store but none of the
// system's tables: the aliases point at a fresh temporary folder, and the
// alias "scratch" is an empty single-file SQLite store in it.
#ifndef HISTDATA_TESTS_PLATFORM_ENGINE_SCRATCH_STORE_H_
#define HISTDATA_TESTS_PLATFORM_ENGINE_SCRATCH_STORE_H_

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/engine/aliases.h"

namespace enginetest {

class ScratchStore {
 public:
  ScratchStore() {
    std::string pattern = (std::filesystem::temp_directory_path() / "engine-test-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    engine::ConfigureAliases(dir_);
    engine::ConnectAlias("scratch", {}, true)->ExecuteScript("");
  }
  ~ScratchStore() {
    engine::ConfigureAliases("data");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  ScratchStore(const ScratchStore&) = delete;
  ScratchStore& operator=(const ScratchStore&) = delete;

  const std::string& dir() const { return dir_; }
  // Runs SQL on the scratch store through a writing connection.
  void Execute(const std::string& sql) const { engine::ConnectAlias("scratch", {}, true)->ExecuteScript(sql); }

 private:
  std::string dir_;
};

}  // namespace enginetest

#endif  // HISTDATA_TESTS_PLATFORM_ENGINE_SCRATCH_STORE_H_
