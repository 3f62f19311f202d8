#include "app/WindowStyle.h"

#include <algorithm>

namespace bp::app {

QFont windowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                    QStringLiteral("Nimbus Sans"), QStringLiteral("Arial"), QStringLiteral("Helvetica")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

void applyFormStyle(QWidget* form) {
  form->setFont(windowFont());
  form->setBackgroundRole(QPalette::Button);
  form->setAutoFillBackground(true);
}

void fitLabel(QWidget* label) {
  const QSize hint = label->sizeHint();
  label->resize(std::max(label->width(), hint.width()), std::max(label->height(), hint.height()));
}

}  // namespace bp::app
