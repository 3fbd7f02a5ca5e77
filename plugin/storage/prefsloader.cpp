#include "storage/prefsloader.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "support/commonprocs.h"

namespace {

constexpr unsigned char kMiscString[] = "Config save for qmz iMovie plug-in";

// Field copies at fixed offsets, in native byte order.
template <typename T>
void Put(unsigned char *rec, UInt32 offset, const T &value) {
    std::memcpy(rec + offset, &value, sizeof(T));
}
template <typename T>
void Get(const unsigned char *rec, UInt32 offset, T &value) {
    std::memcpy(&value, rec + offset, sizeof(T));
}

bool HandleHolds(Handle h, Size bytes) { return h != nullptr && *h != nullptr && GetHandleSize(h) >= bytes; }

// The preferences file's fileSpec; fnfErr when it does not exist yet.
OSErr PrefsSpec(FSSpec *fileSpec) {
    short vRefNum = 0;
    SInt32 dirID = 0;
    OSErr err = FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRefNum, &dirID);
    if (err != noErr) return err;
    Str255 name;
    CToPStr(kPrefFileName, name);
    return FSMakeFSSpec(vRefNum, dirID, name, fileSpec);
}

// Opens the file's resources and makes them current; -1 on failure.
short OpenPrefs(const FSSpec &fileSpec) {
    const short refNum = FSpOpenResFile(&fileSpec, fsCurPerm);
    if (refNum == -1 || ResError() != noErr) return -1;
    UseResFile(refNum);
    return refNum;
}

// Closes the file and hands the current resource file back to the caller's.
// ResError afterwards still tells why a failed write failed.
OSErr ClosePrefs(short refNum, short previous) {
    if (previous != refNum && previous != -1) UseResFile(previous);
    CloseResFile(refNum);
    return ResError();
}

// Errors of opening a file that exists but is not a resource file at all.
bool IsDamage(OSErr err) { return err == mapReadErr || err == eofErr; }

// Why the record (the resource's bytes) is not valid; "" when it is.
std::string RecordFault(const unsigned char *rec, Size size) {
    if (size < Size(kConfigSaveSize))
        return "its record is " + std::to_string(size) + " bytes long, not " + std::to_string(kConfigSaveSize);
    UInt32 bytes = 0, version = 0;
    Get(rec, kSaveOffSizeInBytes, bytes);
    Get(rec, kSaveOffVersion, version);
    if (bytes == __builtin_bswap32(kConfigSaveSize))
        return "its record was written by a machine of the other byte order";
    if (bytes != kConfigSaveSize) return "its record gives its size as " + std::to_string(bytes);
    if (version != kConfigSaveVersion) return "its record is version " + std::to_string(version) + ", not 3";
    return "";
}

std::string SpecPath(const FSSpec &fileSpec) {
    char path[4096];
    return FSSpecGetPath(&fileSpec, path, sizeof path) ? std::string(path) : std::string();
}

std::vector<char> FileBytes(const std::string &path, bool &ok) {
    std::vector<char> bytes;
    ok = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return bytes;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char buf[65536];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) bytes.insert(bytes.end(), buf, buf + n);
        ok = n == 0;
    }
    ::close(fd);
    return bytes;
}

// The record's bytes equal a handle's, and its name is ours: saving would
// write the same file again.
bool SameRecord(Handle old, Handle data) {
    if (GetHandleSize(old) != GetHandleSize(data) || std::memcmp(*old, *data, GetHandleSize(data)) != 0) return false;
    short id = 0;
    ResType type = 0;
    Str255 name;
    GetResInfo(old, &id, &type, name);
    return name[0] == 15 && std::memcmp(name + 1, "Config Settings", 15) == 0;
}

}  // namespace

