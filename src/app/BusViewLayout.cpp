// The Bus view's controls: a row of buttons, the nodes beside the emergencies, and below them the
// trace, the PDOs and the plot as tabs. Resizable, unlike the main window.
#include <QHBoxLayout>
#include <QHeaderView>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/BusViewWindow.h"
#include "app/PlotPanel.h"
#include "app/TraceModel.h"
#include "app/WindowStyle.h"
#include "busview/Decoder.h"

namespace bp::app {
namespace {

template <class W>
W* named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QPushButton* button(const char* name, const QString& caption, bool checkable = false) {
  auto* b = named(new QPushButton(caption), name);
  b->setCheckable(checkable);
  return b;
}

QTreeWidget* listView(const char* name, const QStringList& headers) {
  auto* view = named(new QTreeWidget, name);
  view->setHeaderLabels(headers);
  view->setRootIsDecorated(false);
  view->setUniformRowHeights(true);
  view->setAllColumnsShowFocus(true);
  return view;
}

}  // namespace

void TfrmBusView::buildLayout() {
  setObjectName(QStringLiteral("frmBusView"));
  setWindowTitle(QStringLiteral("Bus view"));
  applyFormStyle(this);
  auto* root = new QVBoxLayout(this);
  root->addWidget(buildToolRow());
  auto* split = new QSplitter(Qt::Vertical);
  split->addWidget(buildNodeViews());
  auto* tabs = named(new QTabWidget, "tcBusView");
  tabs->addTab(buildTraceTab(), QStringLiteral("Trace"));
  tabs->addTab(buildPdoTab(), QStringLiteral("PDOs"));
  tabs->addTab(buildPlotTab(), QStringLiteral("Plot"));
  split->addWidget(tabs);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 3);
  root->addWidget(split, 1);
  resize(980, 720);
}

QWidget* TfrmBusView::buildToolRow() {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  btnRecord = button("btnRecord", QStringLiteral("Record..."), true);
  btnOpenLog = button("btnOpenLog", QStringLiteral("Open log..."));
  btnLive = button("btnLive", QStringLiteral("Live"));
  btnReplay = button("btnReplay", QStringLiteral("Send log to bus..."), true);
  btnPause = button("btnPause", QStringLiteral("Pause"), true);
  btnClear = button("btnClear", QStringLiteral("Clear"));
  for (QPushButton* b : {btnRecord, btnOpenLog, btnLive, btnReplay, btnPause, btnClear}) layout->addWidget(b);
  lblStatus = named(new QLabel, "lblStatus");
  layout->addWidget(lblStatus, 1);
  connect(btnRecord, &QPushButton::clicked, this, &TfrmBusView::btnRecordClick);
  connect(btnOpenLog, &QPushButton::clicked, this, &TfrmBusView::btnOpenLogClick);
  connect(btnLive, &QPushButton::clicked, this, &TfrmBusView::btnLiveClick);
  connect(btnReplay, &QPushButton::clicked, this, &TfrmBusView::btnReplayClick);
  connect(btnPause, &QPushButton::clicked, this, &TfrmBusView::btnPauseClick);
  connect(btnClear, &QPushButton::clicked, this, &TfrmBusView::btnClearClick);
  return row;
}

QWidget* TfrmBusView::buildNodeViews() {
  auto* split = new QSplitter(Qt::Horizontal);
  lvNodes = listView("lvNodes", {QStringLiteral("Node"), QStringLiteral("State"), QStringLiteral("Last heard"),
                                 QStringLiteral("Heartbeat"), QStringLiteral("Losses")});
  lvEmcy = listView("lvEmcy", {QStringLiteral("Time (ms)"), QStringLiteral("Node"), QStringLiteral("Code"),
                               QStringLiteral("Meaning"), QStringLiteral("Error register"),
                               QStringLiteral("Manufacturer")});
  const int nodeWidths[] = {40, 100, 80, 70};
  for (int c = 0; c < 4; ++c) lvNodes->setColumnWidth(c, nodeWidths[c]);
  const int emcyWidths[] = {80, 40, 55, 330, 110};
  for (int c = 0; c < 5; ++c) lvEmcy->setColumnWidth(c, emcyWidths[c]);
  split->addWidget(lvNodes);
  split->addWidget(lvEmcy);
  split->setSizes({400, 580});
  return split;
}

