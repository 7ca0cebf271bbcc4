#include "platform/x11_windows.h"

namespace crestline {

struct X11Windows::Connection {};

RootRect visibleArea(const RootRect& monitor, long, long, const std::vector<StrutPartial>&) { return monitor; }

X11Windows::X11Windows(const std::string&) {}
X11Windows::~X11Windows() = default;
bool X11Windows::available() const { return false; }
bool X11Windows::windowManagerRuns() { return false; }
std::pair<long, long> X11Windows::rootSize() { return {0, 0}; }
void X11Windows::makeDock(std::uint64_t, long, long, long) {}
void X11Windows::setAbove(std::uint64_t, bool) {}
std::vector<StrutPartial> X11Windows::struts(std::uint64_t) { return {}; }
std::uint64_t X11Windows::mainWindowOf(long) { return 0; }
bool X11Windows::activate(std::uint64_t) { return false; }
bool X11Windows::sendKey(unsigned) { return false; }
std::optional<X11Windows::Pointer> X11Windows::pointer() { return std::nullopt; }

}  // namespace crestline
