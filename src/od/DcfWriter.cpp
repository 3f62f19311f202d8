#include "od/DcfWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "od/EdsReader.h"
#include "od/ValueEncoding.h"
#include "od/ValueText.h"
#include "util/LittleEndian.h"

namespace bp::od {
namespace {

constexpr std::string_view kCommissioning = "DeviceComissioning";

// The types whose values a ParameterValue line holds.
bool hasValueText(std::int8_t dataType) noexcept {
  return fixedSize(dataType) != 0 || dataType == kVisibleString || dataType == kUnicodeString ||
         dataType == kOctetString;
}

std::uint32_t keyOf(std::uint16_t index, std::uint8_t sub) { return std::uint32_t{index} << 8 | sub; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool sameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
  return true;
}

// The section a header line opens ("[1018sub1]" -> "1018sub1"), or nothing for another line.
std::optional<std::string_view> sectionOf(std::string_view line) {
  line = trimmed(line);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return std::nullopt;
  return trimmed(line.substr(1, line.size() - 2));
}

// The key of a "Key=Value" line, trimmed; empty for comments and other lines.
std::string_view keyOfLine(std::string_view line) {
  line = trimmed(line);
  const std::size_t eq = line.find('=');
  if (line.empty() || line.front() == ';' || eq == std::string_view::npos) return {};
  return trimmed(line.substr(0, eq));
}

bool hexNumber(std::string_view s, std::uint32_t& out) {
  if (s.empty()) return false;
  out = 0;
  for (const char c : s) {
    const int d = c >= '0' && c <= '9' ? c - '0' : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10 : -1;
    if (d < 0) return false;
    out = out * 16 + static_cast<std::uint32_t>(d);
  }
  return true;
}

// The value an object section carries: "1018sub1" is 0x1018 sub 1; "1000" is 0x1000 sub 0 when
// that object is a variable (a record's head section carries no value).
std::optional<std::uint32_t> valueOfSection(std::string_view name, const ObjectDictionary& dictionary) {
  std::uint32_t index = 0, sub = 0;
  const std::size_t at = name.size() > 4 ? 4 : name.size();
  if (!hexNumber(name.substr(0, at), index) || name.size() < 4) return std::nullopt;
  if (name.size() == 4) {
    if (dictionary.find(static_cast<std::int32_t>(index), 0) == nullptr ||
        dictionary.find(static_cast<std::int32_t>(index), -1) != nullptr)
      return std::nullopt;
  } else if (!sameWord(name.substr(4, 3), "sub") || name.size() > 9 || !hexNumber(name.substr(7), sub)) {
    return std::nullopt;
  }
  return keyOf(static_cast<std::uint16_t>(index), static_cast<std::uint8_t>(sub));
}

std::string objectName(std::uint32_t key) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%04X sub %u", static_cast<unsigned>(key >> 8), static_cast<unsigned>(key & 0xFF));
  return buf;
}

// Rewrites the lines of the EDS into the DCF (see writeDcf), section by section.
class DcfLines {
 public:
  DcfLines(const ObjectDictionary& dictionary, const std::unordered_map<std::uint32_t, std::optional<std::string>>& values,
           const Commissioning& c)
      : m_dictionary(dictionary), m_values(values), m_commissioning(c) {}

  void take(std::string_view line) {
    if (const std::optional<std::string_view> name = sectionOf(line)) {
      endSection();
      m_section = valueOfSection(*name, m_dictionary);
      m_inCommissioning = sameWord(*name, kCommissioning);
      m_out.emplace_back(line);
      m_lastKey = m_out.size();
      if (m_inCommissioning) {
        m_seenCommissioning = true;
        m_out.push_back(commissioningComment());
        m_lastKey = m_out.size();
      }
      return;
    }
    const std::string_view key = keyOfLine(line);
    if (m_section && sameWord(key, "ParameterValue")) {
      m_sawParameter = true;
      const auto it = m_values.find(*m_section);
      if (it == m_values.end()) m_out.emplace_back(line);
      else if (it->second) m_out.push_back("ParameterValue=" + *it->second), m_written.insert(*m_section);
      // a failed read leaves the section without one
    } else if (m_inCommissioning && (sameWord(key, "NodeID") || sameWord(key, "Baudrate"))) {
      return;  // written anew at the section's end
    } else {
      m_out.emplace_back(line);
    }
    if (!key.empty()) m_lastKey = m_out.size();
  }

