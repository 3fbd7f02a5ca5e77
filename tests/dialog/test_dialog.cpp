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

void ExpectStored(const Rect &want, const Rect &frame, const char *what) {
    const double w = frame.right - frame.left;
    const double h = frame.bottom - frame.top;
    const relRect &got = gPascalData->startRel;
    EXPECT_DOUBLE_EQ(got.left, (want.left - frame.left) / w) << what;
    EXPECT_DOUBLE_EQ(got.right, (want.right - frame.left) / w) << what;
    EXPECT_DOUBLE_EQ(got.top, (want.top - frame.top) / h) << what;
    EXPECT_DOUBLE_EQ(got.bottom, (want.bottom - frame.top) / h) << what;
}

QPoint At(int h, int v) { return QPoint(h, v); }

Rect PreviewBounds() {
    Rect b{0, 0, 0, 0};
    if (ws.theFrameCtrl) GetControlBounds(ws.theFrameCtrl, &b);
    return b;
}

// A pixel of the settings window's port as 0xAARRGGBB.
uint32_t PortPixel(int x, int y) { return PixelARGB(GetWindowPort(ws.theWindow), x, y); }

// The outline is drawn one pixel inside the rectangle, in frameStartColor,
// and clipped to the preview; the preview has a black border outside the clip.
void ExpectOutline(const Rect &r, const Rect &frame, const char *what) {
    const RGBColor c = gPascalData->frameStartColor;
    const uint32_t outline = 0xFF000000u | uint32_t(c.red >> 8) << 16 | uint32_t(c.green >> 8) << 8 | (c.blue >> 8);
    int checked = 0;
    // Away from the corner handles and the sides' middle handles.
    for (int x = r.left + 8; x < r.right - 8; ++x) {
        if (std::abs(x - (r.left + r.right) / 2) <= 7) continue;
        for (int y : {int(r.top), r.bottom - 1}) {
            if (x <= frame.left || x >= frame.right - 1 || y <= frame.top || y >= frame.bottom - 1) continue;
            ++checked;
            EXPECT_EQ(PortPixel(x, y), outline) << what << " at " << x << "," << y;
        }
    }
    EXPECT_GT(checked, 0) << what;
    // Each corner handle inside the preview shows black and white rings,
    // whatever the outline colour (the clip has no white pixels of its own).
    for (const QPoint corner :
         {QPoint(r.left, r.top), QPoint(r.right, r.top), QPoint(r.left, r.bottom), QPoint(r.right, r.bottom)}) {
        if (corner.x() - 6 <= frame.left || corner.x() + 6 >= frame.right || corner.y() - 6 <= frame.top ||
            corner.y() + 6 >= frame.bottom)
            continue;
        int white = 0, black = 0;
        for (int y = corner.y() - 6; y < corner.y() + 6; ++y)
            for (int x = corner.x() - 6; x < corner.x() + 6; ++x) {
                white += PortPixel(x, y) == 0xFFFFFFFFu;
                black += PortPixel(x, y) == 0xFF000000u;
            }
        EXPECT_GT(white, 0) << what << ": no white ring at " << corner.x() << "," << corner.y();
        EXPECT_GT(black, 0) << what << ": no black ring at " << corner.x() << "," << corner.y();
    }
    for (int y = frame.top; y < frame.bottom; y += 7) {
        EXPECT_EQ(PortPixel(frame.left, y), 0xFF000000u) << "left border at " << y;
        EXPECT_EQ(PortPixel(frame.right - 1, y), 0xFF000000u) << "right border at " << y;
    }
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
        PrefsWritesSinceLastCall();
    }
    void TearDown() override {
        EXPECT_EQ(Settings(), nullptr) << "the settings window is still open";
        EXPECT_TRUE(Host().framesOut.empty()) << "frames lent by the host were not given back";
    }
};

// Queues a mouse gesture on the window: a press at at(0), moves to at(1) ..
// at(n - 1) and the release there. check(i) runs once the mouse has reached
// point i (check(n) after the release); points are taken as the gesture goes.
void Gesture(const std::shared_ptr<QWidget *> &window, size_t n, std::function<QPoint(size_t)> at,
             std::function<void(size_t)> check, Qt::KeyboardModifiers pressKeys = {},
             Qt::KeyboardModifiers moveKeys = {}) {
    Then([=] {
        Press(*window, at(0), pressKeys);
        return true;  // returns after the mouse-up below
    });
    for (size_t i = 1; i <= n; ++i)
        Do([=] {
            check(i - 1);
            if (i < n)
                QTest::mouseEvent(QTest::MouseMove, (*window)->windowHandle(), Qt::NoButton, moveKeys, at(i));
            else
                Release(*window, at(n - 1));
        });
    Do([=] { check(n); });
}

