// The toolbox with real Qt widgets on the offscreen platform: nib windows,
// controls found by ID, commands through the handler chain, custom controls
// with mouse tracking, live sliders, nested modal loops, alerts, the colour
// picker and window ports shown on screen.
#include <gtest/gtest.h>

#include "Carbon.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr OSType Code(const char (&s)[5]) { return PLATFORM_FOURCC(s[0], s[1], s[2], s[3]); }

std::string CodeText(UInt32 c) { return {char(c >> 24), char(c >> 16), char(c >> 8), char(c)}; }

IBNibRef TestNib() {
    static IBNibRef nib = [] {
        CFURLRef url = CFURLCreateFromFileSystemRepresentation(
            nullptr, reinterpret_cast<const UInt8 *>(TOOLBOX_TEST_BUNDLE), strlen(TOOLBOX_TEST_BUNDLE), true);
        IBNibRef ref = nullptr;
        EXPECT_EQ(CreateNibReferenceWithCFBundle(CFBundleCreate(nullptr, url), CFSTR("test"), &ref), noErr);
        CFRelease(url);
        return ref;
    }();
    return nib;
}

WindowRef OpenWindow(const char *name) {
    WindowRef w = nullptr;
    CFStringRef cfName = CFStringCreateWithCString(nullptr, name, kCFStringEncodingUTF8);
    EXPECT_EQ(CreateWindowFromNib(TestNib(), cfName, &w), noErr) << name;
    CFRelease(cfName);
    return w;
}

ControlRef Find(WindowRef w, const char (&sig)[5], SInt32 id) {
    ControlID cid{Code(sig), id};
    ControlRef c = nullptr;
    EXPECT_EQ(GetControlByID(w, &cid, &c), noErr) << sig << id;
    return c;
}

QWidget *TopLevel(const char *objectName) {
    QWidget *found = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == objectName) {
            EXPECT_EQ(found, nullptr) << "one window named " << objectName;
            found = w;
        }
    return found;
}

// Runs the steps one after another from the event loop, each when the
// previous one has returned.
void RunLater(std::vector<std::function<void()>> steps) {
    if (steps.empty()) return;
    QTimer::singleShot(5, [steps = std::move(steps)]() mutable {
        steps.front()();
        steps.erase(steps.begin());
        RunLater(std::move(steps));
    });
}

// Acts on the modal dialog of that class once it is up.
template <class Dialog>
void WhenModal(std::function<void(Dialog *)> act) {
    QTimer::singleShot(20, [act] {
        auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        act(dialog);
    });
}

struct CommandLog {
    std::vector<std::string> entries;
    std::function<std::string()> extra;  // state to note with each command
    UInt32 passOn = 0;                   // this command is passed on
};

OSStatus LogCommand(EventHandlerCallRef, EventRef event, void *userData) {
    auto *log = static_cast<CommandLog *>(userData);
    HICommand command{};
    GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command);
    log->entries.push_back(CodeText(command.commandID) + (log->extra ? log->extra() : std::string()));
    return command.commandID == log->passOn ? eventNotHandledErr : noErr;
}

EventHandlerRef InstallCommandLog(EventTargetRef target, CommandLog *log) {
    static const EventTypeSpec commandType{kEventClassCommand, kEventCommandProcess};
    EventHandlerRef ref = nullptr;
    EXPECT_EQ(InstallEventHandler(target, NewEventHandlerUPP(LogCommand), 1, &commandType, log, &ref), noErr);
    return ref;
}

Rect Bounds(ControlRef c) {
    Rect r{};
    GetControlBounds(c, &r);
    return r;
}

// The nib's "controls" window, opened by the test (after registering a class
// it needs) and disposed of after it.
class Toolbox : public testing::Test {
protected:
    WindowRef w = nullptr;
    QWidget *top = nullptr;
    void Open(bool show = true) {
        w = OpenWindow("controls");
        ASSERT_NE(w, nullptr);
        top = TopLevel("controls");
        if (show) ShowWindow(w);
    }
    void TearDown() override { DisposeWindow(w); }
    template <class W = QWidget>
    W *Widget(const char *name) {
        return top->findChild<W *>(name);
    }
};

}  // namespace

