// The settings dialog opened through the plug-in's entry point by a test
// host, driven with simulated mouse and keyboard from inside its modal loop.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "DialogHarness.h"
#include "Pictures.h"
#include "TestHost.h"
#include "config/PluginDefines.h"
#include "dialog/configdlghandler.h"
#include "host/iMovieGlue.h"
#include "storage/prefsloader.h"

using namespace harness;

namespace {

pluginWorkSpace &ws = gConfigWorkSpace;

// The NTSC layout's preview (plugin/resources/kelvarin.nib/configNTSC.ui).
const Rect kNTSCPreview = R(16, 16, 336, 496);

// The stored rectangle is `want`, in pixels of the NTSC preview.
void ExpectStored(const Rect &want, const char *what) {
    const Rect &f = kNTSCPreview;
    const relRect &got = gPascalData->startRel;
    EXPECT_DOUBLE_EQ(got.left, (want.left - f.left) / 480.0) << what;
    EXPECT_DOUBLE_EQ(got.right, (want.right - f.left) / 480.0) << what;
    EXPECT_DOUBLE_EQ(got.top, (want.top - f.top) / 320.0) << what;
    EXPECT_DOUBLE_EQ(got.bottom, (want.bottom - f.top) / 320.0) << what;
}

// Waits (a loaded machine may lag behind the queued mouse) until the stored
// rectangle shows `want` in the NTSC preview, near enough for ExpectStored to judge.
void WaitForStored(const Rect &want) {
    Wait([want] {
        const Rect got = Rel2Rect(gPascalData->startRel, kNTSCPreview);
        return std::abs(got.left - want.left) + std::abs(got.top - want.top) + std::abs(got.right - want.right) +
                   std::abs(got.bottom - want.bottom) <=
               4;
    });
}

Rect PreviewBounds() {
    Rect b{0, 0, 0, 0};
    if (ws.theFrameCtrl) GetControlBounds(ws.theFrameCtrl, &b);
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

QWidget *Settings() {
    for (const char *name : {"configNTSC", "configPAL", "configHD"})
        if (QWidget *w = TopWindow(name)) return w;
    return nullptr;
}

template <typename T>
T *Visible() {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *t = qobject_cast<T *>(w); t && t->isVisible()) return t;
    return nullptr;
}

SInt32 PreviewValue() { return GetControl32BitValue(ws.theFrameCtrl); }

// Opens the dialog through the button message, running the queued steps.
void OpenDialog(int32_t renderFrame) {
    RunScript([renderFrame] {
        MakeParams(renderFrame);
        EXPECT_EQ(Host().Send(kPlugCustomButtonClick), 0);
    });
}

// Queues steps that press on the window at path[0] and move through the
// rest of the path; the caller's next step runs with the button still down.
void Drag(QWidget *window, std::vector<QPoint> path, Qt::KeyboardModifiers pressKeys = {},
          Qt::KeyboardModifiers moveKeys = {}) {
    Then([=] {
        Press(window, path[0], pressKeys);
        return true;  // returns after the release
    });
    for (size_t i = 1; i < path.size(); ++i)
        Do([=] { QTest::mouseEvent(QTest::MouseMove, window->windowHandle(), Qt::NoButton, moveKeys, path[i]); });
}

class Dialog : public ::testing::Test {
protected:
    pluginDataPtr cfg = nullptr;
    void SetUp() override {
        EnsurePluginReady();
        cfg = gPascalData;
        ASSERT_NE(cfg, nullptr);
        ResetConfig(cfg, true);
        gMostRecentStartFrame = 0;
        gMostRecentFrameCount = 0;
        Host().calls.clear();
        Host().giveNoPicture = false;
        Host().getFrameResult = kPluginOK;
        SavesSinceLastCall();
    }
    void TearDown() override {
        EXPECT_EQ(Settings(), nullptr) << "the settings window is still open";
        EXPECT_TRUE(Host().framesOut.empty()) << "frames lent by the host were not given back";
    }
    // Opens the layout of the record's standard, runs `steps` with its window, closes it with `key`.
    void WithWindow(const char *name, const std::function<void(QWidget *)> &steps, int key = Qt::Key_Escape) {
        Wait([name] { return TopWindow(name) != nullptr && ws.theFrameCtrl != nullptr; });
        Do([name, steps] { steps(TopWindow(name)); });
        Do([name, key] {
            if (QWidget *w = TopWindow(name)) QTest::keyClick(w, Qt::Key(key));
        });
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
    const Rect start = R(96, 136, 256, 376);
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
        {"a click away from the rectangle", {QPoint(21, 21)}, {}, {}, start},
    };
    Wait([] { return TopWindow("configNTSC") != nullptr && ws.theFrameCtrl != nullptr; });
    Do([=, this] {
        QWidget *window = TopWindow("configNTSC");
        EXPECT_TRUE(SameRect(PreviewBounds(), kNTSCPreview));
        for (const Row &row : rows) {
            Do([this] { cfg->startRel = SetRelRect(0.25, 0.25, 0.75, 0.75); });
            Drag(window, row.path, row.pressKeys, row.moveKeys);
            WaitForStored(row.want);
            Do([=] {
                ExpectStored(row.want, row.what);  // while the button is down
                Release(window, row.path.back());
            });
            Do([=] {
                ExpectStored(row.want, row.what);
                if (row.path.size() > 1) ExpectOutline(row.want, row.what);  // a click draws nothing
            });
        }
        // Edges off the pixel grid: the corner dragged past the preview's
        // corner stops at the frame, the edges that did not move keep their values.
        Do([this] { cfg->startRel = SetRelRect(0.2503, 0.2511, 0.6007, 0.6013); });
        Drag(window, {QPoint(16 + 288, 16 + 192), QPoint(566, 386)});
        WaitForStored(R(16 + 80, 16 + 120, 336, 496));
        Do([=] { Release(window, QPoint(566, 386)); });
        Do([=, this] {
            EXPECT_EQ(std::tuple(cfg->startRel.left, cfg->startRel.top, cfg->startRel.right, cfg->startRel.bottom),
                      std::tuple(0.2503, 0.2511, 1.0, 1.0));
            QTest::keyClick(window, Qt::Key_Return);  // OK
        });
    });
    OpenDialog(2);
    EXPECT_EQ(SavesSinceLastCall(), 1);
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
        const HostCall get = Host().CallsNamed("GetFrame").at(0);
        EXPECT_EQ(std::pair(get.b, get.c), (std::pair<int64_t, int64_t>(720, 576)));
        const Rect b = PreviewBounds();
        EXPECT_EQ((b.right - b.left) * 4, (b.bottom - b.top) * 5);
        Screenshot(window, "configPAL");
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
    EXPECT_EQ(SavesSinceLastCall(), 0);
}

TEST_F(Dialog, ColourBoxTakesThePickersHighBytesAndPaintsThem) {
    auto window = std::make_shared<QWidget *>(nullptr);
    auto clickBox = [window] {
        QWidget *box = Control(*window, "Colr", 1);
        const QPoint centre = box->mapTo(*window, box->rect().center());
        Press(*window, centre);
        Release(*window, centre);  // the picker runs inside
    };
    auto pick = [](QColor colour, bool accept) {
        Wait([] { return Visible<QColorDialog>() != nullptr; });
        Do([=] {
            Visible<QColorDialog>()->setCurrentColor(colour);
            accept ? Visible<QColorDialog>()->accept() : Visible<QColorDialog>()->reject();
        });
    };
    auto renders = std::make_shared<SInt32>();
    Wait([=] { return (*window = TopWindow("configNTSC")) != nullptr; });
    Do([=] {
        *renders = PreviewValue();
        clickBox();
    });
    pick(QColor::fromRgba64(65535, 32768, 1), true);
    Do([=, this] {
        EXPECT_EQ(Channels(cfg->colors[0]), std::tuple(0xFF00, 0x8000, 0));
        EXPECT_NE(PreviewValue(), *renders) << "the new colour is rendered";
        EXPECT_EQ(GetControl32BitValue(ws.colors[0]), 0xFF8000);
        // The colour inside a black border.
        Rect box;
        GetControlBounds(ws.colors[0], &box);
        const int midX = (box.left + box.right) / 2, midY = (box.top + box.bottom) / 2;
        EXPECT_EQ(std::pair(PortPixel(midX, midY), PortPixel(box.left, midY)), std::pair(0xFFFF8000u, 0xFF000000u));
    });
    Do(clickBox);
    pick(QColor(0, 0, 255), false);
    Do([=, this] {
        EXPECT_EQ(Channels(cfg->colors[0]), std::tuple(0xFF00, 0x8000, 0)) << "picker cancelled";
        QTest::keyClick(*window, Qt::Key_Escape);
    });
    OpenDialog(0);
}

// The about window, closed by Escape, leaves the settings window open.
TEST_F(Dialog, AboutWindowNamesThePlugInAndItsVersion) {
    Wait([] { return TopWindow("configNTSC") != nullptr; });
    Do([] { Click(Control(TopWindow("configNTSC"), "Info", 1)); });  // runs the about window inside
    Wait([] { return TopWindow("about") != nullptr; });
    Do([] {
        QWidget *about = TopWindow("about");
        EXPECT_EQ(Text(Control(about, "Vers", 1)), QStringLiteral("Version ") + QLatin1String(cPlugVersion));
        Screenshot(about, "about");
        QTest::keyClick(about, Qt::Key_Escape);
    });
    // Its modal loop ends on the next turn of the outer loop.
    Wait([] { return TopWindow("about") == nullptr; });
    Do([] { QTest::keyClick(TopWindow("configNTSC"), Qt::Key_Escape); });
    OpenDialog(0);
}

// Help: with the manual gone a notice; then the manual opens.
TEST_F(Dialog, HelpOpensTheManualOrSaysWhy) {
    const std::string manual = BundleDir() + "/Contents/Resources/manual.pdf";
    const std::string aside = TempDir() + "/manual.pdf";
    auto help = [] { Click(Control(TopWindow("configNTSC"), "Help", 1)); };
    Wait([] { return TopWindow("configNTSC") != nullptr; });
    Do([=] {
        std::filesystem::rename(manual, aside);
        TakeOpenedDocument();
        help();  // the notice runs inside
    });
    Wait([] { return Visible<QMessageBox>() != nullptr; });
    Do([] {
        QMessageBox *box = Visible<QMessageBox>();
        EXPECT_EQ(box->informativeText(), QStringLiteral("Cannot locate manual in bundle"));
        box->buttons().first()->click();
    });
    Do([=] {
        EXPECT_EQ(TakeOpenedDocument(), "");
        std::filesystem::rename(aside, manual);
        help();
    });
    auto opened = std::make_shared<std::string>();
    Wait([opened] { return !(*opened = TakeOpenedDocument()).empty(); });
    Do([=] {
        EXPECT_EQ(std::filesystem::path(*opened).lexically_normal(), std::filesystem::path(manual).lexically_normal());
        QTest::keyClick(TopWindow("configNTSC"), Qt::Key_Escape);
    });
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
    Wait([] { return TopWindow("configNTSC") != nullptr; });
    Do([] {
        QWidget *window = TopWindow("configNTSC");
        Screenshot(window, "configNTSC");
        ChooseItem(Control(window, "Rota", 1), 1);
        ChooseItem(Control(window, "Medi", 1), 1);  // PAL: this window closes
    });
    Wait([] { return TopWindow("configPAL") != nullptr && TopWindow("configNTSC") == nullptr; });
    Do([this] {
        QWidget *window = TopWindow("configPAL");
        EXPECT_EQ(std::pair(cfg->rota, cfg->mediaType), (std::pair<SInt16, SInt16>(2, 2)));
        EXPECT_EQ(qobject_cast<QComboBox *>(Control(window, "Rota", 1))->currentIndex(), 1);
        EXPECT_EQ(qobject_cast<QComboBox *>(Control(window, "Medi", 1))->currentIndex(), 1);
        Toggle(Control(window, "Outs", 1));
        ChooseItem(Control(window, "Medi", 1), 2);  // HD
    });
    Wait([] { return TopWindow("configHD") != nullptr; });
    Do([this] {
        QWidget *window = TopWindow("configHD");
        const Rect b = PreviewBounds();
        EXPECT_EQ((b.right - b.left) * 9, (b.bottom - b.top) * 16);  // 16:9
        EXPECT_FALSE(cfg->outside);
        EXPECT_EQ(cfg->rota, 2);
        // Unused controls exist but are hidden.
        for (const char *sig : {"Sldr", "Lgnd", "Labl", "Colr", "CLgd"})
            for (int i = sig[0] == 'C' ? 2 : 1; i <= 6; ++i) {
                QWidget *unused = Control(window, sig, i);
                EXPECT_TRUE(unused && !unused->isVisible()) << sig << i;
            }
        EXPECT_TRUE(Control(window, "Colr", 1)->isVisible());
        Screenshot(window, "configHD");
        QTest::keyClick(window, Qt::Key_Escape);
    });
    OpenDialog(0);
    EXPECT_EQ(std::memcmp(&backup, cfg, sizeof backup), 0) << "Cancel after media changes";
    EXPECT_EQ(SavesSinceLastCall(), 0);
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
        struct Side {
            int x, y, dx, dy;
        };
        for (const Side s : {Side{f.left, midY, 1, 0}, Side{f.right - 1, midY, -1, 0}, Side{midX, f.top, 0, 1},
                             Side{midX, f.bottom - 1, 0, -1}})
            EXPECT_EQ(std::tuple(PortPixel(s.x, s.y), PortPixel(s.x + s.dx, s.y + s.dy),
                                 PortPixel(s.x + 2 * s.dx, s.y + 2 * s.dy)),
                      std::tuple(0xFF000000u, 0xFF00FFFFu, 0xFF000000u))
                << s.x << "," << s.y;
    });
}

