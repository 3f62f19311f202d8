#pragma once
#include <QApplication>

namespace bp::app {

// The application object. An error that escapes an event handler is shown by the default handler
// (text with the "." rule, caption "Busprobe", error icon) and the program goes on.
class BusprobeApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace bp::app
