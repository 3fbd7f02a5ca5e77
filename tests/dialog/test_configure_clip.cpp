// `hyhost configure` in-process on a real clip (offscreen, driven from the
// start hook): the clip slider spans the clip's frames, opens on the --at
// frame, and its text tells frame number and timecode at both ends.
#include "CommandTest.h"
#include "Commands.h"
#include "TestClip.h"

#include <QApplication>
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <tuple>

namespace {

struct Seen {
    int minimum = -1, maximum = -1, value = -1;
    QString atOpening, atStart;
};
Seen gSeen;

// Reads the slider once the settings window is up, drags it to the first
// frame, and cancels.
void Inspect() {
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer] {
        QWidget *window = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->isVisible() && top->objectName().startsWith(QLatin1String("config"))) window = top;
        auto *slider = window ? window->findChild<QSlider *>("clipSlider") : nullptr;
        auto *label = window ? window->findChild<QLabel *>("clipPosition") : nullptr;
        if (!slider || !label) return;
        timer->stop();
        gSeen = {slider->minimum(), slider->maximum(), slider->value(), label->text(), {}};
        slider->setValue(0);
        gSeen.atStart = label->text();
        QTest::keyClick(window, Qt::Key_Escape);
    });
    timer->start(50);
}

using ConfigureOnAClip = ScratchHomeTest;

TEST_F(ConfigureOnAClip, SliderSpansTheClipAndOpensOnTheAtFrame) {
    const TestClipSettings settings{.width = 64, .height = 48, .frames = 40, .lossless = true};
    const std::string clip = (dir / "clip.mkv").string();
    std::string error;
    ASSERT_TRUE(WriteTestClip(clip, settings, error)) << error;

    SetConfigureStartHook(Inspect);
    EXPECT_EQ(CommandConfigure(clip, "39f", {}, "Kelvarin"), 0);
    SetConfigureStartHook(nullptr);
    // NTSC, the default standard: 30 timecode frames a second.
    EXPECT_EQ(std::tuple(gSeen.minimum, gSeen.maximum, gSeen.value), std::tuple(0, 39, 39));
    EXPECT_EQ(gSeen.atOpening, QStringLiteral("39/39  00:00:01:09"));
    EXPECT_EQ(gSeen.atStart, QStringLiteral("0/39  00:00:00:00"));
}

}  // namespace