  std::vector<std::string> finish() {
    endSection();
    if (!m_seenCommissioning) {
      m_out.emplace_back();
      m_out.push_back("[" + std::string(kCommissioning) + "]");
      m_out.push_back(commissioningComment());
      m_lastKey = m_out.size();
      m_inCommissioning = true;
      endSection();
    }
    return std::move(m_out);
  }

  bool written(std::uint32_t key) const { return m_written.contains(key); }

 private:
  void endSection() {
    std::vector<std::string> add;
    if (m_section && !m_sawParameter) {
      const auto it = m_values.find(*m_section);
      if (it != m_values.end() && it->second) {
        add.push_back("ParameterValue=" + *it->second);
        m_written.insert(*m_section);
      }
    }
    if (m_inCommissioning) {
      add.push_back("NodeID=" + std::to_string(m_commissioning.nodeId));
      if (m_commissioning.baudrateKbit != 0) add.push_back("Baudrate=" + std::to_string(m_commissioning.baudrateKbit));
    }
    m_out.insert(m_out.begin() + static_cast<std::ptrdiff_t>(m_lastKey), add.begin(), add.end());
    m_section.reset();
    m_sawParameter = false;
    m_inCommissioning = false;
  }

  std::string commissioningComment() const {
    return "; Values read by Busprobe from node " + std::to_string(m_commissioning.nodeId) +
           (m_commissioning.when.empty() ? "" : " on " + m_commissioning.when);
  }

  const ObjectDictionary& m_dictionary;
  const std::unordered_map<std::uint32_t, std::optional<std::string>>& m_values;
  const Commissioning& m_commissioning;
  std::vector<std::string> m_out;
  std::optional<std::uint32_t> m_section;  // the value the open section carries
  bool m_sawParameter = false;
  bool m_inCommissioning = false;
  bool m_seenCommissioning = false;
  std::size_t m_lastKey = 0;  // where the open section's added keys go
  std::unordered_set<std::uint32_t> m_written;
};

std::string whyNotKept(const ObjectEntry* entry) {
  if (entry == nullptr) return "not in the EDS";
  if (entry->dataType == kDomain) return "a DOMAIN is not kept in a DCF";
  if (!hasValueText(entry->dataType)) return "its data type " + std::to_string(entry->dataType) + " has no value text";
  return "the value would not read back as it is (a line break, an empty, quoted or too long text, a real that is "
         "no finite number)";
}

std::optional<std::string> valueText(std::int8_t dataType, std::string_view bytes) {
  if (!hasValueText(dataType)) return std::nullopt;
  const std::size_t size = fixedSize(dataType);
  if (size != 0 && dataType != kReal32 && dataType != kReal64 && !isSignedInteger(dataType)) {
    std::uint8_t le[8] = {};
    for (std::size_t i = 0; i < size && i < bytes.size() && i < 8; ++i) le[i] = static_cast<std::uint8_t>(bytes[i]);
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(loadLe64(le)));
    return std::string(buf);
  }
  ObjectEntry scratch;
  scratch.dataType = dataType;
  storeValueBytes(scratch, bytes, bytes.size());
  if ((dataType == kReal32 || dataType == kReal64) && std::isfinite(scratch.realValue)) {
    // The shortest text that reads back as the same number (the tree's 15 digits would not).
    char buf[40];
    const auto r = dataType == kReal32 ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(scratch.realValue))
                                       : std::to_chars(buf, buf + sizeof buf, scratch.realValue);
    return std::string(buf, r.ptr);
  }
  std::string text = editText(scratch, '.');
  if (text.find_first_of("\r\n") != std::string::npos) return std::nullopt;
  return text;
}

