// hyhost: runs HY video plug-ins on real video files.
#include "Commands.h"
#include "KelvarinVersion.h"
#include "PluginHost.h"
#include "Progress.h"
#include "Options.h"
#include "Render.h"

#include <CLI/CLI.hpp>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <cstdio>
#include <exception>
#include <iostream>

namespace {

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

// The encoder a render will use, for checking the options given for it.
const AVCodec *VideoEncoderFor(const RenderRequest &rq) {
    if (!rq.encoder.codec.empty()) return avcodec_find_encoder_by_name(rq.encoder.codec.c_str());
    if (rq.lossless) return avcodec_find_encoder(AV_CODEC_ID_FFV1);
    const AVCodec *c = avcodec_find_encoder_by_name("libx264");
    return c ? c : avcodec_find_encoder(AV_CODEC_ID_MPEG4);
}

// Encoder values checked before anything is opened: one line, exit 2.
bool CheckEncoderOptions(RenderRequest &rq, const std::string &bitRate, const std::string &audioBitRate,
                         std::string &error) {
    EncoderOptions &e = rq.encoder;
    // The JPEG encoder takes full-range pictures only; the host makes video range.
    if (e.codec == "mjpeg")
        return error = "--codec mjpeg is not supported: it takes only full-range JPEG pictures; e.g. --codec libx264",
               false;
    if (!KnownPreset(rq.lossless && e.codec.empty() ? "ffv1" : e.codec, e.preset, error)) return false;
    const AVCodec *video = VideoEncoderFor(rq);
    if (!e.codec.empty() && (!video || video->type != AVMEDIA_TYPE_VIDEO))
        return error = BadValue("--codec", e.codec, "a video encoder", "libx264, libvpx-vp9, mpeg4 or ffv1"), false;
    if (e.crf >= 0 && video &&
        (!video->priv_class ||
         !av_opt_find(const_cast<AVClass **>(&video->priv_class), "crf", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)))
        return error = "--crf: the " + std::string(video->name) +
                       " encoder has no constant quality; e.g. --bitrate 4M, or --codec libx264 --crf 23",
               false;
    if (!bitRate.empty() && !ParseBitRate(bitRate, e.bitRate))
        return error = BadValue("--bitrate", bitRate, "a bit rate", "4M or 2500k"), false;
    if (!audioBitRate.empty() && !ParseBitRate(audioBitRate, e.audioBitRate))
        return error = BadValue("--audio-bitrate", audioBitRate, "a bit rate", "192k"), false;
    if (!e.pixelFormat.empty() && av_get_pix_fmt(e.pixelFormat.c_str()) == AV_PIX_FMT_NONE)
        return error = BadValue("--pix-fmt", e.pixelFormat, "a pixel format", "yuv420p"), false;
    if (!e.audioCodec.empty() && e.audioCodec != "copy") {
        const AVCodec *a = avcodec_find_encoder_by_name(e.audioCodec.c_str());
        if (!a || a->type != AVMEDIA_TYPE_AUDIO)
            return error = BadValue("--audio-codec", e.audioCodec, "an audio encoder", "aac, libopus, flac or copy"),
                   false;
    }
    return true;
}

// Options every command that runs the plug-in takes for its settings.
void AddSettingsOptions(CLI::App *command, SettingsRequest &settings) {
    command->add_option("--set", settings.sets,
                        "KEY=VALUE for this job only (the keys of kelvarin-prefs set; also color=red or 0xRRGGBB, "
                        "rect=X:Y:W:H in pixels, rota=ccw90|cw90); the remembered settings are neither read nor "
                        "changed");
    command->add_option("--settings", settings.file,
                        "Settings for this job from a file kelvarin-prefs writes, or its show --json output");
}

void PrintSummary(const RenderRequest &rq, const RenderOutcome &outcome) {
    if (rq.stats)
        std::fprintf(stderr, "stats: frames=%lld selection=%lld wall=%.3f plugin=%.3f plugin_share=%.1f%% fps=%.2f\n",
                     (long long)outcome.framesWritten, (long long)outcome.selectionCount, outcome.wallSeconds,
                     outcome.pluginSeconds,
                     outcome.wallSeconds > 0 ? 100.0 * outcome.pluginSeconds / outcome.wallSeconds : 0.0,
                     outcome.wallSeconds > 0 ? outcome.framesWritten / outcome.wallSeconds : 0.0);
    if (rq.quiet) return;
    const double fps = outcome.wallSeconds > 0 ? outcome.framesWritten / outcome.wallSeconds : 0;
    const double speed = outcome.wallSeconds > 0 && outcome.frameRate > 0 ? fps / outcome.frameRate : 0;
    std::printf("Wrote %s: %lld frames, %lld through the plug-in (from frame %lld); %s in %s, %.1f fps, %.2fx.\n",
                rq.output.c_str(), (long long)outcome.framesWritten, (long long)outcome.selectionCount,
                (long long)outcome.selectionStart, SizeText(outcome.outputBytes).c_str(),
                ClockText(outcome.wallSeconds).c_str(), fps, speed);
}

const char *const kPreviewHelp =
    "Preview quality, as the editor previews: the plug-in may take low-quality source frames for pictures 259 "
    "lines high or less, and passes no audio (the source's audio is kept as it is; see --preview-mute)";

// Everything the command line gives, filled by the parser.
struct CommandLine {
    std::string plugin = "Kelvarin";
    bool json = false, list = false;
    RenderRequest rq;
    std::string size, bitRate, audioBitRate;
    int64_t fromFrame = -1;
    bool replace = false, keep = false;
    std::string input, output, at = "0f", standard, dir;
    SettingsRequest settings;
    CLI::App *info = nullptr, *render = nullptr, *placeholder = nullptr, *configure = nullptr, *demo = nullptr;
};

void AddInfo(CLI::App &app, CommandLine &c) {
    c.info = app.add_subcommand("info", "Describe a plug-in: type, flags, group, button, sliders, memory");
    c.info->add_option("PLUGIN", c.plugin, "Bundle path or name in the plug-in folders (default Kelvarin)");
    c.info->add_flag("--json", c.json, "As JSON");
    c.info->add_flag("--list", c.list, "List every plug-in bundle found and where, in search order");
}

void AddEncoderOptions(CLI::App *render, CommandLine &c) {
    EncoderOptions &e = c.rq.encoder;
    render->add_option("--codec", e.codec, "Video encoder (default libx264, else mpeg4)");
    render->add_option("--preset", e.preset, "Encoder speed preset (e.g. ultrafast, medium)");
    render->add_option("--crf", e.crf, "Constant quality (libx264: 0-51, 23 by default)")->check(CLI::Range(0, 63));
    render->add_option("--bitrate", c.bitRate, "Video bit rate instead of a quality (e.g. 4M, 2500k)");
    render->add_option("--pix-fmt", e.pixelFormat, "Pixel format of the video (e.g. yuv420p, yuv444p)");
    render->add_option("--audio-codec", e.audioCodec, "Audio encoder (e.g. aac, libopus, flac) or copy");
    render->add_option("--audio-bitrate", c.audioBitRate, "Audio bit rate (e.g. 192k)");
    auto *yes = render->add_flag("-y", c.replace, "Replace an existing output without asking");
    render->add_flag("-n", c.keep, "Never replace an existing output")->excludes(yes);
    render->add_flag("--lossless", c.rq.lossless, "FFV1 video and PCM audio, bit-exact (use a .mkv output)");
}

void AddRender(CLI::App &app, CommandLine &c) {
    RenderRequest &rq = c.rq;
    auto *render = c.render =
        app.add_subcommand("render", "Render a clip, its selection through the plug-in, to a new file");
    render->add_option("INPUT", rq.input, "The source clip")->required();
    render->add_option("-o,--output", rq.output, "The new file (.mp4, .mkv, .webm, ...)")->required();
    auto *fromOpt =
        render->add_option("--from", rq.from, "Start of the selection: a time (4.5, 0:04.5) or a frame (120f)");
    render->add_option("--from-frame", c.fromFrame, "Start of the selection as a frame number")
        ->check(CLI::NonNegativeNumber)
        ->excludes(fromOpt);
    auto *framesOpt = render->add_option("--frames", rq.frames, "Length of the selection in frames");
    render->add_option("--duration", rq.duration, "Length of the selection as a time")->excludes(framesOpt);
    render->add_option("--fade-in", rq.fadeIn, "Frames over which the effect fades in")->check(CLI::NonNegativeNumber);
    render->add_option("--fade-out", rq.fadeOut, "Frames over which the effect fades out")
        ->check(CLI::NonNegativeNumber);
    render->add_flag("--preview", rq.preview, kPreviewHelp);
    render->add_flag("--preview-mute", rq.previewMute, "With --preview: silence the selection's audio");
    render->add_option("--size", c.size, "Output size: 1280x720, hd720, or 1280x-2 to keep the aspect");
    AddEncoderOptions(render, c);
    render->add_option("--progress", rq.progress, "Write key=value progress blocks to FILE or pipe:1");
    auto *smartOpt = render->add_flag_callback(
        "--smart", [&rq] { rq.smart = SmartMode::On; },
        "Copy the GOPs outside the selection, re-encode only the ones it touches (H.264; the default where "
        "possible); say why when it cannot be done");
    render
        ->add_flag_callback(
            "--no-smart", [&rq] { rq.smart = SmartMode::Off; }, "Re-encode the whole clip")
        ->excludes(smartOpt);
    render->add_flag("--quiet", rq.quiet, "No progress or summary");
    render->add_flag("--stats", rq.stats, "Print timing: wall time and the plug-in's share");
    render
        ->add_option("--stream", rq.stream,
                     "Video stream to render, by its index in the file (default: the default one)")
        ->check(CLI::NonNegativeNumber);
    render->add_option("--plugin", rq.plugin, "Plug-in bundle path or name (default Kelvarin)");
    AddSettingsOptions(render, rq.settings);
}

void AddOthers(CLI::App &app, CommandLine &c) {
    auto *placeholder = c.placeholder =
        app.add_subcommand("placeholder", "Render the plug-in's placeholder frame to a PNG");
    placeholder->add_option("INPUT", c.input, "The source clip")->required();
    placeholder->add_option("-o,--output", c.output, "The PNG file")->required();
    placeholder->add_option("--at", c.at, "Frame of the clip: a time (4.5) or a frame (120f); default the first");
    placeholder->add_option("--size", c.size, "Picture size: 1280x720, hd720, or 1280x-2 (default: the clip's)");
    placeholder->add_option("--plugin", c.plugin, "Plug-in bundle path or name (default Kelvarin)");
    AddSettingsOptions(placeholder, c.settings);

    auto *configure = c.configure = app.add_subcommand(
        "configure",
        "Open the plug-in's settings dialog on a frame of a clip; OK saves into the remembered settings, "
        "or into the --settings file");
    configure->add_option("INPUT", c.input, "The clip")->required();
    configure->add_option("--at", c.at, "Frame shown first: a time (4.5) or a frame (120f); default the first");
    configure->add_option("--standard", c.standard, "Video standard of the dialog first: ntsc, pal or hd")
        ->check(CLI::IsMember({"ntsc", "pal", "hd"}));
    configure->add_option("--plugin", c.plugin, "Plug-in bundle path or name (default Kelvarin)");
    AddSettingsOptions(configure, c.settings);

    c.demo = app.add_subcommand("demo", "Render a built-in test clip with a demonstration configuration");
    c.demo->add_option("-o,--output", c.dir, "Folder for the results (default ./hyhost-demo)");
    c.demo->add_option("--plugin", c.plugin, "Plug-in bundle path or name (default Kelvarin)");
}

// Values the parser takes as text, checked before anything is opened.
bool CheckValues(CommandLine &c, SizeRequest &size, std::string &error) {
    // Given but empty is a mistake (an unset shell variable), never "from the start".
    for (const char *name : {"--from", "--frames", "--duration"})
        if (c.render->count(name) > 0 && c.render->get_option(name)->as<std::string>().empty())
            return error = BadValue(name, "", "a time or a frame", "4.5 or 120f"), false;
    for (CLI::App *command : {c.placeholder, c.configure})
        if (command->count("--at") > 0 && c.at.empty())
            return error = BadValue("--at", "", "a time or a frame", "4.5 or 120f"), false;
    if (!c.size.empty() && !ParseSizeRequest(c.size, size))
        return error = BadValue("--size", c.size, "a size", "1280x720, hd720 or 1280x-2"), false;
    return !*c.render || CheckEncoderOptions(c.rq, c.bitRate, c.audioBitRate, error);
}

int Render(CommandLine &c, const SizeRequest &size) {
    RenderRequest &rq = c.rq;
    if (c.fromFrame >= 0) rq.from = std::to_string(c.fromFrame) + "f";
    rq.size = size;
    rq.replace = c.replace ? Replace::Yes : c.keep ? Replace::No : Replace::Ask;
    RenderOutcome outcome = RunRender(rq);
    if (outcome.exitCode != 0) return Fail(outcome.error, outcome.exitCode);
    PrintSummary(rq, outcome);
    return 0;
}

}  // namespace

