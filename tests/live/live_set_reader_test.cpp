#include <gtest/gtest.h>

#include <unistd.h>

#include "live/live_set_reader.h"
#include "platform/fake_accessibility.h"
#include "tests/live/fixtures.h"

using namespace crestline;
namespace fx = crestline::fixtures;

namespace {

const std::string kSmallSet = fx::liveSetXml({{"16", "Verse"}, {"0", "Intro"}}, {{"4", "0"}}, "12.5");

// Raw deflate of `mebibytes` MiB of zeros: one sync-flushed piece (byte
// aligned, back references only to zeros) repeated, then an empty final
// block. Cheap to make however large the plain text.
std::string deflatedZeros(size_t mebibytes) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    const std::string zeros(1 << 20, '\0');
    std::string piece(deflateBound(&stream, static_cast<uLong>(zeros.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    stream.avail_in = static_cast<uInt>(zeros.size());
    stream.next_out = reinterpret_cast<Bytef*>(piece.data());
    stream.avail_out = static_cast<uInt>(piece.size());
    deflate(&stream, Z_SYNC_FLUSH);
    piece.resize(stream.total_out);
    deflateEnd(&stream);
    std::string out;
    for (size_t i = 0; i < mebibytes; ++i) out += piece;
    return out + std::string("\x03\x00", 2);
}

}  // namespace

TEST(LiveSetGzip, DecodesEveryHeaderFieldCombination) {
    const std::string text = "<Ableton>hello</Ableton>";
    fx::GzipOptions all;
    all.hasExtra = true;
    all.extra = std::string("AB\x04\0abcd", 8);
    all.name = "My Set.als";
    all.comment = "made by a test";
    all.headerCrc = true;
    EXPECT_EQ(LiveSetReader::gunzip(fx::gzip(text)), text);
    EXPECT_EQ(LiveSetReader::gunzip(fx::gzip(text, all)), text);

    fx::GzipOptions longName;
    longName.name = std::string(200, 'n');
    EXPECT_EQ(LiveSetReader::gunzip(fx::gzip(text, longName)), text);

    // FEXTRA with XLEN 0: the data start right at offset 12.
    fx::GzipOptions emptyExtra;
    emptyExtra.hasExtra = true;
    const std::string member = fx::gzip(text, emptyExtra);
    EXPECT_EQ(member.substr(12, 4), fx::rawDeflate(text).substr(0, 4));
    EXPECT_EQ(LiveSetReader::gunzip(member), text);
}

TEST(LiveSetGzip, RejectsShortWrongAndMalformedHeaders) {
    const std::string good = fx::gzip("<a/>");
    EXPECT_FALSE(LiveSetReader::gunzip(good.substr(0, 18)));
    EXPECT_FALSE(LiveSetReader::gunzip(""));
    std::string notDeflate = good;
    notDeflate[2] = 7;
    EXPECT_FALSE(LiveSetReader::gunzip(notDeflate));
    std::string badMagic = good;
    badMagic[1] = '\x8c';
    EXPECT_FALSE(LiveSetReader::gunzip(badMagic));

    // A name that never ends, or an extra field longer than the file.
    std::string endlessName = good;
    endlessName[3] = 8;
    std::fill(endlessName.begin() + 10, endlessName.end(), 'x');
    EXPECT_FALSE(LiveSetReader::gunzip(endlessName));
    std::string hugeExtra = good;
    hugeExtra[3] = 4;
    hugeExtra[10] = '\xff';
    hugeExtra[11] = '\xff';
    EXPECT_FALSE(LiveSetReader::gunzip(hugeExtra));
    std::string allFlags = good.substr(0, 19);
    allFlags[3] = '\xff';
    EXPECT_FALSE(LiveSetReader::gunzip(allFlags));
}

TEST(LiveSetGzip, TruncatedCorruptAndGarbageStreamsYieldNothing) {
    const std::string member = fx::gzip(kSmallSet);
    // Every cut loses either the stream's end or the trailer position.
    for (size_t cut = 0; cut + 8 < member.size(); ++cut) {
        EXPECT_FALSE(LiveSetReader::gunzip(member.substr(0, cut))) << "cut at " << cut;
    }
    // The deflate data cut short but a trailer still appended.
    const std::string body = fx::rawDeflate(kSmallSet);
    std::string truncatedBody = member.substr(0, 10) + body.substr(0, body.size() / 2) + member.substr(member.size() - 8);
    EXPECT_FALSE(LiveSetReader::gunzip(truncatedBody));

    std::string corrupt = member;
    corrupt[10] = static_cast<char>(0xFF);  // reserved block type 3
    EXPECT_FALSE(LiveSetReader::gunzip(corrupt));

    std::string garbage = member.substr(0, 10);
    for (int i = 0; i < 5000; ++i) garbage.push_back(static_cast<char>((i * 7919 + 13) & 0xFF));
    EXPECT_FALSE(LiveSetReader::gunzip(garbage).has_value() && LiveSetReader::gunzip(garbage)->empty());
    // An empty stream decodes to nothing: no set is empty.
    EXPECT_FALSE(LiveSetReader::gunzip(fx::gzip("")));
}

TEST(LiveSetGzip, IgnoresATrailerThatLiesAndDecodesLargeSets) {
    // Over 1 MiB of text with the locators at the very end.
    const std::string padding(3u << 20, ' ');
    const std::string big = fx::liveSetXml({{"32", "End"}}, {}, "0", padding);
    ASSERT_GT(big.size(), 1u << 20);
    const auto decoded = LiveSetReader::gunzip(fx::gzip(big));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size(), big.size());

    fx::GzipOptions small;
    small.isize = 100;
    EXPECT_EQ(LiveSetReader::gunzip(fx::gzip(big, small)), big);
    fx::GzipOptions huge;
    huge.isize = 0xFFFFFFFF;
    EXPECT_EQ(LiveSetReader::gunzip(fx::gzip("<a/>", huge)), "<a/>");
}

TEST(LiveSetGzip, OutputBeyondTheCapIsRefused) {
    const std::string header("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10);
    const auto justUnder = LiveSetReader::gunzip(header + deflatedZeros(2) + std::string(8, '\0'));
    ASSERT_TRUE(justUnder);
    EXPECT_EQ(justUnder->size(), 2u << 20);
    const std::string overCap = std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) +
                                deflatedZeros((LiveSetReader::kMaxDecompressedBytes >> 20) + 1) +
                                std::string(8, '\0');
    EXPECT_FALSE(LiveSetReader::gunzip(overCap));
}

TEST(LiveSetGzip, InvalidUtf8IsReplacedNotRefused) {
    const std::string text = std::string("<Name Value=\"caf\xC3\xA9 \xFF\xC3(x\xED\xA0\x80\" />");
    const auto decoded = LiveSetReader::gunzip(fx::gzip(text));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, "<Name Value=\"caf\xC3\xA9 \xEF\xBF\xBD\xEF\xBF\xBD(x\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\" />");
    EXPECT_EQ(LiveSetReader::repairedUtf8("\xF0\x9F\x8E\xB5 \xF0\x9F\x8E"), "\xF0\x9F\x8E\xB5 \xEF\xBF\xBD");
}

