// The Bus view's logs: recording the live bus, opening a log file, sending a log back to the bus;
// and the objects polled by SDO for the plot.
#include <QRegularExpression>
#include <chrono>

#include "app/BusViewWindow.h"
#include "app/Messages.h"
#include "app/PlotPanel.h"
#include "app/TraceModel.h"
#include "busview/PdoValues.h"
#include "can/DriverErrors.h"
#include "sdo/SdoTransfer.h"
#include "util/Error.h"

namespace bp::app {
namespace {

constexpr int kShownProblems = 10;  // lines named in the box after a log was read with problems

std::uint64_t epochMinusSteadyUs() {
  const auto wall = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return static_cast<std::uint64_t>(wall.count()) - engine::steadyMicros();
}

QString problemsText(const QString& name, const std::vector<std::string>& problems) {
  QString text = QStringLiteral("Some lines of %1 were skipped:").arg(name);
  for (std::size_t i = 0; i < problems.size() && i < kShownProblems; ++i)
    text += u'\n' + textFromBytes(problems[i]);
  if (problems.size() > kShownProblems)
    text += QStringLiteral("\n... and %1 more.").arg(problems.size() - kShownProblems);
  return text + QStringLiteral("\nEvery other frame is shown.");
}

}  // namespace

void TfrmBusView::btnRecordClick() {
  if (!btnRecord->isChecked()) {
    stopRecording();
    return;
  }
  const QString name = chooseLogFile(true);
  const bool started = !name.isEmpty() && guarded(MessageKind::Error, [&] {
    m_view.recorder().start(name.toStdString(), m_iface, epochMinusSteadyUs());
  });
  btnRecord->setChecked(started);
  btnRecord->setText(started ? QStringLiteral("Stop recording") : QStringLiteral("Record..."));
  refreshStatus();
}

void TfrmBusView::stopRecording() {
  btnRecord->setChecked(false);
  btnRecord->setText(QStringLiteral("Record..."));
  if (m_view.recorder().recording()) guarded(MessageKind::Error, [this] { m_view.recorder().stop(); });
}

void TfrmBusView::btnOpenLogClick() {
  const QString name = chooseLogFile(false);
  if (!name.isEmpty()) openLog(name);
}

bool TfrmBusView::openLog(const QString& fileName) {
  busview::LogReadResult log;
  if (!guarded(MessageKind::Error, [&] { log = busview::readLogFile(fileName.toStdString()); })) return false;
  stopReplay();
  stopRecording();
  attachLive(false);
  m_logFrames = std::move(log.frames);
  m_logName = fileName.section(u'/', -1);
  restart();
  for (const busview::TraceFrame& frame : *m_logFrames) m_view.feed(frame);
  btnLive->setEnabled(true);
  btnReplay->setEnabled(true);
  btnRecord->setEnabled(false);
  refresh();
  lvTrace->scrollToTop();
  if (!log.problems.empty()) showMessage(MessageKind::Error, problemsText(m_logName, log.problems));
  return true;
}

void TfrmBusView::btnReplayClick() {
  if (!btnReplay->isChecked()) {
    stopReplay();
    return;
  }
  const QString question = QStringLiteral("Send the %L1 frames of %2 to the bus, at the times the log gives?")
                               .arg(m_logFrames ? m_logFrames->size() : 0)
                               .arg(m_logName);
  if (!m_logFrames || !confirm(question)) {
    btnReplay->setChecked(false);
    return;
  }
  m_replay.emplace(*m_logFrames);
  m_replayStartUs = engine::steadyMicros();
  btnReplay->setText(QStringLiteral("Stop sending"));
  replayStep();
}

void TfrmBusView::replayStep() {
  if (!m_replay) return;
  const std::uint64_t elapsed = engine::steadyMicros() - m_replayStartUs;
  for (const busview::TraceFrame& f : m_replay->due(elapsed)) {
    const std::uint32_t status = m_session.sender.write(f.frame);
    if (status != can::kOk) {
      stopReplay();
      showMessage(MessageKind::Error, QStringLiteral("Sending the log stopped: %1")
                                          .arg(textFromBytes(can::sendErrorMessage(status))));
      return;
    }
  }
  const std::optional<std::uint64_t> wait = m_replay->waitUs(engine::steadyMicros() - m_replayStartUs);
  if (!wait) {
    stopReplay();
    return;
  }
  m_replayTimer->start(static_cast<int>(std::min<std::uint64_t>(*wait / 1000, 60'000)));
}

void TfrmBusView::stopReplay() {
  m_replay.reset();
  m_replayTimer->stop();
  btnReplay->setChecked(false);
  btnReplay->setText(QStringLiteral("Send log to bus..."));
}

void TfrmBusView::btnPollAddClick() {
  static const QRegularExpression kObject(QStringLiteral("^(?:0x)?([0-9A-Fa-f]{1,4})(?::(?:0x)?([0-9A-Fa-f]{1,2}))?$"));
  const QRegularExpressionMatch match = kObject.match(edPollObject->text().trimmed());
  bool periodOk = false;
  const int period = edPollPeriod->text().trimmed().toInt(&periodOk);
  if (!match.hasMatch()) {
    showMessage(MessageKind::Error, QStringLiteral("\"%1\" is no object: type the index and sub-index in hex, "
                                                   "such as 6064:00.").arg(edPollObject->text()));
    return;
  }
  if (!periodOk || period < 10 || period > 60'000) {
    showMessage(MessageKind::Error, QStringLiteral("The period must be 10 to 60000 ms."));
    return;
  }
  const auto index = static_cast<std::uint16_t>(match.captured(1).toUInt(nullptr, 16));
  const auto sub = static_cast<std::uint8_t>(match.captured(2).isEmpty() ? 0 : match.captured(2).toUInt(nullptr, 16));
  const od::ObjectEntry* entry = m_session.dictionary.find(index, sub);
  std::string name = QStringLiteral("%1:%2").arg(index, 4, 16, QLatin1Char('0')).arg(sub, 2, 16, QLatin1Char('0'))
                         .toUpper().toStdString();
  if (entry != nullptr) name += " " + std::string(entry->nameText());
  m_polls.add(index, sub, static_cast<std::uint32_t>(period), m_view.plots().addSeries(name));
}

void TfrmBusView::pollObjects() {
  if (m_polls.size() == 0 || m_session.sdo.busy()) return;
  for (const busview::PollSchedule::Entry& poll : m_polls.due(engine::steadyMicros() / 1000)) {
    const od::ObjectEntry* entry = m_session.dictionary.find(poll.index, poll.subIndex);
    std::string bytes;
    const std::optional<QString> error = errorOf([&] { bytes = readObject(poll.index, poll.subIndex); });
    if (error) {
      m_polls.remove(poll.index, poll.subIndex);
      showMessage(MessageKind::Error, QStringLiteral("Polling stopped for %1:\n%2")
                                          .arg(textFromBytes(m_view.plots().name(poll.series)), *error));
      return;
    }
    const std::uint64_t now = engine::steadyMicros();
    const std::uint64_t origin = m_view.trace().originUs();
    m_view.plots().add(poll.series, static_cast<double>(now > origin ? now - origin : 0) / 1e6,
                       busview::valueNumber(entry != nullptr ? entry->dataType : std::int8_t{od::kTypeNone}, bytes));
  }
}

}  // namespace bp::app
