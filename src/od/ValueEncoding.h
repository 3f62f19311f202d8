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
// textValue), as typedBytes gives them for the same value. Empty for a type without a value and for
// a DOMAIN (its entry holds only the first bytes).
std::string entryBytes(const ObjectEntry& entry);

// Stores a value's bytes (least significant first) into the entry's value field by its type, the
// reverse of entryBytes: integers sign-extended for the signed types (missing high bytes read 0),
// REAL32 and REAL64 from their IEEE 754 bits, VISIBLE_STRING and OCTET_STRING as they are,
// UNICODE_STRING from UTF-16 as UTF-8. A DOMAIN keeps its size `totalSize` in value64 and its first
// kDomainShownBytes bytes in textValue. Types without a value keep nothing.
inline constexpr std::size_t kDomainShownBytes = 16;
void storeValueBytes(ObjectEntry& entry, std::string_view bytes, std::size_t totalSize);

// The text the value editor starts from: the value in the form typedBytes reads (integers as
// plain decimal numbers, reals by formatReal, strings as they are, bytes as hexadecimal pairs; a
// DOMAIN only when its entry holds all of it, else empty).
std::string editText(const ObjectEntry& entry, char decimalSep);

// The size of a value of `dataType` in bytes, or 0 for the types without one (strings, DOMAIN).
std::size_t fixedSize(std::int8_t dataType) noexcept;

}  // namespace bp::od