TEST(LiveSetText, ValuesDecodeEntitiesOnceEach) {
    EXPECT_EQ(LiveSetReader::value("Name", R"(<Name Value="Drums &amp; Bass" />)"), "Drums & Bass");
    EXPECT_EQ(LiveSetReader::value("Name", R"(<Name Value="&amp;lt;" />)"), "&lt;");
    EXPECT_EQ(LiveSetReader::value("Name", R"(<Name Value="&lt;&gt;&quot;&apos;&bogus;&" />)"), "<>\"'&bogus;&");
    EXPECT_EQ(LiveSetReader::value("Time", R"(<TimeX Value="1" /><Time Value="2" />)"), "2");
    EXPECT_FALSE(LiveSetReader::value("Time", R"(<Time Value=2 />)"));
    EXPECT_FALSE(LiveSetReader::value("Time", R"(<Time Value="2)"));
    EXPECT_FALSE(LiveSetReader::value("Time", "<Time"));
}

TEST(LiveSetText, LocatorsKeepFileOrderAtEqualBeatsAndSkipBadTimes) {
    const std::string xml = fx::liveSetXml({{"8", "B"},
                                            {"4", "A1"},
                                            {"4", "A2"},
                                            {"", "no time"},
                                            {" 3", "leading space"},
                                            {"inf", "infinite"},
                                            {"nan", "not a number"},
                                            {"2e7", "too far"},
                                            {"1.5", "", false},
                                            {"-2", "before start"}},
                                           {});
    const auto list = LiveSetReader::locators(xml);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0], (LiveSet::Locator{-2, "before start"}));
    EXPECT_EQ(list[1], (LiveSet::Locator{1.5, ""}));
    EXPECT_EQ(list[2], (LiveSet::Locator{4, "A1"}));
    EXPECT_EQ(list[3], (LiveSet::Locator{4, "A2"}));
    EXPECT_EQ(list[4], (LiveSet::Locator{8, "B"}));

    // A bare <Locator> and the spaced form mixed; a section without end.
    EXPECT_EQ(LiveSetReader::locators("<Locators><Locator><Time Value=\"1\" /></Locator>"
                                      "<Locator Id=\"1\"><Time Value=\"2\" /></Locator></Locators>")
                  .size(),
              2u);
    EXPECT_TRUE(LiveSetReader::locators("<Locators><Locator><Time Value=\"1\" /></Locator>").empty());
    EXPECT_TRUE(LiveSetReader::locators("<Locators><Locator><Time Value=\"1\" /></Locators>").empty());
    EXPECT_TRUE(LiveSetReader::locators("").empty());
}