TEST_F(Toolbox, ControlsFoundByIdWithValuesRangesTextsAndStates) {
    Open(false);
    struct Expect {
        const char sig[5];
        SInt32 id;
        Rect r;
    } expected[] = {
        {"Cust", 1, {10, 10, 131, 171}},
        {"Sldr", 1, {140, 10, 162, 211}},
        {"OKay", 1, {215, 300, 245, 390}},
    };
    for (const Expect &e : expected) {
        ControlRef c = Find(w, e.sig, e.id);
        EXPECT_EQ(GetControlOwner(c), w);
        Rect r = Bounds(c);
        EXPECT_EQ(std::tie(r.top, r.left, r.bottom, r.right), std::tie(e.r.top, e.r.left, e.r.bottom, e.r.right))
            << e.sig << e.id;
    }
    for (ControlID missing : {ControlID{Code("Cust"), 3}, ControlID{Code("Nope"), 1}}) {
        ControlRef c = reinterpret_cast<ControlRef>(&missing);
        EXPECT_EQ(GetControlByID(w, &missing, &c), errUnknownControl);
        EXPECT_EQ(c, nullptr);
    }
    // The window's port is a picture the size of its content.
    Rect pb{};
    GetPortBounds(GetWindowPort(w), &pb);
    EXPECT_EQ(std::pair(pb.right - pb.left, pb.bottom - pb.top), std::pair(401, 257));
    // A window that cannot be loaded is told apart from a missing one.
    WindowRef none = nullptr;
    EXPECT_EQ(CreateWindowFromNib(TestNib(), CFSTR("broken"), &none), kIBCarbonRuntimeObjectNotOfRequestedType);
    EXPECT_EQ(none, nullptr);

    // Values within the kind's range; pop-up menus count from 1.
    ControlRef check = Find(w, "Chck", 1), popup = Find(w, "Popu", 1), slider = Find(w, "Sldr", 1);
    ControlRef custom = Find(w, "Cust", 1), text = Find(w, "Text", 1);
    EXPECT_EQ(std::tuple(GetControl32BitValue(check), GetControl32BitValue(popup), GetControl32BitMinimum(popup),
                         GetControl32BitMaximum(popup), GetControl32BitMaximum(slider)),
              std::tuple(0, 1, 1, 3, 100));
    SetControl32BitMaximum(slider, 50);
    SetControl32BitMinimum(custom, 0);
    SetControl32BitMaximum(custom, 0xFFFFFF);
    // Each row: a value set, then the value read back (clamped to the range).
    struct Set {
        ControlRef c;
        SInt32 value, back;
    } sets[] = {{check, 1, 1}, {slider, 80, 50}, {custom, 0x12AB34, 0x12AB34}, {custom, -5, 0}, {popup, 9, 3},
                {popup, 0, 1}, {popup, 3, 3}};
    for (const Set &e : sets) {
        SetControl32BitValue(e.c, e.value);
        EXPECT_EQ(GetControl32BitValue(e.c), e.back) << e.value;
    }
    EXPECT_EQ(Widget<QComboBox>("popup")->currentIndex(), 2);
    SetControl32BitValue(custom, 5000);
    SetControl32BitMaximum(custom, 1000);
    EXPECT_EQ(GetControl32BitValue(custom), 1000) << "a narrower range takes the value with it";

    const char cafe[] = "Caf\x8E \xA5";  // e-acute and a bullet
    ASSERT_EQ(SetControlData(text, kControlEntireControl, kControlStaticTextTextTag, 6, cafe), noErr);
    EXPECT_EQ(Widget<QLabel>("text")->text(), QString::fromUtf8("Caf\u00e9 \u2022"));
    char back[16] = {};
    Size size = 0;
    ASSERT_EQ(GetControlData(text, 0, kControlStaticTextTextTag, sizeof back, back, &size), noErr);
    EXPECT_EQ(std::string(back, size), std::string(cafe, 6));
    EXPECT_EQ(SetControlData(text, 0, kControlStaticTextTextTag, -1, cafe), paramErr);
    EXPECT_EQ(SetControlData(custom, 0, kControlStaticTextTextTag, 3, "abc"), errDataNotSupported);

    // Hilite: 254 disabled, 255 inactive, 0 otherwise.
    EXPECT_EQ(GetControlHilite(Find(w, "Dsbl", 1)), kControlDisabledPart) << "from the nib";
    EXPECT_EQ(GetControlHilite(check), 0);
    for (auto [change, hilite] : {std::pair{&DeactivateControl, int(kControlInactiveHilite)},
                                  {ActivateControl, 0},
                                  {DisableControl, int(kControlDisabledPart)},
                                  {EnableControl, 0}}) {
        change(check);
        EXPECT_EQ(GetControlHilite(check), hilite);
    }
    // Gone with the window: the references are refused, not followed.
    DisposeWindow(w);
    EXPECT_EQ(GetControl32BitValue(custom), 0);
    EXPECT_EQ(GetControlOwner(custom), nullptr);
    EXPECT_EQ(GetWindowPort(w), nullptr);
    ControlID id{Code("Chck"), 1};
    ControlRef c = nullptr;
    EXPECT_EQ(GetControlByID(w, &id, &c), errInvalidWindowRef);
    EXPECT_EQ(TopLevel("controls"), nullptr);
}

