#include "app/bar_placement.h"

#include <QWidget>

#include "bar/bar_view.h"
#include "bar/bar_widget.h"
#include "platform/accessibility.h"
#include "platform/clock.h"
#include "settings/settings.h"

namespace crestline {

class BarPlacement::PinnedWindow : public QWidget {};
class BarPlacement::FloatingWindow : public QWidget {};

BarPlacement::BarPlacement(Settings& settings, BarView& view, PlacementHost& host, PlacementDesktop& desktop,
                           Accessibility& accessibility, const Clock& clock)
    : settings_(settings), view_(view), host_(host), desktop_(desktop), accessibility_(accessibility), clock_(clock),
      pinned_(std::make_unique<PinnedWindow>()), floating_(std::make_unique<FloatingWindow>()) {
    widget_ = new BarWidget(view_, floating_.get());
}

BarPlacement::~BarPlacement() = default;

bool BarPlacement::floating() const { return host_.standalone() || settings_.barMode() == BarMode::floating; }
void BarPlacement::applyBarMode() {}
void BarPlacement::layoutBar() {}
void BarPlacement::updateVisibility() {}
void BarPlacement::refreshFullScreen() {}
void BarPlacement::scanLiveWindows() {}
std::optional<DesktopRect> BarPlacement::liveMainWindowFrame(int, double) { return std::nullopt; }
void BarPlacement::barHeightDragged(double, bool) {}
void BarPlacement::storeFloatingFrame() {}
void BarPlacement::setDetached(bool) {}
void BarPlacement::selectionChanged(std::optional<ColorArea>) {}
bool BarPlacement::handleKey(const KeyPress&) { return false; }
void BarPlacement::fitLive() {}
void BarPlacement::noticeGapUnderBar(int) {}
void BarPlacement::requestFill() { state_.fillPending = true; }
void BarPlacement::liveActivated() {}
void BarPlacement::screensChanged() {}
void BarPlacement::reopen() {}
bool BarPlacement::barShown() const { return shown_; }
std::optional<DesktopRect> BarPlacement::barFrame() const { return std::nullopt; }
QWidget& BarPlacement::pinnedWindow() { return *pinned_; }
QWidget& BarPlacement::floatingWindow() { return *floating_; }
QWidget& BarPlacement::windowInUse() { return floating() ? static_cast<QWidget&>(*floating_) : *pinned_; }
BarWidget& BarPlacement::widget() { return *widget_; }
void BarPlacement::pollLiveEdge() {}
void BarPlacement::followLiveTop() {}
void BarPlacement::followLiveTopCheck() {}

}  // namespace crestline
