// The window on vcan0 beside can-utils: what cansend puts on the bus shows in the monitor rows,
// and what the window's buttons and timers send, candump prints exactly.
#include <unistd.h>

#include <QSignalSpy>

#include <functional>
#include <string>
#include <vector>

#include "VcanWindow.h"

namespace bp::test {
namespace {

using namespace std::chrono_literals;

class WindowCanUtils : public VcanWindowTest {
 protected:
  void SetUp() override {
    if (::access(kCansend, X_OK) != 0 || ::access(kCandump, X_OK) != 0)
      GTEST_SKIP() << "can-utils (cansend, candump) are not installed";
    VcanWindowTest::SetUp();
  }
};

TEST_F(WindowCanUtils, OpensVcan0AtStartUp) {
  auto& w = open();
  EXPECT_TRUE(w.session().busOpen);
  EXPECT_EQ(w.lblVersion->text(), "Peak Can interface:\nSocketCAN vcan0 (vcan) at 500 kb/s");
  EXPECT_TRUE(startupMessages.empty());
  EXPECT_EQ(w.tvSDO->topLevelItemCount(), 6);
}

TEST_F(WindowCanUtils, MonitorShowsTheDataFramesCansendPuts) {
  open();
  const char* sent[] = {
      "123#DEADBEEF",
      "5A1#11.2233.44556677.88",
      "5AA#",
      "705#R",                  // remote request: not shown
      "00000123#R3",            // extended remote request: not shown
      "1F334455#1122",          // extended identifier: not shown
      "585#4300100092010200",   // the selected node's SDO response: to the engine, not shown
      "586#4300100092010200",   // another node's: shown
      "124##1112233",           // CAN FD: never delivered to the window's socket
      "123#0102",               // the second frame of 0x123 replaces length and data
  };
  for (const char* text : sent) ASSERT_EQ(cansend(text), 0) << text;
  const std::vector<QStringList> expected = {
      {"0x123", "2", "01 02", "", "2"},
      {"0x586", "8", "43 00 10 00 92 01 02 00", "", "1"},
      {"0x5A1", "8", "11 22 33 44 55 66 77 88", "", "1"},
      {"0x5AA", "0", "", "", "1"},
  };
  EXPECT_TRUE(pumpMonitor([&] { return rows() == expected; })) << rowsText(rows());
  EXPECT_TRUE(messages.empty());
}

TEST_F(WindowCanUtils, PeriodColumnShowsTheMeanIntervalOfTenFrames) {
  // Eleven frames of one identifier, each from a cansend run: the period is a tenth of the time
  // between the 1st and the 11th, which lies between the times measured around the runs.
  open();
  QElapsedTimer clock;
  clock.start();
  qint64 firstStarted = 0, firstEnded = 0, lastStarted = 0;
  for (int i = 0; i < 11; ++i) {
    const qint64 started = clock.elapsed();
    ASSERT_EQ(cansend("181#0" + std::to_string(i % 10)), 0);
    if (i == 0) firstStarted = started, firstEnded = clock.elapsed();
    if (i == 10) lastStarted = started;
  }
  const qint64 lastEnded = clock.elapsed();
  ASSERT_TRUE(pumpMonitor([&] { return row("0x181").value(4) == "11"; })) << rowsText(rows());
  const QStringList r = row("0x181");
  EXPECT_EQ(r.value(1), "1");
  EXPECT_EQ(r.value(2), "00");
  bool number = false;
  const int period = r.value(3).toInt(&number);
  ASSERT_TRUE(number) << r.value(3).toStdString();
  // The 1st frame arrived during the first run and the 11th during the last. Margins: the reader
  // stamps a frame up to a few milliseconds after it arrived, and the period is rounded.
  const qint64 shortest = lastStarted - firstEnded, longest = lastEnded - firstStarted;
  EXPECT_GE(period * 10, shortest - 15) << "runs " << shortest << " to " << longest << " ms apart";
  EXPECT_LE(period * 10, longest + 15) << "runs " << shortest << " to " << longest << " ms apart";
}

struct Sending {
  const char* name;
  std::function<void(app::TfrmBPX&)> action;
  std::vector<std::string> candump;
};

TEST_F(WindowCanUtils, CandumpPrintsWhatTheButtonsAndTimersSend) {
  auto& w = open();
  const auto click = [](const char* button) {
    return [button](app::TfrmBPX& win) { win.findChild<QPushButton*>(button)->click(); };
  };
  const Sending rows[] = {
      {"Start", click("btnStart"), {"000#0105"}},
      {"Stop", click("btnStop"), {"000#0205"}},
      {"Pre-operational", click("btnPreOper"), {"000#8005"}},
      {"Reset, node 127",
       [](app::TfrmBPX& win) {
         win.cbNodeID->setCurrentIndex(127);
         win.btnResetNode->click();
         win.cbNodeID->setCurrentIndex(5);
       },
       {"000#817F"}},
      {"Reset, all nodes",
       [](app::TfrmBPX& win) {
         win.cbNodeID->setCurrentIndex(0);
         win.btnResetNode->click();
         win.cbNodeID->setCurrentIndex(5);
       },
       {"000#8100"}},
      {"guarding tick", [](app::TfrmBPX& win) { win.tiGuardTimer(); }, {"705#R"}},
      {"SYNC tick", [](app::TfrmBPX& win) { win.tiSyncTimer(); }, {"080#"}},
      {"RxPDO 2, three bytes",
       [](app::TfrmBPX& win) {
         win.edRxPdoData->setText("0x11, 0x22, 0x33");
         win.cbRxPdoNo->setCurrentIndex(1);
         win.btSendRxPDO->click();
       },
       {"305#112233"}},
      {"RxPDO 4, eight bytes",
       [](app::TfrmBPX& win) {
         win.edRxPdoData->setText("1 2 3 4 5 6 7 255");
         win.cbRxPdoNo->setCurrentIndex(3);
         win.btSendRxPDO->click();
       },
       {"505#01020304050607FF"}},
      {"RxPDO 1, no bytes",
       [](app::TfrmBPX& win) {
         win.edRxPdoData->setText("");
         win.cbRxPdoNo->setCurrentIndex(0);
         win.btSendRxPDO->click();
       },
       {"205#"}},
  };
  CanDump dump;
  ASSERT_TRUE(dump.ready()) << dump.output();
  for (const Sending& r : rows) {
    SCOPED_TRACE(r.name);
    r.action(w);
    EXPECT_EQ(dump.frames(r.candump.size()), r.candump);
  }
  EXPECT_EQ(dump.framesWithin(100ms), std::vector<std::string>{});
  EXPECT_TRUE(messages.empty());
}

TEST_F(WindowCanUtils, CandumpPrintsTheSdoRequestOfATreeRead) {
  // Nobody answers: the request goes out once, the read ends with its time-out, and the client
  // aborts what it gave up (0x05040000).
  auto& w = open();
  CanDump dump;
  ASSERT_TRUE(dump.ready()) << dump.output();
  pressOnNode("0x1000 ", u'r');
  EXPECT_EQ(dump.frames(2), (std::vector<std::string>{"605#4000100000000000", "605#8000100000000405"}));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Error");
  EXPECT_EQ(messages[0].text, "SDO Transfer timeout\nDevice type\n4096 subindex 0");
  // Another node selected: the request goes to it.
  w.cbNodeID->setCurrentIndex(0x22);
  pressOnNode("0x1018 ", u'r');  // a record: nothing is sent for its own node
  pressOnNode("0x100A ", u'r');
  EXPECT_EQ(dump.frames(2), (std::vector<std::string>{"622#400A100000000000", "622#800A100000000405"}));
  EXPECT_EQ(dump.framesWithin(100ms), std::vector<std::string>{});
}

// The period typed in becomes the timer's, every tick of the timer puts exactly one frame on the
// bus, and after Stop the timer is off: checked tick by tick, not by counting over real time.
TEST_F(WindowCanUtils, SyncAndGuardTimersSendOneFrameATickUntilStopped) {
  auto& w = open();
  CanDump dump;
  ASSERT_TRUE(dump.ready()) << dump.output();
  struct Timer {
    QLineEdit* edit;
    QPushButton* enable;
    QPushButton* stop;
    QTimer* timer;
    const char* frame;
  };
  const Timer timers[] = {{w.edSyncTime, w.btnEnableSync, w.btnStopSync, w.tiSync, "080#"},
                          {w.edGuardTime, w.btnEnableGuard, w.btnStopGuard, w.tiGuard, "705#R"}};
  for (const Timer& t : timers) {
    SCOPED_TRACE(t.frame);
    QSignalSpy ticks(t.timer, &QTimer::timeout);
    t.edit->setText("25");
    t.enable->click();
    EXPECT_TRUE(t.timer->isActive());
    EXPECT_EQ(t.timer->interval(), 25);
    QElapsedTimer waited;
    waited.start();
    while (ticks.count() < 3 && waited.elapsed() < 5000) QTest::qWait(5);
    t.stop->click();
    EXPECT_FALSE(t.timer->isActive());
    const auto count = static_cast<std::size_t>(ticks.count());
    ASSERT_GE(count, 3u);
    EXPECT_EQ(dump.frames(count), std::vector<std::string>(count, t.frame));
    EXPECT_EQ(dump.framesWithin(100ms), std::vector<std::string>{});
  }
  EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace bp::test
