#include <cstdio>

#include "dcf/DcfRestore.h"
#include "od/ValueEncoding.h"
#include "od/ValueText.h"

namespace bp::dcf {
namespace {

std::string textOf(const od::ObjectEntry& like, std::string_view bytes, char sep) {
  od::ObjectEntry scratch;
  scratch.dataType = like.dataType;
  od::storeValueBytes(scratch, bytes, bytes.size());
  return od::FormatObjectValue(scratch, sep);
}

// The bytes of the entry's EDS default, as entryBytes gives its value.
std::string defaultBytes(const od::ObjectEntry& e) {
  od::ObjectEntry d;
  d.dataType = e.dataType;
  d.value = e.defaultValue;
  d.value64 = e.defaultValue64;
  d.realValue = e.defaultReal;
  d.textValue = e.dataType == od::kOctetString ? e.defaultBytes : std::string(e.defaultTextView());
  return od::entryBytes(d);
}

template <class Visit>
void forEachValue(const od::ObjectDictionary& d, Visit&& visit) {
  for (const od::ObjectEntry* h : d.heads())
    for (const od::ObjectEntry* e = h; e != nullptr; e = e->next)
      if (e->subIndex >= 0 && e->dataType != od::kDomain) visit(*e);
}

Difference differenceOf(const od::ObjectEntry& e, std::string left, std::string right) {
  return {static_cast<std::uint16_t>(e.index), static_cast<std::uint8_t>(e.subIndex), std::string(e.nameText()),
          std::move(left), std::move(right)};
}

std::string csvField(const std::string& text, char fieldSep) {
  if (text.find_first_of(std::string{fieldSep, '"', '\n', '\r'}) == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

std::vector<Difference> compareValues(const od::ObjectDictionary& left, const od::ObjectDictionary& right, char sep) {
  std::vector<Difference> out;
  forEachValue(left, [&](const od::ObjectEntry& e) {
    const od::ObjectEntry* other = right.find(e.index, e.subIndex);
    const std::string mine = od::entryBytes(e);
    if (other == nullptr) out.push_back(differenceOf(e, textOf(e, mine, sep), ""));
    else if (const std::string theirs = od::entryBytes(*other); theirs != mine)
      out.push_back(differenceOf(e, textOf(e, mine, sep), textOf(*other, theirs, sep)));
  });
  forEachValue(right, [&](const od::ObjectEntry& e) {
    if (left.find(e.index, e.subIndex) == nullptr) out.push_back(differenceOf(e, "", textOf(e, od::entryBytes(e), sep)));
  });
  return out;
}

std::vector<Difference> compareWithDefaults(const od::ObjectDictionary& dictionary, char sep) {
  std::vector<Difference> out;
  forEachValue(dictionary, [&](const od::ObjectEntry& e) {
    if (e.access == od::kReadOnly) return;  // states and measurements, no configuration
    const std::string value = od::entryBytes(e);
    const std::string standard = defaultBytes(e);
    if (value != standard) out.push_back(differenceOf(e, textOf(e, value, sep), textOf(e, standard, sep)));
  });
  return out;
}

std::string differencesCsv(std::span<const Difference> differences, char sep) {
  const char field = sep == ',' ? ';' : ',';
  std::string out = std::string("Index") + field + "Sub" + field + "Name" + field + "Left" + field + "Right\n";
  for (const Difference& d : differences) {
    char object[16];
    std::snprintf(object, sizeof object, "0x%04X%c%u", d.index, field, d.subIndex);
    out += std::string(object) + field + csvField(d.name, field) + field + csvField(d.left, field) + field +
           csvField(d.right, field) + "\n";
  }
  return out;
}

}  // namespace bp::dcf
