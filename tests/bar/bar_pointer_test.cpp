// Gestures on the bar widget with synthesized Qt events, offscreen: what they
// write to the settings and which of the window owner's callbacks they call.
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QWheelEvent>
#include <utility>
#include <vector>

#include "bar/bar_menu.h"
#include "bar/bar_pointer.h"
#include "bar/bar_widget.h"
#include "bar/hint_panel.h"
#include "tests/bar/bar_fixture.h"

namespace crestline {
namespace {

using testing::BarFixture;

// Stands in for a graph: registers its rectangle as a hint zone (and an
// inner one over it, when given) and remembers the reading it was handed.
class RecordingDisplay final : public ModuleDisplay {
public:
    RecordingDisplay(ColorArea area, Hint hint) : area_(area), hint_(hint) {}
    ColorArea area() const override { return area_; }
    void draw(Canvas&, const Rect& rect, const Frame& frame, Zones& zones) override {
        zones.addHint(rect, hint_);
        if (inner) zones.addHint(Rect{rect.minX() + 20.0, rect.minY(), 40.0, rect.height}, *inner);
        momentary = frame.reading.momentary;
        frozen = frame.frozen();
    }
    std::optional<Hint> inner;
    double momentary = 0.0;
    bool frozen = false;

private:
    ColorArea area_;
    Hint hint_;
};

class BarPointerTest : public BarFixture {
protected:
    BarPointerTest() {
        view.onLayoutHide = [this](ColorArea area) { hidden.push_back(area); };
        view.onLayoutMove = [this](ColorArea area, int index) { moved.emplace_back(area, index); };
        view.onReset = [this](ResetTarget target) { resets.push_back(target); };
        view.onSelectionChanged = [this](std::optional<ColorArea> area) { selections.push_back(area); };
        view.onHeightDrag = [this](double height, bool finished) { heights.emplace_back(height, finished); };
        widget.show();
        frame();
    }
    ~BarPointerTest() override { widget.pointer().cancelHint(); }

