// The remembered configuration: resource 'Pref' ID 1 ("Config Settings") of
// the file "qzvel-Prefs" in the user's Preferences folder ($XDG_CONFIG_HOME,
// else $HOME/.config), holding one 396-byte record in native byte order.
// Failures are never shown: the operations return false and leave the
// configuration in memory as it was.
#pragma once
#include "Carbon.h"
#include "config/pascalFX.h"

#include <string>

// The file record. It is not a C struct (its natural alignment would pad it
// past 396 bytes on 64-bit machines): fields live at these byte offsets.
enum : UInt32 {
    kConfigSaveSize = 396,
    kConfigSaveVersion = 3,
    kSaveOffSizeInBytes = 0,  // UInt32, always 396
    kSaveOffVersion = 4,      // UInt32, always 3
    kSaveOffStartRel = 8,     // relRect (4 doubles)
    kSaveOffEndRel = 40,      // relRect
    kSaveOffColors = 72,      // 6 RGBColor
    kSaveOffSliders = 108,    // 6 SInt16
    kSaveOffFrameStartColor = 120,
    kSaveOffFrameEndColor = 126,
    kSaveOffMediaType = 132,   // SInt16
    kSaveOffKeepProps = 134,   // byte 0/1
    kSaveOffOutside = 135,     // byte
    kSaveOffRota = 136,        // SInt16
    kSaveOffClipActive = 138,  // byte
    kSaveOffMiscString = 139   // length byte + 255 bytes
};
inline constexpr ResType kPrefResType = PLATFORM_FOURCC('P', 'r', 'e', 'f');
inline constexpr short kPrefResID = 1;
inline constexpr OSType kPrefCreator = PLATFORM_FOURCC('q', 'm', 'z', ' ');
inline constexpr const char kPrefFileName[] = "qzvel-Prefs";

// Fills theConfig from the stored record; true when a valid one was found.
Boolean ReadConfig(pluginDataPtr theConfig);
// Stores theConfig, creating the file first; true only when it was written.
Boolean SaveConfig(pluginDataPtr theConfig);
// theSaveConfig: a handle of at least 396 bytes (zero-filled by the caller).
Boolean Config2Save(pluginDataPtr theConfig, Handle theSaveConfig);
// False (and theConfig untouched) for nil arguments, a block shorter than 396
// bytes, or a record of another size or version.
Boolean Save2Config(pluginDataPtr theConfig, Handle theSaveConfig);

// What a preferences file holds, for the hosts' messages; detail says what
// is wrong in a few words.
enum PrefsFileState {
    kPrefsMissing,    // no file yet
    kPrefsValid,      // a valid record
    kPrefsNoRecord,   // a resource file without the record
    kPrefsDamaged,    // not a resource file, or its record is invalid
    kPrefsNotAFile,   // a folder, FIFO or device stands at its name
    kPrefsUnreadable  // cannot be read (permissions, I/O)
};
PrefsFileState InspectPrefsFile(const std::string &path, std::string &detail);

// The path of the preferences file in the Preferences folder ("" when there
// is no folder).
std::string PrefsFilePath();

// Keeps a damaged preferences file beside it as NAME.damaged-YYYYMMDD-HHMMSS
// (a copy with the same bytes already there counts) and returns that path,
// or "" when no copy could be made.
std::string KeepDamagedPrefs(const std::string &path);
