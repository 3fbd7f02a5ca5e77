// hyhost: runs HY video plug-ins on real video files.
#include "Commands.h"
#include "KelvarinVersion.h"
#include "PluginHost.h"
#include "Render.h"

#include <CLI/CLI.hpp>

extern "C" {
#include <libavutil/log.h>
}

#include <charconv>
#include <cstdio>
#include <exception>
#include <iostream>

namespace {

bool ParseSize(const std::string &text, int &width, int &height) {
    unsigned w = 0, h = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%ux%u%c", &w, &h, &extra) != 2 || w == 0 || h == 0 || w > 16384 || h > 16384)
        return false;
    width = int(w);
    height = int(h);
    return true;
}

// Every bundle on the search path, where it is, and which one a name finds.
int ListPlugins() {
    std::vector<FoundBundle> bundles = ListPluginBundles();
    for (const FoundBundle &b : bundles)
        std::printf("%-12s %s  (%s%s)\n", b.name.c_str(), b.path.c_str(), b.origin.c_str(),
                    b.hidden ? "; hidden by an earlier one" : "");
    if (bundles.empty()) {
        std::string folders;
        for (const std::string &f : PluginFolders()) folders += "\n  " + f;
        std::fprintf(stderr, "hyhost: no plug-in bundles in:%s\n", folders.c_str());
    }
    return 0;
}

// Option values that no conversion may quietly turn into another number.
const CLI::Validator kNotEmpty(
    [](std::string &text) {
        return text.empty() ? std::string("an empty value is not a frame or a time") : std::string();
    },
    "FRAME|TIME");
const CLI::Validator kFrameNumber(
    [](std::string &text) {
        int64_t v = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (ec == std::errc::result_out_of_range) return "'" + text + "' is out of range";
        if (ec != std::errc() || end != text.data() + text.size()) return "'" + text + "' is not a frame number";
        return std::string();
    },
    "FRAME");

// The speed presets of libx264 and libx265, the encoders --preset is for.
bool KnownPreset(const std::string &codec, const std::string &preset, std::string &error) {
    if (preset.empty() || !(codec.empty() || codec == "libx264" || codec == "libx265")) return true;
    static const char *const kPresets[] = {"ultrafast", "superfast", "veryfast", "faster",   "fast",
                                           "medium",    "slow",      "slower",   "veryslow", "placebo"};
    for (const char *p : kPresets)
        if (preset == p) return true;
    error = "--preset '" + preset +
            "' is not a preset; use ultrafast, superfast, veryfast, faster, fast, medium, slow, slower, veryslow "
            "or placebo";
    return false;
}

}  // namespace

