// The set reader's gzip member decoder and text scans on arbitrary bytes
// (seeded with set files and their XML from corpus/live_set_gzip), and, on
// one run in eight, on a well-formed member built from the input (every
// header flag, cut at an input-chosen length), which must decode back to its
// text. The member is compressed with a small window and little memory: a
// full-size compressor per run would cost more than everything else.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "live/live_set.h"
#include "live/live_set_reader.h"

using namespace crestline;

namespace {

std::string member(std::string_view text, unsigned flags, std::string_view field) {
    std::string out = {'\x1f', '\x8b', '\x08', static_cast<char>(flags & 0x1E), 0, 0, 0, 0, 0, 3};
    if (flags & 4) {
        out.push_back(static_cast<char>(field.size() & 0xFF));
        out.push_back(static_cast<char>((field.size() >> 8) & 0xFF));
        out.append(field);
    }
    for (unsigned bit : {8u, 16u}) {
        if (flags & bit) {
            for (char c : field) out.push_back(c == '\0' ? 'x' : c);
            out.push_back('\0');
        }
    }
    if (flags & 2) out.append("\x12\x34", 2);
    z_stream stream{};
    deflateInit2(&stream, 1, Z_DEFLATED, -9, 1, Z_DEFAULT_STRATEGY);
    std::string body(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(body.data());
    stream.avail_out = static_cast<uInt>(body.size());
    deflate(&stream, Z_FINISH);
    body.resize(stream.total_out);
    deflateEnd(&stream);
    out += body;
    out.append(8, '\0');  // neither CRC nor size is trusted
    return out;
}

void scan(std::string_view text) {
    const auto locators = LiveSetReader::locators(text);
    const auto signatures = LiveSetReader::signatures(text);
    for (const auto& s : signatures) {
        if (!(s.beatsPerBar >= 1 && s.beatsPerBar <= 99)) std::abort();
    }
    LiveSet set;
    set.signatures = signatures;
    for (const auto& l : locators) (void)set.bar(l.beat);
    (void)LiveSetReader::savedBeat(text);
    (void)LiveSetReader::value("Name", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto text = LiveSetReader::gunzip(bytes)) scan(*text);
    scan(bytes);

    if (size < 2 || data[size - 1] % 8 != 0) return 0;
    const unsigned flags = data[0];
    const size_t fieldLength = data[1] % 64;
    const std::string_view rest = bytes.substr(2);
    const std::string_view field = rest.substr(0, fieldLength);
    const std::string_view text = rest.substr(std::min(fieldLength, rest.size()));
    const std::string whole = member(text, flags, field);
    const auto decoded = LiveSetReader::gunzip(whole);
    if (!text.empty()) {
        if (!decoded || *decoded != LiveSetReader::repairedUtf8(text)) std::abort();
    }
    // Any cut loses the stream's end or the trailer: never a result.
    const size_t cut = (flags * 131u + fieldLength) % whole.size();
    if (cut + 8 < whole.size() && LiveSetReader::gunzip(whole.substr(0, cut))) std::abort();
    return 0;
}
