#pragma once

namespace bp::app {

// Turns SIGINT and SIGTERM (Ctrl+C in the terminal, a session ending) into an orderly end: every
// open dialog and message box is cancelled and the event loop quits, so the window's shut-down runs
// and the user SDO list is saved. A second signal ends the program at once with status 128 + signal.
// A no-op on Windows. Call once, after the application object exists.
void quitOnTerminationSignals();
// True once such a signal has arrived (the event loop need not be entered any more, and message
// boxes no longer wait for the user). Any thread.
bool terminationRequested();

}  // namespace bp::app
