#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "od/ObjectEntry.h"

namespace bp::od {

// A value typed in the form of its data type, as the bytes a download sends (least significant
// byte first): every integer type by typedValue64 (its range checked) in the type's width;
// REAL32 and REAL64 by realText with `decimalSep`, IEEE 754; VISIBLE_STRING as typed (UTF-8);
// UNICODE_STRING as UTF-16; OCTET_STRING, DOMAIN, TIME_OF_DAY and TIME_DIFFERENCE as hexadecimal
// pairs (tryHexPairs; the two time types exactly 6 bytes). Throws bp::Error naming the text and
// what is wrong with it.
std::string typedBytes(std::int8_t dataType, std::string_view text, char decimalSep);

// The bytes of a value of `dataType` in the entry's value fields (value, value64, realValue,
// textValue), as typedBytes gives them for the same value. Empty for a type without a value.
std::string entryBytes(const ObjectEntry& entry);

// The text the value editor starts from: the value in the form typedBytes reads (integers as
// plain decimal numbers, reals by formatReal, strings as they are, bytes as hexadecimal pairs).
std::string editText(const ObjectEntry& entry, char decimalSep);

// The size of a value of `dataType` in bytes, or 0 for the types without one (strings, DOMAIN).
std::size_t fixedSize(std::int8_t dataType) noexcept;

}  // namespace bp::od
