#include "app/Widgets.h"

#include <QLocale>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QWheelEvent>

namespace bp::app {

namespace {

// Keys that move the current item of a closed, non-editable QComboBox. Alt+Down opens the list
// instead; F4, Space, Return, Escape and control characters never move it.
bool movesClosedBox(const QKeyEvent& event) {
  switch (event.key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
      return !(event.modifiers() & Qt::AltModifier);
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
      return true;
    case Qt::Key_Space:
    case Qt::Key_F4:
    case Qt::Key_Select:
      return false;
    default:
      return !event.text().isEmpty() && event.text().front().isPrint();  // keyboard search
  }
}

}  // namespace

CloseUpComboBox::CloseUpComboBox(QWidget* parent) : QComboBox(parent) {
  // A pick closes the list first and sets the index after; activated follows the index.
  connect(this, &QComboBox::activated, this, &CloseUpComboBox::finishCloseUp);
}

void CloseUpComboBox::showPopup() {
  finishCloseUp();  // a close not yet reported comes before the next opening
  m_popupShown = true;
  QComboBox::showPopup();
}

void CloseUpComboBox::hidePopup() {
  QComboBox::hidePopup();
  if (!m_popupShown) return;
  m_popupShown = false;
  m_closeUpPending = true;
  // Without a pick nothing follows the close: report it once the current event is done.
  QMetaObject::invokeMethod(this, &CloseUpComboBox::finishCloseUp, Qt::QueuedConnection);
}

void CloseUpComboBox::finishCloseUp() {
  if (!m_closeUpPending) return;
  m_closeUpPending = false;
  emit closeUp();
}

void CloseUpComboBox::keyPressEvent(QKeyEvent* event) {
  if (m_pickInListOnly && !isEditable()) {
    if (event->key() == Qt::Key_Up && (event->modifiers() & Qt::AltModifier)) {
      showPopup();  // as Alt+Down does; QComboBox would move to the item above
      event->accept();
      return;
    }
    if (movesClosedBox(*event)) {
      event->accept();
      return;
    }
  }
  QComboBox::keyPressEvent(event);
}

void CloseUpComboBox::wheelEvent(QWheelEvent* event) {
  if (m_pickInListOnly) {
    event->ignore();
    return;
  }
  QComboBox::wheelEvent(event);
}

char localeDecimalSeparator() {
  const QString sep = QLocale().decimalPoint();
  if (sep.size() == 1 && sep[0].unicode() < 0x80) return static_cast<char>(sep[0].unicode());
  return '.';
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
