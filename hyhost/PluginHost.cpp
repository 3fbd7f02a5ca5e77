#include "PluginHost.h"

#include "MacMemory.h"
#include "PlatformRaster.h"
#include "QuickDraw.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ExecutableDir() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

// The plug-in folder of an installed hyhost, relative to its program folder.
#ifndef HYHOST_INSTALLED_PLUGIN_DIR
#define HYHOST_INSTALLED_PLUGIN_DIR "../lib/hyhost/Plug-ins"
#endif

// Adds each folder of a colon-separated list; empty entries are skipped, and
// so are relative ones where the list is an XDG variable, which must hold
// absolute paths only.
void AddFolderList(std::vector<PluginFolder> &folders, const std::string &list, const std::string &suffix,
                   bool absoluteOnly, const std::string &origin) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        std::string entry = list.substr(start, end - start);
        if (!entry.empty() && (!absoluteOnly || entry.front() == '/'))
            folders.push_back({(fs::path(entry) / suffix).lexically_normal().string(), origin});
        start = end + 1;
    }
}

std::string Env(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

std::vector<PluginFolder> PluginSearchPath() {
    std::vector<PluginFolder> folders;
    AddFolderList(folders, Env("HYHOST_PLUGIN_PATH"), "", false, "HYHOST_PLUGIN_PATH");
    const std::string plugIns = "hyhost/Plug-ins";
    std::string dataHome = Env("XDG_DATA_HOME");
    if (!dataHome.empty() && dataHome.front() == '/')
        folders.push_back({(fs::path(dataHome) / plugIns).string(), "XDG_DATA_HOME"});
    else if (std::string home = Env("HOME"); !home.empty())
        folders.push_back({(fs::path(home) / ".local/share" / plugIns).string(), "XDG_DATA_HOME"});
    std::string dataDirs = Env("XDG_DATA_DIRS");
    AddFolderList(folders, dataDirs.empty() ? "/usr/local/share:/usr/share" : dataDirs, plugIns, true, "XDG_DATA_DIRS");
    if (std::string exeDir = ExecutableDir(); !exeDir.empty()) {
        folders.push_back({(fs::path(exeDir) / HYHOST_INSTALLED_PLUGIN_DIR).lexically_normal().string(), "installed"});
        folders.push_back({(fs::path(exeDir) / ".." / "Plug-ins").lexically_normal().string(), "build tree"});
    }
    return folders;
}

std::vector<std::string> PluginFolders() {
    std::vector<std::string> paths;
    for (const PluginFolder &folder : PluginSearchPath()) paths.push_back(folder.path);
    return paths;
}

std::vector<FoundBundle> ListPluginBundles() {
    std::vector<FoundBundle> found;
    std::set<std::string> seenFolders, seenNames;
    for (const PluginFolder &folder : PluginSearchPath()) {
        std::error_code ec;
        // The same folder named twice (an install inside the build tree,
        // a path listed in two variables) lists its bundles once.
        fs::path canonical = fs::weakly_canonical(folder.path, ec);
        if (ec || !seenFolders.insert(canonical.string()).second) continue;
        std::vector<fs::path> bundles;
        for (fs::directory_iterator it(folder.path, ec), end; !ec && it != end; it.increment(ec))
            if (it->path().extension() == ".plugin" && it->is_directory(ec)) bundles.push_back(it->path());
        std::sort(bundles.begin(), bundles.end());
        for (const fs::path &bundle : bundles) {
            std::string name = bundle.stem().string();
            found.push_back({name, bundle.string(), folder.origin, !seenNames.insert(name).second});
        }
    }
    return found;
}

bool FindPluginBundle(const std::string &nameOrPath, std::string &bundlePath, std::string &error) {
    std::error_code ec;
    // A bare name is a path only when it names a bundle here: a folder that
    // merely shares the plug-in's name (its source checkout, say) is not one.
    bool looksLikePath = nameOrPath.find('/') != std::string::npos ||
                         (fs::path(nameOrPath).extension() == ".plugin" && fs::is_directory(nameOrPath, ec));
    if (looksLikePath) {
        if (!fs::is_directory(nameOrPath, ec)) {
            error = "plug-in bundle '" + nameOrPath + "' does not exist";
            return false;
        }
        bundlePath = fs::absolute(nameOrPath, ec).lexically_normal().string();
        if (!bundlePath.empty() && bundlePath.back() == '/') bundlePath.pop_back();
        return true;
    }
    std::string file = nameOrPath;
    if (fs::path(file).extension() != ".plugin") file += ".plugin";
    for (const std::string &folder : PluginFolders()) {
        fs::path candidate = fs::path(folder) / file;
        if (fs::is_directory(candidate, ec)) {
            bundlePath = candidate.string();
            return true;
        }
    }
    error = "plug-in '" + nameOrPath + "' not found in";
    for (const std::string &folder : PluginFolders()) error += " " + folder;
    error += "; give the bundle's path with --plugin";
    return false;
}

LoadedPlugin::~LoadedPlugin() {
    // The executable stays loaded: nothing of the plug-in's may outlive the
    // process's last message anyway, and unloading would invalidate its code.
    if (bundle) CFRelease(bundle);
}

bool LoadPlugin(const std::string &bundlePath, LoadedPlugin &plugin, std::string &error) {
    plugin.bundlePath = bundlePath;
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(bundlePath.data()), CFIndex(bundlePath.size()), true);
    if (!url) {
        error = "cannot make a URL of '" + bundlePath + "'";
        return false;
    }
    plugin.bundle = CFBundleCreate(kCFAllocatorDefault, url);
    CFRelease(url);
    if (!plugin.bundle) {
        error = "'" + bundlePath + "' is not a plug-in bundle (Contents/Info.plist missing or unreadable)";
        return false;
    }
    CFBundleOpenBundleResourceMap(plugin.bundle);
    CFURLRef exeUrl = CFBundleCopyExecutableURL(plugin.bundle);
    char path[4096] = {};
    bool havePath =
        exeUrl && CFURLGetFileSystemRepresentation(exeUrl, true, reinterpret_cast<UInt8 *>(path), sizeof path);
    if (exeUrl) CFRelease(exeUrl);
    if (!havePath) {
        error = "the bundle '" + bundlePath + "' names no executable";
        return false;
    }
    plugin.executablePath = path;
    plugin.library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!plugin.library) {
        const char *why = dlerror();
        error = "cannot load the plug-in's executable: " + std::string(why ? why : path);
        return false;
    }
    // The library's own `main` comes first in its handle's lookup scope, not the host's.
    plugin.entry = reinterpret_cast<HYPluginMainProc>(dlsym(plugin.library, "main"));
    if (!plugin.entry) {
        error = "'" + plugin.executablePath + "' exports no 'main' entry point";
        return false;
    }
    return true;
}