TEST_F(Dialog, DragsReshapeAndStoreTheRectangle) {
    cfg->startRel = SetRelRect(0.25, 0.25, 0.75, 0.75);
    cfg->frameStartColor = RGBColor{0x1200, 0xC000, 0x3400};  // not the default red
    auto window = std::make_shared<QWidget *>(nullptr);
    auto frame = std::make_shared<Rect>();
    auto start = std::make_shared<Rect>();  // the rectangle at the current mouse-down
    auto want = std::make_shared<Rect>();
    auto grab = std::make_shared<QPoint>();
    // After each gesture the stored rectangle is the next one's start.
    auto next = [=, this] { *start = ModelRel2Rect(cfg->startRel, *frame); };

    Wait([=, this] { return (*window = TopWindow("configNTSC")) != nullptr && ws.theFrameCtrl != nullptr; });
    Do([=, this] {
        *frame = PreviewBounds();
        // The preview keeps the 3:2 proportions of NTSC frames.
        EXPECT_EQ((frame->right - frame->left) * 2, (frame->bottom - frame->top) * 3);
        next();
        ExpectOutline(*start, *frame, "before any drag");
    });

    // 1. Bottom-right handle dragged across the top-left corner: turned over.
    Gesture(
        window, 3,
        [=](size_t i) {
            const Rect &s = *start;
            return std::array{At(s.right, s.bottom), At(s.right - 40, s.bottom - 30), At(s.left - 60, s.top - 20)}[i];
        },
        [=](size_t i) {
            const Rect &s = *start;
            if (i == 1) ExpectStored(R(s.top, s.left, s.bottom - 30, s.right - 40), *frame, "corner drag, first step");
            if (i < 2) return;
            *want = R(s.top - 20, s.left - 60, s.top, s.left);
            ExpectStored(*want, *frame, i == 2 ? "dragged across the opposite corner" : "after the flip");
            if (i == 3) {
                ExpectOutline(*want, *frame, "after the flip");
                next();
            }
        });

    // 2. Alt, then Ctrl (window managers often keep Alt+drag for
    //    themselves): the top-left handle grows the rectangle about its centre.
    for (const Qt::KeyboardModifier key : {Qt::AltModifier, Qt::ControlModifier})
        Gesture(
            window, 2, [=](size_t i) { return At(start->left - 20 * int(i), start->top - 10 * int(i)); },
            [=](size_t i) {
                if (i < 2) return;
                const Rect &s = *start;
                ExpectStored(R(s.top - 10, s.left - 20, s.bottom + 10, s.right + 20), *frame,
                             key == Qt::AltModifier ? "Alt drag" : "Ctrl drag");
                next();
            },
            key);

    // 3. Shift held at mouse-down: the proportions of the mouse-down rectangle.
    Gesture(
        window, 2, [=](size_t i) { return At(start->right + 100 * int(i), start->bottom + 60 * int(i)); },
        [=](size_t i) {
            if (i < 2) return;
            const Rect &s = *start;
            const int w0 = s.right - s.left, h0 = s.bottom - s.top;
            const int w = w0 + 100, h = h0 + 60;  // the box without shift
            if (w0 > h0)
                *want = R(s.top, s.left, s.top + static_cast<int>(std::trunc(w / (double(w0) / h0) + 0.5)), s.left + w);
            else
                *want = R(s.top, s.left, s.top + h, s.left + static_cast<int>(std::trunc(h * (double(w0) / h0) + 0.5)));
            ExpectStored(*want, *frame, "shift drag");
            next();
        },
        Qt::ShiftModifier);

    // 3b. Shift pressed only after mouse-down changes nothing: a plain box.
    Gesture(
        window, 2, [=](size_t i) { return At(start->right + 30 * int(i), start->bottom - 25 * int(i)); },
        [=](size_t i) {
            if (i < 2) return;
            const Rect &s = *start;
            ExpectStored(R(s.top, s.left, s.bottom - 25, s.right + 30), *frame, "shift pressed during the drag");
            next();
        },
        {}, Qt::ShiftModifier);

    // 4. Body drag leaving the preview (right of it, then below) and coming
    //    back: the rectangle follows the mouse but stays inside the frame.
    Gesture(
        window, 5,
        [=](size_t i) {
            if (i == 0) *grab = At((start->left + start->right) / 2, (start->top + start->bottom) / 2);
            return std::array{*grab, *grab + QPoint(10, 5), QPoint(frame->right + 30, grab->y()),
                              QPoint(grab->x(), frame->bottom + 40), *grab + QPoint(-50, 20)}[i];
        },
        [=](size_t i) {
            if (i == 0) return;
            const Rect &s = *start;
            *want = s;
            // The mouse's movement, shortened where the rectangle meets the border.
            const auto inside = [&](int dx, int dy) {
                return QPoint(std::clamp(dx, frame->left - s.left, frame->right - s.right),
                              std::clamp(dy, frame->top - s.top, frame->bottom - s.bottom));
            };
            const std::array<QPoint, 5> moves{QPoint(0, 0), inside(10, 5), inside(frame->right + 30 - grab->x(), 0),
                                              inside(0, frame->bottom + 40 - grab->y()), inside(-50, 20)};
            const QPoint d = moves[std::min<size_t>(i, 4)];
            OffsetRect(want.get(), static_cast<short>(d.x()), static_cast<short>(d.y()));
            ExpectStored(*want, *frame,
                         std::array{"", "body drag inside", "mouse right of the preview", "mouse below it",
                                    "back inside", "after the body drag"}[i]);
            if (i == 5) {
                ExpectOutline(*want, *frame, "after the body drag");
                next();
            }
        });

    // 5. Edges off the pixel grid; the bottom-right corner dragged out past
    //    the preview's corner: it stops at the frame's border, and the edges
    //    that did not move keep their exact values.
    Do([=, this] {
        cfg->startRel = SetRelRect(0.2503, 0.2511, 0.6007, 0.6013);
        next();
    });
    Gesture(
        window, 3,
        [=](size_t i) {
            return std::array{At(start->right, start->bottom), At(start->right + 9, start->bottom + 7),
                              At(frame->right + 70, frame->bottom + 50)}[i];
        },
        [=, this](size_t i) {
            if (i < 2) return;
            EXPECT_EQ(std::tuple(cfg->startRel.left, cfg->startRel.top, cfg->startRel.right, cfg->startRel.bottom),
                      std::tuple(0.2503, 0.2511, 1.0, 1.0));
            *want = R(start->top, start->left, frame->bottom, frame->right);
            if (i == 3) ExpectOutline(*want, *frame, "corner at the frame's corner");
        });

    // 6. A click in the preview away from the rectangle changes nothing.
    auto before = std::make_shared<relRect>();
    Gesture(
        window, 1, [=](size_t) { return QPoint(frame->left + 5, frame->top + 5); },
        [=, this](size_t i) {
            if (i == 0) *before = cfg->startRel;
            if (i == 1) {
                EXPECT_TRUE(SameRel(cfg->startRel, *before)) << "click away from the rectangle";
            }
        });
    Do([=] {
        QTest::keyClick(*window, Qt::Key_Return);  // OK
    });
    OpenDialog(2);
    EXPECT_EQ(SavesSinceLastCall(), 1);
    EXPECT_GT(PrefsWritesSinceLastCall(), 0);
}

