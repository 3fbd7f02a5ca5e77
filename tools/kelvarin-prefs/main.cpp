// kelvarin-prefs: shows, sets and resets Kelvarin's remembered configuration
// with the plug-in's own storage code, so renders can be set up by script.
// Exit status: 0 done, 1 failed, 2 bad arguments (a KEY=VALUE that is not one).
#include "KelvarinVersion.h"
#include "PrefsEdit.h"
#include "PrefsJson.h"

#include "storage/prefsloader.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

// The turn named with its direction, as hyhost takes it: ccw90 is rota=90
// (a quarter turn counter-clockwise as seen), cw90 is rota=270.
std::string WithTurnDirection(const std::string &setting) {
    const std::size_t eq = setting.find('=');
    if (eq == std::string::npos || setting.compare(0, eq, "rota") != 0) return setting;
    std::string value = setting.substr(eq + 1);
    if (value.rfind("ccw", 0) == 0) return "rota=" + value.substr(3);
    if (value.rfind("cw", 0) != 0) return setting;
    value.erase(0, 2);
    if (value == "90") return "rota=270";
    if (value == "270") return "rota=90";
    return "rota=" + value;
}

// FILE as `load` takes it: the JSON of `show --json` or a preferences file.
bool LoadInto(pluginDataRec &config, const std::string &file, std::string &error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return error = "cannot read '" + file + "'", false;
    std::ostringstream text;
    text << in.rdbuf();
    if (LooksLikeJson(text.str())) {
        if (ApplySettingsJson(config, text.str(), error)) return true;
        error = "'" + file + "': " + error;
        return false;
    }
    std::string detail;
    if (InspectPrefsFile(std::filesystem::absolute(file).string(), detail) != kPrefsValid)
        return error = "'" + file + "' is neither settings JSON nor a preferences file with settings", false;
    return WithPreferencesFile(
        file, [&](const std::string &, std::string &) { return bool(ReadConfig(&config)); }, error);
}

}  // namespace

int main(int argc, char **argv) try {
    CLI::App app{"Shows and changes the Kelvarin configuration that renders use (the preferences file)."};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("kelvarin-prefs " KELVARIN_VERSION));
    std::string file;
    app.add_option("--file", file, "Another preferences file instead of the user's own");

    bool json = false;
    auto *show = app.add_subcommand("show", "Print every field of the remembered configuration");
    show->add_flag("--json", json, "As JSON");
    show->add_option("--file", file, "Another preferences file instead of the user's own");

    std::vector<std::string> settings;
    auto *set = app.add_subcommand("set", "Change fields and remember them");
    set->add_option("settings", settings, SettingsHelp())->required();
    set->add_option("--file", file, "Another preferences file instead of the user's own");

    auto *reset = app.add_subcommand("reset", "Remember the default configuration");
    reset->add_option("--file", file, "Another preferences file instead of the user's own");

    std::string source;
    auto *load =
        app.add_subcommand("load",
                           "Remember every field of FILE: the JSON of 'show --json' (fields left out are the defaults) "
                           "or another preferences file");
    load->add_option("FILE", source, "Settings JSON or preferences file")->required();
    load->add_option("--file", file, "Another preferences file instead of the user's own");

    auto *check = app.add_subcommand(
        "check",
        "Say whether the preferences file can be used (a damaged one is kept aside and replaced by the "
        "defaults); exit 1 when it cannot");
    check->add_option("--file", file, "Another preferences file instead of the user's own");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::cerr << "kelvarin-prefs: " << e.what() << " (see kelvarin-prefs --help)\n";
        return 2;
    }

    std::string error, notice, damage;
    // The file as it stands: something that is not a file is refused, a
    // damaged one is kept beside it before anything replaces it.
    const std::string real = file.empty() ? PreferencesPath() : std::filesystem::absolute(file).string();
    if (InspectPrefsFile(real, damage) != kPrefsDamaged) damage.clear();
    if (!CheckSettingsFile(real, notice, error)) {
        std::cerr << "kelvarin-prefs: " << error << "\n";
        return 1;
    }
    if (*check) {
        if (!notice.empty()) std::cerr << "kelvarin-prefs: " << notice << "\n";
        return 0;
    }
    if (!notice.empty() && !*show)
        std::cerr << "kelvarin-prefs: " << notice << (*set ? "; the fields not set here are the defaults" : "") << "\n";
    bool badSetting = false;  // a KEY=VALUE that is not one: a bad argument
    bool ok = WithPreferencesFile(
        file,
        [&](const std::string &path, std::string &err) {
            ConfigBlock config = NewDefaultConfig();
            if (!config) {
                err = "out of memory";
                return false;
            }
            if (*show) {
                bool stored = ReadConfig(config.get());
                if (json) {
                    std::cout << DescribeConfigJson(*config, stored);
                } else {
                    std::cout << DescribeConfig(*config);
                    std::cout << "file       " << path << (stored ? "" : "   (no valid record: defaults shown)")
                              << "\n";
                }
                if (!damage.empty())
                    std::cerr << "kelvarin-prefs: the file is damaged: " << damage
                              << "; defaults shown. A copy was kept as '" << KeepDamagedPrefs(real)
                              << "'; 'kelvarin-prefs reset' or 'set' writes a new file\n";
                return true;
            }
            if (*set) {
                ReadConfig(config.get());
                for (const std::string &s : settings)
                    if (!ApplySetting(*config, WithTurnDirection(s), err)) return badSetting = true, false;
            }
            if (*load && !LoadInto(*config, source, err)) return false;
            if (!SaveConfig(config.get())) {
                const OSErr why = ResError();
                err = why == dskFulErr   ? "no space left on the device for the preferences file '" + path + "'"
                      : why == wrPermErr ? "no permission to write the preferences file '" + path + "'"
                                         : "cannot write the preferences file '" + path + "'";
                return false;
            }
            return true;
        },
        error);
    if (!ok) {
        std::cerr << "kelvarin-prefs: " << error << "\n";
        return badSetting ? 2 : 1;
    }
    return 0;
} catch (const std::exception &e) {
    std::cerr << "kelvarin-prefs: " << e.what() << "\n";
    return 1;
}