std::string ResultName(int code) {
    static const char *const names[] = {"kPluginOK",
                                        "kPluginCancel",
                                        "kPluginFinished",
                                        "kPluginBadParams",
                                        "kPluginOutOfMemory",
                                        "kPluginOutOfDiskSpace",
                                        "kPluginFailed",
                                        "kPluginCantGetNeededFrame",
                                        "kPluginUnimplemented",
                                        "kPluginTryAgainLater",
                                        "kPluginAppIsTooOld",
                                        "kPluginAppIsTooNew"};
    std::string name = code >= 0 && code <= 11 ? names[code] : "unknown result";
    return name + " (" + std::to_string(code) + ")";
}

// ---- Pictures ------------------------------------------------------------

void CopyPictureToGWorld(const ArgbPicture &picture, GWorldPtr world) {
    PixMapHandle pm = GetGWorldPixMap(world);
    auto *base = reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm));
    std::size_t rowBytes = std::size_t(GetPixRowBytes(pm));
    Rect r;
    GetPixBounds(pm, &r);
    int w = std::min(picture.width, r.right - r.left);
    int h = std::min(picture.height, r.bottom - r.top);
    if (!base || w <= 0) return;
    for (int y = 0; y < h; ++y) std::memcpy(base + rowBytes * std::size_t(y), picture.Row(y), std::size_t(w) * 4);
}

