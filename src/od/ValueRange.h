#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bp::od {

// The names of the integer data types as the error texts show them: "BOOLEAN", "INTEGER8",
// "INTEGER16", "INTEGER32", "UNSIGNED8", "UNSIGNED16", "UNSIGNED32"; empty for other codes.
std::string_view dataTypeName(std::int8_t dataType) noexcept;

// The value to store for a text typed for an object of an integer data type (BOOLEAN to
// UNSIGNED32), read as integerParts reads it. A decimal, or a hexadecimal with a sign, is a number
// that must lie in the type's range (BOOLEAN 0 to 1, INTEGER8 -128 to 127, ..., UNSIGNED32 0 to
// 4294967295). A hexadecimal without a sign is a bit pattern that must fit the type's width; the
// signed types extend its top bit ("0xFF" is -1 for INTEGER8). Unsigned values above 2147483647
// are stored as their 32-bit pattern. Other data types: integerText.
// Throws the bp::Error of integerText, or "<text> is out of range for <type> (<min> to <max>)",
// with the text as typed (leading spaces dropped) and, for a bit pattern, "(0x0 to 0xFF)" and the
// like.
std::int32_t typedValue(std::int8_t dataType, std::string_view text);
// The same rule for every integer type, the wide ones (INTEGER24 to UNSIGNED64) included, as an
// entry's value64 holds it: sign-extended for the signed types, the bit pattern for the unsigned
// ones (UNSIGNED64 above INT64_MAX as its pattern). Other data types: integerText.
std::int64_t typedValue64(std::int8_t dataType, std::string_view text);

// Why a value stored in an entry (a list file, an earlier version) cannot be written as one of
// `dataType`: the out-of-range text of typedValue for the number as the entry shows it (signed
// types as signed, unsigned as 32-bit unsigned). nullopt when it fits or the type has no range.
std::optional<std::string> storedValueError(std::int8_t dataType, std::int32_t value);

}  // namespace bp::od
