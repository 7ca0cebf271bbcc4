// Whether a mouse button is held anywhere on the X11 desktop, not only over
// our own windows (a drag of Live's window, a file being dragged). One
// round trip on a connection of its own; main thread.
#pragma once

#include <optional>

namespace crestline {

// Nothing when there is no X11 display ($DISPLAY unset or unreachable).
std::optional<bool> desktopMouseButtonsHeld();

}  // namespace crestline
