// Number conversions of typed and read texts: integerText and realText.
#include <gtest/gtest.h>

#include <string>

#include "od/ValueText.h"
#include "support/ErrorText.h"
#include "util/Error.h"

namespace bp::od {
namespace {

struct IntegerRow {
  const char* name;
  const char* text;
  std::int32_t value;
};
constexpr IntegerRow kIntegers[] = {
    {"0x prefix", "0x1F", 31},
    {"0X prefix", "0X1f", 31},
    {"dollar prefix", "$1F", 31},
    {"x prefix alone", "x1F", 31},
    {"X prefix alone", "X1f", 31},
    {"decimal", "31", 31},
    {"leading spaces skipped", "  31", 31},
    {"plus sign", "+5", 5},
    {"minus with hex", "-0x10", -16},
    {"minus dollar", "-$10", -16},
    {"zero", "0", 0},
    {"minus zero", "-0", 0},
    {"hex 32-bit pattern is two's complement", "0xFFFFFFFF", -1},
    {"hex 0x80000000 is the lowest int", "0x80000000", INT32_MIN},
    {"leading zeros do not count against 32 bits", "0x000000000012", 0x12},
    {"largest decimal", "2147483647", INT32_MAX},
    {"lowest decimal", "-2147483648", INT32_MIN},
    {"decimal leading zeros", "000010", 10},
    {"data type code as written in EDS", "0x0007", 7},
};

TEST(IntegerText, AcceptsPrefixesSignsAndRanges) {
  for (const auto& r : kIntegers) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(integerText(r.text), r.value);
    std::int32_t out = 12345;
    EXPECT_TRUE(tryIntegerText(r.text, out));
    EXPECT_EQ(out, r.value);
  }
}

struct BadRow {
  const char* name;
  const char* text;
};
constexpr BadRow kBadIntegers[] = {
    {"decimal one above the range", "2147483648"},
    {"decimal one below the range", "-2147483649"},
    {"hex beyond 32 bits", "0x100000000"},
    {"trailing space", "31 "},
    {"hex digits without prefix", "1F"},
    {"lone 0x", "0x"},
    {"lone dollar", "$"},
    {"empty", ""},
    {"only spaces", "   "},
    {"space after sign", "- 1"},
    {"lone sign", "-"},
    {"two signs", "--1"},
    {"tab is not skipped", "\t31"},
    {"node-ID expression", "$NODEID+0x180"},
    {"decimal fraction", "1.5"},
    {"stray letter after hex", "0x1G"},
    {"sign after prefix", "0x-1"},
    {"huge decimal", "99999999999999999999999999"},
};

TEST(IntegerText, RefusesMalformedAndOutOfRangeWithWholeText) {
  for (const auto& r : kBadIntegers) {
    SCOPED_TRACE(r.name);
    std::int32_t out = 77;
    EXPECT_FALSE(tryIntegerText(r.text, out));
    EXPECT_EQ(out, 77) << "output touched on failure";
    EXPECT_EQ(test::errorOf([&] { integerText(r.text); }), "'" + std::string(r.text) + "' is not a valid integer value");
  }
}

TEST(IntegerText, NulByteIsAStrayCharacter) {
  const std::string text(
      "12\0"
      "3",
      4);
  std::int32_t out = 0;
  EXPECT_FALSE(tryIntegerText(text, out));
  EXPECT_THROW(integerText(text), bp::Error);
}

struct RealRow {
  const char* name;
  const char* text;
  char sep;
  double value;
};
const RealRow kReals[] = {
    {"point separator", "25.5", '.', 25.5},
    {"comma separator", "25,5", ',', 25.5},
    {"integer", "42", '.', 42.0},
    {"negative", "-0.125", '.', -0.125},
    {"plus sign", "+3", '.', 3.0},
    {"fraction only", ".5", '.', 0.5},
    {"nothing after separator", "5.", '.', 5.0},
    {"exponent", "1.5E3", '.', 1500.0},
    {"lower-case exponent with sign", "2e-2", '.', 0.02},
    {"exponent with plus", "1,25e+2", ',', 125.0},
    {"spaces around", "  7.25  ", '.', 7.25},
    {"largest double", "1.7976931348623157e308", '.', 1.7976931348623157e308},
    {"below the smallest double reads as zero", "1e-999", '.', 0.0},
    {"many digits", "3.14159265358979323846264338327950288", '.', 3.141592653589793},
};

TEST(RealText, AcceptsDigitsSeparatorExponentAndSpaces) {
  for (const auto& r : kReals) {
    SCOPED_TRACE(r.name);
    EXPECT_DOUBLE_EQ(realText(r.text, r.sep), r.value);
  }
}

const BadRow kBadReals[] = {
    {"comma when the separator is a point", "25,5"},
    {"letters", "abc"},
    {"beyond the double range", "1e999"},
    {"negative beyond the range", "-1e400"},
    {"empty", ""},
    {"lone separator", "."},
    {"exponent without digits", "1E"},
    {"exponent sign without digits", "1e+"},
    {"space after sign", "- 1"},
    {"two separators", "1.2.3"},
    {"hex", "0x10"},
    {"trailing letter", "1.5f"},
    {"infinity word", "inf"},
    {"space inside", "1 5"},
};

TEST(RealText, RefusesMalformedWithWholeText) {
  for (const auto& r : kBadReals) {
    SCOPED_TRACE(r.name);
    double out = 9.0;
    EXPECT_FALSE(tryRealText(r.text, '.', out));
    EXPECT_EQ(out, 9.0);
    EXPECT_EQ(test::errorOf([&] { realText(r.text, '.'); }),
              "'" + std::string(r.text) + "' is not a valid floating point value");
  }
}

// A mantissa of many thousand digits shifts the power of ten by as much, so the exponent must be
// read far enough to tell an overflow from an underflow.
TEST(RealText, LongMantissaAndLongExponentKeepTheirRange) {
  const std::string zeros(500000, '0');
  double out = 9.0;
  EXPECT_FALSE(tryRealText("0." + zeros + "1e2500000", '.', out));  // 1e1999999
  EXPECT_EQ(out, 9.0);
  EXPECT_TRUE(tryRealText("0." + zeros + "1e500100", '.', out));  // 1e99
  EXPECT_DOUBLE_EQ(out, 1e99);
  EXPECT_TRUE(tryRealText("1" + zeros + "e-2500000", '.', out));  // 1e-2000000
  EXPECT_EQ(out, 0.0);
  EXPECT_FALSE(tryRealText("1" + zeros + "e-400000", '.', out));  // 1e100000
}

TEST(RealText, PointIsRefusedWhenTheSeparatorIsAComma) {
  EXPECT_THROW(realText("25.5", ','), bp::Error);
  EXPECT_DOUBLE_EQ(realText("25", ','), 25.0);
}

}  // namespace
}  // namespace bp::od
