#pragma once
#include <string>
#include <string_view>

#include "od/ObjectDictionary.h"
#include "util/Error.h"

namespace bp::od {

// Reading stopped at a line (1-based). Records of sections completed before it stay in the
// dictionary.
class EdsReadError : public bp::Error {
 public:
  explicit EdsReadError(int line);
  int line() const noexcept { return m_line; }

 private:
  int m_line;
};

// Reads the named EDS file into the dictionary (which the caller empties beforehand).
// Throws EdsReadError with line 1 when the file cannot be read or holds no line.
void ReadEDSFile(const std::string& fileName, ObjectDictionary& dictionary, char decimalSep);
// The same scan over the bytes of a file already in memory.
void ReadEDSText(std::string_view bytes, ObjectDictionary& dictionary, char decimalSep);

// Helpers of the scan, exposed for tests.
std::uint32_t ParseAccessType(std::string_view text);
std::string StripQuotes(std::string_view text);

}  // namespace bp::od
