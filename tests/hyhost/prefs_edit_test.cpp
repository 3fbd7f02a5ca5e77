// Settings given as KEY=VALUE land in the right fields of the record and
// survive the plug-in's storage code; refused values change nothing.
#include "PrefsEdit.h"
#include "PrefsJson.h"

#include "storage/prefsloader.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TEST(PrefsEdit, SettingsLandInTheirFields) {
    ConfigBlock c = NewDefaultConfig();
    ASSERT_TRUE(c);
    std::string error;
    ASSERT_TRUE(ApplySetting(*c, "rect=0.1,0.2,0.7,0.9", error)) << error;
    EXPECT_DOUBLE_EQ(c->startRel.left, 0.1);
    EXPECT_DOUBLE_EQ(c->startRel.top, 0.2);
    EXPECT_DOUBLE_EQ(c->startRel.right, 0.7);
    EXPECT_DOUBLE_EQ(c->startRel.bottom, 0.9);
    for (int deg : {0, 90, 180, 270}) {
        ASSERT_TRUE(ApplySetting(*c, "rota=" + std::to_string(deg), error));
        EXPECT_EQ(c->rota, deg / 90 + 1);
    }
    ASSERT_TRUE(ApplySetting(*c, "color=#FF8001", error));
    EXPECT_EQ(c->colors[0].red, 0xFFFF);
    EXPECT_EQ(c->colors[0].green, 0x8080);
    EXPECT_EQ(c->colors[0].blue, 0x0101);
    ASSERT_TRUE(ApplySetting(*c, "colors.6=1,2,3", error));
    EXPECT_EQ(c->colors[5].blue, 3);
    ASSERT_TRUE(ApplySetting(*c, "outside=off", error));
    EXPECT_FALSE(c->outside);
    ASSERT_TRUE(ApplySetting(*c, "clip=on", error));
    EXPECT_TRUE(c->clipActive);
    ASSERT_TRUE(ApplySetting(*c, "standard=hd", error));
    EXPECT_EQ(c->mediaType, 3);
    ASSERT_TRUE(ApplySetting(*c, "sliders.2=-7", error));
    EXPECT_EQ(c->sliders[1], -7);
    ASSERT_TRUE(ApplySetting(*c, "endRel.bottom=0.5", error));
    EXPECT_DOUBLE_EQ(c->endRel.bottom, 0.5);
    ASSERT_TRUE(ApplySetting(*c, "startRel=0,1,0.25,0.75", error));
    EXPECT_DOUBLE_EQ(c->startRel.top, 0.25);
    EXPECT_DOUBLE_EQ(c->startRel.right, 1);

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
    fs::path dir = pattern;
    fs::create_directories(dir / "own");
    setenv("XDG_CONFIG_HOME", (dir / "own").c_str(), 1);
    fs::path other = dir / "preset";
    std::string error;
    ASSERT_TRUE(WithPreferencesFile(
        other.string(),
        [](const std::string &, std::string &err) {
            ConfigBlock c = NewDefaultConfig();
            return ApplySetting(*c, "rota=270", err) && ApplySetting(*c, "color=#0A0B0C", err) && SaveConfig(c.get());
        },
        error))
        << error;
    EXPECT_FALSE(fs::exists(dir / "own" / kPrefFileName));
    EXPECT_STREQ(std::getenv("XDG_CONFIG_HOME"), (dir / "own").c_str()) << "the folder setting is restored";
    ASSERT_TRUE(fs::exists(other));
    // The record comes back through the storage code.
    bool read = false;
    ASSERT_TRUE(WithPreferencesFile(
        other.string(),
        [&](const std::string &, std::string &) {
            ConfigBlock c = NewDefaultConfig();
            read = ReadConfig(c.get());
            EXPECT_EQ(c->rota, 4);
            EXPECT_EQ(c->colors[0].green, 0x0B0B);
            return true;
        },
        error));
    EXPECT_TRUE(read);
    // A failing change leaves the file as it was.
    std::ifstream in(other, std::ios::binary);
    std::stringstream before;
    before << in.rdbuf();
    EXPECT_FALSE(WithPreferencesFile(
        other.string(),
        [](const std::string &, std::string &err) {
            ConfigBlock c = NewDefaultConfig();
            ReadConfig(c.get());
            c->rota = 1;
            SaveConfig(c.get());
            err = "refused";
            return false;
        },
        error));
    std::ifstream again(other, std::ios::binary);
    std::stringstream after;
    after << again.rdbuf();
    EXPECT_EQ(before.str(), after.str());
    // A file that is no preferences file at all is never replaced.
    fs::path notes = dir / "notes.txt";
    std::ofstream(notes) << "shopping list\n";
    bool ran = false;
    EXPECT_FALSE(WithPreferencesFile(
        notes.string(),
        [&](const std::string &, std::string &) {
            ran = true;
            return true;
        },
        error));
    EXPECT_FALSE(ran);
    EXPECT_NE(error.find("not a preferences file"), std::string::npos) << error;
    std::ifstream notesIn(notes);
    std::string line;
    std::getline(notesIn, line);
    EXPECT_EQ(line, "shopping list");
    EXPECT_FALSE(WithPreferencesFile((dir / "missing" / "x").string(),
                                     [](const std::string &, std::string &) { return true; }, error));
    fs::remove_all(dir);
}