Boolean Config2Save(pluginDataPtr theConfig, Handle theSaveConfig) {
    if (theConfig == nullptr || theSaveConfig == nullptr) return false;
    if (!HandleHolds(theSaveConfig, kConfigSaveSize)) return false;  // never write past the block
    auto *rec = reinterpret_cast<unsigned char *>(*theSaveConfig);
    Put(rec, kSaveOffSizeInBytes, static_cast<UInt32>(kConfigSaveSize));
    Put(rec, kSaveOffVersion, static_cast<UInt32>(kConfigSaveVersion));
    Put(rec, kSaveOffStartRel, theConfig->startRel);
    Put(rec, kSaveOffEndRel, theConfig->endRel);
    Put(rec, kSaveOffColors, theConfig->colors);
    Put(rec, kSaveOffSliders, theConfig->sliders);
    Put(rec, kSaveOffFrameStartColor, theConfig->frameStartColor);
    Put(rec, kSaveOffFrameEndColor, theConfig->frameEndColor);
    Put(rec, kSaveOffMediaType, theConfig->mediaType);
    Put(rec, kSaveOffKeepProps, theConfig->keepProps);
    Put(rec, kSaveOffRota, theConfig->rota);
    Put(rec, kSaveOffClipActive, theConfig->clipActive);
    Put(rec, kSaveOffOutside, theConfig->outside);
    // The banner, then zeros to the end of the record.
    std::memset(rec + kSaveOffMiscString, 0, kConfigSaveSize - kSaveOffMiscString);
    rec[kSaveOffMiscString] = static_cast<unsigned char>(sizeof kMiscString - 1);
    std::memcpy(rec + kSaveOffMiscString + 1, kMiscString, sizeof kMiscString - 1);
    return true;
}

Boolean Save2Config(pluginDataPtr theConfig, Handle theSaveConfig) {
    if (theConfig == nullptr || theSaveConfig == nullptr) return false;
    // A shorter block is not a record; a longer one is read up to 396 bytes.
    if (!HandleHolds(theSaveConfig, kConfigSaveSize)) return false;
    const auto *rec = reinterpret_cast<const unsigned char *>(*theSaveConfig);
    UInt32 size = 0, version = 0;
    Get(rec, kSaveOffSizeInBytes, size);
    Get(rec, kSaveOffVersion, version);
    if (size != kConfigSaveSize || version != kConfigSaveVersion) return false;
    Get(rec, kSaveOffStartRel, theConfig->startRel);
    Get(rec, kSaveOffEndRel, theConfig->endRel);
    Get(rec, kSaveOffColors, theConfig->colors);
    Get(rec, kSaveOffSliders, theConfig->sliders);
    Get(rec, kSaveOffFrameStartColor, theConfig->frameStartColor);
    Get(rec, kSaveOffFrameEndColor, theConfig->frameEndColor);
    Get(rec, kSaveOffMediaType, theConfig->mediaType);
    Get(rec, kSaveOffKeepProps, theConfig->keepProps);
    Get(rec, kSaveOffRota, theConfig->rota);
    Get(rec, kSaveOffOutside, theConfig->outside);
    Get(rec, kSaveOffClipActive, theConfig->clipActive);
    return true;
}

Boolean SaveConfig(pluginDataPtr theConfig) {
    if (theConfig == nullptr) return false;
    FSSpec fileSpec;
    std::memset(&fileSpec, 0, sizeof fileSpec);
    OSErr err = PrefsSpec(&fileSpec);
    if (err == fnfErr) {
        FSpCreateResFile(&fileSpec, kPrefCreator, kPrefResType, smSystemScript);
        // Another process may have made it meanwhile; then it is used.
        if (ResError() != noErr && ResError() != dupFNErr) return false;
    } else if (err != noErr) {
        return false;
    }
    const short previous = CurResFile();
    short refNum = OpenPrefs(fileSpec);
    if (refNum == -1 && IsDamage(ResError())) {
        // Not a resource file: kept beside it, then started afresh.
        const std::string path = SpecPath(fileSpec);
        if (path.empty() || KeepDamagedPrefs(path).empty() || ::unlink(path.c_str()) != 0) return false;
        FSpCreateResFile(&fileSpec, kPrefCreator, kPrefResType, smSystemScript);
        if (ResError() != noErr && ResError() != dupFNErr) return false;
        refNum = OpenPrefs(fileSpec);
    }
    if (refNum == -1) return false;

    Handle data = NewHandleClear(kConfigSaveSize);
    if (data == nullptr || !Config2Save(theConfig, data)) {
        if (data) DisposeHandle(data);
        ClosePrefs(refNum, previous);
        return false;
    }
    // The whole change reaches the disk in one replacement of the file, made
    // once the old record is gone and the new one added: a crash or a full
    // disk leaves the old record or the new one, never a file without any.
    if (Handle old = Get1Resource(kPrefResType, kPrefResID)) {
        if (SameRecord(old, data)) {  // nothing to write
            ReleaseResource(old);
            DisposeHandle(data);
            return ClosePrefs(refNum, previous) == noErr;
        }
        if (!RecordFault(reinterpret_cast<const unsigned char *>(*old), GetHandleSize(old)).empty() &&
            KeepDamagedPrefs(SpecPath(fileSpec)).empty()) {
            DisposeHandle(data);
            ClosePrefs(refNum, previous);
            return false;
        }
        RemoveResource(old);
        if (ResError() != noErr) {
            DisposeHandle(data);
            ClosePrefs(refNum, previous);
            return false;
        }
        DisposeHandle(old);
    }
    Str255 name;
    CToPStr("Config Settings", name);
    AddResource(data, kPrefResType, kPrefResID, name);
    if (ResError() != noErr) {
        DisposeHandle(data);  // not a resource: still ours
        ClosePrefs(refNum, previous);
        return false;
    }
    UpdateResFile(refNum);
    if (ResError() == noErr) ReleaseResource(data);
    // After a failed write the close tries once more; ResError tells why the
    // record could not be written when that fails too.
    return ClosePrefs(refNum, previous) == noErr;
}

