#include <gtest/gtest.h>

#include <unistd.h>

#include "live/live_set_reader.h"
#include "platform/fake_accessibility.h"
#include "tests/live/fixtures.h"

using namespace crestline;
namespace fx = crestline::fixtures;

namespace {

const std::string kSmallSet = fx::liveSetXml({{"16", "Verse"}, {"0", "Intro"}}, {{"4", "0"}}, "12.5");
const std::string kHeader("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10);

// Raw deflate of `mebibytes` MiB of zeros: one sync-flushed piece (byte
// aligned, back references only to zeros) repeated, then an empty final
// block. Cheap to make however large the plain text.
std::string deflatedZeros(size_t mebibytes) {
    const std::string piece = fx::deflated(std::string(1 << 20, '\0'), -MAX_WBITS, Z_SYNC_FLUSH);
    std::string out;
    for (size_t i = 0; i < mebibytes; ++i) out += piece;
    return out + std::string("\x03\x00", 2);
}

std::string patched(std::string bytes, std::initializer_list<std::pair<size_t, char>> changes) {
    for (const auto& [at, byte] : changes) bytes[at] = byte;
    return bytes;
}

}  // namespace

TEST(LiveSetGzip, DecodesEveryHeaderFieldCombinationAndRepairsUtf8) {
    // Invalid UTF-8 is replaced, not refused.
    const std::string text = "<Name Value=\"caf\xC3\xA9 \xFF\xC3(x\xED\xA0\x80\" />";
    const std::string r = "\xEF\xBF\xBD";  // U+FFFD
    const std::string repaired = "<Name Value=\"caf\xC3\xA9 " + r + r + "(x" + r + r + r + "\" />";
    for (const auto& options : {fx::GzipOptions{}, {std::string("AB\x04\0abcd", 8), "My Set.als", "made by a test", true},
                                {.name = std::string(200, 'n')}, {.extra = ""}}) {
        EXPECT_EQ(LiveSetReader::gunzip(fx::gzip(text, options)), repaired);
    }
    EXPECT_EQ(LiveSetReader::repairedUtf8("\xF0\x9F\x8E\xB5 \xF0\x9F\x8E"), "\xF0\x9F\x8E\xB5 " + r);
}


TEST(LiveSetGzip, TruncatedCorruptAndMalformedMembersYieldNothing) {
    const std::string member = fx::gzip(kSmallSet);
    // Every cut loses either the stream's end or the trailer position.
    for (size_t cut = 0; cut + 8 < member.size(); ++cut) {
        EXPECT_FALSE(LiveSetReader::gunzip(member.substr(0, cut))) << "cut at " << cut;
    }
    std::string garbage = kHeader;
    for (int i = 0; i < 5000; ++i) garbage.push_back(static_cast<char>((i * 7919 + 13) & 0xFF));
    std::string endlessName = patched(member, {{3, 8}});
    std::fill(endlessName.begin() + 10, endlessName.end(), 'x');
    const std::string bad[] = {
        member.substr(0, member.size() / 2) + member.substr(member.size() - 8),  // stream cut, trailer kept
        patched(member, {{10, '\xff'}}),                                             // reserved block type 3
        patched(member, {{2, 7}}),                                                   // not deflate
        patched(member, {{1, '\x8c'}}),                                              // wrong magic
        endlessName,                                                                 // a name that never ends
        patched(member, {{3, 4}, {10, '\xff'}, {11, '\xff'}}),                       // extra longer than the file
        patched(member.substr(0, 19), {{3, '\xff'}}),                                // every flag, no room
        garbage,
        fx::gzip(""),  // no set is empty
    };
    for (const auto& bytes : bad) EXPECT_FALSE(LiveSetReader::gunzip(bytes)) << testing::PrintToString(bytes.substr(0, 24));
}

TEST(LiveSetGzip, IgnoresATrailerThatLiesAndCapsTheOutput) {
    // Over 1 MiB of text with the locators at the very end.
    const std::string big = fx::liveSetXml({{"32", "End"}}, {}, "0", std::string(3u << 20, ' '));
    EXPECT_EQ(LiveSetReader::gunzip(fx::gzip(big)), big);
    EXPECT_EQ(LiveSetReader::gunzip(fx::gzip(big, {.isize = 100})), big);
    EXPECT_EQ(LiveSetReader::gunzip(fx::gzip("<a/>", {.isize = 0xFFFFFFFF})), "<a/>");

    const auto justUnder = LiveSetReader::gunzip(kHeader + deflatedZeros(2) + std::string(8, '\0'));
    ASSERT_TRUE(justUnder);
    EXPECT_EQ(justUnder->size(), 2u << 20);
    EXPECT_FALSE(LiveSetReader::gunzip(kHeader + deflatedZeros((LiveSetReader::kMaxDecompressedBytes >> 20) + 1) +
                                       std::string(8, '\0')));
}

TEST(LiveSetText, ValuesDecodeEntitiesOnceEachAndNumbersAreWholeAndFinite) {
    EXPECT_EQ(LiveSetReader::value("Name", R"(<Name Value="Drums &amp; Bass" />)"), "Drums & Bass");
    EXPECT_EQ(LiveSetReader::value("Name", R"(<Name Value="&amp;lt;" />)"), "&lt;");
    EXPECT_EQ(LiveSetReader::value("Name", R"(<Name Value="&lt;&gt;&quot;&apos;&bogus;&" />)"), "<>\"'&bogus;&");
    EXPECT_EQ(LiveSetReader::value("Time", R"(<TimeX Value="1" /><Time Value="2" />)"), "2");
    for (const char* cut : {R"(<Time Value=2 />)", R"(<Time Value="2)", "<Time"}) {
        EXPECT_FALSE(LiveSetReader::value("Time", cut)) << cut;
    }
    EXPECT_EQ(LiveSetReader::savedBeat(R"(<CurrentTime Value="33.25" /><CurrentTime Value="1" />)"), 33.25);
    for (const char* value : {R"("1e400" />)", R"("" />)", R"("12)"}) {
        EXPECT_FALSE(LiveSetReader::savedBeat(std::string("<CurrentTime Value=") + value)) << value;
    }
    EXPECT_EQ(LiveSetReader::parseNumber("+4"), 4.0);
    EXPECT_FALSE(LiveSetReader::parseNumber("+-4"));
    EXPECT_FALSE(LiveSetReader::parseNumber("4 "));
}

TEST(LiveSetText, LocatorsKeepFileOrderAtEqualBeatsAndSkipBadTimes) {
    const std::string xml = fx::liveSetXml({{"8", "B"}, {"4", "A1"}, {"4", "A2"}, {"", "no time"}, {" 3", "space"},
                                            {"inf", "infinite"}, {"nan", "nan"}, {"2e7", "too far"}, {"1.5", "", false},
                                            {"-2", "before start"}},
                                           {});
    EXPECT_EQ(LiveSetReader::locators(xml),
              (std::vector<LiveSet::Locator>{{-2, "before start"}, {1.5, ""}, {4, "A1"}, {4, "A2"}, {8, "B"}}));

    // A bare <Locator> and the spaced form mixed; a section without end.
    EXPECT_EQ(LiveSetReader::locators("<Locators><Locator><Time Value=\"1\" /></Locator>"
                                      "<Locator Id=\"1\"><Time Value=\"2\" /></Locator></Locators>")
                  .size(),
              2u);
    for (const char* cut : {"<Locators><Locator><Time Value=\"1\" /></Locator>",
                            "<Locators><Locator><Time Value=\"1\" /></Locators>", ""}) {
        EXPECT_TRUE(LiveSetReader::locators(cut).empty()) << cut;
    }
}

TEST(LiveSetText, SignaturesTakeWholeNumeratorsFromOneTo99ClampFarBeatsAndDriveTheBarArithmetic) {
    const std::string xml = fx::liveSetXml(
        {}, {{"6", "16"}, {"4", "0"}, {"0", "8"}, {"100", "9"}, {"2.5", "10"}, {"-3", "11"}, {"7", "nan"}, {"99", "12"}});
    EXPECT_EQ(LiveSetReader::signatures(xml), (std::vector<LiveSet::Signature>{{0, 4}, {12, 99}, {16, 6}}));

    // An opening signature far before the start keeps the song's metre.
    LiveSet set;
    set.signatures = LiveSetReader::signatures(fx::liveSetXml({}, {{"3", "-63072000"}, {"4", "1e300"}, {"5", "inf"}}));
    const double far = LiveSetReader::kMaxBeat;
    EXPECT_EQ(set.signatures, (std::vector<LiveSet::Signature>{{-far, 3}, {far, 4}}));
    EXPECT_EQ(set.beatsPerBar(7), 3);
    EXPECT_DOUBLE_EQ(set.bar(9), 4.0);

    // Bar arithmetic across signature changes, 4/4 without any.
    set.signatures = {};
    EXPECT_DOUBLE_EQ(set.bar(8), 3.0);
    EXPECT_DOUBLE_EQ(set.beatsPerBar(8), 4.0);
    set.signatures = {{0, 4}, {16, 3}};
    for (const auto& [beat, bar, perBar] :
         {std::tuple{16.0, 5.0, 3.0}, {19.0, 6.0, 3.0}, {2.0, 1.5, 4.0}, {15.9, 4.975, 4.0}}) {
        EXPECT_DOUBLE_EQ(set.bar(beat), bar) << beat;
        EXPECT_DOUBLE_EQ(set.beatsPerBar(beat), perBar) << beat;
    }
    // Before the first signature its own value applies.
    set.signatures = {{8, 6}, {20, 2}};
    EXPECT_DOUBLE_EQ(set.beatsPerBar(0), 6.0);
    EXPECT_DOUBLE_EQ(set.bar(8), 1.0 + 8.0 / 6.0);
    EXPECT_DOUBLE_EQ(set.bar(22), 1.0 + 8.0 / 6.0 + 2.0 + 1.0);
}

TEST(LiveSetReaderFiles, ReadsASetFileWithItsDateButNothingOverTheInputCap) {
    fx::ScratchFolder folder;
    const auto path = folder / "Song.als";
    fx::writeFile(path, fx::gzip(kSmallSet));
    fx::setModified(path, 1767225600.5);
    const auto set = LiveSetReader::read(path);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->path, path.string());
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(set->modified.time_since_epoch()).count(),
              1767225600500);
    EXPECT_EQ(set->locators, (std::vector<LiveSet::Locator>{{0, "Intro"}, {16, "Verse"}}));
    EXPECT_EQ(set->savedBeat, 12.5);
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(LiveSetReader::kMaxCompressedBytes + 1)), 0);
    EXPECT_FALSE(LiveSetReader::gunzippedText(path));
    EXPECT_FALSE(LiveSetReader::read(path));
}

