#include "Commands.h"

#include "PluginHost.h"
#include "Png.h"
#include "Render.h"
#include "SafeOutput.h"
#include "TestClip.h"
#include "VideoSource.h"

#include <QApplication>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace fs = std::filesystem;

int Fail(const std::string &text, int status) {
    std::fprintf(stderr, "hyhost: %s\n", text.c_str());
    return status;
}

namespace {

std::string Field(const char *text, std::size_t size) { return std::string(text, strnlen(text, size)); }

const char *TypeName(int type) {
    switch (type) {
        case kPluginTitleType:
            return "title";
        case kPluginTransitionBeforeType:
            return "transition before";
        case kPluginTransitionBetweenType:
            return "transition between";
        case kPluginTransitionAfterType:
            return "transition after";
        case kPluginFilterType:
            return "filter";
        default:
            return "unknown";
    }
}

// Loads the named plug-in into a session on the clip (none for info alone)
// and has it describe itself for a selection of the whole clip.
bool LoadAndDescribe(const std::string &name, ClipDecoder *fetcher, int64_t clipFrames, LoadedPlugin &plugin,
                     HostSession &session, HYPluginParams &params, std::string &error) {
    std::string bundle;
    if (!FindPluginBundle(name, bundle, error) || !LoadPlugin(bundle, plugin, error)) return false;
    session.fetcher = fetcher;
    session.clipFrames = clipFrames;
    InitParams(params, session);
    params.getInfo2.selectedFrames = int32_t(clipFrames);
    return DescribePlugin(plugin, params, error);
}

// The frame --at names, which must lie in the clip, whose length must fit
// the plug-in interface. The exit status for the failure, else 0.
int FrameInClip(ClipDecoder &clip, const std::string &text, int64_t &at, std::string &error) {
    const ClipInfo &info = GetClipInfo(clip);
    if (!ClipPointToFrame(text, clip, at)) {
        error = BadValue("--at", text, "a time or a frame", "4.5 (seconds) or 120f (frame 120)");
        return kExitBadArguments;
    }
    if (at < 0 || at >= info.frameCount) {
        error = "--at " + text + " is outside the clip; it has " + std::to_string(info.frameCount) + " frames (0.." +
                std::to_string(info.frameCount - 1) + ")";
        return 1;
    }
    if (info.frameCount > INT32_MAX) {
        error = "the clip is too long for the plug-in interface";
        return 1;
    }
    return 0;
}

// Owns an offscreen picture.
struct World {
    GWorldPtr w = nullptr;
    World(int width, int height) {
        Rect r{0, 0, int16_t(height), int16_t(width)};
        if (NewGWorld(&w, 32, &r, nullptr, nullptr, 0) != noErr) w = nullptr;
        if (w) LockPixels(GetGWorldPixMap(w));
    }
    ~World() {
        if (w) DisposeGWorld(w);
    }
    World(const World &) = delete;
    World &operator=(const World &) = delete;
};

}  // namespace

int CommandInfo(const std::string &name, bool json) {
    LoadedPlugin plugin;
    std::string error;
    HostSession session;
    HYPluginParams params;
    if (!LoadAndDescribe(name, nullptr, 0, plugin, session, params, error)) return Fail(error);
    const HYPluginGetInfo &g = params.getInfo;
    const HY2PluginGetInfo &g2 = params.getInfo2;
    std::string group = Field(g2.group, sizeof g2.group);
    std::string button = Field(params.getInfo3.buttonTitle, sizeof params.getInfo3.buttonTitle);
    if (json) {
        nlohmann::json j;
        j["bundle"] = plugin.bundlePath;
        j["type"] = TypeName(g.pluginType);
        j["typeCode"] = g.pluginType;
        j["flags"] = g.pluginFlags;
        j["group"] = group;
        j["buttonTitle"] = button;
        j["baseMemoryNeeded"] = g2.baseMemoryNeeded;
        j["sliders"] = nlohmann::json::array();
        for (const HYPluginFilterSliderInfo &s : g2.filterSliders)
            j["sliders"].push_back({{"label", Field(s.label, sizeof s.label)},
                                    {"minLabel", Field(s.minLabel, sizeof s.minLabel)},
                                    {"maxLabel", Field(s.maxLabel, sizeof s.maxLabel)},
                                    {"default", s.defaultValue}});
        std::cout << j.dump(2) << "\n";
        return 0;
    }
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%08X", g.pluginFlags);
    std::cout << "Plug-in   " << plugin.bundlePath << "\n"
              << "Type      " << TypeName(g.pluginType) << " (" << int(g.pluginType) << ")\n"
              << "Flags     " << flags << "\n"
              << "Group     " << group << "\n"
              << "Button    " << button << "\n";
    int n = 1;
    for (const HYPluginFilterSliderInfo &s : g2.filterSliders) {
        std::cout << "Slider " << n++ << "  " << Field(s.label, sizeof s.label) << "  ("
                  << Field(s.minLabel, sizeof s.minLabel) << " .. " << Field(s.maxLabel, sizeof s.maxLabel)
                  << "), default " << s.defaultValue << "\n";
    }
    std::cout << "Memory    " << g2.baseMemoryNeeded << " bytes\n";
    return 0;
}

