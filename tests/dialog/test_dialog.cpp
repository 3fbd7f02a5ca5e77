// The settings dialog opened through the plug-in's entry point by a test
// host, driven with simulated mouse and keyboard from inside its modal loop.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "Pictures.h"
#include "TestEnv.h"
#include "TestHost.h"
#include "config/PluginDefines.h"
#include "dialog/configdlghandler.h"
#include "host/iMovieGlue.h"
#include "storage/prefsloader.h"

// Every call of SaveConfig from the plug-in's code passes through here (the
// test is linked with --wrap for it), so saves can be counted exactly.
extern "C" Boolean __real__Z10SaveConfigP13pluginDataRec(pluginDataPtr theConfig);
static int gSaves = 0;
extern "C" Boolean __wrap__Z10SaveConfigP13pluginDataRec(pluginDataPtr theConfig) {
    ++gSaves;
    return __real__Z10SaveConfigP13pluginDataRec(theConfig);
}

// Stands in for the desktop's document opener: "Help" must not start a real viewer.
class OpenerLog : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    std::string opened;
public slots:
    void open(const QUrl &url) { opened = url.toLocalFile().toStdString(); }
};

namespace {

pluginWorkSpace &ws = gConfigWorkSpace;
TestHost *gHost = nullptr;
OpenerLog *gOpener = nullptr;
std::string gTemp, gBundle;  // the private preferences folder; a copy of the built bundle in it

// Steps run one per tick of the event loop, inside the dialog's modal (and
// nested) loops too; a step returning false is tried again on the next tick.
// One timer: a tick left pending by a test must not run beside the next one's.
std::deque<std::function<bool()>> gSteps;
QTimer *gTicker = nullptr;
void Tick() {
    if (gSteps.empty()) return;
    auto step = std::move(gSteps.front());
    gSteps.pop_front();
    gTicker->start();  // first: the step may enter a nested loop
    if (!step()) gSteps.push_front(std::move(step));
}

void Do(std::function<void()> action) {
    gSteps.push_back([action = std::move(action)] { return action(), true; });
}

void Wait(std::function<bool()> condition) {
    gSteps.push_back([condition = std::move(condition), tries = 0]() mutable {
        if (condition()) return true;
        if (++tries <= 2000) return false;
        ADD_FAILURE() << "a scripted wait timed out";
        return true;
    });
}

QWidget *TopWindow(const QString &objectName) {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == objectName) return w;
    return nullptr;
}

template <typename T>
T *Modal() {
    return qobject_cast<T *>(QApplication::activeModalWidget());
}

// Queues `act` on the window of that name, once it is up.
void On(const char *name, std::function<void(QWidget *)> act) {
    Wait([name] { return TopWindow(name) != nullptr && ws.theFrameCtrl != nullptr; });
    Do([name, act = std::move(act)] { act(TopWindow(name)); });
}
void Close(const char *name) {
    On(name, [](QWidget *w) { QTest::keyClick(w, Qt::Key_Escape); });
}

QWidget *Control(QWidget *window, const char *signature, int id) {
    for (QWidget *w : window->findChildren<QWidget *>())
        if (w->property("controlSignature").toString() == QLatin1String(signature) &&
            w->property("controlID").toInt() == id)
            return w;
    return nullptr;
}

// As the user: the pop-up's pick, the space bar on a check box, a click.
void ChooseItem(QWidget *combo, int index) {
    qobject_cast<QComboBox *>(combo)->setCurrentIndex(index);
    emit qobject_cast<QComboBox *>(combo)->activated(index);
}
void Toggle(QWidget *checkBox) { QTest::keyClick(checkBox, Qt::Key_Space); }
void Click(QWidget *button) { QTest::mouseClick(button, Qt::LeftButton); }
QString Text(QWidget *label) { return qobject_cast<QLabel *>(label)->text(); }

// The NTSC layout's preview (plugin/resources/kelvarin.nib/configNTSC.ui).
const Rect kNTSCPreview = R(16, 16, 336, 496);