TEST(LiveSetReaderWindows, FindsTheFirstWindowShowingASavedSet) {
    FakeAccessibility ax;
    const int pid = 4242;
    EXPECT_FALSE(LiveSetReader::openSetPath(pid, ax));
    ax.addWindow(pid, "Untitled");  // no document
    ax.addWindow(pid, "Bad")->set("AXDocument", 3.0);
    auto window = ax.addWindow(pid, "Song");
    ax.addWindow(pid, "Other")->set("AXDocument", std::string("file:///Users/me/Other.als"));
    // The Song window's document, or else the next window's.
    const char* other = "/Users/me/Other.als";
    for (const auto& [url, path] : std::initializer_list<std::pair<const char*, const char*>>{
             {"file:///Users/me/My%20Song%20Project/My%20Song.als", "/Users/me/My Song Project/My Song.als"},
             {"/plain/path/Set.als", "/plain/path/Set.als"}, {"file://localhost/x/Set.als", "/x/Set.als"},
             {"file:///a/b.ALS", other}, {"file:///a/b.als.bak", other}, {"http://host/b.als", other},
             {"file://other/b.als", other}, {"file:///a/b%2.als", other}, {"file:///a/%00.als", other},
             {"b.als", other}, {"file:///a/.als", other}}) {
        window->set("AXDocument", std::string(url));
        EXPECT_EQ(LiveSetReader::openSetPath(pid, ax), path) << url;
    }
    EXPECT_EQ(ax.app(pid)->messagingTimeout(), 0.5);

    // Busier than the 0.5-second bound: nothing, and no window was asked.
    const int asked = window->requests();
    ax.setResponseDelay(pid, 0.6);
    EXPECT_FALSE(LiveSetReader::openSetPath(pid, ax));
    EXPECT_EQ(window->requests(), asked);
    ax.setResponseDelay(pid, 0.4);
    EXPECT_TRUE(LiveSetReader::openSetPath(pid, ax));
    ax.app(pid)->fail("AXWindows", AXError::cannotComplete);
    EXPECT_FALSE(LiveSetReader::openSetPath(pid, ax));
    ax.app(pid)->set("AXWindows", std::string("not a list"));
    EXPECT_FALSE(LiveSetReader::openSetPath(pid, ax));
}
