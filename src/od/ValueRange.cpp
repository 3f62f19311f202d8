#include "od/ValueRange.h"

#include <cstdio>

#include "od/ObjectEntry.h"
#include "od/ValueText.h"
#include "util/Error.h"

namespace bp::od {
namespace {

struct Range {
  std::string_view name;
  unsigned bits;
  bool isSigned;

  std::int64_t lowest() const { return isSigned ? -(std::int64_t{1} << (bits - 1)) : 0; }
  std::int64_t highest() const {
    return isSigned ? (std::int64_t{1} << (bits - 1)) - 1 : (std::int64_t{1} << bits) - 1;
  }
  std::uint64_t widest() const { return (std::uint64_t{1} << bits) - 1; }
};

// By data type code, BOOLEAN (1) to UNSIGNED32 (7).
constexpr Range kRanges[] = {{"BOOLEAN", 1, false},    {"INTEGER8", 8, true},    {"INTEGER16", 16, true},
                             {"INTEGER32", 32, true},  {"UNSIGNED8", 8, false},  {"UNSIGNED16", 16, false},
                             {"UNSIGNED32", 32, false}};

const Range* rangeOf(std::int8_t dataType) noexcept {
  if (dataType < kBoolean || dataType > kUnsigned32) return nullptr;
  return &kRanges[dataType - kBoolean];
}

std::string outOfRange(const Range& r, std::string_view shown, bool pattern) {
  char bounds[64];
  if (pattern) {
    std::snprintf(bounds, sizeof bounds, " (0x0 to 0x%llX)", static_cast<unsigned long long>(r.widest()));
  } else {
    std::snprintf(bounds, sizeof bounds, " (%lld to %lld)", static_cast<long long>(r.lowest()),
                  static_cast<long long>(r.highest()));
  }
  std::string text(shown);
  text += " is out of range for ";
  text += r.name;
  text += bounds;
  return text;
}

// Unsigned values above 2147483647 as their 32-bit pattern.
std::int32_t stored(std::int64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

}  // namespace

std::string_view dataTypeName(std::int8_t dataType) noexcept {
  const Range* r = rangeOf(dataType);
  return r != nullptr ? r->name : std::string_view{};
}

std::int32_t typedValue(std::int8_t dataType, std::string_view text) {
  const Range* r = rangeOf(dataType);
  if (r == nullptr) return integerText(text);
  const IntegerParts parts = integerParts(text);
  const std::string_view shown = text.substr(text.find_first_not_of(' '));
  const auto magnitude = static_cast<std::int64_t>(parts.magnitude);
  if (parts.hex && !parts.negative) {
    if (parts.magnitude > r->widest()) throw Error(outOfRange(*r, shown, true));
    const bool topBit = r->isSigned && (parts.magnitude >> (r->bits - 1)) != 0;
    return stored(topBit ? magnitude - (std::int64_t{1} << r->bits) : magnitude);
  }
  const std::int64_t number = parts.negative ? -magnitude : magnitude;
  if (number < r->lowest() || number > r->highest()) throw Error(outOfRange(*r, shown, false));
  return stored(number);
}

std::optional<std::string> storedValueError(std::int8_t dataType, std::int32_t value) {
  const Range* r = rangeOf(dataType);
  if (r == nullptr) return std::nullopt;
  const std::int64_t number =
      r->isSigned ? std::int64_t{value} : std::int64_t{static_cast<std::uint32_t>(value)};
  if (number >= r->lowest() && number <= r->highest()) return std::nullopt;
  return outOfRange(*r, std::to_string(number), false);
}

}  // namespace bp::od
