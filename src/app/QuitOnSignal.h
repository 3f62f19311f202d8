#pragma once

namespace bp::app {

// Turns SIGINT and SIGTERM (Ctrl+C in the terminal, a session ending) into an orderly quit of the
// event loop, so the window's shut-down runs and the user SDO list is saved. A no-op on Windows.
// Call once, after the application object exists.
void quitOnTerminationSignals();
// True once such a signal has been handled (the event loop need not be entered any more).
bool terminationRequested();

}  // namespace bp::app
