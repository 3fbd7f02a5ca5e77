// The JSON that `kelvarin-prefs show --json` prints, read back into a record.
#pragma once

#include "config/pascalFX.h"

#include <string>
#include <string_view>

// Applies every field the JSON object names, through the same assignments
// `kelvarin-prefs set` takes, so both accept and refuse the same values.
// The readable fields (rota, standard, color) give way to the raw ones
// (rotaCode, mediaType, colors) when both are present. Fields left out keep
// their value; "stored" is ignored. False with a one-line error.
bool ApplySettingsJson(pluginDataRec &config, std::string_view json, std::string &error);

// Whether text looks like JSON rather than a preferences file.
bool LooksLikeJson(std::string_view text);
