#include "app/BusprobeMain.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QSettings>
#include <QTreeWidgetItemIterator>
#include <unordered_set>

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
  buildLayout();
  startUp();
}

TfrmBPX::~TfrmBPX() { shutDown(); }

void TfrmBPX::buildLayout() {
  setWindowTitle(QStringLiteral("Travik Busprobe V2.2"));
  applyFormStyle(this);
  setFixedSize(832, 716);
  move(315, 122);

  lblVersion = place(new QLabel(QStringLiteral("lblVersion"), this), "lblVersion", 8, 8, 45, 13);
  Label7 = place(new QLabel(QStringLiteral("Speed"), this), "Label7", 248, 40, 31, 13);
  cbSpeed = place(new CloseUpComboBox(this), "cbSpeed", 304, 37, 121, 21);
  cbSpeed->setMaxVisibleItems(9);
  Label2 = place(new QLabel(QStringLiteral("Node ID"), this), "Label2", 320, 12, 40, 13);
  cbNodeID = place(new CloseUpComboBox(this), "cbNodeID", 376, 8, 73, 21);
  Label1 = place(new QLabel(QStringLiteral("EDS - File"), this), "Label1", 248, 68, 47, 13);
  edEDSFile = place(new QLineEdit(QString::fromLatin1(kDefaultEdsFileName), this), "edEDSFile", 304, 64, 121, 21);
  btnEDSLoad = place(new QPushButton(QStringLiteral("&Load"), this), "btnEDSLoad", 440, 64, 75, 25);
  Label6 = place(new QLabel(QStringLiteral("Sync Time"), this), "Label6", 576, 8, 50, 13);
  edSyncTime = place(new QLineEdit(QStringLiteral("50"), this), "edSyncTime", 576, 24, 57, 21);
  btnEnableSync = place(new QPushButton(QStringLiteral("Enable Sync"), this), "btnEnableSync", 648, 24, 105, 25);
  btnStopSync = place(new QPushButton(QStringLiteral("Stop"), this), "btnStopSync", 760, 24, 33, 25);
  Label4 = place(new QLabel(QStringLiteral("Guard time"), this), "Label4", 576, 48, 51, 13);
  edGuardTime = place(new QLineEdit(QStringLiteral("200"), this), "edGuardTime", 576, 64, 57, 21);
  btnEnableGuard = place(new QPushButton(QStringLiteral("Enable guarding"), this), "btnEnableGuard", 648, 64, 105, 25);
  btnStopGuard = place(new QPushButton(QStringLiteral("Stop"), this), "btnStopGuard", 760, 64, 35, 25);
  lblSDO = place(new QLabel(QStringLiteral("SDO"), this), "lblSDO", 8, 80, 23, 13);

  tvSDO = place(new QTreeWidget(this), "tvSDO", 8, 96, 401, 561);
  tvSDO->setHeaderHidden(true);
  tvSDO->setIndentation(19);
  tvSDO->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvSDO->installEventFilter(this);

  lvReceived = place(new QTreeWidget(this), "lvReceived", 416, 96, 401, 281);
  lvReceived->setRootIsDecorated(false);
  // One line per row: the view never measures rows again when their texts change, which keeps a
  // monitor tick of a saturated bus with hundreds of identifiers to about a millisecond.
  lvReceived->setUniformRowHeights(true);
  lvReceived->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvReceived->setHeaderLabels({QStringLiteral("Message ID"), QStringLiteral("Length"), QStringLiteral("Data"),
                               QStringLiteral("Period"), QStringLiteral("Count")});
  lvReceived->header()->setDefaultSectionSize(50);
  lvReceived->header()->setStretchLastSection(false);
  lvReceived->setColumnWidth(0, 80);
  lvReceived->setColumnWidth(2, 160);
  lvReceived->setSortingEnabled(true);
  lvReceived->sortByColumn(0, Qt::AscendingOrder);
  lvReceived->header()->setSortIndicatorShown(false);
  lvReceived->header()->setSectionsClickable(false);

  Label5 = place(new QLabel(QStringLiteral("User SDO List"), this), "Label5", 416, 392, 67, 13);
  lvUserSDO = place(new ReportListView(this), "lvUserSDO", 415, 411, 401, 209);
  lvUserSDO->setRootIsDecorated(false);
  lvUserSDO->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvUserSDO->setSelectionMode(QAbstractItemView::SingleSelection);
  lvUserSDO->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvUserSDO->setDragEnabled(true);
  lvUserSDO->setAcceptDrops(true);
  lvUserSDO->setDragDropMode(QAbstractItemView::DragDrop);
  lvUserSDO->setDefaultDropAction(Qt::CopyAction);
  lvUserSDO->setHeaderLabels({QStringLiteral("R/W"), QStringLiteral("Name"), QStringLiteral("Index"),
                              QStringLiteral("Sub"), QStringLiteral("Value")});
  lvUserSDO->header()->setDefaultSectionSize(50);
  lvUserSDO->header()->setStretchLastSection(false);
  lvUserSDO->setColumnWidth(0, 36);
  lvUserSDO->header()->setSectionResizeMode(0, QHeaderView::Fixed);  // "R/W" is at most 36 wide
  lvUserSDO->setColumnWidth(1, 140);
  lvUserSDO->setColumnWidth(2, 65);
  lvUserSDO->setColumnWidth(4, 100);
  lvUserSDO->dragOver = [this](QObject* source) { return lvUserSDODragOver(source); };
  lvUserSDO->dragDrop = [this](QObject* source, QPoint pos) { lvUserSDODragDrop(source, pos); };
  lvUserSDO->keyUp = [this](int key) { lvUserSDOKeyUp(key); };

  pbSaveSdo = place(new QPushButton(QStringLiteral("Save User SDOs..."), this), "pbSaveSdo", 416, 623, 121, 25);
  btnReadUser = place(new QPushButton(QStringLiteral("Read User SDOs"), this), "btnReadUser", 560, 623, 113, 25);
  btnWriteUser = place(new QPushButton(QStringLiteral("Write User SDOs"), this), "btnWriteUser", 709, 624, 115, 25);
  pbLoadSdo = place(new QPushButton(QStringLiteral("Load User SDOs..."), this), "pbLoadSdo", 416, 659, 121, 25);
  btnClose = place(new QPushButton(QStringLiteral("&Close"), this), "btnClose", 719, 655, 97, 25);
  Label3 = place(new QLabel(QStringLiteral("Send NMT command to node:"), this), "Label3", 16, 664, 143, 13);
  btnStart = place(new QPushButton(QStringLiteral("Start"), this), "btnStart", 16, 680, 75, 25);
  btnPreOper = place(new QPushButton(QStringLiteral("Pre-operational"), this), "btnPreOper", 104, 680, 81, 25);
  btnStop = place(new QPushButton(QStringLiteral("Stop"), this), "btnStop", 200, 680, 75, 25);
  btnResetNode = place(new QPushButton(QStringLiteral("Reset"), this), "btnResetNode", 288, 680, 75, 25);
  edRxPdoData = place(new QLineEdit(QStringLiteral("0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00"), this),
                      "edRxPdoData", 415, 690, 235, 21);
  cbRxPdoNo = place(new CloseUpComboBox(this), "cbRxPdoNo", 656, 690, 57, 21);
  btSendRxPDO = place(new QPushButton(QStringLiteral("<- Send RxPDO"), this), "btSendRxPDO", 719, 686, 97, 25);

  for (QLabel* label : {lblVersion, Label7, Label2, Label1, Label6, Label4, lblSDO, Label5, Label3}) fitLabel(label);
  // Edits show the start of their text.
  for (QLineEdit* edit : {edEDSFile, edSyncTime, edGuardTime, edRxPdoData}) edit->setCursorPosition(0);

  // Tab order, from 0 upwards.
  const QWidget* order[] = {tvSDO,        btnClose,      lvReceived,  edEDSFile,      btnEDSLoad,
                            cbNodeID,     btnStart,      btnStop,     btnPreOper,     btnResetNode,
                            edGuardTime,  btnEnableGuard, btnStopGuard, lvUserSDO,    btnWriteUser,
                            btnReadUser,  btnEnableSync, edSyncTime,  btnStopSync,    pbSaveSdo,
                            pbLoadSdo,    cbSpeed,       edRxPdoData, cbRxPdoNo,      btSendRxPDO};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i)
    QWidget::setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));

  tiBufferReader = new QTimer(this);
  tiBufferReader->setObjectName(QStringLiteral("tiBufferReader"));
  tiBufferReader->setInterval(200);
  tiGuard = new QTimer(this);
  tiGuard->setObjectName(QStringLiteral("tiGuard"));
  tiSync = new QTimer(this);
  tiSync->setObjectName(QStringLiteral("tiSync"));

  connect(btnClose, &QPushButton::clicked, this, &TfrmBPX::btnCloseClick);
  connect(cbSpeed, &CloseUpComboBox::closeUp, this, &TfrmBPX::cbSpeedCloseUp);
  connect(btnEDSLoad, &QPushButton::clicked, this, &TfrmBPX::btnEDSLoadClick);
  connect(btnEnableSync, &QPushButton::clicked, this, &TfrmBPX::btnEnableSyncClick);
  connect(btnStopSync, &QPushButton::clicked, this, &TfrmBPX::btnStopSyncClick);
  connect(btnEnableGuard, &QPushButton::clicked, this, &TfrmBPX::btnEnableGuardClick);
  connect(btnStopGuard, &QPushButton::clicked, this, &TfrmBPX::btnStopGuardClick);
  connect(lvUserSDO, &QTreeWidget::itemDoubleClicked, this, &TfrmBPX::lvUserSDODblClick);
  connect(pbSaveSdo, &QPushButton::clicked, this, &TfrmBPX::pbSaveSdoClick);
  connect(btnReadUser, &QPushButton::clicked, this, &TfrmBPX::btnReadUserClick);
  connect(btnWriteUser, &QPushButton::clicked, this, &TfrmBPX::btnWriteUserClick);
  connect(pbLoadSdo, &QPushButton::clicked, this, &TfrmBPX::pbLoadSdoClick);
  connect(btnStart, &QPushButton::clicked, this, &TfrmBPX::btnStartClick);
  connect(btnPreOper, &QPushButton::clicked, this, &TfrmBPX::btnPreOperClick);
  connect(btnStop, &QPushButton::clicked, this, &TfrmBPX::btnStopClick);
  connect(btnResetNode, &QPushButton::clicked, this, &TfrmBPX::btnResetNodeClick);
  connect(btSendRxPDO, &QPushButton::clicked, this, &TfrmBPX::btSendRxPDOClick);
  connect(tiBufferReader, &QTimer::timeout, this, &TfrmBPX::tiBufferReaderTimer);
  connect(tiGuard, &QTimer::timeout, this, &TfrmBPX::tiGuardTimer);
  connect(tiSync, &QTimer::timeout, this, &TfrmBPX::tiSyncTimer);
}

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

  QString error;
  if (!LoadUserSdoList(QString::fromLatin1(kListFileName), &error) && QFile::exists(QString::fromLatin1(kListFileName))) {
    // Keep the unreadable file's bytes: they are copied aside now, before anything can replace them.
    m_listFileUnreadable = true;
    showErrorBox(QString::fromLatin1(kListFileName) + QStringLiteral(" could not be loaded: ") + error + u'\n' +
                 backUpUnreadableListFile());
  }
  RefreshUserSdoList();
}

