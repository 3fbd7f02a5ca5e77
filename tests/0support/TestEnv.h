// A temporary Preferences folder for one test: HOME and XDG_CONFIG_HOME point
// into a fresh folder (MakeScratchHome) that is removed afterwards.
#pragma once
#include <filesystem>
#include <system_error>

#include "CommandTest.h"

class ScopedPrefsFolder {
public:
    ScopedPrefsFolder() : root_(MakeScratchHome("kelvarin-test")) {}
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
