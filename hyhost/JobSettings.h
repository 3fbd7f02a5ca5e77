// The plug-in's settings for one job. The plug-in reads and writes its
// settings in the Preferences folder; a job with its own settings (--set,
// --settings) gets a private folder, filled by the kelvarin-prefs program,
// so the user's remembered settings are neither read nor changed and
// several jobs with different settings can run at once. hyhost reaches the
// plug-in's storage only through that program, never by linking its code.
#pragma once

#include <string>
#include <vector>

struct SettingsRequest {
    std::vector<std::string> sets;  // KEY=VALUE as kelvarin-prefs set takes them, plus hyhost's units
    std::string file;               // a preferences file or the JSON of kelvarin-prefs show --json
    bool Any() const { return !sets.empty() || !file.empty(); }
};

class JobSettings {
public:
    JobSettings() = default;
    ~JobSettings();  // removes the private folder and points the Preferences folder back
    JobSettings(const JobSettings &) = delete;
    JobSettings &operator=(const JobSettings &) = delete;

    // Without settings of its own the job uses the user's file, which is
    // checked first (a damaged one is kept aside). With them, the private
    // folder starts from the file given, else from the user's file when
    // fromUsersFile, else from the defaults, and then takes the --set
    // values; pixel rectangles are for a frame of width x height. False
    // with a one-line error and the exit status (2: a bad value).
    bool Prepare(const SettingsRequest &request, bool fromUsersFile, int width, int height, std::string &error,
                 int &status);

    // The preferences file the plug-in uses in this job.
    std::string PrefsPath() const;
    bool IsPrivate() const { return !folder_.empty(); }
    // The user's own file, as it was before the job's folder took its place.
    const std::string &UsersPrefsPath() const { return userPrefs_; }

    // The private file's settings into target (the user's file when empty;
    // JSON when the target holds JSON or is named *.json).
    bool SaveTo(const std::string &target, std::string &error);

private:
    // The private folder, named with this process's id and locked while the
    // job runs, so that a later job can tell it from a killed job's.
    bool MakeFolder(std::string &error);

    std::string folder_;
    int lock_ = -1;          // the folder, locked while the job runs
    std::string userPrefs_;  // as it was before the job's folder replaced it
    std::string oldXdg_;
    bool hadXdg_ = false;
};

// The user's own preferences file.
std::string UserPrefsPath();

// Runs kelvarin-prefs (next to this program, else on PATH) with args; its
// standard output in out, its last line of errors (without the program's
// name) in error. The exit status, or -1 when it could not run.
int RunPrefsProgram(const std::vector<std::string> &args, std::string &out, std::string &error);

// A --set assignment in hyhost's units turned into kelvarin-prefs' syntax:
// colours by name or 0xRRGGBB, rect=x:y:w:h in pixels of width x height,
// turns with their direction (ccw90, cw90). False with a one-line error.
bool TranslateSetting(const std::string &assignment, int width, int height, std::string &translated,
                      std::string &error);