int main(int argc, char **argv) try {
    // FFmpeg's own messages would drown the one-line ones; --verbose shows them.
    av_log_set_level(AV_LOG_QUIET);
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--verbose") av_log_set_level(AV_LOG_WARNING);
    CLI::App app{"hyhost runs HY video plug-ins (Kelvarin by default) on video files."};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("hyhost " KELVARIN_VERSION));
    app.fallthrough();  // --verbose also after the command's name
    bool verbose = false;
    app.add_flag("--verbose", verbose, "Show FFmpeg's own messages");
    std::string plugin = "Kelvarin";

    bool json = false, list = false;
    auto *info = app.add_subcommand("info", "Describe a plug-in: type, flags, group, button, sliders, memory");
    info->add_option("PLUGIN", plugin, "Bundle path or name in the plug-in folders (default Kelvarin)");
    info->add_flag("--json", json, "As JSON");
    info->add_flag("--list", list, "List every plug-in bundle found and where, in search order");

    RenderRequest rq;
    std::string size;
    auto *render = app.add_subcommand("render", "Render a clip, its selection through the plug-in, to a new file");
    render->add_option("INPUT", rq.input, "The source clip")->required();
    render->add_option("-o,--output", rq.output, "The new file (.mp4, .mkv, ...)")->required();
    render->add_option("--from", rq.from, "First frame of the selection: a frame number or a time (4.5s, 0:04.5)")
        ->check(kNotEmpty);
    auto *framesOpt = render->add_option("--frames", rq.frames, "Length of the selection in frames");
    render->add_option("--duration", rq.duration, "Length of the selection as a time")->excludes(framesOpt);
    render->add_option("--fade-in", rq.fadeIn, "Frames over which the effect fades in")->check(CLI::NonNegativeNumber);
    render->add_option("--fade-out", rq.fadeOut, "Frames over which the effect fades out")
        ->check(CLI::NonNegativeNumber);
    render->add_flag("--preview", rq.preview, "Preview quality (the plug-in passes no audio)");
    render->add_option("--size", size, "Output size WxH (default: the clip's)");
    render->add_option("--codec", rq.codec, "Video encoder (default libx264, else mpeg4)");
    render->add_option("--preset", rq.preset, "Encoder speed preset (e.g. ultrafast, medium)");
    render->add_flag("--lossless", rq.lossless, "FFV1 video and PCM audio, bit-exact (use a .mkv output)");
    bool smart = false, noSmart = false;
    auto *smartOpt =
        render->add_flag("--smart", smart,
                         "Copy the GOPs outside the selection, re-encode only the ones it touches (H.264; the default "
                         "where possible); say why when it cannot be done");
    render->add_flag("--no-smart", noSmart, "Re-encode the whole clip")->excludes(smartOpt);
    render->add_flag("--quiet", rq.quiet, "No progress or summary");
    render->add_flag("--stats", rq.stats, "Print timing: wall time and the plug-in's share");
    render
        ->add_option("--stream", rq.stream,
                     "Video stream to render, by its index in the file (default: the default one)")
        ->check(CLI::NonNegativeNumber);
    render->add_option("--plugin", rq.plugin, "Plug-in bundle path or name (default Kelvarin)");

    std::string input, output;
    int64_t at = 0;
    auto *placeholder = app.add_subcommand("placeholder", "Render the plug-in's placeholder frame to a PNG");
    placeholder->add_option("INPUT", input, "The source clip")->required();
    placeholder->add_option("-o,--output", output, "The PNG file")->required();
    placeholder->add_option("--at", at, "Frame of the clip (default 0)")->check(kFrameNumber);
    placeholder->add_option("--size", size, "Picture size WxH (default: the clip's)");
    placeholder->add_option("--plugin", plugin, "Plug-in bundle path or name (default Kelvarin)");

    std::string standard;
    auto *configure = app.add_subcommand("configure", "Open the plug-in's settings dialog on a frame of a clip");
    configure->add_option("INPUT", input, "The clip")->required();
    configure->add_option("--at", at, "Frame shown first (default 0)")->check(kFrameNumber);
    configure->add_option("--standard", standard, "Video standard of the dialog first: ntsc, pal or hd")
        ->check(CLI::IsMember({"ntsc", "pal", "hd"}));
    configure->add_option("--plugin", plugin, "Plug-in bundle path or name (default Kelvarin)");

    std::string dir;
    auto *demo = app.add_subcommand("demo", "Render a built-in test clip with a demonstration configuration");
    demo->add_option("-o,--output", dir, "Folder for the results (default ./hyhost-demo)");
    demo->add_option("--plugin", plugin, "Plug-in bundle path or name (default Kelvarin)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::string what = e.what();
        return Fail(what + " (see hyhost --help)", 2);
    }

    // The JPEG encoder takes full-range pictures only; the host makes video range.
    if (*render && rq.codec == "mjpeg")
        return Fail("--codec " + rq.codec +
                        " is not supported: it takes only full-range JPEG pictures; use libx264, "
                        "mpeg4 or ffv1",
                    2);
    if (std::string e; *render && !KnownPreset(rq.lossless && rq.codec.empty() ? "ffv1" : rq.codec, rq.preset, e))
        return Fail(e, 2);
    int width = 0, height = 0;
    if (!size.empty() && !ParseSize(size, width, height))
        return Fail("--size '" + size + "' is not WIDTHxHEIGHT, e.g. 1280x720", 2);

    if (*info) return list ? ListPlugins() : CommandInfo(plugin, json);
    if (*placeholder) return CommandPlaceholder(input, output, at, plugin, width, height);
    if (*configure) return CommandConfigure(input, at, standard, plugin);
    if (*demo) return CommandDemo(dir, plugin);

    rq.smart = smart ? SmartMode::On : noSmart ? SmartMode::Off : SmartMode::Auto;
    rq.width = width;
    rq.height = height;
    RenderOutcome outcome = RunRender(rq);
    if (outcome.exitCode != 0) return Fail(outcome.error, outcome.exitCode);
    if (rq.stats)
        std::fprintf(stderr, "stats: frames=%lld selection=%lld wall=%.3f plugin=%.3f plugin_share=%.1f%% fps=%.2f\n",
                     (long long)outcome.framesWritten, (long long)outcome.selectionCount, outcome.wallSeconds,
                     outcome.pluginSeconds,
                     outcome.wallSeconds > 0 ? 100.0 * outcome.pluginSeconds / outcome.wallSeconds : 0.0,
                     outcome.wallSeconds > 0 ? outcome.framesWritten / outcome.wallSeconds : 0.0);
    if (!rq.quiet)
        std::printf("Wrote %s: %lld frames, %lld through the plug-in (from frame %lld).\n", rq.output.c_str(),
                    (long long)outcome.framesWritten, (long long)outcome.selectionCount,
                    (long long)outcome.selectionStart);
    return 0;
} catch (const std::exception &e) {
    return Fail(e.what());
}