// The rectangle `r`, in pixels of the NTSC preview, as the record stores it.
relRect InPreview(const Rect &r) {
    return SetRelRect((r.left - 16) / 480.0, (r.top - 16) / 320.0, (r.right - 16) / 480.0, (r.bottom - 16) / 320.0);
}

Rect PreviewBounds() {
    Rect b{0, 0, 0, 0};
    GetControlBounds(ws.theFrameCtrl, &b);
    return b;
}

// A pixel of the settings window's port as 0xAARRGGBB.
uint32_t PortPixel(int x, int y) { return PixelARGB(GetWindowPort(ws.theWindow), x, y); }

// The outline is drawn on the rectangle's edge in frameStartColor, clipped to
// the preview; the preview's border stays black.
void ExpectOutline(const Rect &r, const char *what) {
    const Rect &f = kNTSCPreview;
    const RGBColor c = gPascalData->frameStartColor;
    const uint32_t outline = 0xFF000000u | uint32_t(c.red >> 8) << 16 | uint32_t(c.green >> 8) << 8 | (c.blue >> 8);
    const int x = (r.left + 3 * r.right) / 4;  // away from every handle
    for (int y : {int(r.top), r.bottom - 1})
        if (y > f.top && y < f.bottom - 1) {
            EXPECT_EQ(PortPixel(x, y), outline) << what << " at " << x << "," << y;
        }
    for (int y = f.top; y < f.bottom; y += 7)
        EXPECT_EQ(std::pair(PortPixel(f.left, y), PortPixel(f.right - 1, y)), std::pair(0xFF000000u, 0xFF000000u))
            << "border at " << y;
}

SInt32 PreviewValue() { return GetControl32BitValue(ws.theFrameCtrl); }

// Opens the dialog through the button message and runs the queued steps in it.
void OpenDialog(int32_t renderFrame) {
    gTicker->start();
    // Like the editor: the button's own frame goes back to the host with
    // ReleaseFrame; the clip slider's frames are disposed by the plug-in.
    gHost->hostDisposes = 1;
    gHost->params.renderFrame = renderFrame;
    gHost->params.frameCount = 1;
    QTimer watchdog;  // a notice or picker left open by a fault must not hang the test
    watchdog.callOnTimeout([] {
        ADD_FAILURE() << "a window was left open";
        if (QWidget *modal = QApplication::activeModalWidget()) modal->close();
    });
    watchdog.start(60000);
    EXPECT_EQ(gHost->Send(kPlugCustomButtonClick), 0);
    EXPECT_TRUE(gSteps.empty()) << gSteps.size() << " scripted steps did not run";
    gSteps.clear();
}

// Queues a drag along `path` (pressed at its start) and checks the stored
// rectangle while the button is still down and after the release.
void Drag(QWidget *window, std::vector<QPoint> path, const relRect &want, const char *what,
          Qt::KeyboardModifiers pressKeys = {}, Qt::KeyboardModifiers moveKeys = {}) {
    // The mouse goes to the window's native handle, in window coordinates; the
    // press returns after the release.
    Do([=] { QTest::mousePress(window->windowHandle(), Qt::LeftButton, pressKeys, path[0]); });
    for (size_t i = 1; i < path.size(); ++i)
        Do([=] { QTest::mouseEvent(QTest::MouseMove, window->windowHandle(), Qt::NoButton, moveKeys, path[i]); });
    // A loaded machine may lag behind the queued mouse.
    const Rect w = Rel2Rect(want, kNTSCPreview);
    Wait([w] { return bool(SameRect(Rel2Rect(gPascalData->startRel, kNTSCPreview), w)); });
    Do([=] {
        EXPECT_TRUE(SameRel(gPascalData->startRel, want)) << what << ", button down";
        QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, path.back());
    });
    Do([=] { EXPECT_TRUE(SameRel(gPascalData->startRel, want)) << what; });
}

