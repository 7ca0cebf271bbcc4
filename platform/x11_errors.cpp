#include "platform/x11_errors.h"

#include <mutex>

#include <X11/Xlib.h>

namespace crestline {
namespace {

thread_local int threadError = 0;

int recordError(Display*, XErrorEvent* event) {
    threadError = event->error_code;
    return 0;
}

}  // namespace

void installX11ErrorHandler() {
    static std::once_flag installed;
    std::call_once(installed, [] { XSetErrorHandler(recordError); });
}

int lastX11Error() { return threadError; }
void clearX11Error() { threadError = 0; }

}  // namespace crestline
