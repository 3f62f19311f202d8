// The abort message table and its look-up.
#include "sdo/AbortMessages.h"

#include <gtest/gtest.h>

#include <set>

#include "sdo/SdoProtocol.h"

namespace bp::sdo {
namespace {

struct LookUp {
  const char* name;
  std::uint32_t code;
  std::string_view text;
};

constexpr LookUp kLookUps[] = {
    {"first row", 0x05030000, "Toggle bit not alternated."},
    {"last row, three lines", 0x08000023,
     "Object dictionary dynamic generation fails or no object dictionary is\npresent (e.g. object "
     "dictionary is generated from file and generation fails\nbecause of an file error)."},
    {"two lines", 0x06040042,
     "The number and length of the objects to be mapped would exceed PDO\nlength."},
    {"lower case text", 0x08000000, "general error"},
    {"no full stop", 0x06070010,
     "Data type does not match, length of service parameter does not match"},
    {"zero is unknown", 0, "Unknown error"},
    {"neighbour of a known code is unknown", 0x06020001, "Unknown error"},
    {"all ones is unknown", 0xFFFFFFFF, "Unknown error"},
};

TEST(AbortMessages, LookUpFindsTextOrUnknownError) {
  for (const auto& c : kLookUps) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(lookUpAbortMessage(c.code), c.text);
  }
}

TEST(AbortMessages, TableHas29DistinctCodesInSearchOrder) {
  std::set<std::uint32_t> codes;
  for (const auto& row : kAbortMessages) {
    EXPECT_FALSE(row.text.empty());
    codes.insert(row.code);
    EXPECT_EQ(lookUpAbortMessage(row.code), row.text) << std::hex << row.code;
  }
  EXPECT_EQ(codes.size(), 29u);
  EXPECT_EQ(kAbortMessages[0].code, 0x05030000u);
  EXPECT_EQ(kAbortMessages[28].code, 0x08000023u);
}

TEST(AbortMessages, NamedProtocolCodesHaveTexts) {
  for (std::uint32_t code : {proto::kAbortToggleNotAlternated, proto::kAbortTimedOut,
                             proto::kAbortCommandUnknown, proto::kAbortUnsupportedAccess,
                             proto::kAbortWriteOnly, proto::kAbortReadOnly, proto::kAbortNoObject,
                             proto::kAbortLengthMismatch, proto::kAbortLengthTooHigh,
                             proto::kAbortLengthTooLow, proto::kAbortNoSubIndex,
                             proto::kAbortGeneralError})
    EXPECT_NE(lookUpAbortMessage(code), "Unknown error") << std::hex << code;
}

}  // namespace
}  // namespace bp::sdo
