#include "util/Utf8.h"

namespace bp {
namespace {

// The length of the UTF-8 character at text[at] (1 to 4 bytes), or 0 when the bytes there are no
// such character: a stray byte, an overlong form, a surrogate, a code point past U+10FFFF. Only
// the bytes the text holds are looked at: a character the text ends in the middle of counts whole.
std::size_t characterLength(std::string_view text, std::size_t at) noexcept {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t n = 0;
  unsigned char low = 0x80;  // the range of the second byte; later ones are 0x80..0xBF
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < n && at + i < text.size(); ++i) {
    const unsigned char b = byte(at + i);
    if (b < low || b > high) return 0;
    low = 0x80;
    high = 0xBF;
  }
  return n;
}

}  // namespace

std::size_t utf8CutLength(std::string_view text, std::size_t maxBytes) noexcept {
  if (text.size() <= maxBytes) return text.size();
  std::size_t at = 0;
  while (at < maxBytes) {
    const std::size_t n = characterLength(text, at);
    if (n == 0) return maxBytes;     // not UTF-8: cut where it falls
    if (at + n > maxBytes) return at;  // the cut would split this character
    at += n;
  }
  return maxBytes;
}

}  // namespace bp
