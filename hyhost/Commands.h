// The hyhost commands other than render. Each returns the process's exit
// status and prints one line to standard error when it fails.
#pragma once

#include "JobSettings.h"
#include "Options.h"

#include <cstdint>
#include <string>

int CommandInfo(const std::string &plugin, bool json);
// at: a time or a frame ("120f") of the clip.
int CommandPlaceholder(const std::string &input, const std::string &output, const std::string &at,
                       const std::string &plugin, const SizeRequest &size, const SettingsRequest &settings);
// Without settings.file, the dialog starts from the remembered settings and
// OK saves into them; with it, from that file and into it.
int CommandConfigure(const std::string &input, const std::string &at, const SettingsRequest &settings,
                     const std::string &plugin);
int CommandDemo(const std::string &dir, const std::string &plugin);

// Called by configure once the application object exists, before the
// dialog opens (tests drive the dialog from there).
void SetConfigureStartHook(void (*hook)());

// Prints "hyhost: <text>" on standard error and returns status.
int Fail(const std::string &text, int status = 1);
