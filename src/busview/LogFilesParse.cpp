#include "busview/LogFilesParse.h"

#include <cctype>
#include <cstdio>

#include "util/Error.h"

namespace bp::busview::logparse {
namespace {

bool isBlank(char c) noexcept { return c == ' ' || c == '\t'; }

int digitValue(char c, int base) noexcept {
  int v = 99;
  if (c >= '0' && c <= '9') v = c - '0';
  else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
  return v < base ? v : -1;
}

constexpr std::uint32_t kMaxStandardId = 0x7FF;
constexpr std::uint32_t kMaxExtendedId = 0x1FFFFFFF;

}  // namespace

void requireText(std::string_view text, const char* formatName) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != '\f')
      throw Error(std::string("Not a ") + formatName + ": it is not text.");
  }
  if (trimmed(text).empty()) throw Error(std::string("Not a ") + formatName + ": the file is empty.");
}

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isBlank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !isBlank(line[i])) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

std::string_view trimmed(std::string_view text) noexcept {
  const auto blank = [](char c) { return isBlank(c) || c == '\r' || c == '\n' || c == '\f'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) noexcept {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

std::optional<std::uint32_t> parseNumber(std::string_view digits, int base) noexcept {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : digits) {
    const int d = digitValue(c, base);
    if (d < 0) return std::nullopt;
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<std::uint64_t> parseScaled(std::string_view text, int fractionDigits) noexcept {
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
  if (whole.empty() || whole.size() > 12) return std::nullopt;  // below 10^18 with 6 fraction digits
  std::uint64_t value = 0;
  for (const char c : whole) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  for (const char c : fraction)
    if (c < '0' || c > '9') return std::nullopt;
  for (std::size_t i = 0; i < static_cast<std::size_t>(fractionDigits); ++i)
    value = value * 10 + (i < fraction.size() ? static_cast<unsigned>(fraction[i] - '0') : 0);
  return value;
}

std::string makeFrame(const FrameFields& in, can::CanFrame& out) {
  char id[16];
  std::snprintf(id, sizeof id, in.extended ? "%08X" : "%03X", static_cast<unsigned>(in.id));
  if (!in.extended && in.id > kMaxStandardId) return "identifier " + std::string(id) + " is more than 11 bits";
  if (in.extended && in.id > kMaxExtendedId) return "identifier " + std::string(id) + " is more than 29 bits";
  if (in.length > 8) return "data length " + std::to_string(in.length) + " is more than 8 bytes";
  if (!in.remote && in.bytes.size() != in.length)
    return std::to_string(in.length) + " data bytes announced, " + std::to_string(in.bytes.size()) + " found";
  can::CanFrame f;
  f.id = in.id;
  f.type = static_cast<std::uint8_t>((in.extended ? can::kMsgExtended : 0) | (in.remote ? can::kMsgRemote : 0));
  f.len = static_cast<std::uint8_t>(in.length);
  for (std::size_t i = 0; i < in.bytes.size() && !in.remote; ++i) {
    const std::string_view b = in.bytes[i];
    const auto v = b.size() <= (in.base == 16 ? 2U : 3U) ? parseNumber(b, in.base) : std::nullopt;
    if (!v || *v > 0xFF) return "data byte \"" + std::string(b) + "\" is not a byte in " + (in.base == 16 ? "hex" : "decimal");
    f.data[i] = static_cast<std::uint8_t>(*v);
  }
  out = f;
  return {};
}

void ResultBuilder::frame(std::uint64_t absoluteUs, const can::CanFrame& f, Direction d) {
  m_recognised = true;
  if (!m_firstUs) m_firstUs = absoluteUs;
  const std::uint64_t t = absoluteUs >= *m_firstUs ? absoluteUs - *m_firstUs : 0;
  m_result.frames.push_back(TraceFrame{t, f, d});
}

void ResultBuilder::problem(std::size_t line, std::string_view text) {
  if (m_result.problems.size() < kMaxLogProblems)
    m_result.problems.push_back("line " + std::to_string(line) + ": " + std::string(text));
  else
    ++m_moreProblems;
}

LogReadResult ResultBuilder::finish(const char* formatName, const char* shape) {
  if (!m_recognised) throw Error(std::string("Not a ") + formatName + ": no line has the form " + shape + ".");
  if (m_moreProblems > 0) m_result.problems.push_back(std::to_string(m_moreProblems) + " more lines skipped");
  return std::move(m_result);
}

}  // namespace bp::busview::logparse
