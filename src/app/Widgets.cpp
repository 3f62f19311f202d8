#include "app/Widgets.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>

namespace bp::app {

void CloseUpComboBox::showPopup() {
  m_popupShown = true;
  QComboBox::showPopup();
}

void CloseUpComboBox::hidePopup() {
  QComboBox::hidePopup();
  if (!m_popupShown) return;
  m_popupShown = false;
  emit closeUp();
}

ReportListView::ReportListView(QWidget* parent) : QTreeWidget(parent) {}

void ReportListView::dragEnterEvent(QDragEnterEvent* event) {
  if (dragOver && dragOver(event->source()))
    event->acceptProposedAction();
  else
    event->ignore();
}

void ReportListView::dragMoveEvent(QDragMoveEvent* event) {
  if (dragOver && dragOver(event->source()))
    event->acceptProposedAction();
  else
    event->ignore();
}

void ReportListView::dropEvent(QDropEvent* event) {
  if (!dragOver || !dragOver(event->source())) {
    event->ignore();
    return;
  }
  // The view's own move logic is not used: the window moves the row by its own rule.
  event->setDropAction(Qt::CopyAction);
  event->accept();
  if (dragDrop) dragDrop(event->source(), event->position().toPoint());
}

void ReportListView::keyReleaseEvent(QKeyEvent* event) {
  QTreeWidget::keyReleaseEvent(event);
  if (keyUp && !event->isAutoRepeat()) keyUp(event->key());
}

}  // namespace bp::app