QWidget* TfrmBusView::buildTraceTab() {
  auto* tab = new QWidget;
  auto* layout = new QVBoxLayout(tab);
  auto* filters = new QHBoxLayout;
  cbTraceNode = named(new QComboBox, "cbTraceNode");
  cbTraceNode->addItem(QStringLiteral("All nodes"));
  for (int node = 0; node <= 127; ++node) cbTraceNode->addItem(QStringLiteral("Node %1").arg(node), node);
  cbTraceService = named(new QComboBox, "cbTraceService");
  cbTraceService->addItem(QStringLiteral("All services"));
  for (int s = 0; s < busview::kServiceCount; ++s) {
    const std::string_view name = busview::serviceName(static_cast<busview::Service>(s));
    cbTraceService->addItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())), s);
  }
  edTraceId = named(new QLineEdit, "edTraceId");
  edTraceId->setPlaceholderText(QStringLiteral("Identifier (hex), all when empty"));
  filters->addWidget(new QLabel(QStringLiteral("Show:")));
  filters->addWidget(cbTraceNode);
  filters->addWidget(cbTraceService);
  filters->addWidget(edTraceId, 1);
  layout->addLayout(filters);
  lvTrace = named(new QTableView, "lvTrace");
  lvTrace->setModel(m_traceModel);
  lvTrace->verticalHeader()->hide();
  lvTrace->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  lvTrace->verticalHeader()->setDefaultSectionSize(lvTrace->fontMetrics().height() + 4);
  lvTrace->horizontalHeader()->setStretchLastSection(true);
  lvTrace->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvTrace->setWordWrap(false);
  lvTrace->setShowGrid(false);
  const int widths[] = {90, 32, 76, 32, 170};
  for (int c = 0; c < 5; ++c) lvTrace->setColumnWidth(c, widths[c]);
  layout->addWidget(lvTrace, 1);
  connect(cbTraceNode, &QComboBox::currentIndexChanged, this, &TfrmBusView::traceFilterChange);
  connect(cbTraceService, &QComboBox::currentIndexChanged, this, &TfrmBusView::traceFilterChange);
  connect(edTraceId, &QLineEdit::editingFinished, this, &TfrmBusView::traceFilterChange);
  return tab;
}

QWidget* TfrmBusView::buildPdoTab() {
  auto* tab = new QWidget;
  auto* layout = new QVBoxLayout(tab);
  auto* row = new QHBoxLayout;
  btnReadPdo = button("btnReadPdo", QStringLiteral("Read mapping from node"));
  row->addWidget(btnReadPdo);
  row->addWidget(new QLabel(QStringLiteral("Tick an object to plot it.")), 1);
  layout->addLayout(row);
  lvPdo = listView("lvPdo", {QStringLiteral("PDO"), QStringLiteral("Object"), QStringLiteral("Name"),
                             QStringLiteral("Value"), QStringLiteral("Frames")});
  lvPdo->setColumnWidth(0, 90);
  lvPdo->setColumnWidth(1, 80);
  lvPdo->setColumnWidth(2, 260);
  lvPdo->setColumnWidth(3, 160);
  layout->addWidget(lvPdo, 1);
  connect(btnReadPdo, &QPushButton::clicked, this, &TfrmBusView::btnReadPdoClick);
  connect(lvPdo, &QTreeWidget::itemChanged, this, &TfrmBusView::lvPdoItemChanged);
  return tab;
}

QWidget* TfrmBusView::buildPlotTab() {
  auto* tab = new QWidget;
  auto* layout = new QVBoxLayout(tab);
  auto* row = new QHBoxLayout;
  edPollObject = named(new QLineEdit, "edPollObject");
  edPollObject->setPlaceholderText(QStringLiteral("Index:sub, e.g. 6064:00"));
  edPollObject->setMinimumWidth(edPollObject->fontMetrics().horizontalAdvance(edPollObject->placeholderText()) + 16);
  edPollPeriod = named(new QLineEdit(QStringLiteral("100")), "edPollPeriod");
  edPollPeriod->setMaximumWidth(70);
  btnPollAdd = button("btnPollAdd", QStringLiteral("Poll by SDO"));
  row->addWidget(new QLabel(QStringLiteral("Object:")));
  row->addWidget(edPollObject);
  row->addWidget(new QLabel(QStringLiteral("every")));
  row->addWidget(edPollPeriod);
  row->addWidget(new QLabel(QStringLiteral("ms")));
  row->addWidget(btnPollAdd);
  row->addStretch(1);
  layout->addLayout(row);
  pnlPlot = new PlotPanel;
  pnlPlot->setData(&m_view.plots());
  layout->addWidget(pnlPlot, 1);
  connect(btnPollAdd, &QPushButton::clicked, this, &TfrmBusView::btnPollAddClick);
  return tab;
}

}  // namespace bp::app
