// The window on the demo channel: the simulated node boots, answers reads and takes writes.
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>

#include "WindowFixture.h"
#include "channel/Channel.h"

namespace bp::test {
namespace {

class DemoChannel : public WindowTest {
 protected:
  // The window on the demo bus with the node booted; `run` gets the window.
  void withDemoWindow(const std::function<void(app::TfrmBPX&)>& run) {
    WindowTest::withDemoWindow([&](app::TfrmBPX& w, sim::SimNode&) { run(w); });
  }
  // Selects the object node whose caption starts with `prefix` (a sub-object when `sub` is set).
  static QTreeWidgetItem* select(app::TfrmBPX& w, const QString& prefix, const QString& sub = {}) {
    QTreeWidgetItem* node = findNode(w.tvSDO, prefix);
    for (int i = 0; node != nullptr && !sub.isEmpty() && i < node->childCount(); ++i) {
      if (node->child(i)->text(0).startsWith(sub)) {
        node = node->child(i);
        break;
      }
    }
    if (node != nullptr) w.tvSDO->setCurrentItem(node);
    return node;
  }
  // Presses `key` and waits until the file transfer it started has ended.
  void transfer(app::TfrmBPX& w, QChar key) {
    w.tvSDOKeyPress(key);
    QElapsedTimer t;
    t.start();
    while (w.session().sdo.busy() && t.elapsed() < 20000) QTest::qWait(20);
    QTest::qWait(250);  // the progress dialog's last poll
  }
  std::string firstMessage() const { return messages.empty() ? "" : messages[0].text.toStdString(); }
};

TEST_F(DemoChannel, NodeBootsIntoTheMonitorAndServesTheSampleDictionary) {
  withDemoWindow([this](app::TfrmBPX& w) {
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
    QTreeWidgetItem* name = select(w, "0x1008 ");
    ASSERT_NE(name, nullptr);
    w.tvSDOKeyPress(u'r');
    EXPECT_EQ(firstMessage(), "");
    EXPECT_EQ(name->text(0), "0x1008 Manufacturer device name = DRV17-KA Servo");

    // A write to the control word, then the status word follows the drive's state machine.
    ASSERT_NE(select(w, "0x6040 "), nullptr);
    w.runInputDialog = [](app::TfrmInput& d) {
      d.edValue->setText("6");
      return int(QDialog::Accepted);
    };
    w.tvSDOKeyPress(u'w');
    QTreeWidgetItem* status = select(w, "0x6041 ");
    ASSERT_NE(status, nullptr);
    w.tvSDOKeyPress(u'r');
    EXPECT_EQ(firstMessage(), "");
    EXPECT_TRUE(status->text(0).endsWith("= 33 (0x21)")) << status->text(0).toStdString();
  });
}

TEST_F(DemoChannel, EditWritesAnyTypeAndFilesGoBothWaysByBlockTransfer) {
  withDemoWindow([this](app::TfrmBPX& w) {
    // E: a 64-bit integer and a long string, each read back equal.
    const std::pair<QString, QString> edits[] = {{"0x2511 ", "-9000000000"}, {"0x2500 ", QString(600, u'x')}};
    for (const auto& [object, text] : edits) {
      QTreeWidgetItem* node = select(w, object);
      ASSERT_NE(node, nullptr);
      w.runInputDialog = [&](app::TfrmInput& d) {
        EXPECT_EQ(d.objectName(), "frmEdit");
        d.edValue->setText(text);
        return int(QDialog::Accepted);
      };
      w.tvSDOKeyPress(u'e');
      EXPECT_EQ(firstMessage(), "");
      w.runInputDialog = [&](app::TfrmInput& d) {
        EXPECT_EQ(d.edValue->text(), text);  // the editor starts from the value read back
        return int(QDialog::Rejected);
      };
      w.tvSDOKeyPress(u'e');
    }

    // U: the 64 KiB parameter block to a file, by block transfer; D: a changed file back, read again.
    ASSERT_NE(select(w, "0x2530 "), nullptr);
    w.chooseTransferFile = [this](bool, const QString&) { return path("program.bin"); };
    transfer(w, u'U');
    QFile file(path("program.bin"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << firstMessage();
    QByteArray data = file.readAll();
    file.close();
    ASSERT_EQ(data.size(), 65536);
    EXPECT_EQ(static_cast<unsigned char>(data[300]), 300 % 251);
    data[0] = 'Z';
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data.left(5000));
    file.close();
    transfer(w, u'D');
    transfer(w, u'U');
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), data.left(5000));
    EXPECT_EQ(firstMessage(), "");
    EXPECT_TRUE(w.tvSDO->currentItem()->text(0).contains("5000")) << w.tvSDO->currentItem()->text(0).toStdString();

    // The context menu offers the six commands with their keys, then the node's configuration and
    // the Bus view.
    QStringList shown;
    w.runContextMenu = [&](QMenu& menu, const QPoint&) {
      for (QAction* a : menu.actions()) shown << a->text();
    };
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.tvSDO->scrollToItem(w.tvSDO->currentItem());
    w.tvSDOContextMenu(w.tvSDO->visualItemRect(w.tvSDO->currentItem()).center());
    EXPECT_EQ(shown, (QStringList{"&Read\tR", "Read and &add to list\tA", "&Write value...\tW", "&Edit value...\tE",
                                  "&Upload to file...\tU", "&Download from file...\tD", "",
                                  "&Node configuration (DCF)", "&Bus view\tF2"}));
  });
}

}  // namespace
}  // namespace bp::test
