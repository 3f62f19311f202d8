// Values typed in their data type's form, as the bytes a download sends, and back.
#include "od/ValueEncoding.h"

#include <gtest/gtest.h>

#include "od/ValueText.h"
#include "util/Error.h"
#include "util/Utf8.h"

namespace bp::od {
namespace {

TEST(TypedBytes, EachTypeInItsOwnForm) {
  struct Row {
    std::int8_t type;
    const char* text;
    const char* hex;  // expected bytes, or nullptr with `error`
    const char* error;
  };
  const Row rows[] = {
      {kUnsigned16, "0x1234", "34 12", nullptr},
      {kInteger8, "-1", "FF", nullptr},
      {kInteger24, "-2", "FE FF FF", nullptr},
      {kUnsigned64, "18446744073709551615", "FF FF FF FF FF FF FF FF", nullptr},
      {kInteger64, "-9223372036854775808", "00 00 00 00 00 00 00 80", nullptr},
      {kUnsigned8, "256", nullptr, "256 is out of range for UNSIGNED8 (0 to 255)"},
      {kReal32, "1,5", "00 00 C0 3F", nullptr},
      {kReal64, "-2", "00 00 00 00 00 00 00 C0", nullptr},
      {kReal32, "1E39", nullptr, "'1E39' is out of range for REAL32"},
      {kReal64, "1.5", nullptr, "'1.5' is not a valid floating point value"},
      {kVisibleString, "Drive 7", "44 72 69 76 65 20 37", nullptr},
      {kUnicodeString, "A\xE2\x82\xAC", "41 00 AC 20", nullptr},
      {kUnicodeString, "\xF0\x9F\x98\x80", "3D D8 00 DE", nullptr},
      {kUnicodeString, "\xC3", nullptr, "'\xC3' is not a valid UTF-8 text"},
      {kOctetString, "01 02 ab", "01 02 AB", nullptr},
      {kOctetString, "012", nullptr, "'012' is not a list of hexadecimal byte pairs"},
      {kTimeOfDay, "01 02", nullptr, "'01 02' is not 6 bytes"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    try {
      EXPECT_EQ(hexPairsText(typedBytes(r.type, r.text, ','), " "), r.hex != nullptr ? r.hex : "refused");
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), r.error != nullptr ? r.error : "accepted");
    }
  }
}

TEST(TypedBytes, TheEditorsTextOfAValueSendsTheValuesBytesAndStoresBack) {
  ObjectEntry e;
  const auto check = [&e](std::int8_t type) {
    e.dataType = type;
    SCOPED_TRACE(editText(e, ','));
    const std::string bytes = entryBytes(e);
    EXPECT_EQ(typedBytes(type, editText(e, ','), ','), bytes);
    ObjectEntry back;
    back.dataType = type;
    storeValueBytes(back, bytes, bytes.size());
    EXPECT_EQ(entryBytes(back), bytes);
    EXPECT_EQ(entryBytes(e).size(), fixedSize(type) != 0 ? fixedSize(type) : entryBytes(e).size());
  };
  e.value = -7;
  check(kInteger16);
  e.value = -1;  // 0xFFFFFFFF
  check(kUnsigned32);
  e.value64 = -5;
  check(kInteger40);
  e.value64 = -1;
  check(kUnsigned64);
  e.realValue = 0.1;
  check(kReal64);
  e.realValue = 3.25;
  check(kReal32);
  e.textValue = "Gr\xC3\xBC\xC3\x9F" "e";
  check(kUnicodeString);
  EXPECT_EQ(utf16leToUtf8(entryBytes(e)), e.textValue);
  e.textValue = std::string("\x00\xFF\x10", 3);
  check(kOctetString);

  ObjectEntry domain;
  domain.dataType = kDomain;
  storeValueBytes(domain, std::string(20, '\x5A'), 65536);
  EXPECT_EQ(domain.value64, 65536);
  EXPECT_EQ(domain.textValue.size(), kDomainShownBytes);
  EXPECT_EQ(editText(domain, ','), "");  // only its start is known
  storeValueBytes(domain, "\x01\x02", 2);
  EXPECT_EQ(editText(domain, ','), "01 02");
}

TEST(TypedBytes, Utf16FromANodeReadsEvenWhenBroken) {
  EXPECT_EQ(utf16leToUtf8(std::string("\x3D\xD8\x00\xDE", 4)), "\xF0\x9F\x98\x80");
  EXPECT_EQ(utf16leToUtf8(std::string("\x00\xD8\x41\x00", 4)), "\xEF\xBF\xBD" "A");  // lone surrogate
  EXPECT_EQ(utf16leToUtf8(std::string("\x41\x00\x42", 3)), "A");                       // odd last byte
  EXPECT_EQ(utf16leToUtf8(std::string("\x41\x00\x00\x00\x42\x00", 6)), "A");           // terminator
}

}  // namespace
}  // namespace bp::od