GWorldPtr GWorldOverPicture(ArgbPicture &picture) {
    Rect bounds{0, 0, int16_t(picture.height), int16_t(picture.width)};
    GWorldPtr world = nullptr;
    if (NewGWorldFromPtr(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0,
                         reinterpret_cast<Ptr>(picture.pixels.get()), long(picture.RowBytes())) != noErr)
        return nullptr;
    return world;
}

GWorldPtr NewGWorldFromPicture(const ArgbPicture &picture, OSErr &error) {
    Rect bounds{0, 0, int16_t(picture.height), int16_t(picture.width)};
    GWorldPtr world = nullptr;
    error = NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0);
    if (error != noErr || !world) {
        if (error == noErr) error = memFullErr;
        return nullptr;
    }
    LockPixels(GetGWorldPixMap(world));
    CopyPictureToGWorld(picture, world);
    return world;
}

ArgbPicture PictureFromGWorld(GWorldPtr world) {
    PixMapHandle pm = GetGWorldPixMap(world);
    Rect r;
    GetPixBounds(pm, &r);
    ArgbPicture p = MakePicture(r.right - r.left, r.bottom - r.top);
    const auto *base = reinterpret_cast<const uint8_t *>(GetPixBaseAddr(pm));
    std::size_t rowBytes = std::size_t(GetPixRowBytes(pm));
    for (int y = 0; y < p.height; ++y) std::memcpy(p.Row(y), base + rowBytes * std::size_t(y), p.RowBytes());
    return p;
}

void CopyGWorldToPicture(GWorldPtr world, ArgbPicture &picture) {
    PixMapHandle pm = GetGWorldPixMap(world);
    Rect r;
    GetPixBounds(pm, &r);
    int w = std::min(picture.width, r.right - r.left);
    int h = std::min(picture.height, r.bottom - r.top);
    const auto *base = reinterpret_cast<const uint8_t *>(GetPixBaseAddr(pm));
    if (!base || w <= 0) return;
    std::size_t rowBytes = std::size_t(GetPixRowBytes(pm));
    for (int y = 0; y < h; ++y) std::memcpy(picture.Row(y), base + rowBytes * std::size_t(y), std::size_t(w) * 4);
}

// ---- Callbacks -----------------------------------------------------------

namespace {

void *HostNewPtr(int32_t size) {
    if (size < 0) return nullptr;
    return NewPtr(size);
}

void *HostNewPtrClear(int32_t size) {
    if (size < 0) return nullptr;
    return NewPtrClear(size);
}

void HostDisposePtr(void *block) {
    if (block) DisposePtr(static_cast<Ptr>(block));
}

HYPluginResult Unimplemented() { return kPluginUnimplemented; }

HostSession *SessionOf(void *instance) { return static_cast<HostSession *>(instance); }

}  // namespace

HostSession::~HostSession() {
    for (FrameLoan *loan : loans) {
        if ((loan->hostDisposes || loan->over) && loan->world) DisposeGWorld(loan->world);
        delete loan;
    }
    for (HYPluginFilterInfo *info : filterInfos) delete info;
    if (spare) DisposeGWorld(spare);
}

namespace {

// Hands a picture to the plug-in: the loan is its cookie until ReleaseFrame.
HYPluginResult Lend(HostSession &s, const FrameLoan &terms, GWorldPtr *picture, void **cookie, int16_t *volume) {
    auto loan = std::make_unique<FrameLoan>(terms);
    s.loans.insert(loan.get());
    ++s.framesFetched;
    *picture = terms.world;
    *cookie = loan.release();
    if (volume) *volume = 0x100;
    return kPluginOK;
}

}  // namespace

