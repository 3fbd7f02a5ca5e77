// File Manager: folders known by number, and file specifications.
#include "files/FilesPrivate.h"
#include "corefoundation/MacRoman.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <sys/stat.h>

namespace {

// Directory IDs handed out by FindFolder: kFirstDirID + index into the table.
constexpr SInt32 kFirstDirID = 1000;
constexpr short kSystemVRefNum = -1;

std::mutex gFolderLock;
std::vector<std::string> &Folders() {
    static auto *folders = new std::vector<std::string>;
    return *folders;
}

SInt32 DirIDForPath(const std::string &path) {
    std::lock_guard guard(gFolderLock);
    auto &folders = Folders();
    for (size_t i = 0; i < folders.size(); ++i)
        if (folders[i] == path) return kFirstDirID + static_cast<SInt32>(i);
    folders.push_back(path);
    return kFirstDirID + static_cast<SInt32>(folders.size() - 1);
}

std::optional<std::string> PathForDirID(SInt32 dirID) {
    std::lock_guard guard(gFolderLock);
    auto &folders = Folders();
    if (dirID < kFirstDirID || static_cast<size_t>(dirID - kFirstDirID) >= folders.size()) return std::nullopt;
    return folders[dirID - kFirstDirID];
}

std::string Env(const char *name) {
    const char *v = std::getenv(name);
    return v ? v : "";
}

// Where a folder type lives on this system; empty when unknown.
std::string FolderPath(OSType folderType) {
    if (folderType == kPreferencesFolderType) {
        // XDG base directories: a relative XDG_CONFIG_HOME is to be ignored.
        std::string xdg = Env("XDG_CONFIG_HOME");
        if (!xdg.empty() && xdg.front() == '/') return xdg;
        std::string home = Env("HOME");
        if (!home.empty()) return home + "/.config";
        return "";
    }
    if (folderType == PLATFORM_FOURCC('t', 'e', 'm', 'p')) {
        std::string tmp = Env("TMPDIR");
        return !tmp.empty() && tmp.front() == '/' ? tmp : "/tmp";
    }
    return "";
}

bool IsDirectory(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates the folder and any missing parents.
bool MakeFolders(const std::string &path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return IsDirectory(path);
}

// A single file name: no separators, nothing that walks out of the folder.
bool ValidName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

}  // namespace

Boolean PlatformFolderPath(OSType folderType, char *buf, size_t bufSize) {
    const std::string path = FolderPath(folderType);
    if (path.empty() || !buf || path.size() >= bufSize) return false;
    std::memcpy(buf, path.c_str(), path.size() + 1);
    return true;
}

std::optional<std::string> FSSpecPath(const FSSpec &fileSpec) {
    auto dir = PathForDirID(fileSpec.parID);
    const size_t length = fileSpec.name[0] < sizeof fileSpec.name ? fileSpec.name[0] : sizeof fileSpec.name - 1;
    const std::string_view name(reinterpret_cast<const char *>(fileSpec.name + 1), length);
    if (!dir || !ValidName(name)) return std::nullopt;
    return *dir + "/" + macroman::ToUTF8(name);
}

extern "C" {

PLATFORM_API OSErr FindFolder(short, OSType folderType, Boolean createFolder, short *foundVRefNum, SInt32 *foundDirID) {
    try {
        const std::string path = FolderPath(folderType);
        if (path.empty()) return fnfErr;
        if (!IsDirectory(path) && !(createFolder && MakeFolders(path))) return fnfErr;
        if (foundVRefNum) *foundVRefNum = kSystemVRefNum;
        if (foundDirID) *foundDirID = DirIDForPath(path);
        return noErr;
    } catch (...) {
        return memFullErr;
    }
}

PLATFORM_API OSErr FSMakeFSSpec(short vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec *fileSpec) {
    if (!fileName || !fileSpec) return paramErr;
    try {
        const std::string_view name(reinterpret_cast<const char *>(fileName + 1), fileName[0]);
        if (!ValidName(name) || name.size() >= sizeof fileSpec->name) return bdNamErr;
        if (!PathForDirID(dirID)) return dirNFErr;
        std::memset(fileSpec, 0, sizeof *fileSpec);
        fileSpec->vRefNum = vRefNum;
        fileSpec->parID = dirID;
        std::memcpy(fileSpec->name, fileName, name.size() + 1);
        auto path = FSSpecPath(*fileSpec);
        if (!path) return bdNamErr;
        struct stat st;
        return ::stat(path->c_str(), &st) == 0 ? noErr : fnfErr;
    } catch (...) {
        return memFullErr;
    }
}

PLATFORM_API Boolean FSSpecGetPath(const FSSpec *fileSpec, char *buf, size_t bufSize) {
    if (!fileSpec || !buf) return false;
    try {
        auto path = FSSpecPath(*fileSpec);
        if (!path || path->size() >= bufSize) return false;
        std::memcpy(buf, path->c_str(), path->size() + 1);
        return true;
    } catch (...) {
        return false;
    }
}

}  // extern "C"
