// The node's configuration as a DCF from the window: saved, the node reset, restored, compared.
#include <QFile>
#include <QMessageBox>

#include "WindowFixture.h"
#include "app/DcfCompareDialog.h"
#include "od/EdsReader.h"

namespace bp::test {
namespace {

using DcfWindow = WindowTest;

// Waits (running the window's events) until the node task has ended and its result is shown.
bool taskEnded(app::TfrmBPX& w) {
  return eventually([&] { return !w.session().sdo.busy() && w.lastCompare() != nullptr; });
}

TEST_F(DcfWindow, SavedConfigurationComesBackAfterAResetWithNoDifferences) {
  withDemoWindow([this](app::TfrmBPX& w, sim::SimNode& node) {
    ASSERT_TRUE(eventually([&] { return node.nmtState() == sim::NmtState::kPreOperational; }));  // booted
    const std::uint8_t heartbeat[] = {0xFA, 0x00};  // 250 ms
    const std::uint8_t velocity[] = {0xD2, 0x04, 0, 0};  // 1234
    ASSERT_EQ(node.writeValue(0x1017, 0, heartbeat), 0u);
    ASSERT_EQ(node.writeValue(0x6081, 0, velocity), 0u);
    w.chooseDcfFile = [this](bool, const QString&) { return path("node5.dcf"); };
    w.chooseCompareCsvFile = [this] { return path("differences.csv"); };

    w.compareNodeWithDefaults();
    ASSERT_TRUE(taskEnded(w));
    QStringList changed;
    for (int i = 0; i < w.lastCompare()->lvDifferences->topLevelItemCount(); ++i)
      changed << w.lastCompare()->lvDifferences->topLevelItem(i)->text(0);
    EXPECT_TRUE(changed.contains("0x1017") && changed.contains("0x6081")) << changed.join(' ').toStdString();
    w.lastCompare()->btnCompareCsv->click();
    QFile csv(path("differences.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_TRUE(csv.readAll().startsWith("Index,Sub,Name,Left,Right\n0x"));
    w.lastCompare()->close();

    w.saveDcf();
    ASSERT_TRUE(eventually([&] { return QFile::exists(path("node5.dcf")); }));
    od::ObjectDictionary saved;
    ASSERT_NO_THROW(od::ReadEDSFile(path("node5.dcf").toStdString(), saved, '.', 5));
    EXPECT_EQ(saved.find(0x1017, 0)->value, 250);

    w.btnResetNode->click();  // back to the defaults
    ASSERT_TRUE(eventually([&] { return node.integerValue(0x1017, 0) == 0; }));
    w.askRestoreOptions = [](const QString&) { return dcf::RestoreOptions{false, false}; };
    w.restoreFromDcf();
    ASSERT_TRUE(taskEnded(w));
    EXPECT_EQ(w.lastCompare()->lvDifferences->topLevelItemCount(), 0);
    EXPECT_TRUE(w.lastCompare()->lblCompare->text().endsWith(": 0 differences"))
        << w.lastCompare()->lblCompare->text().toStdString();
    EXPECT_EQ(node.integerValue(0x1017, 0), 250);
    EXPECT_EQ(node.integerValue(0x6081, 0), 1234);
    EXPECT_EQ(node.integerValue(0x1800, 1), 0x185);
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();

    // A file whose first write the node refuses (0x1000 made writable in it): the restore stops
    // there, or, asked to go on, writes the rest and says how many failed.
    QFile file(path("node5.dcf"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    file.close();
    const qsizetype deviceType = text.indexOf("[1000]");
    text.replace(text.indexOf("AccessType=ro", deviceType), 13, "AccessType=rw");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size());
    file.close();
    for (const bool goOn : {false, true}) {
      w.lastCompare()->close();
      w.btnResetNode->click();
      ASSERT_TRUE(eventually([&] { return node.integerValue(0x1017, 0) == 0; }));
      w.askRestoreOptions = [goOn](const QString&) { return dcf::RestoreOptions{false, goOn}; };
      w.restoreFromDcf();
      ASSERT_TRUE(taskEnded(w));
      EXPECT_EQ(node.integerValue(0x1017, 0), goOn ? 250 : 0);
      ASSERT_FALSE(messages.empty());
      EXPECT_TRUE(messages.back().text.startsWith("0x1000 sub 0: ")) << messages.back().text.toStdString();
      EXPECT_EQ(messages.back().text.contains("The restore stopped there."), !goOn);
    }
  });
}

}  // namespace
}  // namespace bp::test