class Dialog : public ::testing::Test {
protected:
    pluginDataPtr cfg = gPascalData;
    void SetUp() override {
        ResetConfig(cfg, true);
        gMostRecentStartFrame = 0;
        gMostRecentFrameCount = 0;
        gHost->calls.clear();
        gHost->giveNoPicture = false;
        gHost->getFrameResult = kPluginOK;
        gSaves = 0;
    }
    void TearDown() override {
        for (const char *name : {"configNTSC", "configPAL", "configHD"})
            EXPECT_EQ(TopWindow(name), nullptr) << "the settings window is still open";
        EXPECT_TRUE(gHost->framesOut.empty()) << "frames lent by the host were not given back";
    }
    // Opens the layout of the record's standard, runs `steps` in it and cancels.
    void WithWindow(const char *name, const std::function<void(QWidget *)> &steps) {
        On(name, steps);
        Close(name);
        OpenDialog(0);
    }
};

// Gestures from the rectangle (96, 136)-(376, 256) of the NTSC preview,
// 240 x 160, through the mouse events of the window: Alt or Ctrl
// (window managers often keep Alt+drag) grow about the centre, Shift held at
// mouse-down keeps the proportions, the body stays inside the frame.
TEST_F(Dialog, DragsReshapeAndStoreTheRectangle) {
    cfg->frameStartColor = RGBColor{0x1200, 0xC000, 0x3400};  // not the default red
    struct Row {
        const char *what;
        std::vector<QPoint> path;
        Qt::KeyboardModifiers pressKeys, moveKeys;
        Rect want;
    };
    const QPoint tl(136, 96), br(376, 256), centre(256, 176);
    const std::vector<Row> rows = {
        {"Alt", {tl, tl - QPoint(20, 10)}, Qt::AltModifier, {}, R(86, 116, 266, 396)},
        {"Ctrl", {tl, tl - QPoint(20, 10)}, Qt::ControlModifier, {}, R(86, 116, 266, 396)},
        {"Shift", {br, br + QPoint(30, 44)}, Qt::ShiftModifier, {}, R(96, 136, 276, 406)},
        {"Shift after mouse-down", {br, br + QPoint(30, 44)}, {}, Qt::ShiftModifier, R(96, 136, 300, 406)},
        {"body, mouse right of the preview",
         {centre, centre + QPoint(10, 5), QPoint(526, 181)},
         {},
         {},
         R(101, 256, 261, 496)},
        {"body, mouse below it", {centre, QPoint(256, 376)}, {}, {}, R(176, 136, 336, 376)},
        {"a click away from the rectangle", {QPoint(21, 21)}, {}, {}, R(96, 136, 256, 376)},
    };
    On("configNTSC", [=, this](QWidget *window) {
        EXPECT_TRUE(SameRect(PreviewBounds(), kNTSCPreview));
        for (const Row &row : rows) {
            Do([this] { cfg->startRel = SetRelRect(0.25, 0.25, 0.75, 0.75); });
            Drag(window, row.path, InPreview(row.want), row.what, row.pressKeys, row.moveKeys);
            if (row.path.size() > 1) Do([=] { ExpectOutline(row.want, row.what); });  // a click draws nothing
        }
        // Edges off the pixel grid: the corner dragged past the preview's
        // corner stops at the frame, the edges that did not move keep their values.
        Do([this] { cfg->startRel = SetRelRect(0.2503, 0.2511, 0.6007, 0.6013); });
        Drag(window, {QPoint(16 + 288, 16 + 192), QPoint(566, 386)}, SetRelRect(0.2503, 0.2511, 1.0, 1.0), "off grid");
        Do([=] { QTest::keyClick(window, Qt::Key_Return); });  // OK
    });
    OpenDialog(2);
    EXPECT_EQ(gSaves, 1);
    pluginDataRec fromFile{};
    ASSERT_TRUE(ReadConfig(&fromFile));
    EXPECT_EQ(std::pair(fromFile.startRel.left, fromFile.startRel.right), std::pair(0.2503, 1.0));
}

