#include "storage/prefsloader.h"

#include <cstring>

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
OSErr ClosePrefs(short refNum, short previous) {
    CloseResFile(refNum);
    const OSErr err = ResError();
    if (previous != refNum && previous != -1) UseResFile(previous);
    return err;
}

}  // namespace

Boolean Config2Save(pluginDataPtr theConfig, Handle theSaveConfig) {
    if (theConfig == nullptr || theSaveConfig == nullptr) return false;
    if (!HandleHolds(theSaveConfig, kConfigSaveSize)) return false;   // never write past the block
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
        if (ResError() != noErr) return false;
    } else if (err != noErr) {
        return false;
    }
    const short previous = CurResFile();
    const short refNum = OpenPrefs(fileSpec);
    if (refNum == -1) return false;

    if (Handle old = Get1Resource(kPrefResType, kPrefResID)) {
        RemoveResource(old);
        if (ResError() != noErr) {
            ClosePrefs(refNum, previous);
            return false;
        }
        DisposeHandle(old);
        UpdateResFile(refNum);
        if (ResError() != noErr) {
            ClosePrefs(refNum, previous);
            return false;
        }
    }

    Handle data = NewHandleClear(kConfigSaveSize);
    if (data == nullptr || !Config2Save(theConfig, data)) {
        if (data) DisposeHandle(data);
        ClosePrefs(refNum, previous);
        return false;
    }
    Str255 name;
    CToPStr("Config Settings", name);
    AddResource(data, kPrefResType, kPrefResID, name);
    if (ResError() != noErr) {
        DisposeHandle(data);   // not a resource: still ours
        ClosePrefs(refNum, previous);
        return false;
    }
    UpdateResFile(refNum);
    bool written = ResError() == noErr;
    ReleaseResource(data);
    written = ClosePrefs(refNum, previous) == noErr && written;
    return written;
}

Boolean ReadConfig(pluginDataPtr theConfig) {
    if (theConfig == nullptr) return false;
    FSSpec fileSpec;
    std::memset(&fileSpec, 0, sizeof fileSpec);
    if (PrefsSpec(&fileSpec) != noErr) return false;   // a missing file is not created here
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
