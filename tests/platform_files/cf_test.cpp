// Core Foundation strings, URLs and the bundle registry.
#include "files_test_util.h"

#include "CoreFoundation.h"
#include "Files.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

namespace {

std::string Text(CFStringRef s, CFStringEncoding enc = kCFStringEncodingUTF8) {
    char buf[1024];
    return CFStringGetCString(s, buf, sizeof buf, enc) ? std::string(buf) : std::string("<failed>");
}

std::string PathOf(CFURLRef url) {
    UInt8 buf[4096];
    return url && CFURLGetFileSystemRepresentation(url, true, buf, sizeof buf) ? reinterpret_cast<char *>(buf) : "";
}

TEST(CFString, EncodingsLengthsAndConstants) {
    // MacRoman 0x8E is e-acute; 0xA5 a bullet (U+2022).
    const unsigned char pascal[] = {4, 'C', 'a', 'f', 0x8E};
    CFStringRef cafe = CFStringCreateWithPascalString(kCFAllocatorDefault, pascal, kCFStringEncodingMacRoman);
    ASSERT_NE(cafe, nullptr);
    EXPECT_EQ(std::tuple(Text(cafe), Text(cafe, kCFStringEncodingMacRoman), CFStringGetLength(cafe)),
              std::tuple(std::string("Caf\xC3\xA9"), std::string("Caf\x8E"), CFIndex(4)));
    char small[5];
    EXPECT_FALSE(CFStringGetCString(cafe, small, sizeof small, kCFStringEncodingUTF8));  // needs 6 bytes
    EXPECT_TRUE(CFStringGetCString(cafe, small, sizeof small, kCFStringEncodingMacRoman));
    EXPECT_EQ(CFStringGetCStringPtr(cafe, kCFStringEncodingMacRoman), nullptr);  // not plain ASCII

    CFStringRef snow = CFStringCreateWithCString(nullptr, "\xE2\x98\x83\xF0\x9F\x98\x80", kCFStringEncodingUTF8);
    ASSERT_NE(snow, nullptr);
    EXPECT_EQ(CFStringGetLength(snow), 3);  // one BMP character and a surrogate pair
    EXPECT_EQ(Text(snow, kCFStringEncodingMacRoman), "<failed>");
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "\xC3", kCFStringEncodingUTF8), nullptr);  // not UTF-8
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "\xC3\xA9", kCFStringEncodingASCII), nullptr);

    CFStringRef upper = CFStringCreateWithCString(nullptr, "CAF\xC3\x89", kCFStringEncodingUTF8);
    EXPECT_EQ(CFStringCompare(cafe, upper, 0), kCFCompareGreaterThan);
    EXPECT_EQ(CFStringCompare(cafe, upper, kCFCompareCaseInsensitive), kCFCompareEqualTo);

    // Copies of immutable strings share the object and count as a reference.
    CFStringRef copy = CFStringCreateCopy(nullptr, cafe);
    EXPECT_EQ(copy, cafe);
    EXPECT_EQ(CFGetRetainCount(cafe), 2);
    for (CFStringRef made : {copy, cafe, snow, upper}) CFRelease(made);

    // Constant strings are interned and never freed.
    CFStringRef k1 = CFSTR("com.qmz.varnolex.kelvarin");
    const std::string dynamicText = std::string("com.qmz.varnolex.") + "kelvarin";
    EXPECT_EQ(__CFStringMakeConstantString(dynamicText.c_str()), k1);
    CFRelease(k1);
    CFRelease(k1);
    EXPECT_EQ(Text(k1), "com.qmz.varnolex.kelvarin");
    EXPECT_EQ(CFGetRetainCount(k1), LONG_MAX);
    EXPECT_STREQ(CFStringGetCStringPtr(k1, kCFStringEncodingMacRoman), "com.qmz.varnolex.kelvarin");
}

CFURLRef URL(const std::string &path, bool isDirectory) {
    return CFURLCreateFromFileSystemRepresentation(nullptr, reinterpret_cast<const UInt8 *>(path.c_str()),
                                                   static_cast<CFIndex>(path.size()), isDirectory);
}

