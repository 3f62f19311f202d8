#pragma once
#include <string>
#include <string_view>

#include "can/CanFrame.h"

namespace bp::test {

// can-utils frame notation: "605#2B40600034120000" (data, length = bytes given),
// "705#R" (remote request, length 0), "080#" (length 0). Dots between bytes are allowed:
// "585#4F.00.10.00.7E". Throws std::invalid_argument on bad text.
can::CanFrame frame(std::string_view text);
// The same notation, upper-case, no dots, for messages and comparisons.
std::string frameText(const can::CanFrame& f);
// The text frameText() prints for a frame written in the notation above ("585#4F.01.10" gives
// "585#4F0110"): for comparing hand-written frames with printed ones.
std::string norm(std::string_view text);

}  // namespace bp::test
