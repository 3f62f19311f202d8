// Value texts and tree captions of object records.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "od/ValueText.h"

namespace bp::od {
namespace {

ObjectEntry entry(std::int8_t type, std::int32_t value) {
  ObjectEntry e;
  e.dataType = type;
  e.value = value;
  return e;
}

// The wide integer types show value64; every row sets value to its low 32 bits and value64 to all.
struct TypedRow {
  const char* name;
  std::int8_t type;
  std::int64_t value;
  const char* text;
};
constexpr TypedRow kTyped[] = {
    {"BOOLEAN signed", kBoolean, 1, "1 (0x1)"},
    {"INTEGER8 -1 shows the 32-bit pattern", kInteger8, -1, "-1 (0xFFFFFFFF)"},
    {"INTEGER16 -2", kInteger16, -2, "-2 (0xFFFFFFFE)"},
    {"INTEGER32 lowest", kInteger32, INT32_MIN, "-2147483648 (0x80000000)"},
    {"UNSIGNED8 128", kUnsigned8, 128, "128 (0x80)"},
    {"UNSIGNED16 zero", kUnsigned16, 0, "0 (0x0)"},
    {"UNSIGNED32 -1 is 4294967295", kUnsigned32, -1, "4294967295 (0xFFFFFFFF)"},
    {"UNSIGNED32 0x191", kUnsigned32, 0x191, "401 (0x191)"},
    {"INTEGER24 -2 shows the 64-bit pattern", kInteger24, -2, "-2 (0xFFFFFFFFFFFFFFFE)"},
    {"INTEGER56 positive", kInteger56, 0x123456789A, "78187493530 (0x123456789A)"},
    {"INTEGER64 lowest", kInteger64, INT64_MIN, "-9223372036854775808 (0x8000000000000000)"},
    {"UNSIGNED40 beyond 32 bits", kUnsigned40, 0x100000000, "4294967296 (0x100000000)"},
    {"UNSIGNED64 all ones", kUnsigned64, -1, "18446744073709551615 (0xFFFFFFFFFFFFFFFF)"},
    {"no data type", kTypeNone, 5, ""},
    {"DOMAIN not read", kDomain, 0, ""},
    {"TIME_OF_DAY", kTimeOfDay, 5, ""},
    {"TIME_DIFFERENCE", kTimeDifference, 5, ""},
    {"negative code", -128, 5, ""},
};

TEST(FormatObjectValue, IntegerTypesSignedAndUnsigned) {
  for (const auto& r : kTyped) {
    SCOPED_TRACE(r.name);
    ObjectEntry e = entry(r.type, static_cast<std::int32_t>(r.value));
    e.value64 = r.value;
    EXPECT_EQ(FormatObjectValue(e, '.'), r.text);
  }
}

TEST(FormatObjectValue, DomainShowsItsSizeAndFirstBytes) {
  ObjectEntry e = entry(kDomain, 0);
  e.value64 = 3;
  e.textValue = std::string("\x01\x02\xAB", 3);
  EXPECT_EQ(FormatObjectValue(e, '.'), "3 bytes: 01 02 AB");
  e.value64 = 70000;
  EXPECT_EQ(FormatObjectValue(e, '.'), "70000 bytes: 01 02 AB ...");
  e.textValue.clear();
  EXPECT_EQ(FormatObjectValue(e, '.'), "70000 bytes");
}

TEST(FormatObjectValue, StringsShowTextValue) {
  ObjectEntry e = entry(kVisibleString, 7);
  e.textValue = std::string("Node-X \xE9 1.0", 12);
  e.setDefaultText("other");
  EXPECT_EQ(FormatObjectValue(e, '.'), e.textValue);
  e.dataType = kUnicodeString;
  EXPECT_EQ(FormatObjectValue(e, '.'), e.textValue);
  e.dataType = kOctetString;
  e.textValue = std::string("\x01\x02\xAB\x00", 4);
  EXPECT_EQ(FormatObjectValue(e, '.'), "01 02 AB 00");
  e.textValue.clear();
  EXPECT_EQ(FormatObjectValue(e, '.'), "");
}

TEST(FormatObjectValue, RealsUseRealValueAndTheGivenSeparator) {
  for (std::int8_t type : {kReal32, kReal64}) {
    ObjectEntry e = entry(type, 99);
    e.realValue = 25.5;
    e.defaultReal = 1.0;
    EXPECT_EQ(FormatObjectValue(e, '.'), "25.5");
    EXPECT_EQ(FormatObjectValue(e, ','), "25,5");
  }
}

TEST(HexPairs, TextAndBytes) {
  EXPECT_EQ(hexPairsText(std::string("\x00\x0F\xF0", 3), ""), "000FF0");
  struct Row {
    const char* text;
    bool ok;
    std::string bytes;
  };
  const Row rows[] = {
      {"0102AB", true, "\x01\x02\xAB"},
      {" 01 02  ab ", true, "\x01\x02\xAB"},
      {"010", false, ""},
      {"0 1", false, ""},
      {"0x01", false, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    std::string out = "kept";
    EXPECT_EQ(tryHexPairs(r.text, out), r.ok);
    EXPECT_EQ(out, r.ok ? r.bytes : "kept");
  }
}

struct RealRow {
  const char* name;
  double value;
  const char* text;
};
const RealRow kRealTexts[] = {
    {"zero", 0.0, "0"},
    {"negative zero", -0.0, "0"},
    {"integer without separator", 42.0, "42"},
    {"trailing zeros dropped", 2.50, "2.5"},
    {"negative", -0.125, "-0.125"},
    {"1E-4 is still plain", 0.0001, "0.0001"},
    {"just below 1E-4 is scientific", 0.00009, "9E-5"},
    {"1E-5", 1e-5, "1E-5"},
    {"below 1E15 is plain", 999999999999999.0, "999999999999999"},
    {"1E15 is scientific", 1e15, "1E15"},
    {"rounding up to 1E15 makes it scientific", 999999999999999.9, "1E15"},
    {"1.5E20", 1.5e20, "1.5E20"},
    {"negative exponent mantissa", -2.25e-7, "-2.25E-7"},
    {"15 significant digits", 1.0 / 3.0, "0.333333333333333"},
    {"float widened shows its binary value", static_cast<double>(0.1f), "0.100000001490116"},
    {"large exponent without leading zeros", 1e300, "1E300"},
    {"smallest subnormal", 4.9406564584124654e-324, "4.94065645841247E-324"},
    {"plain with zeros before the separator", 123000.0, "123000"},
    {"not a number", std::numeric_limits<double>::quiet_NaN(), "NAN"},
    {"infinity", std::numeric_limits<double>::infinity(), "INF"},
    {"negative infinity", -std::numeric_limits<double>::infinity(), "-INF"},
};

TEST(FormatReal, GeneralNotationFifteenDigits) {
  for (const auto& r : kRealTexts) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(formatReal(r.value, '.'), r.text);
  }
  EXPECT_EQ(formatReal(1.5e20, ','), "1,5E20");
  EXPECT_EQ(formatReal(0.0001, ','), "0,0001");
}

TEST(FormatReal, TextReadsBackToTheSameFifteenDigits) {
  for (double v : {25.5, -1234.5678, 6.02214076e23, 1.602176634e-19, 0.0001}) {
    SCOPED_TRACE(v);
    EXPECT_DOUBLE_EQ(realText(formatReal(v, ','), ','), v);
  }
}

ObjectEntry named(std::int32_t index, std::int32_t subIndex, std::int8_t type, std::uint32_t access,
                  std::int32_t value) {
  ObjectEntry e = entry(type, value);
  e.index = index;
  e.subIndex = subIndex;
  e.access = access;
  e.setName("Name");
  return e;
}

TEST(FormatNodeCaption, PrefixIndexOrSubIndex) {
  ObjectEntry follower = named(0x1018, 1, kUnsigned32, kReadOnly, 0);
  ObjectEntry head = named(0x1018, -1, kTypeNone, kReadOnly, 0);
  EXPECT_EQ(FormatNodeCaption(head, '.'), "0x1018 Name");
  head.next = &follower;
  EXPECT_EQ(FormatNodeCaption(head, '.'), "0x1018 Name") << "a composite head never shows a value";

  ObjectEntry plain = named(0x1000, 0, kUnsigned32, kReadOnly, 0x191);
  EXPECT_EQ(FormatNodeCaption(plain, '.'), "0x1000 Name = 401 (0x191)");

  ObjectEntry sub0 = named(0x1018, 0, kUnsigned8, kReadOnly, 4);
  sub0.next = &follower;
  EXPECT_EQ(FormatNodeCaption(sub0, '.'), "Sub 0x00 Name = 4 (0x4)");
  sub0.next = nullptr;  // last of its chain: shows the index instead
  EXPECT_EQ(FormatNodeCaption(sub0, '.'), "0x1018 Name = 4 (0x4)");

  EXPECT_EQ(FormatNodeCaption(follower, '.'), "Sub 0x01 Name = 0 (0x0)");
  ObjectEntry highSub = named(0x1600, 0x1A, kUnsigned32, kReadWrite, 0x60400010);
  EXPECT_EQ(FormatNodeCaption(highSub, '.'), "Sub 0x1A Name = 1614807056 (0x60400010)");
  ObjectEntry smallIndex = named(0x10, 0, kUnsigned8, kReadOnly, 1);
  EXPECT_EQ(FormatNodeCaption(smallIndex, '.'), "0x0010 Name = 1 (0x1)");
}

TEST(FormatNodeCaption, WriteOnlyHasNoValuePart) {
  EXPECT_EQ(FormatNodeCaption(named(0x2200, 0, kUnsigned8, kWriteOnly, 3), '.'), "0x2200 Name");
  EXPECT_EQ(FormatNodeCaption(named(0x2200, 0, kUnsigned8, kReadOnly, 3), '.'),
            "0x2200 Name = 3 (0x3)");
  EXPECT_EQ(FormatNodeCaption(named(0x2200, 0, kUnsigned8, kReadWrite, 3), '.'),
            "0x2200 Name = 3 (0x3)");
}

TEST(FormatNodeCaption, TypeWithoutValueTextEndsWithEquals) {
  EXPECT_EQ(FormatNodeCaption(named(0x2500, 0, kDomain, kReadOnly, 3), '.'), "0x2500 Name = ");
  EXPECT_EQ(FormatNodeCaption(named(0x2500, 0, kTypeNone, kReadOnly, 3), '.'), "0x2500 Name = ");
}

TEST(FormatNodeCaption, RealWithLocaleSeparator) {
  ObjectEntry e = named(0x2100, 0, kReal32, kReadOnly, 0);
  e.realValue = 25.5;
  EXPECT_EQ(FormatNodeCaption(e, ','), "0x2100 Name = 25,5");
}

TEST(FormatNodeCaption, LongestNameIsKept) {
  ObjectEntry e = named(0x2000, -1, kTypeNone, kReadOnly, 0);
  e.setName(std::string(400, 'n'));
  EXPECT_EQ(FormatNodeCaption(e, '.'), "0x2000 " + std::string(kNameSize - 1, 'n'));
}

}  // namespace
}  // namespace bp::od
