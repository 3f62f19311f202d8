// The user SDO list in the window: rows, transfers, Delete, drag and drop, and list files.
#include <QFile>
#include <QFileInfo>

#include "WindowFixture.h"
#include "support/FrameText.h"
#include "usersdo/SdoListFile.h"

namespace bp::test {
namespace {

std::unique_ptr<od::ObjectEntry> entry(const char* name, std::int32_t index, std::int32_t sub, std::int8_t type,
                                       std::int32_t value, std::uint8_t direction) {
  auto e = std::make_unique<od::ObjectEntry>();
  e->setName(name);
  e->index = index;
  e->subIndex = sub;
  e->dataType = type;
  e->value = value;
  e->direction = direction;
  e->access = od::kReadWrite;
  return e;
}

class UserList : public WindowTest {
 protected:
  // Confirms every download and answers every upload with the sub-index as value; index 0x2002
  // never answers; index 0x2003 is refused with "object does not exist".
  void answerAsNode(FakeDriver& d) {
    d.onWrite = [&d](const can::CanFrame& f) {
      if (f.id != 0x605 || (f.data[1] == 0x02 && f.data[2] == 0x20)) return;
      can::CanFrame r = frame("585#6000000000000000");
      r.data[1] = f.data[1];
      r.data[2] = f.data[2];
      r.data[3] = f.data[3];
      if (f.data[0] == 0x40) {
        r.data[0] = 0x4F;
        r.data[4] = static_cast<std::uint8_t>(0x40 + f.data[3]);
      }
      if (f.data[1] == 0x03 && f.data[2] == 0x20) {
        r.data[0] = 0x80;
        r.data[4] = r.data[5] = 0;
        r.data[6] = 0x02;
        r.data[7] = 0x06;
      }
      d.push(r);
    };
  }
  // A window whose list holds rows named 1, 2, 3, 4 (read entries of 0x2001 sub 1 to 4).
  app::TfrmBPX& openWithRows(int count = 4) {
    auto& w = open([this](FakeDriver& d) { answerAsNode(d); });
    for (int i = 1; i <= count; ++i)
      w.session().userList.push_back(entry(std::to_string(i).c_str(), 0x2001, i, od::kUnsigned8, 0, od::kRead));
    w.RefreshUserSdoList();
    return w;
  }
  QStringList names(app::TfrmBPX& w) {
    QStringList rows;
    for (int i = 0; i < w.lvUserSDO->topLevelItemCount(); ++i) rows << w.lvUserSDO->topLevelItem(i)->text(1);
    QStringList list;
    for (const auto& e : w.session().userList) list << QString::fromLatin1(e->name.data());
    EXPECT_EQ(rows, list) << "rows and list differ";
    return rows;
  }
  void drop(app::TfrmBPX& w, int dragged, int target) {
    w.lvUserSDO->setCurrentItem(w.lvUserSDO->topLevelItem(dragged));
    QPoint pos(5, w.lvUserSDO->viewport()->height() - 2);  // below the last row
    if (target >= 0) pos = w.lvUserSDO->visualItemRect(w.lvUserSDO->topLevelItem(target)).center();
    w.lvUserSDODragDrop(w.lvUserSDO, pos);
  }
};

TEST_F(UserList, RowsShowDirectionNameIndexSubAndValue) {
  auto& w = open();
  w.session().userList.push_back(entry("Controlword", 0x6040, 0, od::kUnsigned16, 6, od::kWrite));
  w.session().userList.push_back(entry("Low", 0x60, 12, od::kInteger8, -1, od::kRead));
  w.RefreshUserSdoList();
  ASSERT_EQ(w.lvUserSDO->topLevelItemCount(), 2);
  QTreeWidgetItem* a = w.lvUserSDO->topLevelItem(0);
  QTreeWidgetItem* b = w.lvUserSDO->topLevelItem(1);
  EXPECT_EQ((QStringList{a->text(0), a->text(1), a->text(2), a->text(3), a->text(4)}),
            (QStringList{"W", "Controlword", "0x6040", "0", "6 (0x6)"}));
  EXPECT_EQ((QStringList{b->text(0), b->text(1), b->text(2), b->text(3), b->text(4)}),
            (QStringList{"R", "Low", "0x0060", "12", "-1 (0xFFFFFFFF)"}));
}

TEST_F(UserList, DragAndDropMovesRowsByTheMoveRule) {
  auto& w = openWithRows();
  w.show();
  drop(w, 0, 2);
  EXPECT_EQ(names(w), (QStringList{"2", "3", "1", "4"}));
  drop(w, 3, 1);
  EXPECT_EQ(names(w), (QStringList{"2", "4", "3", "1"}));
  drop(w, 1, -1);
  EXPECT_EQ(names(w), (QStringList{"2", "3", "1", "4"}));
  drop(w, 2, 2);
  EXPECT_EQ(names(w), (QStringList{"2", "3", "1", "4"}));
  EXPECT_FALSE(w.lvUserSDODragOver(w.tvSDO));
  EXPECT_TRUE(w.lvUserSDODragOver(w.lvUserSDO));
}

TEST_F(UserList, DeleteKeyRemovesTheSelectedEntryOnly) {
  auto& w = openWithRows();
  w.lvUserSDOKeyUp(Qt::Key_Delete);  // nothing selected
  EXPECT_EQ(names(w).size(), 4);
  w.lvUserSDO->setCurrentItem(w.lvUserSDO->topLevelItem(1));
  w.lvUserSDOKeyUp(Qt::Key_Backspace);
  EXPECT_EQ(names(w).size(), 4);
  w.lvUserSDOKeyUp(Qt::Key_Delete);
  EXPECT_EQ(names(w), (QStringList{"1", "3", "4"}));
}

TEST_F(UserList, ReadAllStopsAtTheFirstTimeOutAndLeavesLaterEntriesUntouched) {
  auto& w = openWithRows(0);
  auto& list = w.session().userList;
  list.push_back(entry("one", 0x2001, 1, od::kUnsigned8, 0, od::kRead));
  list.push_back(entry("silent", 0x2002, 0, od::kUnsigned8, 0, od::kRead));
  list.push_back(entry("three", 0x2001, 3, od::kUnsigned8, 0, od::kRead));
  w.RefreshUserSdoList();
  w.btnReadUser->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].kind, app::MessageKind::Default);
  EXPECT_EQ(messages[0].text, "SDO Transfer timeout\nsilent\n8194 subindex 0.");
  EXPECT_EQ(list[0]->value, 0x41);
  EXPECT_EQ(list[2]->value, 0);
  EXPECT_EQ(w.lvUserSDO->topLevelItem(0)->text(4), "0 (0x0)");  // not refreshed after a failure
}

