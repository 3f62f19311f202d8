// The Bus view on the demo bus: node states, a lost node, an emergency with its text, TPDO1 by
// name; and a log opened without a bus, recorded back and filtered.
#include <QFile>
#include <QMenu>

#include "WindowFixture.h"
#include "app/BusViewWindow.h"
#include "app/TraceModel.h"
#include "channel/Channel.h"
#include "sim/SimNode.h"

namespace bp::test {
namespace {

QStringList rowTexts(QTreeWidget* view, int row) {
  QStringList texts;
  if (row >= view->topLevelItemCount()) return texts;
  for (int c = 0; c < view->columnCount(); ++c) texts << view->topLevelItem(row)->text(c);
  return texts;
}

// The lvPdo row of the object named `name`, or nullptr.
QTreeWidgetItem* pdoRow(app::TfrmBusView& v, const QString& name) {
  for (int i = 0; i < v.lvPdo->topLevelItemCount(); ++i)
    if (v.lvPdo->topLevelItem(i)->text(2) == name) return v.lvPdo->topLevelItem(i);
  return nullptr;
}

class BusView : public WindowTest {
 protected:
  static void writeU16(sim::SimNode& node, std::uint16_t index, std::uint16_t value) {
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
    ASSERT_EQ(node.writeValue(index, 0, bytes), 0u);
  }
};

TEST_F(BusView, ShowsNodeStatesALostNodeEmergenciesAndPdoValuesByName) {
  withDemoWindow([this](app::TfrmBPX& w, sim::SimNode& node) {
    // F2 opens it; the main window keeps its controls where they were.
    const QRect monitor = w.lvReceived->geometry();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(w.tvSDO, Qt::Key_F2);
    auto* view = w.findChild<app::TfrmBusView*>(QStringLiteral("frmBusView"));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->isVisible());
    EXPECT_EQ(w.lvReceived->geometry(), monitor);

    writeU16(node, 0x1017, 100);  // heartbeat every 100 ms
    w.btnStart->click();
    ASSERT_TRUE(eventually([&] { return rowTexts(view->lvNodes, 0).mid(0, 2) == QStringList({"5", "Operational"}); }))
        << rowTexts(view->lvNodes, 0).join(u'|').toStdString();
    EXPECT_TRUE(eventually([&] { return rowTexts(view->lvNodes, 0).value(3) == "100 ms"; }));

    // TPDO1 on every SYNC: the status word and the position by name, following the drive.
    QTreeWidgetItem* status = pdoRow(*view, "Statusword");
    QTreeWidgetItem* position = pdoRow(*view, "Position actual value");
    ASSERT_NE(status, nullptr);
    ASSERT_NE(position, nullptr);
    for (std::uint16_t word : {0x06, 0x07, 0x0F}) writeU16(node, 0x6040, word);
    const std::uint8_t target[] = {0x10, 0x27, 0, 0};  // 10,000 counts
    ASSERT_EQ(node.writeValue(0x607A, 0, target), 0u);
    w.edSyncTime->setText("20");
    w.btnEnableSync->click();
    ASSERT_TRUE(eventually([&] { return status->text(3) == "39 (0x27)"; }))
        << status->text(3).toStdString();
    ASSERT_TRUE(eventually([&] { return !position->text(3).isEmpty(); }));
    const QString first = position->text(3);
    EXPECT_TRUE(eventually([&] { return position->text(3) != first; })) << "the drive moves";
    w.btnStopSync->click();

    // The heartbeat stops: lost, in red; it comes back: said so.
    writeU16(node, 0x1017, 0);
    ASSERT_TRUE(eventually([&] { return rowTexts(view->lvNodes, 0).value(1) == "lost"; }));
    EXPECT_EQ(view->lvNodes->topLevelItem(0)->foreground(1).color(), QColor(Qt::red));
    writeU16(node, 0x1017, 100);
    EXPECT_TRUE(eventually([&] { return rowTexts(view->lvNodes, 0).value(4).startsWith("back; lost"); }))
        << rowTexts(view->lvNodes, 0).join(u'|').toStdString();

    node.raiseFault(0x2310);
    ASSERT_TRUE(eventually([&] { return view->lvEmcy->topLevelItemCount() == 1; }));
    const QStringList emcy = rowTexts(view->lvEmcy, 0);
    EXPECT_EQ(emcy.mid(1, 2), QStringList({"5", "0x2310"}));
    EXPECT_TRUE(emcy[3].contains("Continuous over-current")) << emcy[3].toStdString();
    EXPECT_TRUE(emcy[4].contains("generic")) << emcy[4].toStdString();
    EXPECT_TRUE(messages.empty());
  });
}

TEST_F(BusView, OpensALogWithoutABusFiltersItAndRecordsTheLiveBus) {
  QFile log(path("run.log"));
  ASSERT_TRUE(log.open(QIODevice::WriteOnly));
  log.write("(1700000000.000000) can0 705#00\n"
            "(1700000000.001000) can0 000#0105\n"
            "(1700000000.002000) can0 185#2700102700\n"
            "not a frame\n"
            "(1700000000.003000) can0 085#1023010000000000\n");
  log.close();
  withDemoWindow([this](app::TfrmBPX& w, sim::SimNode&) {
    w.openBusView();
    app::TfrmBusView& v = *w.busView();
    ASSERT_TRUE(v.openLog(path("run.log")));
    app::TraceModel& trace = v.traceModel();
    ASSERT_EQ(trace.rowCount(), 4);
    EXPECT_EQ(trace.cellText(1, app::TraceModel::kMeaning), "NMT Start node 5");
    EXPECT_EQ(trace.cellText(3, app::TraceModel::kTime), "3.000");
    ASSERT_EQ(messages.size(), 1u);  // the bad line is named, the rest is shown
    EXPECT_TRUE(messages[0].text.contains("line 4")) << messages[0].text.toStdString();
    EXPECT_EQ(rowTexts(v.lvNodes, 0).mid(0, 2), QStringList({"5", "Boot-up"}));
    EXPECT_EQ(v.lvEmcy->topLevelItemCount(), 1);

    // TPDO1 of 5 bytes: the status word fits, the position (4 bytes at byte 2) does not.
    EXPECT_EQ(pdoRow(v, "Statusword")->text(3), "39 (0x27)");
    EXPECT_EQ(pdoRow(v, "Position actual value")->text(3), "not in the frame");
    pdoRow(v, "Statusword")->setCheckState(0, Qt::Checked);  // plotted from the log read already
    const busview::PlotData& plots = v.model().plots();
    ASSERT_EQ(plots.seriesCount(), 1u);
    ASSERT_EQ(plots.samples(plots.series()[0]).size(), 1u);
    EXPECT_EQ(plots.samples(plots.series()[0])[0].value, 39.0);

    v.edTraceId->setText("85");  // hex, as the list shows identifiers
    v.traceFilterChange();
    ASSERT_EQ(trace.rowCount(), 1);
    EXPECT_EQ(trace.cellText(0, app::TraceModel::kId), "085");

    // Back to the live bus, and a recording of it that reads back.
    v.edTraceId->clear();
    v.traceFilterChange();
    v.btnLive->click();
    v.chooseLogFile = [this](bool save) { return save ? path("rec.log") : QString(); };
    v.btnRecord->click();
    ASSERT_TRUE(v.btnRecord->isChecked());
    w.btnPreOper->click();
    w.btnStart->click();
    ASSERT_TRUE(eventually([&] { return v.model().recorder().framesRecorded() >= 2; }));
    v.btnRecord->click();
    QFile rec(path("rec.log"));
    ASSERT_TRUE(rec.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(rec.readAll());
    EXPECT_TRUE(text.contains(" can0 000#8005\n") && text.contains(" can0 000#0105\n")) << text.toStdString();
  });
}

}  // namespace
}  // namespace bp::test