TEST_F(Dialog, CommandsEditTheRecordAndRenderThePreview) {
    cfg->mediaType = 2;
    cfg->startRel = SetRelRect(0.1, 0.2, 0.6, 0.7);
    pluginDataRec backup;
    std::memcpy(&backup, cfg, sizeof backup);
    auto window = std::make_shared<QWidget *>(nullptr);
    auto flips = std::make_shared<SInt32>(0);  // preview value before the command
    auto snapshot = std::make_shared<pluginDataRec>();

    auto expectRenders = [=](int renders, const char *what) {
        EXPECT_EQ(PreviewValue(), renders % 2 ? 1 - *flips : *flips) << what;
        *flips = PreviewValue();
    };

    Wait([=, this] { return (*window = TopWindow("configPAL")) != nullptr; });
    Do([=, this] {
        // The button fetched the frame at the size of PAL.
        const auto gets = Host().CallsNamed("GetFrame");
        EXPECT_TRUE(!gets.empty() && gets[0].b == 720 && gets[0].c == 576);
        const Rect b = PreviewBounds();
        EXPECT_EQ((b.right - b.left) * 4, (b.bottom - b.top) * 5);  // 5:4
        Screenshot(*window, "configPAL");
        *flips = PreviewValue();
        ChooseItem(Control(*window, "Rota", 1), 1);
        EXPECT_EQ(cfg->rota, 2);
        expectRenders(1, "Rota");
        Toggle(Control(*window, "Acti", 1));
        EXPECT_TRUE(cfg->clipActive);
        expectRenders(1, "Acti");
        Toggle(Control(*window, "Outs", 1));
        EXPECT_FALSE(cfg->outside);
        expectRenders(1, "Outs");
    });

    // The colour box: the picker accepted, then cancelled.
    auto boxCentre = [=, this] {
        QWidget *box = Control(*window, "Colr", 1);
        return box->mapTo(*window, box->rect().center());
    };
    Do([=, this] {
        Press(*window, boxCentre());
        Release(*window, boxCentre());  // the picker runs inside
    });
    Wait([] { return Visible<QColorDialog>() != nullptr; });
    Do([] {
        QColorDialog *picker = Visible<QColorDialog>();
        picker->setCurrentColor(QColor::fromRgba64(65535, 32768, 1));
        picker->accept();
    });
    Do([=, this] {
        const RGBColor &c = cfg->colors[0];
        // The box keeps the high bytes; back in the record they are the high
        // bytes of 16-bit channels.
        EXPECT_EQ(Channels(c), std::tuple((65535 >> 8) << 8, (32768 >> 8) << 8, (1 >> 8) << 8));
        EXPECT_EQ(GetControl32BitValue(ws.colors[0]), (0xFF << 16) | (0x80 << 8) | 0);
        expectRenders(1, "colour chosen");

        // The box paints its colour inside a black border; disabled, it shows empty.
        Rect box;
        GetControlBounds(ws.colors[0], &box);
        const int midX = (box.left + box.right) / 2, midY = (box.top + box.bottom) / 2;
        EXPECT_EQ(PortPixel(midX, midY), 0xFFFF8000u);
        EXPECT_EQ(PortPixel(box.left, midY), 0xFF000000u);
        EXPECT_EQ(PortPixel(midX, box.bottom - 1), 0xFF000000u);
        DisableControl(ws.colors[0]);
        Draw1Control(ws.colors[0]);
        const uint32_t erased = PortPixel(box.left, box.top);
        EXPECT_NE(erased, 0xFFFF8000u);
        for (int y = box.top; y < box.bottom; ++y)
            for (int x = box.left; x < box.right; ++x)
                if (PortPixel(x, y) != erased) {
                    ADD_FAILURE() << "disabled colour box not erased at " << x << "," << y;
                    y = box.bottom;
                    break;
                }
        EnableControl(ws.colors[0]);
        Draw1Control(ws.colors[0]);
        EXPECT_EQ(PortPixel(midX, midY), 0xFFFF8000u);

        // A disabled preview is not drawn at all, though it is still rendered.
        const Rect b = PreviewBounds();
        auto previewPixels = [b] {
            std::vector<uint32_t> pixels;
            for (int y = b.top; y < b.bottom; ++y)
                for (int x = b.left; x < b.right; ++x) pixels.push_back(PortPixel(x, y));
            return pixels;
        };
        DisableControl(ws.theFrameCtrl);
        const std::vector<uint32_t> shown = previewPixels();
        Click(Control(*window, "Sall", 1));
        EXPECT_TRUE(previewPixels() == shown) << "a disabled preview was drawn";
        expectRenders(1, "Sall while disabled");
        EnableControl(ws.theFrameCtrl);
        Draw1Control(ws.theFrameCtrl);
        EXPECT_FALSE(previewPixels() == shown) << "the enabled preview shows the new rectangle";
        Press(*window, boxCentre());
        Release(*window, boxCentre());
    });
    Wait([] { return Visible<QColorDialog>() != nullptr; });
    Do([] {
        QColorDialog *picker = Visible<QColorDialog>();
        picker->setCurrentColor(QColor(0, 0, 255));
        picker->reject();
    });
    Do([=, this] {
        EXPECT_EQ(Channels(cfg->colors[0]), std::tuple(0xFF00, 0x8000, 0));
        expectRenders(1, "picker cancelled: the command still re-renders");

        Click(Control(*window, "Sall", 1));
        EXPECT_TRUE(SameRel(cfg->startRel, SetRelRect(0, 0, 1, 1)));
        expectRenders(1, "Sall");

        // A one-frame clip: the step commands do nothing at all.
        const size_t fetched = Host().CallsNamed("GetFrame").size();
        Click(Control(*window, "Adva", 1));
        Click(Control(*window, "Revi", 1));
        EXPECT_EQ(Host().CallsNamed("GetFrame").size(), fetched);
        EXPECT_EQ(Text(Control(*window, "ClpM", 1)), QStringLiteral("0/0  00:00:00:00"));
        expectRenders(0, "steps on a one-frame clip");

        // Reset: the defaults come into the controls, except the media choice.
        ChooseItem(Control(*window, "Rota", 1), 3);
        *flips = PreviewValue();
        Click(Control(*window, "Rset", 1));
        EXPECT_EQ(cfg->rota, 1);
        EXPECT_TRUE(cfg->outside);
        EXPECT_FALSE(cfg->clipActive);
        EXPECT_EQ(cfg->mediaType, 1);
        EXPECT_EQ(cfg->colors[0].red | cfg->colors[0].green | cfg->colors[0].blue, 0);
        EXPECT_EQ(cfg->startRel.right, 1.0);
        EXPECT_EQ(qobject_cast<QComboBox *>(Control(*window, "Rota", 1))->currentIndex(), 0);
        EXPECT_TRUE(qobject_cast<QCheckBox *>(Control(*window, "Outs", 1))->isChecked());
        EXPECT_FALSE(qobject_cast<QCheckBox *>(Control(*window, "Acti", 1))->isChecked());
        EXPECT_EQ(qobject_cast<QComboBox *>(Control(*window, "Medi", 1))->currentIndex(), 0) << "the standard reset";
        EXPECT_EQ(GetControl32BitValue(ws.colors[0]), 0);
        expectRenders(2, "Rset");
        EXPECT_EQ(TopWindow("configPAL"), *window);

        // Statuses: handled, passed on after its work, unknown.
        auto send = [](const char *code) {
            EventRef event = nullptr;
            CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &event);
            HICommand command{};
            command.commandID = PLATFORM_FOURCC(code[0], code[1], code[2], code[3]);
            SetEventParameter(event, kEventParamDirectObject, typeHICommand, sizeof command, &command);
            const OSStatus status = TheDialogHandler(nullptr, event, ws.theWindow);
            ReleaseEvent(event);
            return status;
        };
        EXPECT_EQ(send("Sall"), noErr);
        EXPECT_EQ(send("Rset"), eventNotHandledErr);
        EXPECT_EQ(send("Zzzz"), eventNotHandledErr);
        EXPECT_EQ(send("Adva"), noErr);
        std::memcpy(snapshot.get(), cfg, sizeof *snapshot);
    });

    // The about window, twice: closed by OK, then by Escape.
    for (int round = 0; round < 2; ++round) {
        Do([=, this] {
            Click(Control(*window, "Info", 1));  // runs the about window inside
        });
        Wait([] { return TopWindow("about") != nullptr; });
        Do([=, this] {
            QWidget *about = TopWindow("about");
            EXPECT_EQ(Text(Control(about, "Plug", 1)), QStringLiteral("Kelvarin"));
            EXPECT_EQ(Text(Control(about, "Vers", 1)), QStringLiteral("Version ") + QLatin1String(cPlugVersion));
            if (round == 0) {
                Screenshot(about, "about");
                Click(Control(about, "OKay", 1));
            } else {
                QTest::keyClick(about, Qt::Key_Escape);
            }
        });
        // The about window's modal loop ends on the next turn of the outer
        // loop, which a loaded machine may take a moment to reach.
        Wait([] { return TopWindow("about") == nullptr; });
        Do([=, this] {
            EXPECT_EQ(TopWindow("about"), nullptr);
            EXPECT_EQ(TopWindow("configPAL"), *window);
            EXPECT_EQ(std::memcmp(snapshot.get(), cfg, sizeof *snapshot), 0) << "the about window changed the record";
        });
    }

    // Help: with the manual gone a notice, then the manual opens.
    const std::string manual = BundleDir() + "/Contents/Resources/manual.pdf";
    const std::string aside = TempDir() + "/manual.pdf";
    Do([=, this] {
        std::filesystem::rename(manual, aside);
        ForgetOpenedDocument();
        Click(Control(*window, "Help", 1));  // the notice runs inside
    });
    Wait([] { return Visible<QMessageBox>() != nullptr; });
    Do([] {
        QMessageBox *box = Visible<QMessageBox>();
        EXPECT_EQ(box->text(), QStringLiteral("Internal Notification:"));
        EXPECT_EQ(box->informativeText(), QStringLiteral("Cannot locate manual in bundle"));
        box->buttons().first()->click();
    });
    Do([=, this] {
        EXPECT_TRUE(OpenedDocument().empty());
        std::filesystem::rename(aside, manual);
        Click(Control(*window, "Help", 1));
    });
    Wait([] { return !OpenedDocument().empty(); });
    Do([=, this] {
        EXPECT_EQ(std::filesystem::path(OpenedDocument()).lexically_normal(),
                  std::filesystem::path(manual).lexically_normal());
        EXPECT_EQ(Visible<QMessageBox>(), nullptr);
        // No program opens PDF files: one line with the manual's place.
        HaveViewer(false);
        Click(Control(*window, "Help", 1));
    });
    Wait([] { return Visible<QMessageBox>() != nullptr; });
    Do([=] {
        HaveViewer(true);
        QMessageBox *box = Visible<QMessageBox>();
        const QString lead = QStringLiteral("No program here opens the manual; it is ");
        EXPECT_TRUE(box->text().startsWith(lead)) << box->text().toStdString();
        EXPECT_EQ(std::filesystem::path(box->text().mid(lead.size()).toStdString()).lexically_normal(),
                  std::filesystem::path(manual).lexically_normal());
        EXPECT_TRUE(box->informativeText().isEmpty());
        box->buttons().first()->click();
    });
    Do([=] { QTest::keyClick(*window, Qt::Key_Escape); });  // Cancel
    OpenDialog(0);
    EXPECT_EQ(std::memcmp(&backup, cfg, sizeof backup), 0) << "Cancel did not restore the record";
    EXPECT_EQ(SavesSinceLastCall(), 0);
    EXPECT_EQ(PrefsWritesSinceLastCall(), 0);
}

