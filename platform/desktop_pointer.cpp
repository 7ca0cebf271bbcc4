#include "platform/desktop_pointer.h"

#include <X11/Xlib.h>

#include <cstdlib>

namespace crestline {

std::optional<bool> desktopMouseButtonsHeld() {
    // Opened once and kept: the question is asked several times a second.
    static Display* const display = [] {
        const char* name = std::getenv("DISPLAY");
        return name != nullptr && *name != '\0' ? XOpenDisplay(nullptr) : nullptr;
    }();
    if (display == nullptr) return std::nullopt;
    Window root = 0;
    Window child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &x, &y, &mask)) {
        return false;
    }
    return (mask & (Button1Mask | Button2Mask | Button3Mask)) != 0;
}

}  // namespace crestline
