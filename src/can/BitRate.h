#pragma once
#include <array>
#include <cstdint>
#include <string_view>

namespace bp::can {

// One row of the bit-rate selector: its text, the controller timing code (BTR0 high, BTR1 low,
// 16 MHz clock) that the driver's open takes, and the bit rate it stands for.
struct BitRateRow {
  std::string_view text;
  std::uint16_t code;
  std::uint32_t bitsPerSecond;
};

inline constexpr std::array<BitRateRow, 9> kBitRateTable{{
    {"5 kb/s", 0x7F7F, 5'000},
    {"10 kb/s", 0x672F, 10'000},
    {"20 kb/s", 0x532F, 20'000},
    {"50 kb/s", 0x472F, 50'000},
    {"100 kb/s", 0x432F, 100'000},
    {"125 kb/s", 0x031C, 125'000},
    {"250 kb/s", 0x011C, 250'000},
    {"500 kb/s", 0x001C, 500'000},
    {"1mb/s", 0x0014, 1'000'000},
}};

inline constexpr int kDefaultBitRateIndex = 7;  // "500 kb/s"

// The bit rate of a timing code, or 0 when the code is not in the table.
constexpr std::uint32_t bitRateOfCode(std::uint16_t code) noexcept {
  for (const auto& row : kBitRateTable)
    if (row.code == code) return row.bitsPerSecond;
  return 0;
}

}  // namespace bp::can