void TfrmBPX::shutDown() {
  if (m_shutDown) return;
  m_shutDown = true;
  // 1. No run of the reader may be in progress or begin after this.
  if (m_timerStarted) m_session.stopReader();
  tiBufferReader->stop();
  tiGuard->stop();
  tiSync->stop();
  // 2. Each step runs whatever the one before did; each failure has its own box.
  const auto step = [](const std::function<void()>& body) {
    try {
      body();
    } catch (const std::exception& e) {
      showErrorBox(textFromBytes(e.what()));
    }
  };
  step([this] { m_session.driver->close(); });
  if (m_listFileUnreadable && !m_listFileBackedUp) {
    step([this] { backUpListFile(); });
  }
  // The user's list, whichever file it came from.
  step([this] { SaveUserSdoList(listSaveFile()); });
  // 3. Release the dictionary and the lists; no tree node may refer to a released record.
  tvSDO->clear();
  m_session.dictionary.ClearObjectDictionary();
  m_session.userList.clear();
  lvUserSDO->clear();
}

void TfrmBPX::backUpListFile() {
  usersdo::backUpFile(kListFileName, std::string(kListFileName) + kBackupSuffix);
  m_listFileBackedUp = true;
}

QString TfrmBPX::backUpUnreadableListFile() {
  const QString name = QString::fromLatin1(kListFileName);
  try {
    backUpListFile();
    return QStringLiteral("It was kept as %1%2; the list is saved to %1 when Busprobe closes.")
        .arg(name, QString::fromLatin1(kBackupSuffix));
  } catch (const std::exception& e) {
    return QStringLiteral("It could not be kept as %1%2: %3\nIt is left as it is; the list is saved to %4 when "
                          "Busprobe closes.")
        .arg(name, QString::fromLatin1(kBackupSuffix), textFromBytes(e.what()), listSaveFile());
  }
}

