#include "od/ValueEncoding.h"

#include <bit>
#include <cmath>
#include <limits>

#include "od/ValueRange.h"
#include "od/ValueText.h"
#include "util/Error.h"
#include "util/Utf8.h"

namespace bp::od {
namespace {

std::string littleEndian(std::uint64_t bits, std::size_t size) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>(bits >> (8 * i));
  return out;
}

bool isIntegerType(std::int8_t t) noexcept { return (t >= kBoolean && t <= kUnsigned32) || isWideInteger(t); }

bool isByteType(std::int8_t t) noexcept {
  return t == kOctetString || t == kDomain || t == kTimeOfDay || t == kTimeDifference;
}

[[noreturn]] void refuse(std::string_view text, const char* why) {
  std::string message = "'";
  message += text;
  message += "' ";
  message += why;
  throw Error(message);
}

std::string realBytes(std::int8_t dataType, std::string_view text, char decimalSep) {
  const double value = realText(text, decimalSep);
  if (dataType == kReal64) return littleEndian(std::bit_cast<std::uint64_t>(value), 8);
  if (std::fabs(value) > std::numeric_limits<float>::max()) refuse(text, "is out of range for REAL32");
  return littleEndian(std::bit_cast<std::uint32_t>(static_cast<float>(value)), 4);
}

std::string hexBytes(std::int8_t dataType, std::string_view text) {
  std::string bytes;
  if (!tryHexPairs(text, bytes)) refuse(text, "is not a list of hexadecimal byte pairs");
  if ((dataType == kTimeOfDay || dataType == kTimeDifference) && bytes.size() != 6)
    refuse(text, "is not 6 bytes");
  return bytes;
}

// The entry's integer value as a 64-bit number: value64 for the wide types, value otherwise
// (unsigned types as their 32-bit pattern).
std::int64_t integerOf(const ObjectEntry& e) noexcept {
  if (isWideInteger(e.dataType)) return e.value64;
  if (isSignedInteger(e.dataType)) return e.value;
  return static_cast<std::uint32_t>(e.value);
}

std::uint64_t loadLittleEndian(std::string_view bytes, std::size_t size) noexcept {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < size && i < bytes.size(); ++i)
    bits |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  return bits;
}

// The integer of `size` bytes, sign-extended for a signed type.
std::int64_t integerFrom(std::int8_t type, std::string_view bytes, std::size_t size) noexcept {
  const std::uint64_t bits = loadLittleEndian(bytes, size);
  const unsigned unused = 64u - 8u * static_cast<unsigned>(size);
  if (isSignedInteger(type) && unused != 0) return static_cast<std::int64_t>(bits << unused) >> unused;
  return static_cast<std::int64_t>(bits);
}

}  // namespace

std::size_t fixedSize(std::int8_t t) noexcept {
  switch (t) {
    case kBoolean: case kInteger8: case kUnsigned8: return 1;
    case kInteger16: case kUnsigned16: return 2;
    case kInteger24: case kUnsigned24: return 3;
    case kInteger32: case kUnsigned32: case kReal32: return 4;
    case kInteger40: case kUnsigned40: return 5;
    case kInteger48: case kUnsigned48: case kTimeOfDay: case kTimeDifference: return 6;
    case kInteger56: case kUnsigned56: return 7;
    case kInteger64: case kUnsigned64: case kReal64: return 8;
    default: return 0;
  }
}

std::string typedBytes(std::int8_t dataType, std::string_view text, char decimalSep) {
  if (isIntegerType(dataType)) {
    return littleEndian(static_cast<std::uint64_t>(typedValue64(dataType, text)), fixedSize(dataType));
  }
  if (dataType == kReal32 || dataType == kReal64) return realBytes(dataType, text, decimalSep);
  if (dataType == kVisibleString) return std::string(text);
  if (dataType == kUnicodeString) {
    if (auto wide = utf8ToUtf16le(text)) return *wide;
    refuse(text, "is not a valid UTF-8 text");
  }
  if (isByteType(dataType)) return hexBytes(dataType, text);
  refuse(text, "cannot be written: the object's data type is unknown");
}

std::string entryBytes(const ObjectEntry& e) {
  if (isIntegerType(e.dataType)) return littleEndian(static_cast<std::uint64_t>(integerOf(e)), fixedSize(e.dataType));
  if (e.dataType == kReal32) return littleEndian(std::bit_cast<std::uint32_t>(static_cast<float>(e.realValue)), 4);
  if (e.dataType == kReal64) return littleEndian(std::bit_cast<std::uint64_t>(e.realValue), 8);
  if (e.dataType == kUnicodeString) return utf8ToUtf16le(e.textValue).value_or(std::string());
  if (e.dataType == kVisibleString || (isByteType(e.dataType) && e.dataType != kDomain)) return e.textValue;
  return {};  // DOMAIN: the entry holds only its first bytes
}

void storeValueBytes(ObjectEntry& e, std::string_view bytes, std::size_t totalSize) {
  const std::size_t size = fixedSize(e.dataType);
  if (isWideInteger(e.dataType)) {
    e.value64 = integerFrom(e.dataType, bytes, size);
  } else if (isIntegerType(e.dataType)) {
    e.value = static_cast<std::int32_t>(integerFrom(e.dataType, bytes, e.dataType == kBoolean ? 1 : size));
  } else if (e.dataType == kReal32) {
    e.realValue = std::bit_cast<float>(static_cast<std::uint32_t>(loadLittleEndian(bytes, 4)));
  } else if (e.dataType == kReal64) {
    e.realValue = std::bit_cast<double>(loadLittleEndian(bytes, 8));
  } else if (e.dataType == kUnicodeString) {
    e.textValue = utf16leToUtf8(bytes);
  } else if (e.dataType == kDomain) {
    e.value64 = static_cast<std::int64_t>(totalSize);
    e.textValue.assign(bytes.substr(0, kDomainShownBytes));
  } else if (e.dataType == kVisibleString || isByteType(e.dataType)) {
    e.textValue.assign(bytes);
  }
}

std::string editText(const ObjectEntry& e, char decimalSep) {
  if (isIntegerType(e.dataType)) {
    const std::int64_t v = integerOf(e);
    if (e.dataType == kUnsigned64) return std::to_string(static_cast<std::uint64_t>(v));
    return std::to_string(v);
  }
  if (e.dataType == kReal32 || e.dataType == kReal64) return formatReal(e.realValue, decimalSep);
  // A DOMAIN longer than the bytes its entry holds starts empty: its start alone is no value.
  if (e.dataType == kDomain && static_cast<std::uint64_t>(e.value64) > e.textValue.size()) return {};
  if (isByteType(e.dataType)) return hexPairsText(e.textValue, " ");
  return e.textValue;
}

}  // namespace bp::od
