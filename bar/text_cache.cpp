#include "bar/text_cache.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <functional>

namespace crestline {

namespace {

std::uint32_t packColour(const Colour& c) {
    const auto byte = [](double v) {
        return static_cast<std::uint32_t>(std::lround(std::isfinite(v) ? std::clamp(v, 0.0, 1.0) * 255.0 : 0.0));
    };
    return byte(c.red) << 24 | byte(c.green) << 16 | byte(c.blue) << 8 | byte(c.alpha);
}

int hundredths(double scale) {
    return static_cast<int>(std::lround(std::isfinite(scale) ? std::clamp(scale, 0.25, 16.0) * 100.0 : 200.0));
}

}  // namespace

std::size_t TextKeyHash::operator()(const TextKeyView& key) const {
    std::size_t h = std::hash<std::string_view>{}(key.text);
    const auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    mix(static_cast<std::size_t>(key.font));
    mix(key.colour);
    mix(static_cast<std::size_t>(key.scale));
    return h;
}

template <typename Value>
Value* TextCache::Lru<Value>::find(const TextKeyView& key) {
    const auto found = index_.find(key);
    if (found == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, found->second);
    return &found->second->second;
}

template <typename Value>
Value& TextCache::Lru<Value>::insert(TextKey key, Value value) {
    if (capacity_ > 0 && index_.size() >= capacity_) {
        index_.erase(order_.back().first);
        order_.pop_back();
    }
    order_.emplace_front(std::move(key), std::move(value));
    index_.emplace(order_.front().first, order_.begin());
    return order_.front().second;
}

TextCache::TextCache(std::size_t capacity) : images_(capacity), sizes_(capacity) {}

Size TextCache::size(std::string_view text, const Font& font) {
    if (const Size* found = sizes_.find(TextKeyView{text, font.key(), 0, 0})) return *found;
    ++misses_;
    return sizes_.insert(TextKey{std::string(text), font.key(), 0, 0}, font.measure(text));
}

const QImage& TextCache::image(std::string_view text, const Font& font, const Colour& colour, double scale) {
    const TextKeyView view{text, font.key(), packColour(colour), hundredths(scale)};
    if (const QImage* found = images_.find(view)) return *found;
    ++misses_;
    TextKey key{std::string(text), view.font, view.colour, view.scale};
    const double pixelsPerPoint = key.scale / 100.0;
    const Size box = size(text, font);
    const int width = std::max(1, static_cast<int>(std::ceil(box.width * pixelsPerPoint)));
    const int height = std::max(1, static_cast<int>(std::ceil(box.height * pixelsPerPoint)));
    QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(pixelsPerPoint);
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::TextAntialiasing);
        font.draw(painter, QPointF(0.0, font.ascent()), text, colour.toQColor());
    }
    return images_.insert(std::move(key), std::move(picture));
}

void TextCache::clear() {
    images_.clear();
    sizes_.clear();
}

}  // namespace crestline
