#include "channel/Options.h"

namespace bp::channel {

Options parseOptions(const std::vector<std::string>& args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--demo") {
      options.demo = true;
    } else if (arg == "--channel") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        options.error = "--channel needs an interface name, for example --channel can0";
        return options;
      }
      options.channel = args[++i];
    } else if (arg.rfind("--channel=", 0) == 0) {
      options.channel = arg.substr(10);
      if (options.channel.empty()) {
        options.error = "--channel needs an interface name, for example --channel can0";
        return options;
      }
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else {
      options.error = "unknown option: " + arg;
      return options;
    }
  }
  if (options.demo && !options.channel.empty()) options.error = "--demo and --channel exclude each other";
  return options;
}

std::string usageText() {
  return "Usage: busprobe [--demo | --channel NAME] [--help] [--version]\n"
         "\n"
         "A service tool for one CANopen node on a CAN bus.\n"
         "\n"
         "  --demo          run on a built-in virtual bus with a simulated node 5 serving the\n"
         "                  sample EDS file (no hardware needed)\n"
         "  --channel NAME  use the SocketCAN interface NAME (for example can0 or vcan0);\n"
         "                  on Windows, the adapter driver library NAME (default pcan_usb.dll)\n"
         "  --help          show this text\n"
         "  --version       show the version\n"
         "\n"
         "Without options the first SocketCAN interface that is up is used (can* before vcan*).\n"
         "The EDS file name is remembered between runs; the user SDO list is kept in\n"
         "SDOList.bin in the current directory.\n";
}

}  // namespace bp::channel
