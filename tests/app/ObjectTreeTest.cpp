// The object dictionary tree: loading an EDS file, and R, A, W and U on its nodes.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressDialog>
#include <QTimer>

#include "WindowFixture.h"
#include "app/ItemEntry.h"
#include "od/EdsReader.h"
#include "support/FrameText.h"

namespace bp::test {
namespace {

const QString kSampleEds = QStringLiteral(BUSPROBE_SOURCE_DIR "/examples/drv17-ka.eds");

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

class ObjectTree : public WindowTest {
 protected:
  // A node 5 that answers SDO requests: reads of 0x6041 give 0x0237, a write of 0x6040 is
  // confirmed, everything else is aborted with "object does not exist".
  void answerAsNode(FakeDriver& d) {
    d.onWrite = [&d](const can::CanFrame& f) {
      if (f.id != 0x605) return;
      can::CanFrame r = frame("585#8000000000000206");
      r.data[1] = f.data[1];
      r.data[2] = f.data[2];
      r.data[3] = f.data[3];
      const bool is6041 = f.data[1] == 0x41 && f.data[2] == 0x60;
      const bool is6040 = f.data[1] == 0x40 && f.data[2] == 0x60;
      if (f.data[0] == 0x40 && is6041) {
        r.data[0] = 0x4B;
        r.data[4] = 0x37;
        r.data[5] = 0x02;
        r.data[6] = r.data[7] = 0;
      } else if ((f.data[0] & 0xE0) == 0x20 && is6040) {
        r = frame("585#6040600000000000");
      }
      d.push(r);
    };
  }
  app::TfrmBPX& openWithSample() {
    writeFile(path("drv17-ka.eds"), [] {
      QFile f(kSampleEds);
      f.open(QIODevice::ReadOnly);
      return f.readAll();
    }());
    return open([this](FakeDriver& d) { answerAsNode(d); });
  }
  // Once the real "Write Value" dialog of the next W is up, types `text` and sends `keys` one by
  // one to whichever widget has the focus, as at the keyboard. A dialog left open fails and is
  // closed.
  void pressKeysInDialog(const QString& text, std::vector<Qt::Key> keys) {
    QTimer::singleShot(0, [this, text, keys] {
      QWidget* dialog = QApplication::activeModalWidget();
      const bool up = dialog == input.get() && QTest::qWaitForWindowActive(dialog);
      if (!up || QApplication::focusWidget() == nullptr) {
        ADD_FAILURE() << "the dialog is not up with the focus";
        input->reject();
        return;
      }
      QTest::keyClicks(QApplication::focusWidget(), text);
      for (Qt::Key key : keys) QTest::keyClick(QApplication::focusWidget(), key);
      if (input->isVisible()) {
        ADD_FAILURE() << "the dialog is still open";
        input->reject();
      }
    });
  }
  void select(app::TfrmBPX& w, const QString& prefix) {
    QTreeWidgetItem* node = findNode(w.tvSDO, prefix);
    ASSERT_NE(node, nullptr) << prefix.toStdString();
    w.tvSDO->setCurrentItem(node);
  }
};

TEST_F(ObjectTree, SampleFileFillsTheSixCategoriesAtStartUp) {
  auto& w = openWithSample();
  EXPECT_TRUE(startupMessages.empty());
  ASSERT_EQ(w.tvSDO->topLevelItemCount(), 6);
  const QStringList categories{"Communication",         "Receive PDO Setup", "Transmit PDO Setup",
                               "Manufacturer Specific", "Profile Specific",  "Interface Profile"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(w.tvSDO->topLevelItem(i)->text(0), categories[i]);
  EXPECT_GT(w.tvSDO->topLevelItem(0)->childCount(), 5);
  EXPECT_EQ(w.tvSDO->topLevelItem(5)->childCount(), 0);
  // A record with its sub-entries, and a plain object with its value.
  QTreeWidgetItem* identity = findNode(w.tvSDO, "0x1018 ");
  ASSERT_NE(identity, nullptr);
  EXPECT_FALSE(identity->text(0).contains(" = "));
  ASSERT_GE(identity->childCount(), 2);
  EXPECT_TRUE(identity->child(0)->text(0).startsWith("Sub 0x00 "));
  EXPECT_TRUE(identity->child(0)->text(0).contains(" = "));
  QTreeWidgetItem* deviceType = findNode(w.tvSDO, "0x1000 ");
  ASSERT_NE(deviceType, nullptr);
  EXPECT_TRUE(deviceType->text(0).endsWith("(0x20192)")) << deviceType->text(0).toStdString();
}

TEST_F(ObjectTree, ABrokenFileReportsItsLineAndKeepsEarlierSections) {
  writeFile(path("broken.eds"),
            "[1000]\r\nParameterName=Device type\r\nDataType=0x0007\r\nDefaultValue=0x191\r\n"
            "[1001]\r\nParameterName=Error register\r\nDataType=0xZZ\r\n");
  auto& w = open();
  w.edEDSFile->setText("broken.eds");
  w.btnEDSLoad->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Error");
  EXPECT_EQ(messages[0].kind, app::MessageKind::Error);
  EXPECT_EQ(messages[0].text, "Error reading EDS File\nLine: 7");
  EXPECT_EQ(QSettings("Travik", "Busprobe").value("EDSFileName").toString(), "broken.eds");
  ASSERT_EQ(w.tvSDO->topLevelItemCount(), 6);
  ASSERT_EQ(w.tvSDO->topLevelItem(0)->childCount(), 1);
  EXPECT_EQ(w.tvSDO->topLevelItem(0)->child(0)->text(0), "0x1000 Device type = 401 (0x191)");
}

// A file as vendors write them: node-ID expressions, descriptive and value sections of objects,
// an object above 0xA000, an empty default, a compact array named by its Name section and
// configured by its Value section, a DCF value and a 64-bit default.
TEST_F(ObjectTree, ARealWorldFileLoadsWholeAndNodeIdDefaultsFollowTheNode) {
  writeFile(path("vendor.eds"),
            "[FileInfo]\nFileName=vendor.eds\n"
            "[1014]\nParameterName=COB-ID EMCY\nDataType=0x0007\nAccessType=rw\nDefaultValue=$NODEID+0x80\n"
            "[1014ObjectLinks]\nObjectLinks=0\n"
            "[1017]\nParameterName=Producer heartbeat time\nDataType=0x0006\nAccessType=rw\n"
            "DefaultValue=0\nParameterValue=1000\n"
            "[1018]\nParameterName=Identity\nObjectType=0x9\n"
            "[6000]\nParameterName=Digital inputs\nObjectType=0x8\nDataType=0x0005\nAccessType=ro\n"
            "DefaultValue=0\nCompactSubObj=2\n"
            "[6000Name]\nNrOfEntries=1\n1=Inputs 1-8\n"
            "[6000Value]\nNrOfEntries=1\n2=0x11\n"
            "[6001]\nParameterName=Gain\nDataType=0x0008\nAccessType=rw\nDefaultValue=\n"
            "[6002]\nParameterName=Counter\nDataType=0x001B\nAccessType=ro\nDefaultValue=0xFFFFFFFFFFFFFFFF\n"
            "[A000]\nParameterName=Interface object\nDataType=0x0005\nAccessType=ro\nDefaultValue=3\n");
  auto& w = open();
  w.edEDSFile->setText("vendor.eds");
  w.btnEDSLoadClick();
  EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
  QTreeWidgetItem* emcy = findNode(w.tvSDO, "0x1014 ");
  ASSERT_NE(emcy, nullptr);
  EXPECT_EQ(emcy->text(0), "0x1014 COB-ID EMCY = 133 (0x85)");
  EXPECT_EQ(findNode(w.tvSDO, "0x1017 ")->text(0), "0x1017 Producer heartbeat time = 1000 (0x3E8)");
  QTreeWidgetItem* inputs = findNode(w.tvSDO, "0x6000 ");
  ASSERT_NE(inputs, nullptr);
  ASSERT_EQ(inputs->childCount(), 3);
  EXPECT_EQ(inputs->child(0)->text(0), "Sub 0x00 Number of entries = 2 (0x2)");
  EXPECT_EQ(inputs->child(1)->text(0), "Sub 0x01 Inputs 1-8 = 0 (0x0)");
  EXPECT_EQ(inputs->child(2)->text(0), "Sub 0x02 Digital inputs 2 = 17 (0x11)");
  EXPECT_NE(findNode(w.tvSDO, "0x6001 Gain"), nullptr);
  EXPECT_EQ(findNode(w.tvSDO, "0x6002 ")->text(0),
            "0x6002 Counter = 18446744073709551615 (0xFFFFFFFFFFFFFFFF)");
  ASSERT_EQ(w.tvSDO->topLevelItem(5)->childCount(), 1);
  EXPECT_EQ(w.tvSDO->topLevelItem(5)->child(0)->text(0), "0xA000 Interface object = 3 (0x3)");

  w.cbNodeID->setCurrentIndex(6);  // the default follows the node
  EXPECT_EQ(emcy->text(0), "0x1014 COB-ID EMCY = 134 (0x86)");
  app::entryOf(emcy)->value = 0x200;  // a value read or written since: it stays
  w.cbNodeID->setCurrentIndex(7);
  EXPECT_EQ(app::entryOf(emcy)->value, 0x200);
}

TEST_F(ObjectTree, AMissingFileGivesLineOneAndSixEmptyCategories) {
  auto& w = open();
  ASSERT_EQ(startupMessages.size(), 1u);  // drv17-ka.eds is not in the empty folder
  EXPECT_EQ(startupMessages[0].caption, "Error");
  EXPECT_EQ(startupMessages[0].text, "Error reading EDS File\nLine: 1");
  ASSERT_EQ(w.tvSDO->topLevelItemCount(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(w.tvSDO->topLevelItem(i)->childCount(), 0);
}

TEST_F(ObjectTree, LoadingASecondFileReplacesTheTreeButNotTheUserList) {
  auto& w = openWithSample();
  select(w, "0x6041 ");
  w.tvSDOKeyPress(u'a');
  ASSERT_EQ(w.lvUserSDO->topLevelItemCount(), 1);
  writeFile(path("small.eds"), "[2000]\nParameterName=Only\nDataType=0x0005\nDefaultValue=7\n");
  w.edEDSFile->setText("small.eds");
  w.btnEDSLoadClick();
  EXPECT_EQ(w.tvSDO->topLevelItem(0)->childCount(), 0);
  ASSERT_EQ(w.tvSDO->topLevelItem(3)->childCount(), 1);
  EXPECT_EQ(w.tvSDO->topLevelItem(3)->child(0)->text(0), "0x2000 Only = 7 (0x7)");
  EXPECT_EQ(w.lvUserSDO->topLevelItemCount(), 1);
}

TEST_F(ObjectTree, ReadKeyReadsTheObjectAndRenewsItsCaption) {
  auto& w = openWithSample();
  select(w, "0x6041 ");
  EXPECT_TRUE(w.tvSDOKeyPress(u'r'));
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(w.tvSDO->currentItem()->text(0).endsWith(" = 567 (0x237)")) << w.tvSDO->currentItem()->text(0).toStdString();
  EXPECT_EQ(frameText(driver->written().back()), "605#4041600000000000");
  EXPECT_EQ(w.lvUserSDO->topLevelItemCount(), 0);
}

TEST_F(ObjectTree, AddKeyReadsAndAddsOneReadEntry) {
  auto& w = openWithSample();
  select(w, "0x6041 ");
  w.tvSDOKeyPress(u'A');
  w.tvSDOKeyPress(u'a');
  ASSERT_EQ(w.lvUserSDO->topLevelItemCount(), 1);
  QTreeWidgetItem* row = w.lvUserSDO->topLevelItem(0);
  EXPECT_EQ(row->text(0), "R");
  EXPECT_EQ(row->text(2), "0x6041");
  EXPECT_EQ(row->text(3), "0");
  EXPECT_EQ(row->text(4), "567 (0x237)");
}

TEST_F(ObjectTree, OtherKeysAndRefusedNodesSendNothing) {
  auto& w = openWithSample();
  EXPECT_FALSE(w.tvSDOKeyPress(u'x'));
  w.tvSDO->setCurrentItem(w.tvSDO->topLevelItem(0));  // a category node
  EXPECT_TRUE(w.tvSDOKeyPress(u'r'));
  select(w, "0x1018 ");  // a record head
  EXPECT_TRUE(w.tvSDOKeyPress(u'R'));
  select(w, "0x6041 ");  // read-only: W is swallowed
  EXPECT_TRUE(w.tvSDOKeyPress(u'w'));
  EXPECT_TRUE(driver->written().empty());
  EXPECT_TRUE(messages.empty());
}

TEST_F(ObjectTree, TransferErrorsShowInTheErrorBoxAndKeepTheCaption) {
  auto& w = openWithSample();
  select(w, "0x1001 ");
  const QString before = w.tvSDO->currentItem()->text(0);
  w.tvSDOKeyPress(u'r');
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Error");
  EXPECT_EQ(messages[0].text, "SDO Tranfer Abort : 0x06020000\nObject does not exist in the object dictionary.");
  EXPECT_EQ(w.tvSDO->currentItem()->text(0), before);
}

TEST_F(ObjectTree, WriteKeyAsksForTheValueAndWritesIt) {
  auto& w = openWithSample();
  select(w, "0x6040 ");
  QString shownText;
  w.runInputDialog = [&](app::TfrmInput& dialog) {
    shownText = dialog.edValue->text();
    EXPECT_EQ(dialog.lblObjectIdx->text(), "0x6040");
    EXPECT_EQ(dialog.lblSubIdx->text(), "0x00");
    dialog.edValue->setText("0x1F");
    return int(QDialog::Accepted);
  };
  w.tvSDOKeyPress(u'w');
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(shownText, "0 (0x0)");
  EXPECT_EQ(frameText(driver->written().back()), "605#2B4060001F000000");
  EXPECT_TRUE(w.tvSDO->currentItem()->text(0).endsWith(" = 31 (0x1F)"));
  // "Add to list" is ticked at start: one write entry with the typed value.
  ASSERT_EQ(w.lvUserSDO->topLevelItemCount(), 1);
  EXPECT_EQ(w.lvUserSDO->topLevelItem(0)->text(0), "W");
  EXPECT_EQ(w.lvUserSDO->topLevelItem(0)->text(4), "31 (0x1F)");
  // The same value again adds nothing; another value adds a second write entry.
  w.tvSDOKeyPress(u'W');
  EXPECT_EQ(w.lvUserSDO->topLevelItemCount(), 1);
  w.runInputDialog = [](app::TfrmInput& dialog) {
    dialog.edValue->setText("0xFFFF");
    return int(QDialog::Accepted);
  };
  w.tvSDOKeyPress(u'w');
  EXPECT_EQ(frameText(driver->written().back()), "605#2B406000FFFF0000");
  ASSERT_EQ(w.lvUserSDO->topLevelItemCount(), 2);
}

TEST_F(ObjectTree, TypedValuesConvertOrAreRefusedBeforeAnythingIsSent) {
  auto& w = openWithSample();
  select(w, "0x6040 ");
  struct Row {
    const char* typed;
    bool accepted;
  };
  const Row rows[] = {{"0x1F", true}, {"$1F", true},  {"x1F", true},  {"31", true}, {"  31", true},
                      {"31 ", false}, {"1F", false},  {"0x", false},  {"0 (0x0)", false}};
  for (const auto& row : rows) {
    messages.clear();
    driver->clearWritten();
    w.runInputDialog = [&](app::TfrmInput& dialog) {
      dialog.edValue->setText(QString::fromLatin1(row.typed));
      return int(QDialog::Accepted);
    };
    w.tvSDOKeyPress(u'w');
    if (row.accepted) {
      EXPECT_TRUE(messages.empty()) << row.typed;
      ASSERT_EQ(driver->written().size(), 1u) << row.typed;
      EXPECT_EQ(frameText(driver->written()[0]), "605#2B4060001F000000") << row.typed;
    } else {
      EXPECT_TRUE(driver->written().empty()) << row.typed;
      ASSERT_EQ(messages.size(), 1u) << row.typed;
      EXPECT_EQ(messages[0].caption, "Error");
      EXPECT_EQ(messages[0].text, QString("'%1' is not a valid integer value").arg(row.typed));
    }
  }
}

TEST_F(ObjectTree, AValueOutsideTheObjectsTypeShowsTheErrorBoxAndChangesNothing) {
  auto& w = openWithSample();
  select(w, "0x100D ");  // UNSIGNED8
  const QString before = w.tvSDO->currentItem()->text(0);
  w.runInputDialog = [](app::TfrmInput& dialog) {
    dialog.edValue->setText("300");
    return int(QDialog::Accepted);
  };
  w.tvSDOKeyPress(u'w');
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Error");
  EXPECT_EQ(messages[0].text, "300 is out of range for UNSIGNED8 (0 to 255)");
  EXPECT_TRUE(driver->written().empty());
  EXPECT_EQ(w.tvSDO->currentItem()->text(0), before);
  EXPECT_EQ(w.lvUserSDO->topLevelItemCount(), 0);
}

TEST_F(ObjectTree, KeysInTheWriteDialogPressTheFocusedButton) {
  auto& w = openWithSample();
  select(w, "0x6040 ");
  struct Row {
    const char* name;
    std::vector<Qt::Key> keys;  // after typing the value; Tab moves from the value to OK to Cancel
    bool written;
  };
  const Row rows[] = {
      {"Enter in the value edit", {Qt::Key_Return}, true},
      {"Enter on OK", {Qt::Key_Tab, Qt::Key_Return}, true},
      {"Space on OK", {Qt::Key_Tab, Qt::Key_Space}, true},
      {"Enter on Cancel", {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Return}, false},
      {"Space on Cancel", {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Space}, false},
      {"Esc on OK", {Qt::Key_Tab, Qt::Key_Escape}, false},
      {"Enter in the value edit after visiting Cancel",
       {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Backtab, Qt::Key_Return},
       true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    driver->clearWritten();
    w.session().userList.clear();
    w.RefreshUserSdoList();
    pressKeysInDialog("0x1F", row.keys);
    w.tvSDOKeyPress(u'w');
    EXPECT_EQ(driver->written().size(), row.written ? 1u : 0u);
    EXPECT_EQ(w.lvUserSDO->topLevelItemCount(), row.written ? 1 : 0);
  }
}

TEST_F(ObjectTree, CancelAndUntickedAddToListAreRespected) {
  auto& w = openWithSample();
  select(w, "0x6040 ");
  w.runInputDialog = [](app::TfrmInput&) { return int(QDialog::Rejected); };
  w.tvSDOKeyPress(u'w');
  EXPECT_TRUE(driver->written().empty());
  input->cbAddUser->setChecked(false);
  w.runInputDialog = [](app::TfrmInput& dialog) {
    dialog.edValue->setText("6");
    return int(QDialog::Accepted);
  };
  w.tvSDOKeyPress(u'w');
  EXPECT_EQ(driver->written().size(), 1u);
  EXPECT_EQ(w.lvUserSDO->topLevelItemCount(), 0);
  EXPECT_FALSE(input->cbAddUser->isChecked());
}

TEST_F(ObjectTree, WritingAStringObjectIsRefusedAsUnsupported) {
  auto& w = openWithSample();
  od::ObjectEntry text;
  text.dataType = od::kVisibleString;
  text.access = od::kReadWrite;
  EXPECT_FALSE(w.askWriteValue(text));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Unsupported type");
  EXPECT_EQ(messages[0].text, "Can't write this type of object");
  od::ObjectEntry negative;
  negative.dataType = -3;
  EXPECT_FALSE(w.askWriteValue(negative));
  EXPECT_EQ(messages.size(), 2u);
}

// A node that never answers: the upload waits (1 s per answer), other SDO commands are held off
// with a message, and the progress dialog's Cancel ends it with the abort on the bus.
TEST_F(ObjectTree, AFileTransferHoldsOffOtherSdoCommandsUntilItsCancel) {
  openWithSample();
  auto& w = open();  // the sample file stays in the folder; no node answers now
  select(w, "0x6041 ");
  w.chooseTransferFile = [this](bool save, const QString& object) {
    EXPECT_TRUE(save);
    EXPECT_EQ(object, "0x6041 sub 0");
    return path("status.bin");
  };
  w.tvSDOKeyPress(u'U');
  ASSERT_TRUE(w.session().sdo.busy());
  w.tvSDOKeyPress(u'R');
  w.btnReadUserClick();
  ASSERT_EQ(messages.size(), 2u);  // R, and the user list's Read
  for (const auto& m : messages) EXPECT_EQ(m.text, "A file transfer is running. Wait until it ends or cancel it.");
  auto* progress = w.findChild<QProgressDialog*>(QStringLiteral("dlgFileTransfer"));
  ASSERT_NE(progress, nullptr);
  EXPECT_TRUE(progress->isVisible());
  EXPECT_FALSE(progress->isModal());
  emit progress->canceled();  // as its Cancel button and Esc do
  QElapsedTimer t;
  t.start();
  while ((w.session().sdo.busy() || messages.size() < 3) && t.elapsed() < 5000) QTest::qWait(20);
  EXPECT_FALSE(w.session().sdo.busy());
  const auto sent = driver->written();
  ASSERT_EQ(sent.size(), 2u);  // the block upload's initiate, then the abort of the cancel
  EXPECT_EQ(frameText(sent[0]).substr(0, 12), "605#A4416000");
  EXPECT_EQ(frameText(sent[1]), "605#8041600000000008");
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[2].text, "SDO Transfer cancelled");
  EXPECT_FALSE(QFile::exists(path("status.bin")));
}

TEST(WriteValueDialog, LayoutDefaultsAndKeys) {
  app::TfrmInput dialog;
  EXPECT_EQ(dialog.windowTitle(), "Write Value");
  EXPECT_EQ(dialog.size(), QSize(207, 190));
  EXPECT_EQ(dialog.edValue->geometry(), QRect(8, 96, 169, 21));
  EXPECT_EQ(dialog.Button1->geometry(), QRect(104, 152, 75, 25));
  EXPECT_EQ(dialog.Button2->geometry(), QRect(8, 152, 75, 25));
  EXPECT_EQ(dialog.cbAddUser->geometry(), QRect(8, 128, 129, 17));
  EXPECT_EQ(dialog.lblObjectIdx->pos(), QPoint(96, 24));
  EXPECT_EQ(dialog.Button1->text(), "&Ok");
  EXPECT_EQ(dialog.Button2->text(), "&Cancel");
  EXPECT_TRUE(dialog.Button1->isDefault());
  EXPECT_TRUE(dialog.cbAddUser->isChecked());
  EXPECT_EQ(dialog.edValue->nextInFocusChain(), dialog.Button1);

  // Shown: the whole value text is selected; Enter accepts.
  dialog.edValue->setText("100 (0x64)");
  dialog.show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_EQ(dialog.edValue->selectedText(), "100 (0x64)");
  QTest::keyClick(dialog.edValue, Qt::Key_Return);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  dialog.show();
  QTest::keyClick(dialog.edValue, Qt::Key_Escape);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

}  // namespace
}  // namespace bp::test
