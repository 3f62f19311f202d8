// busprobe-node: a simulated CANopen device on a SocketCAN interface.
#include <signal.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "can/BitRate.h"
#include "can/DriverErrors.h"
#include "can/drivers/SocketCanDriver.h"
#include "canopen/Identifiers.h"
#include "od/EdsReader.h"
#include "sim/DemoEds.h"
#include "sim/SimNode.h"
#include "util/Error.h"

namespace {

constexpr int kExitRunFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kHelp =
    "Usage: busprobe-node [--channel NAME] [--node N] [--eds FILE] [--no-block]\n"
    "\n"
    "A simulated CANopen device (CiA 301 communication, CiA 402 drive) on a SocketCAN\n"
    "interface. It serves the object dictionary of an EDS file by SDO (expedited, segmented\n"
    "and block transfer with CRC), follows NMT commands, answers node guarding, sends\n"
    "heartbeats when 0x1017 is set, sends TPDO1 (status word, actual position) on every SYNC\n"
    "and takes the control word from RPDO1.\n"
    "\n"
    "Options:\n"
    "  --channel NAME  the SocketCAN interface, e.g. can0 or vcan0\n"
    "                  (default: the first interface that is up, can* before vcan*)\n"
    "  --node N        node ID, 1 to 127, decimal or 0x hexadecimal (default: 5)\n"
    "  --eds FILE      the EDS file to serve (default: the built-in sample drv17-ka.eds)\n"
    "  --no-block      refuse SDO block transfer (abort 0x05040001), so that clients fall\n"
    "                  back to segmented transfer\n"
    "  --help          show this text and exit\n"
    "\n"
    "The interface is opened at 500 kbit/s. The node sends its boot-up message and runs until\n"
    "it receives SIGINT or SIGTERM.\n"
    "\n"
    "Exit status: 0 after a signal, 1 when the interface cannot be opened, 2 for bad options\n"
    "or an EDS file that cannot be read.\n";

struct Options {
  std::string channel;
  int nodeId = 5;
  std::optional<std::string> edsFile;
  bool blockTransfer = true;
  bool help = false;
};

void fail(const std::string& message) { std::fprintf(stderr, "busprobe-node: %s\n", message.c_str()); }

// Decimal, or hexadecimal after "0x"; the whole text must be the number.
std::optional<int> parseNodeId(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < 1 || value > bp::canopen::kMaxNodeId) return std::nullopt;
  return value;
}

// Options as "--name value" or "--name=value". Prints the reason and returns nullopt when the
// command line is not understood.
std::optional<Options> parseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::optional<std::string> inlineValue;
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = arg.substr(eq + 1);
      arg.resize(eq);
    }
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      continue;
    }
    if (arg == "--no-block") {
      if (inlineValue) {
        fail("option --no-block takes no value");
        return std::nullopt;
      }
      o.blockTransfer = false;
      continue;
    }
    if (arg.rfind("--", 0) != 0 && arg.rfind("-", 0) != 0) {
      fail("unexpected argument '" + arg + "' (see --help)");
      return std::nullopt;
    }
    if (arg != "--channel" && arg != "--node" && arg != "--eds") {
      fail("unknown option '" + arg + "' (see --help)");
      return std::nullopt;
    }
    std::string value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      fail("option " + arg + " needs a value (see --help)");
      return std::nullopt;
    }
    if (value.empty()) {
      fail("option " + arg + " needs a value (see --help)");
      return std::nullopt;
    }
    if (arg == "--channel") {
      o.channel = value;
    } else if (arg == "--node") {
      const auto id = parseNodeId(value);
      if (!id) {
        fail("node ID '" + value + "' is not a number from 1 to 127");
        return std::nullopt;
      }
      o.nodeId = *id;
    } else {
      o.edsFile = value;
    }
  }
  return o;
}

// The whole file, or nullopt with the system's reason in `error`.
std::optional<std::string> readFile(const std::string& name, std::string& error) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(name.c_str(), "rb"), &std::fclose);
  if (!file) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::string bytes;
  char chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) bytes.append(chunk, got);
  if (std::ferror(file.get())) {
    error = std::strerror(errno);  // a directory, an I/O failure
    return std::nullopt;
  }
  return bytes;
}

// The EDS file's objects (the named file, or the sample built into the program) into
// `dictionary`, and the name to report; nullopt after printing why not.
std::optional<std::string> loadDictionary(const Options& options, bp::od::ObjectDictionary& dictionary) {
  std::string edsText;
  std::string edsName = "built-in drv17-ka.eds";
  if (options.edsFile) {
    edsName = *options.edsFile;
    std::string error;
    auto bytes = readFile(edsName, error);
    if (!bytes) {
      fail("cannot read EDS file '" + edsName + "': " + error);
      return std::nullopt;
    }
    edsText = std::move(*bytes);
  } else {
    edsText = std::string(bp::sim::demoEdsText());
  }

  try {
    bp::od::ReadEDSText(edsText, dictionary, '.', static_cast<std::uint8_t>(options.nodeId));
  } catch (const bp::od::EdsReadError& e) {
    fail("EDS file '" + edsName + "' cannot be read: error in line " + std::to_string(e.line()));
    return std::nullopt;
  }
  if (dictionary.empty()) {
    fail("EDS file '" + edsName + "' holds no objects");
    return std::nullopt;
  }
  return edsName;
}

// Opens the interface, runs the node until SIGINT or SIGTERM and returns the exit status.
int runNode(const Options& options, const std::string& channel, const bp::od::ObjectDictionary& dictionary,
            const std::string& edsName) {
  bp::can::SocketCanDriver driver(channel);
  bp::sim::SimNode node(driver, static_cast<std::uint8_t>(options.nodeId), dictionary);
  node.setBlockTransfer(options.blockTransfer);
  if (const std::uint32_t code = driver.open(bp::can::kBitRateTable[bp::can::kDefaultBitRateIndex].code, 0)) {
    fail("CAN interface '" + channel + "': " + bp::can::openErrorMessage(code));
    return kExitRunFailed;
  }

  // Signals are taken by sigwait below; the runner thread inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  node.start();
  std::printf("busprobe-node: node %d on %s at 500 kbit/s, %zu objects from %s%s\n", options.nodeId,
              channel.c_str(), node.objectCount(), edsName.c_str(),
              options.blockTransfer ? "" : ", block transfer off");
  std::fflush(stdout);

  int received = 0;
  sigwait(&stopSignals, &received);
  node.stop();
  driver.close();
  std::printf("busprobe-node: stopped (%s)\n", received == SIGINT ? "SIGINT" : "SIGTERM");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parseOptions(argc, argv);
  if (!options) return kExitUsage;
  if (options->help) {
    std::fputs(kHelp, stdout);
    return 0;
  }

  bp::od::ObjectDictionary dictionary;
  const auto edsName = loadDictionary(*options, dictionary);
  if (!edsName) return kExitUsage;

  std::string channel = options->channel;
  if (channel.empty()) {
    channel = bp::can::SocketCanDriver::firstUsableInterface();
    if (channel.empty()) {
      fail("no SocketCAN interface is up; name one with --channel");
      return kExitRunFailed;
    }
  }
  return runNode(*options, channel, dictionary, *edsName);
}