int CommandPlaceholder(const std::string &input, const std::string &output, const std::string &atText,
                       const std::string &name, const SizeRequest &size, const SettingsRequest &settings) {
    std::string error;
    ClipDecoderPtr fetcher = OpenClipDecoder(input, error);
    if (!fetcher) return Fail(error);
    const ClipInfo &info = GetClipInfo(*fetcher);
    int64_t at = 0;
    if (int code = FrameInClip(*fetcher, atText, at, error)) return Fail(error, code);
    if (!CheckOutputPath(input, output, error)) return Fail(error);
    int width = 0, height = 0;
    if (!ResolveSize(size, info.width, info.height, width, height))
        return Fail("picture size " + std::to_string(width) + "x" + std::to_string(height) + " is not usable",
                    kExitBadArguments);
    JobSettings job;
    if (int code = 1; !job.Prepare(settings, false, width, height, error, code)) return Fail(error, code);
    LoadedPlugin plugin;
    HostSession session;
    HYPluginParams params;
    if (!LoadAndDescribe(name, fetcher.get(), info.frameCount, plugin, session, params, error)) return Fail(error);
    World out(width, height);
    if (!out.w) return Fail("out of memory for the picture");
    params.startFrame = 0;
    params.frameCount = int32_t(info.frameCount);
    params.frameRect = Rect{0, 0, int16_t(height), int16_t(width)};
    params.frame = out.w;
    params.getInfo.bestThumbOffset = int32_t(at);
    if (int32_t r = SendMessage(plugin, params, kPlugFilePlaceHolder); r != kPluginOK)
        return Fail("the plug-in could not make the placeholder frame: " + ResultName(r));
    if (!WritePng(output, PictureFromGWorld(out.w), error)) return Fail(error);
    return 0;
}

