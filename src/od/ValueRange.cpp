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

  std::uint64_t widest() const { return bits == 64 ? UINT64_MAX : (std::uint64_t{1} << bits) - 1; }
  // The largest magnitude above and below zero.
  std::uint64_t highest() const { return isSigned ? widest() >> 1 : widest(); }
  std::uint64_t lowestMagnitude() const { return isSigned ? (widest() >> 1) + 1 : 0; }
};

// By data type code: BOOLEAN (1) to UNSIGNED32 (7), then INTEGER24 (16) to UNSIGNED64 (27).
constexpr Range kRanges[] = {{"BOOLEAN", 1, false},    {"INTEGER8", 8, true},    {"INTEGER16", 16, true},
                             {"INTEGER32", 32, true},  {"UNSIGNED8", 8, false},  {"UNSIGNED16", 16, false},
                             {"UNSIGNED32", 32, false}};
constexpr Range kWideRanges[] = {
    {"INTEGER24", 24, true},   {"REAL64", 0, false},      {"INTEGER40", 40, true},   {"INTEGER48", 48, true},
    {"INTEGER56", 56, true},   {"INTEGER64", 64, true},   {"UNSIGNED24", 24, false}, {"", 0, false},
    {"UNSIGNED40", 40, false}, {"UNSIGNED48", 48, false}, {"UNSIGNED56", 56, false}, {"UNSIGNED64", 64, false}};

const Range* rangeOf(std::int8_t dataType) noexcept {
  if (dataType >= kBoolean && dataType <= kUnsigned32) return &kRanges[dataType - kBoolean];
  if (isWideInteger(dataType)) return &kWideRanges[dataType - kInteger24];
  return nullptr;
}

std::string outOfRange(const Range& r, std::string_view shown, bool pattern) {
  char bounds[96];
  if (pattern) {
    std::snprintf(bounds, sizeof bounds, " (0x0 to 0x%llX)", static_cast<unsigned long long>(r.widest()));
  } else {
    std::snprintf(bounds, sizeof bounds, " (%s%llu to %llu)", r.isSigned ? "-" : "",
                  static_cast<unsigned long long>(r.lowestMagnitude()),
                  static_cast<unsigned long long>(r.highest()));
  }
  std::string text(shown);
  text += " is out of range for ";
  text += r.name;
  text += bounds;
  return text;
}

// The value of `bits` low bits of `pattern`, sign-extended for a signed type.
std::int64_t valueOf(const Range& r, std::uint64_t pattern) {
  pattern &= r.widest();
  if (r.isSigned && r.bits < 64 && (pattern >> (r.bits - 1)) != 0) pattern |= ~r.widest();
  return static_cast<std::int64_t>(pattern);
}

}  // namespace

std::string_view dataTypeName(std::int8_t dataType) noexcept {
  const Range* r = rangeOf(dataType);
  return r != nullptr && !isWideInteger(dataType) ? r->name : std::string_view{};
}

std::int64_t typedValue64(std::int8_t dataType, std::string_view text) {
  const Range* r = rangeOf(dataType);
  if (r == nullptr) return integerText(text);
  const IntegerParts parts = integerParts(text);
  const std::string_view shown = text.substr(text.find_first_not_of(' '));
  const bool pattern = parts.hex && !parts.negative;
  const std::uint64_t limit = pattern ? r->widest() : parts.negative ? r->lowestMagnitude() : r->highest();
  if (parts.beyond64 || parts.magnitude > limit) throw Error(outOfRange(*r, shown, pattern));
  return valueOf(*r, parts.negative ? ~parts.magnitude + 1 : parts.magnitude);
}

std::int32_t typedValue(std::int8_t dataType, std::string_view text) {
  if (isWideInteger(dataType)) return integerText(text);
  return static_cast<std::int32_t>(typedValue64(dataType, text));
}

std::optional<std::string> storedValueError(std::int8_t dataType, std::int32_t value) {
  const Range* r = rangeOf(dataType);
  if (r == nullptr || isWideInteger(dataType)) return std::nullopt;
  const std::int64_t number =
      r->isSigned ? std::int64_t{value} : std::int64_t{static_cast<std::uint32_t>(value)};
  if (valueOf(*r, static_cast<std::uint64_t>(number)) == number) return std::nullopt;
  return outOfRange(*r, std::to_string(number), false);
}

}  // namespace bp::od
