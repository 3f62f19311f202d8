#include "od/EdsReader.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

#include "od/ValueEncoding.h"
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

bool isHexDigit(char c) noexcept {
  return (c >= '0' && c <= '9') || (lowerAscii(c) >= 'a' && lowerAscii(c) <= 'f');
}

bool startsWithWord(std::string_view s, std::string_view lowerWord) noexcept {
  return s.size() >= lowerWord.size() && keyIs(s.substr(0, lowerWord.size()), lowerWord);
}

// ---- Integer defaults -------------------------------------------------------------------------

// A default of a wide integer type: hexadecimal as a two's-complement pattern (of the type's
// width when it fits there, else of 64 bits), decimal in the type's range.
bool wideIntegerText(std::string_view text, std::int8_t type, std::int64_t& out) noexcept {
  IntegerParts parts;
  if (!tryIntegerParts(text, parts) || parts.beyond64) return false;
  const bool negative = parts.negative;
  const bool hex = parts.hex;
  const std::uint64_t m = parts.magnitude;
  const int bits = 8 * static_cast<int>(fixedSize(type));
  const bool isSigned = isSignedInteger(type);
  const std::uint64_t span = bits == 64 ? UINT64_MAX : (1ull << bits) - 1;
  if (hex) {
    std::uint64_t p = negative ? 0 - m : m;
    if (isSigned && bits < 64 && p <= span && (p >> (bits - 1)) != 0) p |= ~span;  // sign-extend
    const auto v = static_cast<std::int64_t>(p);
    const bool fits = isSigned ? (bits == 64 || (v >= -static_cast<std::int64_t>(span / 2) - 1 &&
                                                 v <= static_cast<std::int64_t>(span / 2)))
                               : p <= span;
    if (!fits) return false;
    out = v;
    return true;
  }
  const std::uint64_t limit = isSigned ? span / 2 + (negative ? 1 : 0) : (negative ? 0 : span);
  if (m > limit) return false;
  out = static_cast<std::int64_t>(negative ? 0 - m : m);
  return true;
}

// A default of data types up to 7 by the integer text rule, except that UNSIGNED8/16/32 take a
// decimal up to the type's maximum (as its bit pattern) and ignore one above it.
bool narrowIntegerText(std::string_view text, std::int8_t type, std::int32_t& out) noexcept {
  IntegerParts p;
  if (!tryIntegerParts(text, p)) return false;
  std::uint64_t limit = p.negative ? 0x80000000u : 0x7FFFFFFFu;
  if (p.hex) limit = 0xFFFFFFFFu;
  else if (!p.negative && type == kUnsigned8) limit = 0xFFu;
  else if (!p.negative && type == kUnsigned16) limit = 0xFFFFu;
  else if (!p.negative && type == kUnsigned32) limit = 0xFFFFFFFFu;
  if (p.magnitude > limit) return false;
  const auto bits = static_cast<std::uint32_t>(p.magnitude);
  out = static_cast<std::int32_t>(p.negative ? 0u - bits : bits);
  return true;
}

// "$NODEID", "$NODEID+X" or "X+$NODEID" (any letter case, blanks around "+"): true with X in
// `offset`. X follows the integer rule of the type.
bool nodeIdOffsetText(std::string_view text, std::int8_t type, std::int64_t& offset) noexcept {
  constexpr std::string_view kWord = "$nodeid";
  text = trimmed(text);
  std::string_view rest;
  if (startsWithWord(text, kWord)) {
    rest = trimmed(text.substr(kWord.size()));
    if (rest.empty()) {
      offset = 0;
      return true;
    }
    if (rest.front() != '+') return false;
    rest = trimmed(rest.substr(1));
  } else if (text.size() > kWord.size() && keyIs(text.substr(text.size() - kWord.size()), kWord)) {
    rest = trimmed(text.substr(0, text.size() - kWord.size()));
    if (rest.empty() || rest.back() != '+') return false;
    rest = trimmed(rest.substr(0, rest.size() - 1));
  } else {
    return false;
  }
  if (isWideInteger(type)) return wideIntegerText(rest, kUnsigned64, offset) ||
                                  wideIntegerText(rest, kInteger64, offset);
  std::int32_t x = 0;
  if (!tryIntegerText(rest, x)) return false;
  offset = x;
  return true;
}