// Clicks, Return and Escape sending commands are the dialog's tests too
// (tests/dialog); here the chain's ends: passing on, disabled and closing.
TEST_F(Toolbox, CommandsPassOnToTheApplicationAndTheCloseBoxAsksForCancel) {
    Open();
    CommandLog window, app;  // the window handles all but Cancel
    window.passOn = kHICommandCancel;
    EventHandlerRef hWindow = InstallCommandLog(GetWindowEventTarget(w), &window);
    EventHandlerRef hApp = InstallCommandLog(GetApplicationEventTarget(), &app);

    QTest::mouseClick(Widget("ok"), Qt::LeftButton);
    QTest::mouseClick(Widget("disabled"), Qt::LeftButton);
    QTest::keyClick(Widget("slider"), Qt::Key_Escape);
    top->close();  // the close box asks for Cancel and the window stays
    EXPECT_EQ(window.entries, (std::vector<std::string>{"ok  ", "not!", "not!"}));
    EXPECT_EQ(app.entries, (std::vector<std::string>{"not!", "not!"})) << "passed on by -9874";
    EXPECT_TRUE(top->isVisible());

    // Return stands for the OK button: nothing while that button is disabled.
    DisableControl(Find(w, "OKay", 1));
    QTest::keyClick(Widget("check"), Qt::Key_Enter);
    EXPECT_EQ(window.entries.size(), 3u);
    // Nobody keeping it and no modal loop: the close box closes the window.
    RemoveEventHandler(hApp);
    top->close();
    EXPECT_FALSE(top->isVisible());

    DisposeWindow(w);
    EXPECT_EQ(RemoveEventHandler(hWindow), paramErr) << "the window's handlers went with it";
}

