#include "support/FrameText.h"

#include <cstdio>
#include <stdexcept>

namespace bp::test {

namespace {
int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  throw std::invalid_argument("bad hex digit in frame text");
}
}  // namespace

can::CanFrame frame(std::string_view text) {
  const auto hash = text.find('#');
  if (hash == std::string_view::npos || hash == 0) throw std::invalid_argument("frame text needs ID#DATA");
  can::CanFrame f;
  for (char c : text.substr(0, hash)) f.id = f.id * 16 + static_cast<std::uint32_t>(hexDigit(c));
  std::string_view rest = text.substr(hash + 1);
  if (rest == "R" || rest == "r") {
    f.type = can::kMsgRemote;
    return f;
  }
  std::string digits;
  for (char c : rest)
    if (c != '.') digits.push_back(c);
  if (digits.size() % 2 != 0 || digits.size() > 16) throw std::invalid_argument("bad frame data");
  f.len = static_cast<std::uint8_t>(digits.size() / 2);
  for (std::size_t i = 0; i < f.len; ++i)
    f.data[i] = static_cast<std::uint8_t>(hexDigit(digits[2 * i]) * 16 + hexDigit(digits[2 * i + 1]));
  return f;
}

std::string frameText(const can::CanFrame& f) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%03X#", f.id);
  if (f.type == can::kMsgRemote) {
    std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), "R");
    return buf;
  }
  std::string s(buf);
  for (std::size_t i = 0; i < f.len && i < 8; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", f.data[i]);
    s += buf;
  }
  if (f.type != can::kMsgData && f.type != can::kMsgRemote) s += "/type" + std::to_string(f.type);
  return s;
}

std::string norm(std::string_view text) { return frameText(frame(text)); }

}  // namespace bp::test
