// The user SDO list: its view, the transfers of its entries, drag and drop, and list files.
#include <QFileDialog>
#include <QKeyEvent>

#include "app/BusprobeMain.h"
#include "app/ItemEntry.h"
#include "app/Messages.h"
#include "usersdo/SdoListFile.h"
#include "usersdo/UserSdoList.h"
#include "util/Error.h"

namespace bp::app {

void TfrmBPX::RefreshUserSdoList() {
  lvUserSDO->setUpdatesEnabled(false);
  lvUserSDO->clear();
  QList<QTreeWidgetItem*> rows;
  for (const auto& entry : m_session.userList) {
    const auto texts = usersdo::userRowTexts(*entry, decimalSeparator());
    QStringList columns;
    for (const auto& text : texts) columns << textFromBytes(text);
    auto* row = new QTreeWidgetItem(columns);
    setEntryOf(row, entry.get());
    row->setFlags(row->flags() & ~Qt::ItemIsDropEnabled);
    rows.append(row);
  }
  lvUserSDO->addTopLevelItems(rows);
  lvUserSDO->setUpdatesEnabled(true);
}

void TfrmBPX::btnReadUserClick() {
  if (refusedForFileTransfer()) return;
  guarded(MessageKind::Default, [&] {
    usersdo::transferAll(m_session.userList, od::kRead, [&](od::ObjectEntry& e) { m_session.sdo.TransferSdo(e); });
    RefreshUserSdoList();
  });
}

namespace {
// Throws the reason a write cannot go out, when there is one.
void refuseUnfitWrite(const std::optional<std::string>& reason) {
  if (reason) throw bp::Error(*reason);
}
}  // namespace

void TfrmBPX::btnWriteUserClick() {
  if (refusedForFileTransfer()) return;
  // A value outside its type stops the run before anything is sent.
  if (!guarded(MessageKind::Error, [&] { refuseUnfitWrite(usersdo::writeValueError(m_session.userList)); })) return;
  guarded(MessageKind::Default, [&] {
    usersdo::transferAll(m_session.userList, od::kWrite, [&](od::ObjectEntry& e) { m_session.sdo.TransferSdo(e); });
    RefreshUserSdoList();
  });
}

void TfrmBPX::lvUserSDODblClick() {
  od::ObjectEntry* entry = entryOf(lvUserSDO->currentItem());
  if (entry == nullptr || lvUserSDO->selectedItems().isEmpty()) return;
  if (!guarded(MessageKind::Error, [&] { refuseUnfitWrite(usersdo::writeValueError(*entry)); })) return;
  guarded(MessageKind::Default, [&] {
    m_session.sdo.TransferSdo(*entry);
    RefreshUserSdoList();
  });
}

void TfrmBPX::lvUserSDOKeyUp(int key) {
  if (key != Qt::Key_Delete) return;
  const QList<QTreeWidgetItem*> selected = lvUserSDO->selectedItems();
  if (selected.isEmpty()) return;
  const int position = lvUserSDO->indexOfTopLevelItem(selected.front());
  if (position < 0 || position >= static_cast<int>(m_session.userList.size())) return;
  guarded(MessageKind::Default, [&] {
    delete lvUserSDO->takeTopLevelItem(position);
    usersdo::removeAt(m_session.userList, position);
  });
}

bool TfrmBPX::lvUserSDODragOver(QObject* source) { return source == lvUserSDO; }

void TfrmBPX::lvUserSDODragDrop(QObject* source, QPoint pos) {
  if (source != lvUserSDO) return;
  const QList<QTreeWidgetItem*> selected = lvUserSDO->selectedItems();
  if (selected.isEmpty()) return;
  const int dragged = lvUserSDO->indexOfTopLevelItem(selected.front());
  QTreeWidgetItem* targetItem = lvUserSDO->itemAt(pos);
  std::optional<int> target;
  if (targetItem != nullptr) target = lvUserSDO->indexOfTopLevelItem(targetItem);

  // Move the row (texts and entry kept) by the list's move rule, then rebuild the list from the rows.
  const std::vector<int> order = usersdo::dropOrder(lvUserSDO->topLevelItemCount(), dragged, target);
  QList<QTreeWidgetItem*> items;
  while (lvUserSDO->topLevelItemCount() > 0) items.append(lvUserSDO->takeTopLevelItem(0));
  for (int old : order) lvUserSDO->addTopLevelItem(items[old]);

  usersdo::UserSdoList rebuilt;
  for (int i = 0; i < lvUserSDO->topLevelItemCount(); ++i) {
    od::ObjectEntry* entry = entryOf(lvUserSDO->topLevelItem(i));
    for (auto& owned : m_session.userList)
      if (owned.get() == entry) rebuilt.push_back(std::move(owned));
  }
  m_session.userList = std::move(rebuilt);
}

void TfrmBPX::SaveUserSdoList(const QString& fileName) {
  usersdo::SaveUserSdoList(fileName.toUtf8().toStdString(), m_session.userList);
}

void TfrmBPX::LoadUserSdoList(const QString& fileName) {
  m_session.userList = usersdo::LoadUserSdoList(fileName.toUtf8().toStdString());
}

namespace {
QString runListFileDialog(QWidget* parent, bool save) {
  QFileDialog dialog(parent);
  dialog.setNameFilter(QStringLiteral("Busprobe SDO files (*.bin)"));
  dialog.setDefaultSuffix(QStringLiteral("bin"));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // Replacing an existing list file needs no confirmation.
  if (save) dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}
}  // namespace

QString TfrmBPX::listFileToUse(bool save) {
  return chooseListFile ? chooseListFile(save) : runListFileDialog(this, save);
}

void TfrmBPX::pbSaveSdoClick() {
  guarded(MessageKind::Default, [&] {
    const QString name = listFileToUse(true);
    if (name.isEmpty()) return;
    SaveUserSdoList(name);
  });
}

void TfrmBPX::pbLoadSdoClick() {
  const QString name = listFileToUse(false);
  if (name.isEmpty()) return;
  // A file that cannot be loaded leaves the current list as it was.
  guarded(MessageKind::Error, [&] { LoadUserSdoList(name); });
  RefreshUserSdoList();
}

}  // namespace bp::app
