#include "od/EdsReader.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

#include "od/ValueText.h"
#include "util/FileIo.h"

namespace bp::od {
namespace {

constexpr std::size_t kMaxValueLength = 1000;

std::string lineMessage(int line) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Error reading EDS File\nLine: %d", line);
  return buf;
}

char lowerAscii(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Leading and trailing blanks and control characters (every byte up to the space) removed.
std::string_view trimmed(std::string_view s) noexcept {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// The whole key, lower-cased, equals `lowerKey`.
bool keyIs(std::string_view key, std::string_view lowerKey) noexcept {
  if (key.size() != lowerKey.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (lowerAscii(key[i]) != lowerKey[i]) return false;
  }
  return true;
}

// 0-based position of the first "sub" in any letter case, or npos.
std::size_t findSub(std::string_view s) noexcept {
  for (std::size_t i = 0; i + 3 <= s.size(); ++i) {
    if (lowerAscii(s[i]) == 's' && lowerAscii(s[i + 1]) == 'u' && lowerAscii(s[i + 2]) == 'b') {
      return i;
    }
  }
  return std::string_view::npos;
}

// Characters from 1-based position `from` to `to` inclusive; empty when the range runs backwards.
std::string_view span1(std::string_view s, std::ptrdiff_t from, std::ptrdiff_t to) noexcept {
  if (from < 1 || to < from || static_cast<std::size_t>(to) > s.size()) return {};
  return s.substr(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(to - from + 1));
}

// Section names hold hexadecimal digits without a prefix.
std::int32_t hexOfName(std::string_view digits) {
  std::string text = "0x";
  text += digits;
  return integerText(text);
}

void applyKey(ObjectEntry& e, std::string_view key, std::string_view value, char decimalSep) {
  if (keyIs(key, "parametername")) {
    e.setName(StripQuotes(value));
  } else if (keyIs(key, "datatype")) {
    e.dataType = static_cast<std::int8_t>(static_cast<std::uint32_t>(integerText(value)) & 0xFFu);
  } else if (keyIs(key, "objecttype")) {
    const std::int32_t n = integerText(value);
    if (n == 9 || n == 8) e.subIndex = -1;
  } else if (keyIs(key, "accesstype")) {
    e.access = ParseAccessType(value);
  } else if (keyIs(key, "defaultvalue")) {
    // Interpreted by the data type read so far in this section.
    if (e.dataType <= 7) {
      std::int32_t n = 0;
      if (tryIntegerText(value, n)) {  // "$NODEID+0x180" and the like are passed over
        e.defaultValue = n;
        e.value = n;
      }
    } else if (e.dataType == 8) {
      const double r = realText(value, decimalSep);
      e.defaultReal = r;
      e.realValue = r;
    } else if (e.dataType == 9) {
      e.setDefaultText(StripQuotes(value));
      e.textValue = std::string(e.defaultTextView());  // the text as stored, cut to fit
    }
  }
}

int lineNumber(std::ptrdiff_t cursor) noexcept {
  return cursor >= INT_MAX ? INT_MAX : static_cast<int>(cursor + 1);
}

}  // namespace

EdsReadError::EdsReadError(int line) : bp::Error(lineMessage(line)), m_line(line) {}

std::vector<std::string_view> splitEdsLines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  lines.reserve(static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1);
  std::size_t start = 0;
  const std::size_t n = bytes.size();
  while (start < n) {
    std::size_t p = start;
    while (p < n && bytes[p] != '\r' && bytes[p] != '\n') ++p;
    lines.push_back(bytes.substr(start, p - start));
    if (p >= n) break;
    p += (bytes[p] == '\r' && p + 1 < n && bytes[p + 1] == '\n') ? 2 : 1;
    start = p;
  }
  return lines;
}

void ReadEDSSection(const std::vector<std::string_view>& lines, std::ptrdiff_t& cursor,
                    ObjectDictionary& dictionary, char decimalSep) {
  auto entry = std::make_unique<ObjectEntry>();
  const auto count = static_cast<std::ptrdiff_t>(lines.size());

  // Header: "[" index "]" or "[" index "sub" sub-index "]", all hexadecimal.
  const std::string_view header = trimmed(lines[static_cast<std::size_t>(cursor)]);
  const std::size_t subAt = findSub(header);
  const std::size_t closeAt = header.find(']');
  const std::ptrdiff_t s =
      subAt == std::string_view::npos ? 0 : static_cast<std::ptrdiff_t>(subAt) + 1;
  const std::ptrdiff_t c =
      closeAt == std::string_view::npos ? 0 : static_cast<std::ptrdiff_t>(closeAt) + 1;
  if (s > 0) {
    entry->subIndex = hexOfName(span1(header, s + 3, c - 1));
    entry->index = hexOfName(span1(header, 2, s - 1));
  } else {
    entry->subIndex = 0;
    entry->index = hexOfName(span1(header, 2, c - 1));
  }

  ++cursor;
  bool endedByHeader = false;
  while (cursor < count) {
    const std::string_view line = trimmed(lines[static_cast<std::size_t>(cursor)]);
    if (!line.empty() && line.front() == '[') {
      endedByHeader = true;
      break;
    }
    const std::size_t eq = line.find('=');
    if (eq != std::string_view::npos) {
      // The key is not trimmed: "DataType = 7" carries the key "datatype " and matches nothing.
      applyKey(*entry, line.substr(0, eq), line.substr(eq + 1, kMaxValueLength), decimalSep);
    }
    ++cursor;
  }

  dictionary.AddObjectEntry(std::move(entry));
  cursor = endedByHeader ? cursor - 1 : count - 1;
}

void ReadEDSText(std::string_view bytes, ObjectDictionary& dictionary, char decimalSep) {
  const std::vector<std::string_view> lines = splitEdsLines(bytes);
  if (lines.empty()) throw EdsReadError(1);

  const auto count = static_cast<std::ptrdiff_t>(lines.size());
  std::ptrdiff_t cursor = 0;
  try {
    while (cursor < count) {
      // Untrimmed: an indented header, or one whose index begins with a letter, is no section.
      const std::string_view line = lines[static_cast<std::size_t>(cursor)];
      if (line.size() >= 2 && line[0] == '[' && line[1] >= '0' && line[1] <= '9') {
        ReadEDSSection(lines, cursor, dictionary, decimalSep);
      }
      ++cursor;
    }
  } catch (const bp::Error&) {
    throw EdsReadError(lineNumber(cursor));
  }
}

void ReadEDSFile(const std::string& fileName, ObjectDictionary& dictionary, char decimalSep) {
  std::vector<std::uint8_t> bytes;
  try {
    bytes = fileio::File::openForReading(fileName).readAll();
  } catch (const fileio::SystemError&) {
    throw EdsReadError(1);  // missing, a directory, an I/O failure
  }
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  ReadEDSText(text, dictionary, decimalSep);
}

std::uint32_t ParseAccessType(std::string_view text) {
  std::string lower(text);
  for (char& ch : lower) ch = lowerAscii(ch);
  if (lower.find("ro") != std::string::npos) return kReadOnly;
  if (lower.find("rw") != std::string::npos) return kReadWrite;
  if (lower.find("wo") != std::string::npos) return kWriteOnly;
  if (lower.find("const") != std::string::npos) return kReadOnly;
  return kReadWrite;
}

std::string StripQuotes(std::string_view text) {
  if (text.size() >= 2 && text.front() == '"') return std::string(text.substr(1, text.size() - 2));
  return std::string(text);
}

}  // namespace bp::od
