#pragma once
// Reading a node's objects for a DCF or a comparison, through one SDO transfer. No Qt.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "dcf/DcfRestore.h"
#include "od/DcfWriter.h"
#include "sdo/SdoTransfer.h"

namespace bp::dcf {

// After this many time-outs in a row the node is taken for gone and the reading stops (an abort is
// an answer: the object is listed as not read, and the reading goes on).
inline constexpr int kMaxFailuresInARow = 5;

// The objects a file (`dcf`, loaded from `dcfText`) gives values of: its ParameterValues
// (od::parameterValueLines), perhaps none. Throws bp::Error ""<name>": 0x1017 sub 0: ParameterValue
// "<text>" is no value of <type>; ..." for a value the EDS reader passes over
// (od::valueTextConverts), which would otherwise stand in the dictionary as the default.
std::vector<ObjectKey> parameterValues(std::string_view dcfText, const od::ObjectDictionary& dcf,
                                       const std::string& name, char decimalSep);
// parameterValues, and bp::Error ""<name>" holds no ParameterValue: it is no DCF of a node's
// values" when there are none (an EDS, or a file that is neither), so nothing is compared or
// restored as though it matched.
std::vector<ObjectKey> dcfValues(std::string_view dcfText, const od::ObjectDictionary& dcf, const std::string& name,
                                 char decimalSep);

// Reads and writes through `transfer` (a sequence on one claim: sdo::TransferJob::startTask).
NodeAccess accessThrough(sdo::SdoTransfer& transfer);

// The objects of the dictionary a DCF keeps a value of (readable; not DOMAIN, whose values a
// DCF does not hold), in list order.
std::vector<ObjectKey> readableObjects(const od::ObjectDictionary& dictionary);

// Reads each object, keeping the value or the failure's text; `step(done, total)` after each one,
// `cancelled()` before each. Throws bp::Error when cancelled or after kMaxFailuresInARow time-outs
// in a row ("Reading stopped: the node did not answer 5 times in a row; the last: <message>").
std::vector<od::ReadOutcome> readObjects(std::span<const ObjectKey> objects, const NodeAccess& node,
                                         const std::function<void(std::size_t, std::size_t)>& step,
                                         const std::function<bool()>& cancelled);

// Stores the values read into `dictionary`; the failed reads are differences of their own (below):
// the value of `left` left and "(<message>)" right.
void storeOutcomes(od::ObjectDictionary& dictionary, std::span<const od::ReadOutcome> outcomes);
std::vector<Difference> failedReads(const od::ObjectDictionary& left, std::span<const od::ReadOutcome> outcomes,
                                    char decimalSep);

}  // namespace bp::dcf
