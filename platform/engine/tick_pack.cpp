// Packs are read far more often than written: the encoder tries every scale
// it knows per column and keeps the first that reproduces each value bit for
// bit, while the decoder is a short loop per block of a fixed byte width.
#include "platform/engine/tick_pack.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace engine {
namespace {

constexpr char kMagic[4] = {'T', 'P', 'K', '1'};
constexpr size_t kChecksumBytes = 8;
constexpr size_t kMaxSpellings = 256;

// Column encodings.
constexpr uint8_t kScaled = 0;  // whole numbers times a scale, delta-coded per block
constexpr uint8_t kRaw = 1;     // the doubles themselves, eight bytes a row

// Scales: value = n * 10^s (s >= 0), n / 10^-s (s < 0), or, for kMsScale,
// n / 86,400,000: a time of day stored from its millisecond.
constexpr int8_t kMsScale = 100;
constexpr int8_t kScales[] = {3, 2, 1, 0, -1, -2, -3, -4, -5, -6, -7, -8, kMsScale};
constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// Column flags.
constexpr uint8_t kHasNulls = 1;
constexpr uint8_t kMixedKinds = 2;  // a bitmap tells whole-number rows from float rows
constexpr uint8_t kAllInt = 4;      // every non-null row is a whole number

constexpr double kExactLimit = 9007199254740992.0;  // 2^53

double Unscale(int64_t n, int8_t scale) {
  const double x = static_cast<double>(n);
  if (scale == kMsScale) return x / 86400000.0;
  if (scale >= 0) return x * kPow10[scale];
  return x / kPow10[-scale];
}

// out[j] = n[j] / d, correctly rounded, for `count` numbers: the values of
// a block stored at a scale below one or as milliseconds, which are most of
// what decoding costs. A division takes the processor several times longer
// than a multiplication; with a fused multiply-add, the quotient taken by
// the reciprocal and corrected once by its exact remainder is the correctly
// rounded one (Markstein's theorem: the reciprocal is correctly rounded and
// the first quotient within an ulp), so the result is the same bits.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
__attribute__((target("fma"))) void DivideFused(const int64_t* n, size_t count, double d, double* out) {
  const double reciprocal = 1.0 / d;
  for (size_t j = 0; j < count; ++j) {
    const double x = static_cast<double>(n[j]);
    const double q = x * reciprocal;
    out[j] = std::fma(std::fma(-q, d, x), reciprocal, q);
  }
}
#define HISTDATA_DIVIDE_FUSED 1
#endif

void Divide(const int64_t* n, size_t count, double d, double* out) {
#ifdef HISTDATA_DIVIDE_FUSED
  static const bool fused = __builtin_cpu_supports("fma");
  if (fused) {
    DivideFused(n, count, d, out);
    return;
  }
#endif
  for (size_t j = 0; j < count; ++j) out[j] = static_cast<double>(n[j]) / d;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The whole number that `v` is at `scale`, when Unscale gives `v` back
// exactly.
bool ScaleOf(double v, int8_t scale, int64_t& n) {
  double x;
  if (scale == kMsScale) {
    x = v * 86400000.0;
  } else if (scale >= 0) {
    x = v / kPow10[scale];
  } else {
    x = v * kPow10[-scale];
  }
  if (!(std::fabs(x) < kExactLimit)) return false;
  n = std::llround(x);
  return SameBits(Unscale(n, scale), v);
}

uint64_t ZigZag(int64_t v) { return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63); }
int64_t UnZigZag(uint64_t v) { return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1); }

void PutVarint(std::string& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<char>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
}

bool GetVarint(const uint8_t*& p, const uint8_t* end, uint64_t& v) {
  v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (p == end) return false;
    const uint8_t b = *p++;
    v |= static_cast<uint64_t>(b & 0x7F) << shift;
    if ((b & 0x80) == 0) return true;
  }
  return false;
}

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void PutU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
uint64_t GetLE(const uint8_t* p, unsigned width) {
  uint64_t v = 0;
  std::memcpy(&v, p, width);  // little-endian hosts only, as every target is
  return v;
}

