#pragma once
// What the three log readers share: lines and blank-separated fields, numbers, the checks of a
// frame, and the result with its problems. Inside the log readers only.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "busview/LogFiles.h"

namespace bp::busview::logparse {

// Throws bp::Error "Not a <formatName>: the file is empty." / "...: it is not text." when the text
// holds no line at all or a control character other than tab, CR, LF and form feed.
void requireText(std::string_view text, const char* formatName);

// Calls fn(lineNumber, line) for each line (LF or CRLF ends a line; numbers from 1).
template <class Fn>
void forEachLine(std::string_view text, Fn&& fn) {
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    fn(++number, line);
  }
}

// The line's fields between blanks (spaces and tabs).
std::vector<std::string_view> fields(std::string_view line);
std::string_view trimmed(std::string_view text) noexcept;
// Whether `text` starts with `prefix`, letters compared without case.
bool startsWithNoCase(std::string_view text, std::string_view prefix) noexcept;

// A number of hex (base 16) or decimal (base 10) digits only, at most 0xFFFFFFFF.
std::optional<std::uint32_t> parseNumber(std::string_view digits, int base) noexcept;
// A decimal number of at most 12 whole digits with an optional fraction ("1059.9",
// "1699999999.123456") times 10^fractionDigits (at most 6), further fraction digits cut off; none
// for anything else.
std::optional<std::uint64_t> parseScaled(std::string_view text, int fractionDigits) noexcept;
// The latest time a log may reach, in microseconds (over 30,000 years): sums of times stop there.
inline constexpr std::uint64_t kMaxTimeUs = 999'999'999'999'999'999;

// An identifier and its data as a log line gives them. `bytes` are single-byte fields in `base`.
struct FrameFields {
  std::uint32_t id = 0;
  bool extended = false;
  bool remote = false;
  unsigned length = 0;
  std::span<const std::string_view> bytes;  // exactly `length` of them for a data frame
  int base = 16;
};
// The frame, or the text of what is wrong with the fields ("data length 9 is more than 8 bytes").
std::string makeFrame(const FrameFields& in, can::CanFrame& out);

// Collects a reader's frames and problems; times are turned relative to the first frame.
class ResultBuilder {
 public:
  explicit ResultBuilder(LogFormat format) { m_result.format = format; }
  void frame(std::uint64_t absoluteUs, const can::CanFrame& f, Direction d);
  void problem(std::size_t line, std::string_view text);
  // A line that is of the format (header, event or frame, even a broken one).
  void recognised() noexcept { m_recognised = true; }
  // The result; throws bp::Error "Not a <formatName>: no line has the form <shape>." when no
  // line was of the format.
  LogReadResult finish(const char* formatName, const char* shape);

 private:
  LogReadResult m_result;
  std::optional<std::uint64_t> m_firstUs;
  std::size_t m_moreProblems = 0;
  bool m_recognised = false;
};

// A reader's frame: the text checked as text, readLine(number, line, state, builder) on each line
// with one State for the whole text, the result (ResultBuilder::finish with `formatName`, `shape`).
template <class State, class ReadLine>
LogReadResult readLines(std::string_view text, LogFormat format, const char* formatName, const char* shape,
                        ReadLine&& readLine) {
  requireText(text, formatName);
  ResultBuilder out(format);
  State state;
  forEachLine(text, [&](std::size_t number, std::string_view line) { readLine(number, line, state, out); });
  return out.finish(formatName, shape);
}

}  // namespace bp::busview::logparse
