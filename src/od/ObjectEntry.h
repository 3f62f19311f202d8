#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/Utf8.h"

namespace bp::od {

inline constexpr std::size_t kNameSize = 300;         // at most 299 bytes + terminator
inline constexpr std::size_t kDefaultTextSize = 256;  // at most 255 bytes + terminator

// CANopen data type codes used by the tool.
enum DataType : std::int8_t {
  kTypeNone = 0,
  kBoolean = 1,
  kInteger8 = 2,
  kInteger16 = 3,
  kInteger32 = 4,
  kUnsigned8 = 5,
  kUnsigned16 = 6,
  kUnsigned32 = 7,
  kReal32 = 8,
  kVisibleString = 9,
  kOctetString = 10,
  kUnicodeString = 11,
  kTimeOfDay = 12,
  kTimeDifference = 13,
  kDomain = 15,
  kInteger24 = 16,
  kReal64 = 17,
  kInteger40 = 18,
  kInteger48 = 19,
  kInteger56 = 20,
  kInteger64 = 21,
  kUnsigned24 = 22,
  kUnsigned40 = 24,
  kUnsigned48 = 25,
  kUnsigned56 = 26,
  kUnsigned64 = 27,
};

// The integer types whose values live in value64 / defaultValue64 (24 to 64 bits).
constexpr bool isWideInteger(std::int8_t t) noexcept {
  return t == kInteger24 || (t >= kInteger40 && t <= kUnsigned24) || (t >= kUnsigned40 && t <= kUnsigned64);
}

// The signed integer types, of any width.
constexpr bool isSignedInteger(std::int8_t t) noexcept {
  return (t >= kInteger8 && t <= kInteger32) || t == kInteger24 || (t >= kInteger40 && t <= kInteger64);
}

enum Access : std::uint32_t { kReadOnly = 0, kWriteOnly = 1, kReadWrite = 2 };
enum Direction : std::uint8_t { kRead = 0, kWrite = 1 };

// One object or sub-object of the node's object dictionary. Fields in the order the list file
// stores them. A new record has every field zero or empty.
struct ObjectEntry {
  std::array<char, kNameSize> name{};            // zero-terminated, bytes as in the EDS file
  std::uint32_t access = kReadOnly;
  std::int8_t dataType = kTypeNone;              // compared as a signed number
  std::int32_t index = 0;
  std::int32_t subIndex = 0;                     // -1: head of an ARRAY or RECORD
  std::int32_t value = 0;                        // current value of data types 1..7
  double realValue = 0.0;                        // current value of REAL32
  std::string textValue;                         // current value of VISIBLE_STRING
  std::int32_t defaultValue = 0;
  double defaultReal = 0.0;
  std::array<char, kDefaultTextSize> defaultText{};
  ObjectEntry* next = nullptr;                   // next record of the sub-entry chain (not owned)
  std::uint8_t direction = kRead;
  // Beyond the list file's fields:
  std::int64_t value64 = 0;         // current value of the wide integer types (isWideInteger),
                                    // sign-extended for signed types; REAL64 uses realValue
  std::int64_t defaultValue64 = 0;  // their EDS default
  std::string defaultBytes;         // OCTET_STRING default, the bytes (its value is in textValue)
  bool defaultFromNodeId = false;   // the default was "$NODEID+X": X is nodeIdOffset
  std::int64_t nodeIdOffset = 0;

  std::string_view nameText() const noexcept { return {name.data(), textLength(name)}; }
  std::string_view defaultTextView() const noexcept {
    return {defaultText.data(), textLength(defaultText)};
  }
  void setName(std::string_view s) noexcept { copyText(name, s); }
  void setDefaultText(std::string_view s) noexcept { copyText(defaultText, s); }

  template <std::size_t N>
  static std::size_t textLength(const std::array<char, N>& a) noexcept {
    std::size_t n = 0;
    while (n < N && a[n] != '\0') ++n;
    return n;
  }
  // Cuts the text to fit (N - 1 bytes, never inside a UTF-8 character) and zero-fills the rest of
  // the field.
  template <std::size_t N>
  static void copyText(std::array<char, N>& a, std::string_view s) noexcept {
    a.fill('\0');
    const std::size_t n = utf8CutLength(s, N - 1);
    for (std::size_t i = 0; i < n; ++i) a[i] = s[i];
  }
};

}  // namespace bp::od
