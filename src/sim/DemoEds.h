#pragma once
#include <string_view>

namespace bp::sim {

// The bytes of the sample EDS file examples/drv17-ka.eds, built into the program so the demo
// node works from any directory. The text lives as long as the program; any thread.
std::string_view demoEdsText();

}  // namespace bp::sim
