// Frames on the bus from the window: the monitor rows, NMT, guarding, SYNC and RxPDO.
#include <QElapsedTimer>

#include <QSignalSpy>

#include "WindowFixture.h"
#include "can/drivers/VirtualBus.h"
#include "support/FrameText.h"

namespace bp::test {
namespace {

// Waits until the reader has taken every queued frame from the fake driver.
void waitUntilRead(FakeDriver& d) {
  QElapsedTimer t;
  t.start();
  while (d.queued() > 0 && t.elapsed() < 2000) QTest::qWait(2);
  QTest::qWait(5);
}

QStringList rowTexts(QTreeWidgetItem* item) {
  QStringList texts;
  for (int i = 0; i < 5; ++i) texts << item->text(i);
  return texts;
}

using BusTraffic = WindowTest;

TEST_F(BusTraffic, MonitorShowsOneSortedRowPerIdentifierWithTheLastFrame) {
  auto& w = open();
  driver->push(frame("7FF#010203"));
  driver->push(frame("080#"));
  driver->push(frame("181#010A"));
  driver->push(frame("7FF#01020A"));
  driver->push(frame("705#R"));                // remote requests are never stored
  driver->push(frame("585#4300100092010200"));  // the selected node's SDO response bypasses the ring
  driver->push(frame("586#4300100092010200"));  // another node's is shown
  waitUntilRead(*driver);
  w.tiBufferReaderTimer();
  ASSERT_EQ(w.lvReceived->topLevelItemCount(), 4);
  EXPECT_EQ(rowTexts(w.lvReceived->topLevelItem(0)), (QStringList{"0x080", "0", "", "", "1"}));
  EXPECT_EQ(rowTexts(w.lvReceived->topLevelItem(1)), (QStringList{"0x181", "2", "01 0A", "", "1"}));
  EXPECT_EQ(rowTexts(w.lvReceived->topLevelItem(2)), (QStringList{"0x586", "8", "43 00 10 00 92 01 02 00", "", "1"}));
  EXPECT_EQ(rowTexts(w.lvReceived->topLevelItem(3)), (QStringList{"0x7FF", "3", "01 02 0A", "", "2"}));
}

TEST_F(BusTraffic, NodeChangeRedirectsWhichResponsesBypassTheMonitor) {
  auto& w = open();
  w.cbNodeID->setCurrentIndex(6);
  driver->push(frame("585#60406000"));
  driver->push(frame("586#60406000"));
  waitUntilRead(*driver);
  w.tiBufferReaderTimer();
  ASSERT_EQ(w.lvReceived->topLevelItemCount(), 1);
  EXPECT_EQ(w.lvReceived->topLevelItem(0)->text(0), "0x585");
}

struct NmtRow {
  const char* button;
  std::int32_t node;
  const char* expected;
};

TEST_F(BusTraffic, NmtButtonsSendTheirCommandToTheSelectedNode) {
  auto& w = open();
  const NmtRow rows[] = {
      {"btnStart", 5, "000#0105"},     {"btnStop", 5, "000#0205"},     {"btnPreOper", 5, "000#8005"},
      {"btnResetNode", 5, "000#8105"}, {"btnResetNode", 0, "000#8100"}, {"btnStart", 127, "000#017F"},
  };
  for (const auto& row : rows) {
    w.cbNodeID->setCurrentIndex(row.node);
    driver->clearWritten();
    w.findChild<QPushButton*>(row.button)->click();
    const auto sent = driver->written();
    ASSERT_EQ(sent.size(), 1u) << row.button;
    EXPECT_EQ(sent[0], frame(row.expected)) << row.button << " node " << row.node;
  }
}

TEST_F(BusTraffic, NmtOnAClosedBusShowsNothing) {
  auto& w = open([](FakeDriver& d) {
    d.openResult = 1;
    d.writeResult = can::kErrNotOpen;
  });
  w.btnStart->click();
  w.tiSyncTimer();
  w.tiGuardTimer();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(driver->written().size(), 3u);
}

TEST_F(BusTraffic, RxPdoSendsTheTypedBytesOnTheSelectedPdo) {
  auto& w = open();
  w.btSendRxPDO->click();
  w.edRxPdoData->setText("1 2 3");
  w.cbRxPdoNo->setCurrentIndex(1);
  w.btSendRxPDO->click();
  w.edRxPdoData->setText("0x10;0x20");
  w.cbRxPdoNo->setCurrentIndex(3);
  w.cbNodeID->setCurrentIndex(127);
  w.btSendRxPDO->click();
  const auto sent = driver->written();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], frame("205#0000000000000000"));
  EXPECT_EQ(sent[1], frame("305#010203"));
  EXPECT_EQ(sent[2], frame("57F#1020"));
  EXPECT_TRUE(messages.empty());
}

