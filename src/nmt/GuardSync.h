#pragma once
#include <cstdint>
#include <string_view>

namespace bp::nmt {

// The period of node guarding or of the SYNC producer, read from its edit's text in milliseconds.
// The text is converted with od::realText (decimalSep: the locale's decimal separator), then cut
// toward zero. A negative number gives 0, the period at which nothing is sent; a number beyond
// the signed 32-bit range is held at 2147483647. Throws the conversion's bp::Error
// "'<text>' is not a valid floating point value" unchanged. Any thread.
std::int32_t periodFromText(std::string_view text, char decimalSep);

}  // namespace bp::nmt
