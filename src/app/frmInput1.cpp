#include "app/frmInput1.h"

#include <QShowEvent>

#include "app/WindowStyle.h"

namespace bp::app {

TfrmInput::TfrmInput(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("frmInput"));
  setWindowTitle(QStringLiteral("Write Value"));
  applyFormStyle(this);
  setFixedSize(207, 190);
  move(277, 122);
  setModal(true);

  Label1 = place(new QLabel(QStringLiteral("Object Index"), this), "Label1", 16, 24, 60, 13);
  Label3 = place(new QLabel(QStringLiteral("Sub Index"), this), "Label3", 16, 48, 48, 13);
  Label2 = place(new QLabel(QStringLiteral("Value"), this), "Label2", 16, 80, 27, 13);
  lblObjectIdx = place(new QLabel(QStringLiteral("lblObjectIdx"), this), "lblObjectIdx", 96, 24, 55, 13);
  lblSubIdx = place(new QLabel(QStringLiteral("lblSubIdx"), this), "lblSubIdx", 96, 48, 43, 13);
  edValue = place(new QLineEdit(this), "edValue", 8, 96, 169, 21);
  Button1 = place(new QPushButton(QStringLiteral("&Ok"), this), "Button1", 104, 152, 75, 25);
  Button2 = place(new QPushButton(QStringLiteral("&Cancel"), this), "Button2", 8, 152, 75, 25);
  cbAddUser = place(new QCheckBox(QStringLiteral("Add to list"), this), "cbAddUser", 8, 128, 129, 17);
  cbAddUser->setChecked(true);
  for (QLabel* label : {Label1, Label3, Label2, lblObjectIdx, lblSubIdx}) fitLabel(label);

  // Enter in the value edit presses the default button, OK; on a focused button Enter (like
  // Space) presses that button, so a focused Cancel cancels. Esc cancels anywhere.
  Button1->setDefault(true);
  Button1->setAutoDefault(true);
  Button2->setAutoDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);  // Esc and the close icon reject too

  setTabOrder(edValue, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, cbAddUser);
}

void TfrmInput::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TfrmInput::FormShow() {
  edValue->selectAll();
  edValue->setFocus();
}

}  // namespace bp::app