TEST_F(Dialog, MediaChangesReopenTheLayoutAndCancelUndoesAll) {
    // Values outside 1..3 open the NTSC layout.
    for (SInt16 media : {SInt16(0), SInt16(4)}) {
        cfg->mediaType = media;
        Wait([] { return TopWindow("configNTSC") != nullptr; });
        Do([] { QTest::keyClick(TopWindow("configNTSC"), Qt::Key_Escape); });
        OpenDialog(0);
        EXPECT_EQ(cfg->mediaType, media);
    }

    cfg->mediaType = 1;
    cfg->startRel = SetRelRect(0.3, 0.3, 0.5, 0.6);
    pluginDataRec backup;
    std::memcpy(&backup, cfg, sizeof backup);
    auto window = std::make_shared<QWidget *>(nullptr);
    Wait([=, this] { return (*window = TopWindow("configNTSC")) != nullptr; });
    Do([=, this] {
        Screenshot(*window, "configNTSC");
        ChooseItem(Control(*window, "Rota", 1), 1);
        ChooseItem(Control(*window, "Medi", 1), 1);  // PAL: this window closes
    });
    Wait([=, this] { return TopWindow("configPAL") != nullptr && TopWindow("configNTSC") == nullptr; });
    Do([=, this] {
        *window = TopWindow("configPAL");
        EXPECT_EQ(ws.theWindow != nullptr, true);
        EXPECT_EQ(cfg->rota, 2);
        EXPECT_EQ(cfg->mediaType, 2);
        EXPECT_EQ(qobject_cast<QComboBox *>(Control(*window, "Rota", 1))->currentIndex(), 1);
        EXPECT_EQ(qobject_cast<QComboBox *>(Control(*window, "Medi", 1))->currentIndex(), 1);
        ChooseItem(Control(*window, "Medi", 1), 1);  // the same type: nothing happens
    });
    Do([=, this] {
        EXPECT_EQ(TopWindow("configPAL"), *window);
        Toggle(Control(*window, "Outs", 1));
        ChooseItem(Control(*window, "Medi", 1), 2);  // HD
    });
    Wait([] { return TopWindow("configHD") != nullptr; });
    Do([=, this] {
        *window = TopWindow("configHD");
        const Rect b = PreviewBounds();
        EXPECT_EQ((b.right - b.left) * 9, (b.bottom - b.top) * 16);  // 16:9
        EXPECT_FALSE(cfg->outside);
        EXPECT_EQ(cfg->rota, 2);
        // Unused controls exist but are hidden.
        for (const char *sig : {"Sldr", "Lgnd", "Labl"})
            for (int i = 1; i <= 6; ++i) {
                QWidget *unused = Control(*window, sig, i);
                EXPECT_NE(unused, nullptr) << sig << i;
                if (unused) {
                    EXPECT_FALSE(unused->isVisible()) << sig << i;
                }
            }
        for (int i = 2; i <= 6; ++i) {
            EXPECT_FALSE(Control(*window, "Colr", i)->isVisible());
            EXPECT_FALSE(Control(*window, "CLgd", i)->isVisible());
        }
        EXPECT_TRUE(Control(*window, "Colr", 1)->isVisible());
        EXPECT_FALSE(Control(*window, "Rect", 1)->isVisible());
        EXPECT_FALSE(Control(*window, "Rect", 2)->isVisible());
        Screenshot(*window, "configHD");
        QTest::keyClick(*window, Qt::Key_Escape);
    });
    OpenDialog(0);
    EXPECT_EQ(std::memcmp(&backup, cfg, sizeof backup), 0) << "Cancel after media changes";
    EXPECT_EQ(SavesSinceLastCall(), 0);
    EXPECT_EQ(PrefsWritesSinceLastCall(), 0);
}