HYPluginResult HostGetFrame(void *instance, int32_t frameIndex, GWorldPtr *picture, int32_t width, int32_t height,
                            HYRefDVQuality quality, int16_t *volume, void **cookie) try {
    HostSession *s = SessionOf(instance);
    if (picture) *picture = nullptr;
    if (cookie) *cookie = nullptr;
    if (!s || !picture || !cookie) return kPluginBadParams;
    // The ABI gives no sign of who will dispose of a picture: in the button
    // message the first call is the button's own, whatever its outcome, and
    // every later one the clip slider's, which disposes of its pictures
    // itself. So every call counts, also one that fails below.
    const bool pluginDisposes = s->inButtonMessage && s->buttonFetches++ > 0;
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return kPluginBadParams;
    if (frameIndex < 0 || frameIndex >= s->clipFrames) return kPluginCantGetNeededFrame;
    bool highQuality = quality != kDVLowQuality;
    ArgbPicture fetched;
    const ArgbPicture *source = nullptr;
    if (s->current && s->current->pixels && s->currentIndex == frameIndex) {
        if (s->current->width == width && s->current->height == height) {
            // The render's picture itself, unless the plug-in will dispose of
            // it on its own time, past the frame.
            if (!pluginDisposes) {
                GWorldPtr world = GWorldOverPicture(*s->current);
                if (!world) return kPluginOutOfMemory;
                return Lend(*s, FrameLoan{world, frameIndex, true, s->current->pixels.get()}, picture, cookie, volume);
            }
            source = s->current;
        } else if (ScalePicture(*s->current, width, height, highQuality, fetched)) {
            source = &fetched;
        }
    }
    if (!source) {
        if (!s->fetcher) return kPluginCantGetNeededFrame;
        if (!FetchClipFrame(*s->fetcher, frameIndex, width, height, highQuality, fetched, s->lastFrameError))
            return kPluginCantGetNeededFrame;
        source = &fetched;
    }
    GWorldPtr world = nullptr;
    Rect spareBounds;
    // Renders ask for one size again and again: reuse the last released
    // picture rather than making a new one per frame. Never for a picture
    // the plug-in will dispose of itself.
    if (s->spare && !pluginDisposes && GetPortBounds(s->spare, &spareBounds) &&
        spareBounds.right - spareBounds.left == width && spareBounds.bottom - spareBounds.top == height) {
        world = s->spare;
        s->spare = nullptr;
        CopyPictureToGWorld(*source, world);
    } else {
        OSErr err = noErr;
        world = NewGWorldFromPicture(*source, err);
        if (!world) return err == memFullErr ? kPluginOutOfMemory : kPluginFailed;
    }
    return Lend(*s, FrameLoan{world, frameIndex, !pluginDisposes, nullptr}, picture, cookie, volume);
} catch (...) {
    return kPluginOutOfMemory;
}

void EndCurrentFrame(HostSession &s) {
    ArgbPicture *current = s.current;
    s.current = nullptr;
    if (!current || !current->pixels) return;
    const uint8_t *pixels = current->pixels.get();
    if (std::any_of(s.loans.begin(), s.loans.end(), [&](const FrameLoan *l) { return l->over == pixels; }))
        s.keptPixels[pixels] = std::move(current->pixels);
}

