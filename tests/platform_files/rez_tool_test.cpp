// The rez program: output on success, nothing but a located message on error.
#include "files_test_util.h"

#include "files/ResourceFork.h"
#include "MacTypes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

int RunRez(const std::string &args, std::string *errors, std::string *output = nullptr) {
    TempDir log;
    const std::string errFile = log.path + "/stderr", outFile = log.path + "/stdout";
    const int status = std::system((std::string(REZ_PROGRAM) + " " + args + " >" + outFile + " 2>" + errFile).c_str());
    const Bytes err = ReadFileBytes(errFile), out = ReadFileBytes(outFile);
    if (errors) errors->assign(err.begin(), err.end());
    if (output) output->assign(out.begin(), out.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void WriteText(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

TEST(RezTool, WritesAResourceFileOrNothing) {
    TempDir tmp;
    const std::string in = tmp.path + "/kelvarin.r", out = tmp.path + "/kelvarin.rsrc";
    WriteText(in,
              "resource 'STR#' (17000, \"Group name\") { \"Kelvarin\" };\n"
              "resource 'STR#' (130) { \"Settings\\xC9\" };\n");
    std::string err;
    ASSERT_EQ(RunRez(in + " -o " + out, &err), 0) << err;
    EXPECT_EQ(ReadFileBytes(out),
              Fork({{PLATFORM_FOURCC('S', 'T', 'R', '#'), 17000, 0, true, "Group name", StringList({"Kelvarin"})},
                    {PLATFORM_FOURCC('S', 'T', 'R', '#'), 130, 0, false, "", StringList({"Settings\xC9"})}}));

    // An error keeps the earlier output untouched and names the place.
    const Bytes before = ReadFileBytes(out);
    WriteText(in, "resource 'STR#' (1) {\n  \"fine\",\n  \"bad \\q\"\n};\n");
    EXPECT_EQ(RunRez(in + " -o " + out, &err), 1);
    EXPECT_NE(err.find(in + ":3:"), std::string::npos) << err;
    EXPECT_EQ(ReadFileBytes(out), before);

    const std::string fresh = tmp.path + "/fresh.rsrc";
    EXPECT_EQ(RunRez(in + " -o " + fresh, nullptr), 1);
    EXPECT_FALSE(std::filesystem::exists(fresh));
    EXPECT_EQ(RunRez(tmp.path + "/missing.r -o " + fresh, &err), 1);
    EXPECT_NE(err.find("missing.r"), std::string::npos);
}

// Exit status: 0 done, 1 failed (source, input, output), 2 bad arguments.
TEST(RezTool, ExitStatusSaysWhatWentWrong) {
    TempDir tmp;
    const std::string in = tmp.path + "/ok.r";
    WriteText(in, "resource 'STR#' (128) { \"a\" };\n");
    const struct {
        std::string args;
        int status;
    } rows[] = {
        {"", 2},                                     // nothing given
        {in, 2},                                     // no output named
        {in + " -o " + tmp.path + "/x --bogus", 2},  // unknown option
        {in + " -o " + tmp.path + "/no/such/dir/x.rsrc", 1},
        {in + " -o " + tmp.path + "/written.rsrc", 0},
        {"--help", 0},
    };
    for (const auto &row : rows) EXPECT_EQ(RunRez(row.args, nullptr), row.status) << "rez " << row.args;

    std::string out;
    ASSERT_EQ(RunRez("--version", nullptr, &out), 0);
    EXPECT_TRUE(out.rfind("rez ", 0) == 0 && out.size() > 5) << out;
}

}  // namespace
