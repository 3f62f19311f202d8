#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "can/CanDriver.h"

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

// The text of a failed driver open, shared by every opener that reports one:
// "Open failed: <reason> (errorcode = " and the driver's result in unsigned decimal, then ")".
// Any thread; allocates the returned string.
inline std::string openErrorMessage(std::uint32_t code) {
  const char* reason = "the driver gave an unknown result";
  switch (code) {
    case kErrNoInterface: reason = "no such CAN interface, or it is down"; break;
    case kErrBitRate: reason = "it runs at another bit rate, which this process may not change"; break;
    case kErrIllegalParam: reason = "the bit rate is not accepted"; break;
    case kErrSystem: reason = "the operating system refused the request"; break;
    case kErrLibraryMissing: reason = "the adapter's driver library could not be loaded"; break;
    case kErrOrdinalMissing: reason = "the adapter's driver library lacks an operation"; break;
    default: break;
  }
  char text[160];
  std::snprintf(text, sizeof text, "Open failed: %s (errorcode = %lu)", reason, static_cast<unsigned long>(code));
  return text;
}

}  // namespace bp::can
