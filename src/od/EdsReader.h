#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "od/ObjectDictionary.h"
#include "util/Error.h"

namespace bp::od {

// Reading stopped at a line (1-based). Records of sections completed before it stay in the
// dictionary. what() is "Error reading EDS File\nLine: <line>".
class EdsReadError : public bp::Error {
 public:
  explicit EdsReadError(int line);
  int line() const noexcept { return m_line; }

 private:
  int m_line;
};

// Reads the named EDS file into the dictionary (which the caller empties beforehand). Defaults
// written "$NODEID+X" are resolved for `nodeId`. Sections "[XXXXName]", "[XXXXValue]",
// "[XXXXObjectLinks]" and "[XXXXDenotation]" are no object sections; the first two name and set
// the sub-entries of compact arrays (CompactSubObj). Objects 0xA000 and up are read from headers
// of exactly four hexadecimal digits.
// Throws EdsReadError with line 1 when the file cannot be read or holds no line.
// Window thread; bytes are taken as they are (no encoding conversion).
void ReadEDSFile(const std::string& fileName, ObjectDictionary& dictionary, char decimalSep,
                 std::uint8_t nodeId);
// The same scan over the bytes of a file already in memory.
void ReadEDSText(std::string_view bytes, ObjectDictionary& dictionary, char decimalSep,
                 std::uint8_t nodeId);

// The lines of a file: split at every CR LF, LF or CR; a break at the very end adds no empty
// line. The views point into `bytes`, which must outlive them.
std::vector<std::string_view> splitEdsLines(std::string_view bytes);

// Reads the object section whose header is lines[cursor] into a new record and hands it to the
// dictionary. On return the cursor stands on the last line of the section (the line before the
// header that ended it, or the last line of the file). A conversion failure throws bp::Error
// with the cursor on the offending line; that section's record is then discarded. An ARRAY with
// CompactSubObj=N (1..254) gets sub-index 0 and sub-indices 1..N behind its head; the return is
// then its index, else -1.
std::int32_t ReadEDSSection(const std::vector<std::string_view>& lines, std::ptrdiff_t& cursor,
                            ObjectDictionary& dictionary, char decimalSep, std::uint8_t nodeId);

// Sets the entry's value (by its data type) from a DefaultValue or ParameterValue text by the
// rules of the scan; false, with nothing set, for a text the scan passes over (blank, or one that
// does not convert) and for a type that has no value in the file.
bool readValueText(ObjectEntry& entry, std::string_view text, char decimalSep);
// Whether the scan takes a ParameterValue text of `dataType` as the object's value: readValueText,
// except that any text of a string type, a blank OCTET_STRING and any text of a type without a
// value in the file are not refused (true).
bool valueTextConverts(std::int8_t dataType, std::string_view text, char decimalSep);

// Helpers of the scan, exposed for tests.
std::uint32_t ParseAccessType(std::string_view text);
std::string StripQuotes(std::string_view text);

}  // namespace bp::od
