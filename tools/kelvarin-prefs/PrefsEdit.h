// Reading, changing and writing the remembered Kelvarin configuration with
// the plug-in's own storage code, for kelvarin-prefs and hyhost.
#pragma once

#include "config/pascalFX.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct ConfigBlockFree {
    void operator()(pluginDataRec *p) const;
};
// A record allocated with the plug-in's record size, like the plug-in does.
using ConfigBlock = std::unique_ptr<pluginDataRec, ConfigBlockFree>;

// A record holding the defaults.
ConfigBlock NewDefaultConfig();

// Runs work on the preferences file: the user's own when file is empty,
// else the file given (through a private Preferences folder whose result is
// copied back whole, under a temporary name, only when work returns true
// and changed it). False with a one-line error on failure.
bool WithPreferencesFile(const std::string &file,
                         const std::function<bool(const std::string &prefsPath, std::string &error)> &work,
                         std::string &error);

// Before a program uses the settings file at path: false with a one-line
// error when it cannot be used at all (a FIFO or folder at its name, no
// permission); a damaged file is kept beside it and notice says so.
bool CheckSettingsFile(const std::string &path, std::string &notice, std::string &error);

// The preferences file's path in the current Preferences folder.
std::string PreferencesPath();

// KEY=VALUE as kelvarin-prefs takes it: rect=L,T,R,B rota=0|90|180|270
// color=#RRGGBB outside=on|off clip=on|off standard=ntsc|pal|hd, and the raw
// record fields (startRel=L,R,T,B, startRel.left=..., sliders=a,..,f,
// sliders.N=v, colors.N=#RRGGBB or r,g,b, frameStartColor, frameEndColor,
// mediaType=N, keepProps, outside, clipActive, rotaCode=N).
bool ApplySetting(pluginDataRec &config, std::string_view assignment, std::string &error);

// The keys ApplySetting takes, each with the form of its value, on one line.
std::string SettingsHelp();

// Every field, readable (one per line) or as JSON.
std::string DescribeConfig(const pluginDataRec &config);
std::string DescribeConfigJson(const pluginDataRec &config, bool stored);
