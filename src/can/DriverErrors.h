#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace bp::can {

// The text of a failed driver write, shared by every sender that reports one:
// "Error sending message, errorcode = " and the driver's result in unsigned decimal.
// Any thread; allocates the returned string.
inline std::string sendErrorMessage(std::uint32_t code) {
  char text[64];
  std::snprintf(text, sizeof text, "Error sending message, errorcode = %lu",
                static_cast<unsigned long>(code));
  return text;
}

}  // namespace bp::can
