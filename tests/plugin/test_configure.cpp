// The dialog entry on a real (offscreen) window: the workspace it prepares,
// the preview picture's life, the caller's picture left alone. The dialog is
// closed with its Cancel command as soon as its window exists.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <cstring>
#include <tuple>

#include "Pictures.h"
#include "TestEnv.h"
#include "TestHost.h"
#include "config/PluginDefines.h"
#include "config/pascalFX.h"
#include "host/iMovieGlue.h"
#include "support/commonprocs.h"

namespace {

void SendCancelWhenOpen(pluginWorkSpace *seen, Rect *fxBounds) {
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, seen, fxBounds] {
        if (gConfigWorkSpace.theWindow == nullptr) return;
        *seen = gConfigWorkSpace;  // the workspace while the dialog runs
        if (seen->theFXClip) *fxBounds = GetPortRect(seen->theFXClip);
        HICommand command{};
        command.commandID = kHICommandCancel;
        EventRef event = nullptr;
        CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &event);
        SetEventParameter(event, kEventParamDirectObject, typeHICommand, sizeof command, &command);
        SendEventToEventTarget(event, GetWindowEventTarget(gConfigWorkSpace.theWindow));
        ReleaseEvent(event);
        timer->stop();
        timer->deleteLater();
    });
    timer->start(10);
}

}  // namespace

TEST(ConfigureEntry, PreparesTheWorkspaceAndCleansUp) {
    ScopedPrefsFolder prefs;
    int argc = 1;
    char name[] = "plugin_configure";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8 *>(KELVARIN_TEST_BUNDLE), std::strlen(KELVARIN_TEST_BUNDLE), true);
    ASSERT_NE(CFBundleCreate(nullptr, url), nullptr);
    CFRelease(url);

    TestHost host(16, 8);
    host.Send(kPlugDrawIcon);
    ASSERT_NE(gPascalData, nullptr);
    const pluginDataRec before = *gPascalData;
    GWorldPtr frame = MakeGWorld(720, 480);
    TestHost::Paint(frame, 0);

    // The last render's selection starts at 40; the button's frame is 42.
    gMostRecentStartFrame = 40;
    struct Case {
        SInt32 frames, wantMin, wantPosition, wantMax;
    };
    for (const Case c : {Case{0, 42, 0, 0}, Case{-5, 42, 0, 0}, Case{2, 42, 0, 0}, Case{10, 40, 2, 9}}) {
        pluginWorkSpace seen{};
        Rect fx{};
        gConfigWorkSpace.theWindow = nullptr;
        SendCancelWhenOpen(&seen, &fx);
        ConfigurePlugIn(gPascalData, frame, &host.params, 42, c.frames);
        EXPECT_EQ(std::tuple(seen.theConfig, seen.iMovieParams, seen.sourceClip),
                  std::tuple(gPascalData, &host.params, frame));
        EXPECT_EQ(std::tuple(seen.minFrameIndex, seen.currFrameIndex, seen.maxFrameIndex),
                  std::tuple(c.wantMin, c.wantPosition, c.wantMax))
            << c.frames;
        EXPECT_EQ(seen.activeRel, 1);
        ASSERT_NE(seen.theFXClip, nullptr);
        EXPECT_TRUE(SameRect(fx, R(0, 0, 480, 720)));
        EXPECT_EQ(gTheConfig, gPascalData);
        EXPECT_EQ(gConfigWorkSpace.theFXClip, nullptr);  // disposed
        EXPECT_EQ(gConfigWorkSpace.sourceClip, frame);   // the caller's
        // Cancel leaves the shared record as it was.
        EXPECT_EQ(std::memcmp(gPascalData, &before, sizeof before), 0);
    }
    // The control classes are gone: registering them again works.
    ToolboxObjectClassRef ref = nullptr;
    EXPECT_EQ(RegisterToolboxObjectClass(CFSTR("com.qmz.varnolex.clip"), nullptr, 0, nullptr, nullptr, nullptr, &ref),
              noErr);
    if (ref) UnregisterToolboxObjectClass(ref);
    DisposeGWorld(frame);
    ResetGlueGlobals();
}
