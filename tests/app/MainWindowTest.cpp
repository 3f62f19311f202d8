// The main window: layout, start-up, bus opening, node selection, default error handler.
#include <QAbstractItemView>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>

#include "WindowFixture.h"
#include "can/BitRate.h"
#include "util/Error.h"

namespace bp::test {
namespace {

struct ControlRow {
  const char* name;
  const char* kind;  // class name
  const char* caption;
  int left, top, width, height;
  int tab;  // -1: takes no focus
};

const ControlRow kControls[] = {
    {"lblVersion", "QLabel", "Peak Can interface:\nFake driver 1.0 at 500 kb/s", 8, 8, 45, 13, -1},
    {"Label7", "QLabel", "Speed", 248, 40, 31, 13, -1},
    {"cbSpeed", "bp::app::CloseUpComboBox", "500 kb/s", 304, 37, 121, 21, 21},
    {"Label2", "QLabel", "Node ID", 320, 12, 40, 13, -1},
    {"cbNodeID", "bp::app::CloseUpComboBox", "5", 376, 8, 73, 21, 5},
    {"Label1", "QLabel", "EDS - File", 248, 68, 47, 13, -1},
    {"edEDSFile", "QLineEdit", "drv17-ka.eds", 304, 64, 121, 21, 3},
    {"btnEDSLoad", "QPushButton", "&Load", 440, 64, 75, 25, 4},
    {"Label6", "QLabel", "Sync Time", 576, 8, 50, 13, -1},
    {"edSyncTime", "QLineEdit", "50", 576, 24, 57, 21, 17},
    {"btnEnableSync", "QPushButton", "Enable Sync", 648, 24, 105, 25, 16},
    {"btnStopSync", "QPushButton", "Stop", 760, 24, 33, 25, 18},
    {"Label4", "QLabel", "Guard time", 576, 48, 51, 13, -1},
    {"edGuardTime", "QLineEdit", "200", 576, 64, 57, 21, 10},
    {"btnEnableGuard", "QPushButton", "Enable guarding", 648, 64, 105, 25, 11},
    {"btnStopGuard", "QPushButton", "Stop", 760, 64, 35, 25, 12},
    {"lblSDO", "QLabel", "SDO", 8, 80, 23, 13, -1},
    {"tvSDO", "QTreeWidget", "", 8, 96, 401, 561, 0},
    {"lvReceived", "QTreeWidget", "", 416, 96, 401, 281, 2},
    {"Label5", "QLabel", "User SDO List", 416, 392, 67, 13, -1},
    {"lvUserSDO", "bp::app::ReportListView", "", 415, 411, 401, 209, 13},
    {"pbSaveSdo", "QPushButton", "Save User SDOs...", 416, 623, 121, 25, 19},
    {"btnReadUser", "QPushButton", "Read User SDOs", 560, 623, 113, 25, 15},
    {"btnWriteUser", "QPushButton", "Write User SDOs", 709, 624, 115, 25, 14},
    {"pbLoadSdo", "QPushButton", "Load User SDOs...", 416, 659, 121, 25, 20},
    {"btnClose", "QPushButton", "&Close", 719, 655, 97, 25, 1},
    {"Label3", "QLabel", "Send NMT command to node:", 16, 664, 143, 13, -1},
    {"btnStart", "QPushButton", "Start", 16, 680, 75, 25, 6},
    {"btnPreOper", "QPushButton", "Pre-operational", 104, 680, 81, 25, 8},
    {"btnStop", "QPushButton", "Stop", 200, 680, 75, 25, 7},
    {"btnResetNode", "QPushButton", "Reset", 288, 680, 75, 25, 9},
    {"edRxPdoData", "QLineEdit", "0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00", 415, 690, 235, 21, 22},
    {"cbRxPdoNo", "bp::app::CloseUpComboBox", "PDO1", 656, 690, 57, 21, 23},
    {"btSendRxPDO", "QPushButton", "<- Send RxPDO", 719, 686, 97, 25, 24},
};

QString captionOf(QWidget* w) {
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
  return {};
}

using MainWindow = WindowTest;

TEST_F(MainWindow, EveryControlHasItsNameKindCaptionAndBounds) {
  auto& w = open();
  EXPECT_EQ(w.windowTitle(), "Travik Busprobe V2.2");
  EXPECT_EQ(w.size(), QSize(832, 716));
  for (const auto& row : kControls) {
    SCOPED_TRACE(row.name);
    auto* control = w.findChild<QWidget*>(QString::fromLatin1(row.name));
    ASSERT_NE(control, nullptr);
    EXPECT_STREQ(control->metaObject()->className(), row.kind);
    EXPECT_EQ(captionOf(control), QString::fromLatin1(row.caption));
    if (qobject_cast<QLabel*>(control) != nullptr) {
      // Labels size themselves to their text: never smaller than designed, never moved.
      EXPECT_EQ(control->pos(), QPoint(row.left, row.top));
      EXPECT_GE(control->width(), row.width);
      EXPECT_GE(control->height(), row.height);
      EXPECT_GE(control->width(), control->sizeHint().width());
    } else {
      EXPECT_EQ(control->geometry(), QRect(row.left, row.top, row.width, row.height));
    }
    if (row.tab < 0) {
      EXPECT_EQ(control->focusPolicy() & Qt::TabFocus, 0);
    }
  }
}

TEST_F(MainWindow, TabOrderFollowsTheNumbers) {
  auto& w = open();
  std::vector<const ControlRow*> focusable;
  for (const auto& row : kControls)
    if (row.tab >= 0) focusable.push_back(&row);
  std::sort(focusable.begin(), focusable.end(), [](auto* a, auto* b) { return a->tab < b->tab; });
  for (std::size_t i = 0; i + 1 < focusable.size(); ++i) {
    SCOPED_TRACE(focusable[i]->name);
    auto* control = w.findChild<QWidget*>(QString::fromLatin1(focusable[i]->name));
    QWidget* next = control->nextInFocusChain();
    while (next != nullptr && next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    // Focus proxies of composite widgets (the views' viewports) are skipped by name.
    while (next != nullptr && next->objectName().isEmpty()) next = next->nextInFocusChain();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->objectName(), QString::fromLatin1(focusable[i + 1]->name));
  }
}

TEST_F(MainWindow, ListViewsHaveTheirColumns) {
  auto& w = open();
  const QStringList received{"Message ID", "Length", "Data", "Period", "Count"};
  const QStringList user{"R/W", "Name", "Index", "Sub", "Value"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(w.lvReceived->headerItem()->text(i), received[i]);
    EXPECT_EQ(w.lvUserSDO->headerItem()->text(i), user[i]);
  }
  EXPECT_EQ(w.lvReceived->columnWidth(0), 80);
  EXPECT_EQ(w.lvReceived->columnWidth(2), 160);
  EXPECT_EQ(w.lvUserSDO->columnWidth(0), 36);
  EXPECT_EQ(w.lvUserSDO->columnWidth(1), 140);
  EXPECT_EQ(w.lvUserSDO->columnWidth(2), 65);
  EXPECT_EQ(w.lvUserSDO->columnWidth(4), 100);
  EXPECT_EQ(w.tvSDO->indentation(), 19);
  EXPECT_TRUE(w.lvReceived->isSortingEnabled());
  EXPECT_EQ(w.lvUserSDO->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(w.tiBufferReader->interval(), 200);
  EXPECT_TRUE(w.tiBufferReader->isActive());
  EXPECT_FALSE(w.tiGuard->isActive());
  EXPECT_FALSE(w.tiSync->isActive());
}

TEST_F(MainWindow, FirstStartWithoutSettingUsesAndRemembersTheDefaultEdsName) {
  auto& w = open();
  EXPECT_EQ(w.edEDSFile->text(), "drv17-ka.eds");
  EXPECT_EQ(QSettings("Travik", "Busprobe").value("EDSFileName").toString(), "drv17-ka.eds");
}

TEST_F(MainWindow, StartUsesTheRememberedEdsName) {
  QSettings("Travik", "Busprobe").setValue("EDSFileName", "other.eds");
  auto& w = open();
  EXPECT_EQ(w.edEDSFile->text(), "other.eds");
}

TEST_F(MainWindow, OpensTheBusAt500kAndShowsTheDriverVersion) {
  auto& w = open();
  ASSERT_EQ(driver->openCodes.size(), 1u);
  EXPECT_EQ(driver->openCodes[0], 0x001C);
  EXPECT_TRUE(w.session().busOpen);
  EXPECT_EQ(w.lblVersion->text(), "Peak Can interface:\nFake driver 1.0 at 500 kb/s");
  EXPECT_TRUE(w.session().timer.running());
  EXPECT_EQ(w.cbSpeed->count(), 9);
  EXPECT_EQ(w.cbSpeed->currentIndex(), 7);
  EXPECT_EQ(w.cbNodeID->count(), 128);
  EXPECT_EQ(w.cbNodeID->itemText(127), "127");
  EXPECT_EQ(w.cbRxPdoNo->count(), 4);
  EXPECT_EQ(w.cbRxPdoNo->itemText(3), "PDO4");
}

TEST_F(MainWindow, WithoutAdapterTheLabelShowsWhyAndALaterOpenStartsTheReader) {
  auto& w = open([](FakeDriver& d) { d.openResult = can::kErrNoInterface; });
  EXPECT_FALSE(w.session().busOpen);
  EXPECT_EQ(w.lblVersion->text(),
            "Peak Can interface:\nOpen failed: no such CAN interface, or it is down (errorcode = 256)");
  EXPECT_EQ(w.cbSpeed->currentText(), "500 kb/s");
  EXPECT_FALSE(w.session().timer.running());
  // Choosing a rate later opens the bus and starts the reader.
  driver->openResult = 0;
  w.cbSpeedCloseUp();
  EXPECT_TRUE(w.session().busOpen);
  EXPECT_TRUE(w.session().timer.running());
  EXPECT_EQ(w.lblVersion->text(), "Peak Can interface:\nFake driver 1.0 at 500 kb/s");
}

TEST_F(MainWindow, AFailedVersionTextNamesACanInterface) {
  auto& w = open([](FakeDriver& d) { d.versionResult = 7; });
  EXPECT_TRUE(w.session().busOpen);
  EXPECT_EQ(w.lblVersion->text(), "Peak Can interface:\nCAN interface at 500 kb/s");
}

TEST_F(MainWindow, SpeedCloseUpReopensTheBusEvenOnTheSameItem) {
  auto& w = open();
  w.cbSpeedCloseUp();  // same item, 500 kb/s
  w.cbSpeed->setCurrentIndex(8);
  w.cbSpeedCloseUp();
  EXPECT_EQ(driver->closeCalls, 2);
  ASSERT_EQ(driver->openCodes.size(), 3u);
  EXPECT_EQ(driver->openCodes[1], 0x001C);
  EXPECT_EQ(driver->openCodes[2], 0x0014);
  EXPECT_EQ(w.lblVersion->text(), "Peak Can interface:\nFake driver 1.0 at 1mb/s");
  // A failed open leaves the chosen rate shown, marks the bus closed and tells why in the label;
  // the reader runs on.
  driver->openResult = can::kErrBitRate;
  w.cbSpeed->setCurrentIndex(0);
  w.cbSpeedCloseUp();
  EXPECT_FALSE(w.session().busOpen);
  EXPECT_EQ(w.cbSpeed->currentText(), "5 kb/s");
  EXPECT_EQ(driver->openCodes.back(), 0x7F7F);
  EXPECT_EQ(w.lblVersion->text(),
            "Peak Can interface:\nOpen failed: it runs at another bit rate, which this process may not change "
            "(errorcode = 512)");
  EXPECT_TRUE(w.session().timer.running());
}

TEST_F(MainWindow, ClosingTheListReopensTheBusOnceAtThePickedRate) {
  auto& w = open();
  w.show();
  QSignalSpy closeUps(w.cbSpeed, &app::CloseUpComboBox::closeUp);
  QAbstractItemView* list = w.cbSpeed->view();
  // By keyboard: from "500 kb/s" one down to "1mb/s".
  w.cbSpeed->showPopup();
  ASSERT_TRUE(list->isVisible());
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_EQ(driver->openCodes.back(), 0x0014);
  EXPECT_TRUE(w.lblVersion->text().endsWith(" at 1mb/s")) << w.lblVersion->text().toStdString();
  // By mouse: a click on "125 kb/s".
  w.cbSpeed->showPopup();
  ASSERT_TRUE(list->isVisible());
  const QRect item = list->visualRect(list->model()->index(5, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
  EXPECT_EQ(driver->openCodes.back(), 0x031C);
  EXPECT_TRUE(w.lblVersion->text().endsWith(" at 125 kb/s")) << w.lblVersion->text().toStdString();
  // Escape picks nothing and still re-opens, at the current item.
  w.cbSpeed->showPopup();
  QTest::keyClick(list, Qt::Key_Escape);
  QCoreApplication::processEvents();
  EXPECT_EQ(driver->openCodes, (std::vector<std::uint16_t>{0x001C, 0x0014, 0x031C, 0x031C}));
  EXPECT_EQ(driver->closeCalls, 3);
  EXPECT_EQ(closeUps.count(), 3) << "once per close";
  // Hiding the window with the list closed re-opens nothing.
  w.hide();
  QCoreApplication::processEvents();
  EXPECT_EQ(driver->openCalls, 4);
}

TEST_F(MainWindow, TheClosedSpeedBoxIgnoresWheelArrowsAndTyping) {
  auto& w = open();
  w.show();
  const auto wheel = [](QWidget* box, int delta) {
    QWheelEvent event(QPointF(5, 5), box->mapToGlobal(QPointF(5, 5)), {}, QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(box, &event);
  };
  const Qt::Key keys[] = {Qt::Key_Down, Qt::Key_Up, Qt::Key_PageDown, Qt::Key_PageUp,
                          Qt::Key_Home, Qt::Key_End, Qt::Key_1,      Qt::Key_5};
  for (const Qt::Key key : keys) QTest::keyClick(w.cbSpeed, key);
  wheel(w.cbSpeed, -120);
  wheel(w.cbSpeed, 120);
  EXPECT_EQ(w.cbSpeed->currentIndex(), 7);
  EXPECT_EQ(driver->openCalls, 1);
  // The node selector keeps the wheel.
  wheel(w.cbNodeID, -120);
  EXPECT_EQ(w.cbNodeID->currentIndex(), 6);
  // The keys that open the list still do.
  const std::pair<Qt::Key, Qt::KeyboardModifier> openers[] = {
      {Qt::Key_F4, Qt::NoModifier}, {Qt::Key_Down, Qt::AltModifier}, {Qt::Key_Up, Qt::AltModifier},
      {Qt::Key_Space, Qt::NoModifier}};
  for (const auto& [key, modifier] : openers) {
    SCOPED_TRACE(QKeySequence(key | modifier).toString().toStdString());
    QTest::keyClick(w.cbSpeed, key, modifier);
    EXPECT_TRUE(w.cbSpeed->view()->isVisible());
    w.cbSpeed->hidePopup();
    EXPECT_EQ(w.cbSpeed->currentIndex(), 7);
  }
}

TEST_F(MainWindow, SpeedCloseUpWithoutSelectionChangesNothing) {
  auto& w = open();
  w.cbSpeed->setCurrentIndex(-1);
  w.cbSpeedCloseUp();
  EXPECT_EQ(driver->closeCalls, 0);
  EXPECT_EQ(driver->openCalls, 1);
}

TEST_F(MainWindow, EveryBitRateRowOpensWithItsCode) {
  auto& w = open();
  for (int i = 0; i < 9; ++i) {
    w.cbSpeed->setCurrentIndex(i);
    w.cbSpeedCloseUp();
    EXPECT_EQ(driver->openCodes.back(), can::kBitRateTable[static_cast<std::size_t>(i)].code);
  }
}

TEST_F(MainWindow, NodeSelectorSetsTheNodeId) {
  auto& w = open();
  EXPECT_EQ(w.session().nodeId.load(), 5);
  w.cbNodeID->setCurrentIndex(0);
  EXPECT_EQ(w.session().nodeId.load(), 0);
  w.cbNodeID->setCurrentIndex(127);
  EXPECT_EQ(w.session().nodeId.load(), 127);
  EXPECT_FALSE(w.cbNodeID->isEditable());
  EXPECT_FALSE(w.cbSpeed->isEditable());
  EXPECT_FALSE(w.cbRxPdoNo->isEditable());
}

TEST_F(MainWindow, CloseButtonClosesAndShutDownClosesTheBus) {
  auto& w = open();
  w.show();
  w.btnClose->click();
  EXPECT_FALSE(w.isVisible());
  input.reset();
  window.reset();
  EXPECT_EQ(QFileInfo(path("SDOList.bin")).size(), 0);
}

// An unreadable SDOList.bin is copied aside at start-up; each shut-down step runs whatever the
// others did, and an unreadable file that could not be copied aside is never replaced.
struct UnreadableListRow {
  bool backupBlocked;    // SDOList.bin.bak is a folder
  bool sideFileBlocked;  // SDOList.bin.new is a folder
  const char* startupBoxEnd;
  int shutDownBoxes;
  const char* savedTo;  // the file that holds the list afterwards
};

TEST_F(MainWindow, AnUnreadableListFileIsKeptAndEveryShutDownStepRuns) {
  const UnreadableListRow rows[] = {
      {false, false, "\nIt was kept as SDOList.bin.bak; the list is saved to SDOList.bin when Busprobe closes.", 0,
       "SDOList.bin"},
      {true, false, "\nIt is left as it is; the list is saved to SDOList.bin.new when Busprobe closes.", 1,
       "SDOList.bin.new"},
      {true, true, "\nIt is left as it is; the list is saved to SDOList.bin.new when Busprobe closes.", 2, nullptr},
  };
  const QByteArray unreadable(1000, 'x');
  for (const auto& row : rows) {
    SCOPED_TRACE(row.startupBoxEnd);
    for (const char* name : {"SDOList.bin.bak", "SDOList.bin.new", "SDOList.bin"}) {
      QDir(path(name)).removeRecursively();
      QFile::remove(path(name));
    }
    QFile file(path("SDOList.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(unreadable);
    file.close();
    if (row.backupBlocked) QDir().mkpath(path("SDOList.bin.bak"));
    if (row.sideFileBlocked) QDir().mkpath(path("SDOList.bin.new"));

    auto& w = open();
    ASSERT_FALSE(startupMessages.empty());  // the EDS file's box comes first
    const ShownMessage& box = startupMessages.back();
    EXPECT_EQ(box.caption, "Error");
    EXPECT_TRUE(box.text.startsWith("SDOList.bin could not be loaded: Wrong file size\n"));
    EXPECT_TRUE(box.text.endsWith(row.startupBoxEnd)) << box.text.toStdString();
    if (!row.backupBlocked) {  // copied at once, not at exit
      QFile backup(path("SDOList.bin.bak"));
      ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
      EXPECT_EQ(backup.readAll(), unreadable);
    }
    od::ObjectEntry entry;
    entry.index = 0x1000;
    w.addToUserSdoList(entry);
    input.reset();
    window.reset();

    ASSERT_EQ(messages.size(), static_cast<std::size_t>(row.shutDownBoxes));
    for (const auto& box : messages) {
      EXPECT_EQ(box.caption, "Error");
      EXPECT_TRUE(box.text.startsWith("Cannot create file \"SDOList.bin.")) << box.text.toStdString();
    }
    if (row.savedTo != nullptr) {
      EXPECT_EQ(QFileInfo(path(row.savedTo)).size(), 608);
    }
    if (row.backupBlocked) {
      EXPECT_EQ(QFileInfo(path("SDOList.bin")).size(), unreadable.size());
    }
  }
}

struct DefaultTextRow {
  const char* message;
  const char* shown;
};

TEST(DefaultErrorHandler, AppendsAPeriodOnlyAfterCharactersAboveIt) {
  const DefaultTextRow rows[] = {
      {"Wrong file size", "Wrong file size."},   // a letter
      {"errorcode = 128", "errorcode = 128."},   // a digit
      {"really?", "really?."},                   // '?' is above '.'
      {"done.", "done."},
      {"stop!", "stop!"},
      {"trailing ", "trailing "},
      {"two lines\n", "two lines\n"},
      {"", ""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(app::defaultErrorText(QString::fromLatin1(row.message)), QString::fromLatin1(row.shown)) << row.message;
}

TEST(DefaultErrorHandler, GuardedHandlerShowsTheErrorWithCaptionBusprobe) {
  std::vector<ShownMessage> shown;
  app::setMessageSink([&](app::MessageKind k, const QString& c, const QString& t) { shown.push_back({k, c, t}); });
  app::guarded([] { throw bp::Error("'abc' is not a valid floating point value"); });
  app::resetMessageSink();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, app::MessageKind::Default);
  EXPECT_EQ(shown[0].caption, "Busprobe");
  EXPECT_EQ(shown[0].text, "'abc' is not a valid floating point value.");
}

TEST(TextFromBytes, ShowsUtf8AsUtf8AndOtherBytesAsLatin1) {
  EXPECT_EQ(app::textFromBytes("Temp\xC3\xA9rature"), QString::fromUtf8("Temp\xC3\xA9rature"));
  EXPECT_EQ(app::textFromBytes("Temp\xE9rature"), QString::fromLatin1("Temp\xE9rature"));
}

}  // namespace
}  // namespace bp::test
