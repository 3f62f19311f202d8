// vcan0 going down and up under the running window: no crash, nothing received and sends failing
// (with the message where the window shows one) while it is down; traffic again once it is up and
// the bit rate has been chosen again.
#include <string>
#include <vector>

#include "VcanWindow.h"

namespace bp::test {
namespace {

using namespace std::chrono_literals;

class WindowLinkDownUp : public VcanWindowTest {
 protected:
  void SetUp() override {
    if (!link.unavailableReason().empty()) GTEST_SKIP() << link.unavailableReason();
    VcanWindowTest::SetUp();
  }
  // Closing the drop-down list of cbSpeed on the item at `index`.
  void chooseBitRate(int index) {
    window->cbSpeed->setCurrentIndex(index);
    window->cbSpeedCloseUp();
  }
  LinkControl link;
};

TEST_F(WindowLinkDownUp, WindowRunsOnWhileTheLinkIsDownAndTalksAgainAfterTheRateIsChosen) {
  auto& w = open();
  ASSERT_EQ(cansend("321#01"), 0);
  ASSERT_TRUE(pumpMonitor([&] { return row("0x321").value(4) == "1"; })) << rowsText(rows());

  ASSERT_TRUE(link.down());
  // NMT, guarding and SYNC ignore the failed write; RxPDO and SDO report the driver's code.
  w.btnStart->click();
  w.tiGuardTimer();
  w.tiSyncTimer();
  EXPECT_TRUE(messages.empty());
  w.btSendRxPDO->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].kind, app::MessageKind::Default);
  EXPECT_EQ(messages[0].caption, "Busprobe");
  EXPECT_EQ(messages[0].text, "Error sending message, errorcode = 1024.");
  EXPECT_EQ(pressOnNode("0x1000 ", u'r'), "0x1000 Device type = 131474 (0x20192)") << "unchanged";
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].kind, app::MessageKind::Error);
  EXPECT_EQ(messages[1].text, "Error sending message, errorcode = 1024");
  EXPECT_NE(cansend("321#02"), 0);
  pumpMonitor([] { return false; }, 300);
  EXPECT_EQ(rows(), (std::vector<QStringList>{{"0x321", "1", "01", "", "1"}}));
  EXPECT_TRUE(w.session().timer.running());

  ASSERT_TRUE(link.up());
  chooseBitRate(7);  // "500 kb/s", the item already selected
  EXPECT_TRUE(w.session().busOpen);
  ASSERT_EQ(cansend("321#03"), 0);
  EXPECT_TRUE(pumpMonitor([&] { return row("0x321") == QStringList{"0x321", "1", "03", "", "2"}; }))
      << rowsText(rows());
  CanDump dump;
  ASSERT_TRUE(dump.ready()) << dump.output();
  w.btnStart->click();
  w.btSendRxPDO->click();
  EXPECT_EQ(dump.frames(2), (std::vector<std::string>{"000#0105", "205#0000000000000000"}));
  EXPECT_EQ(messages.size(), 2u) << "no new message";
}

TEST_F(WindowLinkDownUp, ARateChosenWhileDownLeavesTheBusClosedUntilChosenAgain) {
  auto& w = open();
  ASSERT_TRUE(link.down());
  chooseBitRate(6);  // "250 kb/s"
  EXPECT_FALSE(w.session().busOpen);
  EXPECT_EQ(w.cbSpeed->currentText(), "250 kb/s");
  EXPECT_TRUE(messages.empty()) << "a failed open shows nothing";
  w.btSendRxPDO->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Error sending message, errorcode = 1.") << "the bus is closed";

  ASSERT_TRUE(link.up());
  ASSERT_EQ(cansend("322#01"), 0);
  pumpMonitor([] { return false; }, 200);
  EXPECT_EQ(row("0x322"), QStringList{}) << "up again, but the bus is not open";
  chooseBitRate(6);
  EXPECT_TRUE(w.session().busOpen);
  ASSERT_EQ(cansend("322#02"), 0);
  EXPECT_TRUE(pumpMonitor([&] { return row("0x322") == QStringList{"0x322", "1", "02", "", "1"}; }))
      << rowsText(rows());
}

}  // namespace
}  // namespace bp::test