int BytesFor(uint64_t v) {
  int n = 0;
  while (v != 0) {
    ++n;
    v >>= 8;
  }
  return n;
}

void PutBitmap(std::string& out, const std::vector<bool>& bits) {
  std::string bytes((bits.size() + 7) / 8, '\0');
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) bytes[i / 8] = static_cast<char>(bytes[i / 8] | (1 << (i % 8)));
  out += bytes;
}

bool Bit(const uint8_t* bitmap, size_t i) { return (bitmap[i / 8] >> (i % 8)) & 1; }

// One value column, written after its length.
std::string EncodeColumn(const std::vector<double>& values, const std::vector<Value::Kind>& kinds) {
  const size_t rows = values.size();
  bool has_null = false, has_int = false, has_float = false;
  for (Value::Kind k : kinds) {
    has_null |= k == Value::Kind::kNull;
    has_int |= k == Value::Kind::kInteger;
    has_float |= k == Value::Kind::kFloat;
  }
  // The first scale that every non-null value takes exactly.
  std::vector<int64_t> n(rows, 0);
  int8_t chosen = 0;
  bool scaled = false;
  for (int8_t scale : kScales) {
    bool ok = true;
    int64_t last = 0;
    for (size_t i = 0; i < rows && ok; ++i) {
      if (kinds[i] == Value::Kind::kNull) {
        n[i] = last;  // a null repeats the value before: a zero delta
        continue;
      }
      ok = ScaleOf(values[i], scale, n[i]);
      last = n[i];
    }
    if (ok) {
      chosen = scale;
      scaled = true;
      break;
    }
  }

  std::string out;
  out.push_back(static_cast<char>(scaled ? kScaled : kRaw));
  out.push_back(static_cast<char>(chosen));
  const bool mixed = has_int && has_float;
  out.push_back(static_cast<char>((has_null ? kHasNulls : 0) | (mixed ? kMixedKinds : 0) |
                                  (has_int && !has_float ? kAllInt : 0)));
  if (has_null) {
    std::vector<bool> bits(rows);
    for (size_t i = 0; i < rows; ++i) bits[i] = kinds[i] == Value::Kind::kNull;
    PutBitmap(out, bits);
  }
  if (mixed) {
    std::vector<bool> bits(rows);
    for (size_t i = 0; i < rows; ++i) bits[i] = kinds[i] == Value::Kind::kInteger;
    PutBitmap(out, bits);
  }
  if (!scaled) {
    for (size_t i = 0; i < rows; ++i) {
      uint64_t bits = 0;
      std::memcpy(&bits, &values[i], sizeof bits);
      PutU64(out, bits);
    }
    return out;
  }
  for (size_t first = 0; first < rows; first += kPackBlock) {
    const size_t count = std::min(kPackBlock, rows - first);
    int64_t min_delta = 0;
    uint64_t span = 0;
    if (count > 1) {
      min_delta = std::numeric_limits<int64_t>::max();
      for (size_t j = 1; j < count; ++j) min_delta = std::min(min_delta, n[first + j] - n[first + j - 1]);
      for (size_t j = 1; j < count; ++j)
        span = std::max(span, static_cast<uint64_t>(n[first + j] - n[first + j - 1] - min_delta));
    }
    const int width = BytesFor(span);
    PutVarint(out, ZigZag(n[first]));
    PutVarint(out, ZigZag(min_delta));
    out.push_back(static_cast<char>(width));
    for (size_t j = 1; j < count; ++j) {
      const uint64_t d = static_cast<uint64_t>(n[first + j] - n[first + j - 1] - min_delta);
      for (int b = 0; b < width; ++b) out.push_back(static_cast<char>(d >> (8 * b)));
    }
  }
  return out;
}

}  // namespace

