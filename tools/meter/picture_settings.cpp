#include "tools/meter/picture_settings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

#include "settings/settings.h"

namespace crestline::meter_tool {
namespace {

using nlohmann::json;

enum class Kind { boolean, number, integer, text, texts, colour };

struct KeyRule {
    std::string name;
    Kind kind;
    double low = 0.0;          // numbers: the range; `openLow` excludes the low end
    double high = 0.0;
    bool openLow = false;
    std::vector<std::string> choices;  // texts: the accepted values
};

template <StoredEnum E>
std::vector<std::string> raws() {
    std::vector<std::string> out;
    for (E value : allCases<E>()) out.emplace_back(rawValue(value));
    return out;
}

// The stored keys that shape the bar, with their types and ranges.
const std::vector<KeyRule>& keyRules() {
    static const std::vector<KeyRule> rules = [] {
        std::vector<KeyRule> r;
        const auto flag = [&r](std::string name) { r.push_back({std::move(name), Kind::boolean, 0.0, 0.0, false, {}}); };
        const auto number = [&r](std::string name, double low, double high, bool openLow) {
            r.push_back({std::move(name), Kind::number, low, high, openLow, {}});
        };
        const auto text = [&r](std::string name, std::vector<std::string> choices) {
            r.push_back({std::move(name), Kind::text, 0.0, 0.0, false, std::move(choices)});
        };
        for (const char* name : {"showTimelineMarks", "historyPeakMarks", "historyDynamics", "spectrumPeakHold",
                                 "showMeter"}) {
            flag(name);
        }
        number("targetLUFS", -70.0, 0.0, false);
        number("historyTargetLUFS", -70.0, 0.0, false);
        number("historyMinutes", 0.0, 10.0, true);
        number("spectrumTilt", -24.0, 24.0, false);
        number("spectrogramTilt", -24.0, 24.0, false);
        number("spectrogramSeconds", 0.0, 600.0, true);
        number("meterWidth", 0.0, 16384.0, true);
        number("meterSpread", 0.0, 60.0, false);
        r.push_back({"historyShows", Kind::texts, 0.0, 0.0, false, {"momentary", "shortTerm", "integrated"}});
        text("scopeWindow", raws<ScopeWindow>());
        text("scopeMode", raws<ScopeMode>());
        text("scopeColorMap", {"module", "frequency"});
        text("spectrumChannel", raws<SpectrumChannel>());
        text("spectrogramChannel", raws<SpectrumChannel>());
        text("spectrogramColorMap", {"module", "heat"});
        text("spectrogramRange", raws<SpectrogramRange>());
        text("imagerMode", raws<ImagerMode>());
        text("barTheme", {"liveLight", "liveDark", "scope"});
        r.push_back({"accentColor", Kind::colour, 0.0, 1.0, false, {}});
        std::vector<std::string> slots = raws<GraphKind>();
        slots.emplace_back("off");
        for (int n = 1; n <= Settings::kGraphSlots; ++n) {
            text("window" + std::to_string(n), slots);
            number("windowWeight" + std::to_string(n), 0.0, 1000.0, true);
        }
        r.push_back({"meterIndex", Kind::integer, 0.0, static_cast<double>(Settings::kGraphSlots), false, {}});
        for (ColorArea area : allCases<ColorArea>()) {
            r.push_back({"accentColor." + std::string(rawValue(area)), Kind::colour, 0.0, 1.0, false, {}});
            number("moduleWidth." + std::string(rawValue(area)), 0.0, 16384.0, true);
        }
        for (MeterPart part : allCases<MeterPart>()) flag("meterPart." + std::string(rawValue(part)));
        return r;
    }();
    return rules;
}

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& w : words) out += (out.empty() ? "" : ", ") + w;
    return out;
}

bool inRange(const KeyRule& rule, double v) {
    if (!std::isfinite(v) || v > rule.high) return false;
    return rule.openLow ? v > rule.low : v >= rule.low;
}

std::string rangeText(const KeyRule& rule) {
    char text[96];
    std::snprintf(text, sizeof text, "%s%g to %g", rule.openLow ? "above " : "", rule.low, rule.high);
    return text;
}

}  // namespace

