#pragma once
#include <QComboBox>
#include <QTreeWidget>
#include <functional>

namespace bp::app {

// A pick-only combo box that reports every close of its drop-down list, whether or not the
// selection changed.
class CloseUpComboBox : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  void showPopup() override;
  void hidePopup() override;
 signals:
  void closeUp();

 private:
  bool m_popupShown = false;  // hidePopup also runs when the widget is hidden
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
