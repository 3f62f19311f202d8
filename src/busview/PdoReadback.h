#pragma once
// Reading a node's PDO parameters by SDO, for the mapping the Bus view splits PDOs by. No Qt.
#include <cstdint>
#include <functional>
#include <string>

#include "busview/PdoMapping.h"
#include "od/ObjectDictionary.h"

namespace bp::busview {

// Reads one object of the node: its value's 32-bit pattern (shorter values zero-extended).
// Throws bp::Error with the transfer's message (abort text, time-out).
using ReadObject = std::function<std::uint32_t(std::uint16_t index, std::uint8_t subIndex)>;

struct ReadbackOutcome {
  int valuesRead = 0;
  std::string error;  // the first failure's message, empty when all were read
};

// For every PDO the dictionary has (communication object 0x1400..0x15FF or 0x1800..0x19FF present),
// reads its COB-ID (sub-index 1), the number of mapped objects (sub-index 0 of its mapping object)
// and that many entries into `readings`. Stops at the first failure: what was read is kept.
ReadbackOutcome readPdoParameters(const od::ObjectDictionary& dictionary, NodeReadings& readings,
                                  const ReadObject& read);

}  // namespace bp::busview
