// Toolbox without a QApplication: events and handler chains work; every
// call that needs a display fails with an error code instead of crashing.
#include <gtest/gtest.h>

#include "Carbon.h"

#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

struct Recorder {
    Log *log;
    std::string name;
    OSStatus result;
    bool callNext = false;
};

OSStatus Record(EventHandlerCallRef next, EventRef event, void *userData) {
    auto *r = static_cast<Recorder *>(userData);
    HICommand command{};
    GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command);
    r->log->push_back(r->name + ":" + std::to_string(command.commandID));
    if (r->callNext) r->log->push_back(r->name + " after next=" + std::to_string(CallNextEventHandler(next, event)));
    return r->result;
}

OSStatus SendCommand(UInt32 id) {
    EventRef e = nullptr;
    EXPECT_EQ(CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &e), noErr);
    HICommand command{};
    command.commandID = id;
    SetEventParameter(e, kEventParamDirectObject, typeHICommand, sizeof command, &command);
    OSStatus st = SendEventToEventTarget(e, GetApplicationEventTarget());
    ReleaseEvent(e);
    return st;
}

}  // namespace

TEST(ToolboxEvents, ParametersKeepTypeAndConvertBetweenIntegers) {
    EventRef e = nullptr;
    ASSERT_EQ(CreateEvent(nullptr, kEventClassControl, kEventControlHitTest, 0, 0, &e), noErr);
    EXPECT_EQ(std::pair(GetEventClass(e), GetEventKind(e)),
              std::pair(UInt32(kEventClassControl), UInt32(kEventControlHitTest)));

    Point where{-3, 17};
    ASSERT_EQ(SetEventParameter(e, kEventParamMouseLocation, typeQDPoint, sizeof where, &where), noErr);
    Point back{};
    EventParamType actual = 0;
    ByteCount size = 0;
    ASSERT_EQ(GetEventParameter(e, kEventParamMouseLocation, typeQDPoint, &actual, sizeof back, &size, &back), noErr);
    EXPECT_EQ(std::tuple(actual, size, back.v, back.h), std::tuple(EventParamType(typeQDPoint), sizeof where, -3, 17));

    // A missing parameter leaves the caller's value alone.
    UInt32 mods = 77;
    EXPECT_EQ(GetEventParameter(e, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof mods, nullptr, &mods),
              eventParameterNotFoundErr);
    EXPECT_EQ(mods, 77u);

    // A part code set as 16 bits reads back as 32 and the other way round,
    // negative values keeping their sign.
    ControlPartCode part = -2;
    SetEventParameter(e, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
    SInt32 wide = 0;
    ASSERT_EQ(GetEventParameter(e, kEventParamControlPart, typeSInt32, &actual, sizeof wide, nullptr, &wide), noErr);
    EXPECT_EQ(std::pair(wide, actual), std::pair(SInt32(-2), EventParamType(typeSInt32)));
    const UInt32 modsSet = shiftKey | optionKey;
    SetEventParameter(e, kEventParamKeyModifiers, typeUInt32, sizeof modsSet, &modsSet);
    SInt16 narrow = 0;
    ASSERT_EQ(GetEventParameter(e, kEventParamKeyModifiers, typeSInt16, nullptr, sizeof narrow, nullptr, &narrow),
              noErr);
    EXPECT_EQ(narrow, SInt16(shiftKey | optionKey));

    // A point is no integer.
    EXPECT_EQ(GetEventParameter(e, kEventParamMouseLocation, typeUInt32, nullptr, 4, nullptr, &mods),
              errAECoercionFail);

    // A short buffer gets what fits and the full size is reported.
    HICommand command{0, kHICommandOK, {}};
    SetEventParameter(e, kEventParamDirectObject, typeHICommand, sizeof command, &command);
    UInt32 shortBuf[2] = {};
    ASSERT_EQ(GetEventParameter(e, kEventParamDirectObject, typeHICommand, nullptr, sizeof shortBuf, &size, shortBuf),
              noErr);
    EXPECT_EQ(std::pair(size, shortBuf[1]), std::pair(ByteCount(sizeof command), UInt32(kHICommandOK)));

    EXPECT_EQ(SetEventParameter(e, kEventParamMouseLocation, typeQDPoint, 4, nullptr), paramErr);
    ReleaseEvent(e);
    EXPECT_EQ(GetEventKind(e), 0u) << "a released event is no longer followed";
}

TEST(ToolboxEvents, HandlerChainRunsLastInstalledFirstAndPassesOn) {
    Log log;
    Recorder first{&log, "first", noErr}, second{&log, "second", eventNotHandledErr},
        third{&log, "third", eventNotHandledErr}, otherKind{&log, "otherKind", noErr};
    const EventTypeSpec commands{kEventClassCommand, kEventCommandProcess};
    const EventTypeSpec draws{kEventClassControl, kEventControlDraw};
    EventHandlerRef h1, h2, h3, h4;
    EventTargetRef app = GetApplicationEventTarget();
    ASSERT_EQ(InstallEventHandler(app, NewEventHandlerUPP(Record), 1, &commands, &first, &h1), noErr);
    ASSERT_EQ(InstallEventHandler(app, NewEventHandlerUPP(Record), 1, &commands, &second, &h2), noErr);
    ASSERT_EQ(InstallEventHandler(app, NewEventHandlerUPP(Record), 1, &draws, &otherKind, &h4), noErr);
    ASSERT_EQ(InstallEventHandler(app, NewEventHandlerUPP(Record), 1, &commands, &third, &h3), noErr);

    EXPECT_EQ(SendCommand(42), noErr);
    EXPECT_EQ(log, (std::vector<std::string>{"third:42", "second:42", "first:42"}));

    // A handler that calls the next one itself sees its result, and the
    // handlers below it run once only.
    log.clear();
    third.callNext = true;
    third.result = noErr;
    EXPECT_EQ(SendCommand(7), noErr);
    EXPECT_EQ(log, (std::vector<std::string>{"third:7", "second:7", "first:7", "third after next=0"}));

    // Removed handlers are skipped; with nobody handling, the send says so.
    log.clear();
    third.callNext = false;
    EXPECT_EQ(RemoveEventHandler(h3), noErr);
    EXPECT_EQ(RemoveEventHandler(h1), noErr);
    EXPECT_EQ(RemoveEventHandler(h1), paramErr) << "a handler is removed once";
    EXPECT_EQ(SendCommand(9), eventNotHandledErr);
    EXPECT_EQ(log, (std::vector<std::string>{"second:9"}));
    RemoveEventHandler(h2);
    RemoveEventHandler(h4);

    EXPECT_EQ(InstallEventHandler(nullptr, Record, 1, &commands, nullptr, nullptr), paramErr);
}

TEST(ToolboxHeadless, EverythingVisibleFailsWithAnErrorCode) {
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8 *>(TOOLBOX_TEST_BUNDLE), strlen(TOOLBOX_TEST_BUNDLE), true);
    CFBundleRef bundle = CFBundleCreate(nullptr, url);
    ASSERT_NE(bundle, nullptr);
    IBNibRef nib = nullptr;
    ASSERT_EQ(CreateNibReferenceWithCFBundle(bundle, CFSTR("test"), &nib), noErr);
    WindowRef w = reinterpret_cast<WindowRef>(0x1);
    EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("controls"), &w), errNoWindowSystem);
    EXPECT_EQ(w, nullptr);
    // Missing windows and nibs are told apart from a missing display.
    EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("nosuchwindow"), &w), kIBCarbonRuntimeCantFindObject);
    DisposeNibReference(nib);
    EXPECT_EQ(CreateNibReferenceWithCFBundle(bundle, CFSTR("nosuchnib"), &nib), kIBCarbonRuntimeCantFindNibFile);
    EXPECT_EQ(nib, nullptr);
    EXPECT_EQ(CreateNibReferenceWithCFBundle(bundle, CFSTR("../Resources/test"), &nib), paramErr);
    CFRelease(url);

    EXPECT_EQ(RunAppModalLoopForWindow(nullptr), errInvalidWindowRef);
    ControlID id{PLATFORM_FOURCC('C', 'u', 's', 't'), 1};
    ControlRef c = reinterpret_cast<ControlRef>(0x1);
    EXPECT_EQ(GetControlByID(nullptr, &id, &c), errInvalidWindowRef);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(GetControl32BitValue(reinterpret_cast<ControlRef>(&id)), 0) << "an unknown pointer is never followed";

    NColorPickerInfo info{};
    info.newColorChosen = true;
    EXPECT_EQ(NPickColor(&info), errNoWindowSystem);
    EXPECT_FALSE(info.newColorChosen);

    Point where{1, 1};
    MouseTrackingResult result = kMouseTrackingMouseDragged;
    EXPECT_EQ(TrackMouseLocation(nullptr, &where, &result), errNoWindowSystem);
    EXPECT_EQ(result, kMouseTrackingMouseUp) << "a tracking loop must end";

    FSRef missing{};
    snprintf(missing.path, sizeof missing.path, "%s/no-such-document.pdf", TOOLBOX_TEST_BUNDLE);
    EXPECT_EQ(LSOpenFSRef(&missing, nullptr), fnfErr);
    EXPECT_EQ(LSOpenFSRef(nullptr, nullptr), paramErr);
}
