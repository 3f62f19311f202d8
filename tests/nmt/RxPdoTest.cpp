// The RxPDO sender: token splitting, C-style number conversion, the frame and the send error.
#include "nmt/RxPdo.h"

#include <string>

#include <gtest/gtest.h>

#include "can/DriverErrors.h"
#include "support/ErrorText.h"
#include "support/FakeDriver.h"
#include "support/FrameText.h"
#include "util/Error.h"

namespace bp::nmt {
namespace {

struct TokenRow {
  const char* token;
  std::int32_t value;
  std::uint8_t byte;
};
constexpr TokenRow kTokens[] = {
    {"0x1F", 31, 0x1F},
    {"0X1f", 31, 0x1F},
    {"31", 31, 0x1F},
    {"037", 31, 0x1F},          // leading 0: octal
    {"-1", -1, 0xFF},
    {"256", 256, 0x00},
    {"0x1FF", 0x1FF, 0xFF},
    {"08", 0, 0x00},            // octal number that stops at the 8
    {"12abc", 12, 0x0C},        // stops at the first letter
    {"abc", 0, 0x00},           // no digits
    {"0", 0, 0x00},
    {"0x", 0, 0x00},            // prefix without digits: the lone 0
    {"0xg1", 0, 0x00},
    {"-", 0, 0x00},
    {"+7", 7, 0x07},
    {"-0x10", -16, 0xF0},
    {"\t42", 42, 0x2A},         // leading white space is skipped
    {"2147483647", 2147483647, 0xFF},
    {"2147483648", 2147483647, 0xFF},   // held at the upper limit
    {"99999999999", 2147483647, 0xFF},
    {"0xFFFFFFFF", 2147483647, 0xFF},
    {"-2147483648", -2147483647 - 1, 0x00},
    {"-2147483649", -2147483647 - 1, 0x00},  // held at the lower limit
    {"-99999999999999999999999", -2147483647 - 1, 0x00},
};

TEST(CStyleInteger, AutomaticBaseStopAndClamp) {
  for (const auto& c : kTokens) {
    SCOPED_TRACE(c.token);
    EXPECT_EQ(cStyleInteger(c.token), c.value);
    EXPECT_EQ(rxPdoFrame(c.token, 0, 5).data[0], c.byte);
  }
}

TEST(CStyleInteger, AgreesWithStrtolInsideTheRange) {
  for (const char* t : {"0x7fffffff", "0777", "-0777", "123456", "0x0", "007", "1e5", "0x1g"}) {
    SCOPED_TRACE(t);
    EXPECT_EQ(cStyleInteger(t), static_cast<std::int32_t>(std::strtol(t, nullptr, 0)));
  }
}

TEST(CStyleInteger, ReadsOnlyTheViewNotBeyondIt) {
  const std::string text = "12345";
  EXPECT_EQ(cStyleInteger(std::string_view(text).substr(0, 2)), 12);
}

using Tokens = std::vector<std::string_view>;

TEST(SplitRxPdoTokens, SeparatorRunsAndEnds) {
  EXPECT_EQ(splitRxPdoTokens("1 2 3"), (Tokens{"1", "2", "3"}));
  EXPECT_EQ(splitRxPdoTokens("0x10;0x20"), (Tokens{"0x10", "0x20"}));
  EXPECT_EQ(splitRxPdoTokens(",,1 ;; 2,"), (Tokens{"1", "2"}));
  EXPECT_EQ(splitRxPdoTokens("1,,2"), (Tokens{"1", "2"}));
  EXPECT_EQ(splitRxPdoTokens("1 ; 2"), (Tokens{"1", "2"}));
  EXPECT_EQ(splitRxPdoTokens("a\tb"), (Tokens{"a\tb"}));  // a tab is no separator
  EXPECT_TRUE(splitRxPdoTokens("").empty());
  EXPECT_TRUE(splitRxPdoTokens(" ,; ;, ").empty());
}

TEST(SplitRxPdoTokens, WholeLongTextIsSplit) {
  std::string text;
  while (text.size() < 10 * 1024) text += "0x01, ";
  text += "7";
  const auto tokens = splitRxPdoTokens(text);
  ASSERT_EQ(tokens.size(), (10 * 1024 + 5) / 6 + 1);
  EXPECT_EQ(tokens.back(), "7");
}

struct FrameRow {
  const char* name;
  const char* text;
  int item;
  std::int32_t node;
  const char* frame;
};
constexpr FrameRow kFrames[] = {
    {"initial text, PDO1, node 5", "0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00", 0, 5,
     "205#00.00.00.00.00.00.00.00"},
    {"blank-separated, PDO2", "1 2 3", 1, 5, "305#01.02.03"},
    {"semicolon, PDO3", "0x10;0x20", 2, 5, "405#10.20"},
    {"PDO4 node 127", "1", 3, 127, "57F#01"},
    {"PDO1 node 0", "0xAB", 0, 0, "200#AB"},
    {"ten values keep the first eight", "1 2 3 4 5 6 7 8 9 10", 0, 5,
     "205#01.02.03.04.05.06.07.08"},
    {"separator runs and ends", ",,1 ;; 2,", 0, 5, "205#01.02"},
    {"non-numbers send zero", "abc x 12abc", 0, 5, "205#00.00.0C"},
    {"empty text: length 0", "", 0, 5, "205#"},
    {"separators only: length 0", " ;, ", 1, 5, "305#"},
};

TEST(RxPdoFrame, IdentifierLengthAndBytes) {
  for (const auto& c : kFrames) {
    SCOPED_TRACE(c.name);
    const can::CanFrame f = rxPdoFrame(c.text, c.item, c.node);
    EXPECT_EQ(test::frameText(f), test::norm(c.frame));
    EXPECT_EQ(f, test::frame(c.frame));  // bytes past the length and the padding are 0
  }
}

TEST(RxPdoFrame, TenKilobyteTextSendsItsFirstEightValues) {
  std::string text;
  for (int i = 1; text.size() < 10 * 1024; ++i) text += std::to_string(i % 200) + " ";
  EXPECT_EQ(rxPdoFrame(text, 0, 5), test::frame("205#01.02.03.04.05.06.07.08"));
}

TEST(RxPdoFrame, NoPdoSelectedIsRefused) {
  for (int item : {-1, 4}) {
    SCOPED_TRACE(item);
    EXPECT_EQ(test::errorOf([&] { (void)rxPdoFrame("1", item, 5); }), "No receive PDO selected");
  }
}

TEST(RxPdoSend, WritesTheFrame) {
  test::FakeDriver driver;
  sendRxPdo(driver, "1 2 3", 1, 5);
  const auto w = driver.written();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], test::frame("305#01.02.03"));
}

TEST(RxPdoSend, FailedWriteRaisesTheDriverCode) {
  test::FakeDriver driver;
  for (std::uint32_t code : {1u, 128u, 0x80000000u}) {
    driver.writeResult = code;
    EXPECT_EQ(test::errorOf([&] { sendRxPdo(driver, "1", 0, 5); }),
              "Error sending message, errorcode = " + std::to_string(code));
  }
  EXPECT_EQ(driver.written().size(), 3u);  // tried once each, never retried
}

TEST(SendErrorMessage, UnsignedDecimal) {
  EXPECT_EQ(can::sendErrorMessage(128), "Error sending message, errorcode = 128");
  EXPECT_EQ(can::sendErrorMessage(0xFFFFFFFFu), "Error sending message, errorcode = 4294967295");
}

}  // namespace
}  // namespace bp::nmt
