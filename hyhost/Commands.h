// The hyhost commands other than render. Each returns the process's exit
// status and prints one line to standard error when it fails.
#pragma once

#include <cstdint>
#include <string>

int CommandInfo(const std::string &plugin, bool json);
int CommandPlaceholder(const std::string &input, const std::string &output, int64_t at, const std::string &plugin,
                       int width, int height);
int CommandConfigure(const std::string &input, int64_t at, const std::string &standard, const std::string &plugin);
int CommandDemo(const std::string &dir, const std::string &plugin);

// Called by configure once the application object exists, before the
// dialog opens (tests drive the dialog from there).
void SetConfigureStartHook(void (*hook)());

// Prints "hyhost: <text>" on standard error and returns status.
int Fail(const std::string &text, int status = 1);
