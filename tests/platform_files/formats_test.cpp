// Resource forks (files/ResourceFork.cpp), AppleSingle containers
// (files/AppleSingle.cpp) and MacRoman text (corefoundation/MacRoman.cpp), as bytes.
#include "files_test_util.h"

#include "corefoundation/MacRoman.h"
#include "files/AppleSingle.h"
#include "files/ResourceFork.h"
#include "MacTypes.h"

#include <gtest/gtest.h>

#include <iconv.h>

namespace {

constexpr uint32_t kSTR = PLATFORM_FOURCC('S', 'T', 'R', '#');
constexpr uint32_t kPref = PLATFORM_FOURCC('P', 'r', 'e', 'f');

HandFork SampleFork() {
    HandFork f;
    f.resources = {
        {kPref, 1, "Config Settings", Bytes(396, 0x5A), 0},
        {kPref, -7, "", Bytes{}, 0},
        {kSTR, 128, "", StringList({"one", "two"}), 0x20},
        {kSTR, 17000, "Group", StringList({"Kelvarin"}), 0},
    };
    return f;
}

void ExpectSameResources(const std::vector<HandFork::Res> &expected, const rsrc::ResourceMap &got) {
    ASSERT_EQ(got.resources.size(), expected.size());
    for (const HandFork::Res &e : expected) {
        auto it = std::find_if(got.resources.begin(), got.resources.end(),
                               [&](const rsrc::Resource &r) { return r.type == e.type && r.id == e.id; });
        ASSERT_NE(it, got.resources.end()) << e.id;
        EXPECT_EQ(it->data, e.data) << e.id;
        EXPECT_EQ(it->hasName, !e.name.empty()) << e.id;
        EXPECT_EQ(it->name, e.name) << e.id;
        EXPECT_EQ(it->attributes, e.attributes) << e.id;
    }
}

TEST(ResourceFork, ReadsHandLaidForksAndWritesWhatItReads) {
    HandFork hand = SampleFork();
    const Bytes bytes = hand.Build();
    auto parsed = rsrc::ParseResourceFork(bytes);
    ASSERT_EQ(parsed.error, 0);
    ExpectSameResources(hand.resources, parsed.map);

    // Our writer lays the file out the same way as the hand-made one.
    EXPECT_EQ(rsrc::WriteResourceFork(parsed.map).bytes, bytes);
    // A "changed" bit left in a file is no pending change once read.
    hand.resources[0].attributes = rsrc::kResChangedAttr;
    EXPECT_EQ(rsrc::ParseResourceFork(hand.Build()).map.resources.at(0).attributes, 0);

    // An empty map: no types (count-1 stored as 0xFFFF), still readable.
    auto empty = rsrc::WriteResourceFork({});
    ASSERT_EQ(empty.error, 0);
    EXPECT_EQ(BE16(empty.bytes, BE32(empty.bytes, 4) + 28), 0xFFFF);
    EXPECT_EQ(rsrc::ParseResourceFork(empty.bytes).error, 0);

    // The "changed" attribute is an in-memory flag and never stored.
    rsrc::ResourceMap m;
    m.resources.push_back({kPref, 1, rsrc::kResChangedAttr | 0x20, false, "", {1, 2, 3}});
    EXPECT_EQ(rsrc::ParseResourceFork(rsrc::WriteResourceFork(m).bytes).map.resources.at(0).attributes, 0x20);

    // Names longer than a length byte can say cannot be written.
    m.resources[0].hasName = true;
    m.resources[0].name = std::string(256, 'n');
    EXPECT_NE(rsrc::WriteResourceFork(m).error, 0);
}

TEST(ResourceFork, DamageIsReportedNeverReadOutOfBounds) {
    HandFork hand = SampleFork();
    const Bytes good = hand.Build();
    auto expectDamaged = [](const Bytes &b, const char *what) {
        auto r = rsrc::ParseResourceFork(b);
        EXPECT_EQ(r.error, mapReadErr) << what;
        EXPECT_TRUE(r.map.resources.empty()) << what;
    };
    EXPECT_EQ(rsrc::ParseResourceFork(Bytes{}).error, eofErr);

    // Every truncation: the header's regions then reach past the end.
    for (size_t n = 1; n < good.size(); ++n)
        EXPECT_EQ(rsrc::ParseResourceFork(Bytes(good.begin(), good.begin() + n)).error, mapReadErr) << n;
    auto mutate = [&](size_t at, uint32_t value, int width) {
        Bytes b = good;
        PutBE(b, at, value, width);
        return b;
    };
    expectDamaged(mutate(0, 0xFFFFFFF0, 4), "data offset past the end");
    expectDamaged(mutate(12, 0x7FFFFFFF, 4), "map length absurd");
    expectDamaged(mutate(4, 256, 4), "map overlaps data");
    expectDamaged(mutate(0, 4, 4), "data overlaps header");
    expectDamaged(mutate(hand.mapOffset + 24, 0xFFF0, 2), "type list outside the map");
    expectDamaged(mutate(hand.mapOffset + 26, 0xFFF0, 2), "name list outside the map");
    expectDamaged(mutate(hand.typeListOffset, 0x0FFF, 2), "type count too large");
    expectDamaged(mutate(hand.typeListOffset + 2 + 4, 0x7FFF, 2), "reference count too large");
    expectDamaged(mutate(hand.typeListOffset + 2 + 6, 0xFF00, 2), "reference list outside the map");
    expectDamaged(mutate(hand.refListOffset + 2, 0x7000, 2), "name offset outside");
    expectDamaged(mutate(hand.refListOffset + 5, 0xFFFFF0, 3), "data offset outside");
    expectDamaged(mutate(256, 0xFFFFFFFF, 4), "data length absurd");
    expectDamaged(mutate(hand.refListOffset + 12 + 5, 0, 3), "second reference on the first one's block");
    expectDamaged(mutate(hand.refListOffset + 12, 1, 2), "duplicate type and ID");
    expectDamaged(mutate(hand.nameListOffset, 0xFF, 1), "name runs past the map");
    // More resources than any real file holds: each reference may be small,
    // but together they are not data.
    {
        HandFork many;
        many.resources.push_back({kPref, 0, "", Bytes{}});
        for (int id = -32768; id <= 32767; ++id)
            many.resources.push_back({kSTR, static_cast<int16_t>(id), "", Bytes{}});
        expectDamaged(many.Build(), "too many resources");
        many.resources.erase(many.resources.begin());
        EXPECT_EQ(rsrc::ParseResourceFork(many.Build()).error, 0);
    }
}

TEST(AppleSingle, CarriesTypeCreatorAndForkAndRejectsDamage) {
    const Bytes fork = SampleFork().Build();
    const Bytes file = applesingle::WriteAppleSingle(
        applesingle::MakeResourceFile(PLATFORM_FOURCC('P', 'r', 'e', 'f'), PLATFORM_FOURCC('q', 'm', 'z', ' '), fork));

    // Read the layout by hand: magic, version 2, entries (id, offset, length).
    ASSERT_GE(file.size(), 26u);
    EXPECT_EQ(BE32(file, 0), 0x00051600u);
    EXPECT_EQ(BE32(file, 4), 0x00020000u);
    const uint16_t count = BE16(file, 24);
    Bytes finderInfo, resourceFork;
    for (uint16_t i = 0; i < count; ++i) {
        const uint32_t id = BE32(file, 26 + 12 * i), at = BE32(file, 30 + 12 * i), len = BE32(file, 34 + 12 * i);
        ASSERT_LE(uint64_t(at) + len, file.size());
        Bytes entry(file.begin() + at, file.begin() + at + len);
        if (id == 9) finderInfo = entry;
        if (id == 2) resourceFork = entry;
    }
    EXPECT_EQ(std::string(finderInfo.begin(), finderInfo.end()), std::string("Prefqmz ") + std::string(24, '\0'));
    EXPECT_EQ(resourceFork, fork);

    auto parsed = applesingle::ParseAppleSingle(file);
    ASSERT_EQ(parsed.error, 0);
    uint32_t type = 0, creator = 0;
    EXPECT_TRUE(applesingle::GetTypeAndCreator(parsed.container, &type, &creator));
    EXPECT_EQ(std::pair(type, creator), std::pair(kPref, PLATFORM_FOURCC('q', 'm', 'z', ' ')));
    EXPECT_EQ(applesingle::WriteAppleSingle(parsed.container), file);

    for (size_t n = 4; n < file.size(); ++n)
        EXPECT_EQ(applesingle::ParseAppleSingle(Bytes(file.begin(), file.begin() + n)).error, mapReadErr) << n;
    // An entry starting past the end, an absurd length, an entry over the
    // header, the second entry overlapping the first, the same entry twice,
    // an unknown version, more entries than the file holds.
    for (auto [at, value, width] : {std::tuple{30, 0xFFFFFF00u, 4},
                                    {34, 0xFFFFFFFFu, 4},
                                    {30, 0u, 4},
                                    {42, BE32(file, 30) + 4, 4},
                                    {38, 9u, 4},
                                    {4, 0x00030000u, 4},
                                    {24, 0xFFFFu, 2}}) {
        Bytes b = file;
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
