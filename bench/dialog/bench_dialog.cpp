// One step of a rectangle drag in the settings window, for each video
// standard: the effect rendered at the standard's full frame size and the
// scaled copy into the preview with its outline and handles. A plain copy of
// a frame of the same size runs beside it as the yardstick.
// Arguments: the standard (0 NTSC, 1 PAL, 2 HD), odd sides (1) or not (0).
#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/DataHandling.h"
#include "config/PluginDefines.h"
#include "dialog/dlgUtils.h"
#include "render/callpixelfx.h"
#include "render/relrects.h"
#include "support/commonprocs.h"

namespace {

struct Standard {
    const char *window;
    int width;
    int height;
};
constexpr Standard kStandards[] = {{"configNTSC", 720, 480}, {"configPAL", 720, 576}, {"configHD", 960, 540}};

GWorldPtr MakeFrame(int width, int height) {
    Rect bounds{0, 0, static_cast<int16_t>(height), static_cast<int16_t>(width)};
    GWorldPtr world = AllocateRectGWorld(bounds);
    if (world == nullptr) return nullptr;
    PixMapHandle pm = GetGWorldPixMap(world);
    auto *base = reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm));
    for (int y = 0; y < height; ++y) {
        uint8_t *p = base + static_cast<ptrdiff_t>(y) * GetPixRowBytes(pm);
        for (int x = 0; x < width; ++x, p += 4) {
            p[0] = 255;
            p[1] = static_cast<uint8_t>(x);
            p[2] = static_cast<uint8_t>(y);
            p[3] = static_cast<uint8_t>(x ^ y);
        }
    }
    return world;
}

void BM_DragStep(benchmark::State &state) {
    const Standard &standard = kStandards[state.range(0)];
    pluginDataRec config{};
    ResetConfig(&config, true);
    config.rota = 2;  // a quarter turn, the costlier path
    config.outside = true;

    WindowRef window = OpenNibWindowFromCFBundle(cMyBundleID, cMyPluginName, standard.window);
    GWorldPtr source = MakeFrame(standard.width, standard.height);
    GWorldPtr preview = MakeFrame(standard.width, standard.height);
    if (window == nullptr || source == nullptr || preview == nullptr) {
        state.SkipWithError("cannot set up the dialog window or the pictures");
        return;
    }
    gConfigWorkSpace = pluginWorkSpace{};
    gConfigWorkSpace.theConfig = &config;
    gConfigWorkSpace.sourceClip = source;
    gConfigWorkSpace.theFXClip = preview;
    gConfigWorkSpace.activeRel = 1;
    gConfigWorkSpace.theWindow = window;
    ControlID clipID{PLATFORM_FOURCC('C', 'l', 'i', 'p'), 1};
    ControlRef clip = nullptr;
    GetControlByID(window, &clipID, &clip);
    Rect bounds{0, 0, 0, 0};
    if (clip) GetControlBounds(clip, &bounds);
    SetPortWindowPort(window);

    // The rectangle moves back and forth by one pixel per step, as in a drag:
    // a preview pixel, or, for the odd-sided rectangle, a frame pixel, so its
    // sides keep their lengths in the frame and a quarter turn lands on half
    // pixels.
    const bool oddSides = state.range(1) != 0;
    const Rect frame{0, 0, static_cast<int16_t>(standard.height), static_cast<int16_t>(standard.width)};
    Rect rect = Rel2Rect(SetRelRect(0.25, 0.25, 0.75, 0.75), bounds);
    const Rect &space = oddSides ? frame : bounds;
    if (oddSides) {
        rect.left = static_cast<int16_t>(standard.width / 4);
        rect.right = static_cast<int16_t>(rect.left + (standard.width / 2 | 1));
        rect.top = static_cast<int16_t>(standard.height / 4);
        // One side odd, the other even: turned a quarter about its centre,
        // the rectangle's corners fall on half pixels.
        rect.bottom = static_cast<int16_t>(rect.top + (standard.height / 2 & ~1));
        for (int shift : {0, 1}) {
            Rect moved = rect;
            OffsetRect(&moved, static_cast<short>(shift), static_cast<short>(shift));
            const Rect back = Rel2Rect(Rect2Rel(moved, frame), frame);
            if (std::memcmp(&back, &moved, sizeof back) != 0) {
                state.SkipWithError("the odd-sided rectangle does not come back whole from relative values");
                return;
            }
        }
    }

    // A step must really render: the corner outside the rectangle turns into
    // the fill colour (black), where the preview starts with the test pattern.
    PutCurrentRel(Rect2Rel(rect, space));
    CallPixelEffect(source, preview);
    const auto *corner = reinterpret_cast<const uint8_t *>(GetPixBaseAddr(GetGWorldPixMap(preview))) +
                         GetPixRowBytes(GetGWorldPixMap(preview)) * 3 + 4 * 5;
    if (corner[1] != 0 || corner[2] != 0 || corner[3] != 0) {
        state.SkipWithError("the effect did not render");
        return;
    }
    int step = 1;
    for (auto _ : state) {
        OffsetRect(&rect, static_cast<short>(step), static_cast<short>(step));
        step = -step;
        PutCurrentRel(Rect2Rel(rect, space));
        CallPixelEffect(source, preview);
        DrawFrameContents(window, bounds);
    }
    state.SetLabel(std::to_string(standard.width) + "x" + std::to_string(standard.height) +
                   (oddSides ? " odd-sided" : " even-sided"));
    state.SetBytesProcessed(state.iterations() * int64_t(standard.width) * standard.height * 4);

    gConfigWorkSpace = pluginWorkSpace{};
    DisposeWindow(window);
    DisposeGWorld(source);
    DisposeGWorld(preview);
}

void BM_FrameCopy(benchmark::State &state) {
    const Standard &standard = kStandards[state.range(0)];
    const size_t bytes = size_t(standard.width) * standard.height * 4;
    std::vector<uint8_t> from(bytes, 0x5A), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(standard.width) + "x" + std::to_string(standard.height));
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}

// Every standard with the rectangle of a drag in the preview; HD also with
// odd sides in the frame, the half-pixel turn.
BENCHMARK(BM_DragStep)->Args({0, 0})->Args({1, 0})->Args({2, 0})->Args({2, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameCopy)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const char *bundlePath = KELVARIN_PLUGINS_DIR "/Kelvarin.plugin";
    CFURLRef url =
        CFURLCreateFromFileSystemRepresentation(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(bundlePath),
                                                static_cast<CFIndex>(std::strlen(bundlePath)), true);
    if (CFBundleCreate(kCFAllocatorDefault, url) == nullptr) {
        std::fprintf(stderr, "cannot register the bundle at %s\n", bundlePath);
        return 1;
    }
    CFRelease(url);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
