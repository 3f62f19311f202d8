#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

// The TYPE words of busprobe-cli and the CANopen data types they stand for.
namespace bp::cli {

struct DataTypeName {
  std::string_view word;
  std::int8_t dataType;  // od::DataType
};

// u8 u16 u32 u64 i8 i16 i32 i64 r32 r64 vs os b (b: BOOLEAN, 0 or 1).
extern const DataTypeName kDataTypeNames[13];

// The data type of a TYPE word, or nullopt for any other word.
std::optional<std::int8_t> dataTypeOfWord(std::string_view word) noexcept;
// The TYPE word of a data type, or "" for the types no word stands for (DOMAIN, INTEGER24, ...).
std::string_view wordOfDataType(std::int8_t dataType) noexcept;

}  // namespace bp::cli
