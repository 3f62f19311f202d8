// The main window's layout: its controls, tab order, timers and the wiring of their handlers.
#include <QHeaderView>
#include <QShortcut>

#include "app/BusprobeMain.h"
#include "app/WindowStyle.h"

namespace bp::app {

namespace {
// A report list view: no tree lines, read-only, the given columns 50 pixels wide unless set
// otherwise, the last one not stretched.
void setUpReportView(QTreeWidget* view, const QStringList& columns) {
  view->setRootIsDecorated(false);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setHeaderLabels(columns);
  view->header()->setDefaultSectionSize(50);
  view->header()->setStretchLastSection(false);
}
}  // namespace

void TfrmBPX::buildLayout() {
  setWindowTitle(QStringLiteral("Travik Busprobe V2.2"));
  applyFormStyle(this);
  setFixedSize(832, 716);
  move(315, 122);
  placeTopControls();
  placeObjectTree();
  placeMonitorView();
  placeUserListView();
  placeBottomControls();
  for (QLabel* label : {lblVersion, Label7, Label2, Label1, Label6, Label4, lblSDO, Label5, Label3}) fitLabel(label);
  // Edits show the start of their text.
  for (QLineEdit* edit : {edEDSFile, edSyncTime, edGuardTime, edRxPdoData}) edit->setCursorPosition(0);
  setUpTabOrder();
  createTimers();
  connectHandlers();
}

void TfrmBPX::placeTopControls() {
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
}

void TfrmBPX::placeObjectTree() {
  tvSDO = place(new QTreeWidget(this), "tvSDO", 8, 96, 401, 561);
  tvSDO->setHeaderHidden(true);
  tvSDO->setIndentation(19);
  tvSDO->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvSDO->installEventFilter(this);
  tvSDO->setContextMenuPolicy(Qt::CustomContextMenu);
}

void TfrmBPX::placeMonitorView() {
  lvReceived = place(new QTreeWidget(this), "lvReceived", 416, 96, 401, 281);
  setUpReportView(lvReceived, {QStringLiteral("Message ID"), QStringLiteral("Length"), QStringLiteral("Data"),
                               QStringLiteral("Period"), QStringLiteral("Count")});
  // One line per row: the view never measures rows again when their texts change, which keeps a
  // monitor tick of a saturated bus with hundreds of identifiers to about a millisecond.
  lvReceived->setUniformRowHeights(true);
  lvReceived->setColumnWidth(0, 80);
  lvReceived->setColumnWidth(2, 160);
  lvReceived->setSortingEnabled(true);
  lvReceived->sortByColumn(0, Qt::AscendingOrder);
  lvReceived->header()->setSortIndicatorShown(false);
  lvReceived->header()->setSectionsClickable(false);
}

void TfrmBPX::placeUserListView() {
  Label5 = place(new QLabel(QStringLiteral("User SDO List"), this), "Label5", 416, 392, 67, 13);
  lvUserSDO = place(new ReportListView(this), "lvUserSDO", 415, 411, 401, 209);
  setUpReportView(lvUserSDO, {QStringLiteral("R/W"), QStringLiteral("Name"), QStringLiteral("Index"),
                              QStringLiteral("Sub"), QStringLiteral("Value")});
  lvUserSDO->setSelectionMode(QAbstractItemView::SingleSelection);
  lvUserSDO->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvUserSDO->setDragEnabled(true);
  lvUserSDO->setAcceptDrops(true);
  lvUserSDO->setDragDropMode(QAbstractItemView::DragDrop);
  lvUserSDO->setDefaultDropAction(Qt::CopyAction);
  lvUserSDO->setColumnWidth(0, 36);
  lvUserSDO->header()->setSectionResizeMode(0, QHeaderView::Fixed);  // "R/W" is at most 36 wide
  lvUserSDO->setColumnWidth(1, 140);
  lvUserSDO->setColumnWidth(2, 65);
  lvUserSDO->setColumnWidth(4, 100);
}

void TfrmBPX::placeBottomControls() {
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
}

void TfrmBPX::setUpTabOrder() {
  // From 0 upwards.
  QWidget* const order[] = {tvSDO,        btnClose,       lvReceived,   edEDSFile,   btnEDSLoad,
                            cbNodeID,     btnStart,       btnStop,      btnPreOper,  btnResetNode,
                            edGuardTime,  btnEnableGuard, btnStopGuard, lvUserSDO,   btnWriteUser,
                            btnReadUser,  btnEnableSync,  edSyncTime,   btnStopSync, pbSaveSdo,
                            pbLoadSdo,    cbSpeed,        edRxPdoData,  cbRxPdoNo,   btSendRxPDO};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) QWidget::setTabOrder(order[i], order[i + 1]);
}

void TfrmBPX::createTimers() {
  tiBufferReader = new QTimer(this);
  tiBufferReader->setObjectName(QStringLiteral("tiBufferReader"));
  tiBufferReader->setInterval(200);
  tiGuard = new QTimer(this);
  tiGuard->setObjectName(QStringLiteral("tiGuard"));
  tiSync = new QTimer(this);
  tiSync->setObjectName(QStringLiteral("tiSync"));
}

void TfrmBPX::connectHandlers() {
  connect(btnClose, &QPushButton::clicked, this, &TfrmBPX::btnCloseClick);
  connect(cbSpeed, &CloseUpComboBox::closeUp, this, &TfrmBPX::cbSpeedCloseUp);
  connect(btnEDSLoad, &QPushButton::clicked, this, &TfrmBPX::btnEDSLoadClick);
  connect(tvSDO, &QTreeWidget::customContextMenuRequested, this, &TfrmBPX::tvSDOContextMenu);
  lvReceived->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lvReceived, &QTreeWidget::customContextMenuRequested, this, &TfrmBPX::lvReceivedContextMenu);
  auto* busViewKey = new QShortcut(QKeySequence(Qt::Key_F2), this);
  busViewKey->setObjectName(QStringLiteral("scBusView"));
  connect(busViewKey, &QShortcut::activated, this, &TfrmBPX::openBusView);
  connect(btnEnableSync, &QPushButton::clicked, this, &TfrmBPX::btnEnableSyncClick);
  connect(btnStopSync, &QPushButton::clicked, this, &TfrmBPX::btnStopSyncClick);
  connect(btnEnableGuard, &QPushButton::clicked, this, &TfrmBPX::btnEnableGuardClick);
  connect(btnStopGuard, &QPushButton::clicked, this, &TfrmBPX::btnStopGuardClick);
  connect(lvUserSDO, &QTreeWidget::itemDoubleClicked, this, &TfrmBPX::lvUserSDODblClick);
  lvUserSDO->dragOver = [this](QObject* source) { return lvUserSDODragOver(source); };
  lvUserSDO->dragDrop = [this](QObject* source, QPoint pos) { lvUserSDODragDrop(source, pos); };
  lvUserSDO->keyUp = [this](int key) { lvUserSDOKeyUp(key); };
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

}  // namespace bp::app
