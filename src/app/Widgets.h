#pragma once
#include <QComboBox>
#include <QTreeWidget>
#include <functional>

namespace bp::app {

// The decimal separator of the user's locale when it is one ASCII character, else '.'.
char localeDecimalSeparator();

// A pick-only combo box that reports every close of its drop-down list, whether or not the
// selection changed: closeUp comes once per close, after a pick has set the current index (at once
// when an item was picked; from the event loop when the list closed without a pick, e.g. Escape).
class CloseUpComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit CloseUpComboBox(QWidget* parent = nullptr);
  void showPopup() override;
  void hidePopup() override;

  // When set, the closed box ignores the wheel, the arrow, page, Home and End keys and typed
  // characters: its item changes only by a pick in the drop-down list. Off by default.
  void setPickInListOnly(bool on) { m_pickInListOnly = on; }

 signals:
  void closeUp();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void finishCloseUp();

  bool m_popupShown = false;      // hidePopup also runs when the widget is hidden
  bool m_closeUpPending = false;  // the list closed; closeUp not yet emitted
  bool m_pickInListOnly = false;
};

// A report list view whose drag-and-drop and key-release events go to handlers of the window.
class ReportListView : public QTreeWidget {
  Q_OBJECT
 public:
  explicit ReportListView(QWidget* parent = nullptr);

  std::function<bool(QObject* source)> dragOver;          // accept the drag?
  std::function<void(QObject* source, QPoint pos)> dragDrop;
  std::function<void(int key)> keyUp;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
};

}  // namespace bp::app