// An unreadable list file that could not be copied aside is never replaced: its bytes may be all
// that is left of an earlier list. The list of this run then goes to a file next to it.
QString TfrmBPX::listSaveFile() const {
  const QString name = QString::fromLatin1(kListFileName);
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
  // Defaults written "$NODEID+X" follow the node, unless the value was changed since.
  const std::vector<od::ObjectEntry*> changed = m_session.dictionary.applyNodeId(static_cast<std::uint8_t>(index));
  if (changed.empty()) return;
  const std::unordered_set<const od::ObjectEntry*> renew(changed.begin(), changed.end());
  for (QTreeWidgetItemIterator it(tvSDO); *it != nullptr; ++it)
    if (const od::ObjectEntry* entry = entryOf(*it); entry != nullptr && renew.contains(entry))
      (*it)->setText(0, captionOf(*entry));
}

void TfrmBPX::cbSpeedCloseUp() {
  const int index = cbSpeed->currentIndex();
  if (index < 0 || index >= static_cast<int>(can::kBitRateTable.size())) return;
  m_session.driver->close();
  openBus(can::kBitRateTable[static_cast<std::size_t>(index)]);
}

void TfrmBPX::tiBufferReaderTimer() {
  auto& rows = m_session.monitor.rows();
  m_session.monitor.drain(m_session.ring);
  // Rows made since the last tick, here or while an SDO transfer waited.
  for (std::size_t i = m_monitorItems.size(); i < rows.size(); ++i) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromStdString(engine::FrameMonitor::captionText(rows[i])));
    m_monitorItems.push_back(item);
    lvReceived->addTopLevelItem(item);
  }
  lvReceived->setUpdatesEnabled(false);
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].changed) updateMonitorRow(i);
  lvReceived->setUpdatesEnabled(true);
}

void TfrmBPX::updateMonitorRow(std::size_t index) {
  auto& row = m_session.monitor.rows()[index];
  QTreeWidgetItem* item = m_monitorItems[index];
  item->setText(1, QString::fromStdString(engine::FrameMonitor::lengthText(row)));
  item->setText(2, QString::fromStdString(engine::FrameMonitor::dataText(row)));
  item->setText(3, QString::fromStdString(engine::FrameMonitor::periodText(row)));
  item->setText(4, QString::fromStdString(engine::FrameMonitor::countText(row)));
  row.changed = false;
}

char TfrmBPX::decimalSeparator() const {
  const QString sep = QLocale().decimalPoint();
  if (sep.size() == 1 && sep[0].unicode() < 0x80) return static_cast<char>(sep[0].unicode());
  return '.';
}

bool TfrmBPX::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tvSDO && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->text().size() == 1 && tvSDOKeyPress(key->text()[0])) return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace bp::app
