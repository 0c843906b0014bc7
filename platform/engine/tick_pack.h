// A pack: the ticks of one day table and one symbol key (every spelling of
// the symbol that the SymbolTime index folds together), copied into columns.
//
// The rows stay the truth. A pack holds exactly the values the store's own
// cursor gives for those rows, in index order, so that a reader going
// through a pack sees the same values, kinds and nulls as one reading the
// rows, at a fraction of the cost: the columns are stored as small
// whole-number deltas wherever that reproduces each stored double bit for
// bit, and as the doubles themselves elsewhere.
//
// Layout (little-endian): "TPK1", the row count (u32), the spellings (u16
// count, then a u8 length and the bytes of each), the spelling of each row
// (a byte per row, absent when there is one spelling), the nine value
// columns in tick-column order without Symbol (a u32 length and the
// column's bytes each), then a 64-bit checksum of everything before it.
// A column holds its encoding, a null bitmap and a kind bitmap when needed,
// then blocks of kPackBlock rows, each decodable on its own, so that a
// reader decodes only the blocks and columns it reads.
#ifndef HISTDATA_PLATFORM_ENGINE_TICK_PACK_H_
#define HISTDATA_PLATFORM_ENGINE_TICK_PACK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/engine/value.h"

namespace engine {

// The value columns of a pack, in tick-column order without Symbol.
enum PackColumn { kPackId, kPackDate, kPackTime, kPackBid, kPackOffer, kPackPrice,
                  kPackBidSize, kPackVolume, kPackOfferSize, kPackColumns };

// Rows per block of a column.
inline constexpr size_t kPackBlock = 128;

// Makes the pack of one key from its rows, added in index order.
class TickPackBuilder {
 public:
  // Adds a row: the ten tick columns (kTickColumns) from `row` on, as the
  // store's cursor gives them. False when a value cannot be kept exactly (text in a
  // number column, a symbol that is not text, a whole number beyond 2^53,
  // more than 256 spellings): the key then has no pack and is read from its
  // rows. Once false, Finish gives nothing.
  bool Add(const Value* row);
  // The pack of the rows added, or empty when there were none or one could
  // not be kept; the builder is then ready for the next key.
  std::string Finish();

 private:
  bool spoiled_ = false;
  std::vector<std::string> spellings_;
  std::vector<uint8_t> spelling_of_row_;
  // Per value column: each row's value (0 for null) and kind.
  std::vector<double> values_[kPackColumns];
  std::vector<Value::Kind> kinds_[kPackColumns];
};

// A parsed pack over bytes the caller keeps alive. Parsing checks the frame
// and the checksum, so that a damaged pack is never read; decoding a block
// checks its bounds again, so that no input reads outside the bytes.
class TickPack {
 public:
  // False, with the reason in `why`, when `bytes` is not a sound pack.
  bool Parse(std::string_view bytes, std::string* why);

  size_t Rows() const { return rows_; }
  // The index of `symbol` among the pack's spellings (exact bytes), or -1.
  int SpellingOf(std::string_view symbol) const;
  int SpellingAt(size_t row) const { return spelling_of_row_ == nullptr ? 0 : spelling_of_row_[row]; }
  // Whether any row of `column` is null.
  bool HasNulls(int column) const { return columns_[column].nulls != nullptr; }

  // One decoded block of a column: the values of rows [first, first +
  // count), 0 for null, with each row's kind.
  struct Block {
    size_t first = 0, count = 0;
    double values[kPackBlock];
    Value::Kind kinds[kPackBlock];
    // What the whole numbers the block was stored as say of its values,
    // for readers that would otherwise convert each double back:
    //  kWhole: each value is its whole number times `multiple` (a power
    //          of ten up to 1,000), exactly and without overflow;
    //  kDayMillis: each value is its whole number / 86,400,000 (a time of
    //              day stored from its millisecond);
    //  kOther: the whole numbers are not kept.
    enum class Units : uint8_t { kOther, kWhole, kDayMillis } units = Units::kOther;
    int64_t multiple = 1;
    int64_t whole[kPackBlock];  // 0 for null rows
  };
  // Decodes block `index` (rows from index * kPackBlock) of `column` into
  // `out`. False when the column's bytes are malformed.
  bool DecodeBlock(int column, size_t index, Block& out) const;

 private:
  struct ColumnBytes {
    const uint8_t* begin = nullptr;
    const uint8_t* end = nullptr;
    // Filled by Parse: where the blocks start, one offset per block.
    std::vector<uint32_t> block_offsets;
    uint8_t encoding = 0;
    int8_t scale = 0;
    const uint8_t* nulls = nullptr;
    const uint8_t* ints = nullptr;
    bool all_int = false;
  };
  bool ParseColumn(const uint8_t* begin, const uint8_t* end, ColumnBytes& out) const;

  size_t rows_ = 0;
  std::vector<std::string_view> spellings_;
  const uint8_t* spelling_of_row_ = nullptr;
  ColumnBytes columns_[kPackColumns];
};

// The checksum that closes a pack: 64 bits over `size` bytes.
uint64_t PackChecksum(const void* data, size_t size);

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_TICK_PACK_H_