    void frame(double height = 36.0) {
        if (widget.height() != static_cast<int>(height)) widget.resize(static_cast<int>(kWidth), static_cast<int>(height));
        render(kWidth, height);
    }
    void mouse(QEvent::Type type, Point at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        const QPointF local = widget.widgetPosition(at);
        QMouseEvent event(type, local, widget.mapToGlobal(local), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
    }
    void hover(Point at) { mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton); }
    void press(Point at) { mouse(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton); }
    void drag(Point at) { mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton); }
    void release(Point at) { mouse(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton); }
    void click(Point at) {
        press(at);
        release(at);
    }
    void doubleClick(Point at) {
        click(at);
        mouse(QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
        release(at);
    }
    void dragFromTo(Point from, Point to) {
        press(from);
        drag(to);
        release(to);
    }
    bool key(int qtKey) {
        QKeyEvent event(QEvent::KeyPress, qtKey, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
        return event.isAccepted();
    }
    bool rightClick(Point at) {
        const QPoint local = widget.widgetPosition(at).toPoint();
        QContextMenuEvent event(QContextMenuEvent::Mouse, local, widget.mapToGlobal(local));
        event.ignore();
        QApplication::sendEvent(&widget, &event);
        return event.isAccepted();
    }

    Rect shape(ColorArea area) const { return layout.areaShapes.at(area); }
    TrailingLine lineOf(ColorArea area) const {
        for (const TrailingLine& line : layout.trailingLines) {
            if (line.module == area) return line;
        }
        ADD_FAILURE() << "no divider after " << rawValue(area);
        return {};
    }
    Point dividerOf(ColorArea area) const {
        const Rect r = lineOf(area).rect;
        return {r.midX(), r.midY()};
    }
    // A point on the module's title bar, after a frame that drew it.
    Point titleOf(ColorArea area) {
        const Point at{shape(area).minX() + 20.0, shape(area).maxY() - 4.0};
        hover(at);
        frame();
        return at;
    }
    Point centre(const Rect& r) const { return {r.midX(), r.midY()}; }
    const Rect& zoneOf(Hint hint) const {
        const Rect* zone = hintZone(hint);
        EXPECT_NE(zone, nullptr);
        static const Rect none;
        return zone != nullptr ? *zone : none;
    }
    Qt::CursorShape cursorShape() const { return widget.testAttribute(Qt::WA_SetCursor) ? widget.cursor().shape() : Qt::ArrowCursor; }

    static constexpr double kWidth = 1600.0;
    BarWidget widget{view};
    std::vector<ColorArea> hidden;
    std::vector<std::pair<ColorArea, int>> moved;
    std::vector<ResetTarget> resets;
    std::vector<std::optional<ColorArea>> selections;
    std::vector<std::pair<double, bool>> heights;
};

// ---- Dividers ------------------------------------------------------------------

TEST_F(BarPointerTest, DividerDraggedBelowTheMinimumStopsAtIt) {
    const TrailingLine scope = lineOf(ColorArea::scope);
    const double historyWidth = layout.rowWidths.at(ColorArea::history);
    dragFromTo(dividerOf(ColorArea::scope), {scope.pairMinX + 20.0, 18.0});
    EXPECT_EQ(settings.moduleWidth(ColorArea::scope), 150.0);
    // The press kept the other graph where it was.
    EXPECT_EQ(settings.moduleWidth(ColorArea::history), historyWidth);
    EXPECT_EQ(view.pointer.grab, std::nullopt);

    frame();
    const TrailingLine narrow = lineOf(ColorArea::scope);
    dragFromTo(dividerOf(ColorArea::scope), {narrow.pairMinX + 300.6 - layout.gap / 2.0, 18.0});
    EXPECT_EQ(settings.moduleWidth(ColorArea::scope), 300.0);
    // Never wider than the bar.
    dragFromTo({narrow.pairMinX + 300.0 - layout.gap / 2.0, 18.0}, {1e6, 18.0});
    EXPECT_LE(settings.moduleWidth(ColorArea::scope).value_or(0.0), layout.moduleWidthLimit);

    // The horizontal dashboard's meter is sized by the user and stops at its own minimum.
    frame(120.0);
    const TrailingLine dashboard = lineOf(ColorArea::meter);
    EXPECT_EQ(dashboard.minimum, 300.0);
    dragFromTo(dividerOf(ColorArea::meter), {dashboard.pairMinX + 10.0, 60.0});
    EXPECT_EQ(settings.moduleWidth(ColorArea::meter), 300.0);
}

TEST_F(BarPointerTest, MeterDividerSpreadsItsColumnsUpToTheLimit) {
    settings.setModuleOrder({ColorArea::meter, ColorArea::scope, ColorArea::history});
    frame();
    const TrailingLine line = lineOf(ColorArea::meter);
    ASSERT_GE(line.spreadGaps, 1);
    const double x0 = line.pairMinX - layout.gap / 2.0 + line.minimum;
    dragFromTo(dividerOf(ColorArea::meter), {x0 + 10.5 * line.spreadGaps, 18.0});
    EXPECT_EQ(settings.meterSpread(), 10.0);
    EXPECT_EQ(settings.moduleWidth(ColorArea::meter), std::nullopt);  // a spread, not a width

    frame();
    dragFromTo(dividerOf(ColorArea::meter), {kWidth - 1.0, 18.0});
    EXPECT_EQ(settings.meterSpread(), BarView::kMaximumSpread);
    frame();
    dragFromTo(dividerOf(ColorArea::meter), {x0 - 50.0, 18.0});
    EXPECT_EQ(settings.meterSpread(), std::nullopt);
}

TEST_F(BarPointerTest, DoubleClickOnADividerGivesTheAutomaticWidthBack) {
    settings.setModuleWidth(ColorArea::scope, 220.0);
    settings.setMeterSpread(12.0);
    frame();
    doubleClick(dividerOf(ColorArea::scope));
    EXPECT_EQ(settings.moduleWidth(ColorArea::scope), std::nullopt);
    frame();
    doubleClick(dividerOf(ColorArea::meter));
    EXPECT_EQ(settings.meterSpread(), std::nullopt);
}

// ---- Moving and removing modules ----------------------------------------------------

TEST_F(BarPointerTest, TitleBarDraggedAlongTheBarMovesTheModuleAndOffItHidesIt) {
    const Point title = titleOf(ColorArea::scope);
    press(title);
    EXPECT_EQ(view.pointer.selectedArea, ColorArea::scope);
    const Point past = {shape(ColorArea::meter).midX() + 10.0, 18.0};
    drag(past);
    ASSERT_TRUE(view.pointer.editDrag);
    EXPECT_EQ(cursorShape(), Qt::ClosedHandCursor);
    frame();  // with the insertion mark
    release(past);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0], std::pair(ColorArea::scope, 2));  // after history and the meter
    EXPECT_FALSE(view.pointer.editDrag);