TEST_F(Dialog, CommandsEditTheRecordAndRenderThePreview) {
    cfg->mediaType = 2;
    cfg->startRel = SetRelRect(0.1, 0.2, 0.6, 0.7);
    pluginDataRec backup;
    std::memcpy(&backup, cfg, sizeof backup);
    WithWindow("configPAL", [this](QWidget *window) {
        // The button fetched the frame at the size of PAL, the preview is 5:4.
        const HostCall get = gHost->CallsNamed("GetFrame").at(0);
        EXPECT_EQ(std::pair(get.b, get.c), (std::pair<int64_t, int64_t>(720, 576)));
        const Rect b = PreviewBounds();
        EXPECT_EQ((b.right - b.left) * 4, (b.bottom - b.top) * 5);
        // Each command renders the preview once (its value flips), Reset twice.
        SInt32 renders = PreviewValue();
        auto rendered = [&renders](int times, const char *what) {
            EXPECT_EQ(PreviewValue(), times % 2 ? 1 - renders : renders) << what;
            renders = PreviewValue();
        };
        ChooseItem(Control(window, "Rota", 1), 1);
        Toggle(Control(window, "Acti", 1));
        Toggle(Control(window, "Outs", 1));
        EXPECT_EQ(std::tuple(cfg->rota, cfg->clipActive, cfg->outside), std::tuple(2, 1, 0));
        rendered(3, "Rota, Acti, Outs");
        Click(Control(window, "Sall", 1));
        EXPECT_TRUE(SameRel(cfg->startRel, SetRelRect(0, 0, 1, 1)));
        rendered(1, "Sall");

        // Reset: the defaults come into the controls, the media choice too (the layout stays).
        cfg->colors[0] = RGBColor{0xFF00, 0x8000, 0};
        Click(Control(window, "Rset", 1));
        EXPECT_EQ(std::tuple(cfg->rota, cfg->outside, cfg->clipActive, cfg->mediaType), std::tuple(1, 1, 0, 1));
        EXPECT_EQ(Channels(cfg->colors[0]), std::tuple(0, 0, 0));
        EXPECT_EQ(qobject_cast<QComboBox *>(Control(window, "Rota", 1))->currentIndex(), 0);
        EXPECT_FALSE(qobject_cast<QCheckBox *>(Control(window, "Acti", 1))->isChecked());
        EXPECT_EQ(qobject_cast<QComboBox *>(Control(window, "Medi", 1))->currentIndex(), 0);
        rendered(2, "Rset");
        EXPECT_EQ(TopWindow("configPAL"), window);
    });
    EXPECT_EQ(std::memcmp(&backup, cfg, sizeof backup), 0) << "Cancel did not restore the record";
    EXPECT_EQ(gSaves, 0);
}

TEST_F(Dialog, ColourBoxTakesThePickersHighBytesAndPaintsThem) {
    auto clickBox = [](QWidget *window) {
        QWidget *box = Control(window, "Colr", 1);
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, box->mapTo(window, box->rect().center()));
    };
    auto pick = [](QColor colour, bool accept) {
        Wait([] { return Modal<QColorDialog>() != nullptr; });
        Do([=] {
            Modal<QColorDialog>()->setCurrentColor(colour);
            accept ? Modal<QColorDialog>()->accept() : Modal<QColorDialog>()->reject();
        });
    };
    SInt32 renders = 0;  // the steps run while the test's locals live
    On("configNTSC", [&](QWidget *window) {
        renders = PreviewValue();
        clickBox(window);
    });
    pick(QColor::fromRgba64(65535, 32768, 1), true);
    Do([&, this] {
        EXPECT_EQ(Channels(cfg->colors[0]), std::tuple(0xFF00, 0x8000, 0));
        EXPECT_NE(PreviewValue(), renders) << "the new colour is rendered";
        EXPECT_EQ(GetControl32BitValue(ws.colors[0]), 0xFF8000);
        // The colour inside a black border.
        Rect box;
        GetControlBounds(ws.colors[0], &box);
        const int midX = (box.left + box.right) / 2, midY = (box.top + box.bottom) / 2;
        EXPECT_EQ(std::pair(PortPixel(midX, midY), PortPixel(box.left, midY)), std::pair(0xFFFF8000u, 0xFF000000u));
    });
    On("configNTSC", clickBox);
    pick(QColor(0, 0, 255), false);
    Do([this] { EXPECT_EQ(Channels(cfg->colors[0]), std::tuple(0xFF00, 0x8000, 0)) << "picker cancelled"; });
    Close("configNTSC");
    OpenDialog(0);
}