namespace {

// Logs the kinds of event the class sees; the hit test answers part 1 on the
// control's left half and nothing on its right half.
struct CustomClassLog {
    std::vector<UInt32> kinds;
    // The kinds seen since the last call, which forgets them.
    std::vector<UInt32> Kinds() { return std::exchange(kinds, {}); }
};

OSStatus CustomClassHandler(EventHandlerCallRef, EventRef event, void *userData) {
    auto *log = static_cast<CustomClassLog *>(userData);
    ControlRef c = nullptr;
    GetEventParameter(event, kEventParamDirectObject, typeControlRef, nullptr, sizeof c, nullptr, &c);
    log->kinds.push_back(GetEventKind(event));
    switch (GetEventKind(event)) {
        case kEventControlHitTest: {
            Point p{};
            Rect b = Bounds(c);
            GetEventParameter(event, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof p, nullptr, &p);
            const ControlPartCode part = PtInRect(p, &b) && p.h < (b.left + b.right) / 2 ? 1 : 0;
            SetEventParameter(event, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
            return noErr;
        }
        case kEventControlTrack: {
            MouseTrackingResult result = kMouseTrackingMouseDown;
            for (Point p{}; result != kMouseTrackingMouseUp && TrackMouseLocation(nullptr, &p, &result) == noErr;)
                log->kinds.push_back(0);
            return noErr;
        }
        case kEventControlHit:
            return eventNotHandledErr;  // the default handling sends the command
        default:
            return noErr;
    }
}

const EventTypeSpec kCustomEvents[] = {
    {kEventClassControl, kEventControlDraw},
    {kEventClassControl, kEventControlHitTest},
    {kEventClassControl, kEventControlHit},
    {kEventClassControl, kEventControlActivate},
    {kEventClassControl, kEventControlOwningWindowChanged},
    {kEventClassControl, kEventControlTrack},
};

}  // namespace

// Drags with modifiers go through the dialog's preview in tests/dialog; here
// what only a class of its own shows: which events come, and when.
TEST_F(Toolbox, CustomClassEventsForClicksDrawingAndStates) {
    CustomClassLog log;
    ToolboxObjectClassRef cls = nullptr;
    ASSERT_EQ(RegisterToolboxObjectClass(CFSTR("org.kelvarin.test.custom"), nullptr, 6, kCustomEvents,
                                         NewEventHandlerUPP(CustomClassHandler), &log, &cls),
              noErr);
    EXPECT_EQ(RegisterToolboxObjectClass(CFSTR("org.kelvarin.test.custom"), nullptr, 6, kCustomEvents,
                                         CustomClassHandler, &log, nullptr),
              toolboxObjectClassExistsErr);
    // Embedding tells the control its window; showing the window draws it.
    using Kinds = std::vector<UInt32>;
    Open(false);
    ControlRef custom = Find(w, "Cust", 1);
    EXPECT_EQ(log.Kinds(), Kinds{kEventControlOwningWindowChanged});
    ShowWindow(w);
    EXPECT_EQ(log.Kinds(), Kinds{kEventControlDraw});

    CommandLog commands;
    InstallCommandLog(GetWindowEventTarget(w), &commands);
    QWidget *widget = Widget("custom");
    // A click on part 1: hit test, track (one step, the release), hit, command.
    RunLater({[&] { QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(20, 30)); }});
    QTest::mousePress(widget, Qt::LeftButton, {}, QPoint(20, 30));
    EXPECT_EQ(log.Kinds(), (Kinds{kEventControlHitTest, kEventControlTrack, 0, kEventControlHit}));
    EXPECT_EQ(commands.entries, (std::vector<std::string>{"Cust"}));
    // A hit test answering 0 tracks nothing; the class not registered is inert.
    QTest::mousePress(widget, Qt::LeftButton, {}, QPoint(150, 5));
    QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(150, 5));
    QTest::mouseClick(Widget("inert"), Qt::LeftButton);
    EXPECT_EQ(log.Kinds(), Kinds{kEventControlHitTest});
    EXPECT_EQ(commands.entries.size(), 1u);

    // A new value redraws the control; the same value does not.
    for (SInt32 v : {1, 1, 0}) SetControl32BitValue(custom, v);
    EXPECT_EQ(log.Kinds(), (Kinds{kEventControlDraw, kEventControlDraw}));
    // A hidden control is not drawn until it is shown again.
    HideControl(custom);
    SetControl32BitValue(custom, 1);
    Draw1Control(custom);
    EXPECT_EQ(log.Kinds(), Kinds{});
    ShowControl(custom);
    EXPECT_EQ(log.Kinds(), Kinds{kEventControlDraw});
    // Activation is the class's to draw (this class does not take the
    // deactivate event, so it is redrawn instead); a disabled control takes
    // no clicks.
    DeactivateControl(custom);
    ActivateControl(custom);
    EXPECT_EQ(log.Kinds(), (Kinds{kEventControlDraw, kEventControlActivate}));
    DisableControl(custom);
    log.kinds.clear();
    QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(20, 30));
    EXPECT_EQ(log.Kinds(), Kinds{});

    DisposeWindow(w);
    EXPECT_EQ(UnregisterToolboxObjectClass(cls), noErr);
}

namespace {

struct SliderLog {
    std::vector<std::pair<SInt32, ControlPartCode>> actions;
    QSlider *slider = nullptr;
    int mismatches = 0;
};
SliderLog gSliderLog;

void SliderAction(ControlRef c, ControlPartCode part) {
    SInt32 v = GetControl32BitValue(c);
    if (v != gSliderLog.slider->value() || !gSliderLog.slider->isSliderDown()) ++gSliderLog.mismatches;
    gSliderLog.actions.emplace_back(v, part);
}

}  // namespace

