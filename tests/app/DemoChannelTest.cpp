// The window on the demo channel: the simulated node boots, answers reads and takes writes.
#include <QElapsedTimer>
#include <QFile>

#include "WindowFixture.h"
#include "app/Channel.h"

namespace bp::test {
namespace {

using DemoChannel = WindowTest;

TEST_F(DemoChannel, NodeBootsIntoTheMonitorAndServesTheSampleDictionary) {
  ASSERT_TRUE(QFile::copy(QStringLiteral(BUSPROBE_SOURCE_DIR "/examples/drv17-ka.eds"), path("drv17-ka.eds")));
  app::Options options;
  options.demo = true;
  app::Channel channel = app::openChannel(options);
  {
    app::TfrmBPX w(std::move(channel.driver));
    app::TfrmInput dialog(&w);
    w.setInputDialog(&dialog);
    channel.startPeer();
    EXPECT_EQ(w.lblVersion->text(), "Peak Can interface:\nVirtual CAN bus (in-process) at 500 kb/s");

    // The boot-up frame shows within a tick or two.
    QElapsedTimer t;
    t.start();
    while (w.lvReceived->topLevelItemCount() == 0 && t.elapsed() < 2000) {
      QTest::qWait(20);
      w.tiBufferReaderTimer();
    }
    ASSERT_GE(w.lvReceived->topLevelItemCount(), 1);
    EXPECT_EQ(w.lvReceived->topLevelItem(0)->text(0), "0x705");
    EXPECT_EQ(w.lvReceived->topLevelItem(0)->text(2), "00");

    // A segmented string read from the tree.
    QTreeWidgetItem* name = findNode(w.tvSDO, "0x1008 ");
    ASSERT_NE(name, nullptr);
    w.tvSDO->setCurrentItem(name);
    w.tvSDOKeyPress(u'r');
    EXPECT_TRUE(messages.empty()) << (messages.empty() ? "" : messages[0].text.toStdString());
    EXPECT_EQ(name->text(0), "0x1008 Manufacturer device name = DRV17-KA Servo");

    // A write to the control word, then the status word follows the drive's state machine.
    QTreeWidgetItem* control = findNode(w.tvSDO, "0x6040 ");
    ASSERT_NE(control, nullptr);
    w.tvSDO->setCurrentItem(control);
    w.runInputDialog = [](app::TfrmInput& d) {
      d.edValue->setText("6");
      return int(QDialog::Accepted);
    };
    w.tvSDOKeyPress(u'w');
    QTreeWidgetItem* status = findNode(w.tvSDO, "0x6041 ");
    ASSERT_NE(status, nullptr);
    w.tvSDO->setCurrentItem(status);
    w.tvSDOKeyPress(u'r');
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(status->text(0).endsWith("= 33 (0x21)")) << status->text(0).toStdString();
    channel.stopPeer();
  }
}

}  // namespace
}  // namespace bp::test
