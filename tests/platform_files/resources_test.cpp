// File Manager and Resource Manager through the exported interfaces, on
// files in a temporary folder that stands in for the user's config folder.
#include "files_test_util.h"

#include "files/AppleSingle.h"

#include "Files.h"
#include "MacMemory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

constexpr ResType kPref = PLATFORM_FOURCC('P', 'r', 'e', 'f');
constexpr ResType kSTR = PLATFORM_FOURCC('S', 'T', 'R', '#');
constexpr OSType kCreator = PLATFORM_FOURCC('q', 'm', 'z', ' ');

// A Pascal string: a length byte, then the text.
std::vector<unsigned char> P(const std::string &text) {
    std::vector<unsigned char> p(text.size() + 1, static_cast<unsigned char>(text.size()));
    std::copy(text.begin(), text.end(), p.begin() + 1);
    return p;
}

std::string FromP(const unsigned char *p) { return std::string(reinterpret_cast<const char *>(p + 1), p[0]); }

Handle MakeHandle(const Bytes &bytes) {
    Handle h = NewHandle(static_cast<Size>(bytes.size()));
    if (h && !bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
    return h;
}

Bytes HandleContent(Handle h) {
    const Size n = h ? GetHandleSize(h) : 0;
    return n > 0 ? Bytes(reinterpret_cast<uint8_t *>(*h), reinterpret_cast<uint8_t *>(*h) + n) : Bytes{};
}

class ResourceFiles : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", home.path.c_str(), 1);
        ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRef, &dirID), noErr);
    }

    TempDir home;
    short vRef = 0;
    SInt32 dirID = 0;
};

TEST_F(ResourceFiles, PreferencesFolderAndSpecs) {
    char path[4096];
    FSSpec fileSpec;
    const auto name = P("qzvel-Prefs");
    EXPECT_EQ(FSMakeFSSpec(vRef, dirID, name.data(), &fileSpec), fnfErr);  // missing, but the fileSpec is made
    ASSERT_TRUE(FSSpecGetPath(&fileSpec, path, sizeof path));
    EXPECT_EQ(std::string(path), home.path + "/qzvel-Prefs");
    EXPECT_FALSE(FSSpecGetPath(&fileSpec, path, 5));
    for (const char *bad : {"", "a/b", ".."}) EXPECT_EQ(FSMakeFSSpec(vRef, dirID, P(bad).data(), &fileSpec), bdNamErr);
    EXPECT_EQ(FSMakeFSSpec(vRef, 12345, name.data(), &fileSpec), dirNFErr);

    // Without XDG_CONFIG_HOME (or with a relative one) it is $HOME/.config.
    TempDir other;
    setenv("HOME", other.path.c_str(), 1);
    setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    short v;
    SInt32 d, d2;
    EXPECT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &v, &d), fnfErr);
    EXPECT_FALSE(std::filesystem::exists(other.path + "/.config"));
    ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &v, &d), noErr);
    unsetenv("XDG_CONFIG_HOME");
    ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &v, &d2), noErr);
    EXPECT_EQ(d, d2);
    ASSERT_EQ(FSMakeFSSpec(v, d, name.data(), &fileSpec), fnfErr);
    ASSERT_TRUE(FSSpecGetPath(&fileSpec, path, sizeof path));
    EXPECT_EQ(std::string(path), other.path + "/.config/qzvel-Prefs");
}

TEST_F(ResourceFiles, WrittenResourcesComeBack) {
    // What the preferences code does: fileSpec, create when missing, open.
    FSSpec fileSpec;
    ASSERT_EQ(FSMakeFSSpec(vRef, dirID, P("qzvel-Prefs").data(), &fileSpec), fnfErr);
    FSpCreateResFile(&fileSpec, kCreator, kPref, smSystemScript);
    short ref = FSpOpenResFile(&fileSpec, fsCurPerm);
    ASSERT_GT(ref, 0) << ResError();
    FSpCreateResFile(&fileSpec, 1, 2, smSystemScript);  // a second create leaves the file alone
    EXPECT_EQ(ResError(), dupFNErr);
    EXPECT_EQ(Get1Resource(kPref, 1), nullptr);
    EXPECT_EQ(ResError(), resNotFound);

    const Bytes record(396, 0xEE);
    AddResource(MakeHandle(record), kPref, 1, P("Config Settings").data());
    AddResource(MakeHandle({1, 2, 3}), kPref, 5, nullptr);
    UpdateResFile(ref);
    EXPECT_EQ(ResError(), noErr);
    Handle h = Get1Resource(kPref, 5);
    ASSERT_NE(h, nullptr);
    SetHandleSize(h, 4);
    std::memcpy(*h, "\x0A\x0B\x0C\x0D", 4);
    ChangedResource(h);
    EXPECT_EQ(ResError(), noErr);
    ReleaseResource(h);  // refused rather than losing the change
    EXPECT_NE(ResError(), noErr);
    Handle dup = MakeHandle({0});
    AddResource(dup, kPref, 5, nullptr);  // the same type and ID again
    EXPECT_EQ(ResError(), addResFailed);
    DisposeHandle(dup);
    CloseResFile(ref);  // writes pending changes
    EXPECT_EQ(ResError(), noErr);

    // On disk: an AppleSingle file with type, creator and the resources as they were left.
    const Bytes fork =
        Fork({{kPref, 1, 0, true, "Config Settings", record}, {kPref, 5, 0, false, "", {10, 11, 12, 13}}});
    EXPECT_EQ(ReadFileBytes(home.path + "/qzvel-Prefs"),
              applesingle::WriteAppleSingle(applesingle::MakeResourceFile(kPref, kCreator, fork)));

    ref = FSpOpenResFile(&fileSpec, fsRdPerm);
    Handle h1 = Get1Resource(kPref, 1);
    ASSERT_NE(h1, nullptr);
    short id = 0;
    ResType t = 0;
    Str255 name;
    GetResInfo(h1, &id, &t, name);
    EXPECT_EQ(std::tuple(id, t, FromP(name)), std::tuple(short(1), kPref, std::string("Config Settings")));
    RemoveResource(h1);  // read-only
    EXPECT_NE(ResError(), noErr);
    // A detached handle is the caller's and outlives the file.
    DetachResource(h1);
    EXPECT_EQ(ResError(), noErr);
    CloseResFile(ref);
    EXPECT_EQ(HandleContent(h1), record);
    DisposeHandle(h1);
}

