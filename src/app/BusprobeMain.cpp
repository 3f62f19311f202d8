#include "app/BusprobeMain.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QSettings>
#include <QTreeWidgetItemIterator>
#include <unordered_set>
#include <utility>

#include "app/BusViewWindow.h"
#include "app/FileTransfer.h"
#include "app/ItemEntry.h"
#include "app/Messages.h"
#include "app/WindowStyle.h"
#include "app/frmInput1.h"
#include "can/BitRate.h"
#include "can/DriverErrors.h"
#include "canopen/Identifiers.h"
#include "usersdo/SdoListFile.h"

namespace bp::app {

TfrmBPX::TfrmBPX(std::unique_ptr<can::CanDriver> driver, Clock& clock, QWidget* parent)
    : QWidget(parent), m_session(std::move(driver), clock) {
  runInputDialog = [](TfrmInput& dialog) { return dialog.exec(); };
  chooseTransferFile = [this](bool save, const QString& object) { return askTransferFile(save, object); };
  runContextMenu = [](QMenu& menu, const QPoint& at) { menu.exec(at); };
  chooseDcfFile = [this](bool save, const QString& caption) { return askDcfFile(save, caption); };
  askRestoreOptions = [this](const QString& question) { return askRestore(question); };
  buildLayout();
  startUp();
}

TfrmBPX::~TfrmBPX() { shutDown(); }

void TfrmBPX::startUp() {
  // The remembered EDS file name, written back at once.
  {
    QSettings settings(QStringLiteral("Travik"), QStringLiteral("Busprobe"));
    QString name = settings.value(QStringLiteral("EDSFileName")).toString();
    if (name.isEmpty()) name = QString::fromLatin1(kDefaultEdsFileName);
    edEDSFile->setText(name);
    edEDSFile->setCursorPosition(0);
    settings.setValue(QStringLiteral("EDSFileName"), name);
  }

  for (int i = 0; i <= canopen::kMaxNodeId; ++i) cbNodeID->addItem(QString::number(i));
  cbNodeID->setCurrentIndex(5);
  m_session.nodeId.store(5, std::memory_order_relaxed);
  connect(cbNodeID, &QComboBox::currentIndexChanged, this, &TfrmBPX::cbNodeIDChange);

  // The rate changes only by a pick in the list, which re-opens the bus: the box never shows a
  // rate the bus was not opened at.
  cbSpeed->setPickInListOnly(true);
  for (const auto& row : can::kBitRateTable)
    cbSpeed->addItem(QString::fromLatin1(row.text.data(), static_cast<qsizetype>(row.text.size())));
  cbSpeed->setCurrentIndex(can::kDefaultBitRateIndex);

  for (const char* pdo : {"PDO1", "PDO2", "PDO3", "PDO4"}) cbRxPdoNo->addItem(QString::fromLatin1(pdo));
  cbRxPdoNo->setCurrentIndex(0);

  // The bus at 500 kb/s; the reader's thread starts with it.
  m_session.timerResolution = engine::PeriodicTimer::minPeriodMs();
  m_session.busOpen = false;
  openBus(can::kBitRateTable[can::kDefaultBitRateIndex]);
  tiBufferReader->start();

  btnEDSLoadClick();

  const QString listFile = QString::fromLatin1(usersdo::kDefaultListFile);
  const std::optional<QString> error = errorOf([&] { LoadUserSdoList(listFile); });
  if (error && usersdo::fileExists(usersdo::kDefaultListFile)) {
    // Keep the unreadable file's bytes: they are copied aside now, before anything can replace them.
    m_listFileUnreadable = true;
    showMessage(MessageKind::Error,
                listFile + QStringLiteral(" could not be loaded: ") + *error + u'\n' + backUpUnreadableListFile());
  }
  RefreshUserSdoList();
}

void TfrmBPX::shutDown() {
  if (m_shutDown) return;
  m_shutDown = true;
  // 0. A file transfer still running is cancelled (the node gets its abort) and waited for.
  m_session.fileJob.cancel();
  delete std::exchange(m_fileTransfer, nullptr);
  // The Bus view stops observing (and recording) while the session is still there.
  delete std::exchange(m_busView, nullptr);
  // 1. No run of the reader may be in progress or begin after this.
  if (m_timerStarted) m_session.stopReader();
  tiBufferReader->stop();
  tiGuard->stop();
  tiSync->stop();
  // 2. Each step runs whatever the one before did; each failure has its own box.
  guarded(MessageKind::Error, [this] { m_session.driver->close(); });
  if (m_listFileUnreadable && !m_listFileBackedUp) guarded(MessageKind::Error, [this] { backUpListFile(); });
  // The user's list, whichever file it came from.
  guarded(MessageKind::Error, [this] { SaveUserSdoList(listSaveFile()); });
  // 3. Release the dictionary and the lists; no tree node may refer to a released record.
  tvSDO->clear();
  m_session.dictionary.ClearObjectDictionary();
  m_session.userList.clear();
  lvUserSDO->clear();
}

void TfrmBPX::backUpListFile() {
  usersdo::backUpFile(usersdo::kDefaultListFile, std::string(usersdo::kDefaultListFile) + kBackupSuffix);
  m_listFileBackedUp = true;
}

QString TfrmBPX::backUpUnreadableListFile() {
  const QString name = QString::fromLatin1(usersdo::kDefaultListFile);
  const QString backup = name + QString::fromLatin1(kBackupSuffix);
  if (const std::optional<QString> error = errorOf([this] { backUpListFile(); }))
    return QStringLiteral("It could not be kept as %1: %2\nIt is left as it is; the list is saved to %3 when "
                          "Busprobe closes.")
        .arg(backup, *error, listSaveFile());
  return QStringLiteral("It was kept as %1; the list is saved to %2 when Busprobe closes.").arg(backup, name);
}

// An unreadable list file that could not be copied aside is never replaced: its bytes may be all
// that is left of an earlier list. The list of this run then goes to a file next to it.
QString TfrmBPX::listSaveFile() const {
  const QString name = QString::fromLatin1(usersdo::kDefaultListFile);
  return m_listFileUnreadable && !m_listFileBackedUp ? name + QString::fromLatin1(kSideFileSuffix) : name;
}

// Opens the bus at a Speed row's code and shows the outcome in lblVersion's second line; the
// reader runs whenever the bus is open, whichever open succeeded first.
void TfrmBPX::openBus(const can::BitRateRow& row) {
  const std::uint32_t result = m_session.driver->open(row.code, 0);
  m_session.busOpen = result == can::kOk;
  QString outcome;
  if (m_session.busOpen) {
    if (!m_session.timer.running() && m_session.startReader()) m_timerStarted = true;
    char version[can::kVersionTextSize] = {};
    QString name = QStringLiteral("CAN interface");
    if (m_session.driver->versionText(version) == can::kOk) {
      version[can::kVersionTextSize - 1] = '\0';
      name = textFromBytes(version);
    }
    outcome = name + QStringLiteral(" at ") +
              QString::fromLatin1(row.text.data(), static_cast<qsizetype>(row.text.size()));
  } else {
    outcome = QString::fromStdString(can::openErrorMessage(result));
  }
  lblVersion->setText(QStringLiteral("Peak Can interface:\n") + outcome);
  // A long text wraps before the Speed column rather than run under the controls beside it.
  constexpr int kVersionWidth = 232;
  lblVersion->setWordWrap(false);
  fitLabel(lblVersion);
  if (lblVersion->width() > kVersionWidth) {
    lblVersion->setWordWrap(true);
    lblVersion->resize(kVersionWidth, lblVersion->heightForWidth(kVersionWidth));
  }
}

void TfrmBPX::btnCloseClick() { close(); }

void TfrmBPX::cbNodeIDChange() {
  const int index = cbNodeID->currentIndex();
  // A pick-only list: the index is always 0..127 once filled.
  if (!canopen::isValidNodeId(index)) return;
  m_session.nodeId.store(index, std::memory_order_relaxed);
  guarded(MessageKind::Default, [&] {
    // Defaults written "$NODEID+X" follow the node, unless the value was changed since.
    renewCaptions(m_session.dictionary.applyNodeId(static_cast<std::uint8_t>(index)));
  });
  if (m_busView != nullptr) m_busView->dictionaryChanged();
}

void TfrmBPX::cbSpeedCloseUp() {
  const int index = cbSpeed->currentIndex();
  if (index < 0 || index >= static_cast<int>(can::kBitRateTable.size())) return;
  guarded(MessageKind::Default, [&] {
    m_session.driver->close();
    openBus(can::kBitRateTable[static_cast<std::size_t>(index)]);
  });
}

void TfrmBPX::tiBufferReaderTimer() {
  m_session.monitor.drain(m_session.ring);
  // Rows made or changed since the last tick, here or while an SDO transfer waited.
  m_session.monitor.takeChanges(m_changedRows);
  const std::vector<engine::MonitorRow>& rows = m_session.monitor.rows();
  for (std::size_t i = m_monitorItems.size(); i < rows.size(); ++i) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromStdString(engine::FrameMonitor::captionText(rows[i])));
    m_monitorItems.push_back(item);
    lvReceived->addTopLevelItem(item);
  }
  lvReceived->setUpdatesEnabled(false);
  for (const std::size_t i : m_changedRows) updateMonitorRow(i);
  lvReceived->setUpdatesEnabled(true);
}

void TfrmBPX::updateMonitorRow(std::size_t index) {
  const engine::MonitorRow& row = m_session.monitor.rows()[index];
  QTreeWidgetItem* item = m_monitorItems[index];
  item->setText(1, QString::fromStdString(engine::FrameMonitor::lengthText(row)));
  item->setText(2, QString::fromStdString(engine::FrameMonitor::dataText(row)));
  item->setText(3, QString::fromStdString(engine::FrameMonitor::periodText(row)));
  item->setText(4, QString::fromStdString(engine::FrameMonitor::countText(row)));
}

char TfrmBPX::decimalSeparator() const { return localeDecimalSeparator(); }

bool TfrmBPX::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tvSDO && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->text().size() == 1 && tvSDOKeyPress(key->text()[0])) return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace bp::app
