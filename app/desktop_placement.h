// The controller's placement on the real desktop: BarPlacement over the X11
// desktop (or floating only where there is no X11 display). It owns both
// and hands the controller's calls on; `shutDown` lets go of the windows.
// Main thread.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "app/app_ports.h"
#include "app/bar_placement.h"

namespace crestline {

class X11Desktop;

class DesktopPlacement final : public Placement {
public:
    // `monitors` (points) stands in for the screens where the X server
    // cannot show several (see X11Desktop).
    DesktopPlacement(Settings& settings, BarView& view, PlacementHost& host, const Clock& clock,
                     std::optional<std::vector<DesktopRect>> monitors = std::nullopt);
    ~DesktopPlacement() override;

    void applyBarMode() override;
    void layoutBar() override;
    void updateVisibility() override;
    void refreshFullScreen() override;
    void fitStep() override;
    void setFillPending() override;
    void requestTrustIfNeeded() override {}  // X11 asks no one's leave to read windows
    void redraw() override;
    void wakeDisplay() override;
    void reopen() override;
    void selectionChanged(std::optional<ColorArea> module) override;
    bool floating() const override;
    bool barShown() const override;
    std::optional<DesktopFrame> barFrame() const override;
    std::optional<DesktopFrame> liveWindowFrame() const override;
    std::uint64_t framesDrawn() const override;
    std::optional<std::string> colourSpaceName() const override;
    void shutDown() override;

    BarPlacement* placement() { return placement_.get(); }

private:
    class FrameCounter;

    PlacementHost& host_;
    std::unique_ptr<X11Desktop> desktop_;
    std::unique_ptr<BarPlacement> placement_;
    std::unique_ptr<FrameCounter> frames_;
};

}  // namespace crestline