// A cheap first look: "$NODEID..." or "...$NODEID" (the text is trimmed at its end).
bool mayNameNodeId(std::string_view text) noexcept {
  const std::size_t first = text.find_first_not_of(' ');
  return first != std::string_view::npos && (text[first] == '$' || lowerAscii(text.back()) == 'd');
}

// ---- Defaults by data type --------------------------------------------------------------------

struct ReadContext {
  char decimalSep;
  std::uint8_t nodeId;
};

// Reads a DefaultValue text into default and value by the record's data type. False when nothing
// was set (blank text, a text that does not convert, a type without EDS defaults). A REAL32 text
// that does not convert throws bp::Error.
bool applyDefault(ObjectEntry& e, std::string_view value, const ReadContext& ctx) {
  if (trimmed(value).empty()) return false;
  const std::int8_t t = e.dataType;
  if (t <= kUnsigned32 || isWideInteger(t)) {
    std::int64_t offset = 0;
    if (mayNameNodeId(value) && nodeIdOffsetText(value, t, offset)) {
      e.defaultFromNodeId = true;
      e.nodeIdOffset = offset;
      setNodeIdDefault(e, ctx.nodeId);
      return true;
    }
    if (isWideInteger(t)) {
      if (!wideIntegerText(value, t, e.defaultValue64)) return false;
      e.value64 = e.defaultValue64;
    } else {
      if (!narrowIntegerText(value, t, e.defaultValue)) return false;
      e.value = e.defaultValue;
    }
    e.defaultFromNodeId = false;
    e.nodeIdOffset = 0;
    return true;
  }
  switch (t) {
    case kReal32:
      e.defaultReal = realText(value, ctx.decimalSep);
      e.realValue = e.defaultReal;
      return true;
    case kReal64:
      if (!tryRealText(value, ctx.decimalSep, e.defaultReal)) return false;
      e.realValue = e.defaultReal;
      return true;
    case kVisibleString:
    case kUnicodeString:
      e.setDefaultText(StripQuotes(value));
      e.textValue = std::string(e.defaultTextView());  // the text as stored, cut to fit
      return true;
    case kOctetString:
      if (!tryHexPairs(value, e.defaultBytes)) return false;
      e.textValue = e.defaultBytes;
      return true;
    default:
      return false;
  }
}

// The keys of one object section beyond the record's own fields.
struct SectionState {
  std::int32_t objectType = 0;
  std::int32_t compactSubObj = 0;
  std::unique_ptr<ObjectEntry> parameter;  // ParameterValue, read as a default of the type so far
};

void copyValue(const ObjectEntry& from, ObjectEntry& to) {
  to.value = from.value;
  to.value64 = from.value64;
  to.realValue = from.realValue;
  to.textValue = from.textValue;
}

void applyKey(ObjectEntry& e, SectionState& state, std::string_view key, std::string_view value,
              const ReadContext& ctx) {
  if (keyIs(key, "parametername")) {
    e.setName(StripQuotes(value));
  } else if (keyIs(key, "datatype")) {
    e.dataType = static_cast<std::int8_t>(static_cast<std::uint32_t>(integerText(value)) & 0xFFu);
  } else if (keyIs(key, "objecttype")) {
    state.objectType = integerText(value);
    if (state.objectType == 9 || state.objectType == 8) e.subIndex = -1;
  } else if (keyIs(key, "accesstype")) {
    e.access = ParseAccessType(value);
  } else if (keyIs(key, "defaultvalue")) {
    applyDefault(e, value, ctx);  // interpreted by the data type read so far in this section
  } else if (keyIs(key, "parametervalue")) {
    auto read = std::make_unique<ObjectEntry>();
    read->dataType = e.dataType;
    if (applyDefault(*read, value, ctx)) state.parameter = std::move(read);
  } else if (keyIs(key, "compactsubobj")) {
    std::int32_t n = 0;
    state.compactSubObj = tryIntegerText(value, n) && n >= 1 && n <= 254 ? n : 0;
  }
}

// ---- Compact arrays ---------------------------------------------------------------------------

