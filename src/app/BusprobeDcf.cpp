// The node's configuration as a DCF: save, compare and restore, from the tree's context menu. The
// node is read and written on the file transfer's worker, with progress and Cancel.
#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <memory>

#include "app/BusprobeMain.h"
#include "app/DcfCompareDialog.h"
#include "app/FileTransfer.h"
#include "app/Messages.h"
#include "dcf/DcfNode.h"
#include "od/EdsReader.h"
#include "util/FileIo.h"

namespace bp::app {
namespace {

std::string fileText(const QString& file) {
  const std::vector<std::uint8_t> bytes = fileio::readWholeFile(file.toUtf8().toStdString());
  return {bytes.begin(), bytes.end()};
}

struct LoadedDcf {
  std::string text;
  od::ObjectDictionary dictionary;
};

std::shared_ptr<LoadedDcf> loadDcf(const QString& file, char sep, std::uint8_t node) {
  auto dcf = std::make_shared<LoadedDcf>();
  dcf->text = fileText(file);
  od::ReadEDSText(dcf->text, dcf->dictionary, sep, node);
  return dcf;
}

QString fileName(const QString& path) { return QFileInfo(path).fileName(); }

// A DCF's reals are written with '.' (od::writeDcf), whatever the locale shows.
constexpr char kDcfDecimal = '.';

}  // namespace

TfrmDcfCompare* TfrmBPX::lastCompare() const noexcept { return m_lastCompare.data(); }

QString TfrmBPX::askDcfFile(bool save, const QString& caption) {
  const QString filter = QStringLiteral("DCF files (*.dcf);;All files (*)");
  return save ? QFileDialog::getSaveFileName(this, caption, {}, filter)
              : QFileDialog::getOpenFileName(this, caption, {}, filter);
}

std::optional<dcf::RestoreOptions> TfrmBPX::askRestore(const QString& question) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Restore"), question,
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
  auto* goOn = new QCheckBox(QStringLiteral("Go on after a failed write"), &box);
  box.setCheckBox(goOn);
  const int answer = box.exec();
  if (answer == QMessageBox::Cancel) return std::nullopt;
  return dcf::RestoreOptions{answer == QMessageBox::Yes, goOn->isChecked()};
}

void TfrmBPX::runNodeTask(const QString& what, sdo::TransferJob::Task task, std::function<void()> finished,
                          bool cancellable) {
  if (!m_session.fileJob.startTask(std::move(task), {}, cancellable)) {
    refusedForFileTransfer();
    return;
  }
  auto* transfer = new FileTransfer(
      this, m_session.fileJob, what, [finished = std::move(finished)](std::string) { finished(); },
      QStringLiteral("objects"));
  if (!cancellable) transfer->withoutCancel();
  trackFileTransfer(transfer);
}

// Reads `objects` of the node into `outcomes` on the worker, then runs `finished`.
void TfrmBPX::readNode(const QString& what, std::vector<dcf::ObjectKey> objects,
                       std::function<void(const std::vector<od::ReadOutcome>&)> finished) {
  auto outcomes = std::make_shared<std::vector<od::ReadOutcome>>();
  sdo::TransferJob& job = m_session.fileJob;
  runNodeTask(
      what,
      [objects = std::move(objects), outcomes, &job](sdo::SdoTransfer& t, const sdo::TransferJob::Step& step) {
        *outcomes = dcf::readObjects(objects, dcf::accessThrough(t), step, [&job] { return job.cancelled(); });
        return std::string();
      },
      [outcomes, finished = std::move(finished)] { finished(*outcomes); });
}

