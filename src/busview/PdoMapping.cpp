#include "busview/PdoMapping.h"

#include <algorithm>
#include <cstdio>

namespace bp::busview {
namespace {

// Where the mapping's numbers come from: the node's readings, else the dictionary's current value
// (its EDS default, "$NODEID+X" resolved, unless read or written since).
struct Source {
  const od::ObjectDictionary& dictionary;
  const NodeReadings& readings;

  std::optional<std::uint32_t> value(std::uint16_t index, std::uint8_t subIndex) const {
    if (auto read = readings.get(index, subIndex)) return read;
    const od::ObjectEntry* e = dictionary.find(index, subIndex);
    if (e == nullptr) return std::nullopt;
    return static_cast<std::uint32_t>(od::isWideInteger(e->dataType) ? e->value64 : e->value);
  }
};

std::string objectName(const od::ObjectDictionary& dictionary, const MappedObject& m) {
  char text[32];
  if (m.dummy) {
    std::snprintf(text, sizeof text, "Dummy 0x%04X", static_cast<unsigned>(m.index));
    return text;
  }
  if (m.entry == nullptr) {
    std::snprintf(text, sizeof text, "0x%04X Sub 0x%02X", static_cast<unsigned>(m.index),
                  static_cast<unsigned>(m.subIndex));
    return text;
  }
  const od::ObjectEntry* head = dictionary.find(m.index, -1);
  if (head == nullptr) return std::string(m.entry->nameText());
  std::string name(head->nameText());
  name += " / ";
  name += m.entry->nameText();
  return name;
}

MappedObject mappedObject(const od::ObjectDictionary& dictionary, std::uint32_t entryValue,
                          std::uint16_t bitOffset) {
  MappedObject m;
  m.index = static_cast<std::uint16_t>(entryValue >> 16);
  m.subIndex = static_cast<std::uint8_t>(entryValue >> 8);
  m.bitLength = static_cast<std::uint8_t>(entryValue);
  m.bitOffset = bitOffset;
  m.dummy = m.index < kFirstObjectIndex;
  if (m.dummy) {
    m.dataType = static_cast<std::int8_t>(m.index);
  } else if ((m.entry = dictionary.find(m.index, m.subIndex)) != nullptr) {
    m.dataType = m.entry->dataType;
  }
  m.name = objectName(dictionary, m);
  return m;
}

// PDO n of a kind, or nothing when its COB-ID is missing or marked invalid. The mapping stops at
// the first entry the sources lack; entries of length 0 take no place.
std::optional<PdoMapping> readPdo(const Source& source, PdoKind kind, int number) {
  const bool tpdo = kind == PdoKind::kTpdo;
  const auto offset = static_cast<std::uint16_t>(number - 1);
  const std::uint16_t commBase = tpdo ? kTpdoCommunication : kRpdoCommunication;
  const auto cobId = source.value(static_cast<std::uint16_t>(commBase + offset), 1);
  if (!cobId || (*cobId & kCobIdInvalid) != 0) return std::nullopt;

  PdoMapping pdo;
  pdo.kind = kind;
  pdo.number = number;
  pdo.cobId = *cobId;
  pdo.extended = (*cobId & kCobIdExtended) != 0;
  pdo.canId = *cobId & (pdo.extended ? 0x1FFFFFFFu : 0x7FFu);
  const auto mapIndex = static_cast<std::uint16_t>((tpdo ? kTpdoMapping : kRpdoMapping) + offset);
  const std::uint32_t count = std::min<std::uint32_t>(source.value(mapIndex, 0).value_or(0) & 0xFFu,
                                                      kMaxMappedObjects);
  for (std::uint32_t sub = 1; sub <= count; ++sub) {
    const auto entry = source.value(mapIndex, static_cast<std::uint8_t>(sub));
    if (!entry) break;
    if ((*entry & 0xFFu) == 0) continue;
    const auto offsetBits = static_cast<std::uint16_t>(pdo.bitLength);
    pdo.objects.push_back(mappedObject(source.dictionary, *entry, offsetBits));
    pdo.bitLength += *entry & 0xFFu;
  }
  return pdo;
}

}  // namespace

std::optional<std::uint32_t> NodeReadings::get(std::uint16_t index, std::uint8_t subIndex) const {
  const auto it = m_values.find(key(index, subIndex));
  if (it == m_values.end()) return std::nullopt;
  return it->second;
}

PdoTable::PdoTable(const od::ObjectDictionary& dictionary, const NodeReadings& readings) {
  const Source source{dictionary, readings};
  for (const PdoKind kind : {PdoKind::kTpdo, PdoKind::kRpdo}) {
    for (int n = 1; n <= kMaxPdos; ++n) {
      auto pdo = readPdo(source, kind, n);
      if (!pdo) continue;
      const std::uint32_t key = pdo->canId | (pdo->extended ? kCobIdExtended : 0u);
      if (m_byId.try_emplace(key, m_pdos.size()).second) m_pdos.push_back(std::move(*pdo));
    }
  }
}

const PdoMapping* PdoTable::find(std::uint32_t canId, bool extended) const noexcept {
  const auto it = m_byId.find(canId | (extended ? kCobIdExtended : 0u));
  return it == m_byId.end() ? nullptr : &m_pdos[it->second];
}

std::string pdoName(const PdoMapping& pdo) {
  return (pdo.kind == PdoKind::kTpdo ? "TPDO" : "RPDO") + std::to_string(pdo.number);
}

}  // namespace bp::busview
