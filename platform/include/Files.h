/*
 * File Manager and Resource Manager.
 *
 * Resource files are classic resource forks. FSpCreateResFile makes an
 * AppleSingle file (version 2) with Finder info and a resource fork entry;
 * FSpOpenResFile reads either that or a plain fork (a .rsrc file). Writes go
 * to a temporary file renamed over the old one. Damaged files are reported
 * through ResError, never read out of bounds. A file opened for writing is
 * locked (an advisory lock on ".NAME.lock" beside it) until it is closed, so
 * the read-modify-write cycles of two processes never interleave.
 */
#ifndef PLATFORM_FILES_H
#define PLATFORM_FILES_H

#include "MacTypes.h"
#include "CoreFoundation.h"

PLATFORM_EXTERN_C_BEGIN

/* A file location: a directory known by number plus a file name. */
typedef struct FSSpec {
    int16_t vRefNum;
    int32_t parID;
    Str63 name;
} FSSpec;

enum {
    kOnSystemDisk = -32768,
    kPreferencesFolderType = PLATFORM_FOURCC('p', 'r', 'e', 'f'),
    kDontCreateFolder = 0,
    kCreateFolder = 1,
    smSystemScript = -1,
    fsCurPerm = 0,
    fsRdPerm = 1,
    fsWrPerm = 2,
    fsRdWrPerm = 3,
    notAFileErr = -1302 /* the name is a folder, a FIFO or a device, not a file */
};

/* The Preferences folder is $XDG_CONFIG_HOME, else $HOME/.config. */
PLATFORM_API OSErr FindFolder(short vRefNum, OSType folderType, Boolean createFolder, short *foundVRefNum,
                              SInt32 *foundDirID);
/* Platform extension: the path FindFolder stands for, zero-terminated,
 * without looking whether the folder exists or making it; false for an
 * unknown folder type or a path that does not fit. */
PLATFORM_API Boolean PlatformFolderPath(OSType folderType, char *buf, size_t bufSize);
/* fnfErr when the file does not exist (the record is filled all the same). */
PLATFORM_API OSErr FSMakeFSSpec(short vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec *fileSpec);
/* The path of a fileSpec, zero-terminated; false if it does not fit. */
PLATFORM_API Boolean FSSpecGetPath(const FSSpec *fileSpec, char *buf, size_t bufSize);

PLATFORM_API void FSpCreateResFile(const FSSpec *fileSpec, OSType creator, OSType fileType, ScriptCode script);
PLATFORM_API short FSpOpenResFile(const FSSpec *fileSpec, SInt8 permission); /* -1 on failure */
PLATFORM_API short OpenResFilePath(const char *path, SInt8 permission);      /* -1 on failure */
PLATFORM_API void CloseResFile(short refNum);
PLATFORM_API void UseResFile(short refNum);
PLATFORM_API short CurResFile(void);
PLATFORM_API OSErr ResError(void);

/* Get1Resource looks in the current file only; GetResource searches the
 * current file and those opened before it. */
PLATFORM_API Handle Get1Resource(ResType type, short id);
PLATFORM_API Handle GetResource(ResType type, short id);
PLATFORM_API void DetachResource(Handle h);
PLATFORM_API void RemoveResource(Handle h);
PLATFORM_API void AddResource(Handle data, ResType type, short id, ConstStr255Param name);
PLATFORM_API void ChangedResource(Handle h);
PLATFORM_API void WriteResource(Handle h);
PLATFORM_API void UpdateResFile(short refNum);
PLATFORM_API void ReleaseResource(Handle h);
PLATFORM_API short Count1Resources(ResType type);
PLATFORM_API void GetResInfo(Handle h, short *id, ResType *type, Str255 name);

/* Item index (1-based) of STR# resource id; empty string when missing. */
PLATFORM_API void GetIndString(Str255 theString, short strListID, short index);

PLATFORM_EXTERN_C_END

#endif