    // Just below the bar still counts as on it; further down the module goes.
    press(titleOf(ColorArea::history));
    drag({30.0, -3.0});
    EXPECT_EQ(cursorShape(), Qt::ClosedHandCursor);
    drag({30.0, -10.0});
    EXPECT_EQ(cursorShape(), Qt::ForbiddenCursor);
    frame();  // with the removal tint
    release({30.0, -10.0});
    EXPECT_EQ(hidden, std::vector{ColorArea::history});
    EXPECT_EQ(moved.size(), 1u);
}

TEST_F(BarPointerTest, DeleteHidesTheSelectedModuleAndOtherKeysOnlyDeselect) {
    struct Case {
        int key;
        bool hides;
    };
    for (const Case c : {Case{Qt::Key_Escape, false}, Case{Qt::Key_A, false}, Case{Qt::Key_Delete, true},
                         Case{Qt::Key_Backspace, true}}) {
        hidden.clear();
        click(titleOf(ColorArea::scope));
        ASSERT_EQ(view.pointer.selectedArea, ColorArea::scope);
        key(c.key);
        EXPECT_EQ(view.pointer.selectedArea, std::nullopt) << c.key;
        EXPECT_EQ(selections.back(), std::nullopt);
        EXPECT_EQ(hidden, c.hides ? std::vector{ColorArea::scope} : std::vector<ColorArea>{}) << c.key;
    }
    // Without a selection the key is not the bar's.
    EXPECT_FALSE(key(Qt::Key_Delete));
    EXPECT_EQ(hidden.size(), 1u);
}

TEST_F(BarPointerTest, ResetZonesResetAndAPressBesideEveryModuleDeselects) {
    click(titleOf(ColorArea::scope));
    click(centre(zoneOf(Hint::integrated)));
    EXPECT_EQ(view.pointer.selectedArea, ColorArea::scope);  // inside a module: the selection stays
    click({3.0, 18.0});
    EXPECT_EQ(view.pointer.selectedArea, std::nullopt);
    click(centre(zoneOf(Hint::truePeak)));
    click(centre(zoneOf(Hint::peak)));
    EXPECT_EQ(resets, (std::vector{ResetTarget::of(ResetTarget::Kind::integrated),
                                   ResetTarget::of(ResetTarget::Kind::truePeak),
                                   ResetTarget::of(ResetTarget::Kind::peakHold)}));
}

// ---- Height, notch, scrolling, cursors ------------------------------------------------

TEST_F(BarPointerTest, BottomEdgeDragsTheHeightWithinItsRange) {
    press({100.0, 2.0});
    drag({100.0, -18.0});  // 20 points down
    drag({100.0, -5000.0});
    drag({100.0, 5000.0});
    release({100.0, 5000.0});
    EXPECT_EQ(heights, (std::vector<std::pair<double, bool>>{{56.0, false}, {2000.0, false}, {28.0, false}, {28.0, true}}));

    heights.clear();
    view.setHeightHandle(false);  // Live's window is fitted under the bar
    dragFromTo({100.0, 2.0}, {100.0, -18.0});
    EXPECT_TRUE(heights.empty());
}

TEST_F(BarPointerTest, AFreeFloatingStripIsSizedByItsEdgesAndMovedByItsBody) {
    int frameChanges = 0;
    view.onFrameChanged = [&] { ++frameChanges; };
    view.setDraggable(true);
    widget.setGeometry(200, 100, static_cast<int>(kWidth), 36);
    frame();
    press({3.0, 18.0});
    EXPECT_EQ(view.pointer.grab, Grab::left);
    drag({-47.0, 18.0});  // 50 points to the left
    EXPECT_EQ(widget.geometry(), QRect(150, 100, static_cast<int>(kWidth) + 50, 36));
    drag({1e5, 18.0});  // never narrower than the bar's minimum
    EXPECT_EQ(widget.width(), static_cast<int>(std::ceil(view.minimumWidth())));
    release({1e5, 18.0});
    EXPECT_EQ(frameChanges, 1);

    widget.setGeometry(200, 100, static_cast<int>(kWidth), 36);
    frame();
    const Point body{shape(ColorArea::scope).midX(), 15.0};
    press(body);
    drag({body.x + 30.0, body.y - 20.0});
    release({body.x + 30.0, body.y - 20.0});
    EXPECT_EQ(widget.geometry(), QRect(230, 120, static_cast<int>(kWidth), 36));
}

TEST_F(BarPointerTest, PastANotchPointsMapBackToTheRow) {
    view.setNotchGap(NotchGap{400.0, 500.0});
    const BarPointer& pointer = widget.pointer();
    struct Case {
        double shown;
        double row;
    };
    // The row splits at 394 and its right part is shown 112 further right.
    for (const Case c : {Case{100.0, 100.0}, Case{393.0, 393.0}, Case{450.0, 394.0}, Case{600.0, 488.0}}) {
        EXPECT_EQ(pointer.unmapNotch({c.shown, 10.0}).x, c.row) << c.shown;
    }
    EXPECT_EQ(pointer.mapNotch({488.0, 10.0}).x, 600.0);
    view.setStatus(std::string("Waiting"));  // the status layout is drawn whole
    EXPECT_EQ(pointer.unmapNotch({600.0, 10.0}).x, 600.0);
}

TEST_F(BarPointerTest, WheelScrollsARowWiderThanTheBarAndCancelsTheHint) {
    settings.setModuleWidth(ColorArea::scope, 3000.0);
    settings.setShowHints(true);
    frame();
    ASSERT_GT(layout.scrollRange, 0.0);
    hover(centre(zoneOf(Hint::scope)));
    ASSERT_TRUE(widget.pointer().hintTimerRunning());
    const QPointF at = widget.widgetPosition({200.0, 18.0});
    QWheelEvent wheel(at, widget.mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(&widget, &wheel);
    EXPECT_EQ(view.layout().scrollOffset, 8.0);
    EXPECT_FALSE(widget.pointer().hintTimerRunning());
}

TEST_F(BarPointerTest, CursorsNameWhatAPressWouldDo) {
    const Point title = titleOf(ColorArea::scope);
    struct Case {
        Point at;
        Qt::CursorShape shape;
    };
    for (const Case c : {Case{dividerOf(ColorArea::history), Qt::SizeHorCursor}, Case{title, Qt::OpenHandCursor},
                         Case{centre(zoneOf(Hint::shortTerm)), Qt::PointingHandCursor},
                         Case{centre(*layout.plusRect), Qt::PointingHandCursor},
                         Case{{shape(ColorArea::scope).midX(), 15.0}, Qt::ArrowCursor},
                         Case{{shape(ColorArea::scope).midX(), 1.0}, Qt::SizeVerCursor}}) {
        hover(c.at);
        EXPECT_EQ(cursorShape(), c.shape) << c.at.x << "," << c.at.y;
    }
}

// ---- Menus --------------------------------------------------------------------------

TEST_F(BarPointerTest, GearRightClickAndAddButtonOpenTheirMenus) {
    std::vector<ColorArea> asked;
    int addAsked = 0;
    view.moduleMenu = [&](ColorArea area) {
        asked.push_back(area);
        return plainModuleMenu(DrawerCatalogue(settings, {}).drawerControls(area), [] {});
    };
    view.addMenu = [&] {
        ++addAsked;
        return plainAddMenu({ColorArea::spectrum}, [](ColorArea) {});
    };

    titleOf(ColorArea::scope);
    const auto gear = std::find_if(layout.editZones.begin(), layout.editZones.end(),
                                   [](const auto& zone) { return zone.second.kind == EditTarget::Kind::options; });
    ASSERT_NE(gear, layout.editZones.end());
    press(centre(gear->first));
    release(centre(gear->first));
    EXPECT_EQ(asked, std::vector{ColorArea::scope});
    EXPECT_EQ(view.pointer.menuHighlight, ColorArea::scope);
    EXPECT_TRUE(widget.pointer().menuOpen());
    QApplication::activePopupWidget()->close();
    EXPECT_EQ(view.pointer.menuHighlight, std::nullopt);

    EXPECT_TRUE(rightClick({shape(ColorArea::history).midX(), 10.0}));
    EXPECT_EQ(asked.back(), ColorArea::history);
    EXPECT_EQ(widget.pointer().contextArea(), ColorArea::history);
    QApplication::activePopupWidget()->close();
    EXPECT_FALSE(rightClick({3.0, 10.0}));  // beside every module: not the bar's menu

    click(centre(*layout.plusRect));
    EXPECT_EQ(addAsked, 1);
    QApplication::activePopupWidget()->close();
}

TEST(BarMenu, PlainModuleMenuChecksTheSelectedOptionsAndEndsWithDelete) {
    testing::guiApplication();
    bool removed = false;
    int chosen = 0;
    const std::vector<DrawerControl> rows = {
        {.label = "Window",
         .options = {{.title = "10 ms", .selected = false, .action = [&] { chosen = 10; }},
                     {.title = "40 ms", .selected = true, .action = [&] { chosen = 40; }}}},
        {.label = "Clear", .options = {{.title = "Clear", .action = [&] { chosen = -1; }}}, .isAction = true},
    };
    auto menu = plainModuleMenu(rows, [&] { removed = true; });
    QMenu* qt = qtMenuOf(*menu);
    ASSERT_NE(qt, nullptr);
    const auto actions = qt->actions();
    ASSERT_EQ(actions.size(), 4);  // Window ▸, Clear, separator, Delete
    const auto options = actions[0]->menu()->actions();
    EXPECT_FALSE(options[0]->isChecked());
    EXPECT_TRUE(options[1]->isChecked());
    options[0]->trigger();
    EXPECT_EQ(chosen, 10);
    actions[1]->trigger();
    EXPECT_EQ(chosen, -1);
    EXPECT_EQ(actions[3]->text(), "Delete");
    actions[3]->trigger();
    EXPECT_TRUE(removed);
}

// ---- Freezing and holding ---------------------------------------------------------------

TEST_F(BarPointerTest, SpectrumPeakHoldFollowsThePointer) {
    settings.setModuleOrder({ColorArea::spectrum, ColorArea::history, ColorArea::meter});
    settings.setSpectrumPeakHold(true);
    frame();
    ASSERT_TRUE(layout.spectrumField && layout.historyField);
    const Point onSpectrum = centre(*layout.spectrumField);
    hover(onSpectrum);
    EXPECT_TRUE(view.pointer.spectrumGrabbed);
    EXPECT_EQ(view.pointer.grabPointerX, onSpectrum.x);
    hover(centre(*layout.historyField));
    EXPECT_FALSE(view.pointer.spectrumGrabbed);
    EXPECT_EQ(view.pointer.grabPointerX, std::nullopt);
    EXPECT_EQ(view.pointer.historyPointerX, layout.historyField->midX());
    hover(onSpectrum);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&widget, &leave);
    EXPECT_FALSE(view.pointer.spectrumGrabbed);
    EXPECT_EQ(view.pointer.grabPointerX, std::nullopt);

    // Freezing the spectrum on hover takes the place of the hold.
    settings.setFreezeOnHover(ColorArea::spectrum, true);
    hover(onSpectrum);
    EXPECT_FALSE(view.pointer.spectrumGrabbed);
    EXPECT_EQ(view.pointer.frozenArea, ColorArea::spectrum);
}

TEST_F(BarPointerTest, FrozenModuleKeepsItsReadingWhileTheMeterMovesOn) {
    auto owned = std::make_unique<RecordingDisplay>(ColorArea::imager, Hint::imager);
    RecordingDisplay& imager = *owned;
    view.replaceDisplay(GraphKind::imager, std::move(owned));
    settings.setModuleOrder({ColorArea::imager, ColorArea::history, ColorArea::meter});
    settings.setFreezeOnHover(ColorArea::imager, true);
    settings.setSpectrumPeakHold(true);  // a hold elsewhere leaves the freeze alone
    meter.value.momentary = -20.0;
    frame();

    hover({shape(ColorArea::imager).midX(), 15.0});
    ASSERT_EQ(view.pointer.frozenArea, ColorArea::imager);
    frame();
    meter.value.momentary = -10.0;
    hover({shape(ColorArea::imager).midX() + 5.0, 15.0});  // resting on it
    frame();
    EXPECT_TRUE(imager.frozen);
    EXPECT_EQ(imager.momentary, -20.0);

    hover({shape(ColorArea::history).midX(), 15.0});  // another module thaws it
    EXPECT_EQ(view.pointer.frozenArea, std::nullopt);
    frame();
    EXPECT_EQ(imager.momentary, -10.0);

    hover({shape(ColorArea::imager).midX(), 15.0});
    press({shape(ColorArea::imager).midX(), 15.0});  // so does a press
    EXPECT_EQ(view.pointer.frozenArea, std::nullopt);
    release({shape(ColorArea::imager).midX(), 15.0});
}

// ---- Hints ------------------------------------------------------------------------------

TEST_F(BarPointerTest, HintShowsAfterAThirdOfASecondAtRestAndAMoveHidesIt) {
    settings.setShowHints(true);
    BarPointer& pointer = widget.pointer();
    const Point at = centre(zoneOf(Hint::momentary));
    hover(at);
    EXPECT_EQ(pointer.pendingHint(), Hint::momentary);
    clock.advance(0.2);
    pointer.hintTimerFired();
    EXPECT_EQ(pointer.shownHint(), std::nullopt);
    clock.advance(0.1);
    pointer.hintTimerFired();
    EXPECT_EQ(pointer.shownHint(), Hint::momentary);
    EXPECT_TRUE(widget.hintPanel().isVisible());
    EXPECT_EQ(widget.hintPanel().hint(), Hint::momentary);
    // Never in the way of the pointer's clicks or the keyboard.
    EXPECT_TRUE(widget.hintPanel().testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_TRUE(widget.hintPanel().windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));

    hover({at.x + 1.0, at.y});
    EXPECT_FALSE(widget.hintPanel().isVisible());
    EXPECT_EQ(pointer.pendingHint(), Hint::momentary);
    press(at);
    EXPECT_EQ(pointer.pendingHint(), std::nullopt);
    release(at);
}

TEST_F(BarPointerTest, TheLaterOfTwoZonesNamesTheHint) {
    auto owned = std::make_unique<RecordingDisplay>(ColorArea::scope, Hint::scope);
    owned->inner = Hint::peak;
    view.replaceDisplay(GraphKind::scope, std::move(owned));
    settings.setShowHints(true);
    frame();
    const Rect scope = shape(ColorArea::scope);
    hover({scope.minX() + 30.0, 15.0});
    EXPECT_EQ(widget.pointer().pendingHint(), Hint::peak);
    hover({scope.minX() + 80.0, 15.0});
    EXPECT_EQ(widget.pointer().pendingHint(), Hint::scope);
}

TEST_F(BarPointerTest, NoHintWhenSwitchedOffOrWhileAMenuIsOpen) {
    BarPointer& pointer = widget.pointer();
    const Point at = centre(zoneOf(Hint::integrated));
    const auto restAndFire = [&] {
        hover(at);
        clock.advance(0.31);
        pointer.hintTimerFired();
        return pointer.shownHint();
    };
    EXPECT_EQ(restAndFire(), std::nullopt);  // "showHints" is off by default
    EXPECT_FALSE(pointer.hintTimerRunning());

    settings.setShowHints(true);
    bool applicationMenu = true;
    view.applicationMenuOpen = [&] { return applicationMenu; };
    EXPECT_EQ(restAndFire(), std::nullopt);
    applicationMenu = false;

    view.moduleMenu = [&](ColorArea area) {
        return plainModuleMenu(DrawerCatalogue(settings, {}).drawerControls(area), [] {});
    };
    ASSERT_TRUE(rightClick(at));
    EXPECT_EQ(restAndFire(), std::nullopt);
    QApplication::activePopupWidget()->close();
    EXPECT_EQ(restAndFire(), Hint::integrated);
}

TEST(HintPanel, SitsBesideThePointerAndInsideTheScreen) {
    const QRectF screen{0.0, 30.0, 1000.0, 700.0};  // a top panel of 30 points
    const QSizeF size{200.0, 60.0};
    struct Case {
        QPointF pointer;
        QPointF topLeft;
    };
    for (const Case c : {Case{{100.0, 100.0}, {108.0, 112.0}},   // below and right of the pointer
                         Case{{100.0, 700.0}, {108.0, 628.0}},   // near the bottom: above it
                         Case{{900.0, 100.0}, {796.0, 112.0}},   // near the right: 4 inside
                         Case{{-50.0, 100.0}, {4.0, 112.0}}}) {  // left of the screen: 4 inside
        const QRectF frame = hintPanelFrame(c.pointer, size, screen);
        EXPECT_EQ(frame.topLeft(), c.topLeft) << c.pointer.x() << "," << c.pointer.y();
        EXPECT_EQ(frame.size(), size);
    }
}

TEST(HintPanel, WrapsItsParagraphWithinTheTextWidth) {
    testing::guiApplication();
    const Font font = LiveFont::toolbar(HintPanel::kFontSize);
    const std::string_view body = hintBody(Hint::peak);
    const auto lines = wrapText(body, font, HintPanel::kMaxTextWidth);
    ASSERT_GT(lines.size(), 3u);
    std::string joined;
    for (const auto& line : lines) {
        EXPECT_LE(font.width(line), HintPanel::kMaxTextWidth) << line;
        joined += (joined.empty() ? "" : " ") + line;
    }
    EXPECT_EQ(joined, body);

    HintPanel panel;
    panel.configure(Hint::peak, BarTheme::preset(BarThemeName::liveDark));
    const QSizeF size = panel.fittingSize();
    EXPECT_LE(size.width(), HintPanel::kMaxTextWidth + 2.0 * HintPanel::kPaddingX + 1.0);
    EXPECT_GT(size.height(), static_cast<double>(lines.size()) * font.lineHeight());
}

}  // namespace
}  // namespace crestline
