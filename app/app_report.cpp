#include "app/app_report.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "app/crestline_app.h"
#include "live/live_sync.h"
#include "tools/meter/reading_json.h"

namespace crestline {

namespace {

using Json = nlohmann::ordered_json;

Json frameJson(const std::optional<DesktopFrame>& frame) {
    if (!frame) return nullptr;
    return Json{{"x", frame->x}, {"y", frame->y}, {"width", frame->width}, {"height", frame->height}};
}

const char* stateName(CrestlineApp::State state) {
    switch (state) {
        case CrestlineApp::State::waiting: return "waiting";
        case CrestlineApp::State::standalone: return "standalone";
        case CrestlineApp::State::attached: return "attached";
    }
    return "waiting";
}

Json transportJson(const LiveSync& sync, double now) {
    const auto clock = sync.beatClock(now);
    std::scoped_lock held(sync.lock());
    const LiveSync::State& state = sync.stateLocked();
    const char* source = nullptr;
    if (sync.helperFreshLocked(now)) {
        source = "helper";
    } else if (state.lastMessage > 0.0 && now - state.lastMessage < LiveSync::kHelperFreshSeconds) {
        source = "midi";
    }
    if (source == nullptr && !clock) return nullptr;
    Json j;
    j["beat"] = clock ? Json(clock->beat) : Json(nullptr);
    j["bpm"] = clock ? Json(clock->beatsPerSecond * 60.0) : Json(nullptr);
    j["playing"] = state.playing;
    j["source"] = source != nullptr ? Json(source) : Json(nullptr);
    return j;
}

Json meterJson(CrestlineApp& app) {
    meter_tool::MeterReport report;
    report.reading = app.engine().meter().reading();
    if (const auto& tap = app.engine().tap(); tap && !app.captureBusy()) report.sampleRate = tap->sampleRate();
    Json j = Json::parse(meter_tool::formatReport(report), nullptr, false);
    if (j.is_discarded()) return nullptr;
    // These describe a whole file's session, not a running meter.
    for (const char* key : {"frames", "maxMomentary", "maxShortTerm"}) j.erase(key);
    return j;
}

}  // namespace

std::string reportLine(CrestlineApp& app) {
    Placement& placement = app.placement();
    Json j;
    j["state"] = stateName(app.state());
    j["mode"] = placement.floating() ? "floating" : "pinned";
    const auto metered = app.meteredPid();
    j["meteredPid"] = metered ? Json(*metered) : Json(nullptr);
    j["livePid"] = app.livePid() ? Json(*app.livePid()) : Json(nullptr);
    Json bar = frameJson(placement.barFrame());
    if (bar.is_null()) bar = Json::object();
    bar["shown"] = placement.barShown();
    bar["frames"] = placement.framesDrawn();
    j["bar"] = bar;
    j["liveWindow"] = frameJson(placement.liveWindowFrame());
    j["lastError"] = app.lastError() ? Json(*app.lastError()) : Json(nullptr);
    j["transport"] = transportJson(app.sync(), app.clock().now());
    j["meter"] = meterJson(app);
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace crestline