TEST_F(Toolbox, SliderActionRunsDuringTheLiveDragAndTheCommandAfterIt) {
    Open();
    ControlRef slider = Find(w, "Sldr", 1);
    gSliderLog = {{}, Widget<QSlider>("slider"), 0};
    SetControlAction(slider, NewControlActionUPP(SliderAction));
    CommandLog commands;
    commands.extra = [&] {
        return " " + std::to_string(GetControl32BitValue(slider)) + " after " +
               std::to_string(gSliderLog.actions.size());
    };
    InstallCommandLog(GetWindowEventTarget(w), &commands);

    SetControl32BitValue(slider, 10);
    EXPECT_TRUE(gSliderLog.actions.empty()) << "the program's own change is no user action";
    // The thumb held and moved as a drag does, twice to one place.
    gSliderLog.slider->setSliderDown(true);
    for (int v : {30, 70, 70}) gSliderLog.slider->setValue(v);
    EXPECT_TRUE(commands.entries.empty()) << "no command while the thumb is held";
    gSliderLog.slider->setSliderDown(false);
    EXPECT_EQ(gSliderLog.mismatches, 0) << "every call sees the new value, during the drag";
    EXPECT_EQ(gSliderLog.actions, (std::vector<std::pair<SInt32, ControlPartCode>>{{30, kControlIndicatorPart},
                                                                                   {70, kControlIndicatorPart}}));
    EXPECT_EQ(commands.entries, std::vector<std::string>{"Sldr 70 after 2"});

    // Someone else listening to the widget fails while the program sets the
    // value; the user's next change still reaches the action.
    auto failing =
        QObject::connect(gSliderLog.slider, &QSlider::valueChanged, [](int) { throw std::runtime_error("listener"); });
    SetControl32BitValue(slider, 30);
    QObject::disconnect(failing);
    EXPECT_EQ(gSliderLog.actions.size(), 2u);
    gSliderLog.slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    ASSERT_EQ(gSliderLog.actions.size(), 3u);
    EXPECT_EQ(gSliderLog.actions[2].second, kControlPageUpPart);
}

