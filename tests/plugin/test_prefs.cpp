// The preferences file (storage/prefsloader.cpp): created on first use with
// one 'Pref' ID 1 record, read back, damaged records ignored, kept and
// replaced, write failures reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
        if (Handle h = Get1Resource(kPref, 1)) bytes.assign(*h, *h + GetHandleSize(h));
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
    pluginDataRec r{};
    ResetConfig(&r, true);
    return r;
}

std::vector<unsigned char> RecordOf(const pluginDataRec &r) {
    Handle h = NewHandleClear(396);
    pluginDataRec copy = r;
    EXPECT_TRUE(Config2Save(&copy, h));
    std::vector<unsigned char> bytes(*h, *h + 396);
    DisposeHandle(h);
    return bytes;
}

// The bytes of the one copy of a damaged file kept beside it, which is then removed.
std::string TakeKeptCopy(const ScopedPrefsFolder &prefs) {
    std::vector<std::filesystem::path> kept;
    for (const auto &e : std::filesystem::directory_iterator(prefs.Folder()))
        if (e.path().filename().string().starts_with("qzvel-Prefs.damaged-")) kept.push_back(e.path());
    EXPECT_EQ(kept.size(), 1u);
    const std::string bytes = kept.empty() ? "" : Slurp(kept[0]);
    for (const auto &k : kept) std::filesystem::remove(k);
    return bytes;
}

}  // namespace

// The first use makes the file with one record named "Config Settings";
// later uses read it.
TEST(PrefsFile, FirstUseCreatesOneRecordAndLaterUsesReadIt) {
    ScopedPrefsFolder prefs;
    pluginDataRec r = Defaults();
    EXPECT_FALSE(ReadConfig(&r));
    EXPECT_FALSE(std::filesystem::exists(prefs.PrefsFile()));  // reading creates nothing

    pluginDataRec init;
    std::memset(&init, 0x33, sizeof init);
    InitPluginData(&init);
    pluginDataRec defaults = Defaults();
    defaults.frameEndColor = SetRGBColor(0x3333, 0x3333, 0x3333);  // not reset, and not read from a missing file
    EXPECT_EQ(RecordOf(init), RecordOf(defaults));
    WithPrefsFile(prefs, [&](short) {
        EXPECT_EQ(Count1Resources(kPref), 1);
        Handle h = Get1Resource(kPref, 1);
        ASSERT_NE(h, nullptr);
        short id = 0;
        ResType type = 0;
        Str255 name;
        GetResInfo(h, &id, &type, name);
        EXPECT_EQ(PStrView(name), "Config Settings");
    });
    EXPECT_EQ(StoredRecord(prefs), RecordOf(init));

    // A changed configuration survives a "restart"; reading keeps the
    // record's image references.
    pluginDataRec edited = Defaults();
    edited.rota = 3;
    edited.startRel = SetRelRect(0.25, 0.1, 0.75, 0.6);
    edited.colors[0] = SetRGBColor(0x1234, 0x5678, 0x9ABC);
    ASSERT_TRUE(SaveConfig(&edited));
    pluginDataRec later{};
    CGImageRef marker = reinterpret_cast<CGImageRef>(&later);
    InitPluginData(&later);
    EXPECT_EQ(RecordOf(later), RecordOf(edited));
    later.theOriginalImage = later.theRendered = marker;
    EXPECT_TRUE(ReadConfig(&later));
    EXPECT_EQ(std::pair(later.theOriginalImage, later.theRendered), std::pair(marker, marker));
}

// A damaged record is not read, is kept beside the file once (also when the
// host kept it already), and the next save replaces it.
TEST(PrefsFile, DamagedRecordsAreIgnoredKeptAndReplaced) {
    ScopedPrefsFolder prefs;
    pluginDataRec stored = Defaults();
    stored.rota = 2;
    ASSERT_TRUE(SaveConfig(&stored));
    const std::vector<unsigned char> good = RecordOf(stored);

    auto v2 = good, size = good, swapped = good;
    v2[4] = 2;                                           // version 2
    size[0] = 0x8D;                                      // sizeInBytes 397
    std::reverse(swapped.begin(), swapped.begin() + 4);  // written by the other byte order
    std::reverse(swapped.begin() + 4, swapped.begin() + 8);
    const std::vector<std::vector<unsigned char>> damaged = {
        v2, size, swapped, {good.begin(), good.begin() + 395} /* one byte short */, {}};
    for (size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "record of " << damaged[i].size() << " bytes");
        PlantRecord(prefs, damaged[i]);
        const std::string before = Slurp(prefs.PrefsFile());
        pluginDataRec r = Defaults();
        r.mediaType = 2;
        const pluginDataRec unread = r;
        EXPECT_FALSE(ReadConfig(&r));
        EXPECT_EQ(std::memcmp(&r, &unread, sizeof r), 0);
        std::string detail;
        EXPECT_EQ(InspectPrefsFile(prefs.PrefsFile().string(), detail), kPrefsDamaged);
        if (i % 2) {  // kept already, as the host does: no second copy
            EXPECT_FALSE(KeepDamagedPrefs(prefs.PrefsFile().string()).empty());
        }
        ASSERT_TRUE(SaveConfig(&r));
        EXPECT_EQ(StoredRecord(prefs), RecordOf(r));
        EXPECT_EQ(TakeKeptCopy(prefs), before);
    }

    // A longer resource is read up to its 396 bytes.
    auto longer = good;
    longer.resize(500, 0xEE);
    PlantRecord(prefs, longer);
    pluginDataRec r = Defaults();
    EXPECT_TRUE(ReadConfig(&r));
    EXPECT_EQ(r.rota, 2);
}

