#include "od/ValueText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "util/Error.h"

namespace bp::od {
namespace {

int hexDigit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// "-2 (0xFFFFFFFFFFFFFFFE)": value64 as a signed or unsigned number by the type, then its
// 64-bit pattern.
std::string wideIntegerText(const ObjectEntry& e) {
  const auto bits = static_cast<unsigned long long>(static_cast<std::uint64_t>(e.value64));
  char buf[48];
  if (isSignedInteger(e.dataType)) {
    std::snprintf(buf, sizeof buf, "%lld (0x%llX)", static_cast<long long>(e.value64), bits);
  } else {
    std::snprintf(buf, sizeof buf, "%llu (0x%llX)", bits, bits);
  }
  return buf;
}

// "<size> bytes: 01 02 03 ...": a read DOMAIN's size (value64) and first bytes (textValue), with
// " ..." when it has more; empty before it was read.
std::string domainText(const ObjectEntry& e) {
  if (e.value64 == 0 && e.textValue.empty()) return {};
  std::string text = std::to_string(e.value64) + " bytes";
  if (e.textValue.empty()) return text;
  text += ": ";
  text += hexPairsText(e.textValue, " ");
  if (static_cast<std::uint64_t>(e.value64) > e.textValue.size()) text += " ...";
  return text;
}

std::string quotedMessage(std::string_view text, std::string_view tail) {
  std::string m;
  m.reserve(text.size() + tail.size() + 2);
  m += '\'';
  m += text;
  m += '\'';
  m += tail;
  return m;
}

}  // namespace

bool tryIntegerParts(std::string_view text, IntegerParts& out) noexcept {
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n && text[i] == ' ') ++i;  // only the space, not tabs
  bool negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= n) return false;

  bool hex = false;
  if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') {
    hex = true;
    i += 1;
  } else if (text[i] == '0' && i + 1 < n && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;  // empty digits, or a lone prefix

  const std::uint64_t base = hex ? 16 : 10;
  std::uint64_t magnitude = 0;
  bool beyond64 = false;
  for (; i < n; ++i) {
    const int d = hex ? hexDigit(text[i]) : (isDigit(text[i]) ? text[i] - '0' : -1);
    if (d < 0) return false;
    const auto digit = static_cast<std::uint64_t>(d);
    if (beyond64 || magnitude > (UINT64_MAX - digit) / base) {
      beyond64 = true;
      magnitude = UINT64_MAX;
    } else {
      magnitude = magnitude * base + digit;
    }
  }
  out = {negative, hex, magnitude, beyond64};
  return true;
}

IntegerParts integerParts(std::string_view text) {
  IntegerParts parts;
  if (!tryIntegerParts(text, parts)) throw bp::Error(quotedMessage(text, " is not a valid integer value"));
  return parts;
}

bool tryIntegerText(std::string_view text, std::int32_t& out) noexcept {
  IntegerParts p;
  if (!tryIntegerParts(text, p)) return false;
  // Hexadecimal: a 32-bit two's-complement pattern, a sign negates that pattern. Decimal: the
  // signed 32-bit range.
  const std::uint64_t limit = p.hex ? 0xFFFFFFFFull : (p.negative ? 2147483648ull : 2147483647ull);
  if (p.magnitude > limit) return false;
  const auto bits = static_cast<std::uint32_t>(p.magnitude);
  out = static_cast<std::int32_t>(p.negative ? 0u - bits : bits);
  return true;
}

std::int32_t integerText(std::string_view text) {
  std::int32_t v = 0;
  if (!tryIntegerText(text, v)) {
    throw bp::Error(quotedMessage(text, " is not a valid integer value"));
  }
  return v;
}

namespace {

// The parts of a real number's text: sign, digits before and after the separator, exponent.
struct RealParts {
  bool negative = false;
  std::string_view intDigits;
  std::string_view fracDigits;
  bool expNegative = false;
  std::string_view expDigits;
};

// Splits the text by the rule of realText; false where it is not such a number.
bool splitReal(std::string_view text, char decimalSep, RealParts& p) noexcept {
  const std::size_t n = text.size();
  std::size_t i = 0;
  const auto digitsFrom = [&](std::size_t begin) {
    while (i < n && isDigit(text[i])) ++i;
    return text.substr(begin, i - begin);
  };
  const auto sign = [&](bool& negative) {
    if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  };
  while (i < n && text[i] == ' ') ++i;
  sign(p.negative);
  p.intDigits = digitsFrom(i);
  if (i < n && text[i] == decimalSep) p.fracDigits = digitsFrom(++i);
  if (p.intDigits.empty() && p.fracDigits.empty()) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    sign(p.expNegative);
    p.expDigits = digitsFrom(i);
    if (p.expDigits.empty()) return false;
  }
  while (i < n && text[i] == ' ') ++i;
  return i == n;
}

// Whether a number that from_chars found out of range lies beyond the largest double (true) or
// below the smallest (false): by the power of ten of its first significant digit. Reading stops
// once the power is far beyond any double either way, whatever the number of leading digits or
// zeros in the mantissa (at most the text's length) shifts it by.
bool beyondLargest(const RealParts& p, std::size_t textSize) noexcept {
  const long cap = 100000 + static_cast<long>(textSize);
  long exp10 = 0;
  for (char d : p.expDigits) {
    exp10 = exp10 * 10 + (d - '0');
    if (exp10 > cap) break;
  }
  if (p.expNegative) exp10 = -exp10;
  long lead = 0;
  const std::size_t firstInt = p.intDigits.find_first_not_of('0');
  if (firstInt != std::string_view::npos) {
    lead = static_cast<long>(p.intDigits.size() - firstInt) - 1;
  } else {
    const std::size_t firstFrac = p.fracDigits.find_first_not_of('0');
    lead = -static_cast<long>(firstFrac == std::string_view::npos ? 0 : firstFrac + 1);
  }
  return exp10 + lead >= 0;
}

}  // namespace

