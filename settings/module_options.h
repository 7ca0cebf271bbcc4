// The module identifiers and the small option enumerations of the bar, with
// the text raw values under which the settings store them and the titles the
// menus and the settings window show. Raw values equal the case names and
// never change: they are in users' settings files.
//
//   rawValue(ScopeWindow::bars16) == "bars16"
//   title(ScopeWindow::bars16)    == "16 Bars"
//   fromRawValue<ScopeWindow>("bars16")
//   allCases<ColorArea>()         // the order every walk over modules uses
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "analysis/history_source.h"

namespace crestline {

// Module identifier, in the order used wherever all modules are walked.
enum class ColorArea { scope, spectrum, imager, history, spectrogram, meter };
// A graph module: the areas without the meter.
enum class GraphKind { scope, spectrum, imager, history, spectrogram };
// Span of the oscilloscope: triggered (ms), overview (s), or synced to Live.
enum class ScopeWindow { ms10, ms40, ms100, ms250, s1, s4, s10, s30, beat1, bar1, bars4, bars8, bars16 };
enum class ScopeMode { stereo, left, right, mid, side };
enum class SpectrumChannel { stereo, left, right, mid, side };
enum class ImagerMode { polarSample, lissajous };
enum class SpectrogramRange { wide, normal, tight };
enum class ColorMap { module, frequency, heat };
// The parts of the loudness meter that can be shown ("meterPart." + raw value).
enum class MeterPart { momentary, shortTerm, integrated, loudnessRange, truePeak, psr, peak };
// Where the bar lives: under the menu bar above Live, or in a window of its own.
enum class BarMode { pinned, floating };

template <class E>
struct EnumCase {
    E value;
    std::string_view raw;
    std::string_view title;
};

// Specialised below for every enumeration with stored raw values.
template <class E>
struct EnumCases;

template <class E>
concept StoredEnum = requires { EnumCases<E>::cases; };

template <>
struct EnumCases<ColorArea> {
    static constexpr std::array<EnumCase<ColorArea>, 6> cases{{
        {ColorArea::scope, "scope", "Oscilloscope"},
        {ColorArea::spectrum, "spectrum", "Spectrum"},
        {ColorArea::imager, "imager", "Imager"},
        {ColorArea::history, "history", "Loudness History"},
        {ColorArea::spectrogram, "spectrogram", "Spectrogram"},
        {ColorArea::meter, "meter", "Meter"},
    }};
};

template <>
struct EnumCases<GraphKind> {
    static constexpr std::array<EnumCase<GraphKind>, 5> cases{{
        {GraphKind::scope, "scope", "Oscilloscope"},
        {GraphKind::spectrum, "spectrum", "Spectrum"},
        {GraphKind::imager, "imager", "Imager"},
        {GraphKind::history, "history", "Loudness History"},
        {GraphKind::spectrogram, "spectrogram", "Spectrogram"},
    }};
};

template <>
struct EnumCases<ScopeWindow> {
    static constexpr std::array<EnumCase<ScopeWindow>, 13> cases{{
        {ScopeWindow::ms10, "ms10", "10 ms"},
        {ScopeWindow::ms40, "ms40", "40 ms"},
        {ScopeWindow::ms100, "ms100", "100 ms"},
        {ScopeWindow::ms250, "ms250", "250 ms"},
        {ScopeWindow::s1, "s1", "1 Second"},
        {ScopeWindow::s4, "s4", "4 Seconds"},
        {ScopeWindow::s10, "s10", "10 Seconds"},
        {ScopeWindow::s30, "s30", "30 Seconds"},
        {ScopeWindow::beat1, "beat1", "1 Beat"},
        {ScopeWindow::bar1, "bar1", "1 Bar"},
        {ScopeWindow::bars4, "bars4", "4 Bars"},
        {ScopeWindow::bars8, "bars8", "8 Bars"},
        {ScopeWindow::bars16, "bars16", "16 Bars"},
    }};
};

template <>
struct EnumCases<ScopeMode> {
    static constexpr std::array<EnumCase<ScopeMode>, 5> cases{{
        {ScopeMode::stereo, "stereo", "Stereo"},
        {ScopeMode::left, "left", "Left"},
        {ScopeMode::right, "right", "Right"},
        {ScopeMode::mid, "mid", "Mid"},
        {ScopeMode::side, "side", "Side"},
    }};
};

template <>
struct EnumCases<SpectrumChannel> {
    static constexpr std::array<EnumCase<SpectrumChannel>, 5> cases{{
        {SpectrumChannel::stereo, "stereo", "Stereo"},
        {SpectrumChannel::left, "left", "Left"},
        {SpectrumChannel::right, "right", "Right"},
        {SpectrumChannel::mid, "mid", "Mid"},
        {SpectrumChannel::side, "side", "Side"},
    }};
};

template <>
struct EnumCases<ImagerMode> {
    static constexpr std::array<EnumCase<ImagerMode>, 2> cases{{
        {ImagerMode::polarSample, "polarSample", "Polar Sample"},
        {ImagerMode::lissajous, "lissajous", "Lissajous"},
    }};
};

template <>
struct EnumCases<SpectrogramRange> {
    static constexpr std::array<EnumCase<SpectrogramRange>, 3> cases{{
        {SpectrogramRange::wide, "wide", "Wide"},
        {SpectrogramRange::normal, "normal", "Normal"},
        {SpectrogramRange::tight, "tight", "Tight"},
    }};
};

template <>
struct EnumCases<ColorMap> {
    static constexpr std::array<EnumCase<ColorMap>, 3> cases{{
        {ColorMap::module, "module", "Module"},
        {ColorMap::frequency, "frequency", "Frequency"},
        {ColorMap::heat, "heat", "Heat"},
    }};
};

template <>
struct EnumCases<HistorySource> {
    static constexpr std::array<EnumCase<HistorySource>, 5> cases{{
        {HistorySource::momentary, "momentary", "Momentary"},
        {HistorySource::shortTerm, "shortTerm", "Short-term"},
        {HistorySource::integrated, "integrated", "Integrated"},
        {HistorySource::truePeak, "truePeak", "True Peak"},
        {HistorySource::psr, "psr", "PSR"},
    }};
};

template <>
struct EnumCases<MeterPart> {
    static constexpr std::array<EnumCase<MeterPart>, 7> cases{{
        {MeterPart::momentary, "momentary", "Momentary"},
        {MeterPart::shortTerm, "shortTerm", "Short-term"},
        {MeterPart::integrated, "integrated", "Integrated"},
        {MeterPart::loudnessRange, "loudnessRange", "Loudness Range (LRA)"},
        {MeterPart::truePeak, "truePeak", "True Peak"},
        {MeterPart::psr, "psr", "PSR"},
        {MeterPart::peak, "peak", "Peak (L/R)"},
    }};
};

template <>
struct EnumCases<BarMode> {
    static constexpr std::array<EnumCase<BarMode>, 2> cases{{
        {BarMode::pinned, "pinned", "Pinned"},
        {BarMode::floating, "floating", "Floating"},
    }};
};

namespace detail {
template <StoredEnum E>
constexpr const EnumCase<E>& enumCase(E value) {
    for (const auto& c : EnumCases<E>::cases) {
        if (c.value == value) return c;
    }
    return EnumCases<E>::cases[0];  // unreachable for a valid value
}
}  // namespace detail

// For HistorySource the overload in analysis/history_source.h is chosen; both
// give the same text.
template <StoredEnum E>
constexpr std::string_view rawValue(E value) {
    return detail::enumCase(value).raw;
}

template <StoredEnum E>
constexpr std::string_view title(E value) {
    return detail::enumCase(value).title;
}

template <StoredEnum E>
constexpr std::optional<E> fromRawValue(std::string_view raw) {
    for (const auto& c : EnumCases<E>::cases) {
        if (c.raw == raw) return c.value;
    }
    return std::nullopt;
}

template <StoredEnum E>
constexpr auto allCases() {
    std::array<E, EnumCases<E>::cases.size()> out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = EnumCases<E>::cases[i].value;
    return out;
}

// A module converts to a graph through its raw value; the meter is none.
constexpr std::optional<GraphKind> graphKind(ColorArea area) { return fromRawValue<GraphKind>(rawValue(area)); }
constexpr ColorArea colorArea(GraphKind kind) { return *fromRawValue<ColorArea>(rawValue(kind)); }

// What one scope window spans: seconds for the triggered and overview
// windows, beats or bars of Live's tempo for the synced ones.
struct ScopeSpan {
    enum class Unit { seconds, beats, bars };
    double amount;
    Unit unit;
};

constexpr ScopeSpan span(ScopeWindow window) {
    using U = ScopeSpan::Unit;
    switch (window) {
        case ScopeWindow::ms10: return {0.010, U::seconds};
        case ScopeWindow::ms40: return {0.040, U::seconds};
        case ScopeWindow::ms100: return {0.100, U::seconds};
        case ScopeWindow::ms250: return {0.250, U::seconds};
        case ScopeWindow::s1: return {1.0, U::seconds};
        case ScopeWindow::s4: return {4.0, U::seconds};
        case ScopeWindow::s10: return {10.0, U::seconds};
        case ScopeWindow::s30: return {30.0, U::seconds};
        case ScopeWindow::beat1: return {1.0, U::beats};
        case ScopeWindow::bar1: return {1.0, U::bars};
        case ScopeWindow::bars4: return {4.0, U::bars};
        case ScopeWindow::bars8: return {8.0, U::bars};
        case ScopeWindow::bars16: return {16.0, U::bars};
    }
    return {0.040, U::seconds};
}

constexpr bool isSyncedToLive(ScopeWindow window) { return span(window).unit != ScopeSpan::Unit::seconds; }

}  // namespace crestline