uint64_t PackChecksum(const void* data, size_t size) {
  // Four independent lanes over 32-byte stripes, then the tail: fast enough
  // to check every pack on every read.
  constexpr uint64_t kP1 = 0x9E3779B185EBCA87ull, kP2 = 0xC2B2AE3D27D4EB4Full,
                     kP3 = 0x165667B19E3779F9ull;
  auto rotl = [](uint64_t x, int r) { return (x << r) | (x >> (64 - r)); };
  auto round = [&](uint64_t acc, uint64_t w) { return rotl(acc + w * kP2, 31) * kP1; };
  const auto* p = static_cast<const uint8_t*>(data);
  const uint8_t* end = p + size;
  uint64_t h;
  if (size >= 32) {
    uint64_t v[4] = {kP1 + kP2, kP2, 0, 0 - kP1};
    for (; end - p >= 32; p += 32) {
      for (int k = 0; k < 4; ++k) v[k] = round(v[k], GetLE(p + 8 * k, 8));
    }
    h = rotl(v[0], 1) + rotl(v[1], 7) + rotl(v[2], 12) + rotl(v[3], 18);
    for (uint64_t x : v) h = (h ^ round(0, x)) * kP1 + kP3;
  } else {
    h = kP3;
  }
  h += size;
  for (; end - p >= 8; p += 8) h = rotl(h ^ round(0, GetLE(p, 8)), 27) * kP1 + kP3;
  for (; p < end; ++p) h = rotl(h ^ (*p * kP3), 11) * kP1;
  h ^= h >> 33;
  h *= kP2;
  h ^= h >> 29;
  h *= kP3;
  return h ^ (h >> 32);
}

bool TickPackBuilder::Add(const Value* row) {
  if (spoiled_) return false;
  if (row[3].kind != Value::Kind::kText) {
    spoiled_ = true;
    return false;
  }
  const std::string& symbol = row[3].s;
  size_t s = 0;
  while (s < spellings_.size() && spellings_[s] != symbol) ++s;
  if (s == spellings_.size()) {
    if (s == kMaxSpellings || symbol.size() > 255) {
      spoiled_ = true;
      return false;
    }
    spellings_.push_back(symbol);
  }
  spelling_of_row_.push_back(static_cast<uint8_t>(s));
  for (int c = 0; c < kPackColumns; ++c) {
    const Value& v = row[c < 3 ? c : c + 1];
    double d = 0;
    switch (v.kind) {
      case Value::Kind::kNull: break;
      case Value::Kind::kFloat: d = v.d; break;
      case Value::Kind::kInteger:
        d = static_cast<double>(v.i);
        if (!(std::fabs(d) < kExactLimit)) spoiled_ = true;
        break;
      case Value::Kind::kText: spoiled_ = true; break;
    }
    values_[c].push_back(d);
    kinds_[c].push_back(v.kind);
  }
  return !spoiled_;
}

std::string TickPackBuilder::Finish() {
  std::string out;
  const size_t rows = spelling_of_row_.size();
  if (!spoiled_ && rows > 0 && rows <= std::numeric_limits<uint32_t>::max()) {
    out.append(kMagic, sizeof kMagic);
    PutU32(out, static_cast<uint32_t>(rows));
    out.push_back(static_cast<char>(spellings_.size() & 0xFF));
    out.push_back(static_cast<char>(spellings_.size() >> 8));
    for (const std::string& s : spellings_) {
      out.push_back(static_cast<char>(s.size()));
      out += s;
    }
    if (spellings_.size() > 1) out.append(spelling_of_row_.begin(), spelling_of_row_.end());
    for (int c = 0; c < kPackColumns; ++c) {
      const std::string column = EncodeColumn(values_[c], kinds_[c]);
      PutU32(out, static_cast<uint32_t>(column.size()));
      out += column;
    }
    PutU64(out, PackChecksum(out.data(), out.size()));
  }
  *this = TickPackBuilder();
  return out;
}

