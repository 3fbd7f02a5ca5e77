#include "JobSettings.h"

#include "Options.h"

#include "Files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace fs = std::filesystem;

namespace {

constexpr const char *kPrefsName = "qzvel-Prefs";
constexpr const char *kProgram = "kelvarin-prefs";
// A job's private folder: this prefix, the owner's process id, '-', a
// random part.
constexpr std::string_view kFolderPrefix = "hyhost-settings-";

// Next to this program (the build tree's bin/ and an installation's alike),
// else whatever PATH finds.
std::string PrefsProgram() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        fs::path beside = self.parent_path() / kProgram;
        if (access(beside.c_str(), X_OK) == 0) return beside.string();
    }
    return kProgram;
}

std::string LastLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::size_t nl = text.rfind('\n');
    if (nl != std::string::npos) text.erase(0, nl + 1);
    const std::string prefix = std::string(kProgram) + ": ";
    if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
    return text;
}

// Both pipes drained together, so neither fills up and stalls the child.
void Drain(int outFd, int errFd, std::string &out, std::string &err) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string *into[2] = {&out, &err};
    int open = 2;
    char buf[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                into[i]->append(buf, std::size_t(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

bool IsJsonTarget(const std::string &path) {
    if (fs::path(path).extension() == ".json") return true;
    std::ifstream in(path);
    char c = 0;
    while (in.get(c))
        if (!std::isspace(static_cast<unsigned char>(c))) return c == '{';
    return false;
}

bool WriteWhole(const std::string &path, const std::string &bytes, std::string &error) {
    fs::path target = fs::absolute(path);
    fs::path temp = target.parent_path() / ("." + target.filename().string() + ".tmp-" + std::to_string(getpid()));
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << bytes;
        out.flush();
        if (!out) return error = "cannot write '" + path + "'", false;
    }
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        return error = "cannot replace '" + path + "'", false;
    }
    return true;
}

// The owner's process id in a private folder's name; 0 when there is none.
pid_t FolderOwner(std::string_view name) {
    if (name.substr(0, kFolderPrefix.size()) != kFolderPrefix) return 0;
    name.remove_prefix(kFolderPrefix.size());
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 9) return 0;
    pid_t pid = 0;
    for (char c : name.substr(0, dash)) {
        if (c < '0' || c > '9') return 0;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

// A job that was killed cannot remove its folder. A folder is left over
// when it is this user's, its owner's process is gone and nobody holds its
// lock; either check alone could misjudge a live job (a reused process id
// keeps a folder, one in another process namespace would lose it).
void RemoveLeftFolders() {
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    if (ec) return;
    DIR *d = opendir(temp.c_str());
    if (!d) return;
    std::vector<fs::path> left;
    while (const dirent *entry = readdir(d)) {
        const pid_t owner = FolderOwner(entry->d_name);
        if (owner <= 0 || kill(owner, 0) == 0 || errno != ESRCH) continue;
        const int fd = openat(dirfd(d), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st;
        if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && flock(fd, LOCK_EX | LOCK_NB) == 0)
            left.push_back(temp / entry->d_name);
        close(fd);
    }
    closedir(d);
    for (const fs::path &folder : left) fs::remove_all(folder, ec);
}

bool IsColourKey(std::string_view key) {
    return key == "color" || key == "frameStartColor" || key == "frameEndColor" || key.rfind("colors.", 0) == 0;
}

}  // namespace

std::string UserPrefsPath() {
    // The folder the plug-in's FindFolder finds, whether or not it exists yet.
    char folder[4096];
    if (!PlatformFolderPath(kPreferencesFolderType, folder, sizeof folder)) return {};
    return (fs::path(folder) / kPrefsName).string();
}

int RunPrefsProgram(const std::vector<std::string> &args, std::string &out, std::string &error) {
    const std::string program = PrefsProgram();
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return error = std::strerror(errno), -1;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]), close(outPipe[1]);
        return error = std::strerror(errno), -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    std::string err;
    if (rc == 0) Drain(outPipe[0], errPipe[0], out, err);
    close(outPipe[0]);
    close(errPipe[0]);
    if (rc != 0) {
        error = "cannot run " + std::string(kProgram) + " (needed for per-job settings): " + std::strerror(rc);
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    error = LastLine(err);
    if (!WIFEXITED(status)) return error = std::string(kProgram) + " ended abnormally", -1;
    if (WEXITSTATUS(status) == 127) return error = "cannot run " + std::string(kProgram), -1;
    return WEXITSTATUS(status);
}

