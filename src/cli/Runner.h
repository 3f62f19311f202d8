#pragma once
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Output.h"
#include "dcf/DcfRestore.h"
#include "sdo/SdoTransfer.h"
#include "engine/Session.h"
#include "od/ObjectEntry.h"
#include "usersdo/UserSdoList.h"

// Carries out busprobe-cli's commands on an engine::Session whose bus is open and whose reader
// runs. The calling thread plays the window thread's part: it empties the receive ring (every SDO
// wait does, through the session's busy work; scan and dump do it themselves).
namespace bp::cli {

// A command with what it needs, checked before the bus is touched.
struct PreparedCommand {
  Command command;
  od::ObjectEntry entry;      // read, write, upload, download: the record (name, type) to use
  std::string bytes;          // write: the value's bytes; download: the file's content
  usersdo::UserSdoList list;  // run
};

// Checks every command against the dictionary (names and types) and reads its input files.
// Throws UsageError naming the command: a write without a type, a value out of range for the
// type, a missing file, a list file that is not one, a list entry that cannot be written.
std::vector<PreparedCommand> prepareCommands(std::vector<Command> commands, const od::ObjectDictionary& dictionary);

class Runner {
 public:
  // `iface` names the bus in dump's lines; `edsText` is the EDS the dictionary came from (dcf-save).
  Runner(engine::Session& session, const Invocation& invocation, const Printer& printer, std::string iface,
         std::string edsText)
      : m_session(session),
        m_invocation(invocation),
        m_printer(printer),
        m_iface(std::move(iface)),
        m_edsText(std::move(edsText)) {}

  // Runs the commands in order; kExitOk, or kExitTransferFailed after the first failure (after
  // all of them with --continue) or an interrupt. Other exceptions (the driver's) pass through.
  int run(std::vector<PreparedCommand>& commands);

  // Set from a signal handler: a running dump or scan listen ends, and no further command starts.
  static std::atomic<bool> interrupted;

 private:
  bool execute(PreparedCommand& p);
  bool readObject(PreparedCommand& p);
  bool writeObject(PreparedCommand& p);
  bool uploadFile(PreparedCommand& p);
  bool downloadFile(PreparedCommand& p);
  bool runList(PreparedCommand& p);
  bool nmt(const Command& c);
  bool scan(const Command& c);
  bool dump(const Command& c);
  // The node's configuration as a DCF (DcfCommands.cpp).
  bool dcfSave(const Command& c);
  bool dcfDiff(const Command& c);
  bool dcfRestore(const Command& c);
  bool showDifferences(const Command& c, const std::vector<dcf::Difference>& differences);

  // The options of every transfer: this wait empties the receive ring on every pass, and an
  // interrupt cancels the transfer.
  static sdo::TransferOptions transferOptions(std::uint32_t timeoutMs, bool block, std::string objectName = {});
  // Writes a file the commands produce; one that cannot be written is an input error (UsageError).
  static void writeOutput(const Command& c, const std::string& path, std::string_view bytes);
  std::string upload(const od::ObjectEntry& entry, std::uint32_t timeoutMs, bool block);
  void download(const od::ObjectEntry& entry, std::string_view bytes, std::uint32_t timeoutMs, bool block);
  std::uint32_t fileTimeoutMs() const;
  // Empties the receive ring, for the seconds given, until `done` or an interrupt.
  void listen(double seconds, const std::function<bool()>& done);
  std::vector<Field> objectFields(const Command& c, const od::ObjectEntry& e) const;
  bool fail(const std::string& command, const std::string& message, std::vector<Field> fields) const;

  engine::Session& m_session;
  const Invocation& m_invocation;
  const Printer& m_printer;
  std::string m_iface;
  std::string m_edsText;
};

}  // namespace bp::cli
