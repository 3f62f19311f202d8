#include "busview/PdoReadback.h"

#include <exception>

namespace bp::busview {
namespace {

// Reads the COB-ID of one PDO and its mapping; false after a failure (its text in `out`).
bool readPdo(std::uint16_t communication, std::uint16_t mapping, NodeReadings& readings, const ReadObject& read,
             ReadbackOutcome& out) {
  auto take = [&](std::uint16_t index, std::uint8_t sub) {
    const std::uint32_t value = read(index, sub);
    readings.set(index, sub, value);
    ++out.valuesRead;
    return value;
  };
  try {
    take(communication, 1);
    const std::uint32_t count = take(mapping, 0) & 0xFF;
    for (std::uint32_t sub = 1; sub <= count && sub <= kMaxMappedObjects; ++sub)
      take(mapping, static_cast<std::uint8_t>(sub));
    return true;
  } catch (const std::exception& e) {
    out.error = e.what();
    return false;
  }
}

}  // namespace

ReadbackOutcome readPdoParameters(const od::ObjectDictionary& dictionary, NodeReadings& readings,
                                  const ReadObject& read) {
  ReadbackOutcome out;
  for (const auto& [communication, mapping] :
       {std::pair{kTpdoCommunication, kTpdoMapping}, std::pair{kRpdoCommunication, kRpdoMapping}}) {
    for (int n = 0; n < kMaxPdos; ++n) {
      const auto comm = static_cast<std::uint16_t>(communication + n);
      if (dictionary.find(comm, 1) == nullptr) continue;
      if (!readPdo(comm, static_cast<std::uint16_t>(mapping + n), readings, read, out)) return out;
    }
  }
  return out;
}

}  // namespace bp::busview
