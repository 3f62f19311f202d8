#pragma once
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace bp::app {

// The "Write Value" dialog. Created once, hidden, and shown modally for every write from the tree;
// its controls keep their state between showings ("Add to list" stays as the user left it).
class TfrmInput : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmInput(QWidget* parent = nullptr);

  QLabel* Label1;
  QLabel* Label3;
  QLabel* Label2;
  QLabel* lblObjectIdx;
  QLabel* lblSubIdx;
  QLineEdit* edValue;
  QPushButton* Button1;  // "&Ok", the default button
  QPushButton* Button2;  // "&Cancel", the cancel button; Enter on it when focused cancels
  QCheckBox* cbAddUser;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
};

}  // namespace bp::app
