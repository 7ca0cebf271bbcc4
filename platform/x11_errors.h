// Xlib's default error handler ends the process; a window that vanished
// between two requests must only fail the request. Every X11 layer of ours
// installs this one handler, which records the error code for the thread
// whose request failed (Xlib reports errors on the thread that syncs).
#pragma once

namespace crestline {

// Idempotent; any thread.
void installX11ErrorHandler();
// The last error code seen on this thread since `clearX11Error`; 0 for none.
int lastX11Error();
void clearX11Error();

}  // namespace crestline