TEST(PrefsEdit, DescriptionsShowEveryField) {
    ConfigBlock c = NewDefaultConfig();
    std::string error;
    ASSERT_TRUE(ApplySetting(*c, "rota=90", error));
    ASSERT_TRUE(ApplySetting(*c, "frameEndColor=1,2,3", error));
    auto j = nlohmann::json::parse(DescribeConfigJson(*c, false));
    EXPECT_EQ(j["rota"], 90);
    EXPECT_EQ(j["rotaCode"], 2);
    EXPECT_EQ(j["frameEndColor"]["green"], 2);
    EXPECT_EQ(j["sliders"].size(), 6u);
    EXPECT_EQ(j["sliders"][0], 10) << "defaults 10, 50, 0...";
    EXPECT_EQ(j["colors"].size(), 6u);
    std::string text = DescribeConfig(*c);
    for (const char *key : {"rect", "rota", "color", "outside", "clip", "standard", "keepProps", "endRel", "sliders",
                            "frameStartColor", "frameEndColor"})
        EXPECT_NE(text.find(key), std::string::npos) << key;
}

}  // namespace

namespace {

// What show --json prints reads back into the same record, odd values too:
// the raw fields win over the readable ones derived from them.
TEST(PrefsEdit, JsonReadsBackIntoTheSameRecord) {
    ConfigBlock c = NewDefaultConfig(), back = NewDefaultConfig();
    std::string error;
    for (const char *s : {"startRel=0.1,0.6,0.2,0.7", "endRel=0,1,0.25,0.75", "sliders=1,-2,3,-32768,5,32767",
                          "colors.1=1,2,65535", "colors.6=#ABCDEF", "frameEndColor=7,8,9", "mediaType=9", "rotaCode=7",
                          "outside=off", "clip=on", "keepProps=on"})
        ASSERT_TRUE(ApplySetting(*c, s, error)) << s << ": " << error;
    const std::string json = DescribeConfigJson(*c, true);
    ASSERT_TRUE(ApplySettingsJson(*back, json, error)) << error;
    EXPECT_EQ(DescribeConfigJson(*back, true), json);

    // Fields left out keep their value; bad ones are named.
    ASSERT_TRUE(ApplySettingsJson(*back, R"({"rota": 180, "color": "#010203"})", error)) << error;
    EXPECT_EQ(back->rota, 3);
    EXPECT_EQ(back->colors[0].red, 0x0101);
    EXPECT_EQ(back->sliders[5], 32767);
    for (const char *bad : {"[1]", "{\"rota\": 45}", "{\"sliders\": [1, \"x\"]}", "{\"nokey\": 1}", "{"})
        EXPECT_FALSE(ApplySettingsJson(*back, bad, error)) << bad;
}

}  // namespace