namespace {

std::string ReadWhole(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

namespace {
void (*gConfigureStartHook)() = nullptr;

bool Set(const char *variable) {
    const char *value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

// Qt's offscreen and minimal platforms show nothing to anyone; X and
// Wayland need their display.
bool HasVisibleDisplay() {
    const std::string platform = Set("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
    auto is = [&](const char *name) { return platform.rfind(name, 0) == 0; };
    if (is("offscreen") || is("minimal")) return false;
    if (is("xcb")) return Set("DISPLAY");
    if (is("wayland")) return Set("WAYLAND_DISPLAY");
    return !platform.empty() || Set("DISPLAY") || Set("WAYLAND_DISPLAY");
}
}  // namespace

void SetConfigureStartHook(void (*hook)()) { gConfigureStartHook = hook; }

namespace {

// One render cycle over the whole clip, so the plug-in knows the clip the
// dialog's clip slider walks through; its frame is scratch, which the
// messages after it are given too. Empty, else why it failed.
std::string FirstRenderCycle(LoadedPlugin &plugin, HYPluginParams &params, const ClipInfo &info, World &scratch) {
    if (!scratch.w) return "out of memory for the picture";
    params.startFrame = 0;
    params.frameCount = int32_t(info.frameCount);
    params.proxyOnly = 1;
    params.frameRect = Rect{0, 0, int16_t(info.height), int16_t(info.width)};
    params.frame = scratch.w;
    int32_t r = SendMessage(plugin, params, kPlugInitialize);
    if (r != kPluginOK) {
        SendMessage(plugin, params, kPlugTerminate);
        return "the plug-in could not begin: " + ResultName(r);
    }
    params.renderFrame = 0;
    int32_t d = SendMessage(plugin, params, kPlugDoFrame);
    SendMessage(plugin, params, kPlugTerminate);
    return d != kPluginOK ? "the plug-in failed on frame 0: " + ResultName(d) : std::string();
}

// The settings dialog on frame `at`; accepted tells OK from Cancel for a
// job with a private copy (without one the plug-in keeps its own file).
bool RunDialog(LoadedPlugin &plugin, HostSession &session, HYPluginParams &params, int64_t at, const JobSettings &job,
               bool &accepted, std::string &error) {
    // The plug-in has read its settings when it started and writes them
    // only on OK, and then only when they differ from its file. Without the
    // private copy during the dialog, OK always writes one and Cancel none:
    // that tells the two apart even when the dialog's values stay as they
    // were (the --set values the user accepts).
    std::error_code ec;
    if (job.IsPrivate() && !fs::remove(job.PrefsPath(), ec) && ec)
        return error = "cannot prepare the settings window: " + ec.message(), false;
    params.proxyOnly = 0;
    params.renderFrame = int32_t(at);
    session.inButtonMessage = true;
    session.buttonFetches = 0;
    int32_t r = SendMessage(plugin, params, kPlugCustomButtonClick);
    session.inButtonMessage = false;
    if (r != kPluginOK) return error = "the settings dialog failed: " + ResultName(r), false;
    accepted = !job.IsPrivate() || fs::exists(job.PrefsPath(), ec);
    return true;
}

// On OK the private copy goes where the settings came from, as the
// plug-in's own file would have been written without the copy; a Cancel
// leaves that file untouched. Says where the settings are.
int SaveDialogSettings(JobSettings &job, const SettingsRequest &settings, const std::string &prefsBefore,
                       bool accepted) {
    std::string error;
    const std::string after = accepted ? ReadWhole(job.PrefsPath()) : prefsBefore;
    const std::string target = settings.file.empty() ? job.UsersPrefsPath() : settings.file;
    if (job.IsPrivate() && accepted && after != ReadWhole(target) && !job.SaveTo(settings.file, error))
        return Fail(error);
    if (!accepted || (after == prefsBefore && settings.sets.empty()))
        std::cout << "Settings unchanged.\n";
    else if (settings.file.empty())
        std::cout << "Settings saved in " << target << "; the next hyhost render uses them.\n";
    else
        std::cout << "Settings saved in " << target << "; render with them: hyhost render --settings " << target
                  << "\n";
    return 0;
}

}  // namespace

int CommandConfigure(const std::string &input, const std::string &atText, const SettingsRequest &settings,
                     const std::string &name) {
    // A window nobody can see would wait for ever for OK or Cancel; say so
    // before anything is opened or written.
    if (!gConfigureStartHook && !HasVisibleDisplay())
        return Fail(
            "no display for the settings window: run hyhost configure in a desktop session "
            "(an X or Wayland display, not QT_QPA_PLATFORM=offscreen)");
    std::string error;
    ClipDecoderPtr fetcher = OpenClipDecoder(input, error);
    if (!fetcher) return Fail(error);
    const ClipInfo &info = GetClipInfo(*fetcher);
    int64_t at = 0;
    if (int code = FrameInClip(*fetcher, atText, at, error)) return Fail(error, code);
    // Without settings of the job's own the dialog works on the remembered
    // settings as the plug-in keeps them. With them it works on a private
    // copy, saved on OK where the settings came from.
    JobSettings job;
    if (int code = 1; !job.Prepare(settings, settings.Any(), info.width, info.height, error, code))
        return Fail(error, code);

    static int argc = 1;
    static char arg0[] = "hyhost";
    static char *argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    if (gConfigureStartHook) gConfigureStartHook();

    LoadedPlugin plugin;
    HostSession session;
    HYPluginParams params;
    if (!LoadAndDescribe(name, fetcher.get(), info.frameCount, plugin, session, params, error)) return Fail(error);
    // Taken once the plug-in has started, which writes its file back, so a
    // first run that is cancelled does not read as saved.
    const std::string prefsBefore = ReadWhole(job.PrefsPath());
    World scratch(info.width, info.height);
    if (error = FirstRenderCycle(plugin, params, info, scratch); !error.empty()) return Fail(error);
    bool accepted = false;
    if (!RunDialog(plugin, session, params, at, job, accepted, error)) return Fail(error);
    return SaveDialogSettings(job, settings, prefsBefore, accepted);
}

namespace {

// Six frames of the source and the result side by side at half size.
bool WriteContactSheet(const std::string &source, const std::string &result, const TestClipSettings &clipSettings,
                       const std::string &sheet, std::string &error) {
    ClipDecoderPtr a = OpenClipDecoder(source, error);
    ClipDecoderPtr b = a ? OpenClipDecoder(result, error) : nullptr;
    if (!a || !b) return false;
    const int rows[] = {5, 15, 30, 60, 85, 95};
    int tw = clipSettings.width / 2, th = clipSettings.height / 2, gap = 6;
    ArgbPicture sheetPic = MakePicture(2 * tw + 3 * gap, int(std::size(rows)) * (th + gap) + gap);
    for (int y = 0; y < sheetPic.height; ++y)
        for (int x = 0; x < sheetPic.width; ++x) {
            uint8_t *p = sheetPic.Row(y) + 4 * x;
            p[0] = 0xFF, p[1] = p[2] = p[3] = 0x20;
        }
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        ArgbPicture left, right;
        if (!FetchClipFrame(*a, rows[i], tw, th, true, left, error) ||
            !FetchClipFrame(*b, rows[i], tw, th, true, right, error))
            return false;
        int top = gap + int(i) * (th + gap);
        for (int y = 0; y < th; ++y) {
            std::memcpy(sheetPic.Row(top + y) + 4 * gap, left.Row(y), left.RowBytes());
            std::memcpy(sheetPic.Row(top + y) + 4 * (2 * gap + tw), right.Row(y), right.RowBytes());
        }
    }
    return WritePng(sheet, sheetPic, error);
}

}  // namespace

int CommandDemo(const std::string &dirArg, const std::string &name) {
    std::string error;
    fs::path dir = dirArg.empty() ? fs::path("hyhost-demo") : fs::path(dirArg);
    std::error_code ec;
    fs::create_directories(dir / "Preferences", ec);
    if (ec) return Fail("cannot make the folder '" + dir.string() + "': " + ec.message());
    dir = fs::absolute(dir);
    // The demonstration settings in a file of the demo's own, used for this
    // job only: the user's own settings are never touched.
    const std::string prefs = (dir / "Preferences" / "qzvel-Prefs").string();
    std::string out;
    if (RunPrefsProgram(
            {"--file", prefs, "set", "rect=0.25,0.2,0.75,0.8", "rota=90", "clip=on", "outside=off", "color=#1E64C8"},
            out, error) != 0)
        return Fail(error);
    std::string source = (dir / "demo-source.mp4").string();
    std::string result = (dir / "demo-result.mp4").string();
    std::string sheet = (dir / "demo-contact-sheet.png").string();
    TestClipSettings clipSettings;
    clipSettings.frames = 100;
    std::fprintf(stderr, "making the test clip...\n");
    if (!WriteTestClip(source, clipSettings, error)) return Fail(error);

    RenderRequest rq;
    rq.input = source;
    rq.output = result;
    rq.plugin = name;
    rq.from = "10f";
    rq.frames = "80";
    rq.replace = Replace::Yes;
    rq.settings.file = prefs;
    rq.fadeIn = 12;
    rq.fadeOut = 12;
    RenderOutcome outcome = RunRender(rq);
    if (outcome.exitCode != 0) return Fail(outcome.error, outcome.exitCode);

    if (!WriteContactSheet(source, result, clipSettings, sheet, error)) return Fail(error);
    std::cout << "Source clip:    " << source << "\n"
              << "Result:         " << result << "  (frames 10-89 through the plug-in, 12-frame fades)\n"
              << "Contact sheet:  " << sheet << "  (source left, result right)\n"
              << "Configuration:  " << (dir / "Preferences").string() << "\n";
    return 0;
}
