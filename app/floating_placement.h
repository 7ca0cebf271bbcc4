// The bar in one ordinary window of its own, whatever the mode: the
// placement used where the desktop offers nothing more (no X11 window
// manager to pin a dock window or move Live's window). The window keeps
// the stored floating size, is never smaller than the bar's minimum width,
// and is shown while the application is active (Live runs or it runs on
// its own). Main thread.
#pragma once

#include <memory>

#include "app/app_ports.h"

class QWidget;

namespace crestline {

class BarView;
class BarWidget;
class Settings;

class FloatingPlacement final : public Placement {
public:
    FloatingPlacement(BarView& view, Settings& settings, PlacementHost& host);
    ~FloatingPlacement() override;

    void applyBarMode() override {}
    void layoutBar() override;
    void updateVisibility() override;
    void refreshFullScreen() override {}
    void fitStep() override {}
    void setFillPending() override {}
    void requestTrustIfNeeded() override {}
    void redraw() override;
    bool floating() const override { return true; }
    bool barShown() const override;
    std::optional<DesktopFrame> barFrame() const override;
    std::optional<DesktopFrame> liveWindowFrame() const override { return std::nullopt; }
    std::optional<std::string> colourSpaceName() const override;
    void shutDown() override;

    QWidget* window() const { return window_.get(); }

private:
    void fitMinimumWidth();

    BarView& view_;
    Settings& settings_;
    PlacementHost& host_;
    std::unique_ptr<QWidget> window_;
    BarWidget* widget_ = nullptr;  // owned by the window
};

}  // namespace crestline