TEST_F(ResourceFiles, ChainOrderAndStringLists) {
    // Two plain fork files, opened one after the other.
    WriteFileBytes(home.path + "/a.rsrc",
                   Fork({{kSTR, 128, 0, false, "", StringList({"first", "", "third"})},
                         {kSTR, 300, 0, false, "", Hex("0005 026F6B 30")},  // 5 items: "ok", a cut one
                         {kPref, 7, 0, false, "", {1}}}));
    WriteFileBytes(home.path + "/b.rsrc",
                   Fork({{kSTR, 129, 0, false, "", StringList({"b1"})}, {kPref, 7, 0, false, "", {2}}}));
    const short ra = OpenResFilePath((home.path + "/a.rsrc").c_str(), fsRdPerm);
    const short rb = OpenResFilePath((home.path + "/b.rsrc").c_str(), fsRdPerm);
    ASSERT_TRUE(ra > 0 && rb > 0 && ra != rb);
    EXPECT_EQ(CurResFile(), rb);

    // The newer file hides the older one; Get1Resource stays in the current file.
    EXPECT_EQ(HandleContent(GetResource(kPref, 7)), Bytes{2});
    EXPECT_EQ(Get1Resource(kSTR, 128), nullptr);
    EXPECT_NE(GetResource(kSTR, 128), nullptr);

    Str255 s;
    auto item = [&](short list, short index) {
        std::memset(s, 0x55, sizeof s);
        GetIndString(s, list, index);
        return FromP(s);
    };
    // Past the end, before the start, no such list, and a list cut short
    // (not read past its data) all give the empty string.
    for (auto [list, index, text] : {std::tuple{128, 1, "first"},
                                     {128, 2, ""},
                                     {128, 4, ""},
                                     {128, 0, ""},
                                     {129, 1, "b1"},
                                     {999, 1, ""},
                                     {300, 1, "ok"},
                                     {300, 2, ""}})
        EXPECT_EQ(item(short(list), short(index)), text) << list << "/" << index;

    // An older file stays out of reach of a search from it.
    UseResFile(ra);
    EXPECT_EQ(item(129, 1), "");
    EXPECT_EQ(HandleContent(GetResource(kPref, 7)), Bytes{1});

    // Closing the current file makes the one opened before it current again.
    UseResFile(rb);
    CloseResFile(rb);
    EXPECT_EQ(CurResFile(), ra);
    EXPECT_EQ(item(128, 1), "first");
    UseResFile(rb);
    EXPECT_EQ(ResError(), resFNotFound);
    UseResFile(0);  // the system file: valid, but it holds none of these
    EXPECT_EQ(ResError(), noErr);
    EXPECT_EQ(item(128, 1), "");
    CloseResFile(ra);
}

// The damage itself is the format readers' (formats_test); here only that
// a damaged file is refused with an error and never opened.
TEST_F(ResourceFiles, DamagedFilesAreReportedNotOpened) {
    const Bytes fork = Fork({{kPref, 1, 0, true, "Config Settings", Bytes(396, 1)}}),
                box = applesingle::WriteAppleSingle(applesingle::MakeResourceFile(kPref, 1, fork));
    const applesingle::Container noFork{
        applesingle::kAppleSingleMagic, applesingle::kVersion2, {{applesingle::kDataForkID, {1, 2, 3}}}};
    const std::string path = home.path + "/damaged";
    for (auto [bytes, want] : {std::pair{box, OSErr(noErr)},
                               {Bytes(fork.begin(), fork.begin() + fork.size() / 2), OSErr(mapReadErr)},
                               {Bytes(box.begin(), box.end() - 1), OSErr(mapReadErr)},
                               {applesingle::WriteAppleSingle(noFork), OSErr(eofErr)},
                               {Bytes{}, OSErr(eofErr)}}) {
        WriteFileBytes(path, bytes);
        const short ref = OpenResFilePath(path.c_str(), fsCurPerm);
        EXPECT_EQ(std::pair(ResError(), ref > 0), std::pair(want, want == noErr)) << bytes.size();
        if (ref > 0) CloseResFile(ref);
    }
    EXPECT_EQ(OpenResFilePath((home.path + "/missing").c_str(), fsCurPerm), -1);
    EXPECT_EQ(ResError(), fnfErr);
}

}  // namespace