TEST_F(UserList, WriteAllReplaysWritesInListOrderAndAfterReordering) {
  auto& w = openWithRows(0);
  w.session().userList.push_back(entry("Controlword", 0x6040, 0, od::kUnsigned16, 6, od::kWrite));
  w.session().userList.push_back(entry("Statusword", 0x6041, 0, od::kUnsigned16, 0, od::kRead));
  w.session().userList.push_back(entry("Controlword", 0x6040, 0, od::kUnsigned16, 15, od::kWrite));
  w.RefreshUserSdoList();
  w.show();
  w.btnWriteUser->click();
  drop(w, 2, 0);
  w.btnWriteUser->click();
  std::vector<std::string> sent;
  for (const auto& f : driver->written()) sent.push_back(frameText(f));
  EXPECT_EQ(sent, (std::vector<std::string>{"605#2B40600006000000", "605#2B4060000F000000",
                                            "605#2B4060000F000000", "605#2B40600006000000"}));
  EXPECT_TRUE(messages.empty());
}

TEST_F(UserList, DoubleClickTransfersTheSelectedEntryAgain) {
  auto& w = openWithRows(0);
  w.session().userList.push_back(entry("Controlword", 0x6040, 0, od::kUnsigned16, 15, od::kWrite));
  w.RefreshUserSdoList();
  w.lvUserSDODblClick();  // no selection
  EXPECT_TRUE(driver->written().empty());
  w.lvUserSDO->setCurrentItem(w.lvUserSDO->topLevelItem(0));
  w.lvUserSDODblClick();
  ASSERT_EQ(driver->written().size(), 1u);
  EXPECT_EQ(frameText(driver->written()[0]), "605#2B4060000F000000");
}

