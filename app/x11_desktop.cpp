#include "app/x11_desktop.h"

#include "platform/x11_windows.h"

namespace crestline {

X11Desktop::X11Desktop() = default;
X11Desktop::~X11Desktop() = default;
bool X11Desktop::hasX11() const { return x11_ != nullptr; }
DesktopScreens X11Desktop::screens() { return {}; }
double X11Desktop::pixelsPerPoint() const { return 1.0; }
std::optional<DesktopPointer> X11Desktop::pointer() { return std::nullopt; }
void X11Desktop::pinAsDock(QWidget&, const DesktopRect&, bool) {}
bool X11Desktop::activate(int) { return false; }
bool X11Desktop::forwardKey(int, const KeyPress&) { return false; }

}  // namespace crestline