TEST(CFBundle, RegistryResourceURLsAndResourceMap) {
    TempDir tmp;
    // Bundles live at their real path; compare against that.
    const std::string dir = std::filesystem::canonical(tmp.path).string() + "/Kelvarin.plugin";
    std::filesystem::create_directories(dir + "/Contents/Linux");
    std::filesystem::create_directories(dir + "/Contents/Resources");
    WriteFileBytes(dir + "/Contents/Linux/Kelvarin.so", Bytes{0x7F, 'E', 'L', 'F'});
    WriteFileBytes(dir + "/Contents/Resources/manual.pdf", Bytes{'%', 'P', 'D', 'F'});
    WriteFileBytes(
        dir + "/Contents/Resources/kelvarin.rsrc",
        Fork({{PLATFORM_FOURCC('S', 'T', 'R', '#'), 17000, 0, true, "Group name", StringList({"Kelvarin"})}}));
    // Comments, unrelated keys and a nested dictionary with a misleading key
    // must not confuse the reader.
    const std::string plist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
    <!-- the effect -->
    <key>Nested</key>
    <dict><key>CFBundleIdentifier</key><string>wrong.one</string></dict>
    <key>CFBundleVersion</key><array><string>3</string></array>
    <key>CFBundleIdentifier</key>
    <string>com.qmz.varnolex.test-bundle</string>
    <key>CFBundleExecutable</key><string>Kelvarin</string>
</dict>
</plist>
)";
    WriteFileBytes(dir + "/Contents/Info.plist", Bytes(plist.begin(), plist.end()));
    CFStringRef id = CFSTR("com.qmz.varnolex.test-bundle");
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(id), nullptr);
    CFURLRef url = URL(std::filesystem::relative(dir).string(), true);
    EXPECT_EQ(PathOf(url), std::filesystem::absolute(dir).lexically_normal().string());
    CFBundleRef bundle = CFBundleCreate(nullptr, url);
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(id), bundle);
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(CFSTR("wrong.one")), nullptr);
    EXPECT_EQ(Text(CFBundleGetIdentifier(bundle)), "com.qmz.varnolex.test-bundle");
    CFRelease(url);

    CFURLRef exe = CFBundleCopyExecutableURL(bundle);
    EXPECT_EQ(PathOf(exe), dir + "/Contents/Linux/Kelvarin.so");
    CFURLRef manual = CFBundleCopyResourceURL(bundle, CFSTR("manual"), CFSTR("pdf"), nullptr);
    EXPECT_EQ(PathOf(manual), dir + "/Contents/Resources/manual.pdf");
    FSRef ref;
    ASSERT_TRUE(CFURLGetFSRef(manual, &ref));
    EXPECT_STREQ(ref.path, (dir + "/Contents/Resources/manual.pdf").c_str());
    EXPECT_EQ(CFBundleCopyResourceURL(bundle, CFSTR("missing"), CFSTR("pdf"), nullptr), nullptr);
    EXPECT_EQ(CFBundleCopyResourceURL(bundle, CFSTR(".."), nullptr, nullptr), nullptr);
    EXPECT_EQ(CFBundleCopyResourceURL(bundle, CFSTR("Info"), CFSTR("plist"), CFSTR("..")), nullptr);
    EXPECT_EQ(CFBundleCopyResourceURL(bundle, CFSTR("passwd"), nullptr, CFSTR("/etc")), nullptr);
    for (CFURLRef u : {exe, manual}) CFRelease(u);

    CFURLRef missing = URL("/nonexistent/kelvarin/manual.pdf", false);  // no file: no reference
    EXPECT_FALSE(CFURLGetFSRef(missing, &ref));
    CFRelease(missing);

    // The bundle's resource files join the chain, so string lists are found.
    const short map = CFBundleOpenBundleResourceMap(bundle);
    ASSERT_GT(map, 0);
    Str255 s;
    GetIndString(s, 17000, 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(s + 1), s[0]), "Kelvarin");
    CFBundleCloseBundleResourceMap(bundle, map);
    GetIndString(s, 17000, 1);
    EXPECT_EQ(s[0], 0);

    // A directory without an Info.plist makes a bundle without identity.
    std::filesystem::create_directories(tmp.path + "/bare");
    CFURLRef bareURL = URL(tmp.path + "/bare", true);
    CFBundleRef bareBundle = CFBundleCreate(nullptr, bareURL);
    ASSERT_NE(bareBundle, nullptr);
    EXPECT_TRUE(!CFBundleGetIdentifier(bareBundle) && !CFBundleCopyExecutableURL(bareBundle));
    CFRelease(bareBundle);
    CFRelease(bareURL);
    CFRelease(bundle);  // the registry keeps its own reference
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(id), bundle);
}

}  // namespace
