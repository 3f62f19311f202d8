// The main window: layout, start-up, bus opening, node selection, default error handler.
#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOption>
#include <QTreeWidget>

#include "WindowFixture.h"
#include "can/BitRate.h"
#include "util/Error.h"

namespace bp::test {
namespace {

// The tab order of the layout: index = tab number.
const char* const kTabOrder[] = {
    "tvSDO",       "btnClose",  "lvReceived",  "edEDSFile",   "btnEDSLoad",     "cbNodeID",     "btnStart",
    "btnStop",     "btnPreOper", "btnResetNode", "edGuardTime", "btnEnableGuard", "btnStopGuard", "lvUserSDO",
    "btnWriteUser", "btnReadUser", "btnEnableSync", "edSyncTime", "btnStopSync",  "pbSaveSdo",    "pbLoadSdo",
    "cbSpeed",     "edRxPdoData", "cbRxPdoNo",   "btSendRxPDO"};

// The controls of a window: its child widgets that are no windows of their own.
std::vector<QWidget*> controlsOf(const QWidget& window) {
  std::vector<QWidget*> controls;
  for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (!child->isWindow()) controls.push_back(child);
  return controls;
}

std::string nameOf(const QWidget* control) { return control->objectName().toStdString(); }

// The name a control of its kind must have: the kind's prefix, then a capital; the designer's
// own label names "LabelN" too. A tree view that shows no root decoration is a list view.
QString namePattern(const QWidget* control) {
  if (qobject_cast<const QLabel*>(control) != nullptr) return QStringLiteral("lbl[A-Z]\\w*|Label\\d+");
  if (qobject_cast<const QPushButton*>(control) != nullptr) return QStringLiteral("(btn|bt|pb)[A-Z]\\w*");
  if (qobject_cast<const QLineEdit*>(control) != nullptr) return QStringLiteral("ed[A-Z]\\w*");
  if (qobject_cast<const QComboBox*>(control) != nullptr) return QStringLiteral("cb[A-Z]\\w*");
  if (const auto* view = qobject_cast<const QTreeView*>(control))
    return view->rootIsDecorated() ? QStringLiteral("tv[A-Z]\\w*") : QStringLiteral("lv[A-Z]\\w*");
  return {};  // a kind without a naming rule
}

// A caption `need` pixels wide in `room` pixels: empty when it fits, else what is cut and by how much.
QString cut(const QString& caption, int need, int room) {
  return need > room ? QStringLiteral("%1 (%2 px in %3)").arg(caption).arg(need).arg(room) : QString();
}

// The first caption of a control that its control cuts, in the window's font and the room the
// style leaves for it; empty when every caption is shown whole.
QString clippedCaption(QWidget* control) {
  const QFontMetrics fm(control->font());
  QStyle* style = control->style();
  if (auto* label = qobject_cast<QLabel*>(control)) {
    const QRect room = label->contentsRect();
    const int flags = static_cast<int>(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect need = fm.boundingRect(room, flags, label->text());
    if (need.height() > room.height()) return cut(label->text(), need.height(), room.height());
    return cut(label->text(), need.width(), room.width());
  }
  if (auto* button = qobject_cast<QPushButton*>(control)) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect room = style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    return cut(button->text(), fm.size(Qt::TextShowMnemonic, button->text()).width(), room.width());
  }
  if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    constexpr int kEditMargin = 2;  // QLineEdit's own space on each side of its text
    const int room = style->subElementRect(QStyle::SE_LineEditContents, &option, edit).width() -
                     edit->textMargins().left() - edit->textMargins().right() - 2 * kEditMargin;
    return cut(edit->text(), fm.horizontalAdvance(edit->text()), room);
  }
  if (auto* box = qobject_cast<QComboBox*>(control)) {
    QStyleOptionComboBox option;
    option.initFrom(box);
    const QRect room = style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box);
    for (int i = 0; i < box->count(); ++i)
      if (QString c = cut(box->itemText(i), fm.horizontalAdvance(box->itemText(i)), room.width()); !c.isEmpty())
        return c;
    return {};
  }
  if (auto* view = qobject_cast<QTreeWidget*>(control); view != nullptr && !view->isHeaderHidden()) {
    const QFontMetrics headerFm(view->header()->font());
    const int margin = 2 * style->pixelMetric(QStyle::PM_HeaderMargin, nullptr, view->header());
    for (int i = 0; i < view->columnCount(); ++i) {
      const QString caption = view->headerItem()->text(i);
      if (QString c = cut(caption, headerFm.horizontalAdvance(caption) + margin, view->header()->sectionSize(i));
          !c.isEmpty())
        return c;
    }
  }
  return {};
}

// Captions known to be cut where the window's font is Liberation Sans 8 pt: the RxPDO data edit's
// eight zero bytes need 233 pixels, and the edit's bounds leave 229 for its text.
const QStringList kKnownCut = {QStringLiteral("edRxPdoData")};

// Both texts the version label shows after start-up: the open bus, and the longest reason of a
// failed open, which wraps.
const std::function<void(FakeDriver&)> kStartUps[] = {
    [](FakeDriver&) {},
    [](FakeDriver& d) { d.openResult = can::kErrBitRate; },
};