void TfrmBPX::saveDcf() {
  const QString file = chooseDcfFile(true, QStringLiteral("Save node %1 as DCF").arg(cbNodeID->currentIndex()));
  if (file.isEmpty()) return;
  const QString eds = edEDSFile->text();
  const auto node = static_cast<std::uint8_t>(m_session.nodeId.load());
  const std::uint32_t kbit = can::kBitRateTable[static_cast<std::size_t>(cbSpeed->currentIndex())].bitsPerSecond / 1000;
  const std::uint32_t load = m_loadCount;
  readNode(QStringLiteral("Reading node %1 into %2").arg(node).arg(fileName(file)),
           dcf::readableObjects(m_session.dictionary),
           [this, file, eds, node, kbit, load](const std::vector<od::ReadOutcome>& outcomes) {
             if (load != m_loadCount) throw bp::Error("The EDS file was loaded again meanwhile: nothing was saved");
             const std::string when = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString();
             const std::string text = od::writeDcf(fileText(eds), m_session.dictionary, outcomes, {node, kbit, when});
             fileio::writeFileReplacing(file.toUtf8().toStdString(),
                                        {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
           });
}

void TfrmBPX::showDifferences(const QString& title, const QString& left, const QString& right,
                              std::vector<dcf::Difference> differences) {
  auto* dialog = new TfrmDcfCompare(this, title, left, right, std::move(differences));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  if (chooseCompareCsvFile) dialog->chooseCsvFile = chooseCompareCsvFile;
  dialog->show();
  m_lastCompare = dialog;
}

void TfrmBPX::compareNodeWithDcf() {
  const QString file = chooseDcfFile(false, QStringLiteral("Compare node with DCF"));
  if (file.isEmpty()) return;
  const auto node = static_cast<std::uint8_t>(m_session.nodeId.load());
  const std::shared_ptr<LoadedDcf> saved = loadDcf(file, kDcfDecimal, node);
  readNode(QStringLiteral("Reading node %1 to compare with %2").arg(node).arg(fileName(file)),
           dcf::dcfValues(saved->text, saved->dictionary, fileName(file).toStdString(), kDcfDecimal),
           [this, saved, file, node](const std::vector<od::ReadOutcome>& outcomes) {
             od::ObjectDictionary now;  // the DCF's dictionary again, with the node's values
             od::ReadEDSText(saved->text, now, kDcfDecimal, node);
             dcf::storeOutcomes(now, outcomes);
             std::vector<dcf::Difference> d = dcf::compareValues(saved->dictionary, now, decimalSeparator());
             for (dcf::Difference& f : dcf::failedReads(saved->dictionary, outcomes, decimalSeparator())) d.push_back(f);
             showDifferences(QStringLiteral("Node %1 against %2").arg(node).arg(fileName(file)), fileName(file),
                             QStringLiteral("Node %1").arg(node), std::move(d));
           });
}

void TfrmBPX::compareNodeWithDefaults() {
  const auto node = static_cast<std::uint8_t>(m_session.nodeId.load());
  const QString eds = edEDSFile->text();
  readNode(QStringLiteral("Reading node %1 to compare with the EDS defaults").arg(node),
           dcf::readableObjects(m_session.dictionary), [this, eds, node](const std::vector<od::ReadOutcome>& outcomes) {
             const std::shared_ptr<LoadedDcf> now = loadDcf(eds, decimalSeparator(), node);
             dcf::storeOutcomes(now->dictionary, outcomes);
             std::vector<dcf::Difference> d = dcf::compareWithDefaults(now->dictionary, decimalSeparator());
             showDifferences(QStringLiteral("Node %1 against the EDS defaults").arg(node),
                             QStringLiteral("Node %1").arg(node), QStringLiteral("Default"), std::move(d));
           });
}

void TfrmBPX::compareDcfFiles() {
  const QString left = chooseDcfFile(false, QStringLiteral("Compare: first DCF"));
  if (left.isEmpty()) return;
  const QString right = chooseDcfFile(false, QStringLiteral("Compare: second DCF"));
  if (right.isEmpty()) return;
  const auto node = static_cast<std::uint8_t>(m_session.nodeId.load());
  const std::shared_ptr<LoadedDcf> a = loadDcf(left, kDcfDecimal, node);
  const std::shared_ptr<LoadedDcf> b = loadDcf(right, kDcfDecimal, node);
  dcf::parameterValues(a->text, a->dictionary, fileName(left).toStdString(), kDcfDecimal);
  dcf::parameterValues(b->text, b->dictionary, fileName(right).toStdString(), kDcfDecimal);
  showDifferences(QStringLiteral("%1 against %2").arg(fileName(left), fileName(right)), fileName(left),
                  fileName(right), dcf::compareValues(a->dictionary, b->dictionary, decimalSeparator()));
}

void TfrmBPX::restoreFromDcf() {
  const QString file = chooseDcfFile(false, QStringLiteral("Restore node %1 from DCF").arg(cbNodeID->currentIndex()));
  if (file.isEmpty()) return;
  const std::optional<dcf::RestoreOptions> asked = askRestoreOptions(
      QStringLiteral("After writing the values of %1, store them in the node (\"save\" to 0x1010 sub 1)?")
          .arg(fileName(file)));
  if (!asked) return;
  const auto node = static_cast<std::uint8_t>(m_session.nodeId.load());
  const std::shared_ptr<LoadedDcf> saved = loadDcf(file, kDcfDecimal, node);
  auto objects = std::make_shared<const std::vector<dcf::ObjectKey>>(
      dcf::dcfValues(saved->text, saved->dictionary, fileName(file).toStdString(), kDcfDecimal));
  auto report = std::make_shared<dcf::RestoreReport>();
  const dcf::RestoreOptions options = *asked;
  const char sep = decimalSeparator();
  runNodeTask(
      QStringLiteral("Writing %1 into node %2").arg(fileName(file)).arg(node),
      [saved, objects, report, options, sep](sdo::SdoTransfer& t, const sdo::TransferJob::Step&) {
        *report = dcf::restore(saved->dictionary, *objects, dcf::accessThrough(t), options, sep);
        return std::string();
      },
      [this, report, file, node] {
        showDifferences(QStringLiteral("Node %1 after restoring %2 (%3 written, %4 skipped)")
                            .arg(node).arg(fileName(file)).arg(report->written).arg(report->skipped),
                        fileName(file), QStringLiteral("Node %1 now").arg(node), report->differences);
        if (report->errors.empty()) return;
        const std::size_t failed = report->errors.size();
        showMessage(MessageKind::Error,
                    textFromBytes(report->errors.front()) +
                        (report->stopped ? QStringLiteral("\nThe restore stopped there.")
                         : failed > 1    ? QStringLiteral("\n%1 writes failed in all.").arg(failed)
                                         : QString()));
      },
      false);  // a PDO disabled for its remap is always enabled again
}

}  // namespace bp::app