// The about window, closed by Escape, leaves the settings window open.
TEST_F(Dialog, AboutWindowNamesThePlugInAndItsVersion) {
    On("configNTSC", [](QWidget *w) { Click(Control(w, "Info", 1)); });  // runs the about window inside
    On("about", [](QWidget *about) {
        EXPECT_EQ(Text(Control(about, "Vers", 1)), QStringLiteral("Version ") + QLatin1String(cPlugVersion));
        QTest::keyClick(about, Qt::Key_Escape);
    });
    // Its modal loop ends on the next turn of the outer loop.
    Wait([] { return TopWindow("about") == nullptr; });
    Close("configNTSC");
    OpenDialog(0);
}

// Help: with the manual gone a notice; then the manual opens.
TEST_F(Dialog, HelpOpensTheManualOrSaysWhy) {
    const std::string manual = gBundle + "/Contents/Resources/manual.pdf", aside = gTemp + "/manual.pdf";
    On("configNTSC", [=](QWidget *w) {
        std::filesystem::rename(manual, aside);
        gOpener->opened.clear();
        Click(Control(w, "Help", 1));  // the notice runs inside
    });
    Wait([] { return Modal<QMessageBox>() != nullptr; });
    Do([] {
        QMessageBox *box = Modal<QMessageBox>();
        EXPECT_EQ(box->informativeText(), QStringLiteral("Cannot locate manual in bundle"));
        box->buttons().first()->click();
    });
    On("configNTSC", [=](QWidget *w) {
        EXPECT_EQ(gOpener->opened, "");
        std::filesystem::rename(aside, manual);
        Click(Control(w, "Help", 1));  // the opener is called at once
        EXPECT_EQ(std::filesystem::path(gOpener->opened).lexically_normal(),
                  std::filesystem::path(manual).lexically_normal());
    });
    Close("configNTSC");
    OpenDialog(0);
}

TEST_F(Dialog, MediaChangesReopenTheLayoutAndCancelUndoesAll) {
    for (SInt16 media : {SInt16(0), SInt16(4)}) {  // outside 1..3: the NTSC layout
        cfg->mediaType = media;
        WithWindow("configNTSC", [](QWidget *) {});
        EXPECT_EQ(cfg->mediaType, media);
    }
    cfg->mediaType = 1;
    cfg->startRel = SetRelRect(0.3, 0.3, 0.5, 0.6);
    pluginDataRec backup;
    std::memcpy(&backup, cfg, sizeof backup);
    On("configNTSC", [](QWidget *window) {
        ChooseItem(Control(window, "Rota", 1), 1);
        ChooseItem(Control(window, "Medi", 1), 1);  // PAL: this window closes
    });
    Wait([] { return TopWindow("configPAL") != nullptr && TopWindow("configNTSC") == nullptr; });
    On("configPAL", [this](QWidget *window) {
        EXPECT_EQ(std::pair(cfg->rota, cfg->mediaType), (std::pair<SInt16, SInt16>(2, 2)));
        EXPECT_EQ(qobject_cast<QComboBox *>(Control(window, "Rota", 1))->currentIndex(), 1);
        EXPECT_EQ(qobject_cast<QComboBox *>(Control(window, "Medi", 1))->currentIndex(), 1);
        Toggle(Control(window, "Outs", 1));
        ChooseItem(Control(window, "Medi", 1), 2);  // HD
    });
    On("configHD", [this](QWidget *window) {
        const Rect b = PreviewBounds();
        EXPECT_EQ((b.right - b.left) * 9, (b.bottom - b.top) * 16);  // 16:9
        EXPECT_EQ((std::pair<int, int>(cfg->outside, cfg->rota)), std::pair(0, 2));
        // Unused controls exist but are hidden.
        for (const char *sig : {"Sldr", "Lgnd", "Labl", "Colr", "CLgd"})
            for (int i = sig[0] == 'C' ? 2 : 1; i <= 6; ++i) {
                QWidget *unused = Control(window, sig, i);
                EXPECT_TRUE(unused && !unused->isVisible()) << sig << i;
            }
        EXPECT_TRUE(Control(window, "Colr", 1)->isVisible());
    });
    Close("configHD");
    OpenDialog(0);
    EXPECT_EQ(std::memcmp(&backup, cfg, sizeof backup), 0) << "Cancel after media changes";
    EXPECT_EQ(gSaves, 0);
}

