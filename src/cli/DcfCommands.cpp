// busprobe-cli's dcf-save, dcf-diff and dcf-restore: the window's DCF commands on the command line.
#include <ctime>

#include "can/BitRate.h"
#include "cli/Runner.h"
#include "dcf/DcfNode.h"
#include "od/DcfWriter.h"
#include "od/EdsReader.h"
#include "util/FileIo.h"

namespace bp::cli {
namespace {

// A DCF's text; a file that cannot be read or loaded is an input error (exit status 2), found when
// the command runs, as an earlier command of the same call may write it.
std::string dcfText(const Command& c, const std::string& path, od::ObjectDictionary& into, std::uint8_t node) {
  try {
    const std::vector<std::uint8_t> bytes = fileio::readWholeFile(path);
    std::string text(bytes.begin(), bytes.end());
    od::ReadEDSText(text, into, '.', node);
    return text;
  } catch (const bp::Error& e) {
    throw UsageError(c.text + ": " + e.what());
  }
}

std::string now() {
  const std::time_t t = std::time(nullptr);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", std::localtime(&t));
  return buf;
}

// The DCF's values; a file without any (or, `anyNeeded` false, only a value that is none of its
// type) is an input error (exit status 2).
std::vector<dcf::ObjectKey> dcfValues(const Command& c, std::string_view text, const od::ObjectDictionary& d,
                                      const std::string& path, bool anyNeeded = true) {
  try {
    return anyNeeded ? dcf::dcfValues(text, d, path, '.') : dcf::parameterValues(text, d, path, '.');
  } catch (const bp::Error& e) {
    throw UsageError(c.text + ": " + e.what());
  }
}

}  // namespace

bool Runner::dcfSave(const Command& c) {
  od::ObjectDictionary dictionary;
  const auto node = static_cast<std::uint8_t>(m_invocation.node);
  od::ReadEDSText(m_edsText, dictionary, '.', node);
  sdo::SdoTransfer transfer(m_session.sdo, transferOptions(m_invocation.timeoutMs, false));
  transfer.holdClaim();
  std::vector<od::ReadOutcome> outcomes;
  try {
    outcomes = dcf::readObjects(dcf::readableObjects(dictionary), dcf::accessThrough(transfer), [](std::size_t, std::size_t) {},
                                [] { return interrupted.load(); });
  } catch (const std::exception& e) {
    return fail(c.text, e.what(), {{"command", "dcf-save"}, {"file", c.file}});
  }
  const std::string text = od::writeDcf(m_edsText, dictionary, outcomes, {node, can::kBitRateTable[can::kDefaultBitRateIndex].bitsPerSecond / 1000, now()});
  writeOutput(c, c.file, text);
  std::size_t failed = 0;
  for (const od::ReadOutcome& o : outcomes) failed += o.ok ? 0 : 1;
  m_printer.result(c.file + ": " + std::to_string(outcomes.size() - failed) + " objects saved, " +
                       std::to_string(failed) + " could not be read",
                   {{"command", "dcf-save"}, {"file", c.file},
                    {"saved", std::to_string(outcomes.size() - failed), true}, {"failed", std::to_string(failed), true}});
  return true;
}

bool Runner::showDifferences(const Command& c, const std::vector<dcf::Difference>& differences) {
  for (const dcf::Difference& d : differences) {
    const std::string object = objectText({d.index, d.subIndex});
    m_printer.result(object + " " + d.name + ": " + d.left + " <> " + d.right,
                     {{"command", c.text.substr(0, c.text.find(' '))}, {"object", object}, {"name", d.name},
                      {"left", d.left}, {"right", d.right}});
  }
  m_printer.result(std::to_string(differences.size()) + " difference(s)",
                   {{"command", c.text.substr(0, c.text.find(' '))},
                    {"differences", std::to_string(differences.size()), true}});
  return differences.empty();
}

bool Runner::dcfDiff(const Command& c) {
  const auto node = static_cast<std::uint8_t>(m_invocation.node);
  od::ObjectDictionary left, right;
  const std::string leftText = dcfText(c, c.file, left, node);
  if (!c.otherFile.empty()) {
    const std::string rightText = dcfText(c, c.otherFile, right, node);
    dcfValues(c, leftText, left, c.file, false);
    dcfValues(c, rightText, right, c.otherFile, false);
    return showDifferences(c, dcf::compareValues(left, right, '.'));
  }
  sdo::SdoTransfer transfer(m_session.sdo, transferOptions(m_invocation.timeoutMs, false));
  transfer.holdClaim();
  std::vector<od::ReadOutcome> outcomes;
  try {
    outcomes = dcf::readObjects(dcfValues(c, leftText, left, c.file), dcf::accessThrough(transfer),
                                [](std::size_t, std::size_t) {}, [] { return interrupted.load(); });
  } catch (const std::exception& e) {
    return fail(c.text, e.what(), {{"command", "dcf-diff"}, {"file", c.file}});
  }
  od::ReadEDSText(leftText, right, '.', node);
  dcf::storeOutcomes(right, outcomes);
  std::vector<dcf::Difference> differences = dcf::compareValues(left, right, '.');
  for (dcf::Difference& d : dcf::failedReads(left, outcomes, '.')) differences.push_back(std::move(d));
  return showDifferences(c, differences);
}

bool Runner::dcfRestore(const Command& c) {
  od::ObjectDictionary dcfDictionary;
  const std::string text = dcfText(c, c.file, dcfDictionary, static_cast<std::uint8_t>(m_invocation.node));
  sdo::SdoTransfer transfer(m_session.sdo, transferOptions(m_invocation.timeoutMs, false));
  transfer.holdClaim();
  const dcf::RestoreReport report =
      dcf::restore(dcfDictionary, dcfValues(c, text, dcfDictionary, c.file), dcf::accessThrough(transfer),
                   {c.save, m_invocation.keepGoing}, '.');
  for (const std::string& error : report.errors) m_printer.failure(c.text, error, {{"command", "dcf-restore"}});
  m_printer.result(c.file + ": " + std::to_string(report.written) + " written, " + std::to_string(report.skipped) +
                       " skipped" + (report.stopped ? ", stopped at a failed write" : ""),
                   {{"command", "dcf-restore"}, {"file", c.file}, {"written", std::to_string(report.written), true},
                    {"skipped", std::to_string(report.skipped), true}});
  const bool same = showDifferences(c, report.differences);
  return same && report.errors.empty();
}

}  // namespace bp::cli
