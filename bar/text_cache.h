// Text drawn by the bar is laid out once per (text, font, colour, scale) and
// kept as a bitmap: blitting a cached image costs a couple of microseconds
// against tens for shaping and rasterising. Both maps are bounded and evict
// the least recently used entry, so a stream of ever new numbers cannot grow
// them without limit. Main thread only (or one drawing thread).
#pragma once

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>

#include "bar/colour.h"
#include "bar/geometry.h"
#include "bar/live_font.h"

namespace crestline {

struct TextKey {
    std::string text;
    int font = 0;            // Font::key()
    std::uint32_t colour = 0;  // RGBA, 8 bits each: what the bitmap can show
    int scale = 0;           // backing scale in hundredths

    bool operator==(const TextKey&) const = default;
};

// A key looked up without copying its text: frames look up every text
// they draw, and a copy of a longer one would take from the heap.
struct TextKeyView {
    std::string_view text;
    int font = 0;
    std::uint32_t colour = 0;
    int scale = 0;

    TextKeyView(std::string_view t, int f, std::uint32_t c, int s) : text(t), font(f), colour(c), scale(s) {}
    TextKeyView(const TextKey& key) : text(key.text), font(key.font), colour(key.colour), scale(key.scale) {}
    bool operator==(const TextKeyView&) const = default;
};

struct TextKeyHash {
    using is_transparent = void;
    std::size_t operator()(const TextKeyView& key) const;
};

struct TextKeyEqual {
    using is_transparent = void;
    bool operator()(const TextKeyView& a, const TextKeyView& b) const { return a == b; }
};

class TextCache {
public:
    static constexpr std::size_t kDefaultCapacity = 4096;

    explicit TextCache(std::size_t capacity = kDefaultCapacity);

    // Size of the text's box in points (advance width, line height).
    Size size(std::string_view text, const Font& font);
    // The text rendered at `scale` pixels per point with its device pixel
    // ratio set; transparent around the glyphs.
    const QImage& image(std::string_view text, const Font& font, const Colour& colour, double scale);

    void clear();
    std::size_t imageCount() const { return images_.size(); }
    std::size_t sizeCount() const { return sizes_.size(); }
    // Lookups that had to shape or render: for tests and the benchmark.
    std::size_t misses() const { return misses_; }

private:
    template <typename Value>
    class Lru {
    public:
        explicit Lru(std::size_t capacity) : capacity_(capacity) {}
        Value* find(const TextKeyView& key);
        Value& insert(TextKey key, Value value);
        void clear() {
            order_.clear();
            index_.clear();
        }
        std::size_t size() const { return index_.size(); }

    private:
        using Entry = std::pair<TextKey, Value>;
        std::size_t capacity_;
        std::list<Entry> order_;  // most recently used first
        std::unordered_map<TextKey, typename std::list<Entry>::iterator, TextKeyHash, TextKeyEqual> index_;
    };

    Lru<QImage> images_;
    Lru<Size> sizes_;
    std::size_t misses_ = 0;
};

}  // namespace crestline