TEST(ToolboxModal, NestedLoopsEndInnerFirstAndDisposalEndsALoop) {
    WindowRef outer = OpenWindow("controls");
    WindowRef inner = OpenWindow("modal");
    ASSERT_TRUE(outer && inner);
    std::vector<std::string> order;
    const EventTypeSpec commandType{kEventClassCommand, kEventCommandProcess};
    auto quit = [](EventHandlerCallRef, EventRef, void *w) -> OSStatus {
        QuitAppModalLoopForWindow(static_cast<WindowRef>(w));
        return noErr;
    };
    InstallEventHandler(GetWindowEventTarget(inner), quit, 1, &commandType, inner, nullptr);
    EXPECT_EQ(QuitAppModalLoopForWindow(outer), errWindowNotFound) << "not in a loop yet";

    QWidget *modalDuringInner = nullptr;
    bool outerReturnedEarly = false;
    RunLater({[&] {
        ShowWindow(inner);
        RunLater({
            [&] { modalDuringInner = QApplication::activeModalWidget(); },
            [&] { EXPECT_EQ(QuitAppModalLoopForWindow(outer), noErr); },  // asked first, ends last
            [&] { outerReturnedEarly = !order.empty(); },
            [&] { QTest::mouseClick(TopLevel("modal")->findChild<QWidget *>("ok"), Qt::LeftButton); },
        });
        EXPECT_EQ(RunAppModalLoopForWindow(inner), noErr);
        order.push_back("inner");
    }});
    ShowWindow(outer);
    EXPECT_EQ(RunAppModalLoopForWindow(outer), noErr);
    order.push_back("outer");
    EXPECT_EQ(order, (std::vector<std::string>{"inner", "outer"}));
    EXPECT_FALSE(outerReturnedEarly);
    EXPECT_EQ(modalDuringInner, TopLevel("modal"));

    // Disposing of a window ends its loop instead of leaving it spinning.
    RunLater({[&] { DisposeWindow(inner); }});
    EXPECT_EQ(RunAppModalLoopForWindow(inner), noErr);
    EXPECT_EQ(TopLevel("modal"), nullptr);
    EXPECT_EQ(RunAppModalLoopForWindow(inner), errInvalidWindowRef);
    DisposeWindow(outer);

    // A window disposed of by its own button's command, inside its loop.
    WindowRef self = OpenWindow("modal");
    auto dispose = [](EventHandlerCallRef, EventRef, void *w) -> OSStatus {
        DisposeWindow(static_cast<WindowRef>(w));
        return noErr;
    };
    InstallEventHandler(GetWindowEventTarget(self), dispose, 1, &commandType, self, nullptr);
    RunLater({[&] { QTest::mouseClick(TopLevel("modal")->findChild<QWidget *>("ok"), Qt::LeftButton); }});
    EXPECT_EQ(RunAppModalLoopForWindow(self), noErr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(TopLevel("modal"), nullptr);
}

TEST(ToolboxDialogs, AlertsAndColourPickerAnswerWhatTheUserChose) {
    AlertStdCFStringAlertParamRec param{};
    GetStandardAlertDefaultParams(&param, kStdCFStringAlertVersionOne);
    param.defaultText = CFSTR("Go on");
    param.cancelText = CFSTR("Stop");
    param.defaultButton = kAlertStdAlertOKButton;
    param.cancelButton = kAlertStdAlertCancelButton;
    for (auto [press, item] : {std::pair{"Stop", 2}, std::pair{"Go on", 1}}) {
        DialogRef alert = nullptr;
        ASSERT_EQ(CreateStandardAlert(kAlertCautionAlert, CFSTR("Headline"), CFSTR("What it means"), &param, &alert),
                  noErr);
        WhenModal<QMessageBox>([press](QMessageBox *box) {
            EXPECT_EQ(std::tuple(box->text(), box->informativeText(), box->icon()),
                      std::tuple("Headline", "What it means", QMessageBox::Warning));
            for (QAbstractButton *b : box->buttons())
                if (b->text() == press) b->click();
        });
        DialogItemIndex chosen = 0;
        ASSERT_EQ(RunStandardAlert(alert, nullptr, &chosen), noErr);
        EXPECT_EQ(chosen, item) << press;
    }

    // The picker opens on the given colour; accepting gives the chosen one.
    NColorPickerInfo info{};
    info.theColor.color.rgb = CMRGBColor{0x1100, 0x2200, 0x3300};
    const char prompt[] = "Please choose color:";
    info.prompt[0] = sizeof prompt - 1;
    memcpy(info.prompt + 1, prompt, sizeof prompt - 1);
    WhenModal<QColorDialog>([&](QColorDialog *dialog) {
        EXPECT_EQ(std::pair(dialog->currentColor(), dialog->windowTitle()),
                  std::pair(QColor(0x11, 0x22, 0x33), QString(prompt)));
        dialog->setCurrentColor(QColor(250, 128, 3));
        dialog->accept();
    });
    ASSERT_EQ(NPickColor(&info), noErr);
    EXPECT_TRUE(info.newColorChosen);
    // 8-bit channels widen to 16 bits by repeating the byte (x * 257).
    const CMRGBColor &rgb = info.theColor.color.rgb;
    EXPECT_EQ(std::tuple(rgb.red, rgb.green, rgb.blue), std::tuple(250 * 257, 128 * 257, 3 * 257));
}

// A custom control shows its window's port: painted straight into the port,
// partly over the control (10, 10)-(171, 131) and past its right and bottom.
TEST_F(Toolbox, QuickDrawOnTheWindowPortIsWhatACustomControlShows) {
    Open();
    GrafPtr saved = nullptr;
    GetPort(&saved);
    SetPortWindowPort(w);
    const Rect all{0, 0, 257, 401}, red{100, 150, 140, 250};
    const RGBColor blueColor{0x3333, 0x6666, 0xCCCC}, redColor{0xFFFF, 0, 0};
    RGBForeColor(&blueColor);
    PaintRect(&all);
    RGBForeColor(&redColor);
    PaintRect(&red);
    SetPort(saved);

    const QImage shot = top->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb blue = qRgb(0x33, 0x66, 0xCC), background = shot.pixel(200, 139);
    const struct {
        int h, v;
        QRgb want;
    } rows[] = {{10, 10, blue},
                {170, 130, qRgb(255, 0, 0)},
                {150, 100, qRgb(255, 0, 0)},
                {149, 100, blue},
                {150, 99, blue},
                {170, 99, blue},
                {10, 130, blue},
                {9, 10, background},
                {10, 9, background},
                {171, 120, background},
                {150, 131, background}};
    for (const auto &row : rows) EXPECT_EQ(shot.pixel(row.h, row.v), row.want) << "h" << row.h << " v" << row.v;
    EXPECT_NE(background, qRgb(255, 0, 0)) << "outside the custom control the window shows its own widgets";
}

// Where Qt has no desktop services (offscreen here) the desktop's opener is
// asked directly.
TEST(ToolboxDialogs, DocumentsOpenWithTheDesktopsOpener) {
    QTemporaryDir dir;
    const QString marker = dir.filePath("opened");
    QFile script(dir.filePath("xdg-open"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QString("#!/bin/sh\nprintf '%s' \"$1\" > '%1.tmp' && mv '%1.tmp' '%1'\n").arg(marker).toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.path()) + ":/bin:/usr/bin");
    FSRef ref{};
    snprintf(ref.path, sizeof ref.path, "%s/Contents/Info.plist", TOOLBOX_TEST_BUNDLE);
    EXPECT_EQ(LSOpenFSRef(&ref, nullptr), noErr);
    qputenv("PATH", oldPath);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker); }, 10000));
    QFile opened(marker);
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    EXPECT_EQ(opened.readAll().toStdString(), std::string(ref.path));
}

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
