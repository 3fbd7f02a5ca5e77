// Loading HY plug-in bundles and serving their callbacks from a clip.
#pragma once

#include "Picture.h"
#include "VideoSource.h"

#include "HYPlugin.h"
#include "CoreFoundation.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// The interface version this host announces in every parameter block.
constexpr int16_t kHostInterfaceVersion = 4;

struct LoadedPlugin {
    std::string bundlePath;
    std::string executablePath;
    void *library = nullptr;  // dlopen handle, kept for the process's life
    HYPluginMainProc entry = nullptr;
    CFBundleRef bundle = nullptr;  // our reference; the platform's registry keeps its own
    double secondsInPlugin = 0;    // time spent inside the entry point

    LoadedPlugin() = default;
    LoadedPlugin(const LoadedPlugin &) = delete;
    LoadedPlugin &operator=(const LoadedPlugin &) = delete;
    ~LoadedPlugin();
};

// A folder searched for plug-ins, and what put it on the search path
// ("HYHOST_PLUGIN_PATH", "XDG_DATA_HOME", "XDG_DATA_DIRS", "installed",
// "build tree").
struct PluginFolder {
    std::string path;
    std::string origin;
};

// Folders searched for a plug-in given by name, in order; the first bundle
// of that name wins. HYHOST_PLUGIN_PATH (colon-separated), then the user's
// and the system's XDG data folders + hyhost/Plug-ins, then the folder of
// the installation this program belongs to, then the build tree's.
std::vector<PluginFolder> PluginSearchPath();
std::vector<std::string> PluginFolders();

// Every bundle in the search path, in search order; `hidden` marks one that
// an earlier bundle of the same name shadows.
struct FoundBundle {
    std::string name;
    std::string path;
    std::string origin;
    bool hidden = false;
};
std::vector<FoundBundle> ListPluginBundles();

// Resolves a plug-in given as a bundle path or by name ("Kelvarin" finds
// Kelvarin.plugin in the plug-in folders).
bool FindPluginBundle(const std::string &nameOrPath, std::string &bundlePath, std::string &error);

// Registers the bundle with the platform (so the plug-in finds its
// resources), opens its executable and finds `main`.
bool LoadPlugin(const std::string &bundlePath, LoadedPlugin &plugin, std::string &error);

// "kPluginOutOfMemory (4)"
std::string ResultName(int code);

// A picture handed to the plug-in by GetFrame, until ReleaseFrame.
struct FrameLoan {
    GWorldPtr world = nullptr;
    int64_t index = 0;
    bool hostDisposes = true;  // false: the plug-in disposes of it itself after release
    // Lent over the render's current picture (these pixels), not a copy.
    const uint8_t *over = nullptr;
};

// Everything the callbacks need; its address is the parameter block's instance.
struct HostSession {
    ClipDecoder *fetcher = nullptr;  // random access to the clip
    int64_t clipFrames = 0;
    int32_t fadeIn = 0;
    int32_t fadeOut = 0;
    float sliders[3] = {0.5f, 0.5f, 0.5f};

    // The render's current frame, served without decoding again: a request
    // for it at its size gets a picture over these very pixels, no copy.
    ArgbPicture *current = nullptr;
    int64_t currentIndex = -1;
    bool currentMixed = false;  // MixAudio was called for it
    double currentGain = 0;

    // Inside the custom button message, frames after the first one are the
    // dialog's clip slider's, which disposes of them after releasing them.
    // Every GetFrame call counts, a failed one too.
    bool inButtonMessage = false;
    int buttonFetches = 0;

    std::set<FrameLoan *> loans;
    // Pixels of past current pictures that loans still show: freed with
    // the last of them (see EndCurrentFrame).
    std::map<const uint8_t *, std::unique_ptr<uint8_t[]>> keptPixels;
    GWorldPtr spare = nullptr;  // a released picture kept for the next GetFrame of its size
    std::set<HYPluginFilterInfo *> filterInfos;
    std::string lastFrameError;
    int64_t framesFetched = 0;

    HostSession() = default;
    HostSession(const HostSession &) = delete;
    HostSession &operator=(const HostSession &) = delete;
    ~HostSession();  // disposes of what the plug-in never gave back
};

// The callback table; the same for every session.
HYProcs *HostProcs();

// A parameter block for a session: zeroed, with version, instance and procs set.
void InitParams(HYPluginParams &params, HostSession &session);

// Sends one message and returns the plug-in's result (0..255). A render
// that sent kPlugInitialize ends with kPlugTerminate even when the begin
// failed: a failed begin may leave its block in clientData, which only
// kPlugTerminate frees, and kPlugTerminate without a block does nothing.
int32_t SendMessage(LoadedPlugin &plugin, HYPluginParams &params, HYPluginSelector selector);

// Sends GetInfo; on failure error names the plug-in's result.
bool DescribePlugin(LoadedPlugin &plugin, HYPluginParams &params, std::string &error);

// Ends the current frame: a picture lent over it that the plug-in has not
// released yet keeps its pixels, which then leave `current` (its pixels
// nil; it must be made anew). Clears session.current.
void EndCurrentFrame(HostSession &session);

// An offscreen picture over an ARGB picture's pixels (not copied, not
// owned: the picture must outlive it); nil when out of memory.
GWorldPtr GWorldOverPicture(ArgbPicture &picture);

// Copies an ARGB picture into a new offscreen picture, or into an existing
// one of the same size.
GWorldPtr NewGWorldFromPicture(const ArgbPicture &picture, OSErr &error);
void CopyPictureToGWorld(const ArgbPicture &picture, GWorldPtr world);
ArgbPicture PictureFromGWorld(GWorldPtr world);
// Copies a picture's pixels into an ARGB picture of the same size.
void CopyGWorldToPicture(GWorldPtr world, ArgbPicture &picture);

// The callbacks, reachable for tests.
HYPluginResult HostGetFrame(void *instance, int32_t frameIndex, GWorldPtr *picture, int32_t width, int32_t height,
                            HYRefDVQuality quality, int16_t *volume, void **cookie);
HYPluginResult HostReleaseFrame(void *instance, void *cookie);
HYPluginResult HostBlit(PixMapHandle src, PixMapHandle dst, Rect srcRect, const Rect *dstRect, int16_t opacity);
HYPluginResult HostMixAudio(void *instance, void *cookie, int32_t level);
HYPluginResult HostGetFilterInfo(void *instance, HYPluginFilterInfo **info);
HYPluginResult HostReleaseFilterInfo(void *instance, HYPluginFilterInfo *info);
