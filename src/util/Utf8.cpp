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

void putUnit(std::string& out, unsigned unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
}

void putUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
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

std::optional<std::string> utf8ToUtf16le(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t n = characterLength(text, at);
    if (n == 0 || at + n > text.size()) return std::nullopt;
    static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    unsigned cp = static_cast<unsigned char>(text[at]) & kLeadMask[n];
    for (std::size_t i = 1; i < n; ++i) cp = (cp << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    if (cp >= 0x10000) {
      putUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
      putUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      putUnit(out, cp);
    }
    at += n;
  }
  return out;
}

std::string utf16leToUtf8(std::string_view bytes) {
  const auto unitAt = [&](std::size_t i) {
    return static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8);
  };
  std::string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned unit = unitAt(i);
    if (unit == 0) break;  // a terminator ends the text
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      const unsigned low = unitAt(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        putUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    putUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
  }
  return out;
}

}  // namespace bp
