// The rez program: output on success, nothing but a located message on error.
#include "files_test_util.h"

#include "MacTypes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

// Runs rez: its exit status, and what it printed on either output.
int RunRez(const std::string &args, std::string *printed = nullptr) {
    TempDir log;
    const int status = std::system((std::string(REZ_PROGRAM) + " " + args + " >" + log.path + "/out 2>&1").c_str());
    const Bytes out = ReadFileBytes(log.path + "/out");
    if (printed) printed->assign(out.begin(), out.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void WriteText(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

TEST(RezTool, WritesAResourceFileOrNothing) {
    TempDir tmp;
    const std::string in = tmp.path + "/kelvarin.r", out = tmp.path + "/kelvarin.rsrc", bad = tmp.path + "/bad.r";
    WriteText(in,
              "resource 'STR#' (17000, \"Group name\") { \"Kelvarin\" };\n"
              "resource 'STR#' (130) { \"Settings\\xC9\" };\n");
    WriteText(bad, "resource 'STR#' (1) {\n  \"fine\",\n  \"bad \\q\"\n};\n");
    std::string printed;
    ASSERT_EQ(RunRez(in + " -o " + out, &printed), 0) << printed;
    const Bytes written = ReadFileBytes(out);
    EXPECT_EQ(written,
              Fork({{PLATFORM_FOURCC('S', 'T', 'R', '#'), 17000, 0, true, "Group name", StringList({"Kelvarin"})},
                    {PLATFORM_FOURCC('S', 'T', 'R', '#'), 130, 0, false, "", StringList({"Settings\xC9"})}}));

    // An error keeps the earlier output untouched and names the place.
    EXPECT_EQ(RunRez(bad + " -o " + out, &printed), 1);
    EXPECT_NE(printed.find(bad + ":3:"), std::string::npos) << printed;
    EXPECT_EQ(ReadFileBytes(out), written);

    // Exit status: 0 done, 1 failed (source, input, output), 2 bad arguments; a new file only when done.
    const std::string fresh = tmp.path + "/fresh.rsrc";
    for (auto [args, status] : {std::pair{std::string(), 2},
                                {in, 2},
                                {in + " -o " + fresh + " --bogus", 2},
                                {bad + " -o " + fresh, 1},
                                {tmp.path + "/missing.r -o " + fresh, 1},
                                {in + " -o " + tmp.path + "/no/such/dir/x.rsrc", 1},
                                {"--help", 0}}) {
        EXPECT_EQ(RunRez(args, &printed), status) << "rez " << args;
        EXPECT_FALSE(std::filesystem::exists(fresh)) << "rez " << args;
    }
    ASSERT_EQ(RunRez("--version", &printed), 0);
    EXPECT_TRUE(printed.rfind("rez ", 0) == 0 && printed.size() > 5) << printed;
}

}  // namespace
