// Fuzz target: the number and PDO text conversions a user types into the window.
// Input: byte 0 picks the PDO selector item (-1 .. 4), byte 1 is the node ID (signed), the rest is
// the text. Every conversion runs on the same text.
//
// Invariants: only bp::Error escapes, with the documented message; the throwing and the
// non-throwing forms agree; results match the C library where its rule is the same; a real result
// is finite and survives formatReal; an RxPDO frame carries at most eight bytes and nothing past
// its length.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "nmt/GuardSync.h"
#include "nmt/RxPdo.h"
#include "od/ValueText.h"
#include "util/Error.h"

namespace {

using bp::fuzz::check;

// what() is a C string: a message ends at a NUL of the text it quotes.
bool sameMessage(const char* what, const std::string& expected) {
  return std::string_view(what) == std::string_view(expected.c_str());
}

void checkInteger(std::string_view text) {
  std::int32_t tried = 12345;
  const bool ok = bp::od::tryIntegerText(text, tried);
  std::int32_t thrown = 0;
  bool threw = false;
  try {
    thrown = bp::od::integerText(text);
  } catch (const bp::Error& e) {
    threw = true;
    check(sameMessage(e.what(), "'" + std::string(text) + "' is not a valid integer value"),
          "integerText message", e.what());
  }
  check(ok != threw, "integerText and tryIntegerText disagree on failure", text);
  if (!ok) {
    check(tried == 12345, "tryIntegerText changed its output on failure", text);
    return;
  }
  check(tried == thrown, "integerText and tryIntegerText disagree on the value", text);

  // The C library reads the same accepted forms: decimal, or hexadecimal after the prefix.
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::string_view digits = text.substr(i);
  int base = 10;
  if (!digits.empty() && (digits[0] == '$' || digits[0] == 'x' || digits[0] == 'X')) {
    digits.remove_prefix(1);
    base = 16;
  } else if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  const std::string d(digits);
  char* end = nullptr;
  errno = 0;
  const unsigned long long magnitude = std::strtoull(d.c_str(), &end, base);
  check(errno == 0 && end == d.c_str() + d.size() && !d.empty(), "accepted integer text the C library rejects", text);
  std::uint32_t expected = static_cast<std::uint32_t>(magnitude);
  if (negative) expected = 0u - expected;
  check(static_cast<std::uint32_t>(tried) == expected, "integerText value", text);
  if (base == 10) {
    check(negative ? magnitude <= 2147483648ull : magnitude <= 2147483647ull, "decimal out of range accepted", text);
  } else {
    check(magnitude <= 0xFFFFFFFFull, "hexadecimal beyond 32 bits accepted", text);
  }
}

double checkReal(std::string_view text, char sep, bool& ok) {
  double tried = 0.5;
  ok = bp::od::tryRealText(text, sep, tried);
  double thrown = 0.0;
  bool threw = false;
  try {
    thrown = bp::od::realText(text, sep);
  } catch (const bp::Error& e) {
    threw = true;
    check(sameMessage(e.what(), "'" + std::string(text) + "' is not a valid floating point value"),
          "realText message", e.what());
  }
  check(ok != threw, "realText and tryRealText disagree on failure", text);
  if (!ok) {
    check(tried == 0.5, "tryRealText changed its output on failure", text);
    return 0.0;
  }
  check(std::isfinite(tried), "realText gave a number beyond the double range", text);
  check(tried == thrown || (std::isnan(tried) && std::isnan(thrown)), "realText values differ", text);

  // The accepted grammar is a subset of strtod's (with the separator turned into '.').
  std::string c(text);
  for (char& ch : c) {
    if (ch == sep) ch = '.';
  }
  const double reference = std::strtod(c.c_str(), nullptr);
  if (reference == 0.0 || std::fabs(reference) >= 2.2250738585072014e-308) {
    check(tried == reference, "realText differs from strtod", text);
  } else {
    check(tried == 0.0 || tried == reference, "realText of a subnormal value", text);
  }

  // The display text reads back as nearly the same number.
  const std::string shown = bp::od::formatReal(tried, sep);
  check(!shown.empty(), "formatReal gave an empty text", text);
  if (std::fabs(tried) < 1e308) {
    double back = 0.0;
    check(bp::od::tryRealText(shown, sep, back), "formatReal text does not read back", shown);
    const double scale = std::fabs(tried) > 1.0 ? std::fabs(tried) : 1.0;
    check(std::fabs(back - tried) <= 1e-14 * scale || (std::fabs(tried) < 1e-300),
          "formatReal text reads back as another number", shown);
  }
  return tried;
}

void checkPeriod(std::string_view text, char sep, bool realOk, double real) {
  std::int32_t period = -1;
  bool threw = false;
  try {
    period = bp::nmt::periodFromText(text, sep);
  } catch (const bp::Error& e) {
    threw = true;
    check(sameMessage(e.what(), "'" + std::string(text) + "' is not a valid floating point value"),
          "periodFromText message", e.what());
  }
  check(threw != realOk, "periodFromText fails unlike realText", text);
  if (threw) return;
  check(period >= 0, "negative period", text);
  if (real <= 0.0) {
    check(period == 0, "period of a non-positive number", text);
  } else if (real >= 2147483647.0) {
    check(period == INT32_MAX, "period beyond the int32 range not held", text);
  } else {
    check(period == static_cast<std::int32_t>(std::trunc(real)), "period not cut toward zero", text);
  }
}

void checkCStyle(std::string_view token) {
  const std::int32_t v = bp::nmt::cStyleInteger(token);
  // strtoll with base 0 follows the same rule; a NUL ends its text where ours stops at a non-digit.
  const std::string s(token);
  const long long reference = std::strtoll(s.c_str(), nullptr, 0);
  const long long held = reference > INT32_MAX ? INT32_MAX : reference < INT32_MIN ? INT32_MIN : reference;
  check(v == held, "cStyleInteger differs from strtoll", token);
}

void checkRxPdo(std::string_view text, int pdoItem, std::int32_t nodeId) {
  const auto tokens = bp::nmt::splitRxPdoTokens(text);
  for (std::string_view t : tokens) {
    check(!t.empty() && t.find_first_of(" ,;") == std::string_view::npos, "token with a separator", t);
    checkCStyle(t);
  }
  bp::can::CanFrame f{};
  try {
    f = bp::nmt::rxPdoFrame(text, pdoItem, nodeId);
  } catch (const bp::Error& e) {
    check(pdoItem < 0 || pdoItem > 3, "rxPdoFrame failed with a PDO selected", e.what());
    check(std::string_view(e.what()) == bp::nmt::kNoRxPdoSelected, "rxPdoFrame message", e.what());
    return;
  }
  check(pdoItem >= 0 && pdoItem <= 3, "rxPdoFrame without a PDO selected");
  check(f.len <= 8, "RxPDO frame longer than 8 bytes");
  check(f.len == (tokens.size() < 8 ? tokens.size() : 8), "RxPDO length is not the token count");
  check(f.type == bp::can::kMsgData, "RxPDO frame is no data frame");
  check(f.id == bp::nmt::kRpdoBase[static_cast<std::size_t>(pdoItem)] + static_cast<std::uint32_t>(nodeId),
        "RxPDO identifier");
  for (std::size_t k = 0; k < 8; ++k) {
    const std::uint8_t expected =
        k < f.len ? static_cast<std::uint8_t>(bp::nmt::cStyleInteger(tokens[k])) : 0;
    check(f.data[k] == expected, "RxPDO data byte");
  }
  check(f.pad[0] == 0 && f.pad[1] == 0, "RxPDO trailing bytes not zero");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int pdoItem = static_cast<int>(data[0] % 6) - 1;
  const std::int32_t nodeId = static_cast<std::int8_t>(data[1]);
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

  checkInteger(text);
  for (const char sep : {'.', ','}) {
    bool ok = false;
    const double real = checkReal(text, sep, ok);
    checkPeriod(text, sep, ok, real);
  }
  checkCStyle(text);
  checkRxPdo(text, pdoItem, nodeId);
  return 0;
}
