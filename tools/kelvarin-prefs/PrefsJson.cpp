#include "PrefsJson.h"

#include "PrefsEdit.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <set>

namespace {

using nlohmann::json;

std::string Number(const json &v) {
    if (v.is_number_integer()) return std::to_string(v.get<long long>());
    if (v.is_number_unsigned()) return std::to_string(v.get<unsigned long long>());
    return json(v.get<double>()).dump();
}

bool IsColour(const json &v) { return v.is_object() && v.contains("red") && v.contains("green") && v.contains("blue"); }

// One JSON value as the text of KEY=VALUE; false for a shape no key takes.
bool ValueText(const json &v, std::string &text) {
    if (v.is_boolean()) {
        text = v.get<bool>() ? "on" : "off";
    } else if (v.is_number()) {
        text = Number(v);
    } else if (v.is_string()) {
        text = v.get<std::string>();
    } else if (IsColour(v)) {
        if (!v["red"].is_number() || !v["green"].is_number() || !v["blue"].is_number()) return false;
        text = Number(v["red"]) + "," + Number(v["green"]) + "," + Number(v["blue"]);
    } else if (v.is_object() && v.size() == 4 && v.contains("left") && v.contains("right") && v.contains("top") &&
               v.contains("bottom")) {
        for (const char *side : {"left", "right", "top", "bottom"}) {
            if (!v[side].is_number()) return false;
            text += (text.empty() ? "" : ",") + Number(v[side]);
        }
    } else if (v.is_array()) {
        for (const json &item : v) {
            if (!item.is_number()) return false;
            text += (text.empty() ? "" : ",") + Number(item);
        }
    } else {
        return false;
    }
    return true;
}

bool ApplyField(pluginDataRec &config, const std::string &key, const json &v, std::string &error) {
    if (v.is_array() && !v.empty() && IsColour(v[0])) {
        // colors: one assignment per item, numbered from 1.
        for (std::size_t i = 0; i < v.size(); ++i) {
            std::string text;
            if (!ValueText(v[i], text)) return error = "bad value for " + key + " item " + std::to_string(i + 1), false;
            if (!ApplySetting(config, key + "." + std::to_string(i + 1) + "=" + text, error)) return false;
        }
        return true;
    }
    std::string text;
    if (!ValueText(v, text)) {
        error = "bad value " + v.dump() + " for " + key;
        return false;
    }
    return ApplySetting(config, key + "=" + text, error);
}

}  // namespace

bool LooksLikeJson(std::string_view text) {
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c))) return c == '{';
    return false;
}

bool ApplySettingsJson(pluginDataRec &config, std::string_view text, std::string &error) {
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        error = "not a JSON object like the one 'kelvarin-prefs show --json' prints";
        return false;
    }
    // What the readable fields are derived from: applied last, so they win.
    static const std::set<std::string> kRaw = {"startRel",        "endRel",        "sliders",   "colors",
                                               "frameStartColor", "frameEndColor", "mediaType", "rotaCode",
                                               "outside",         "clipActive",    "keepProps"};
    for (int pass = 0; pass < 2; ++pass)
        for (const auto &[key, value] : j.items()) {
            if (key == "stored" || (kRaw.count(key) != 0) != (pass == 1)) continue;
            if (!ApplyField(config, key, value, error)) return false;
        }
    return true;
}