int main(int argc, char **argv) try {
    // FFmpeg's own messages would drown the one-line ones; --verbose shows them.
    av_log_set_level(AV_LOG_QUIET);
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--verbose") av_log_set_level(AV_LOG_WARNING);
    CLI::App app{
        "hyhost runs HY video plug-ins (Kelvarin by default) on video files.\n"
        "Times are seconds as ffmpeg takes them (90, 1:30, 4.5, 00:01:02.040); frames have an f "
        "(120f).\nExit status: 0 done, 1 failed, 2 bad arguments, 130 interrupted (128+N for signal N)."};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("hyhost " KELVARIN_VERSION));
    app.fallthrough();  // --verbose also after the command's name
    bool verbose = false;
    app.add_flag("--verbose", verbose, "Show FFmpeg's own messages");
    CommandLine c;
    AddInfo(app, c);
    AddRender(app, c);
    AddOthers(app, c);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::string what = e.what();
        return Fail(what + " (see hyhost --help)", kExitBadArguments);
    }

    SizeRequest size;
    if (std::string error; !CheckValues(c, size, error)) return Fail(error, kExitBadArguments);
    if (*c.info) return c.list ? ListPlugins() : CommandInfo(c.plugin, c.json);
    if (*c.placeholder) return CommandPlaceholder(c.input, c.output, c.at, c.plugin, size, c.settings);
    if (*c.configure) {
        if (!c.standard.empty()) c.settings.sets.insert(c.settings.sets.begin(), "standard=" + c.standard);
        return CommandConfigure(c.input, c.at, c.settings, c.plugin);
    }
    if (*c.demo) return CommandDemo(c.dir, c.plugin);
    return Render(c, size);
} catch (const std::exception &e) {
    return Fail(e.what());
}
