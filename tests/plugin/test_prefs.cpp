// The preferences file: created on first use with one 'Pref' ID 1 record,
// read back, invalid records ignored and replaced, other resources kept,
// write failures reported.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <vector>

#include <sys/resource.h>

#include "TestEnv.h"
#include "config/pascalFX.h"
#include "storage/prefsloader.h"
#include "support/commonprocs.h"

namespace {

constexpr ResType kPref = PLATFORM_FOURCC('P', 'r', 'e', 'f');

// Runs f with the preferences file's resources current, for inspection and
// for planting damaged records; the file is written back when f returns.
template <typename F>
void WithPrefsFile(const ScopedPrefsFolder &prefs, F f) {
    const short ref = OpenResFilePath(prefs.PrefsFile().c_str(), fsRdWrPerm);
    ASSERT_NE(ref, -1) << "no preferences file";
    UseResFile(ref);
    f(ref);
    UpdateResFile(ref);
    CloseResFile(ref);
}

std::vector<unsigned char> StoredRecord(const ScopedPrefsFolder &prefs) {
    std::vector<unsigned char> bytes;
    WithPrefsFile(prefs, [&](short) {
        Handle h = Get1Resource(kPref, 1);
        if (h == nullptr) return;
        const auto *p = reinterpret_cast<const unsigned char *>(*h);
        bytes.assign(p, p + GetHandleSize(h));
    });
    return bytes;
}

// Replaces 'Pref' ID 1 with the given bytes.
void PlantRecord(const ScopedPrefsFolder &prefs, const std::vector<unsigned char> &bytes) {
    WithPrefsFile(prefs, [&](short ref) {
        if (Handle old = Get1Resource(kPref, 1)) {
            RemoveResource(old);
            DisposeHandle(old);
            UpdateResFile(ref);
        }
        Handle h = NewHandle(static_cast<Size>(bytes.size()));
        if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
        Str255 name;
        CToPStr("Config Settings", name);
        AddResource(h, kPref, 1, name);
        ASSERT_EQ(ResError(), noErr);
    });
}

pluginDataRec Defaults() {
    pluginDataRec r;
    std::memset(&r, 0, sizeof r);
    ResetConfig(&r, true);
    return r;
}

std::vector<unsigned char> RecordOf(const pluginDataRec &r) {
    Handle h = NewHandleClear(396);
    pluginDataRec copy = r;
    EXPECT_TRUE(Config2Save(&copy, h));
    std::vector<unsigned char> bytes(reinterpret_cast<unsigned char *>(*h), reinterpret_cast<unsigned char *>(*h) + 396);
    DisposeHandle(h);
    return bytes;
}

// Every stored field; frameEndColor only when asked (a reset keeps it).
bool SameSettings(const pluginDataRec &a, const pluginDataRec &b, bool withEndColor = true) {
    return std::memcmp(&a, &b, offsetof(pluginDataRec, frameEndColor)) == 0 &&
           (!withEndColor || std::memcmp(&a.frameEndColor, &b.frameEndColor, sizeof(RGBColor)) == 0) &&
           a.mediaType == b.mediaType && a.outside == b.outside && a.clipActive == b.clipActive &&
           a.keepProps == b.keepProps && a.rota == b.rota;
}

}  // namespace

TEST(PrefsFile, FirstUseCreatesOneRecordAndLaterUsesReadIt) {
    ScopedPrefsFolder prefs;
    pluginDataRec r = Defaults();
    EXPECT_FALSE(ReadConfig(&r));
    EXPECT_FALSE(std::filesystem::exists(prefs.PrefsFile()));   // reading creates nothing

    // The shared record's initialisation: defaults, then the file exists.
    pluginDataRec init;
    std::memset(&init, 0x33, sizeof init);
    InitPluginData(&init);
    const pluginDataRec defaults = Defaults();
    EXPECT_TRUE(SameSettings(init, defaults, false));
    EXPECT_EQ(init.frameEndColor.red, 0x3333);   // not reset, and not read from a missing file
    ASSERT_TRUE(std::filesystem::exists(prefs.PrefsFile()));
    WithPrefsFile(prefs, [&](short) {
        EXPECT_EQ(Count1Resources(kPref), 1);
        Handle h = Get1Resource(kPref, 1);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(GetHandleSize(h), 396);
        short id = 0;
        ResType type = 0;
        Str255 name;
        GetResInfo(h, &id, &type, name);
        EXPECT_EQ(PStrView(name), "Config Settings");
    });
    EXPECT_EQ(StoredRecord(prefs), RecordOf(init));

    // A changed configuration survives a "restart".
    pluginDataRec edited = Defaults();
    edited.rota = 3;
    edited.outside = 0;
    edited.startRel = SetRelRect(0.25, 0.1, 0.75, 0.6);
    edited.colors[0] = SetRGBColor(0x1234, 0x5678, 0x9ABC);
    ASSERT_TRUE(SaveConfig(&edited));
    pluginDataRec later;
    std::memset(&later, 0, sizeof later);
    InitPluginData(&later);
    EXPECT_TRUE(SameSettings(later, edited));
    EXPECT_EQ(StoredRecord(prefs), RecordOf(edited));

    // Reading keeps the record's image references.
    pluginDataRec withImages = Defaults();
    CGImageRef marker = reinterpret_cast<CGImageRef>(&withImages);
    withImages.theOriginalImage = withImages.theRendered = marker;
    EXPECT_TRUE(ReadConfig(&withImages));
    EXPECT_EQ(withImages.theOriginalImage, marker);
    EXPECT_EQ(withImages.theRendered, marker);
    EXPECT_EQ(withImages.rota, 3);
}