bool TickPack::Parse(std::string_view bytes, std::string* why) {
  auto fail = [&](const char* reason) {
    if (why != nullptr) *why = reason;
    rows_ = 0;
    return false;
  };
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  if (bytes.size() < sizeof kMagic + 4 + 2 + kChecksumBytes) return fail("too short");
  const uint8_t* end = p + bytes.size() - kChecksumBytes;
  if (std::memcmp(p, kMagic, sizeof kMagic) != 0) return fail("not a pack");
  if (GetLE(end, 8) != PackChecksum(p, bytes.size() - kChecksumBytes)) return fail("checksum mismatch");
  p += sizeof kMagic;
  rows_ = static_cast<size_t>(GetLE(p, 4));
  p += 4;
  const size_t spellings = static_cast<size_t>(GetLE(p, 2));
  p += 2;
  if (rows_ == 0 || spellings == 0 || spellings > kMaxSpellings) return fail("bad header");
  spellings_.clear();
  for (size_t s = 0; s < spellings; ++s) {
    if (p == end || static_cast<size_t>(end - p) < 1u + *p) return fail("truncated spellings");
    const size_t length = *p++;
    spellings_.emplace_back(reinterpret_cast<const char*>(p), length);
    p += length;
  }
  spelling_of_row_ = nullptr;
  if (spellings > 1) {
    if (static_cast<size_t>(end - p) < rows_) return fail("truncated spelling column");
    for (size_t i = 0; i < rows_; ++i)
      if (p[i] >= spellings) return fail("bad spelling index");
    spelling_of_row_ = p;
    p += rows_;
  }
  for (ColumnBytes& column : columns_) {
    if (end - p < 4) return fail("truncated column");
    const size_t length = static_cast<size_t>(GetLE(p, 4));
    p += 4;
    if (static_cast<size_t>(end - p) < length) return fail("truncated column");
    if (!ParseColumn(p, p + length, column)) return fail("bad column");
    p += length;
  }
  if (p != end) return fail("trailing bytes");
  return true;
}

bool TickPack::ParseColumn(const uint8_t* begin, const uint8_t* end, ColumnBytes& out) const {
  const uint8_t* p = begin;
  if (end - p < 3) return false;
  out.encoding = p[0];
  out.scale = static_cast<int8_t>(p[1]);
  const uint8_t flags = p[2];
  p += 3;
  if (out.encoding != kScaled && out.encoding != kRaw) return false;
  if (out.encoding == kScaled && std::find(std::begin(kScales), std::end(kScales), out.scale) == std::end(kScales))
    return false;
  const size_t bitmap = (rows_ + 7) / 8;
  out.nulls = out.ints = nullptr;
  if (flags & kHasNulls) {
    if (static_cast<size_t>(end - p) < bitmap) return false;
    out.nulls = p;
    p += bitmap;
  }
  if (flags & kMixedKinds) {
    if (static_cast<size_t>(end - p) < bitmap) return false;
    out.ints = p;
    p += bitmap;
  }
  out.all_int = (flags & kAllInt) != 0;
  out.begin = p;
  out.end = end;
  out.block_offsets.clear();
  const size_t blocks = (rows_ + kPackBlock - 1) / kPackBlock;
  out.block_offsets.reserve(blocks);
  for (size_t b = 0; b < blocks; ++b) {
    out.block_offsets.push_back(static_cast<uint32_t>(p - out.begin));
    const size_t count = std::min(kPackBlock, rows_ - b * kPackBlock);
    if (out.encoding == kRaw) {
      if (static_cast<size_t>(end - p) < 8 * count) return false;
      p += 8 * count;
      continue;
    }
    uint64_t first, min_delta;
    if (!GetVarint(p, end, first) || !GetVarint(p, end, min_delta) || p == end) return false;
    const unsigned width = *p++;
    if (width > 8 || static_cast<size_t>(end - p) < width * (count - 1)) return false;
    p += width * (count - 1);
  }
  return p == end;
}

