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
// The same rule without an exception: false (and `out` untouched) where integerText throws.
// Any thread; allocates nothing.
bool tryIntegerText(std::string_view text, std::int32_t& out) noexcept;

// A typed integer in its parts, read by the rule of integerText but without its range: the sign,
// whether the digits were hexadecimal, and their magnitude; a magnitude beyond 64 bits reads as
// UINT64_MAX with `beyond64` set.
struct IntegerParts {
  bool negative = false;
  bool hex = false;
  std::uint64_t magnitude = 0;
  bool beyond64 = false;
};
// False (and `out` untouched) where the text is not an integer at all. Any thread.
bool tryIntegerParts(std::string_view text, IntegerParts& out) noexcept;
// The same, throwing the bp::Error of integerText.
IntegerParts integerParts(std::string_view text);

// Real conversion: optional spaces, sign, digits with an optional fraction after `decimalSep`,
// optional exponent, optional spaces. Throws bp::Error "'<text>' is not a valid floating point value".
// A magnitude beyond the double range fails; one below the smallest double gives 0.
double realText(std::string_view text, char decimalSep);
// The same rule without an exception: false (and `out` untouched) where realText throws.
bool tryRealText(std::string_view text, char decimalSep, double& out) noexcept;

// A double in general notation, 15 significant digits, no trailing zeros, `decimalSep` as the
// separator: plain for 0 and 1E-4 <= |x| < 1E15, otherwise scientific ("1.5E20", "-1E-5").
// NaN and infinities read "NAN", "INF", "-INF". Locale-independent; any thread.
std::string formatReal(double value, char decimalSep);

// The upper-case hexadecimal digits by value.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";
// The bytes as upper-case hexadecimal pairs with `separator` between them ("01 02 AB" with " ").
std::string hexPairsText(std::string_view bytes, std::string_view separator);
// The bytes of hexadecimal digit pairs ("0102AB", "01 02 ab"): blanks may stand between pairs,
// never inside one. False (and `out` untouched) for an odd digit count or any other character;
// an empty or all-blank text gives no bytes.
bool tryHexPairs(std::string_view text, std::string& out);

// The value text of a record, by its data type: "value (0xPATTERN)" for the integer types (the
// wide ones from value64, with their 64-bit pattern), formatReal for REAL32 and REAL64, the text
// for VISIBLE_STRING and UNICODE_STRING, hexPairsText with blanks for OCTET_STRING (textValue's
// bytes), "<size> bytes: 01 02 03 ..." for a read DOMAIN (value64 and the first bytes in
// textValue); empty for the types without one (TIME_OF_DAY, TIME_DIFFERENCE, a DOMAIN not read).
std::string FormatObjectValue(const ObjectEntry& entry, char decimalSep);

// The tree caption of a record: "0x%04X " or "Sub 0x%02X " prefix, the name, and " = " with the
// value text unless it is a composite head or write-only.
std::string FormatNodeCaption(const ObjectEntry& entry, char decimalSep);

}  // namespace bp::od
