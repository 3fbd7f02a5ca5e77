// `hyhost configure` in-process with the real plug-in and dialog (offscreen):
// the dialog opens on the clip, Escape cancels it and Return accepts it, and
// only an accepted dialog changes the remembered settings. And the private
// settings folder of a job that was killed is removed by the next job.
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

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A job killed outright cannot remove its private settings folder; the next
// job does, but never the folder of a job that may still run.
TEST_F(Configure, TheNextJobRemovesTheFolderOfAKilledJob) {
    const char *oldTemp = std::getenv("TMPDIR");
    const std::string savedTemp = oldTemp ? oldTemp : "";
    setenv("TMPDIR", dir.c_str(), 1);
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    if (child == 0) {
        JobSettings job;
        std::string error;
        int status = 0;
        if (job.Prepare(SettingsRequest{{"rota=cw90"}, ""}, false, 64, 48, error, status)) {
            const std::string folder = std::filesystem::path(job.PrefsPath()).parent_path().string();
            if (write(report[1], folder.data(), folder.size())) pause();
        }
        _exit(1);
    }
    close(report[1]);
    char buffer[4096];
    const ssize_t n = read(report[0], buffer, sizeof buffer);
    close(report[0]);
    ASSERT_GT(n, 0) << "the job made its folder";
    const std::string folder(buffer, std::size_t(n));

    // Held: the lock of a job whose process this one cannot see.
    const struct {
        const char *what;
        bool killed, held, kept;
    } rows[] = {{"running", false, false, true}, {"killed, held", true, true, true}, {"killed", true, false, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        if (row.killed && kill(child, SIGKILL) == 0) waitpid(child, nullptr, 0);
        const int holder = row.held ? open(folder.c_str(), O_RDONLY | O_DIRECTORY) : -1;
        if (holder >= 0) flock(holder, LOCK_EX);
        {
            JobSettings next;
            std::string error;
            int status = 0;
            EXPECT_TRUE(next.Prepare(SettingsRequest{{"rota=cw90"}, ""}, false, 64, 48, error, status)) << error;
        }
        if (holder >= 0) close(holder);
        EXPECT_EQ(std::filesystem::exists(folder), row.kept);
    }
    if (kill(child, SIGKILL) == 0) waitpid(child, nullptr, 0);
    if (oldTemp)
        setenv("TMPDIR", savedTemp.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

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
        EXPECT_TRUE(row.saved || Slurp(UserPrefsPath()) == remembered) << "Cancel leaves the file as it was";
    }

    EXPECT_NE(CommandConfigure(clip, "30f", {}, "Kelvarin"), 0) << "a frame outside the clip is refused";
    EXPECT_NE(CommandConfigure((dir / "none.mkv").string(), "0", {}, "Kelvarin"), 0);
}

}  // namespace
