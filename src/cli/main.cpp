// Program entry of busprobe-cli: the core on the command line, without Qt.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "can/BitRate.h"
#include "can/DriverErrors.h"
#include "channel/Channel.h"
#include "cli/ArgParse.h"
#include "cli/Runner.h"
#include "od/EdsReader.h"
#include "sim/DemoEds.h"
#include "util/FileIo.h"

namespace {

using namespace bp::cli;

void onInterrupt(int) { Runner::interrupted.store(true); }

int usageError(const std::string& message) {
  std::fprintf(stderr, "busprobe-cli: %s\nTry \"busprobe-cli --help\".\n", message.c_str());
  return kExitUsage;
}

// The script's commands go where --script stood among the commands.
void insertScript(Invocation& inv) {
  if (inv.script.empty()) return;
  const std::vector<std::uint8_t> bytes = bp::fileio::readWholeFile(inv.script);
  std::vector<Command> script = parseScript({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, inv.script);
  inv.commands.insert(inv.commands.begin() + static_cast<std::ptrdiff_t>(inv.scriptAt), script.begin(), script.end());
}

// Names and types: the EDS file given, else on the demo bus the demo node's own. Returns the EDS's
// text (empty without one).
std::string loadDictionary(const Invocation& inv, bp::od::ObjectDictionary& dictionary) {
  std::string text;
  try {
    if (!inv.eds.empty()) {
      const std::vector<std::uint8_t> bytes = bp::fileio::readWholeFile(inv.eds);
      text.assign(bytes.begin(), bytes.end());
    } else if (inv.demo) {
      text = bp::sim::demoEdsText();
    }
    if (!inv.eds.empty() || inv.demo) bp::od::ReadEDSText(text, dictionary, '.', static_cast<std::uint8_t>(inv.node));
  } catch (const bp::Error& e) {
    throw UsageError("--eds " + inv.eds + ": " + e.what());
  }
  return text;
}

int runOnBus(const Invocation& inv, bp::channel::Channel& channel, std::vector<PreparedCommand>& commands,
             std::string edsText) {
  bp::engine::Session session(std::move(channel.driver));
  const std::uint32_t opened = session.driver->open(bp::can::kBitRateTable[bp::can::kDefaultBitRateIndex].code, 0);
  if (opened != bp::can::kOk) {
    const char* hint = inv.channel.empty() && !inv.demo ? "; name one with --channel NAME, or use --demo" : "";
    std::fprintf(stderr, "busprobe-cli: %s%s\n", bp::can::openErrorMessage(opened).c_str(), hint);
    return kExitNoBus;
  }
  session.busOpen = true;
  session.nodeId.store(inv.node);
  session.startReader();
  channel.startPeer();  // the demo node boots now, so a dump or scan may hear it
  const Printer printer(inv.json, stdout, stderr);
  Runner runner(session, inv, printer, channel.name.empty() ? "can0" : channel.name, std::move(edsText));
  int status = kExitOk;
  try {
    status = runner.run(commands);
  } catch (const UsageError& e) {
    status = usageError(e.what());
  }
  session.stopReader();  // nothing the reader touches goes before it stops
  channel.stopPeer();
  session.driver->close();
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  Invocation inv;
  std::vector<PreparedCommand> commands;
  bp::od::ObjectDictionary dictionary;
  std::string edsText;
  try {
    inv = parseArguments({argv + 1, argv + argc});
    if (inv.help || inv.version) {
      std::fputs((inv.help ? helpText() : versionText()).c_str(), stdout);
      return kExitOk;
    }
    insertScript(inv);
    if (inv.commands.empty()) throw UsageError("no command given");
    edsText = loadDictionary(inv, dictionary);
    commands = prepareCommands(std::move(inv.commands), dictionary);
  } catch (const bp::Error& e) {  // UsageError, and a script file that cannot be read
    return usageError(e.what());
  }
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
  try {
    bp::channel::Options options;
    options.demo = inv.demo;
    options.channel = inv.channel;
    bp::channel::Channel channel = bp::channel::openChannel(options);
    return runOnBus(inv, channel, commands, std::move(edsText));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "busprobe-cli: %s\n", e.what());
    return kExitNoBus;
  }
}
