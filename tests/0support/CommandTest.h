// Running the real programs as a user would: a shell command with its
// status and output captured, and a fixture that gives each test a
// temporary HOME so no run ever reads or writes the user's own settings.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

struct CommandResult {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string out, err;
};

std::string Slurp(const std::filesystem::path &file);
// Quotes text as one word for sh.
std::string Quote(const std::string &text);

// Runs `cmd` with sh, capturing both outputs; a positive timeout kills it
// after that many seconds.
CommandResult RunCommand(const std::string &cmd, int timeoutSeconds = 0);

// A fresh folder /tmp/<name>-XXXXXX with HOME, XDG_CONFIG_HOME (its
// "config", created) and XDG_DATA_HOME (its "data") pointing into it;
// empty if it cannot be made.
std::filesystem::path MakeScratchHome(const std::string &name);

class ScratchHomeTest : public ::testing::Test {
protected:
    std::filesystem::path dir;

    void SetUp() override;
    void TearDown() override;
    // Files in the folder other than the ones named (folders aside).
    std::vector<std::string> Strays(std::initializer_list<std::string> keep) const;
};
