// SIGINT and SIGTERM end the application through its event loop, so the
// ordered shut-down runs as it does when the window is closed. The handler
// only writes one byte to a pipe; a socket notifier on the main thread
// reads it and asks the application to quit.
#pragma once

namespace crestline {

// Installs the handlers; call once, after the QCoreApplication exists.
void quitOnSignals();

}  // namespace crestline
