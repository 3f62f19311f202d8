#include "app/QuitOnSignal.h"

#include <QApplication>
#include <QDialog>
#include <atomic>

#ifndef _WIN32
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace bp::app {

namespace {
// Signals received; written by the handler on whichever thread takes the signal.
std::atomic<int> g_signalCount{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");
}  // namespace

bool terminationRequested() { return g_signalCount.load() > 0; }

#ifndef _WIN32
namespace {
int g_signalPipe[2] = {-1, -1};

void onSignal(int signal) {
  // Only async-signal-safe work here: the event loop reads the byte and ends the program in order.
  if (g_signalCount.fetch_add(1) > 0) ::_exit(128 + signal);
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(g_signalPipe[0], &byte, 1);
}

// Cancels every open dialog and message box, innermost first, which ends their modal loops.
void cancelModalWidgets() {
  QWidget* previous = nullptr;
  while (QWidget* modal = QApplication::activeModalWidget()) {
    if (modal == previous) return;  // it refused to close
    previous = modal;
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    } else {
      modal->close();
    }
  }
}
}  // namespace

void quitOnTerminationSignals() {
  if (g_signalPipe[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
  // Runs in whichever event loop is active: the main one, or a box's during start-up or shut-down.
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    char byte = 0;
    [[maybe_unused]] const auto got = ::read(g_signalPipe[1], &byte, 1);
    cancelModalWidgets();
    QCoreApplication::quit();
  });
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}
#else
void quitOnTerminationSignals() {}
#endif

}  // namespace bp::app
