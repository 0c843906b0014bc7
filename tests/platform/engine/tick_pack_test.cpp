// A pack gives back each stored double bit for bit at every scale it divides
// by, over whole numbers from small ones to the 53 bits a double holds:
// decoding must form the correctly rounded quotient however it divides.
#include "platform/engine/tick_pack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using engine::TickPack;
using engine::Value;

// Rows whose Price is n / divisor for the given whole numbers (some not a
// multiple of ten, so that nothing coarser than the divisor keeps them);
// the other columns are fixed.
std::string PackOfPrices(const std::vector<int64_t>& wholes, double divisor) {
  engine::TickPackBuilder builder;
  for (size_t r = 0; r < wholes.size(); ++r) {
    std::vector<Value> row(10);
    row[0].SetInt(static_cast<int64_t>(r));
    row[1].SetFloat(46000);
    row[2].SetFloat(0.5);
    row[3] = Value::Text("ABC");
    row[6].SetFloat(static_cast<double>(wholes[r]) / divisor);
    EXPECT_TRUE(builder.Add(row.data()));
  }
  return builder.Finish();
}

TEST(TickPackTest, DecodesEveryScaledValueBitForBit) {
  std::mt19937_64 rng(20261210);
  const double divisors[] = {10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 86400000.0};
  for (double divisor : divisors) {
    for (int bits : {31, 53}) {
      SCOPED_TRACE("divisor " + std::to_string(divisor) + ", numbers of " + std::to_string(bits) + " bits");
      std::vector<int64_t> wholes;
      const int64_t limit = (int64_t{1} << bits) - 1;
      for (int64_t n : {int64_t{1}, int64_t{-1}, int64_t{7}, limit, -limit, limit - 3}) wholes.push_back(n);
      std::uniform_int_distribution<int64_t> any(-limit, limit);
      while (wholes.size() < 20 * engine::kPackBlock) wholes.push_back(any(rng) | 1);
      const std::string bytes = PackOfPrices(wholes, divisor);
      TickPack pack;
      ASSERT_TRUE(pack.Parse(bytes, nullptr));
      // Kept as doubles, the prices alone would take 8 bytes a row: fewer
      // show that the small numbers were kept at the divisor's scale.
      if (bits == 31) {
        EXPECT_LT(bytes.size(), wholes.size() * 7);
      }
      TickPack::Block block;
      for (size_t r = 0; r < wholes.size(); ++r) {
        if (r % engine::kPackBlock == 0) {
          ASSERT_TRUE(pack.DecodeBlock(engine::kPackPrice, r / engine::kPackBlock, block));
        }
        const double want = static_cast<double>(wholes[r]) / divisor;
        const double got = block.values[r % engine::kPackBlock];
        ASSERT_EQ(0, std::memcmp(&want, &got, sizeof want)) << wholes[r] << ": " << want << " decoded as " << got;
      }
    }
  }
}

}  // namespace
