#pragma once
// A received PDO split into the values of its mapped objects. No Qt; window thread.
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "busview/PdoMapping.h"
#include "can/CanFrame.h"

namespace bp::busview {

// One mapped object's value in a frame.
struct PdoValue {
  const MappedObject* object = nullptr;  // in the PdoMapping the frame was split by
  bool fits = false;                     // all its bits are in the frame
  std::uint64_t raw = 0;                 // its bits as mapped, bit 0 first
  // The value by its data type, least significant byte first, as od::storeValueBytes takes it:
  // integers in their type's width, sign-extended from the mapped length for the signed types.
  // Empty for dummies and for what does not fit.
  std::string bytes;
  double number = std::numeric_limits<double>::quiet_NaN();  // integers, BOOLEAN and reals
  std::string text;  // od::FormatObjectValue's text (hex pairs for an object the dictionary lacks)
};

struct DecodedPdo {
  const PdoMapping* pdo = nullptr;
  std::vector<PdoValue> values;  // one per mapped object, in mapping order
  bool lengthMismatch = false;   // the frame is shorter than the mapping
  std::uint8_t extraBytes = 0;   // frame bytes beyond the mapping
};

// Splits a frame by its PDO's mapping (CANopen bit order: bit 0 of byte 0 first). The result
// points into `pdo`, which must outlive it.
DecodedPdo splitPdo(const PdoMapping& pdo, const can::CanFrame& frame, char decimalSep);

// The number of a value read by SDO (least significant byte first), by its data type as a PDO's
// value gets it; an unknown type (kTypeNone) as an unsigned integer; NaN for an empty value, one
// longer than 8 bytes and the types that are no number.
double valueNumber(std::int8_t dataType, std::string_view bytes);

// Stores each value that fits into its dictionary record, as a read would; returns the records
// changed, in mapping order (for their tree captions).
std::vector<od::ObjectEntry*> storeInDictionary(const DecodedPdo& decoded);

}  // namespace bp::busview
