// A value per module, for the row's geometry that the view lays out every
// frame: std::map's interface as far as the bar uses it, on a fixed array
// (one entry per ColorArea, kept in ColorArea order), so laying out a frame
// takes nothing from the heap.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <stdexcept>
#include <utility>

#include "settings/module_options.h"

namespace crestline {

template <typename T>
class AreaMap {
public:
    using value_type = std::pair<ColorArea, T>;
    using iterator = value_type*;
    using const_iterator = const value_type*;

    AreaMap() = default;
    AreaMap(std::initializer_list<value_type> values) {
        for (const value_type& v : values) (*this)[v.first] = v.second;
    }

    iterator begin() { return entries_.data(); }
    iterator end() { return entries_.data() + size_; }
    const_iterator begin() const { return entries_.data(); }
    const_iterator end() const { return entries_.data() + size_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void clear() { size_ = 0; }

    iterator find(ColorArea area) { return std::find_if(begin(), end(), [area](auto& v) { return v.first == area; }); }
    const_iterator find(ColorArea area) const {
        return std::find_if(begin(), end(), [area](const auto& v) { return v.first == area; });
    }
    bool contains(ColorArea area) const { return find(area) != end(); }
    std::size_t count(ColorArea area) const { return contains(area) ? 1 : 0; }
    const T& at(ColorArea area) const {
        const auto it = find(area);
        if (it == end()) throw std::out_of_range("AreaMap::at");
        return it->second;
    }
    T& operator[](ColorArea area) {
        if (const auto it = find(area); it != end()) return it->second;
        // Kept in ColorArea order, as std::map keeps it.
        iterator at = std::find_if(begin(), end(), [area](const auto& v) { return v.first > area; });
        std::move_backward(at, end(), end() + 1);
        *at = value_type{area, T{}};
        ++size_;
        return at->second;
    }

    bool operator==(const AreaMap& other) const { return std::equal(begin(), end(), other.begin(), other.end()); }

private:
    std::array<value_type, allCases<ColorArea>().size()> entries_{};
    std::size_t size_ = 0;
};

}  // namespace crestline