TEST_F(BusTraffic, RxPdoReportsAFailedWriteThroughTheDefaultHandler) {
  auto& w = open();
  driver->writeResult = can::kErrTxQueueFull;
  w.btSendRxPDO->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].kind, app::MessageKind::Default);
  EXPECT_EQ(messages[0].caption, "Busprobe");
  EXPECT_EQ(messages[0].text, "Error sending message, errorcode = 128.");
  EXPECT_EQ(w.edRxPdoData->text(), "0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00");
}

TEST_F(BusTraffic, PeriodTextsSetTheTimersOrReportTheConversionError) {
  auto& w = open();
  w.edGuardTime->setText("12.9");
  w.btnEnableGuard->click();
  EXPECT_TRUE(w.tiGuard->isActive());
  EXPECT_EQ(w.tiGuard->interval(), 12);
  w.edGuardTime->setText("abc");
  w.btnEnableGuard->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "'abc' is not a valid floating point value.");
  EXPECT_TRUE(w.tiGuard->isActive());  // the old period goes on
  EXPECT_EQ(w.tiGuard->interval(), 12);
  w.btnStopGuard->click();
  EXPECT_FALSE(w.tiGuard->isActive());
  w.btnStopGuard->click();  // stop on a stopped sender does nothing
  EXPECT_FALSE(w.tiGuard->isActive());

  for (const char* nothing : {"0", "0.7", "-20"}) {
    w.edSyncTime->setText(nothing);
    w.btnEnableSync->click();
    EXPECT_FALSE(w.tiSync->isActive()) << nothing;
  }
  w.edSyncTime->setText("20");
  w.btnEnableSync->click();
  EXPECT_TRUE(w.tiSync->isActive());
  EXPECT_EQ(w.tiSync->interval(), 20);
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(BusTraffic, GuardRequestsFollowTheNodeSelectedAtEachTick) {
  auto& w = open();
  w.tiGuardTimer();
  w.cbNodeID->setCurrentIndex(9);
  w.tiGuardTimer();
  w.tiSyncTimer();
  const auto sent = driver->written();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], frame("705#R"));
  EXPECT_EQ(sent[1], frame("709#R"));
  EXPECT_EQ(sent[2], frame("080#"));
}

// SYNC at 20 ms and guarding at 50 ms on the virtual bus: the timers run at those periods, every
// tick puts exactly one frame on the bus (seen by a second endpoint), and after "Stop" the timers
// are off and nothing more goes out.
TEST_F(BusTraffic, GuardAndSyncOnTheVirtualBusSendOneFrameATickUntilStopped) {
  auto bus = can::VirtualBus::create();
  auto listener = bus->endpoint();
  ASSERT_EQ(listener->open(0x001C, 0), 0u);
  app::TfrmBPX w(bus->endpoint());
  w.edSyncTime->setText("20");
  w.edGuardTime->setText("50");
  QSignalSpy syncTicks(w.tiSync, &QTimer::timeout);
  QSignalSpy guardTicks(w.tiGuard, &QTimer::timeout);
  w.btnEnableSync->click();
  w.btnEnableGuard->click();
  EXPECT_EQ(w.tiSync->interval(), 20);
  EXPECT_EQ(w.tiGuard->interval(), 50);
  ASSERT_TRUE(guardTicks.wait(2000));  // both have ticked at least once by now
  w.btnStopSync->click();
  w.btnStopGuard->click();
  EXPECT_FALSE(w.tiSync->isActive());
  EXPECT_FALSE(w.tiGuard->isActive());
  int syncs = 0, guards = 0;
  can::CanFrame f;
  while (listener->read(f) == 0) {
    if (f == frame("080#")) ++syncs;
    if (f == frame("705#R")) ++guards;
  }
  EXPECT_EQ(syncs, syncTicks.count());
  EXPECT_EQ(guards, guardTicks.count());
  EXPECT_GE(syncs, 1);
  QTest::qWait(100);
  EXPECT_NE(listener->read(f), 0u);
}

}  // namespace
}  // namespace bp::test
