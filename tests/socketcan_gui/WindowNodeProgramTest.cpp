// The window on vcan0 with the built busprobe-node program as node 5: reads and writes from the
// tree, the node's frames in the monitor, and its boot-up after the Reset button.
#include <string>
#include <vector>

#include "VcanWindow.h"

namespace bp::test {
namespace {

class WindowNodeProgram : public VcanWindowTest {
 protected:
  void SetUp() override {
    if (!NodeProgramProcess::built()) GTEST_SKIP() << "no busprobe-node at " BUSPROBE_NODE_PROGRAM;
    VcanWindowTest::SetUp();
    if (HasFatalFailure()) return;
    open();
    ASSERT_TRUE(window->session().busOpen);
    // The node starts after the window, so the window sees its boot-up.
    ASSERT_TRUE(node.start());
    ASSERT_TRUE(pumpMonitor([&] { return row("0x705") == QStringList{"0x705", "1", "00", "", "1"}; }))
        << rowsText(rows());
  }
  void TearDown() override {
    node.stop();
    VcanWindowTest::TearDown();
  }
  NodeProgramProcess node;
};

struct TreeRead {
  const char* node;
  const char* caption;
};

TEST_F(WindowNodeProgram, RReadsObjectsIntoTheTree) {
  const TreeRead reads[] = {
      {"0x1000 ", "0x1000 Device type = 131474 (0x20192)"},
      {"0x2300 ", "0x2300 Encoder zero offset = -1250 (0xFFFFFB1E)"},
      {"0x2100 ", "0x2100 Motor temperature = 25.5"},
      {"0x1008 ", "0x1008 Manufacturer device name = DRV17-KA Servo"},
      {"0x100A ", "0x100A Manufacturer software version = FW 2.04.17"},
  };
  for (const TreeRead& r : reads) EXPECT_EQ(pressOnNode(r.node, u'r'), r.caption);
  EXPECT_TRUE(messages.empty());
  // The node's answers went to the engine: no 0x585 row.
  pumpMonitor([] { return false; }, 50);
  EXPECT_EQ(row("0x585"), QStringList{});
}

TEST_F(WindowNodeProgram, WWritesThroughTheDialogAndRReadsItBack) {
  window->runInputDialog = [](app::TfrmInput& dialog) {
    dialog.edValue->setText("-20");
    return int(QDialog::Accepted);
  };
  input->cbAddUser->setChecked(false);
  EXPECT_EQ(pressOnNode("0x2400 ", u'w'), "0x2400 Temperature sensor trim = -20 (0xFFFFFFEC)");
  // Read back from the node into a tree that shows something else first.
  window->btnEDSLoadClick();
  EXPECT_EQ(pressOnNode("0x2400 ", u'r'), "0x2400 Temperature sensor trim = -20 (0xFFFFFFEC)");
  // A read-only object is not written: no dialog, nothing sent.
  bool asked = false;
  window->runInputDialog = [&](app::TfrmInput&) {
    asked = true;
    return int(QDialog::Rejected);
  };
  pressOnNode("0x1000 ", u'w');
  EXPECT_FALSE(asked);
  EXPECT_TRUE(messages.empty());
}

TEST_F(WindowNodeProgram, ResetButtonBootsTheNodeAgainAndStartMakesItAnswerSync) {
  window->btnResetNode->click();
  EXPECT_TRUE(pumpMonitor([&] { return row("0x705").value(4) == "2"; })) << rowsText(rows());
  EXPECT_EQ(row("0x705").value(2), "00");

  // Operational: every SYNC gives TPDO1 (status word, position).
  window->btnStart->click();
  window->tiSyncTimer();
  window->tiSyncTimer();
  EXPECT_TRUE(pumpMonitor([&] { return row("0x185").value(4) == "2"; })) << rowsText(rows());
  EXPECT_EQ(row("0x185").mid(0, 3), (QStringList{"0x185", "6", "40 00 00 00 00 00"}));
  // Stopped: SYNC goes unanswered.
  window->btnStop->click();
  window->tiSyncTimer();
  pumpMonitor([] { return false; }, 200);
  EXPECT_EQ(row("0x185").value(4), "2");
  EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace bp::test