TEST_F(Dialog, OkKeepsTheEditsAndWritesThePreferencesOnce) {
    Wait([] { return TopWindow("configNTSC") != nullptr; });
    Do([] {
        QWidget *window = TopWindow("configNTSC");
        ChooseItem(Control(window, "Rota", 1), 3);
        Toggle(Control(window, "Acti", 1));
        Click(Control(window, "OKay", 1));
    });
    OpenDialog(0);
    EXPECT_EQ(cfg->rota, 4);
    EXPECT_TRUE(cfg->clipActive);
    EXPECT_EQ(SavesSinceLastCall(), 1);
    EXPECT_GT(PrefsWritesSinceLastCall(), 0);
    pluginDataRec fromFile{};
    ASSERT_TRUE(ReadConfig(&fromFile));
    EXPECT_EQ(fromFile.rota, 4);
    EXPECT_TRUE(fromFile.clipActive);
}

TEST_F(Dialog, TurnListNamesTheDirectionAndClipSwitchFollowsIt) {
    struct Row {
        const char *text;
        bool clipUsable;
    };
    static constexpr Row rows[] = {
        {"None", false}, {"90° counter-clockwise", true}, {"180°", false}, {"90° clockwise", true}};
    Wait([] { return TopWindow("configNTSC") != nullptr; });
    Do([] {
        QWidget *window = TopWindow("configNTSC");
        auto *turns = qobject_cast<QComboBox *>(Control(window, "Rota", 1));
        QWidget *clipSwitch = Control(window, "Acti", 1);
        EXPECT_FALSE(clipSwitch->isEnabled()) << "opened with no turn";
        for (int i : {1, 2, 3, 0}) {
            EXPECT_EQ(turns->itemText(i), QString::fromUtf8(rows[i].text));
            ChooseItem(turns, i);
            EXPECT_EQ(clipSwitch->isEnabled(), rows[i].clipUsable) << rows[i].text;
        }
        QTest::keyClick(window, Qt::Key_Escape);
    });
    OpenDialog(0);
}

