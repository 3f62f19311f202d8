// The main window's side of the Bus view: opening it, and the tree captions it renews.
#include <QMenu>
#include <QTreeWidgetItemIterator>
#include <unordered_set>

#include "app/BusViewWindow.h"
#include "app/BusprobeMain.h"
#include "app/ItemEntry.h"

namespace bp::app {

void TfrmBPX::openBusView() {
  if (m_busView == nullptr) {
    m_busView = new TfrmBusView(m_session, this);
    m_busView->valuesRenewed = [this](const std::vector<od::ObjectEntry*>& entries) { renewCaptions(entries); };
  }
  m_busView->show();
  m_busView->raise();
  m_busView->activateWindow();
}

void TfrmBPX::lvReceivedContextMenu(const QPoint& pos) {
  QMenu menu(lvReceived);
  menu.setObjectName(QStringLiteral("mnuMonitor"));
  connect(menu.addAction(QStringLiteral("&Bus view\tF2")), &QAction::triggered, this, &TfrmBPX::openBusView);
  runContextMenu(menu, lvReceived->viewport()->mapToGlobal(pos));
}

void TfrmBPX::renewCaptions(const std::vector<od::ObjectEntry*>& entries) {
  if (entries.empty()) return;
  const std::unordered_set<const od::ObjectEntry*> renew(entries.begin(), entries.end());
  for (QTreeWidgetItemIterator it(tvSDO); *it != nullptr; ++it)
    if (const od::ObjectEntry* entry = entryOf(*it); entry != nullptr && renew.contains(entry))
      (*it)->setText(0, captionOf(*entry));
}

}  // namespace bp::app
