#include "cli/DataTypes.h"

#include "od/ObjectEntry.h"

namespace bp::cli {

const DataTypeName kDataTypeNames[13] = {
    {"u8", od::kUnsigned8}, {"u16", od::kUnsigned16}, {"u32", od::kUnsigned32},   {"u64", od::kUnsigned64},
    {"i8", od::kInteger8},  {"i16", od::kInteger16},  {"i32", od::kInteger32},    {"i64", od::kInteger64},
    {"r32", od::kReal32},   {"r64", od::kReal64},     {"vs", od::kVisibleString}, {"os", od::kOctetString},
    {"b", od::kBoolean},
};

std::optional<std::int8_t> dataTypeOfWord(std::string_view word) noexcept {
  for (const DataTypeName& n : kDataTypeNames)
    if (n.word == word) return n.dataType;
  return std::nullopt;
}

std::string_view wordOfDataType(std::int8_t dataType) noexcept {
  for (const DataTypeName& n : kDataTypeNames)
    if (n.dataType == dataType) return n.word;
  return {};
}

}  // namespace bp::cli
