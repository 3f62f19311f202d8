// NMT commands, node guarding, the SYNC producer and the RxPDO sender.
#include "app/BusprobeMain.h"
#include "app/Messages.h"
#include "nmt/GuardSync.h"
#include "nmt/NmtFrames.h"
#include "nmt/RxPdo.h"

namespace bp::app {

void TfrmBPX::SendNmtCommand(std::uint8_t commandSpecifier) {
  guarded(MessageKind::Default, [&] {
    nmt::sendNmtCommand(m_session.sender, commandSpecifier, m_session.nodeId.load(std::memory_order_relaxed));
  });
}

void TfrmBPX::btnStartClick() { SendNmtCommand(canopen::kNmtStart); }
void TfrmBPX::btnStopClick() { SendNmtCommand(canopen::kNmtStop); }
void TfrmBPX::btnPreOperClick() { SendNmtCommand(canopen::kNmtPreOperational); }
void TfrmBPX::btnResetNodeClick() { SendNmtCommand(canopen::kNmtResetNode); }

void TfrmBPX::setTimerPeriod(QTimer* timer, QLineEdit* edit) {
  guarded(MessageKind::Default, [&] {
    // Throws the conversion error before the timer is touched.
    const std::int32_t period = nmt::periodFromText(edit->text().toStdString(), decimalSeparator());
    if (period != timer->interval()) timer->setInterval(period);
    // A timer whose period is 0 does not run.
    if (period == 0)
      timer->stop();
    else if (!timer->isActive())
      timer->start();
  });
}

void TfrmBPX::btnEnableGuardClick() { setTimerPeriod(tiGuard, edGuardTime); }
void TfrmBPX::btnStopGuardClick() { tiGuard->stop(); }
void TfrmBPX::tiGuardTimer() {
  guarded(MessageKind::Default, [&] {
    nmt::sendGuardRequest(m_session.sender, m_session.nodeId.load(std::memory_order_relaxed));
  });
}

void TfrmBPX::btnEnableSyncClick() { setTimerPeriod(tiSync, edSyncTime); }
void TfrmBPX::btnStopSyncClick() { tiSync->stop(); }
void TfrmBPX::tiSyncTimer() {
  guarded(MessageKind::Default, [&] { nmt::sendSync(m_session.sender); });
}

void TfrmBPX::btSendRxPDOClick() {
  guarded(MessageKind::Default, [&] {
    nmt::sendRxPdo(m_session.sender, edRxPdoData->text().toStdString(), cbRxPdoNo->currentIndex(),
                   m_session.nodeId.load(std::memory_order_relaxed));
  });
}

}  // namespace bp::app