bool TranslateSetting(const std::string &assignment, int width, int height, std::string &translated,
                      std::string &error) {
    const std::size_t eq = assignment.find('=');
    translated = assignment;
    if (eq == std::string::npos) {
        error = BadValue("--set", assignment, "KEY=VALUE", "rota=cw90");
        return false;
    }
    const std::string key = assignment.substr(0, eq), value = assignment.substr(eq + 1);
    std::string converted;
    if (IsColourKey(key) && value.find(',') == std::string::npos) {
        if (!ParseColourHex(value, converted)) {
            error =
                BadValue("--set", assignment, "a colour", key + "=red, " + key + "=#1E64C8 or " + key + "=0x1E64C8");
            return false;
        }
    } else if (key == "rect" && value.find(':') != std::string::npos) {
        if (!PixelRectToFractions(value, width, height, converted)) {
            error = BadValue(
                "--set", assignment,
                "X:Y:W:H in pixels inside the " + std::to_string(width) + "x" + std::to_string(height) + " frame",
                "rect=0:0:" + std::to_string(width / 2) + ":" + std::to_string(height / 2) +
                    " or rect=0.25,0.25,0.75,0.75");
            return false;
        }
    } else if (key == "rota") {
        int degrees = 0;
        if (!ParseTurn(value, degrees)) {
            error = BadValue("--set", assignment, "a turn (counter-clockwise as seen)", "rota=ccw90 or rota=cw90");
            return false;
        }
        converted = std::to_string(degrees);
    } else {
        return true;
    }
    translated = key + "=" + converted;
    return true;
}

JobSettings::~JobSettings() {
    if (folder_.empty()) return;
    if (hadXdg_)
        setenv("XDG_CONFIG_HOME", oldXdg_.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    std::error_code ec;
    fs::remove_all(folder_, ec);
    if (lock_ >= 0) close(lock_);
}

std::string JobSettings::PrefsPath() const {
    return folder_.empty() ? UserPrefsPath() : (fs::path(folder_) / kPrefsName).string();
}

bool JobSettings::MakeFolder(std::string &error) {
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    if (ec) return error = "no temporary folder: " + ec.message(), false;
    std::string pattern = (temp / (std::string(kFolderPrefix) + std::to_string(getpid()) + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
        return error = std::string("cannot make a temporary folder: ") + std::strerror(errno), false;
    folder_ = pattern;
    // Held for the job's life and let go by the system however the job
    // ends: a folder nobody holds belongs to no running job.
    lock_ = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock_ >= 0) flock(lock_, LOCK_EX | LOCK_NB);
    return true;
}

bool JobSettings::Prepare(const SettingsRequest &request, bool fromUsersFile, int width, int height, std::string &error,
                          int &status) {
    std::string out;
    status = 1;
    userPrefs_ = UserPrefsPath();
    RemoveLeftFolders();
    if (!request.Any() && !fromUsersFile) {
        // The user's file as it is, checked first; a missing checker is no
        // reason to stop, the plug-in copes with any file on its own.
        int rc = RunPrefsProgram({"check"}, out, error);
        if (rc > 0) return false;
        if (rc == 0 && !error.empty()) std::fprintf(stderr, "hyhost: %s\n", error.c_str());
        error.clear();
        return true;
    }
    std::vector<std::string> sets{"set"};
    for (const std::string &s : request.sets) {
        std::string translated;
        if (!TranslateSetting(s, width, height, translated, error)) return status = kExitBadArguments, false;
        sets.push_back(translated);
    }
    if (!MakeFolder(error)) return false;
    const std::string mine = PrefsPath();
    std::string base = request.file;
    std::error_code ec;
    if (base.empty() && fromUsersFile && fs::exists(userPrefs_, ec)) base = userPrefs_;
    if (base == userPrefs_) {
        // A damaged file of the user's is kept aside and the defaults used,
        // as a job without settings of its own would.
        if (RunPrefsProgram({"check"}, out, error) > 0) return false;
        if (!error.empty()) std::fprintf(stderr, "hyhost: %s\n", error.c_str());
        if (RunPrefsProgram({"--file", mine, "load", base}, out, error) != 0) error.clear();
    } else if (!base.empty() && RunPrefsProgram({"--file", mine, "load", base}, out, error) != 0) {
        error = "--settings: " + error;
        return false;
    }
    if (sets.size() > 1) {
        sets.insert(sets.begin(), {"--file", mine});
        int rc = RunPrefsProgram(sets, out, error);
        if (rc != 0) {
            status = rc == kExitBadArguments ? kExitBadArguments : 1;
            error = "--set: " + error;
            return false;
        }
    }
    const char *old = std::getenv("XDG_CONFIG_HOME");
    hadXdg_ = old != nullptr;
    if (old) oldXdg_ = old;
    setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
    return true;
}

bool JobSettings::SaveTo(const std::string &target, std::string &error) {
    std::string out;
    if (!target.empty() && IsJsonTarget(target)) {
        // Written whole under a temporary name, as the preferences file is.
        if (RunPrefsProgram({"--file", PrefsPath(), "show", "--json"}, out, error) != 0) return false;
        return WriteWhole(target, out, error);
    }
    return RunPrefsProgram({"--file", target.empty() ? userPrefs_ : target, "load", PrefsPath()}, out, error) == 0;
}
