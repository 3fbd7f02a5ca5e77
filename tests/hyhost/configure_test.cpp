// `hyhost configure` in-process with the real plug-in and dialog (offscreen):
// the dialog opens on the clip, Escape cancels it and Return accepts it, and
// only an accepted dialog changes the remembered settings.
#include "CommandTest.h"
#include "Commands.h"
#include "PrefsEdit.h"
#include "TestClip.h"

#include "storage/prefsloader.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

int gPokes = 0;
Qt::Key gKey = Qt::Key_Return;

// Presses gKey in whatever window is open until the dialog has gone.
void DriveDialog() {
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [] {
        ++gPokes;
        QWidget *w = QApplication::activeModalWidget();
        if (!w) {
            for (QWidget *top : QApplication::topLevelWidgets())
                if (top->isVisible()) w = top;
        }
        if (w) QTest::keyClick(w, gKey);
    });
    timer->start(100);
}

using Configure = ScratchHomeTest;

TEST_F(Configure, OnlyOkChangesTheRememberedSettings) {
    TestClipSettings clipSettings;
    clipSettings.width = 64;
    clipSettings.height = 48;
    clipSettings.frames = 30;
    clipSettings.lossless = true;
    std::string clip = (dir / "clip.mkv").string(), error;
    ASSERT_TRUE(WriteTestClip(clip, clipSettings, error)) << error;
    ConfigBlock defaults = NewDefaultConfig();
    ASSERT_TRUE(SaveConfig(defaults.get()));
    const std::string remembered = Slurp(UserPrefsPath());

    // The plug-in stays loaded and reads its settings once, so Cancel comes
    // first; OK then saves the --set values the dialog showed, unchanged.
    const struct {
        Qt::Key key;
        bool saved;
    } rows[] = {{Qt::Key_Escape, false}, {Qt::Key_Return, true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.saved ? "OK" : "Cancel");
        gKey = row.key;
        gPokes = 0;
        SetConfigureStartHook(DriveDialog);
        EXPECT_EQ(CommandConfigure(clip, "5f", SettingsRequest{{"standard=hd"}, ""}, "Kelvarin"), 0);
        SetConfigureStartHook(nullptr);
        EXPECT_GT(gPokes, 0) << "the dialog was shown";
        ConfigBlock c = NewDefaultConfig();
        ASSERT_TRUE(ReadConfig(c.get()));
        EXPECT_EQ(c->mediaType == 3, row.saved);
        if (!row.saved) EXPECT_TRUE(Slurp(UserPrefsPath()) == remembered) << "Cancel leaves the file as it was";
    }

    EXPECT_NE(CommandConfigure(clip, "30f", {}, "Kelvarin"), 0) << "a frame outside the clip is refused";
    EXPECT_NE(CommandConfigure((dir / "none.mkv").string(), "0", {}, "Kelvarin"), 0);
}

}  // namespace
