#include "nmt/RxPdo.h"

#include <limits>

#include "can/DriverErrors.h"
#include "nmt/NmtFrames.h"
#include "util/Error.h"

namespace bp::nmt {
namespace {

constexpr std::string_view kSeparators = " ,;";

// White space as the C library's isspace sees it in the "C" locale.
constexpr bool isBlank(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Value of c as a digit of any base up to 16, or 16 when it is none.
constexpr int digitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 16;
}

}  // namespace

std::int32_t cStyleInteger(std::string_view token) noexcept {
  std::size_t i = 0;
  while (i < token.size() && isBlank(token[i])) ++i;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';

  int base = 10;
  if (i < token.size() && token[i] == '0') {
    // "0x" counts as a prefix only when a hexadecimal digit follows; otherwise the number is the
    // lone "0" and the "x" is the first character that does not fit.
    if (i + 2 < token.size() && (token[i + 1] == 'x' || token[i + 1] == 'X') &&
        digitValue(token[i + 2]) < 16) {
      base = 16;
      i += 2;
    } else {
      base = 8;
    }
  }

  // Accumulate the magnitude, saturating just above the largest one that can matter.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < token.size(); ++i) {
    const int d = digitValue(token[i]);
    if (d >= base) break;
    magnitude = magnitude * base + d;
    if (magnitude > kLimit) magnitude = kLimit;
  }
  const std::int64_t v = negative ? -magnitude : magnitude;
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(v);  // -kLimit is exactly the int32 minimum
}

std::vector<std::string_view> splitRxPdoTokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  std::size_t pos = 0;
  while (true) {
    const std::size_t begin = text.find_first_not_of(kSeparators, pos);
    if (begin == std::string_view::npos) break;
    const std::size_t end = text.find_first_of(kSeparators, begin);
    tokens.push_back(text.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (end == std::string_view::npos) break;
    pos = end;
  }
  return tokens;
}

can::CanFrame rxPdoFrame(std::string_view text, int pdoItem, std::int32_t nodeId) {
  if (pdoItem < 0 || pdoItem >= static_cast<int>(kRpdoBase.size())) throw Error(kNoRxPdoSelected);
  can::CanFrame f{};
  f.id = kRpdoBase[static_cast<std::size_t>(pdoItem)] + static_cast<std::uint32_t>(nodeId);
  f.type = can::kMsgData;
  const auto tokens = splitRxPdoTokens(text);
  const std::size_t n = tokens.size() < kMaxPdoBytes ? tokens.size() : kMaxPdoBytes;
  for (std::size_t k = 0; k < n; ++k) {
    f.data[k] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(cStyleInteger(tokens[k])) & 0xFF);
  }
  f.len = static_cast<std::uint8_t>(n);
  return f;
}

void sendRxPdo(can::CanDriver& driver, std::string_view text, int pdoItem, std::int32_t nodeId) {
  const can::CanFrame f = rxPdoFrame(text, pdoItem, nodeId);
  if (!isValidNodeId(nodeId)) return;
  if (const std::uint32_t result = driver.write(f); result != can::kOk) {
    throw Error(can::sendErrorMessage(result));
  }
}

}  // namespace bp::nmt
