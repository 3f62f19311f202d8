#pragma once
#include <QTreeWidgetItem>

#include "od/ObjectEntry.h"

namespace bp::app {

// The record a tree node or list row carries (none for category nodes).
inline void setEntryOf(QTreeWidgetItem* item, od::ObjectEntry* entry) {
  item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(entry)));
}
inline od::ObjectEntry* entryOf(const QTreeWidgetItem* item) {
  if (item == nullptr) return nullptr;
  return reinterpret_cast<od::ObjectEntry*>(item->data(0, Qt::UserRole).value<quintptr>());
}

}  // namespace bp::app
