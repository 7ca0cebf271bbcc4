#include "platform/x11_properties.h"

#include <X11/Xlib.h>

namespace crestline {

std::vector<unsigned long> readCardinals(Display* display, Window window, Atom property, Atom type, long maxCount) {
    std::vector<unsigned long> result;
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, maxCount, False, type, &actualType, &format, &count, &after,
                           &data) == Success &&
        data != nullptr && format == 32 && actualType == type) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        result.assign(values, values + count);
    }
    if (data != nullptr) XFree(data);
    return result;
}

std::optional<unsigned long> readCardinal(Display* display, Window window, Atom property, Atom type) {
    const std::vector<unsigned long> values = readCardinals(display, window, property, type, 1);
    if (values.size() != 1) return std::nullopt;
    return values.front();
}

}  // namespace crestline
