#include "download/YencCompactTable.h"

namespace zev {

namespace {

constexpr unsigned kRows = 1u << 15;

struct TShuffleTable {
  alignas(64) TYencShuffleRow rows[kRows];
};

void Fill(TShuffleTable& table) {
  for (unsigned mask = 0; mask < kRows; ++mask) {
    uint8_t* row = table.rows[mask];
    unsigned slot = 0;
    for (unsigned bit = 0; bit < 15; ++bit)
      if (mask & (1u << bit)) row[slot++] = static_cast<uint8_t>(bit);
    row[slot++] = 15;
    while (slot < 16) row[slot++] = 0x80;
  }
}

constexpr TYencBitCounts MakeBitCounts() {
  TYencBitCounts counts{};
  for (unsigned value = 0; value < 256; ++value)
    for (unsigned bit = 0; bit < 8; ++bit) counts.of[value] = static_cast<uint8_t>(counts.of[value] + ((value >> bit) & 1));
  return counts;
}

}  // namespace

const TYencShuffleRow* YencShuffleTable() {
  static const TShuffleTable* table = [] {
    static TShuffleTable built;
    Fill(built);
    return &built;
  }();
  return table->rows;
}

constinit const TYencBitCounts kYencBitCount = MakeBitCounts();

}  // namespace zev
