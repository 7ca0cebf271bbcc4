#include "bar/live_font.h"

#include <hb.h>

#include <QFont>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

namespace crestline {

// One weight of the family: the tables HarfBuzz shapes with and a raw font
// that sized copies are made from. Shared by every size of that weight.
struct Typeface {
    QRawFont raw;
    hb_face_t* face = nullptr;
    hb_font_t* font = nullptr;
    double unitsPerEm = 1000.0;

    ~Typeface() {
        if (font != nullptr) hb_font_destroy(font);
        if (face != nullptr) hb_face_destroy(face);
    }
};

namespace {

constexpr const char* kFamily = "Inter";

hb_blob_t* tableOf(hb_face_t*, hb_tag_t tag, void* user) {
    const auto* raw = static_cast<const QRawFont*>(user);
    char name[5];
    hb_tag_to_string(tag, name);
    name[4] = 0;
    auto* bytes = new QByteArray(raw->fontTable(name));
    if (bytes->isEmpty()) {
        delete bytes;
        return nullptr;
    }
    return hb_blob_create(bytes->constData(), static_cast<unsigned>(bytes->size()), HB_MEMORY_MODE_READONLY,
                          bytes, [](void* data) { delete static_cast<QByteArray*>(data); });
}

std::shared_ptr<const Typeface> makeTypeface(QFont::Weight weight) {
    auto face = std::make_shared<Typeface>();
    QFont font(QString::fromLatin1(kFamily));
    font.setWeight(weight);
    font.setPixelSize(32);
    face->raw = QRawFont::fromFont(font);
    if (!face->raw.isValid()) return face;
    face->unitsPerEm = face->raw.unitsPerEm() > 0 ? face->raw.unitsPerEm() : 1000.0;
    // The raw font lives as long as the typeface, and HarfBuzz reads tables
    // only while the face exists.
    face->face = hb_face_create_for_tables(tableOf, &face->raw, nullptr);
    hb_face_set_upem(face->face, static_cast<unsigned>(face->unitsPerEm));
    face->font = hb_font_create(face->face);
    return face;
}

struct FontCache {
    std::mutex mutex;
    std::shared_ptr<const Typeface> medium;
    std::shared_ptr<const Typeface> semibold;
    std::map<int, Font> fonts;
};

FontCache& cache() {
    static FontCache* instance = new FontCache;  // never destroyed: fonts may outlive main
    return *instance;
}

}  // namespace

Font LiveFont::toolbar(double size, bool bold) {
    const double clamped = std::isfinite(size) ? std::clamp(size, 1.0, 1000.0) : toolbarSize;
    const int hundredths = static_cast<int>(std::lround(clamped * 100.0));
    // Key: size in hundredths, then bold and tabular in the low bits.
    const int key = hundredths * 4 + (bold ? 1 : 0) + 2;
    FontCache& c = cache();
    std::scoped_lock lock(c.mutex);
    if (auto found = c.fonts.find(key); found != c.fonts.end()) return found->second;
    auto& face = bold ? c.semibold : c.medium;
    if (!face) face = makeTypeface(bold ? QFont::DemiBold : QFont::Medium);
    Font font;
    font.face_ = face;
    font.raw_ = face->raw;
    font.raw_.setPixelSize(hundredths / 100.0);
    font.size_ = hundredths / 100.0;
    font.bold_ = bold;
    font.tabular_ = true;
    font.key_ = key;
    c.fonts.emplace(key, font);
    return font;
}

Font LiveFont::system(double size) {
    Font font = toolbar(size, false);
    font.tabular_ = false;
    font.key_ -= 2;
    return font;
}

double Font::ascent() const { return raw_.isValid() ? raw_.ascent() : size_ * 0.8; }
double Font::descent() const { return raw_.isValid() ? raw_.descent() : size_ * 0.2; }

double Font::shape(std::string_view utf8, QGlyphRun* run) const {
    if (!face_ || face_->font == nullptr || utf8.empty()) return 0.0;
    hb_buffer_t* buffer = hb_buffer_create();
    hb_buffer_add_utf8(buffer, utf8.data(), static_cast<int>(utf8.size()), 0, static_cast<int>(utf8.size()));
    hb_buffer_guess_segment_properties(buffer);
    hb_feature_t tnum;
    hb_feature_from_string("tnum", -1, &tnum);
    hb_shape(face_->font, buffer, tabular_ ? &tnum : nullptr, tabular_ ? 1 : 0);
    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
    const double perUnit = size_ / face_->unitsPerEm;
    QList<quint32> glyphs;
    QList<QPointF> points;
    if (run != nullptr) {
        glyphs.reserve(count);
        points.reserve(count);
    }
    double x = 0.0;
    for (unsigned i = 0; i < count; ++i) {
        if (run != nullptr) {
            glyphs.append(infos[i].codepoint);
            points.append(QPointF(x + positions[i].x_offset * perUnit, -positions[i].y_offset * perUnit));
        }
        x += positions[i].x_advance * perUnit;
    }
    hb_buffer_destroy(buffer);
    if (run != nullptr) {
        run->setRawFont(raw_);
        run->setGlyphIndexes(glyphs);
        run->setPositions(points);
    }
    return x;
}

double Font::width(std::string_view utf8) const { return shape(utf8, nullptr); }

Size Font::measure(std::string_view utf8) const { return {width(utf8), lineHeight()}; }

void Font::draw(QPainter& painter, QPointF baseline, std::string_view utf8, const QColor& colour) const {
    QGlyphRun run;
    shape(utf8, &run);
    if (run.isEmpty()) return;
    painter.setPen(colour);
    painter.drawGlyphRun(baseline, run);
}

}  // namespace crestline