TEST_F(Dialog, TurnListNamesTheDirectionAndClipSwitchFollowsIt) {
    WithWindow("configNTSC", [](QWidget *window) {
        const struct {
            int index;
            const char *text;
            bool clipUsable;
        } rows[] = {
            {1, "90° counter-clockwise", true}, {2, "180°", false}, {3, "90° clockwise", true}, {0, "None", false}};
        auto *turns = qobject_cast<QComboBox *>(Control(window, "Rota", 1));
        QWidget *clipSwitch = Control(window, "Acti", 1);
        EXPECT_FALSE(clipSwitch->isEnabled()) << "opened with no turn";
        for (const auto &row : rows) {
            EXPECT_EQ(turns->itemText(row.index), QString::fromUtf8(row.text));
            ChooseItem(turns, row.index);
            EXPECT_EQ(clipSwitch->isEnabled(), row.clipUsable) << row.text;
        }
    });
}

TEST_F(Dialog, OutlineShowsInsideTheBorderAgainstARedFill) {
    cfg->colors[0] = RGBColor{65535, 0, 0};
    cfg->frameStartColor = RGBColor{65535, 0, 0};  // the whole frame, in the fill's colour
    WithWindow("configNTSC", [](QWidget *) {
        const Rect &f = kNTSCPreview;
        const int midX = (f.left + f.right) / 2, midY = (f.top + f.bottom) / 2;
        // Border, outline in the fill's complement, dark edge, on every side.
        using Side = std::array<int, 4>;  // a pixel of the border, the way inwards
        for (const auto [x, y, dx, dy] : {Side{f.left, midY, 1, 0}, Side{f.right - 1, midY, -1, 0},
                                          Side{midX, f.top, 0, 1}, Side{midX, f.bottom - 1, 0, -1}})
            EXPECT_EQ(std::tuple(PortPixel(x, y), PortPixel(x + dx, y + dy), PortPixel(x + 2 * dx, y + 2 * dy)),
                      std::tuple(0xFF000000u, 0xFF00FFFFu, 0xFF000000u))
                << x << "," << y;
    });
}