TEST_F(Dialog, OutlineShowsInsideTheBorderAgainstARedFill) {
    cfg->colors[0] = RGBColor{65535, 0, 0};
    cfg->frameStartColor = RGBColor{65535, 0, 0};  // the whole frame, in the fill's colour
    Wait([] { return TopWindow("configNTSC") != nullptr && ws.theFrameCtrl != nullptr; });
    Do([] {
        const Rect f = PreviewBounds();
        const int midX = (f.left + f.right) / 2, midY = (f.top + f.bottom) / 2;
        // Border, outline in the fill's complement, dark edge, on every side.
        const std::array<std::array<QPoint, 3>, 4> sides{{
            {QPoint(f.left, midY), QPoint(f.left + 1, midY), QPoint(f.left + 2, midY)},
            {QPoint(f.right - 1, midY), QPoint(f.right - 2, midY), QPoint(f.right - 3, midY)},
            {QPoint(midX, f.top), QPoint(midX, f.top + 1), QPoint(midX, f.top + 2)},
            {QPoint(midX, f.bottom - 1), QPoint(midX, f.bottom - 2), QPoint(midX, f.bottom - 3)},
        }};
        for (const auto &side : sides)
            EXPECT_EQ(std::tuple(PortPixel(side[0].x(), side[0].y()), PortPixel(side[1].x(), side[1].y()),
                                 PortPixel(side[2].x(), side[2].y())),
                      std::tuple(0xFF000000u, 0xFF00FFFFu, 0xFF000000u))
                << side[1].x() << "," << side[1].y();
        QTest::keyClick(TopWindow("configNTSC"), Qt::Key_Escape);
    });
    OpenDialog(0);
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
        Wait([=] { return TopWindow(row.window) != nullptr; });
        Do([=] {
            QWidget *window = TopWindow(row.window);
            for (QWidget *w : window->findChildren<QWidget *>()) {
                if (!w->isVisibleTo(window) || w->isWindow()) continue;
                const QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
                const std::string what = std::string(row.window) + ": " + w->objectName().toStdString();
                EXPECT_TRUE(window->rect().contains(r)) << what;
                // Push buttons ask for a width of their own beyond their text.
                const auto *push = qobject_cast<QPushButton *>(w);
                if (push) {
                    EXPECT_LE(push->fontMetrics().horizontalAdvance(push->text()) + 8, w->width()) << what;
                } else if (qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w) ||
                           qobject_cast<QComboBox *>(w)) {
                    EXPECT_LE(w->sizeHint().width(), w->width()) << what << " cuts its text";
                }
                if (qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w) || qobject_cast<QComboBox *>(w)) {
                    EXPECT_LE(w->minimumSizeHint().height(), w->height()) << what;
                }
            }
            if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR")) DocumentationPicture(window, row.picture);
            QTest::keyClick(window, Qt::Key_Escape);
        });
        OpenDialog(0);
    }
}