TEST(PrefsFile, FailuresReturnFalseAndKeepWhatWasSaved) {
    ScopedPrefsFolder prefs;
    pluginDataRec r = Defaults();
    r.rota = 3;
    ASSERT_TRUE(SaveConfig(&r));
    const auto saved = StoredRecord(prefs);
    pluginDataRec changed = r;
    changed.rota = 2;
    setenv("PLATFORM_FILES_FAULT", "1:ENOSPC", 1);  // the disk is full
    EXPECT_FALSE(SaveConfig(&changed));
    unsetenv("PLATFORM_FILES_FAULT");
    EXPECT_EQ(StoredRecord(prefs), saved);

    // Something that is not a file at its name is neither read nor replaced,
    // and never waited on (a FIFO would block a plain open for ever).
    std::filesystem::remove(prefs.PrefsFile());
    ASSERT_EQ(mkfifo(prefs.PrefsFile().c_str(), 0644), 0);
    EXPECT_FALSE(ReadConfig(&r));
    EXPECT_FALSE(SaveConfig(&r));
    EXPECT_TRUE(std::filesystem::is_fifo(prefs.PrefsFile()));

    // No usable Preferences folder: a plain file stands where it should be.
    const std::string blocked = (prefs.Folder() / "blocked").string();
    std::ofstream(blocked).put('x');
    setenv("XDG_CONFIG_HOME", blocked.c_str(), 1);
    EXPECT_FALSE(SaveConfig(&r));
    EXPECT_FALSE(ReadConfig(&r));
    EXPECT_FALSE(SaveConfig(nullptr));
    EXPECT_FALSE(ReadConfig(nullptr));
}

// A save killed at any write or rename leaves the old record or the new one;
// what killed saves leave behind goes with the next save that writes.
TEST(PrefsFile, KilledSavesLeaveTheOldRecordOrTheNew) {
    ScopedPrefsFolder prefs;
    pluginDataRec old = Defaults();
    old.rota = 2;
    ASSERT_TRUE(SaveConfig(&old));
    pluginDataRec newer = old;
    newer.rota = 3;
    newer.startRel = SetRelRect(0.1, 0.2, 0.3, 0.4);
    int points = 0;
    for (int n = 1; n < 20; ++n) {
        const pid_t child = fork();
        if (child == 0) {
            setenv("PLATFORM_FILES_FAULT", std::to_string(n).c_str(), 1);
            _exit(SaveConfig(&newer) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        const auto stored = StoredRecord(prefs);
        EXPECT_TRUE(stored == RecordOf(old) || stored == RecordOf(newer)) << "killed at step " << n;
        if (WIFEXITED(status)) {
            EXPECT_EQ(std::pair(WEXITSTATUS(status), stored), std::pair(0, RecordOf(newer)));
            break;
        }
        EXPECT_EQ(WTERMSIG(status), SIGKILL);
        ++points;
        ASSERT_TRUE(SaveConfig(&old));
    }
    EXPECT_GE(points, 2);  // the write and the rename

    // Temporaries: one of a killed save, one a living writer holds, and
    // files of other kinds, which are never touched.
    const auto folder = prefs.Folder();
    for (const char *name : {".qzvel-Prefs.Dead01", ".qzvel-Prefs.Live01", ".qzvel-Prefs.keep", ".other.Dead02"})
        std::ofstream(folder / name).put('x');
    const int live = open((folder / ".qzvel-Prefs.Live01").c_str(), O_RDONLY);
    ASSERT_EQ(flock(live, LOCK_EX), 0);
    ASSERT_TRUE(SaveConfig(&old));  // a save that writes
    close(live);
    for (const char *name : {".qzvel-Prefs.Dead01", ".qzvel-Prefs.Live01", ".qzvel-Prefs.keep", ".other.Dead02"})
        EXPECT_EQ(std::filesystem::exists(folder / name), name != std::string(".qzvel-Prefs.Dead01")) << name;
}