// Sub-index 0 and sub-indices 1..n of a compact array, chained behind its head.
void addCompactEntries(const ObjectEntry& head, std::int32_t n, ObjectDictionary& dictionary) {
  auto count = std::make_unique<ObjectEntry>();
  count->index = head.index;
  count->setName("Number of entries");
  count->dataType = kUnsigned8;
  count->access = kReadOnly;
  count->value = n;
  count->defaultValue = n;
  dictionary.AddObjectEntry(std::move(count));
  for (std::int32_t k = 1; k <= n; ++k) {
    auto sub = std::make_unique<ObjectEntry>(head);
    sub->subIndex = k;
    sub->setName(std::string(head.nameText()) + ' ' + std::to_string(k));
    dictionary.AddObjectEntry(std::move(sub));
  }
}

// "[XXXXName]" and "[XXXXValue]": the k=TEXT lines name sub-index k of a compact array or set
// its value. Other lines, and objects that are no compact array, are passed over.
void applyCompactSection(const std::vector<std::string_view>& lines, std::size_t header, bool names,
                         std::int32_t index, ObjectDictionary& dictionary, const ReadContext& ctx) {
  for (std::size_t i = header + 1; i < lines.size(); ++i) {
    const std::string_view line = trimmed(lines[i]);
    if (!line.empty() && line.front() == '[') return;
    const std::size_t eq = line.find('=');
    std::int32_t k = 0;
    if (eq == std::string_view::npos || !tryIntegerText(trimmed(line.substr(0, eq)), k) || k < 1) continue;
    ObjectEntry* sub = dictionary.find(index, k);
    if (sub == nullptr) continue;
    const std::string_view text = line.substr(eq + 1, kMaxValueLength);
    if (names) {
      sub->setName(StripQuotes(text));
    } else {
      ObjectEntry scratch;
      scratch.dataType = sub->dataType;
      try {
        if (applyDefault(scratch, text, ctx)) copyValue(scratch, *sub);
      } catch (const bp::Error&) {
        // a REAL32 value that does not convert leaves the default
      }
    }
  }
}

// ---- Section headers --------------------------------------------------------------------------

enum class Header { kNone, kObject, kName, kValue, kOther };

