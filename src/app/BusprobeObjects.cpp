// The object dictionary tree, and reading and writing objects from it.
#include <QSettings>

#include "app/BusprobeMain.h"
#include "app/BusViewWindow.h"
#include "app/ItemEntry.h"
#include "app/Messages.h"
#include "app/frmInput1.h"
#include "od/EdsReader.h"
#include "od/ValueRange.h"
#include "od/ValueText.h"

namespace bp::app {

QString TfrmBPX::captionOf(const od::ObjectEntry& entry) const {
  return textFromBytes(od::FormatNodeCaption(entry, decimalSeparator()));
}

void TfrmBPX::btnEDSLoadClick() {
  tvSDO->clear();
  ++m_loadCount;
  m_session.dictionary.ClearObjectDictionary();
  const QString fileName = edEDSFile->text();
  // What was read before a faulty line stays; the error names that line.
  guarded(MessageKind::Error, [&] {
    od::ReadEDSFile(fileName.toUtf8().toStdString(), m_session.dictionary, decimalSeparator(),
                    static_cast<std::uint8_t>(m_session.nodeId.load()));
  });
  {
    QSettings settings(QStringLiteral("Travik"), QStringLiteral("Busprobe"));
    settings.setValue(QStringLiteral("EDSFileName"), fileName);
  }
  BuildObjectTree();
  if (m_busView != nullptr) m_busView->dictionaryChanged();
}

void TfrmBPX::BuildObjectTree() {
  tvSDO->setUpdatesEnabled(false);
  for (const auto& category : od::kCategoryTable)
    AddCategoryNode(category.first, category.last,
                    QString::fromLatin1(category.caption.data(), static_cast<qsizetype>(category.caption.size())));
  tvSDO->setUpdatesEnabled(true);
}

void TfrmBPX::AddCategoryNode(std::int32_t first, std::int32_t last, const QString& caption) {
  auto* node = new QTreeWidgetItem(QStringList{caption});
  QList<QTreeWidgetItem*> children;
  for (od::ObjectEntry* record : m_session.dictionary.heads()) {
    if (record->index < first || record->index > last) continue;
    auto* object = new QTreeWidgetItem(QStringList{captionOf(*record)});
    setEntryOf(object, record);
    for (od::ObjectEntry* sub = record->next; sub != nullptr; sub = sub->next) {
      auto* child = new QTreeWidgetItem(object, QStringList{captionOf(*sub)});
      setEntryOf(child, sub);
    }
    children.append(object);
  }
  node->addChildren(children);
  tvSDO->addTopLevelItem(node);
}

bool TfrmBPX::tvSDOKeyPress(QChar key) {
  const QChar k = key.toUpper();
  if (!QStringLiteral("ARWEUD").contains(k)) return false;
  QTreeWidgetItem* item = tvSDO->currentItem();
  od::ObjectEntry* entry = entryOf(item);
  if (entry == nullptr || entry->subIndex < 0 || refusedForFileTransfer()) return true;
  guarded(MessageKind::Error, [&] {
    if (k == u'W')
      writeFromTree(*item, *entry);
    else if (k == u'E')
      editFromTree(*item, *entry);
    else if (k == u'U')
      uploadToFile(*item, *entry);
    else if (k == u'D')
      downloadFromFile(*entry);
    else
      readFromTree(*item, *entry, k == u'A');
  });
  return true;
}

void TfrmBPX::readFromTree(QTreeWidgetItem& item, od::ObjectEntry& entry, bool addToList) {
  if (entry.access == od::kWriteOnly) return;
  entry.direction = od::kRead;
  m_session.sdo.TransferSdo(entry);
  item.setText(0, captionOf(entry));
  if (addToList) addToUserSdoList(entry);
}

void TfrmBPX::writeFromTree(QTreeWidgetItem& item, od::ObjectEntry& entry) {
  if (entry.access == od::kReadOnly) return;
  const std::optional<std::int32_t> value = askWriteValue(entry);
  if (!value) return;
  entry.value = *value;
  entry.direction = od::kWrite;
  // The list keeps the value to write, whatever the transfer's outcome.
  if (frmInput->cbAddUser->isChecked()) addToUserSdoList(entry);
  m_session.sdo.TransferSdo(entry);
  item.setText(0, captionOf(entry));
}

std::optional<std::int32_t> TfrmBPX::askWriteValue(const od::ObjectEntry& entry) {
  // Only the integer types can be typed; negative codes have no length either.
  if (entry.dataType > od::kUnsigned32 || entry.dataType < 0) {
    showMessage(MessageKind::UnsupportedType, QStringLiteral("Can't write this type of object"));
    return std::nullopt;
  }
  if (frmInput == nullptr) return std::nullopt;
  frmInput->lblObjectIdx->setText(QString::asprintf("0x%04X", static_cast<unsigned>(entry.index)));
  frmInput->lblSubIdx->setText(QString::asprintf("0x%02X", static_cast<unsigned>(entry.subIndex)));
  frmInput->edValue->setText(textFromBytes(od::FormatObjectValue(entry, decimalSeparator())));
  if (runInputDialog(*frmInput) != QDialog::Accepted) return std::nullopt;
  return od::typedValue(entry.dataType, frmInput->edValue->text().toStdString());
}

void TfrmBPX::addToUserSdoList(const od::ObjectEntry& entry) {
  usersdo::addToUserSdoList(m_session.userList, entry, decimalSeparator());
  RefreshUserSdoList();
}

}  // namespace bp::app