TEST_F(Dialog, NumbersKeysAndSideHandlesEditTheRectangle) {
    cfg->startRel = SetRelRect(0.25, 0.25, 0.75, 0.75);  // 180, 120, 360 x 240 of 720 x 480
    auto window = std::make_shared<QWidget *>(nullptr);
    auto frame = std::make_shared<Rect>();
    auto start = std::make_shared<Rect>();
    auto field = [=](const char *sig, int id) { return qobject_cast<QLineEdit *>(Control(*window, sig, id)); };
    auto texts = [=](const char *sig) {
        return std::array{field(sig, 1)->text(), field(sig, 2)->text(), field(sig, 3)->text(), field(sig, 4)->text()};
    };
    auto retype = [](QLineEdit *edit, const char *keys) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromLatin1(keys));
    };
    using Texts = std::array<QString, 4>;
    Wait([=, this] { return (*window = TopWindow("configNTSC")) != nullptr && ws.theFrameCtrl != nullptr; });
    Do([=, this] {
        *frame = PreviewBounds();
        EXPECT_EQ(texts("Numb"), (Texts{"180", "120", "360", "240"}));
        EXPECT_EQ(texts("Perc"), (Texts{"25.00", "25.00", "50.00", "50.00"}));

        // Typed, the rectangle follows at once; the other row follows it.
        const SInt32 renders = PreviewValue();
        retype(field("Numb", 1), "200");
        EXPECT_EQ(std::tuple(cfg->startRel.left, cfg->startRel.right, cfg->startRel.top, cfg->startRel.bottom),
                  std::tuple(200.0 / 720, 560.0 / 720, 0.25, 0.75));
        EXPECT_NE(PreviewValue(), renders) << "the preview follows the typing";
        EXPECT_EQ(texts("Perc"), (Texts{"27.78", "25.00", "50.00", "50.00"}));
        ExpectOutline(ModelRel2Rect(cfg->startRel, *frame), *frame, "typed x");

        // Letters never enter; a rectangle leaving the frame is not stored.
        QTest::keyClicks(field("Numb", 1), "a");
        EXPECT_EQ(field("Numb", 1)->text(), QStringLiteral("200"));
        retype(field("Perc", 4), "80");  // 25 % + 80 % of the height
        EXPECT_DOUBLE_EQ(cfg->startRel.bottom, 0.33) << "8 % was typed on the way and kept";
        retype(field("Perc", 4), "50");
        EXPECT_EQ(cfg->startRel.bottom, 0.75);
        *start = ModelRel2Rect(cfg->startRel, *frame);

        // Arrow keys move the rectangle by a preview pixel, ten with shift.
        QWidget *preview = Control(*window, "Clip", 1);
        preview->setFocus();
        QTest::keyClick(preview, Qt::Key_Right);
        QTest::keyClick(preview, Qt::Key_Down, Qt::ShiftModifier);
        Rect want = *start;
        OffsetRect(&want, 1, 10);
        ExpectStored(want, *frame, "arrow keys");
        EXPECT_EQ(field("Numb", 2)->text(), QString::number(std::lround((want.top - frame->top) * 480.0 / 320)));
        *start = want;
    });
    // The right side's middle handle moves that side alone; the arrow keys
    // then move the handle last grabbed.
    Gesture(
        window, 2, [=](size_t i) { return At(start->right + 30 * int(i), (start->top + start->bottom) / 2); },
        [](size_t) {});
    Do([=, this] {
        Rect want = *start;
        want.right = static_cast<short>(want.right + 30);
        ExpectStored(want, *frame, "side handle");
        QWidget *preview = Control(*window, "Clip", 1);
        QTest::keyClick(preview, Qt::Key_Left, Qt::ShiftModifier);
        want.right = static_cast<short>(want.right - 10);
        ExpectStored(want, *frame, "arrow on the grabbed side");
        QTest::keyClick(*window, Qt::Key_Escape);
    });
    OpenDialog(0);
}

