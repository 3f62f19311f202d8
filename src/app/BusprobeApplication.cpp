#include "app/BusprobeApplication.h"

#include "app/Messages.h"

namespace bp::app {

bool BusprobeApplication::notify(QObject* receiver, QEvent* event) {
  bool handled = false;
  guarded(MessageKind::Default, [&] { handled = QApplication::notify(receiver, event); });
  return handled;
}

}  // namespace bp::app