TEST(PrefsFile, InvalidRecordsAreIgnoredAndReplaced) {
    ScopedPrefsFolder prefs;
    pluginDataRec stored = Defaults();
    stored.rota = 2;
    ASSERT_TRUE(SaveConfig(&stored));
    const std::vector<unsigned char> good = RecordOf(stored);

    std::vector<std::vector<unsigned char>> damaged;
    auto v2 = good;
    v2[4] = 2;                                        // version 2
    damaged.push_back(v2);
    auto size = good;
    size[0] = 0x8D;                                   // sizeInBytes 397
    damaged.push_back(size);
    auto swapped = good;                              // written by the other byte order
    std::reverse(swapped.begin(), swapped.begin() + 4);
    std::reverse(swapped.begin() + 4, swapped.begin() + 8);
    damaged.push_back(swapped);
    damaged.emplace_back(good.begin(), good.begin() + 395);   // one byte short
    damaged.emplace_back(good.begin(), good.begin() + 8);     // a valid header and nothing else
    damaged.emplace_back();                                   // empty

    for (const auto &bytes : damaged) {
        PlantRecord(prefs, bytes);
        pluginDataRec r = Defaults();
        r.mediaType = 2;
        const pluginDataRec before = r;
        EXPECT_FALSE(ReadConfig(&r)) << "record of " << bytes.size() << " bytes";
        EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
        ASSERT_TRUE(SaveConfig(&r));                  // the next save replaces it
        EXPECT_EQ(StoredRecord(prefs), RecordOf(r));
    }

    // A longer resource is read up to its 396 bytes.
    auto longer = good;
    longer.resize(500, 0xEE);
    PlantRecord(prefs, longer);
    pluginDataRec r = Defaults();
    EXPECT_TRUE(ReadConfig(&r));
    EXPECT_EQ(r.rota, 2);

    // A file without the record reads as missing; the save adds it.
    WithPrefsFile(prefs, [](short) {
        Handle old = Get1Resource(kPref, 1);
        ASSERT_NE(old, nullptr);
        RemoveResource(old);
        DisposeHandle(old);
    });
    pluginDataRec none = Defaults();
    EXPECT_FALSE(ReadConfig(&none));
    ASSERT_TRUE(SaveConfig(&none));
    EXPECT_EQ(StoredRecord(prefs), RecordOf(none));
}

TEST(PrefsFile, OtherResourcesSurviveASave) {
    ScopedPrefsFolder prefs;
    pluginDataRec r = Defaults();
    ASSERT_TRUE(SaveConfig(&r));
    const std::vector<unsigned char> other = {1, 2, 3, 4, 5};
    WithPrefsFile(prefs, [&](short) {
        for (auto [type, id] : {std::pair{kPref, short(2)}, std::pair{PLATFORM_FOURCC('T', 'E', 'X', 'T'), short(1)}}) {
            Handle h = NewHandle(5);
            std::memcpy(*h, other.data(), 5);
            Str255 name;
            CToPStr("kept", name);
            AddResource(h, type, id, name);
        }
    });
    r.rota = 4;
    ASSERT_TRUE(SaveConfig(&r));
    ASSERT_TRUE(SaveConfig(&r));
    WithPrefsFile(prefs, [&](short) {
        EXPECT_EQ(Count1Resources(kPref), 2);
        for (auto [type, id] : {std::pair{kPref, short(2)}, std::pair{PLATFORM_FOURCC('T', 'E', 'X', 'T'), short(1)}}) {
            Handle h = Get1Resource(type, id);
            ASSERT_NE(h, nullptr);
            ASSERT_EQ(GetHandleSize(h), 5);
            EXPECT_EQ(std::memcmp(*h, other.data(), 5), 0);
        }
    });
    EXPECT_EQ(StoredRecord(prefs), RecordOf(r));
}

TEST(PrefsFile, FailuresReturnFalseAndKeepWhatWasSaved) {
    ScopedPrefsFolder prefs;
    pluginDataRec r = Defaults();
    r.rota = 3;
    ASSERT_TRUE(SaveConfig(&r));
    const auto saved = StoredRecord(prefs);

    // Writing fails: files may not grow beyond a few bytes.
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit limit{}, previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    limit.rlim_cur = 64;
    limit.rlim_max = previous.rlim_max;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    pluginDataRec changed = r;
    changed.rota = 2;
    const Boolean written = SaveConfig(&changed);
    setrlimit(RLIMIT_FSIZE, &previous);
    sigaction(SIGXFSZ, &old, nullptr);
    EXPECT_FALSE(written);
    EXPECT_EQ(StoredRecord(prefs), saved);   // the old file is intact

    // No usable Preferences folder: a plain file stands where it should be.
    const std::string blocked = (prefs.Folder() / "blocked").string();
    { std::FILE *f = std::fopen(blocked.c_str(), "w"); ASSERT_NE(f, nullptr); std::fclose(f); }
    setenv("XDG_CONFIG_HOME", blocked.c_str(), 1);
    EXPECT_FALSE(SaveConfig(&r));
    EXPECT_FALSE(ReadConfig(&r));
    EXPECT_FALSE(SaveConfig(nullptr));
    EXPECT_FALSE(ReadConfig(nullptr));
}