// Every control lies inside its window and has room for its text. Run also
// with QT_SCALE_FACTOR=2; with KELVARIN_UPDATE_DOC_IMAGES set it takes the
// README's pictures into docs/images.
TEST_F(Dialog, LayoutsStayWithinTheirWindows) {
    for (const auto &[media, name] :
         {std::pair<SInt16, const char *>{1, "configNTSC"}, {2, "configPAL"}, {3, "configHD"}}) {
        cfg->mediaType = media;
        cfg->startRel = SetRelRect(0.3, 0.2, 0.7, 0.8);
        cfg->rota = 2;
        cfg->colors[0] = RGBColor{0x1E00, 0x6400, 0xC800};
        WithWindow(name, [name](QWidget *window) {
            for (QWidget *w : window->findChildren<QWidget *>()) {
                if (!w->isVisibleTo(window) || w->isWindow()) continue;
                const std::string what = std::string(name) + ": " + w->objectName().toStdString();
                EXPECT_TRUE(window->rect().contains(QRect(w->mapTo(window, QPoint(0, 0)), w->size()))) << what;
                const bool texted =
                    qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w) || qobject_cast<QComboBox *>(w);
                if (!texted) continue;
                EXPECT_LE(w->minimumSizeHint().height(), w->height()) << what;
                // Push buttons ask for a width of their own beyond their text.
                if (const auto *push = qobject_cast<QPushButton *>(w))
                    EXPECT_LE(push->fontMetrics().horizontalAdvance(push->text()) + 8, w->width()) << what;
                else
                    EXPECT_LE(w->sizeHint().width(), w->width()) << what << " cuts its text";
            }
            // The README's pictures: configNTSC as settings-ntsc.png.
            const QString picture =
                QString(KELVARIN_DOC_IMAGES_DIR "/settings-%1.png").arg(QString(name).mid(6).toLower());
            EXPECT_TRUE(qEnvironmentVariableIsEmpty("KELVARIN_UPDATE_DOC_IMAGES") ||
                        !qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR") || window->grab().save(picture));
        });
    }
}

// The rectangle 180, 120, 360 x 240 of the 720 x 480 frame: (136, 96)-(376, 256) in the preview.
TEST_F(Dialog, NumbersKeysAndSideHandlesEditTheRectangle) {
    cfg->startRel = SetRelRect(0.25, 0.25, 0.75, 0.75);
    using Texts = std::array<QString, 4>;
    auto texts = [](QWidget *window, const char *sig) {
        Texts out;
        for (int i = 0; i < 4; ++i) out[i] = qobject_cast<QLineEdit *>(Control(window, sig, i + 1))->text();
        return out;
    };
    auto retype = [](QWidget *window, const char *sig, int id, const char *keys) {
        auto *edit = qobject_cast<QLineEdit *>(Control(window, sig, id));
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromLatin1(keys));
    };
    On("configNTSC", [=, this](QWidget *window) {
        EXPECT_EQ(texts(window, "Numb"), (Texts{"180", "120", "360", "240"}));
        // Typed, the rectangle follows at once; the other row follows it.
        retype(window, "Numb", 1, "200");
        EXPECT_EQ(std::tuple(cfg->startRel.left, cfg->startRel.right, cfg->startRel.top, cfg->startRel.bottom),
                  std::tuple(200.0 / 720, 560.0 / 720, 0.25, 0.75));
        EXPECT_EQ(texts(window, "Perc"), (Texts{"27.78", "25.00", "50.00", "50.00"}));
        ExpectOutline(R(96, 149, 256, 389), "typed x");
        // Letters never enter; a rectangle leaving the frame is not stored.
        QTest::keyClicks(Control(window, "Numb", 1), "a");
        EXPECT_EQ(texts(window, "Numb")[0], QStringLiteral("200"));
        retype(window, "Perc", 4, "80");  // 25 % + 80 % of the height
        EXPECT_DOUBLE_EQ(cfg->startRel.bottom, 0.33) << "8 % was typed on the way and kept";
        retype(window, "Perc", 4, "50");
        EXPECT_EQ(cfg->startRel.bottom, 0.75);

        // Arrow keys move the rectangle by a preview pixel, ten with shift.
        QWidget *preview = Control(window, "Clip", 1);
        preview->setFocus();
        QTest::keyClick(preview, Qt::Key_Right);
        QTest::keyClick(preview, Qt::Key_Down, Qt::ShiftModifier);
        EXPECT_TRUE(SameRel(cfg->startRel, InPreview(R(106, 150, 266, 390)))) << "arrow keys";
        EXPECT_EQ(texts(window, "Numb")[1], QStringLiteral("135"));  // 90 preview rows down, at 480 / 320

        // The right side's middle handle moves that side alone; the arrow
        // keys then move the handle last grabbed.
        Drag(window, {QPoint(390, 186), QPoint(420, 180)}, InPreview(R(106, 150, 266, 420)), "side handle");
        Do([=, this] {
            QTest::keyClick(preview, Qt::Key_Left, Qt::ShiftModifier);
            EXPECT_TRUE(SameRel(cfg->startRel, InPreview(R(106, 150, 266, 410)))) << "arrow on the grabbed side";
        });
        Close("configNTSC");
    });
    OpenDialog(0);
}