TEST(LiveSetText, SignaturesAcceptWholeNumeratorsFromOneTo99) {
    const std::string xml = fx::liveSetXml(
        {}, {{"6", "16"}, {"4", "0"}, {"0", "8"}, {"100", "9"}, {"2.5", "10"}, {"-3", "11"}, {"7", "nan"}, {"99", "12"}});
    const auto list = LiveSetReader::signatures(xml);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0], (LiveSet::Signature{0, 4}));
    EXPECT_EQ(list[1], (LiveSet::Signature{12, 99}));
    EXPECT_EQ(list[2], (LiveSet::Signature{16, 6}));
}

TEST(LiveSetText, OpeningSignatureFarBeforeTheStartKeepsTheSongsMetre) {
    const std::string xml = fx::liveSetXml({}, {{"3", "-63072000"}, {"4", "1e300"}, {"5", "inf"}});
    LiveSet set;
    set.signatures = LiveSetReader::signatures(xml);
    ASSERT_EQ(set.signatures.size(), 2u);
    EXPECT_EQ(set.signatures[0], (LiveSet::Signature{-LiveSetReader::kMaxBeat, 3}));
    EXPECT_EQ(set.signatures[1], (LiveSet::Signature{LiveSetReader::kMaxBeat, 4}));
    EXPECT_EQ(set.beatsPerBar(7), 3);
    EXPECT_DOUBLE_EQ(set.bar(9), 4.0);
}

TEST(LiveSetText, SavedBeatIsTheFirstFiniteCurrentTime) {
    EXPECT_EQ(LiveSetReader::savedBeat(R"(<CurrentTime Value="33.25" /><CurrentTime Value="1" />)"), 33.25);
    EXPECT_FALSE(LiveSetReader::savedBeat(R"(<CurrentTime Value="1e400" />)"));
    EXPECT_FALSE(LiveSetReader::savedBeat(R"(<CurrentTime Value="" />)"));
    EXPECT_FALSE(LiveSetReader::savedBeat(R"(<CurrentTime Value="12)"));
    EXPECT_EQ(LiveSetReader::parseNumber("+4"), 4.0);
    EXPECT_FALSE(LiveSetReader::parseNumber("+-4"));
    EXPECT_FALSE(LiveSetReader::parseNumber("4 "));
}

TEST(LiveSet, BarArithmeticFollowsSignatureChanges) {
    LiveSet plain;
    EXPECT_DOUBLE_EQ(plain.bar(8), 3.0);
    EXPECT_DOUBLE_EQ(plain.beatsPerBar(8), 4.0);

    LiveSet changing;
    changing.signatures = {{0, 4}, {16, 3}};
    EXPECT_DOUBLE_EQ(changing.bar(16), 5.0);
    EXPECT_DOUBLE_EQ(changing.bar(19), 6.0);
    EXPECT_DOUBLE_EQ(changing.bar(2), 1.5);
    EXPECT_DOUBLE_EQ(changing.beatsPerBar(15.9), 4.0);
    EXPECT_DOUBLE_EQ(changing.beatsPerBar(16), 3.0);

    // Before the first signature its own value applies.
    LiveSet late;
    late.signatures = {{8, 6}, {20, 2}};
    EXPECT_DOUBLE_EQ(late.beatsPerBar(0), 6.0);
    EXPECT_DOUBLE_EQ(late.bar(8), 1.0 + 8.0 / 6.0);
    EXPECT_DOUBLE_EQ(late.bar(22), 1.0 + 8.0 / 6.0 + 2.0 + 1.0);
}

TEST(LiveSetReaderFiles, ReadsASetFileWithItsDate) {
    fx::ScratchFolder folder;
    const auto path = folder / "Song.als";
    fx::writeFile(path, fx::gzip(kSmallSet));
    fx::setModified(path, 1767225600.5);
    const auto set = LiveSetReader::read(path);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->path, path.string());
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(set->modified.time_since_epoch()).count(),
              1767225600500);
    ASSERT_EQ(set->locators.size(), 2u);
    EXPECT_EQ(set->locators[0].name, "Intro");
    ASSERT_EQ(set->signatures.size(), 1u);
    EXPECT_EQ(set->savedBeat, 12.5);

    EXPECT_FALSE(LiveSetReader::read(folder / "missing.als"));
    EXPECT_FALSE(LiveSetReader::read(folder.path()));
    fx::writeFile(folder / "plain.als", kSmallSet);
    EXPECT_FALSE(LiveSetReader::read(folder / "plain.als"));
    EXPECT_EQ(LiveSetReader::gunzippedText(path), kSmallSet);

    // A file beyond the input cap is not read at all.
    const auto huge = folder / "huge.als";
    fx::writeFile(huge, fx::gzip(kSmallSet));
    ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(LiveSetReader::kMaxCompressedBytes + 1)), 0);
    EXPECT_FALSE(LiveSetReader::gunzippedText(huge));
}

