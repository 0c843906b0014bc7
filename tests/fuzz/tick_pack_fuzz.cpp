// The pack decoder over any bytes, and the encoder over rows made from them.
// Properties: a pack that parses decodes every block of every column without
// reading outside its bytes; a pack made from rows parses and gives back each
// value, kind and spelling exactly, bit for bit; a pack with any byte
// changed or cut short is refused.
#include <cstring>
#include <string>
#include <vector>

#include "platform/engine/tick_pack.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using engine::TickPack;
using engine::Value;

void DecodeAll(const TickPack& pack) {
  TickPack::Block block;
  const size_t blocks = (pack.Rows() + engine::kPackBlock - 1) / engine::kPackBlock;
  for (int c = 0; c < engine::kPackColumns; ++c)
    for (size_t b = 0; b < blocks; ++b) FUZZ_CHECK(pack.DecodeBlock(c, b, block));
  for (size_t r = 0; r < pack.Rows(); ++r) FUZZ_CHECK(pack.SpellingAt(r) >= 0);
}

// Rows from the bytes: each row takes a spelling, a kind per column and a
// value, so that scales, nulls, mixed kinds and raw doubles all occur.
std::vector<std::vector<Value>> RowsOf(const uint8_t* data, size_t size) {
  std::vector<std::vector<Value>> rows;
  static const char* const kSpellings[] = {"ABC", "abc", "Abc", "aBc"};
  size_t p = 0;
  auto take = [&](size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n && p < size; ++i) v |= static_cast<uint64_t>(data[p++]) << (8 * i);
    return v;
  };
  while (p < size && rows.size() < 1000) {
    std::vector<Value> row(10);
    row[3] = Value::Text(kSpellings[take(1) % 4]);
    for (int c = 0; c < 10; ++c) {
      if (c == 3) continue;
      const uint64_t kind = take(1) % 6;
      const uint64_t bits = take(kind == 5 ? 8 : 3);
      switch (kind) {
        case 0: break;  // null
        case 1: row[c].SetInt(static_cast<int64_t>(bits) - 100000); break;
        case 2: row[c].SetFloat(static_cast<double>(bits) / 100.0); break;
        case 3: row[c].SetFloat(static_cast<double>(bits) / 86400000.0); break;
        case 4: row[c].SetFloat(static_cast<double>(bits) * 100.0); break;
        default: {
          double d;
          std::memcpy(&d, &bits, sizeof d);
          row[c].SetFloat(d);
        }
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

bool SameValue(const Value& v, Value::Kind kind, double d) {
  if (v.kind != kind) return false;
  if (kind == Value::Kind::kNull) return true;
  if (kind == Value::Kind::kInteger) return static_cast<double>(v.i) == d;
  return std::memcmp(&v.d, &d, sizeof d) == 0;
}

void RoundTrip(const uint8_t* data, size_t size) {
  const std::vector<std::vector<Value>> rows = RowsOf(data, size);
  engine::TickPackBuilder builder;
  for (const std::vector<Value>& row : rows) FUZZ_CHECK(builder.Add(row.data()));
  const std::string bytes = builder.Finish();
  FUZZ_CHECK(bytes.empty() == rows.empty());
  if (rows.empty()) return;
  TickPack pack;
  FUZZ_CHECK(pack.Parse(bytes, nullptr));
  FUZZ_CHECK(pack.Rows() == rows.size());
  TickPack::Block block;
  for (int c = 0; c < engine::kPackColumns; ++c) {
    for (size_t r = 0; r < rows.size(); ++r) {
      if (r % engine::kPackBlock == 0) FUZZ_CHECK(pack.DecodeBlock(c, r / engine::kPackBlock, block));
      const size_t j = r % engine::kPackBlock;
      FUZZ_CHECK(SameValue(rows[r][c < 3 ? c : c + 1], block.kinds[j], block.values[j]));
    }
  }
  for (size_t r = 0; r < rows.size(); ++r) FUZZ_CHECK(pack.SpellingOf(rows[r][3].s) == pack.SpellingAt(r));
  // Any single changed byte, or a cut, is caught.
  std::string damaged = bytes;
  damaged[data[0] % damaged.size()] ^= static_cast<char>(1 + data[size - 1] % 255);
  FUZZ_CHECK(!pack.Parse(damaged, nullptr));
  FUZZ_CHECK(!pack.Parse(std::string_view(bytes).substr(0, bytes.size() - 1 - data[0] % bytes.size()), nullptr));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    RoundTrip(data + 1, size - 1);
    return 0;
  }
  TickPack pack;
  if (pack.Parse(fuzz::AsText(data + 1, size - 1), nullptr)) DecodeAll(pack);
  return 0;
}