// The text as the EDS reader takes it back gives the same bytes: no empty, quoted or too long text,
// no real that is no finite number. A type the reader gives no value passes.
bool readsBackTheSame(std::int8_t dataType, std::string_view bytes, std::string_view text) {
  ObjectEntry scratch;
  scratch.dataType = dataType;
  storeValueBytes(scratch, bytes, bytes.size());
  ObjectEntry back;
  back.dataType = dataType;
  if (readValueText(back, text, '.')) return entryBytes(back) == entryBytes(scratch);
  return valueTextConverts(dataType, text, '.') && dataType != kVisibleString && dataType != kUnicodeString &&
         dataType != kOctetString;  // an empty text is passed over: the default would stand
}

}  // namespace

std::optional<std::string> parameterValueText(std::int8_t dataType, std::string_view bytes) {
  std::optional<std::string> text = valueText(dataType, bytes);
  if (text && !readsBackTheSame(dataType, bytes, *text)) return std::nullopt;
  return text;
}

std::string writeDcf(std::string_view edsText, const ObjectDictionary& dictionary,
                     std::span<const ReadOutcome> outcomes, const Commissioning& commissioning) {
  std::unordered_map<std::uint32_t, std::optional<std::string>> values;
  std::vector<std::pair<std::uint32_t, std::string>> notKept;  // object, why
  for (const ReadOutcome& o : outcomes) {
    const std::uint32_t key = keyOf(o.index, o.subIndex);
    const ObjectEntry* entry = dictionary.find(o.index, o.subIndex);
    std::optional<std::string> text;
    if (o.ok) text = parameterValueText(entry != nullptr ? entry->dataType : std::int8_t{kTypeNone}, o.bytes);
    values[key] = text;
    if (!o.ok) notKept.emplace_back(key, o.error);
    else if (!text) notKept.emplace_back(key, whyNotKept(entry));
  }
  DcfLines lines(dictionary, values, commissioning);
  std::size_t from = 0;
  while (from < edsText.size()) {
    std::size_t end = edsText.find('\n', from);
    if (end == std::string_view::npos) end = edsText.size();
    std::string_view line = edsText.substr(from, end - from);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.take(line);
    from = end + 1;
  }
  std::vector<std::string> body = lines.finish();
  for (const auto& [key, text] : values)
    if (text && !lines.written(key)) notKept.emplace_back(key, "no section of its own in the EDS (a compact array)");

  std::sort(notKept.begin(), notKept.end());
  const std::size_t firstEnd = edsText.find('\n');
  const std::string eol = firstEnd != std::string_view::npos && firstEnd > 0 && edsText[firstEnd - 1] == '\r' ? "\r\n" : "\n";
  std::string out;
  if (!notKept.empty()) {
    out += "; Objects of node " + std::to_string(commissioning.nodeId) + " left without ParameterValue:" + eol;
    for (auto [key, why] : notKept) {
      std::replace(why.begin(), why.end(), '\n', ' ');  // a time-out's text has line breaks
      std::replace(why.begin(), why.end(), '\r', ' ');
      out += ";   " + objectName(key) + ": " + why + eol;
    }
  }
  for (const std::string& line : body) out += line + eol;
  return out;
}

std::vector<ParameterValueLine> parameterValueLines(std::string_view dcfText, const ObjectDictionary& dictionary) {
  std::vector<ParameterValueLine> out;
  std::optional<std::uint32_t> section;
  std::size_t from = 0;
  while (from < dcfText.size()) {
    std::size_t end = dcfText.find('\n', from);
    if (end == std::string_view::npos) end = dcfText.size();
    const std::string_view line = dcfText.substr(from, end - from);
    from = end + 1;
    if (const std::optional<std::string_view> name = sectionOf(line)) {
      section = valueOfSection(*name, dictionary);
    } else if (section && sameWord(keyOfLine(line), "ParameterValue")) {
      out.push_back({static_cast<std::uint16_t>(*section >> 8), static_cast<std::uint8_t>(*section & 0xFF),
                     trimmed(line.substr(line.find('=') + 1))});
      section.reset();
    }
  }
  return out;
}

}  // namespace bp::od
