// A temporary Preferences folder for one test: XDG_CONFIG_HOME and HOME point
// into a fresh directory that is removed afterwards.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

class ScopedPrefsFolder {
public:
    ScopedPrefsFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvarin-test-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        std::filesystem::create_directories(root_ / "config");
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        setenv("HOME", root_.c_str(), 1);
    }
    ~ScopedPrefsFolder() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    ScopedPrefsFolder(const ScopedPrefsFolder &) = delete;
    ScopedPrefsFolder &operator=(const ScopedPrefsFolder &) = delete;

    std::filesystem::path Root() const { return root_; }
    std::filesystem::path Folder() const { return root_ / "config"; }
    std::filesystem::path PrefsFile() const { return Folder() / "qzvel-Prefs"; }

private:
    std::filesystem::path root_;
};
