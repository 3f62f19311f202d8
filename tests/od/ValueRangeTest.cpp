// Typed and stored values against the range of their data type: typedValue, storedValueError.
#include "od/ValueRange.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "od/ObjectEntry.h"
#include "util/Error.h"

namespace bp::od {
namespace {

struct TypedRow {
  std::int8_t type;
  const char* text;
  std::int32_t value;  // stored value where accepted
  const char* error;   // nullptr where accepted
};
constexpr TypedRow kTyped[] = {
    {kBoolean, "0", 0, nullptr},
    {kBoolean, "1", 1, nullptr},
    {kBoolean, "2", 0, "2 is out of range for BOOLEAN (0 to 1)"},
    {kBoolean, "0x2", 0, "0x2 is out of range for BOOLEAN (0x0 to 0x1)"},
    {kInteger8, "-128", -128, nullptr},
    {kInteger8, "127", 127, nullptr},
    {kInteger8, "128", 0, "128 is out of range for INTEGER8 (-128 to 127)"},
    {kInteger8, "-129", 0, "-129 is out of range for INTEGER8 (-128 to 127)"},
    {kInteger8, "0xFF", -1, nullptr},
    {kInteger8, "0x7F", 127, nullptr},
    {kInteger8, "$80", -128, nullptr},
    {kInteger8, "0x100", 0, "0x100 is out of range for INTEGER8 (0x0 to 0xFF)"},
    {kInteger8, "-0x80", -128, nullptr},
    {kInteger8, "-0x81", 0, "-0x81 is out of range for INTEGER8 (-128 to 127)"},
    {kInteger16, "-32768", -32768, nullptr},
    {kInteger16, "32768", 0, "32768 is out of range for INTEGER16 (-32768 to 32767)"},
    {kInteger16, "0xFFFF", -1, nullptr},
    {kInteger16, "0x10000", 0, "0x10000 is out of range for INTEGER16 (0x0 to 0xFFFF)"},
    {kInteger32, "-2147483648", INT32_MIN, nullptr},
    {kInteger32, "2147483647", INT32_MAX, nullptr},
    {kInteger32, "2147483648", 0, "2147483648 is out of range for INTEGER32 (-2147483648 to 2147483647)"},
    {kInteger32, "0xFFFFFFFF", -1, nullptr},
    {kInteger32, "0x100000000", 0, "0x100000000 is out of range for INTEGER32 (0x0 to 0xFFFFFFFF)"},
    {kUnsigned8, "0", 0, nullptr},
    {kUnsigned8, "255", 255, nullptr},
    {kUnsigned8, "300", 0, "300 is out of range for UNSIGNED8 (0 to 255)"},
    {kUnsigned8, "  256", 0, "256 is out of range for UNSIGNED8 (0 to 255)"},
    {kUnsigned8, "-1", 0, "-1 is out of range for UNSIGNED8 (0 to 255)"},
    {kUnsigned8, "x100", 0, "x100 is out of range for UNSIGNED8 (0x0 to 0xFF)"},
    {kUnsigned8, "1F", 0, "'1F' is not a valid integer value"},
    {kUnsigned16, "65535", 65535, nullptr},
    {kUnsigned16, "65536", 0, "65536 is out of range for UNSIGNED16 (0 to 65535)"},
    {kUnsigned32, "2147483648", INT32_MIN, nullptr},
    {kUnsigned32, "4294967295", -1, nullptr},
    {kUnsigned32, "0xFFFFFFFF", -1, nullptr},
    {kUnsigned32, "4294967296", 0, "4294967296 is out of range for UNSIGNED32 (0 to 4294967295)"},
    {kUnsigned32, "99999999999999999999", 0,
     "99999999999999999999 is out of range for UNSIGNED32 (0 to 4294967295)"},
    {kUnsigned32, "-0x1", 0, "-0x1 is out of range for UNSIGNED32 (0 to 4294967295)"},
};

TEST(TypedValue, AcceptsEachTypesRangeAndRefusesBeyondIt) {
  for (const auto& r : kTyped) {
    SCOPED_TRACE(std::string(dataTypeName(r.type)) + " " + r.text);
    try {
      const std::int32_t value = typedValue(r.type, r.text);
      EXPECT_EQ(r.error, nullptr) << "accepted as " << value;
      EXPECT_EQ(value, r.value);
      // What a typed value stores is also a value the list may write.
      EXPECT_EQ(storedValueError(r.type, value), std::nullopt);
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), r.error != nullptr ? r.error : "accepted");
    }
  }
}

TEST(TypedValue, WideIntegersKeepTheirRangeAndSign) {
  struct Row {
    std::int8_t type;
    const char* text;
    std::int64_t value;
    const char* error;
  };
  const Row rows[] = {
      {kInteger64, "-9223372036854775808", INT64_MIN, nullptr},
      {kInteger64, "9223372036854775808", 0,
       "9223372036854775808 is out of range for INTEGER64 (-9223372036854775808 to 9223372036854775807)"},
      {kInteger64, "0xFFFFFFFFFFFFFFFF", -1, nullptr},
      {kUnsigned64, "18446744073709551615", -1, nullptr},
      {kUnsigned64, "18446744073709551616", 0,
       "18446744073709551616 is out of range for UNSIGNED64 (0 to 18446744073709551615)"},
      {kInteger24, "0x800000", -8388608, nullptr},
      {kInteger24, "0x1000000", 0, "0x1000000 is out of range for INTEGER24 (0x0 to 0xFFFFFF)"},
      {kUnsigned40, "-1", 0, "-1 is out of range for UNSIGNED40 (0 to 1099511627775)"},
      {kInteger8, "-129", 0, "-129 is out of range for INTEGER8 (-128 to 127)"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    try {
      EXPECT_EQ(typedValue64(r.type, r.text), r.value);
      EXPECT_EQ(r.error, nullptr);
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), r.error != nullptr ? r.error : "accepted");
    }
  }
}

TEST(TypedValue, TypesWithoutARangeTakeAnyInteger) {
  EXPECT_EQ(typedValue(kReal32, "0x7FFFFFFF"), INT32_MAX);
  EXPECT_EQ(dataTypeName(kReal32), "");
  EXPECT_EQ(storedValueError(kVisibleString, -5), std::nullopt);
}

TEST(StoredValueError, ReadsTheNumberAsTheEntryShowsIt) {
  struct Row {
    std::int8_t type;
    std::int32_t value;
    const char* error;
  };
  const Row rows[] = {
      {kUnsigned8, 300, "300 is out of range for UNSIGNED8 (0 to 255)"},
      {kUnsigned8, -1, "4294967295 is out of range for UNSIGNED8 (0 to 255)"},
      {kInteger8, 255, "255 is out of range for INTEGER8 (-128 to 127)"},
      {kInteger16, -32769, "-32769 is out of range for INTEGER16 (-32768 to 32767)"},
      {kBoolean, 2, "2 is out of range for BOOLEAN (0 to 1)"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.error);
    EXPECT_EQ(storedValueError(r.type, r.value), std::optional<std::string>(r.error));
  }
}

}  // namespace
}  // namespace bp::od