HYPluginResult HostReleaseFrame(void *instance, void *cookie) try {
    HostSession *s = SessionOf(instance);
    if (!s) return kPluginBadParams;
    auto *loan = static_cast<FrameLoan *>(cookie);
    auto it = s->loans.find(loan);
    if (it == s->loans.end()) return kPluginBadParams;
    s->loans.erase(it);
    if (loan->over) {
        DisposeGWorld(loan->world);  // the port only: the pixels are the picture's
        const uint8_t *pixels = loan->over;
        if (std::none_of(s->loans.begin(), s->loans.end(), [&](const FrameLoan *l) { return l->over == pixels; }))
            s->keptPixels.erase(pixels);
    } else if (loan->hostDisposes) {
        if (s->spare) DisposeGWorld(s->spare);
        s->spare = loan->world;
    }
    delete loan;
    return kPluginOK;
} catch (...) {
    return kPluginFailed;
}

HYPluginResult HostBlit(PixMapHandle src, PixMapHandle dst, Rect srcRect, const Rect *dstRect, int16_t opacity) try {
    if (!src || !*src || !dst || !*dst || !dstRect) return kPluginBadParams;
    const PixMap &sp = **src;
    const PixMap &dp = **dst;
    if (!sp.baseAddr || !dp.baseAddr) return kPluginBadParams;
    int op = std::clamp<int>(opacity, 0, 255);
    // Half-open rectangles; sizes as 32-bit values.
    int sw = srcRect.right - srcRect.left, sh = srcRect.bottom - srcRect.top;
    int dw = dstRect->right - dstRect->left, dh = dstRect->bottom - dstRect->top;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || op == 0) return kPluginOK;
    // Only destination pixels inside the destination picture are touched.
    int x0 = std::max<int>(dstRect->left, dp.bounds.left), x1 = std::min<int>(dstRect->right, dp.bounds.right);
    int y0 = std::max<int>(dstRect->top, dp.bounds.top), y1 = std::min<int>(dstRect->bottom, dp.bounds.bottom);
    const auto *sbase = reinterpret_cast<const uint8_t *>(sp.baseAddr);
    auto *dbase = reinterpret_cast<uint8_t *>(dp.baseAddr);
    if (sw == dw && sh == dh) {
        // Same size (every fade): pixel (x, y) takes the source pixel at the
        // same offset, so the blend runs over whole rows, also limited to
        // the source picture.
        const int ox = srcRect.left - dstRect->left, oy = srcRect.top - dstRect->top;
        x0 = std::max<int>(x0, sp.bounds.left - ox), x1 = std::min<int>(x1, sp.bounds.right - ox);
        y0 = std::max<int>(y0, sp.bounds.top - oy), y1 = std::min<int>(y1, sp.bounds.bottom - oy);
        if (x0 >= x1 || y0 >= y1) return kPluginOK;
        PlatformBlend(sbase + int64_t(sp.rowBytes) * (y0 + oy - sp.bounds.top) + 4 * int64_t(x0 + ox - sp.bounds.left),
                      sp.rowBytes,
                      dbase + int64_t(dp.rowBytes) * (y0 - dp.bounds.top) + 4 * int64_t(x0 - dp.bounds.left),
                      dp.rowBytes, x1 - x0, y1 - y0, op);
        return kPluginOK;
    }
    for (int y = y0; y < y1; ++y) {
        // Nearest source row for this destination row.
        int sy = srcRect.top + int((int64_t(y - dstRect->top) * sh) / dh);
        if (sy < sp.bounds.top || sy >= sp.bounds.bottom) continue;
        const uint8_t *srow = sbase + int64_t(sp.rowBytes) * (sy - sp.bounds.top);
        uint8_t *drow = dbase + int64_t(dp.rowBytes) * (y - dp.bounds.top);
        for (int x = x0; x < x1; ++x) {
            int sx = srcRect.left + int((int64_t(x - dstRect->left) * sw) / dw);
            if (sx < sp.bounds.left || sx >= sp.bounds.right) continue;
            const uint8_t *s = srow + 4 * (sx - sp.bounds.left);
            uint8_t *d = drow + 4 * (x - dp.bounds.left);
            for (int c = 0; c < 4; ++c) d[c] = uint8_t((s[c] * op + d[c] * (255 - op) + 127) / 255);
        }
    }
    return kPluginOK;
} catch (...) {
    return kPluginFailed;
}

