#pragma once
// The PDOs of one node: each valid TPDO and RPDO by its identifier, with the objects it maps. The
// mapping comes from values read from the node by SDO where there are some, else from the loaded
// dictionary (its EDS defaults, "$NODEID+X" resolved for the node). No Qt; window thread.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "can/CanFrame.h"
#include "canopen/Identifiers.h"
#include "od/ObjectDictionary.h"

namespace bp::busview {

// The PDO parameter objects and COB-ID bits (canopen/Identifiers.h), by their short names.
using canopen::kCobIdExtended;
using canopen::kCobIdInvalid;
using canopen::kMaxMappedObjects;
using canopen::kMaxPdos;
using canopen::kRpdoCommunication;
using canopen::kRpdoMapping;
using canopen::kTpdoCommunication;
using canopen::kTpdoMapping;
// Mapping indices below this are data type entries: dummy mappings that only take space.
inline constexpr std::uint16_t kFirstObjectIndex = 0x0020;

// Values read from the node by SDO, by index and sub-index (the 32-bit pattern of the value). They
// take precedence over the dictionary's, value by value.
class NodeReadings {
 public:
  void set(std::uint16_t index, std::uint8_t subIndex, std::uint32_t value) {
    m_values[key(index, subIndex)] = value;
  }
  std::optional<std::uint32_t> get(std::uint16_t index, std::uint8_t subIndex) const;
  void clear() noexcept { m_values.clear(); }

 private:
  static std::uint32_t key(std::uint16_t index, std::uint8_t subIndex) noexcept {
    return (std::uint32_t{index} << 8) | subIndex;
  }
  std::unordered_map<std::uint32_t, std::uint32_t> m_values;
};

enum class PdoKind : std::uint8_t { kTpdo, kRpdo };

// One mapping entry: an object's place in the PDO.
struct MappedObject {
  std::uint16_t index = 0;
  std::uint8_t subIndex = 0;
  std::uint8_t bitLength = 0;
  std::uint16_t bitOffset = 0;      // from bit 0 of byte 0 (CANopen bit order)
  std::int8_t dataType = od::kTypeNone;  // the dictionary's; a dummy's is its index; kTypeNone if unknown
  bool dummy = false;               // data type entry: takes space, has no value
  std::string name;                 // "Head / Sub" for a sub-entry of a composite object
  od::ObjectEntry* entry = nullptr; // the dictionary's record; null for dummies and unknown objects
};

struct PdoMapping {
  PdoKind kind = PdoKind::kTpdo;
  int number = 0;                   // 1..512
  std::uint32_t cobId = 0;          // as configured (bit 29 for a 29-bit identifier)
  std::uint32_t canId = 0;          // the frame identifier
  bool extended = false;
  std::vector<MappedObject> objects;
  std::uint32_t bitLength = 0;      // sum of the mapped lengths
  std::uint32_t byteLength() const noexcept { return (bitLength + 7) / 8; }
};

// The table of a node's valid PDOs (COB-ID bit 31 clear). It points into the dictionary: rebuild
// it after every load (and after a change of node or of readings).
class PdoTable {
 public:
  PdoTable() = default;
  PdoTable(const od::ObjectDictionary& dictionary, const NodeReadings& readings);

  // The PDO of an identifier, or nullptr. Of PDOs sharing an identifier only the first is kept:
  // TPDOs before RPDOs, each by number.
  const PdoMapping* find(std::uint32_t canId, bool extended) const noexcept;
  // The PDO a data frame carries; nullptr for remote requests and error frames.
  const PdoMapping* find(const can::CanFrame& frame) const noexcept {
    if ((frame.type & ~can::kMsgExtended) != 0) return nullptr;
    return find(frame.id, (frame.type & can::kMsgExtended) != 0);
  }
  const std::vector<PdoMapping>& pdos() const noexcept { return m_pdos; }

 private:
  std::vector<PdoMapping> m_pdos;                         // TPDOs then RPDOs, by number
  std::unordered_map<std::uint32_t, std::size_t> m_byId;  // canId | kCobIdExtended -> m_pdos
};

// "TPDO3", "RPDO1".
std::string pdoName(const PdoMapping& pdo);

}  // namespace bp::busview