int TickPack::SpellingOf(std::string_view symbol) const {
  for (size_t s = 0; s < spellings_.size(); ++s)
    if (spellings_[s] == symbol) return static_cast<int>(s);
  return -1;
}

bool TickPack::DecodeBlock(int column, size_t index, Block& out) const {
  if (column < 0 || column >= kPackColumns) return false;
  const ColumnBytes& c = columns_[column];
  if (index >= c.block_offsets.size()) return false;
  out.first = index * kPackBlock;
  out.count = std::min(kPackBlock, rows_ - out.first);
  const uint8_t* p = c.begin + c.block_offsets[index];
  out.units = Block::Units::kOther;
  if (c.encoding == kRaw) {
    for (size_t j = 0; j < out.count; ++j) std::memcpy(&out.values[j], p + 8 * j, 8);
  } else {
    uint64_t first, min_delta;
    if (!GetVarint(p, c.end, first) || !GetVarint(p, c.end, min_delta) || p == c.end) return false;
    const unsigned width = *p++;
    if (width > 8 || static_cast<size_t>(c.end - p) < width * (out.count - 1)) return false;
    // The whole numbers first, a running sum, then their values in one
    // loop per scale that the compiler can keep free of branches.
    int64_t* const n = out.whole;
    uint64_t sum = static_cast<uint64_t>(UnZigZag(first));
    const uint64_t step = static_cast<uint64_t>(UnZigZag(min_delta));
    n[0] = static_cast<int64_t>(sum);
    switch (width) {
      case 0:
        for (size_t j = 1; j < out.count; ++j) n[j] = static_cast<int64_t>(sum += step);
        break;
      case 1:
        for (size_t j = 1; j < out.count; ++j) n[j] = static_cast<int64_t>(sum += step + p[j - 1]);
        break;
      case 2:
        for (size_t j = 1; j < out.count; ++j) n[j] = static_cast<int64_t>(sum += step + GetLE(p + 2 * (j - 1), 2));
        break;
      default:
        for (size_t j = 1; j < out.count; ++j)
          n[j] = static_cast<int64_t>(sum += step + GetLE(p + width * (j - 1), width));
        break;
    }
    // Wrapping arithmetic above: a damaged block gives wrong numbers, never
    // undefined behaviour (the checksum keeps damage out in the first place).
    if (c.scale == kMsScale) {
      out.units = Block::Units::kDayMillis;
      Divide(n, out.count, 86400000.0, out.values);
    } else if (c.scale >= 0) {
      // A stored whole number is below 2^53 and the scale at most 10^3, so
      // the product fits 64 bits.
      out.units = Block::Units::kWhole;
      out.multiple = static_cast<int64_t>(kPow10[c.scale]);
      const double m = kPow10[c.scale];
      for (size_t j = 0; j < out.count; ++j) out.values[j] = static_cast<double>(n[j]) * m;
    } else {
      Divide(n, out.count, kPow10[-c.scale], out.values);
    }
  }
  const Value::Kind plain = c.all_int ? Value::Kind::kInteger : Value::Kind::kFloat;
  if (c.ints == nullptr && c.nulls == nullptr) {
    std::fill(out.kinds, out.kinds + out.count, plain);
    return true;
  }
  for (size_t j = 0; j < out.count; ++j) {
    const size_t row = out.first + j;
    Value::Kind kind = plain;
    if (c.ints != nullptr && Bit(c.ints, row)) kind = Value::Kind::kInteger;
    if (c.nulls != nullptr && Bit(c.nulls, row)) {
      kind = Value::Kind::kNull;
      out.values[j] = 0;
      out.whole[j] = 0;
    }
    out.kinds[j] = kind;
  }
  return true;
}

}  // namespace engine
