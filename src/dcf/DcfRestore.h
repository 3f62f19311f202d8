#pragma once
// Writing a DCF's values into a node in a safe order, and comparing values. No Qt.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "od/ObjectDictionary.h"

namespace bp::dcf {

using ObjectKey = std::pair<std::uint16_t, std::uint8_t>;  // index, sub-index

// One object's values that differ, with their texts as the tree shows them.
struct Difference {
  std::uint16_t index = 0;
  std::uint8_t subIndex = 0;
  std::string name;
  std::string left;
  std::string right;
};

// The objects of `left` whose value differs from the same object's in `right` (objects missing
// on one side are listed with "" there); in list order. Values compare by their bytes.
std::vector<Difference> compareValues(const od::ObjectDictionary& left, const od::ObjectDictionary& right,
                                      char decimalSep);
// The writable objects whose value differs from their EDS default (read-only ones hold states and
// measurements, not configuration).
std::vector<Difference> compareWithDefaults(const od::ObjectDictionary& dictionary, char decimalSep);
// "Index;Sub;Name;Left;Right" lines (',' as field separator when the decimal separator is '.'),
// fields quoted as CSV needs.
std::string differencesCsv(std::span<const Difference> differences, char decimalSep);

// An object as the restore's messages name it: "0x1600 sub 1".
std::string objectName(std::uint16_t index, std::uint8_t sub);

// The node's side of a restore: read and write one object (bytes least significant first).
// Both throw bp::Error with the transfer's message.
struct NodeAccess {
  std::function<std::string(std::uint16_t index, std::uint8_t subIndex)> read;
  std::function<void(std::uint16_t index, std::uint8_t subIndex, std::string_view bytes)> write;
};

struct RestoreOptions {
  bool save = false;       // then write "save" to 0x1010 sub 1
  bool keepGoing = false;  // go on after a failed write
};

struct RestoreReport {
  int written = 0;
  int skipped = 0;                  // read-only, DOMAIN, and the objects whose writes are commands
  std::vector<std::string> errors;  // "0x1600 sub 1: <message>", in order
  bool stopped = false;             // a failure ended it before every value was written
  std::vector<Difference> differences;  // read back after writing: the DCF's value left, the node's right
};

// Writes the values of `objects` (the DCF's ParameterValues, loaded into `dcf`) into the node:
// first every object outside the PDO parameters in list order; then each PDO whose parameters are
// among them: its COB-ID disabled (bit 31) if it was enabled, the mapping count 0, the entries, the
// count, the other communication values, then the COB-ID of the DCF. A PDO that was enabled is
// enabled again (its COB-ID as read) whenever its remap fails, even when the restore stops there.
// Read-only objects, DOMAINs and the objects whose writes are commands (0x1003 error history, 0x1010
// store, 0x1011 restore defaults, 0x1F51 program control) are skipped. Then "save" when asked;
// then every written value read back and compared.
RestoreReport restore(const od::ObjectDictionary& dcf, std::span<const ObjectKey> objects, const NodeAccess& node,
                      const RestoreOptions& options, char decimalSep);

}  // namespace bp::dcf
