#include "dialog/aboutwindow.h"

#include "config/PluginDefines.h"
#include "support/carbonmacros.h"
#include "support/commonprocs.h"

namespace {

WindowRef lgTheWindow = nullptr;
SInt16 lgItemHit = 0;  // 1 OK, 2 Cancel, -1 while a command is handled

constexpr OSType kPlugSig = PLATFORM_FOURCC('P', 'l', 'u', 'g');
constexpr OSType kVersSig = PLATFORM_FOURCC('V', 'e', 'r', 's');

}  // namespace

void AboutVersionLine(Str255 outText) {
    CToPStr("Version ", outText);
    PStrCat(outText, cPlugVersion);
}

OSStatus AboutDialogHandler(EventHandlerCallRef /*nextHandler*/, EventRef theEvent, void *userData) {
    try {
        OSStatus status = eventNotHandledErr;
        HICommand command{};
        GetEventParameter(theEvent, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command);
        lgItemHit = -1;
        if (CommandIDIs(command.commandID, "ok  ")) {
            lgItemHit = 1;
            QuitAppModalLoopForWindow(static_cast<WindowRef>(userData));
            status = noErr;
        } else if (CommandIDIs(command.commandID, "not!")) {
            lgItemHit = 2;
            QuitAppModalLoopForWindow(static_cast<WindowRef>(userData));
            status = noErr;
        }
        return status;
    } catch (...) {
        return eventNotHandledErr;
    }
}

void ShowAbout() {
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);

    lgTheWindow = OpenNibWindowFromCFBundle(cMyBundleID, "about", "about");
    if (lgTheWindow == nullptr) return;

    static const EventTypeSpec commandEvents[] = {{kEventClassCommand, kEventCommandProcess}};
    static EventHandlerUPP handlerUPP = NewEventHandlerUPP(AboutDialogHandler);
    InstallEventHandler(GetWindowEventTarget(lgTheWindow), handlerUPP, 1, commandEvents, lgTheWindow, nullptr);

    Str255 text;
    CToPStr(cMyClearName, text);
    SimpleSetControlText(lgTheWindow, kPlugSig, 1, text);
    AboutVersionLine(text);
    SimpleSetControlText(lgTheWindow, kVersSig, 1, text);

    ShowWindow(lgTheWindow);
    BringToFront(lgTheWindow);
    RunAppModalLoopForWindow(lgTheWindow);
    DisposeWindow(lgTheWindow);
    lgTheWindow = nullptr;
    SetGWorld(savedPort, savedDevice);
}
