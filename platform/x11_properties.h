// Reading a window's format-32 property (CARDINAL, WINDOW, ATOM): the one
// XGetWindowProperty dance every X11 layer of ours needs. Xlib hands such
// values back as an array of long whatever the width of long, and a
// property of another type or format reads as nothing.
#pragma once

#include <optional>
#include <vector>

// Xlib's own types, named without its header (whose macros clash with
// common names): Display is struct _XDisplay, Window and Atom are XIDs.
struct _XDisplay;

namespace crestline {

// At most `maxCount` values; empty when the property is absent or not
// `type` in format 32.
std::vector<unsigned long> readCardinals(_XDisplay* display, unsigned long window, unsigned long property,
                                         unsigned long type, long maxCount);

// The property's single value, when it holds exactly one.
std::optional<unsigned long> readCardinal(_XDisplay* display, unsigned long window, unsigned long property,
                                         unsigned long type);

}  // namespace crestline
