#include "cli/Runner.h"

#include <algorithm>

#include "cli/DataTypes.h"
#include "od/ValueEncoding.h"
#include "od/ValueText.h"
#include "sdo/SdoTransfer.h"
#include "usersdo/SdoListFile.h"
#include "util/FileIo.h"

namespace bp::cli {
namespace {

constexpr std::uint32_t kFileTimeoutMs = 1000;  // U and D: sdo::TransferOptions' own wait

// The dictionary's record of the object (its name and type), else a blank one; a TYPE given
// replaces the record's type.
od::ObjectEntry entryFor(const Command& c, const od::ObjectDictionary& dictionary) {
  od::ObjectEntry e;
  if (const od::ObjectEntry* found = dictionary.find(c.object.index, c.object.subIndex)) e = *found;
  e.next = nullptr;
  e.index = c.object.index;
  e.subIndex = c.object.subIndex;
  if (c.dataType) e.dataType = *c.dataType;
  return e;
}

std::string rowText(std::size_t row) { return "row " + std::to_string(row + 1); }

void prepareList(PreparedCommand& p) {
  p.list = usersdo::LoadUserSdoList(p.command.file);
  if (const auto reason = usersdo::writeValueError(p.list)) throw UsageError(*reason);
  for (std::size_t i = 0; i < p.list.size(); ++i) {
    const od::ObjectEntry& e = *p.list[i];
    if (e.direction == od::kWrite && od::entryBytes(e).empty())
      throw UsageError(rowText(i) + ": Can't write this type of object");
  }
}

void prepare(PreparedCommand& p, const od::ObjectDictionary& dictionary) {
  const Command& c = p.command;
  p.entry = entryFor(c, dictionary);
  if (c.kind == CommandKind::Read && p.entry.dataType == od::kTypeNone) p.entry.dataType = od::kOctetString;
  if (c.kind == CommandKind::Write) {
    if (p.entry.dataType == od::kTypeNone)
      throw UsageError("no type for " + objectText(c.object) +
                       ": give one (u8 ... b) or an EDS file that has the object");
    p.bytes = od::typedBytes(p.entry.dataType, c.value, '.');
  } else if (c.kind == CommandKind::Download) {
    const std::vector<std::uint8_t> bytes = fileio::readWholeFile(c.file);
    if (bytes.size() > sdo::TransferOptions::kMaxFileSize)
      throw UsageError("\"" + fileio::nativePath(c.file) + "\" is larger than 16 MiB");
    p.bytes.assign(bytes.begin(), bytes.end());
  } else if (c.kind == CommandKind::Run) {
    prepareList(p);
  } else if (c.kind == CommandKind::DcfSave && dictionary.empty()) {
    throw UsageError("no EDS file: give the node's with --eds FILE");
  }
}

}  // namespace

std::vector<PreparedCommand> prepareCommands(std::vector<Command> commands, const od::ObjectDictionary& dictionary) {
  std::vector<PreparedCommand> prepared(commands.size());
  for (std::size_t i = 0; i < commands.size(); ++i) {
    prepared[i].command = std::move(commands[i]);
    try {
      prepare(prepared[i], dictionary);
    } catch (const bp::Error& e) {
      throw UsageError(prepared[i].command.text + ": " + e.what());
    }
  }
  return prepared;
}

std::atomic<bool> Runner::interrupted{false};

int Runner::run(std::vector<PreparedCommand>& commands) {
  int status = kExitOk;
  for (PreparedCommand& p : commands) {
    if (interrupted.load()) return kExitTransferFailed;  // what was asked for was not all done
    if (execute(p)) continue;
    status = kExitTransferFailed;
    if (!m_invocation.keepGoing) break;
  }
  return status;
}

bool Runner::execute(PreparedCommand& p) {
  switch (p.command.kind) {
    case CommandKind::Read:
      return readObject(p);
    case CommandKind::Write:
      return writeObject(p);
    case CommandKind::Upload:
      return uploadFile(p);
    case CommandKind::Download:
      return downloadFile(p);
    case CommandKind::Run:
      return runList(p);
    case CommandKind::Nmt:
      return nmt(p.command);
    case CommandKind::Scan:
      return scan(p.command);
    case CommandKind::Dump:
      return dump(p.command);
    case CommandKind::DcfSave:
      return dcfSave(p.command);
    case CommandKind::DcfDiff:
      return dcfDiff(p.command);
    case CommandKind::DcfRestore:
      return dcfRestore(p.command);
  }
  return false;
}

sdo::TransferOptions Runner::transferOptions(std::uint32_t timeoutMs, bool block, std::string objectName) {
  sdo::TransferOptions o;
  o.timeoutMs = timeoutMs;
  o.block = block;
  o.windowThread = true;  // every pass of the wait empties the receive ring
  o.cancel = &interrupted;
  o.objectName = std::move(objectName);
  return o;
}

void Runner::writeOutput(const Command& c, const std::string& path, std::string_view bytes) {
  try {
    fileio::writeFileReplacing(path, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  } catch (const bp::Error& e) {
    throw UsageError(c.text + ": " + e.what());
  }
}

std::string Runner::upload(const od::ObjectEntry& entry, std::uint32_t timeoutMs, bool block) {
  return sdo::SdoTransfer(m_session.sdo, transferOptions(timeoutMs, block, std::string(entry.nameText())))
      .upload(static_cast<std::uint16_t>(entry.index), static_cast<std::uint8_t>(entry.subIndex));
}

void Runner::download(const od::ObjectEntry& entry, std::string_view bytes, std::uint32_t timeoutMs, bool block) {
  sdo::SdoTransfer(m_session.sdo, transferOptions(timeoutMs, block, std::string(entry.nameText())))
      .download(static_cast<std::uint16_t>(entry.index), static_cast<std::uint8_t>(entry.subIndex), bytes);
}

std::uint32_t Runner::fileTimeoutMs() const { return std::max(m_invocation.timeoutMs, kFileTimeoutMs); }

std::vector<Field> Runner::objectFields(const Command& c, const od::ObjectEntry& e) const {
  std::vector<Field> f{
      {"command", c.text.substr(0, c.text.find(' '))},
      {"object", objectText({static_cast<std::uint16_t>(e.index), static_cast<std::uint8_t>(e.subIndex)})}};
  if (!e.nameText().empty()) f.push_back({"name", std::string(e.nameText())});
  if (const std::string_view word = wordOfDataType(e.dataType); !word.empty()) f.push_back({"type", std::string(word)});
  return f;
}

bool Runner::fail(const std::string& command, const std::string& message, std::vector<Field> fields) const {
  m_printer.failure(command, message, std::move(fields));
  return false;
}

bool Runner::readObject(PreparedCommand& p) {
  try {
    const std::string bytes = upload(p.entry, m_invocation.timeoutMs, false);
    od::storeValueBytes(p.entry, bytes, bytes.size());
  } catch (const bp::Error& e) {
    return fail(p.command.text, e.what(), objectFields(p.command, p.entry));
  }
  std::vector<Field> f = objectFields(p.command, p.entry);
  f.push_back({"value", od::FormatObjectValue(p.entry, '.')});
  m_printer.result(valueText(p.entry), f);
  return true;
}

bool Runner::writeObject(PreparedCommand& p) {
  try {
    download(p.entry, p.bytes, m_invocation.timeoutMs, false);
  } catch (const bp::Error& e) {
    return fail(p.command.text, e.what(), objectFields(p.command, p.entry));
  }
  od::storeValueBytes(p.entry, p.bytes, p.bytes.size());
  std::vector<Field> f = objectFields(p.command, p.entry);
  f.push_back({"value", od::FormatObjectValue(p.entry, '.')});
  m_printer.result(valueText(p.entry), f);
  return true;
}

bool Runner::uploadFile(PreparedCommand& p) {
  std::string bytes;
  try {
    bytes = upload(p.entry, fileTimeoutMs(), true);
  } catch (const bp::Error& e) {
    return fail(p.command.text, e.what(), objectFields(p.command, p.entry));
  }
  writeOutput(p.command, p.command.file, bytes);  // the node answered
  std::vector<Field> f = objectFields(p.command, p.entry);
  f.push_back({"file", p.command.file});
  f.push_back({"bytes", std::to_string(bytes.size()), true});
  m_printer.result(objectText(p.command.object) + " " + std::to_string(bytes.size()) + " bytes to " + p.command.file,
                   f);
  return true;
}

bool Runner::downloadFile(PreparedCommand& p) {
  try {
    download(p.entry, p.bytes, fileTimeoutMs(), true);
  } catch (const bp::Error& e) {
    return fail(p.command.text, e.what(), objectFields(p.command, p.entry));
  }
  std::vector<Field> f = objectFields(p.command, p.entry);
  f.push_back({"file", p.command.file});
  f.push_back({"bytes", std::to_string(p.bytes.size()), true});
  m_printer.result(
      objectText(p.command.object) + " " + std::to_string(p.bytes.size()) + " bytes from " + p.command.file, f);
  return true;
}

// Every entry top to bottom in its own direction, as the window's Read and Write User SDOs
// transfer theirs; the first failure ends the list (with --continue the list runs on).
bool Runner::runList(PreparedCommand& p) {
  bool ok = true;
  for (std::size_t i = 0; i < p.list.size() && (ok || m_invocation.keepGoing); ++i) {
    od::ObjectEntry& e = *p.list[i];
    const std::string direction = e.direction == od::kWrite ? "W" : "R";
    std::vector<Field> f = objectFields(p.command, e);
    f.insert(f.begin() + 1, {{"row", std::to_string(i + 1), true}, {"direction", direction}});
    try {
      if (e.direction == od::kWrite) {
        download(e, od::entryBytes(e), m_invocation.timeoutMs, false);
      } else {
        const std::string bytes = upload(e, m_invocation.timeoutMs, false);
        od::storeValueBytes(e, bytes, bytes.size());
      }
    } catch (const bp::Error& err) {
      ok = fail(p.command.text + ": " + rowText(i), err.what(), f);
      continue;
    }
    f.push_back({"value", od::FormatObjectValue(e, '.')});
    m_printer.result(direction + " " + valueText(e), f);
  }
  return ok;
}

}  // namespace bp::cli
