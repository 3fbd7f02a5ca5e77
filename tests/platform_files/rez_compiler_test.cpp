// The rez source language.
#include "files_test_util.h"

#include "RezCompiler.h"
#include "MacTypes.h"

#include <gtest/gtest.h>

namespace {

TEST(RezCompiler, CompilesStringListsAndHexData) {
    const char *source = R"(// the plug-in's texts
/* a block
   comment */
resource 'STR#' (128, "Slider names") {
    "First text",
    "Café \"quoted\" back\\slash",   // UTF-8 e-acute becomes MacRoman 0x8E
    "tab\there" "joined\n\x41",
};
resource 'STR#' (-2) { };
resource 'TYPE' (129) $"0102 A0ff" $"7F";
)";
    RezResult r = CompileRez(source, "in.r");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(Fields(r.map.resources),
              Fields({{PLATFORM_FOURCC('S', 'T', 'R', '#'), 128, 0, true, "Slider names",
                       StringList({"First text", "Caf\x8E \"quoted\" back\\slash", "tab\therejoined\nA"})},
                      {PLATFORM_FOURCC('S', 'T', 'R', '#'), -2, 0, false, "", {0, 0}},
                      {PLATFORM_FOURCC('T', 'Y', 'P', 'E'), 129, 0, false, "", {0x01, 0x02, 0xA0, 0xFF, 0x7F}}}));

    // The longest item that fits a length byte.
    std::string longest = "resource 'STR#' (1) { \"" + std::string(255, 'x') + "\" };";
    EXPECT_TRUE(CompileRez(longest, "x.r").ok);
}

TEST(RezCompiler, ErrorsNameTheFileAndLine) {
    struct Case {
        std::string source;
        int line;
        const char *mentions;
    } cases[] = {
        {"resource 'STR#' (1) { \"" + std::string(256, 'x') + "\" };", 1, "256 bytes"},
        {"\n\nresource 'STR#' (1) { \"snow \xE2\x98\x83\" };", 3, "MacRoman"},
        {"resource 'STR#' (1) {\n \"a\",\n \"unterminated\n};", 3, "unterminated"},
        {"resource 'STR#' (1) { \"\\x4\" };", 1, "hex digits"},
        {"resource 'STR#' (1) { \"a\" }\nresource 'STR#' (2) { };", 2, "';'"},
        {"resource 'STR#' (1) { };\n\nresource 'STR#' (1) { };", 3, "twice"},
        {"resource 'abcd' (40000) $\"00\";", 1, "out of range"},
        {"resource 'abcd' (1) $\"012\";", 1, "odd number"},
        {"resource 'abcd' (1) { \"text\" };", 1, "only 'STR#'"},
        {"/* never closed\n\n", 1, "comment"},
        {"resource 'STR#' (1, \"name\" { };", 1, "')'"},
    };
    for (const Case &c : cases) {
        RezResult r = CompileRez(c.source, "src/kelvarin.r");
        EXPECT_FALSE(r.ok) << c.source;
        EXPECT_EQ(r.error.rfind("src/kelvarin.r:" + std::to_string(c.line) + ": ", 0), 0u) << r.error;
        EXPECT_NE(r.error.find(c.mentions), std::string::npos) << r.error;
    }
}

}  // namespace