using MainWindow = WindowTest;

TEST_F(MainWindow, EveryControlIsNamedForItsKindAndShowsItsCaptionsWhole) {
  for (const auto& startUp : kStartUps) {
    auto& w = open(startUp);
    SCOPED_TRACE(w.lblVersion->text().toStdString());
    for (QWidget* control : controlsOf(w)) {
      SCOPED_TRACE(nameOf(control));
      const QString pattern = namePattern(control);
      ASSERT_FALSE(pattern.isEmpty()) << control->metaObject()->className();
      EXPECT_TRUE(QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(control->objectName()).hasMatch());
      if (!kKnownCut.contains(control->objectName())) {
        EXPECT_EQ(clippedCaption(control).toStdString(), "");
      }
    }
  }
}

TEST_F(MainWindow, EveryControlLiesInTheClientAreaAndOverlapsNoOther) {
  for (const auto& startUp : kStartUps) {
    auto& w = open(startUp);
    SCOPED_TRACE(w.lblVersion->text().toStdString());
    const std::vector<QWidget*> controls = controlsOf(w);
    for (std::size_t i = 0; i < controls.size(); ++i) {
      EXPECT_TRUE(w.rect().contains(controls[i]->geometry())) << nameOf(controls[i]);
      for (std::size_t j = i + 1; j < controls.size(); ++j)
        EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
            << nameOf(controls[i]) << " and " << nameOf(controls[j]);
    }
  }
}

TEST_F(MainWindow, TabVisitsEveryFocusableControlOnceInTheLayoutsOrder) {
  auto& w = open();
  w.show();
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  QStringList order;
  for (const char* name : kTabOrder) order << QString::fromLatin1(name);
  QStringList focusable;
  for (QWidget* control : controlsOf(w))
    if ((control->focusPolicy() & Qt::TabFocus) != 0) focusable << control->objectName();
  focusable.sort();
  QStringList sortedOrder = order;
  sortedOrder.sort();
  EXPECT_EQ(focusable, sortedOrder) << "the controls that take focus by Tab are those with a tab number";
  w.tvSDO->setFocus();
  for (qsizetype step = 1; step <= order.size(); ++step) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), order[step % order.size()]) << "Tab number " << step;
  }
}

TEST_F(MainWindow, TheWindowItsBigViewsAndTheNmtButtonsHoldTheirPlaces) {
  auto& w = open();
  EXPECT_EQ(w.windowTitle(), "Travik Busprobe V2.2");
  EXPECT_EQ(w.size(), QSize(832, 716));
  const std::pair<QWidget*, QRect> anchors[] = {
      {w.tvSDO, {8, 96, 401, 561}},     {w.lvReceived, {416, 96, 401, 281}}, {w.btnStart, {16, 680, 75, 25}},
      {w.btnPreOper, {104, 680, 81, 25}}, {w.btnStop, {200, 680, 75, 25}},   {w.btnResetNode, {288, 680, 75, 25}},
  };
  for (const auto& [control, bounds] : anchors) EXPECT_EQ(control->geometry(), bounds) << nameOf(control);
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

TEST_F(MainWindow, EveryBitRateRowOpensWithItsCodeAndNoRowOpensNothing) {
  auto& w = open();
  w.cbSpeed->setCurrentIndex(-1);
  w.cbSpeedCloseUp();
  EXPECT_EQ(driver->closeCalls, 0);
  EXPECT_EQ(driver->openCalls, 1);
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

TEST(MessageBoxes, GuardedShowsTheErrorsOwnMessageInTheBoxOfItsKind) {
  struct Row {
    app::MessageKind kind;
    const char* caption;
    const char* text;
  };
  const Row rows[] = {
      {app::MessageKind::Error, "Error", "'abc' is not a valid floating point value"},
      {app::MessageKind::UnsupportedType, "Unsupported type", "'abc' is not a valid floating point value"},
      {app::MessageKind::Default, "Busprobe", "'abc' is not a valid floating point value."},
  };
  std::vector<ShownMessage> shown;
  app::setMessageSink([&](app::MessageKind k, const QString& c, const QString& t) { shown.push_back({k, c, t}); });
  for (const Row& row : rows) {
    SCOPED_TRACE(row.caption);
    shown.clear();
    EXPECT_TRUE(app::guarded(row.kind, [] {}));
    EXPECT_FALSE(app::guarded(row.kind, [] { throw bp::Error("'abc' is not a valid floating point value"); }));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, row.kind);
    EXPECT_EQ(shown[0].caption, row.caption);
    EXPECT_EQ(shown[0].text, row.text);
  }
  app::resetMessageSink();
}

TEST(TextFromBytes, ShowsUtf8AsUtf8AndOtherBytesAsLatin1) {
  EXPECT_EQ(app::textFromBytes("Temp\xC3\xA9rature"), QString::fromUtf8("Temp\xC3\xA9rature"));
  EXPECT_EQ(app::textFromBytes("Temp\xE9rature"), QString::fromLatin1("Temp\xE9rature"));
}

}  // namespace
}  // namespace bp::test