TEST_F(UserList, AnAbortedWriteKeepsTheValueToWriteForTheNextWriteAndTheFile) {
  auto& w = openWithRows(0);
  w.session().userList.push_back(entry("Refused", 0x2003, 0, od::kUnsigned16, 1234, od::kWrite));
  w.RefreshUserSdoList();
  w.btnWriteUser->click();
  w.lvUserSDO->setCurrentItem(w.lvUserSDO->topLevelItem(0));
  w.lvUserSDODblClick();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text,
            "SDO Tranfer Abort : 0x06020000\nObject does not exist in the object dictionary.");
  std::vector<std::string> sent;
  for (const auto& f : driver->written()) sent.push_back(frameText(f));
  EXPECT_EQ(sent, (std::vector<std::string>{"605#2B032000D2040000", "605#2B032000D2040000"}));
  w.chooseListFile = [this](bool) { return path("kept.bin"); };
  w.pbSaveSdo->click();
  const auto saved = usersdo::LoadUserSdoList(path("kept.bin").toStdString());
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0]->value, 1234);
}

TEST_F(UserList, AWriteEntryOutsideItsTypeIsRefusedBeforeAnythingIsSent) {
  auto& w = openWithRows(0);
  w.session().userList.push_back(entry("Controlword", 0x6040, 0, od::kUnsigned16, 6, od::kWrite));
  w.session().userList.push_back(entry("Too big", 0x2001, 1, od::kUnsigned8, 300, od::kWrite));
  w.RefreshUserSdoList();
  w.btnWriteUser->click();
  w.lvUserSDO->setCurrentItem(w.lvUserSDO->topLevelItem(1));
  w.lvUserSDODblClick();
  EXPECT_TRUE(driver->written().empty());
  ASSERT_EQ(messages.size(), 2u);
  for (const auto& m : messages) {
    EXPECT_EQ(m.caption, "Error");
    EXPECT_EQ(m.text, "300 is out of range for UNSIGNED8 (0 to 255)");
  }
  // The entry that fits still goes out on its own.
  w.lvUserSDO->setCurrentItem(w.lvUserSDO->topLevelItem(0));
  w.lvUserSDODblClick();
  EXPECT_EQ(driver->written().size(), 1u);
}

TEST_F(UserList, SaveAndLoadButtonsExchangeTheListWithFiles) {
  auto& w = openWithRows(3);
  w.chooseListFile = [this](bool) { return path("saved.bin"); };
  w.pbSaveSdo->click();
  EXPECT_EQ(QFileInfo(path("saved.bin")).size(), 3 * 608);
  w.session().userList.clear();
  w.RefreshUserSdoList();
  w.pbLoadSdo->click();
  EXPECT_EQ(names(w), (QStringList{"1", "2", "3"}));
  EXPECT_TRUE(messages.empty());
}

TEST_F(UserList, ALoadThatFailsKeepsTheCurrentListAndSaysWhy) {
  auto& w = openWithRows(2);
  QFile bad(path("bad.bin"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write(QByteArray(1000, '\0'));
  bad.close();
  w.chooseListFile = [this](bool) { return path("bad.bin"); };
  w.pbLoadSdo->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Error");
  EXPECT_EQ(messages[0].text, "Wrong file size");
  EXPECT_EQ(names(w), (QStringList{"1", "2"}));
}

TEST_F(UserList, AFailedSaveReportsTheFileAndKeepsTheOldOne) {
  auto& w = openWithRows(2);
  const QString target = path("missing-folder/list.bin");
  w.chooseListFile = [&](bool) { return target; };
  w.pbSaveSdo->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Busprobe");
  EXPECT_TRUE(messages[0].text.startsWith("Cannot create file \"" + target + "\". ")) << messages[0].text.toStdString();
}

TEST_F(UserList, ShutDownWritesTheListInUseToTheDefaultFile) {
  {
    auto& w = openWithRows(3);
    drop(w, 0, -1);
    EXPECT_EQ(names(w), (QStringList{"2", "3", "1"}));
    input.reset();
    window.reset();
  }
  ASSERT_EQ(QFileInfo(path("SDOList.bin")).size(), 3 * 608);
  auto& again = open();
  EXPECT_EQ(names(again), (QStringList{"2", "3", "1"}));
}

}  // namespace
}  // namespace bp::test