// "[" up to four hexadecimal digits "]" and a suffix: an object ("" or "sub" and one or two
// digits), "Name", "Value", "ObjectLinks", "Denotation". An index beginning with a letter must
// have four digits and an object suffix; any other header beginning with a digit is an object
// section (and may be malformed).
Header classifyHeader(std::string_view line, std::int32_t& index) {
  if (line.size() < 2 || line[0] != '[' || !isHexDigit(line[1])) return Header::kNone;
  std::size_t n = 1;
  while (n < line.size() && n <= 4 && isHexDigit(line[n])) ++n;
  const std::size_t close = line.find(']');
  const std::string_view suffix =
      close == std::string_view::npos || close < n ? std::string_view{} : line.substr(n, close - n);
  const bool digitFirst = line[1] <= '9';
  if (close != std::string_view::npos && close >= n) {
    Header kind = Header::kObject;
    if (keyIs(suffix, "name")) kind = Header::kName;
    else if (keyIs(suffix, "value")) kind = Header::kValue;
    else if (keyIs(suffix, "objectlinks") || keyIs(suffix, "denotation")) kind = Header::kOther;
    if (kind != Header::kObject) {
      index = hexOfName(line.substr(1, n - 1));
      return kind;
    }
  }
  if (digitFirst) return Header::kObject;
  const bool objectSuffix =
      suffix.empty() || (suffix.size() >= 4 && suffix.size() <= 5 && startsWithWord(suffix, "sub") &&
                         std::all_of(suffix.begin() + 3, suffix.end(), isHexDigit));
  return n == 5 && close != std::string_view::npos && objectSuffix ? Header::kObject : Header::kNone;
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

std::int32_t ReadEDSSection(const std::vector<std::string_view>& lines, std::ptrdiff_t& cursor,
                            ObjectDictionary& dictionary, char decimalSep, std::uint8_t nodeId) {
  auto entry = std::make_unique<ObjectEntry>();
  const auto count = static_cast<std::ptrdiff_t>(lines.size());
  const ReadContext ctx{decimalSep, nodeId};

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
  SectionState state;
  while (cursor < count) {
    const std::string_view line = trimmed(lines[static_cast<std::size_t>(cursor)]);
    if (!line.empty() && line.front() == '[') {
      endedByHeader = true;
      break;
    }
    const std::size_t eq = line.find('=');
    if (eq != std::string_view::npos) {
      // The key is not trimmed: "DataType = 7" carries the key "datatype " and matches nothing.
      applyKey(*entry, state, line.substr(0, eq), line.substr(eq + 1, kMaxValueLength), ctx);
    }
    ++cursor;
  }

  cursor = endedByHeader ? cursor - 1 : count - 1;
  const std::int32_t index = entry->index;
  const std::int32_t compact = state.objectType == 8 ? state.compactSubObj : 0;
  // Compact sub-entries take the head's default as their value.
  const auto pattern = compact > 0 ? std::make_unique<ObjectEntry>(*entry) : nullptr;
  if (state.parameter) copyValue(*state.parameter, *entry);
  dictionary.AddObjectEntry(std::move(entry));
  if (compact == 0) return -1;
  addCompactEntries(*pattern, compact, dictionary);
  return index;
}

void ReadEDSText(std::string_view bytes, ObjectDictionary& dictionary, char decimalSep,
                 std::uint8_t nodeId) {
  const std::vector<std::string_view> lines = splitEdsLines(bytes);
  if (lines.empty()) throw EdsReadError(1);

  const auto count = static_cast<std::ptrdiff_t>(lines.size());
  std::ptrdiff_t cursor = 0;
  std::vector<std::int32_t> compactArrays;
  struct Named {
    std::size_t line;
    bool names;
    std::int32_t index;
  };
  std::vector<Named> compactSections;  // "[XXXXName]" and "[XXXXValue]"
  const auto finish = [&] {
    const ReadContext ctx{decimalSep, nodeId};
    for (const Named& n : compactSections) {
      if (std::find(compactArrays.begin(), compactArrays.end(), n.index) != compactArrays.end()) {
        applyCompactSection(lines, n.line, n.names, n.index, dictionary, ctx);
      }
    }
  };
  try {
    while (cursor < count) {
      // Untrimmed: an indented header is no section.
      const std::string_view line = lines[static_cast<std::size_t>(cursor)];
      std::int32_t index = 0;
      switch (classifyHeader(line, index)) {
        case Header::kObject: {
          const std::int32_t compact = ReadEDSSection(lines, cursor, dictionary, decimalSep, nodeId);
          if (compact >= 0) compactArrays.push_back(compact);
          break;
        }
        case Header::kName:
          compactSections.push_back({static_cast<std::size_t>(cursor), true, index});
          break;
        case Header::kValue:
          compactSections.push_back({static_cast<std::size_t>(cursor), false, index});
          break;
        default:
          break;  // descriptive sections and their keys are passed over
      }
      ++cursor;
    }
  } catch (const bp::Error&) {
    finish();
    throw EdsReadError(lineNumber(cursor));
  }
  finish();
}

void ReadEDSFile(const std::string& fileName, ObjectDictionary& dictionary, char decimalSep,
                 std::uint8_t nodeId) {
  std::vector<std::uint8_t> bytes;
  try {
    bytes = fileio::File::openForReading(fileName).readAll();
  } catch (const fileio::SystemError&) {
    throw EdsReadError(1);  // missing, a directory, an I/O failure
  }
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  ReadEDSText(text, dictionary, decimalSep, nodeId);
}

bool readValueText(ObjectEntry& entry, std::string_view text, char decimalSep) {
  try {
    return applyDefault(entry, text, {decimalSep, 1});
  } catch (const bp::Error&) {
    return false;  // a REAL32 text that does not convert
  }
}

bool valueTextConverts(std::int8_t dataType, std::string_view text, char decimalSep) {
  const bool integer = dataType <= kUnsigned32 || isWideInteger(dataType);
  if (!integer && dataType != kReal32 && dataType != kReal64 && dataType != kOctetString) return true;
  if (dataType == kOctetString && trimmed(text).empty()) return true;  // no bytes
  ObjectEntry scratch;
  scratch.dataType = dataType;
  return readValueText(scratch, text, decimalSep);
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