bool tryRealText(std::string_view text, char decimalSep, double& out) noexcept {
  RealParts p;
  if (!splitReal(text, decimalSep, p)) return false;
  // Rewrite in the C form that from_chars reads; it never consults the locale.
  std::string c;
  c.reserve(p.intDigits.size() + p.fracDigits.size() + p.expDigits.size() + 4);
  c += p.intDigits;
  c += '.';
  c += p.fracDigits;
  if (!p.expDigits.empty()) {
    c += 'e';
    if (p.expNegative) c += '-';
    c += p.expDigits;
  }
  double magnitude = 0.0;
  const auto r = std::from_chars(c.data(), c.data() + c.size(), magnitude, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    if (beyondLargest(p, text.size())) return false;
    magnitude = 0.0;  // below the smallest double: reads as zero
  } else if (r.ec != std::errc() || r.ptr != c.data() + c.size()) {
    return false;
  }
  out = p.negative ? -magnitude : magnitude;
  return true;
}

double realText(std::string_view text, char decimalSep) {
  double v = 0.0;
  if (!tryRealText(text, decimalSep, v)) {
    throw bp::Error(quotedMessage(text, " is not a valid floating point value"));
  }
  return v;
}

std::string formatReal(double value, char decimalSep) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0.0) return "0";

  // 15 significant digits, correctly rounded: "-d.ddddddddddddddde+XX".
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  const std::string_view sci(buf, static_cast<std::size_t>(r.ptr - buf));
  const bool negative = sci.front() == '-';
  const std::size_t first = negative ? 1 : 0;
  const std::size_t ePos = sci.find('e');
  std::string digits;
  digits += sci[first];
  digits += sci.substr(first + 2, ePos - (first + 2));
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const int exp10 = std::atoi(std::string(sci.substr(ePos + 1)).c_str());

  std::string out;
  if (negative) out += '-';
  if (exp10 >= -4 && exp10 < 15) {
    if (exp10 >= 0) {
      const std::size_t intLen = static_cast<std::size_t>(exp10) + 1;
      if (digits.size() <= intLen) {
        out += digits;
        out.append(intLen - digits.size(), '0');
      } else {
        out += digits.substr(0, intLen);
        out += decimalSep;
        out += digits.substr(intLen);
      }
    } else {
      out += '0';
      out += decimalSep;
      out.append(static_cast<std::size_t>(-exp10 - 1), '0');
      out += digits;
    }
  } else {
    out += digits[0];
    if (digits.size() > 1) {
      out += decimalSep;
      out += digits.substr(1);
    }
    char e[16];
    std::snprintf(e, sizeof e, "E%d", exp10);
    out += e;
  }
  return out;
}

std::string hexPairsText(std::string_view bytes, std::string_view separator) {
  std::string out;
  out.reserve(bytes.size() * (2 + separator.size()));
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += separator;
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 0xF];
  }
  return out;
}

bool tryHexPairs(std::string_view text, std::string& out) {
  std::string bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return false;
    const int high = hexDigit(text[i]);
    const int low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high * 16 + low);
    i += 2;
  }
  out = std::move(bytes);
  return true;
}

std::string FormatObjectValue(const ObjectEntry& entry, char decimalSep) {
  char buf[40];
  switch (entry.dataType) {
    case kBoolean:
    case kInteger8:
    case kInteger16:
    case kInteger32:
      std::snprintf(buf, sizeof buf, "%d (0x%X)", static_cast<int>(entry.value),
                    static_cast<unsigned>(static_cast<std::uint32_t>(entry.value)));
      return buf;
    case kUnsigned8:
    case kUnsigned16:
    case kUnsigned32: {
      const auto bits = static_cast<unsigned>(static_cast<std::uint32_t>(entry.value));
      std::snprintf(buf, sizeof buf, "%u (0x%X)", bits, bits);
      return buf;
    }
    case kReal32:
    case kReal64:
      return formatReal(entry.realValue, decimalSep);
    case kVisibleString:
    case kUnicodeString:
      return entry.textValue;
    case kOctetString:
      return hexPairsText(entry.textValue, " ");
    case kDomain:
      return domainText(entry);
    default:
      return isWideInteger(entry.dataType) ? wideIntegerText(entry) : std::string();
  }
}

std::string FormatNodeCaption(const ObjectEntry& entry, char decimalSep) {
  char prefix[32];
  if (entry.subIndex == -1 || (entry.subIndex == 0 && entry.next == nullptr)) {
    std::snprintf(prefix, sizeof prefix, "0x%04X ",
                  static_cast<unsigned>(static_cast<std::uint32_t>(entry.index)));
  } else {
    std::snprintf(prefix, sizeof prefix, "Sub 0x%02X ",
                  static_cast<unsigned>(static_cast<std::uint32_t>(entry.subIndex)));
  }
  std::string caption = prefix;
  caption += entry.nameText();
  if (entry.subIndex < 0 || entry.access == kWriteOnly) return caption;
  caption += " = ";
  caption += FormatObjectValue(entry, decimalSep);
  return caption;
}

}  // namespace bp::od