TEST(LiveSetReaderWindows, FindsTheFirstWindowShowingASet) {
    FakeAccessibility ax;
    const int pid = 4242;
    ax.addWindow(pid, "Preferences")->set("AXDocument", std::string("file:///Users/me/notes.txt"));
    ax.addWindow(pid, "Untitled");  // no document
    ax.addWindow(pid, "Bad")->set("AXDocument", 3.0);
    ax.addWindow(pid, "Song")->set("AXDocument", std::string("file:///Users/me/My%20Song%20Project/My%20Song.als"));
    ax.addWindow(pid, "Other")->set("AXDocument", std::string("file:///Users/me/Other.als"));
    EXPECT_EQ(LiveSetReader::openSetPath(pid, ax), "/Users/me/My Song Project/My Song.als");
    EXPECT_EQ(ax.app(pid)->messagingTimeout(), 0.5);
}

TEST(LiveSetReaderWindows, AnswersNothingForUnsavedSetsBadUrlsAndSlowApps) {
    FakeAccessibility ax;
    const int pid = 7;
    EXPECT_FALSE(LiveSetReader::openSetPath(pid, ax));
    auto window = ax.addWindow(pid, "Set");
    for (const char* url : {"file:///a/b.ALS", "file:///a/b.als.bak", "http://host/b.als", "file://other/b.als",
                            "file:///a/b%2.als", "file:///a/%00.als", "b.als", "file:///a/.als"}) {
        window->set("AXDocument", std::string(url));
        EXPECT_FALSE(LiveSetReader::openSetPath(pid, ax)) << url;
    }
    window->set("AXDocument", std::string("/plain/path/Set.als"));
    EXPECT_EQ(LiveSetReader::openSetPath(pid, ax), "/plain/path/Set.als");
    window->set("AXDocument", std::string("file://localhost/x/Set.als"));
    EXPECT_EQ(LiveSetReader::openSetPath(pid, ax), "/x/Set.als");

    // Busier than the 0.5-second bound: nothing, and no window was asked.
    ax.setResponseDelay(pid, 0.6);
    EXPECT_FALSE(LiveSetReader::openSetPath(pid, ax));
    EXPECT_EQ(window->requests(), 2 + 8);
    ax.setResponseDelay(pid, 0.4);
    EXPECT_TRUE(LiveSetReader::openSetPath(pid, ax));

    ax.app(pid)->fail("AXWindows", AXError::cannotComplete);
    EXPECT_FALSE(LiveSetReader::openSetPath(pid, ax));
    ax.app(pid)->set("AXWindows", std::string("not a list"));
    EXPECT_FALSE(LiveSetReader::openSetPath(pid, ax));
}