TEST_F(Dialog, ClipSliderSpansTheSelectionAndTellsTheFrameShown) {
    gMostRecentFrameCount = 190;  // the last render: frames 0..189
    auto window = std::make_shared<QWidget *>(nullptr);
    auto slider = std::make_shared<QSlider *>(nullptr);
    auto shows = [](int frameIndex) { return ShowsSourceFrame(ws.sourceClip, frameIndex); };
    auto position = [=] { return Text(Control(*window, "ClpM", 1)); };
    Wait([=, this] { return (*window = TopWindow("configNTSC")) != nullptr; });
    Do([=, this] {
        *slider = qobject_cast<QSlider *>(Control(*window, "ClpS", 1));
        EXPECT_EQ(std::tuple((*slider)->minimum(), (*slider)->maximum(), (*slider)->value()), std::tuple(0, 189, 60));
        EXPECT_EQ(position(), QStringLiteral("60/189  00:00:02:00"));
        EXPECT_TRUE(shows(60));

        (*slider)->setValue(189);  // dragged by the user to the end
        EXPECT_EQ(position(), QStringLiteral("189/189  00:00:06:09"));
        EXPECT_EQ(Host().CallsNamed("GetFrame").back().a, 189);
        EXPECT_TRUE(shows(189));
        (*slider)->setValue(0);
        EXPECT_EQ(position(), QStringLiteral("0/189  00:00:00:00"));
        EXPECT_TRUE(shows(0));
        Click(Control(*window, "Revi", 1));  // nothing before the first frame
        EXPECT_EQ((*slider)->value(), 0);
        Click(Control(*window, "Adva", 1));
        EXPECT_EQ((*slider)->value(), 1);
        EXPECT_TRUE(shows(1));

        // A frame the host cannot lend: slider and text stay on the frame shown.
        Host().giveNoPicture = true;
        Host().getFrameResult = kPluginCantGetNeededFrame;
        (*slider)->setValue(120);
        EXPECT_EQ((*slider)->value(), 1);
        EXPECT_EQ(position(), QStringLiteral("1/189  00:00:00:01"));
        EXPECT_TRUE(shows(1));
        Host().giveNoPicture = false;
        Host().getFrameResult = kPluginOK;

        (*slider)->setValue(40);
        Click(Control(*window, "Adva", 1));
        ChooseItem(Control(*window, "Medi", 1), 1);  // reopen as PAL
    });
    Wait([] { return TopWindow("configPAL") != nullptr; });
    Do([=, this] {
        QWidget *pal = TopWindow("configPAL");
        EXPECT_EQ(qobject_cast<QSlider *>(Control(pal, "ClpS", 1))->value(), 41) << "the frame last shown";
        EXPECT_EQ(Text(Control(pal, "ClpM", 1)), QStringLiteral("41/189  00:00:01:16")) << "25 frames a second";
        EXPECT_TRUE(shows(41));
        QTest::keyClick(pal, Qt::Key_Escape);
    });
    OpenDialog(60);
}

TEST_F(Dialog, NoPictureForTheButtonMeansNoDialog) {
    Host().giveNoPicture = true;
    Host().getFrameResult = kPluginCantGetNeededFrame;
    QTimer guard;
    guard.setInterval(20);
    bool opened = false;
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (QWidget *w = Settings()) {
            opened = true;
            QTest::keyClick(w, Qt::Key_Escape);
        }
    });
    guard.start();
    MakeParams(0);
    EXPECT_EQ(Host().Send(kPlugCustomButtonClick), 0);
    guard.stop();
    EXPECT_FALSE(opened);
}

}  // namespace

int main(int argc, char **argv) {
    Init(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    Shutdown();
    return result;
}
