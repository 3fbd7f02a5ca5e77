// Settings given as KEY=VALUE or JSON land in the right fields of the record
// and survive the plug-in's storage code; refused values change nothing.
#include "PrefsEdit.h"
#include "PrefsJson.h"

#include "storage/prefsloader.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string Read(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(PrefsEdit, SettingsLandInTheirFields) {
    ConfigBlock c = NewDefaultConfig();
    ASSERT_TRUE(c);
    std::string error;
    // Each setting, then a field of the record as show --json names it.
    const std::tuple<const char *, const char *, json> rows[] = {
        {"rect=0.1,0.2,0.7,0.9", "/startRel", {{"left", 0.1}, {"top", 0.2}, {"right", 0.7}, {"bottom", 0.9}}},
        {"startRel=0,1,0.25,0.75", "/startRel/top", 0.25},
        {"startRel=0,1,0.25,0.75", "/startRel/right", 1.0},
        {"endRel.bottom=0.5", "/endRel/bottom", 0.5},
        {"rota=90", "/rotaCode", 2},
        {"rota=270", "/rotaCode", 4},
        {"color=#FF8001", "/colors/0", {{"red", 0xFFFF}, {"green", 0x8080}, {"blue", 0x0101}}},
        {"colors.6=1,2,3", "/colors/5", {{"red", 1}, {"green", 2}, {"blue", 3}}},
        {"frameEndColor=1,2,3", "/frameEndColor/green", 2},
        {"outside=off", "/outside", false},
        {"clip=on", "/clipActive", true},
        {"standard=hd", "/mediaType", 3},
        {"sliders.2=-7", "/sliders/1", -7},
        {"sliders.2=-7", "/sliders/0", 10},  // the others keep their defaults
    };
    for (const auto &[setting, pointer, want] : rows) {
        ASSERT_TRUE(ApplySetting(*c, setting, error)) << setting << ": " << error;
        EXPECT_EQ(json::parse(DescribeConfigJson(*c, false)).at(json::json_pointer(pointer)), want) << setting;
    }
    EXPECT_TRUE(c->rota == 4 && c->colors[5].blue == 3) << "in the record itself";
    const std::string text = DescribeConfig(*c);
    for (const char *key : {"rect", "rota", "color", "outside", "clip", "standard", "keepProps", "endRel", "sliders",
                            "frameStartColor", "frameEndColor"})
        EXPECT_NE(text.find(key), std::string::npos) << key;

    pluginDataRec before;
    std::memcpy(&before, c.get(), sizeof before);
    for (const char *bad : {"rota=45", "rota=360", "color=#12345", "color=red", "rect=0.5,0.5,0.2,0.9", "rect=0,0,1",
                            "rect=nan,0,1,1", "outside=maybe", "standard=secam", "sliders.7=1", "colors.0=#000000",
                            "mediaType=70000", "nokey", "=1", "bogus=1"}) {
        EXPECT_FALSE(ApplySetting(*c, bad, error)) << bad;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(std::memcmp(&before, c.get(), sizeof before), 0) << bad << " changed the record";
    }
}

TEST(PrefsEdit, AnotherFileIsWrittenWholeAndTheUsersFileIsLeftAlone) {
    char pattern[] = "/tmp/hyhost-prefs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern, other = dir / "preset", notes = dir / "notes.txt";
    fs::create_directories(dir / "own");
    setenv("XDG_CONFIG_HOME", (dir / "own").c_str(), 1);
    std::string error;
    // Writes rota through the storage code, or fails after writing when told to.
    auto save = [](int rota, bool fail) {
        return [rota, fail](const std::string &, std::string &err) {
            ConfigBlock c = NewDefaultConfig();
            ReadConfig(c.get());
            c->rota = rota;
            err = fail ? "refused" : "";
            return SaveConfig(c.get()) && !fail;
        };
    };
    ASSERT_TRUE(WithPreferencesFile(other.string(), save(4, false), error)) << error;
    EXPECT_FALSE(fs::exists(dir / "own" / kPrefFileName));
    EXPECT_STREQ(std::getenv("XDG_CONFIG_HOME"), (dir / "own").c_str()) << "the folder setting is restored";
    const std::string written = Read(other);
    ASSERT_FALSE(written.empty());
    EXPECT_FALSE(WithPreferencesFile(other.string(), save(1, true), error));
    EXPECT_EQ(Read(other), written) << "a failing change leaves the file as it was";
    // A file that is no preferences file at all is never replaced.
    std::ofstream(notes) << "shopping list\n";
    EXPECT_FALSE(WithPreferencesFile(notes.string(), save(2, false), error));
    EXPECT_NE(error.find("not a preferences file"), std::string::npos) << error;
    EXPECT_EQ(Read(notes), "shopping list\n");
    EXPECT_FALSE(WithPreferencesFile((dir / "missing" / "x").string(), save(2, false), error));
    fs::remove_all(dir);
}

// What show --json prints reads back into the same record, odd values too:
// the raw fields win over the readable ones derived from them.
TEST(PrefsEdit, JsonReadsBackIntoTheSameRecord) {
    ConfigBlock c = NewDefaultConfig(), back = NewDefaultConfig();
    std::string error;
    for (const char *s : {"startRel=0.1,0.6,0.2,0.7", "endRel=0,1,0.25,0.75", "sliders=1,-2,3,-32768,5,32767",
                          "colors.1=1,2,65535", "colors.6=#ABCDEF", "frameEndColor=7,8,9", "mediaType=9", "rotaCode=7",
                          "outside=off", "clip=on", "keepProps=on"})
        ASSERT_TRUE(ApplySetting(*c, s, error)) << s << ": " << error;
    const std::string text = DescribeConfigJson(*c, true);
    ASSERT_TRUE(ApplySettingsJson(*back, text, error)) << error;
    EXPECT_EQ(DescribeConfigJson(*back, true), text);

    // Fields left out keep their value; bad ones are named.
    ASSERT_TRUE(ApplySettingsJson(*back, R"({"rota": 180, "color": "#010203"})", error)) << error;
    EXPECT_EQ(back->rota, 3);
    EXPECT_EQ(back->colors[0].red, 0x0101);
    EXPECT_EQ(back->sliders[5], 32767);
    for (const char *bad : {"[1]", "{\"rota\": 45}", "{\"sliders\": [1, \"x\"]}", "{\"nokey\": 1}", "{"})
        EXPECT_FALSE(ApplySettingsJson(*back, bad, error)) << bad;
}

}  // namespace
