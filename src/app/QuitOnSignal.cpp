#include "app/QuitOnSignal.h"

#include <QApplication>

#ifndef _WIN32
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace bp::app {

namespace {
bool g_terminationRequested = false;  // window thread only
}  // namespace

bool terminationRequested() { return g_terminationRequested; }

#ifndef _WIN32
namespace {
int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  // Only async-signal-safe work here: the event loop reads the byte and quits.
  [[maybe_unused]] const auto written = ::write(g_signalPipe[0], &byte, 1);
}
}  // namespace

void quitOnTerminationSignals() {
  if (g_signalPipe[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, [notifier] {
    char byte = 0;
    [[maybe_unused]] const auto got = ::read(g_signalPipe[1], &byte, 1);
    notifier->setEnabled(false);
    g_terminationRequested = true;
    // A message box may be open (even during start-up, before the event loop runs): close every
    // window, which ends modal loops, then leave the event loop.
    QApplication::closeAllWindows();
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
