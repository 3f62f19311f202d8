#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "od/ObjectEntry.h"

namespace bp::od {

// Integer conversion of a typed or read text: leading spaces, optional sign, then a hexadecimal
// number after "$", "x", "X", "0x" or "0X" (32-bit pattern, two's complement) or a decimal number
// in the signed 32-bit range; nothing may follow. Throws bp::Error
// "'<text>' is not a valid integer value".
std::int32_t integerText(std::string_view text);

// Real conversion: optional spaces, sign, digits with an optional fraction after `decimalSep`,
// optional exponent, optional spaces. Throws bp::Error "'<text>' is not a valid floating point value".
double realText(std::string_view text, char decimalSep);

// The value text of a record, by its data type (empty for types without one).
std::string FormatObjectValue(const ObjectEntry& entry, char decimalSep);

// The tree caption of a record: "0x%04X " or "Sub 0x%02X " prefix, the name, and " = " with the
// value text unless it is a composite head or write-only.
std::string FormatNodeCaption(const ObjectEntry& entry, char decimalSep);

}  // namespace bp::od