HYPluginResult HostMixAudio(void *instance, void *cookie, int32_t level) try {
    HostSession *s = SessionOf(instance);
    if (!s) return kPluginBadParams;
    auto *loan = static_cast<FrameLoan *>(cookie);
    if (!s->loans.count(loan)) return kPluginBadParams;
    if (loan->index == s->currentIndex) {
        s->currentMixed = true;
        s->currentGain = std::clamp(level / 256.0, 0.0, 1.0);
    }
    return kPluginOK;
} catch (...) {
    return kPluginFailed;
}

HYPluginResult HostGetFilterInfo(void *instance, HYPluginFilterInfo **info) try {
    HostSession *s = SessionOf(instance);
    if (!info) return kPluginBadParams;
    *info = nullptr;
    if (!s) return kPluginBadParams;
    auto *block = new HYPluginFilterInfo{};
    std::copy(std::begin(s->sliders), std::end(s->sliders), block->sliderValues);
    block->fadeInFrames = s->fadeIn;
    block->fadeOutFrames = s->fadeOut;
    s->filterInfos.insert(block);
    *info = block;
    return kPluginOK;
} catch (...) {
    return kPluginOutOfMemory;
}

HYPluginResult HostReleaseFilterInfo(void *instance, HYPluginFilterInfo *info) try {
    HostSession *s = SessionOf(instance);
    if (!s || !s->filterInfos.erase(info)) return kPluginBadParams;
    delete info;
    return kPluginOK;
} catch (...) {
    return kPluginFailed;
}

HYProcs *HostProcs() {
    static HYProcs procs = [] {
        HYProcs p{};
        auto unimplemented = reinterpret_cast<HYUntypedProc>(&Unimplemented);
        p.NewPtr = HostNewPtr;
        p.NewPtrClear = HostNewPtrClear;
        p.DisposePtr = HostDisposePtr;
        p.ptocstr = p.ctopstr = p.pstrcpy = p.strcpy = p.strlen = unimplemented;
        p.GetLocalizedString = unimplemented;
        p.GetFrame = HostGetFrame;
        p.ReleaseFrame = HostReleaseFrame;
        p.GetAudioFrame = p.ReleaseAudioFrame = unimplemented;
        p.GetMovieInfo = p.GetClipInfo = p.SetClipInfo = unimplemented;
        p.Blit = HostBlit;
        p.FillRect = p.TextBounds = p.DrawText = unimplemented;
        p.GetTitleInfo = p.ReleaseTitleInfo = unimplemented;
        p.GetTransitionInfo = p.ReleaseTransitionInfo = unimplemented;
        p.MixAudio = HostMixAudio;
        p.GetFilterInfo = HostGetFilterInfo;
        p.ReleaseFilterInfo = HostReleaseFilterInfo;
        p.StringWidth = p.CGDrawText = p.CGStringWidth = unimplemented;
        return p;
    }();
    return &procs;
}

void InitParams(HYPluginParams &params, HostSession &session) {
    std::memset(&params, 0, sizeof params);
    params.interfaceVersion = kHostInterfaceVersion;
    params.instance = &session;
    params.procs = HostProcs();
}

int32_t SendMessage(LoadedPlugin &plugin, HYPluginParams &params, HYPluginSelector selector) {
    params.selector = selector;
    auto start = std::chrono::steady_clock::now();
    int32_t result = plugin.entry(int32_t(selector), &params);
    plugin.secondsInPlugin += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result & 0xFF;
}

bool DescribePlugin(LoadedPlugin &plugin, HYPluginParams &params, std::string &error) {
    if (int32_t r = SendMessage(plugin, params, kPlugGetInfo); r != kPluginOK) {
        error = "the plug-in could not describe itself: " + ResultName(r);
        return false;
    }
    return true;
}
