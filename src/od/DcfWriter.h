#pragma once
// Device configuration files (DCF): an EDS with the values read from one node. No Qt.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "od/ObjectDictionary.h"

namespace bp::od {

// What reading one object of the node gave: its value's bytes, or why there are none.
struct ReadOutcome {
  std::uint16_t index = 0;
  std::uint8_t subIndex = 0;
  bool ok = false;
  std::string bytes;  // the value, least significant byte first, when ok
  std::string error;  // the transfer's message (abort text, time-out), when not
};

// Where and when the values were read: [DeviceComissioning].
struct Commissioning {
  std::uint8_t nodeId = 0;
  std::uint32_t baudrateKbit = 0;  // 0: not known, the key is left out
  std::string when;                // "2026-12-09 16:55", named in the section's comment
};

// The ParameterValue text of a value's bytes, as the EDS reader reads a DefaultValue back:
// unsigned integers and BOOLEAN in hexadecimal ("0x80000185"), signed ones in decimal, reals in
// the shortest text that reads back as the same number ("0.30000000000000004", "1e+20"), strings
// as they are, OCTET_STRING as hexadecimal pairs.
// Nothing for a DOMAIN and for a string with a line break, which a line cannot hold.
std::optional<std::string> parameterValueText(std::int8_t dataType, std::string_view bytes);

// The DCF of `edsText` (the EDS file's bytes, as loaded into `dictionary`): every line of the EDS
// kept as it was, comments and unknown keys included; in each object section of an outcome that
// is ok, ParameterValue set (replaced where the EDS had one, else after the section's last key);
// where an outcome failed, the section is left without ParameterValue and the object is listed
// with its error in a comment at the top of the file; [DeviceComissioning] NodeID and Baudrate set
// (the section appended when the EDS has none). Line ends follow the EDS's first line.
std::string writeDcf(std::string_view edsText, const ObjectDictionary& dictionary,
                     std::span<const ReadOutcome> outcomes, const Commissioning& commissioning);

// A ParameterValue of a DCF: its object and its text (trimmed; a view into the DCF's text).
struct ParameterValueLine {
  std::uint16_t index = 0;
  std::uint8_t subIndex = 0;
  std::string_view text;
};
// The objects whose section in a DCF text has a ParameterValue (the values to restore), in file
// order: "[1018sub1]" and, for a variable, "[1017]".
std::vector<ParameterValueLine> parameterValueLines(std::string_view dcfText, const ObjectDictionary& dictionary);

}  // namespace bp::od
