// kelvarin-prefs: shows, sets and resets Kelvarin's remembered configuration
// with the plug-in's own storage code, so renders can be set up by script.
#include "KelvarinVersion.h"
#include "PrefsEdit.h"

#include "storage/prefsloader.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>

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
    if (!notice.empty() && !*show)
        std::cerr << "kelvarin-prefs: " << notice << (*set ? "; the fields not set here are the defaults" : "") << "\n";
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
                    if (!ApplySetting(*config, s, err)) return false;
            }
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
        return 1;
    }
    return 0;
} catch (const std::exception &e) {
    std::cerr << "kelvarin-prefs: " << e.what() << "\n";
    return 1;
}
