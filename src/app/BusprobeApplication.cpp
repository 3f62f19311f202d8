#include "app/BusprobeApplication.h"

#include "app/Messages.h"

namespace bp::app {

bool BusprobeApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    showDefaultError(textFromBytes(e.what()));
  }
  return false;
}

}  // namespace bp::app
