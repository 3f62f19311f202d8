// Writing a value of any data type (E), and an object's value to and from a file (U, D).
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

#include "app/BusprobeMain.h"
#include "app/FileTransfer.h"
#include "app/ItemEntry.h"
#include "app/Messages.h"
#include "app/frmInput1.h"
#include "od/ValueEncoding.h"
#include "sdo/SdoTransfer.h"
#include "usersdo/UserSdoList.h"
#include "util/Error.h"
#include "util/FileIo.h"

namespace bp::app {
namespace {

// What the value field of the edit dialog takes, by data type.
QString valueCaption(std::int8_t t) {
  if (t == od::kReal32 || t == od::kReal64) return QStringLiteral("Value (decimal)");
  if (t == od::kVisibleString || t == od::kUnicodeString) return QStringLiteral("Value (text)");
  if (t == od::kOctetString || t == od::kDomain || t == od::kTimeOfDay || t == od::kTimeDifference)
    return QStringLiteral("Value (hex bytes)");
  return QStringLiteral("Value");
}

QString objectText(const od::ObjectEntry& e) {
  return QString::asprintf("0x%04X sub %u", static_cast<unsigned>(e.index), static_cast<unsigned>(e.subIndex));
}

sdo::TransferOptions fileOptions(const od::ObjectEntry& e) {
  sdo::TransferOptions o;  // 1 s per answer, block transfer first
  o.block = true;
  o.objectName = std::string(e.nameText());
  return o;
}

}  // namespace

bool TfrmBPX::refusedForFileTransfer() {
  if (!m_session.sdo.busy()) return false;
  showMessage(MessageKind::Error, QStringLiteral("A file transfer is running. Wait until it ends or cancel it."));
  return true;
}

TfrmInput& TfrmBPX::editDialog() {
  if (frmEdit == nullptr) {
    frmEdit = new TfrmInput(this);
    frmEdit->setObjectName(QStringLiteral("frmEdit"));
    frmEdit->setWindowTitle(QStringLiteral("Edit Value"));
  }
  return *frmEdit;
}

std::optional<std::string> TfrmBPX::askEditValue(const od::ObjectEntry& entry) {
  TfrmInput& dialog = editDialog();
  dialog.lblObjectIdx->setText(QString::asprintf("0x%04X", static_cast<unsigned>(entry.index)));
  dialog.lblSubIdx->setText(QString::asprintf("0x%02X", static_cast<unsigned>(entry.subIndex)));
  dialog.Label2->setText(valueCaption(entry.dataType));
  dialog.Label2->adjustSize();
  dialog.edValue->setText(textFromBytes(od::editText(entry, decimalSeparator())));
  dialog.cbAddUser->setEnabled(usersdo::listKeepsValueOf(entry.dataType));
  if (runInputDialog(dialog) != QDialog::Accepted) return std::nullopt;
  return od::typedBytes(entry.dataType, dialog.edValue->text().toUtf8().toStdString(), decimalSeparator());
}

void TfrmBPX::editFromTree(QTreeWidgetItem& item, od::ObjectEntry& entry) {
  if (entry.access == od::kReadOnly) return;
  const std::optional<std::string> bytes = askEditValue(entry);
  if (!bytes) return;
  od::storeValueBytes(entry, *bytes, bytes->size());
  entry.direction = od::kWrite;
  // As with W, the list keeps the value to write, whatever the transfer's outcome.
  if (frmEdit->cbAddUser->isEnabled() && frmEdit->cbAddUser->isChecked()) addToUserSdoList(entry);
  sdo::writeEntry(m_session.sdo, entry, *bytes);
  item.setText(0, captionOf(entry));
}

void TfrmBPX::uploadToFile(QTreeWidgetItem& item, od::ObjectEntry& entry) {
  if (entry.access == od::kWriteOnly) return;
  const QString file = chooseTransferFile(true, objectText(entry));
  if (file.isEmpty()) return;
  auto& job = m_session.fileJob;
  if (!job.startUpload(static_cast<std::uint16_t>(entry.index), static_cast<std::uint8_t>(entry.subIndex),
                       fileOptions(entry))) {
    refusedForFileTransfer();
    return;
  }
  QTreeWidgetItem* itemPtr = &item;
  od::ObjectEntry* entryPtr = &entry;
  const std::uint32_t load = m_loadCount;
  trackFileTransfer(new FileTransfer(this, job, QStringLiteral("Upload of %1 to %2").arg(objectText(entry), file),
                                     [this, file, itemPtr, entryPtr, load](std::string bytes) {
    fileio::writeFileReplacing(file.toUtf8().toStdString(),
                               {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    if (load != m_loadCount) return;  // the tree was rebuilt meanwhile
    od::storeValueBytes(*entryPtr, bytes, bytes.size());
    itemPtr->setText(0, captionOf(*entryPtr));
  }));
}

void TfrmBPX::downloadFromFile(od::ObjectEntry& entry) {
  if (entry.access == od::kReadOnly) return;
  const QString file = chooseTransferFile(false, objectText(entry));
  if (file.isEmpty()) return;
  if (QFileInfo(file).size() > static_cast<qint64>(sdo::TransferOptions::kMaxFileSize))
    throw bp::Error("\"" + QDir::toNativeSeparators(file).toStdString() + "\" is larger than 16 MiB");
  const std::vector<std::uint8_t> bytes = fileio::readWholeFile(file.toUtf8().toStdString());
  if (!m_session.fileJob.startDownload(static_cast<std::uint16_t>(entry.index),
                                       static_cast<std::uint8_t>(entry.subIndex),
                                       std::string(bytes.begin(), bytes.end()), fileOptions(entry))) {
    refusedForFileTransfer();
    return;
  }
  trackFileTransfer(new FileTransfer(this, m_session.fileJob,
                                     QStringLiteral("Download of %1 to %2").arg(file, objectText(entry)), {}));
}

void TfrmBPX::trackFileTransfer(FileTransfer* transfer) {
  m_fileTransfer = transfer;
  connect(transfer, &FileTransfer::ended, this, [this, transfer] {
    if (m_fileTransfer == transfer) m_fileTransfer = nullptr;
    transfer->deleteLater();
  });
}

QString TfrmBPX::askTransferFile(bool save, const QString& object) {
  if (save) return QFileDialog::getSaveFileName(this, QStringLiteral("Upload %1 to file").arg(object));
  return QFileDialog::getOpenFileName(this, QStringLiteral("Download file to %1").arg(object));
}

void TfrmBPX::tvSDOContextMenu(const QPoint& pos) {
  QTreeWidgetItem* item = tvSDO->itemAt(pos);
  const od::ObjectEntry* entry = entryOf(item);
  QMenu menu(tvSDO);
  menu.setObjectName(QStringLiteral("mnuObject"));
  if (entry != nullptr && entry->subIndex >= 0) {
    tvSDO->setCurrentItem(item);
    const std::pair<QString, QChar> commands[] = {
        {QStringLiteral("&Read\tR"), u'R'},          {QStringLiteral("Read and &add to list\tA"), u'A'},
        {QStringLiteral("&Write value...\tW"), u'W'}, {QStringLiteral("&Edit value...\tE"), u'E'},
        {QStringLiteral("&Upload to file...\tU"), u'U'}, {QStringLiteral("&Download from file...\tD"), u'D'}};
    for (const auto& [text, key] : commands) {
      QAction* action = menu.addAction(text);
      const bool reads = key == u'R' || key == u'A' || key == u'U';
      action->setEnabled(reads ? entry->access != od::kWriteOnly : entry->access != od::kReadOnly);
      connect(action, &QAction::triggered, this, [this, key] { tvSDOKeyPress(key); });
    }
    menu.addSeparator();
  }
  QMenu* node = menu.addMenu(QStringLiteral("&Node configuration (DCF)"));
  node->setObjectName(QStringLiteral("mnuDcf"));
  const std::pair<QString, void (TfrmBPX::*)()> dcfCommands[] = {
      {QStringLiteral("&Save as DCF..."), &TfrmBPX::saveDcf},
      {QStringLiteral("&Compare with DCF..."), &TfrmBPX::compareNodeWithDcf},
      {QStringLiteral("Compare with the EDS &defaults"), &TfrmBPX::compareNodeWithDefaults},
      {QStringLiteral("Compare &two DCF files..."), &TfrmBPX::compareDcfFiles},
      {QStringLiteral("&Restore from DCF..."), &TfrmBPX::restoreFromDcf}};
  for (const auto& [text, command] : dcfCommands)
    connect(node->addAction(text), &QAction::triggered, this, [this, command] {
      guarded(MessageKind::Error, [this, command] { (this->*command)(); });
    });
  connect(menu.addAction(QStringLiteral("&Bus view\tF2")), &QAction::triggered, this, &TfrmBPX::openBusView);
  runContextMenu(menu, tvSDO->viewport()->mapToGlobal(pos));
}

}  // namespace bp::app
