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

struct CommandLine {
    std::string file;  // --file, else the user's own
    bool json = false;
    std::vector<std::string> settings;  // set's KEY=VALUE
    std::string source;                 // load's FILE
    CLI::App *show = nullptr, *set = nullptr, *reset = nullptr, *load = nullptr, *check = nullptr;
};

void AddCommands(CLI::App &app, CommandLine &c) {
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("kelvarin-prefs " KELVARIN_VERSION));
    const char *fileHelp = "Another preferences file instead of the user's own";
    app.add_option("--file", c.file, fileHelp);

    c.show = app.add_subcommand("show", "Print every field of the remembered configuration");
    c.show->add_flag("--json", c.json, "As JSON");
    c.set = app.add_subcommand("set", "Change fields and remember them");
    c.set->add_option("settings", c.settings, SettingsHelp())->required();
    c.reset = app.add_subcommand("reset", "Remember the default configuration");
    c.load = app.add_subcommand("load",
                                "Remember every field of FILE: the JSON of 'show --json' (fields left out are the "
                                "defaults) or another preferences file");
    c.load->add_option("FILE", c.source, "Settings JSON or preferences file")->required();
    c.check = app.add_subcommand(
        "check",
        "Say whether the preferences file can be used (a damaged one is kept aside and replaced by the "
        "defaults); exit 1 when it cannot");
    for (CLI::App *command : {c.show, c.set, c.reset, c.load, c.check}) command->add_option("--file", c.file, fileHelp);
}

// show: every field, as text or JSON; a damaged file is kept aside and said so.
bool Show(const CommandLine &c, pluginDataRec &config, const std::string &path, const std::string &real,
          const std::string &damage) {
    bool stored = ReadConfig(&config);
    if (c.json) {
        std::cout << DescribeConfigJson(config, stored);
    } else {
        std::cout << DescribeConfig(config);
        std::cout << "file       " << path << (stored ? "" : "   (no valid record: defaults shown)") << "\n";
    }
    if (!damage.empty())
        std::cerr << "kelvarin-prefs: the file is damaged: " << damage << "; defaults shown. A copy was kept as '"
                  << KeepDamagedPrefs(real) << "'; 'kelvarin-prefs reset' or 'set' writes a new file\n";
    return true;
}

// set, reset and load: the record changed from the defaults and written back.
bool Change(const CommandLine &c, pluginDataRec &config, const std::string &path, std::string &err, bool &badSetting) {
    if (*c.set) {
        ReadConfig(&config);
        for (const std::string &s : c.settings)
            if (!ApplySetting(config, WithTurnDirection(s), err)) return badSetting = true, false;
    }
    if (*c.load && !LoadInto(config, c.source, err)) return false;
    if (!SaveConfig(&config)) {
        const OSErr why = ResError();
        err = why == dskFulErr   ? "no space left on the device for the preferences file '" + path + "'"
              : why == wrPermErr ? "no permission to write the preferences file '" + path + "'"
                                 : "cannot write the preferences file '" + path + "'";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) try {
    CLI::App app{"Shows and changes the Kelvarin configuration that renders use (the preferences file)."};
    CommandLine c;
    AddCommands(app, c);
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
    const std::string real = c.file.empty() ? PreferencesPath() : std::filesystem::absolute(c.file).string();
    if (InspectPrefsFile(real, damage) != kPrefsDamaged) damage.clear();
    if (!CheckSettingsFile(real, notice, error)) {
        std::cerr << "kelvarin-prefs: " << error << "\n";
        return 1;
    }
    if (*c.check) {
        if (!notice.empty()) std::cerr << "kelvarin-prefs: " << notice << "\n";
        return 0;
    }
    if (!notice.empty() && !*c.show)
        std::cerr << "kelvarin-prefs: " << notice << (*c.set ? "; the fields not set here are the defaults" : "")
                  << "\n";
    bool badSetting = false;  // a KEY=VALUE that is not one: a bad argument
    bool ok = WithPreferencesFile(
        c.file,
        [&](const std::string &path, std::string &err) {
            ConfigBlock config = NewDefaultConfig();
            if (!config) return err = "out of memory", false;
            return *c.show ? Show(c, *config, path, real, damage) : Change(c, *config, path, err, badSetting);
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