Boolean ReadConfig(pluginDataPtr theConfig) {
    if (theConfig == nullptr) return false;
    FSSpec fileSpec;
    std::memset(&fileSpec, 0, sizeof fileSpec);
    if (PrefsSpec(&fileSpec) != noErr) return false;  // a missing file is not created here
    const short previous = CurResFile();
    const short refNum = OpenPrefs(fileSpec);
    if (refNum == -1) return false;
    Handle data = Get1Resource(kPrefResType, kPrefResID);
    if (data == nullptr) {
        ClosePrefs(refNum, previous);
        return false;
    }
    DetachResource(data);
    ClosePrefs(refNum, previous);
    const Boolean ok = Save2Config(theConfig, data);
    DisposeHandle(data);
    return ok;
}

std::string PrefsFilePath() {
    FSSpec fileSpec;
    std::memset(&fileSpec, 0, sizeof fileSpec);
    const OSErr err = PrefsSpec(&fileSpec);
    return err == noErr || err == fnfErr ? SpecPath(fileSpec) : std::string();
}

PrefsFileState InspectPrefsFile(const std::string &path, std::string &detail) {
    detail.clear();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return kPrefsMissing;
        detail = std::strerror(errno);
        return kPrefsUnreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        detail = S_ISDIR(st.st_mode)    ? "a folder"
                 : S_ISFIFO(st.st_mode) ? "a FIFO (named pipe)"
                 : S_ISSOCK(st.st_mode) ? "a socket"
                                        : "a device";
        return kPrefsNotAFile;
    }
    const short previous = CurResFile();
    const short refNum = OpenResFilePath(path.c_str(), fsRdPerm);
    if (refNum == -1) {
        const OSErr err = ResError();
        if (IsDamage(err)) {
            detail = st.st_size == 0 ? "it is empty" : "it is not a resource file";
            return kPrefsDamaged;
        }
        detail = err == permErr ? "permission denied" : err == notAFileErr ? "not a file" : "cannot be read";
        return err == notAFileErr ? kPrefsNotAFile : kPrefsUnreadable;
    }
    UseResFile(refNum);
    PrefsFileState state = kPrefsNoRecord;
    if (Handle h = Get1Resource(kPrefResType, kPrefResID)) {
        detail = RecordFault(reinterpret_cast<const unsigned char *>(*h), GetHandleSize(h));
        state = detail.empty() ? kPrefsValid : kPrefsDamaged;
        ReleaseResource(h);
    }
    ClosePrefs(refNum, previous);
    return state;
}

std::string KeepDamagedPrefs(const std::string &path) {
    bool ok = false;
    const std::vector<char> bytes = FileBytes(path, ok);
    if (!ok) return "";
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string stem = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".damaged-";
    // Kept already (by the host before the plug-in ran, or an earlier save).
    if (DIR *d = ::opendir(dir.c_str())) {
        std::string found;
        while (const dirent *e = ::readdir(d)) {
            if (std::strncmp(e->d_name, stem.c_str(), stem.size()) != 0) continue;
            bool same = false;
            const std::string other = dir + "/" + e->d_name;
            if (FileBytes(other, same) == bytes && same) found = other;
        }
        ::closedir(d);
        if (!found.empty()) return found;
    }
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    for (int n = 1; n < 100; ++n) {
        std::string copy = dir + "/" + stem + stamp;
        if (n > 1) copy += '-' + std::to_string(n);
        // A second name for the same bytes: the file is only ever replaced, never changed in place.
        if (::link(path.c_str(), copy.c_str()) == 0) return copy;
        if (errno == EEXIST) continue;
        // No hard links here: a copy.
        const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return "";
        }
        const bool written = ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()) && ::fsync(fd) == 0;
        ::close(fd);
        if (written) return copy;
        ::unlink(copy.c_str());
        return "";
    }
    return "";
}
