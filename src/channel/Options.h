#pragma once
#include <string>
#include <vector>

namespace bp::channel {

// Command-line options of the window (busprobe); busprobe-cli checks its --demo and --channel with
// parseOptions too. Without any, the first SocketCAN interface that is up is used (can* before
// vcan*).
struct Options {
  bool demo = false;       // --demo: the in-process virtual bus with a simulated node 5
  std::string channel;     // --channel NAME
  bool help = false;       // --help
  bool version = false;    // --version
  std::string error;       // non-empty: the arguments were not understood
};

Options parseOptions(const std::vector<std::string>& args);
std::string usageText();

}  // namespace bp::channel