std::string applySetting(const std::string& assignment, Settings& settings) {
    const std::size_t equals = assignment.find('=');
    const std::string key = assignment.substr(0, equals);
    const std::string text = equals == std::string::npos ? std::string() : assignment.substr(equals + 1);
    const auto& rules = keyRules();
    const auto rule = std::find_if(rules.begin(), rules.end(), [&](const KeyRule& r) { return r.name == key; });
    if (rule == rules.end()) return "--set: unknown settings key '" + key + "'";
    const std::string where = "--set " + key + ": ";
    const json value = json::parse(text, nullptr, false);
    if (value.is_discarded()) {
        return where + "the value must be JSON (a text in double quotes, e.g. '\"s4\"'), got '" + text + "'";
    }
    switch (rule->kind) {
        case Kind::boolean:
            if (!value.is_boolean()) return where + "expected true or false, got " + value.dump();
            settings.setBool(key, value.get<bool>());
            return {};
        case Kind::number:
        case Kind::integer: {
            const bool whole = value.is_number_integer() ||
                               (value.is_number_float() && std::trunc(value.get<double>()) == value.get<double>());
            if (!value.is_number() || (rule->kind == Kind::integer && !whole) || !inRange(*rule, value.get<double>())) {
                return where + "expected " + (rule->kind == Kind::integer ? "a whole number " : "a number ") +
                       rangeText(*rule) + ", got " + value.dump();
            }
            if (rule->kind == Kind::integer) {
                settings.setInteger(key, static_cast<std::int64_t>(value.get<double>()));
            } else if (key == "historyTargetLUFS") {
                settings.setHistoryTargetLUFS(value.get<double>());  // marks the history's own target chosen
            } else {
                settings.setNumber(key, value.get<double>());
            }
            return {};
        }
        case Kind::text: {
            const bool known = value.is_string() &&
                               std::find(rule->choices.begin(), rule->choices.end(), value.get<std::string>()) !=
                                   rule->choices.end();
            if (!known) return where + "expected one of " + joined(rule->choices) + " (in quotes), got " + value.dump();
            settings.setString(key, value.get<std::string>());
            return {};
        }
        case Kind::texts: {
            std::vector<std::string> items;
            bool ok = value.is_array();
            for (const json& item : ok ? value : json::array()) {
                ok = ok && item.is_string() &&
                     std::find(rule->choices.begin(), rule->choices.end(), item.get<std::string>()) !=
                         rule->choices.end();
                if (ok) items.push_back(item.get<std::string>());
            }
            if (!ok) return where + "expected a list of " + joined(rule->choices) + ", got " + value.dump();
            settings.setStrings(key, items);
            return {};
        }
        case Kind::colour: {
            std::vector<double> components;
            bool ok = value.is_array() && value.size() == 3;
            for (const json& item : ok ? value : json::array()) {
                ok = ok && item.is_number() && inRange(*rule, item.get<double>());
                if (ok) components.push_back(item.get<double>());
            }
            if (!ok) return where + "expected [red, green, blue], each 0 to 1, got " + value.dump();
            settings.setNumbers(key, components);
            return {};
        }
    }
    return where + "cannot be set";
}

std::string applyModules(const std::string& list, Settings& settings) {
    std::vector<ColorArea> order;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        std::string name = list.substr(start, comma - start);
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(' ') + 1);
        const auto area = fromRawValue<ColorArea>(name);
        if (!area) {
            return "--modules: unknown module '" + name + "' (scope, spectrum, imager, history, spectrogram, meter)";
        }
        if (std::find(order.begin(), order.end(), *area) != order.end()) {
            return "--modules: '" + name + "' named twice";
        }
        order.push_back(*area);
        start = comma + 1;
    }
    settings.setModuleOrder(order);
    return {};
}

std::string applyPictureChoices(const MeterOptions& options, Settings& settings) {
    for (const std::string& assignment : options.overrides) {
        if (std::string error = applySetting(assignment, settings); !error.empty()) return error;
    }
    if (options.modules) return applyModules(*options.modules, settings);
    return {};
}

}  // namespace crestline::meter_tool
