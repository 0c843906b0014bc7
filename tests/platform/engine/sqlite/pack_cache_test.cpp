// The pack cache over a file on its own: what it keeps stays within its
// budget, the packs read least recently go first, a pack too big for it is
// never kept, and a write to the file or its log is a change.
#include "platform/engine/pack_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "platform/engine/sqlite/file_look.h"
#include "platform/os/files.h"
#include "tests/platform/engine/scratch_store.h"

namespace {

using engine::PackCache;
using engine::sqlite::ReadFilePack;

TEST(PackCacheTest, KeepsWithinItsBudgetWhatItReadFromASettledFile) {
  enginetest::ScratchStore store;
  const std::string file = store.dir() + "/day.db", log = file + "-wal";
  auto write = [](const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::app) << text;
  };
  auto settle = [&] {
    for (const std::string& path : {file, log}) {
      os::FileVersion v;
      while (os::RegularFileVersion(path, v) && !os::LeftAloneFor(v, 1'100'000'000))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  };
  write(file, "pages");
  settle();

  PackCache cache(40000);
  int reads = 0;
  // Packs of 5,000 bytes named "a" to "j"; "z" has none.
  auto get = [&](const std::string& key) {
    std::string bytes;
    const bool found = ReadFilePack(cache, file, log, key, bytes, [&](std::string& out) {
      ++reads;
      if (key == "z") return false;
      out.assign(key == "big" ? 10001 : 5000, key[0]);
      return true;
    });
    return found ? bytes : std::string("none");
  };

  for (char k = 'a'; k <= 'j'; ++k) EXPECT_EQ(get(std::string(1, k)), std::string(5000, k));
  EXPECT_EQ(reads, 10);
  EXPECT_LE(cache.BytesHeld(), 40000u);
  // The last read are kept, the first went to make room.
  EXPECT_EQ(get("j"), std::string(5000, 'j'));
  EXPECT_EQ(get("i"), std::string(5000, 'i'));
  EXPECT_EQ(reads, 10);
  EXPECT_EQ(get("a"), std::string(5000, 'a'));
  EXPECT_EQ(reads, 11);
  // "No pack" is an answer kept too; a pack over a quarter of the budget
  // is read every time.
  EXPECT_EQ(get("z"), "none");
  EXPECT_EQ(get("z"), "none");
  EXPECT_EQ(reads, 12);
  EXPECT_EQ(get("big"), std::string(10001, 'b'));
  EXPECT_EQ(get("big"), std::string(10001, 'b'));
  EXPECT_EQ(reads, 14);
  EXPECT_EQ(cache.Hits(), 3u);

  // A write to the log, then to the file, is a change even once settled.
  write(log, "frame");
  settle();
  EXPECT_EQ(get("j"), std::string(5000, 'j'));
  EXPECT_EQ(reads, 15);
  write(file, "more pages");
  EXPECT_EQ(get("j"), std::string(5000, 'j'));
  EXPECT_EQ(get("j"), std::string(5000, 'j'));
  EXPECT_EQ(reads, 17) << "what is read from a file changed within the second is not kept";
  EXPECT_LE(cache.BytesHeld(), 40000u);
}

}  // namespace