// The span and texts of the slider are checked on a real clip (test_configure_clip.cpp).
TEST_F(Dialog, ClipSliderKeepsTheFrameShownWhenTheHostCannotLendOne) {
    gMostRecentFrameCount = 190;  // the last render: frames 0..189
    auto shows = [](int frameIndex) { return ShowsSourceFrame(ws.sourceClip, frameIndex); };
    On("configNTSC", [=](QWidget *window) {
        auto *slider = qobject_cast<QSlider *>(Control(window, "ClpS", 1));
        slider->setValue(0);
        Click(Control(window, "Revi", 1));  // nothing before the first frame
        Click(Control(window, "Adva", 1));
        EXPECT_EQ(slider->value(), 1);
        EXPECT_TRUE(shows(1));
        gHost->giveNoPicture = true;
        gHost->getFrameResult = kPluginCantGetNeededFrame;
        slider->setValue(120);
        EXPECT_EQ(slider->value(), 1);
        EXPECT_EQ(Text(Control(window, "ClpM", 1)), QStringLiteral("1/189  00:00:00:01"));
        EXPECT_TRUE(shows(1));
        gHost->giveNoPicture = false;
        gHost->getFrameResult = kPluginOK;
        slider->setValue(41);
        ChooseItem(Control(window, "Medi", 1), 1);  // reopen as PAL
    });
    On("configPAL", [=](QWidget *pal) {
        EXPECT_EQ(Text(Control(pal, "ClpM", 1)), QStringLiteral("41/189  00:00:01:16")) << "25 frames a second";
        EXPECT_TRUE(shows(41));
    });
    Close("configPAL");
    OpenDialog(60);
}

}  // namespace

// A private preferences folder, the QApplication, and the plug-in registered
// from a copy of the built bundle (a test takes its manual away).
int main(int argc, char **argv) {
    ScopedPrefsFolder prefs;
    gTemp = prefs.Root().string();
    if (getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    TestHost host(16, 8);
    gHost = &host;
    gTicker = new QTimer(&app);
    gTicker->setSingleShot(true);
    gTicker->setInterval(5);
    QObject::connect(gTicker, &QTimer::timeout, Tick);
    gOpener = new OpenerLog(&app);
    QDesktopServices::setUrlHandler(QStringLiteral("file"), gOpener, "open");
    gBundle = gTemp + "/Plug-ins/Kelvarin.plugin";
    std::filesystem::create_directories(gTemp + "/Plug-ins");
    std::filesystem::copy(KELVARIN_PLUGINS_DIR "/Kelvarin.plugin", gBundle, std::filesystem::copy_options::recursive);
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(nullptr, reinterpret_cast<const UInt8 *>(gBundle.c_str()),
                                                           static_cast<CFIndex>(gBundle.size()), true);
    CFBundleRef bundle = CFBundleCreate(nullptr, url);
    CFRelease(url);
    if (bundle == nullptr) {
        std::fprintf(stderr, "cannot register the bundle at %s\n", gBundle.c_str());
        return 1;
    }
    host.params.frameCount = 1;
    host.Send(kPlugGetInfo);  // the shared record exists from the first message on
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    return result;
}

#include "test_dialog.moc"
