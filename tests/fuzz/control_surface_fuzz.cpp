// The Control Surface scan of Preferences.cfg and the registration edit, on
// arbitrary bytes (seeded with real-shaped files from corpus/control_surface)
// and, on one run in four, on a block built from the input: an edit that
// succeeds must read back as the same block with exactly one slot changed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "live/live_helper.h"
#include "live/live_theme.h"

using namespace crestline;

namespace {

void check(std::string_view bytes) {
    const auto block = LiveHelper::controlSurfaces(bytes);
    if (block) {
        if (block->size() != 21 || (*block)[19].text != u"FromPush" || (*block)[20].text != u"ToPush") std::abort();
        for (size_t i = 1; i < block->size(); ++i) {
            if ((*block)[i].offset != (*block)[i - 1].offset + 4 + 2 * (*block)[i - 1].text.size()) std::abort();
        }
    }
    // Without a block the edit answers `unrecognised` before anything else;
    // only a found block is worth the second scan.
    if (!block) return;
    const auto edit = LiveHelper::edit(bytes);
    if (edit.registration.kind == LiveHelper::Registration::Kind::added) {
        if (edit.bytes.size() != bytes.size() + 10) std::abort();
        const auto after = LiveHelper::controlSurfaces(edit.bytes);
        if (!after) std::abort();
        const size_t slot = static_cast<size_t>(3 * edit.registration.slot - 3);
        for (size_t i = 0; i < 21; ++i) {
            const bool changed = (*after)[i].text != (*block)[i].text;
            if (changed != (i == slot) || (i == slot && (*after)[i].text != u"Crestline")) std::abort();
        }
    } else if (!edit.bytes.empty()) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    check(bytes);
    // The theme reader decodes the same file as UTF-16 at both alignments.
    (void)LiveTheme::preferencesText(bytes.substr(0, 1024));

    // A block whose slot names come from the input, after input noise.
    if (size < 8 || data[7] % 4 != 0) return 0;
    std::vector<std::u16string> names;
    size_t at = 8;
    for (int slot = 0; slot < 6; ++slot) {
        const size_t length = at < size ? data[at] % 12 : 0;
        ++at;
        std::u16string name;
        for (size_t i = 0; i < length && at < size; ++i, ++at) name.push_back(static_cast<char16_t>(data[at]));
        if (name.empty() || (data[slot] & 1)) name = u"None";
        if (data[slot] & 2) name = u"Crestline";
        names.push_back(name);
    }
    std::string built(bytes.substr(std::min(at, size), 64));
    for (size_t slot = 0; slot < 6; ++slot) {
        built += LiveHelper::encoded(names[slot]);
        built += LiveHelper::encoded(u"None");
        built += LiveHelper::encoded(u"None");
    }
    built += LiveHelper::encoded(u"Push2") + LiveHelper::encoded(u"FromPush") + LiveHelper::encoded(u"ToPush");
    check(built);
    return 0;
}
