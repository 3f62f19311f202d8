#pragma once
#include <QFont>
#include <QWidget>

namespace bp::app {

// The windows' font: "MS Sans Serif" 8 pt where it exists, else the nearest sans-serif with the
// same narrow metrics (Arial-compatible faces), so every caption fits its control.
QFont windowFont();

// Font and button-face background of a form.
void applyFormStyle(QWidget* form);

// Places a control: object name (= its name in the form), bounds in client pixels.
template <class W>
W* place(W* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

// Labels size themselves to their text (growing to the right and down from their position), so
// a caption is never cut where the platform's font is wider than the designed one.
void fitLabel(QWidget* label);

}  // namespace bp::app
