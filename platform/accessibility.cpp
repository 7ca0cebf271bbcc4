#include "platform/accessibility.h"

#include <charconv>
#include <cmath>
#include <mutex>

#include "platform/x11_accessibility.h"

namespace crestline {
namespace {

std::mutex& layerMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<Accessibility>& installedLayer() {
    static std::shared_ptr<Accessibility> layer;
    return layer;
}

template <typename T>
std::optional<T> typed(AXElement& element, std::string_view attribute) {
    AXValue value;
    if (element.copyAttribute(attribute, value) != AXError::success) return std::nullopt;
    if (const T* v = std::get_if<T>(&value)) return *v;
    return std::nullopt;
}

}  // namespace

AXError AXElement::setAttribute(std::string_view, const AXValue&) { return AXError::attributeUnsupported; }

Accessibility& accessibility() {
    std::scoped_lock lock(layerMutex());
    auto& layer = installedLayer();
    if (!layer) layer = std::make_shared<X11Accessibility>();
    return *layer;
}

std::shared_ptr<Accessibility> setAccessibility(std::shared_ptr<Accessibility> layer) {
    std::scoped_lock lock(layerMutex());
    auto previous = std::move(installedLayer());
    installedLayer() = std::move(layer);
    return previous;
}

std::optional<std::string> axString(AXElement& e, std::string_view a) { return typed<std::string>(e, a); }
std::optional<bool> axBool(AXElement& e, std::string_view a) { return typed<bool>(e, a); }
std::optional<double> axNumber(AXElement& e, std::string_view a) { return typed<double>(e, a); }
std::optional<AXPoint> axPoint(AXElement& e, std::string_view a) { return typed<AXPoint>(e, a); }
std::optional<AXSize> axSize(AXElement& e, std::string_view a) { return typed<AXSize>(e, a); }
std::optional<AXElementList> axElements(AXElement& e, std::string_view a) { return typed<AXElementList>(e, a); }

std::optional<std::string> axText(const AXValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* flag = std::get_if<bool>(&value)) return std::string(*flag ? "1" : "0");
    if (const auto* number = std::get_if<double>(&value)) {
        if (!std::isfinite(*number)) return std::nullopt;
        char buffer[64];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, *number);
        if (result.ec != std::errc()) return std::nullopt;
        return std::string(buffer, result.ptr);
    }
    return std::nullopt;
}

}  // namespace crestline
