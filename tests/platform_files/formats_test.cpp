// Resource forks (files/ResourceFork.cpp), AppleSingle containers
// (files/AppleSingle.cpp) and MacRoman text (corefoundation/MacRoman.cpp), as bytes.
#include "files_test_util.h"

#include "corefoundation/MacRoman.h"
#include "files/AppleSingle.h"
#include "MacTypes.h"

#include <gtest/gtest.h>

#include <iconv.h>

namespace {

constexpr uint32_t kSTR = PLATFORM_FOURCC('S', 'T', 'R', '#');
constexpr uint32_t kPref = PLATFORM_FOURCC('P', 'r', 'e', 'f');

const std::vector<rsrc::Resource> kResources = {
    {kPref, 1, 0, true, "Config", {0x5A, 0x5A}},
    {kPref, -7, 0, false, "", {}},
    {kSTR, 128, 0x20, false, "", StringList({"one", "two"})},
    {kSTR, 17000, 0, true, "Group", StringList({"Kelvarin"})},
};

// kResources laid out by hand: header (data at 256, map at 295, their lengths), 240 reserved bytes,
// four data blocks (length, bytes), then the map.
const Bytes kFork = Hex("00000100 00000127 00000027 0000006B" + std::string(480, '0') +
                        "00000002 5A5A  00000000  0000000A 0002 036F6E65 0374776F  0000000B 0001 084B656C766172696E"
                        // Header copy, handle, file ref and attributes, type list at 28, name list at 94.
                        "00000100 00000127 00000027 0000006B 00000000 0000 0000 001C 005E"
                        // Two types: 'Pref' and 'STR#', two references each (count-1, list offset).
                        "0001 50726566 0001 0012 53545223 0001 002A"
                        // References: ID, name offset or FFFF, attributes, data offset, handle.
                        "0001 0000 00 000000 00000000  FFF9 FFFF 00 000006 00000000"
                        "0080 FFFF 20 00000A 00000000  4268 0007 00 000018 00000000"
                        "06 436F6E666967 05 47726F7570");
constexpr size_t kMap = 295, kTypes = kMap + 28, kRefs = kTypes + 18, kNames = kMap + 94;

// `n` empty 'STR#' resources and one 'Pref', each with its own data block: more than the writer can lay out.
Bytes ManyResources(uint32_t n) {
    const uint32_t data = 4 * (n + 1), map = 256 + data, mapLength = 46 + 12 * (n + 1);
    Bytes f(map + mapLength, 0);
    for (uint32_t h : {0u, map})
        for (uint32_t i = 0; uint32_t v : {256u, map, data, mapLength}) PutBE(f, h + 4 * i++, v, 4);
    const Bytes lists = Hex("001C 001C 0001 50726566 0000 0012 53545223 0000 001E");
    std::copy(lists.begin(), lists.end(), f.begin() + map + 24);
    PutBE(f, map + 42, n - 1, 2);
    for (uint32_t i = 0; i <= n; ++i) {
        PutBE(f, map + 46 + 12 * i, (i ? 0x8000 + i - 1 : 0) << 16 | 0xFFFF, 4);  // IDs 0, then -32768 up; no name
        PutBE(f, map + 46 + 12 * i + 5, 4 * i, 3);
    }
    return f;
}

TEST(ResourceFork, ReadsHandLaidForksAndWritesWhatItReads) {
    auto parsed = rsrc::ParseResourceFork(kFork);
    ASSERT_EQ(parsed.error, 0);
    EXPECT_EQ(Fields(parsed.map.resources), Fields(kResources));
    EXPECT_EQ(Fork(kResources), kFork);

    // The "changed" attribute is an in-memory flag: never stored, and no pending change once read.
    auto changed = kResources;
    changed[2].attributes |= rsrc::kResChangedAttr;
    EXPECT_EQ(Fork(changed), kFork);
    Bytes flagged = kFork;
    flagged[kRefs + 24 + 4] |= rsrc::kResChangedAttr;
    EXPECT_EQ(rsrc::ParseResourceFork(flagged).map.resources.at(2).attributes, 0x20);

    // An empty map: no types (count-1 stored as 0xFFFF), still readable.
    const Bytes empty = Fork({});
    EXPECT_EQ(Bytes(empty.end() - 2, empty.end()), Hex("FFFF"));
    EXPECT_EQ(rsrc::ParseResourceFork(empty).error, 0);

    // Names longer than a length byte can say cannot be written.
    changed[0].name = std::string(256, 'n');
    EXPECT_EQ(rsrc::WriteResourceFork({0, changed}).error, addResFailed);
}

TEST(ResourceFork, DamageIsReportedNeverReadOutOfBounds) {
    EXPECT_EQ(rsrc::ParseResourceFork(Bytes{}).error, eofErr);
    // Every truncation: the header's regions then reach past the end.
    for (size_t n = 1; n < kFork.size(); ++n)
        EXPECT_EQ(rsrc::ParseResourceFork(Bytes(kFork.begin(), kFork.begin() + n)).error, mapReadErr) << n;
    for (auto [at, value, width, what] : {std::tuple{size_t(0), 0xFFFFFFF0u, 4, "data offset past the end"},
                                          {12, 0x7FFFFFFF, 4, "map length absurd"},
                                          {4, 256, 4, "map overlaps data"},
                                          {0, 4, 4, "data overlaps header"},
                                          {kMap + 24, 0xFFF0, 2, "type list outside the map"},
                                          {kMap + 26, 0xFFF0, 2, "name list outside the map"},
                                          {kTypes, 0x0FFF, 2, "type count too large"},
                                          {kTypes + 6, 0x7FFF, 2, "reference count too large"},
                                          {kTypes + 8, 0xFF00, 2, "reference list outside the map"},
                                          {kRefs + 2, 0x7000, 2, "name offset outside"},
                                          {kRefs + 5, 0xFFFFF0, 3, "data offset outside"},
                                          {256, 0xFFFFFFFF, 4, "data length absurd"},
                                          {kRefs + 12 + 5, 0, 3, "second reference on the first one's block"},
                                          {kRefs + 12, 1, 2, "duplicate type and ID"},
                                          {kNames, 0xFF, 1, "name runs past the map"}}) {
        Bytes b = kFork;
        PutBE(b, at, value, width);
        const auto r = rsrc::ParseResourceFork(b);
        EXPECT_TRUE(r.error == mapReadErr && r.map.resources.empty()) << what;
    }
    // More resources than any real file holds: each reference may be small, but together they are not data.
    EXPECT_EQ(rsrc::ParseResourceFork(ManyResources(65535)).error, 0);
    EXPECT_EQ(rsrc::ParseResourceFork(ManyResources(65536)).error, mapReadErr);
}

TEST(AppleSingle, CarriesTypeCreatorAndForkAndRejectsDamage) {
    // Magic, version 2, filler, two entries (ID, offset, length): Finder info (9) and resource fork (2).
    Bytes want =
        Hex("00051600 00020000" + std::string(32, '0') +
            "0002 00000009 00000032 00000020 00000002 00000052 00000192 50726566 716D7A20" + std::string(48, '0'));
    want.insert(want.end(), kFork.begin(), kFork.end());
    const Bytes file =
        applesingle::WriteAppleSingle(applesingle::MakeResourceFile(kPref, PLATFORM_FOURCC('q', 'm', 'z', ' '), kFork));
    EXPECT_EQ(file, want);

    auto parsed = applesingle::ParseAppleSingle(want);
    ASSERT_EQ(parsed.error, 0);
    uint32_t type = 0, creator = 0;
    EXPECT_TRUE(applesingle::GetTypeAndCreator(parsed.container, &type, &creator));
    EXPECT_EQ(std::pair(type, creator), std::pair(kPref, PLATFORM_FOURCC('q', 'm', 'z', ' ')));
    EXPECT_EQ(parsed.container.Find(applesingle::kResourceForkID)->bytes, kFork);

    for (size_t n = 4; n < want.size(); ++n)
        EXPECT_EQ(applesingle::ParseAppleSingle(Bytes(want.begin(), want.begin() + n)).error, mapReadErr) << n;
    // An entry starting past the end, an absurd length, an entry over the
    // header, the second entry overlapping the first, the same entry twice,
    // an unknown version, more entries than the file holds.
    for (auto [at, value, width] : {std::tuple{30, 0xFFFFFF00u, 4},
                                    {34, 0xFFFFFFFFu, 4},
                                    {30, 0u, 4},
                                    {42, 0x36u, 4},
                                    {38, 9u, 4},
                                    {4, 0x00030000u, 4},
                                    {24, 0xFFFFu, 2}}) {
        Bytes b = want;
        PutBE(b, size_t(at), value, width);
        EXPECT_EQ(applesingle::ParseAppleSingle(b).error, mapReadErr) << at;
    }
}

TEST(MacRoman, MatchesTheSystemConverterAndRefusesWhatItCannotHold) {
    // glibc's MACINTOSH table agrees with Apple's except for 0xC6 (it keeps
    // the older Greek capital delta where Apple now maps INCREMENT) and the
    // Apple logo, which it places elsewhere in the private use area.
    iconv_t cd = iconv_open("UTF-8", "MACINTOSH");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string all(1, '\0');
    for (int b = 1; b < 256; ++b) {
        all += static_cast<char>(b);
        if (b == 0xC6 || b == 0xF0) continue;
        char in[1] = {static_cast<char>(b)}, out[8] = {}, *inp = in, *outp = out;
        size_t inLeft = 1, outLeft = sizeof out;
        ASSERT_NE(iconv(cd, &inp, &inLeft, &outp, &outLeft), static_cast<size_t>(-1)) << b;
        EXPECT_EQ(macroman::ToUTF8(std::string(1, char(b))), std::string(out, outp)) << std::hex << b;
    }
    iconv_close(cd);
    EXPECT_EQ(macroman::FromUTF8(macroman::ToUTF8(all)), all);

    size_t bad = 99;
    EXPECT_FALSE(macroman::FromUTF8("ab\xE2\x98\x83", &bad));  // snowman: not in MacRoman
    EXPECT_EQ(bad, 2u);
    EXPECT_FALSE(macroman::FromUTF8("\xC3"));                          // cut sequence
    EXPECT_FALSE(macroman::FromUTF8("\xC0\xA9"));                      // overlong
    EXPECT_FALSE(macroman::FromUTF8("\xED\xA0\x80"));                  // surrogate
    EXPECT_EQ(macroman::UTF16Length("a\xC3\xA9\xF0\x9F\x98\x80"), 4);  // a, e-acute, one pair
}

}  // namespace