// Every control lies inside its window and has room for its text. Run also
// with QT_SCALE_FACTOR=2; the pictures in the README are taken here.
TEST_F(Dialog, LayoutsStayWithinTheirWindows) {
    struct Row {
        SInt16 media;
        const char *window, *picture;
    };
    for (const Row row : {Row{1, "configNTSC", "settings-ntsc"}, Row{2, "configPAL", "settings-pal"},
                          Row{3, "configHD", "settings-hd"}}) {
        cfg->mediaType = row.media;
        cfg->startRel = SetRelRect(0.3, 0.2, 0.7, 0.8);
        cfg->rota = 2;
        cfg->colors[0] = RGBColor{0x1E00, 0x6400, 0xC800};
        WithWindow(row.window, [row](QWidget *window) {
            for (QWidget *w : window->findChildren<QWidget *>()) {
                if (!w->isVisibleTo(window) || w->isWindow()) continue;
                const std::string what = std::string(row.window) + ": " + w->objectName().toStdString();
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
            if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR")) DocumentationPicture(window, row.picture);
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
    Wait([] { return TopWindow("configNTSC") != nullptr && ws.theFrameCtrl != nullptr; });
    Do([=, this] {
        QWidget *window = TopWindow("configNTSC");
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
        ExpectStored(R(106, 150, 266, 390), "arrow keys");
        EXPECT_EQ(texts(window, "Numb")[1], QStringLiteral("135"));  // 90 preview rows down, at 480 / 320

        // The right side's middle handle moves that side alone; the arrow
        // keys then move the handle last grabbed.
        Drag(window, {QPoint(390, 186), QPoint(420, 186)});
        WaitForStored(R(106, 150, 266, 420));
        Do([=] { Release(window, QPoint(420, 186)); });
        Do([=] {
            ExpectStored(R(106, 150, 266, 420), "side handle");
            QTest::keyClick(preview, Qt::Key_Left, Qt::ShiftModifier);
            ExpectStored(R(106, 150, 266, 410), "arrow on the grabbed side");
            QTest::keyClick(window, Qt::Key_Escape);
        });
    });
    OpenDialog(0);
}

// The span and texts of the slider are checked on a real clip (test_configure_clip.cpp).
TEST_F(Dialog, ClipSliderKeepsTheFrameShownWhenTheHostCannotLendOne) {
    gMostRecentFrameCount = 190;  // the last render: frames 0..189
    auto shows = [](int frameIndex) { return ShowsSourceFrame(ws.sourceClip, frameIndex); };
    Wait([] { return TopWindow("configNTSC") != nullptr; });
    Do([=] {
        QWidget *window = TopWindow("configNTSC");
        auto *slider = qobject_cast<QSlider *>(Control(window, "ClpS", 1));
        slider->setValue(0);
        Click(Control(window, "Revi", 1));  // nothing before the first frame
        Click(Control(window, "Adva", 1));
        EXPECT_EQ(slider->value(), 1);
        EXPECT_TRUE(shows(1));
        Host().giveNoPicture = true;
        Host().getFrameResult = kPluginCantGetNeededFrame;
        slider->setValue(120);
        EXPECT_EQ(slider->value(), 1);
        EXPECT_EQ(Text(Control(window, "ClpM", 1)), QStringLiteral("1/189  00:00:00:01"));
        EXPECT_TRUE(shows(1));
        Host().giveNoPicture = false;
        Host().getFrameResult = kPluginOK;
        slider->setValue(41);
        ChooseItem(Control(window, "Medi", 1), 1);  // reopen as PAL
    });
    Wait([] { return TopWindow("configPAL") != nullptr; });
    Do([=] {
        QWidget *pal = TopWindow("configPAL");
        EXPECT_EQ(Text(Control(pal, "ClpM", 1)), QStringLiteral("41/189  00:00:01:16")) << "25 frames a second";
        EXPECT_TRUE(shows(41));
        QTest::keyClick(pal, Qt::Key_Escape);
    });
    OpenDialog(60);
}

}  // namespace

int main(int argc, char **argv) {
    Init(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    Shutdown();
    return result;
}
