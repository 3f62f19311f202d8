#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace bp::busview {

// One row of the emergency error code table: the rows whose `mask` bits of a code equal `code`
// carry `text`. Mask 0xFFFF is one code, 0xFF00 a group such as 0x23xx, 0xF000 a class such as
// 0x2xxx. Rows with `drive` set are the codes of CiA 402 drives; the others are CiA 301's.
struct EmcyCodeRow {
  std::uint16_t code;
  std::uint16_t mask;
  bool drive;
  std::string_view text;
};

// The whole table, static storage, in no particular order.
std::span<const EmcyCodeRow> emcyCodeTable() noexcept;

// The texts of one code: `general` from the CiA 301 rows, `drive` from the CiA 402 rows (only when
// asked for a drive; else empty). Each is the most specific row that matches (the code itself,
// then its 0xFF00 group, then its 0xF000 class); empty when none does. Views of static storage.
struct EmcyCodeText {
  std::string_view general;
  std::string_view drive;
};
EmcyCodeText lookUpEmcyCode(std::uint16_t code, bool cia402Drive) noexcept;

// The name of bit 0..7 of the error register (object 0x1001): "generic", "current", "voltage",
// "temperature", "communication", "device profile specific", "reserved", "manufacturer specific".
std::string_view errorRegisterBitName(int bit) noexcept;

// The names of the bits set in `errorRegister`, joined by ", "; "none" for 0.
std::string errorRegisterText(std::uint8_t errorRegister);

}  // namespace bp::busview
