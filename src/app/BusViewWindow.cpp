#include "app/BusViewWindow.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QScrollBar>

#include "app/Messages.h"
#include "app/PlotPanel.h"
#include "app/TraceModel.h"
#include "app/Widgets.h"

namespace bp::app {

TfrmBusView::TfrmBusView(engine::Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), m_session(session), m_traceModel(new TraceModel(m_view, this)) {
  chooseLogFile = [this](bool save) {
    const QString filter = QStringLiteral("Bus logs (*.log *.asc *.trc);;All files (*)");
    return save ? QFileDialog::getSaveFileName(this, QStringLiteral("Record to candump log"), {},
                                               QStringLiteral("candump logs (*.log)"))
                : QFileDialog::getOpenFileName(this, QStringLiteral("Open bus log"), {}, filter);
  };
  confirm = [this](const QString& question) {
    return QMessageBox::question(this, QStringLiteral("Bus view"), question) == QMessageBox::Yes;
  };
  buildLayout();
  m_view.setDecimalSeparator(localeDecimalSeparator());
  tiView = new QTimer(this);
  tiView->setObjectName(QStringLiteral("tiView"));
  tiView->setInterval(100);
  connect(tiView, &QTimer::timeout, this, &TfrmBusView::refresh);
  m_replayTimer = new QTimer(this);
  m_replayTimer->setSingleShot(true);
  connect(m_replayTimer, &QTimer::timeout, this, &TfrmBusView::replayStep);
  btnReplay->setEnabled(false);
  btnLive->setEnabled(false);
  dictionaryChanged();
}

TfrmBusView::~TfrmBusView() {
  attachLive(false);
  stopRecording();
}

void TfrmBusView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!showingLog()) attachLive(true);
  tiView->start();
}

void TfrmBusView::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  // Closed, it costs the receive path nothing; a recording ends with it. (Minimised, it goes on.)
  stopReplay();
  stopRecording();
  attachLive(false);
  tiView->stop();
}

void TfrmBusView::attachLive(bool on) {
  if (on == m_live) return;
  m_live = on;
  if (on)
    m_session.observeFrames([this](const engine::RingSlot& slot) { m_view.feed(busview::traceFrameOf(slot)); });
  else
    m_session.observeFrames({});
}

// A new trace: everything shown so far goes.
void TfrmBusView::restart() {
  m_view.clear();
  m_traceModel->reset();
  m_emcyShown = 0;
  lvEmcy->clear();
  lvNodes->clear();
  pnlPlot->reset();
  refresh();
}

void TfrmBusView::refresh() {
  if (m_live) {
    // Heartbeats still waiting in the ring must not count as silence: take them in first.
    m_session.monitor.drain(m_session.ring);
    m_view.checkNodes(engine::steadyMicros());
  }
  m_view.pollRecorder();
  if (std::optional<std::string> error = m_view.takeRecordError()) {
    btnRecord->setChecked(false);
    showMessage(MessageKind::Error, textFromBytes(*error));
  }
  if (m_live) pollObjects();
  renewTrace();
  refreshNodes();
  refreshEmergencies();
  refreshPdos();
  pnlPlot->refresh();
  refreshStatus();
}

void TfrmBusView::renewTrace() {
  QScrollBar* bar = lvTrace->verticalScrollBar();
  const bool atEnd = bar->value() >= bar->maximum();
  if (m_traceModel->refresh() && atEnd && m_followTail) lvTrace->scrollToBottom();
}

void TfrmBusView::btnPauseClick() {
  m_view.trace().setPaused(btnPause->isChecked());
  renewTrace();
}

void TfrmBusView::btnClearClick() { restart(); }

void TfrmBusView::btnLiveClick() {
  stopReplay();
  m_logFrames.reset();
  m_logName.clear();
  btnLive->setEnabled(false);
  btnReplay->setEnabled(false);
  btnRecord->setEnabled(true);
  restart();
  attachLive(isVisible());
}

void TfrmBusView::traceFilterChange() {
  busview::TraceFilter filter;
  if (cbTraceNode->currentIndex() > 0) filter.node = static_cast<std::uint8_t>(cbTraceNode->currentData().toInt());
  if (cbTraceService->currentIndex() > 0)
    filter.service = static_cast<busview::Service>(cbTraceService->currentData().toInt());
  const QString id = edTraceId->text().trimmed();
  if (!id.isEmpty()) {
    bool ok = false;
    const uint value = id.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive) ? id.mid(2).toUInt(&ok, 16)
                                                                                   : id.toUInt(&ok, 16);
    if (!ok || value > 0x1FFFFFFF) {
      showMessage(MessageKind::Error, QStringLiteral("\"%1\" is no CAN identifier: type 1 to 8 hex digits, "
                                                     "such as 185 or 0x185.").arg(id));
      return;
    }
    filter.id = value;
  }
  m_traceModel->setFilter(filter);
  lvTrace->scrollToBottom();
}

void TfrmBusView::refreshStatus() {
  const busview::TraceBuffer& t = m_view.trace();
  QString text = showingLog() ? QStringLiteral("Log %1: ").arg(m_logName)
                              : (m_live ? QStringLiteral("Live: ") : QStringLiteral("Not listening: "));
  text += QStringLiteral("%L1 frames").arg(t.totalSeen());
  if (t.dropped() != 0) text += QStringLiteral(", the oldest %L1 no longer held").arg(t.dropped());
  if (t.paused()) text += QStringLiteral("; paused");
  if (m_view.recorder().recording())
    text += QStringLiteral("; recording, %L1 frames").arg(m_view.recorder().framesRecorded());
  if (m_replay) text += QStringLiteral("; sending the log to the bus");
  lblStatus->setText(text);
}

}  // namespace bp::app
