#include "dialog/configdlghandler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/DataHandling.h"
#include "config/PluginDefines.h"
#include "dialog/aboutwindow.h"
#include "dialog/sliderHandlers.h"
#include "render/lineEffect.h"
#include "render/relrects.h"
#include "storage/prefsloader.h"
#include "support/carbonmacros.h"
#include "support/commonprocs.h"
#include "CoreFoundation.h"
#include "LaunchServices.h"

namespace {

WindowRef lgTheWindow = nullptr;
// How the modal loop ended: 1 OK, 2 Cancel, 0 media type changed (reopen),
// -1 while a command is handled. Not reset between dialogs.
SInt16 lgItemHit = 0;

constexpr OSType kColorSig = PLATFORM_FOURCC('C', 'o', 'l', 'r');
constexpr OSType kColorLegendSig = PLATFORM_FOURCC('C', 'L', 'g', 'd');
constexpr OSType kLegendSig = PLATFORM_FOURCC('L', 'g', 'n', 'd');
constexpr OSType kClipSig = PLATFORM_FOURCC('C', 'l', 'i', 'p');
constexpr OSType kRectSig = PLATFORM_FOURCC('R', 'e', 'c', 't');
constexpr OSType kMediaSig = PLATFORM_FOURCC('M', 'e', 'd', 'i');
constexpr OSType kRotaSig = PLATFORM_FOURCC('R', 'o', 't', 'a');
constexpr OSType kActiveSig = PLATFORM_FOURCC('A', 'c', 't', 'i');
constexpr OSType kOutsideSig = PLATFORM_FOURCC('O', 'u', 't', 's');

void StepClip(bool forward) {
    const pluginWorkSpace &ws = gConfigWorkSpace;
    if (ws.clipSlider == nullptr) return;
    const SInt32 v = GetControl32BitValue(ws.clipSlider);
    if (forward ? !(ws.maxFrameIndex > v) : !(v > 0)) return;
    GoToClipPosition(forward ? v + 1 : v - 1);
}

constexpr OSType kPixelSig = PLATFORM_FOURCC('N', 'u', 'm', 'b');
constexpr OSType kPercentSig = PLATFORM_FOURCC('P', 'e', 'r', 'c');

// The frame the pixel fields measure: the size the chosen standard fetches.
void StandardFrameSize(SInt16 theMediaType, double &outWidth, double &outHeight) {
    outWidth = theMediaType == kMediaHD ? 960 : 720;
    outHeight = theMediaType == kMediaPAL ? 576 : (theMediaType == kMediaHD ? 540 : 480);
}

std::string NumberText(double theValue, int theDecimals) {
    char text[48];
    const double shown = std::fabs(theValue) < 0.5 * std::pow(10.0, -theDecimals) ? 0.0 : theValue;
    std::snprintf(text, sizeof text, "%.*f", theDecimals, shown);
    return text;
}

// The rectangle's x, y, width and height in a frame of that size.
void RectNumbers(const relRect &r, double theWidth, double theHeight, double outValues[4]) {
    outValues[0] = r.left * theWidth;
    outValues[1] = r.top * theHeight;
    outValues[2] = (r.right - r.left) * theWidth;
    outValues[3] = (r.bottom - r.top) * theHeight;
}

// The number in a field; false for an empty or malformed text. A field
// still showing theCurrent (as shown with theDecimals) gives it exactly, so
// the edges the user did not touch keep their values.
bool ReadNumber(WindowRef theWindow, OSType theSig, SInt16 theID, double theCurrent, int theDecimals,
                double &outValue) {
    ControlRef field = SimpleGetControlByID(theWindow, theSig, theID);
    if (field == nullptr) return false;
    char text[64] = {};
    Size length = 0;
    if (GetControlData(field, kControlEntireControl, kControlEditTextTextTag, sizeof text - 1, text, &length) !=
            noErr ||
        length <= 0 || length >= static_cast<Size>(sizeof text))
        return false;
    if (std::string_view(text, static_cast<size_t>(length)) == NumberText(theCurrent, theDecimals)) {
        outValue = theCurrent;
        return true;
    }
    std::replace(text, text + length, ',', '.');
    char *end = nullptr;
    outValue = std::strtod(text, &end);
    return end == text + length && std::isfinite(outValue);
}

// A number typed into field theField (1..8): the row it belongs to becomes
// the rectangle, when its four values describe one inside the frame;
// otherwise nothing is stored.
void ApplyNumbers(WindowRef theWindow, pluginDataPtr theConfig, SInt16 theField) {
    const bool percent = theField > 4;
    double width = 100;
    double height = 100;
    if (!percent) StandardFrameSize(theConfig->mediaType, width, height);
    double current[4];
    RectNumbers(theConfig->startRel, width, height, current);
    double v[4];
    for (SInt16 i = 0; i < 4; ++i)
        if (!ReadNumber(theWindow, percent ? kPercentSig : kPixelSig, static_cast<SInt16>(i + 1), current[i],
                        percent ? 2 : 0, v[i]))
            return;
    if (v[0] < 0 || v[1] < 0 || v[2] <= 0 || v[3] <= 0 || v[0] + v[2] > width || v[1] + v[3] > height) return;
    relRect rel;
    rel.left = v[0] / width;
    rel.right = (v[0] + v[2]) / width;
    rel.top = v[1] / height;
    rel.bottom = (v[1] + v[3]) / height;
    PutCurrentRel(rel);
    ReRenderAndBlit();
    ShowRectNumbers(theField);
}

// Clipping the picture to the rectangle matters only where a quarter turn
// makes it spill over two sides.
void ShowClipSwitchState(WindowRef theWindow, SInt16 theRota) {
    ControlRef clipSwitch = SimpleGetControlByID(theWindow, kActiveSig, 1);
    if (clipSwitch == nullptr) return;
    if (theRota == 2 || theRota == 4)
        EnableControl(clipSwitch);
    else
        DisableControl(clipSwitch);
}

// Opens the plug-in's manual with the desktop's default application.
void OpenManual() {
    CFBundleRef bundle = CFBundleGetBundleWithIdentifier(__CFStringMakeConstantString(cMyBundleID));
    if (bundle == nullptr) {
        Notify("Cannot Locate Bundle. Proceed with caution. Crash imminent");
        return;  // without the bundle the manual cannot be found
    }
    CFURLRef url = CFBundleCopyResourceURL(bundle, CFSTR("manual"), CFSTR("pdf"), nullptr);
    if (url == nullptr) {
        Notify("Cannot locate manual in bundle");
        return;
    }
    FSRef file;
    if (CFURLGetFSRef(url, &file)) {
        if (LSOpenFSRef(&file, nullptr) != noErr) {
            // Nothing here opens PDF files: tell the user where the manual is.
            Str255 line;
            CToPStr("No program here opens the manual; it is ", line);
            PStrCat(line, std::string_view(file.path, strnlen(file.path, sizeof file.path)));
            Str255 ok;
            CToPStr("OK", ok);
            const Str255 none = {0};
            (void)StandardWarning(line, none, ok, none);
        }
    }
    CFRelease(url);
}

// The dialog's commands. Each handler gets the window, the record being
// edited (null when there is none) and the row's number: which of the
// controls of one sort sent it (the colour swatch, the number field, from 1),
// or the direction of a step.
struct DialogCommand {
    const char *code;
    SInt16 index;
    OSStatus (*run)(WindowRef theWindow, pluginDataPtr theConfig, SInt16 theIndex);
};

OSStatus EndDialog(WindowRef theWindow, SInt16 theItem) {
    lgItemHit = theItem;
    QuitAppModalLoopForWindow(theWindow);
    return noErr;
}

OSStatus TakeColour(WindowRef theWindow, pluginDataPtr theConfig, SInt16 theIndex) {
    if (theConfig != nullptr)
        theConfig->colors[theIndex - 1] = LongInt2RGBColor(SimpleGetControlValueByID(theWindow, kColorSig, theIndex));
    ReRenderAndBlit();
    return noErr;
}

OSStatus ResetToDefaults(WindowRef theWindow, pluginDataPtr theConfig, SInt16) {
    if (theConfig != nullptr) {
        ResetConfig(theConfig, false);
        // The standard the defaults bring; OK saves it, so it is shown.
        SimpleSetControlValueByID(theWindow, kMediaSig, 1, theConfig->mediaType);
        Config2Dlg(theConfig);
        RenderLineArt(theConfig);
    }
    ReRenderAndBlit();
    return eventNotHandledErr;  // passed on after doing its work
}

// Another standard needs the window made for it: the loop ends and reopens.
OSStatus TakeStandard(WindowRef theWindow, pluginDataPtr theConfig, SInt16) {
    if (theConfig == nullptr) return noErr;
    const SInt16 former = theConfig->mediaType;
    theConfig->mediaType = static_cast<SInt16>(SimpleGetControlValueByID(theWindow, kMediaSig, 1));
    if (theConfig->mediaType != former) EndDialog(theWindow, 0);
    return noErr;
}

OSStatus SelectAll(WindowRef, pluginDataPtr, SInt16) {
    relRect whole;
    InitRelRect(&whole);
    PutCurrentRel(whole);
    ReRenderAndBlit();
    ShowRectNumbers(kNoNumberField);
    return noErr;
}

OSStatus TakeNumbers(WindowRef theWindow, pluginDataPtr theConfig, SInt16 theIndex) {
    if (theConfig != nullptr) ApplyNumbers(theWindow, theConfig, theIndex);
    return noErr;
}

OSStatus TakeRotation(WindowRef theWindow, pluginDataPtr theConfig, SInt16) {
    if (theConfig != nullptr) {
        theConfig->rota = static_cast<SInt16>(SimpleGetControlValueByID(theWindow, kRotaSig, 1));
        ShowClipSwitchState(theWindow, theConfig->rota);
    }
    ReRenderAndBlit();
    return noErr;
}

// A check box of the dialog into a switch of the record.
template <OSType theSig, Boolean pluginDataRec::*theField>
OSStatus TakeSwitch(WindowRef theWindow, pluginDataPtr theConfig, SInt16) {
    if (theConfig != nullptr) theConfig->*theField = SimpleGetControlValueByID(theWindow, theSig, 1) == 1;
    ReRenderAndBlit();
    return noErr;
}

OSStatus Accept(WindowRef theWindow, pluginDataPtr, SInt16) { return EndDialog(theWindow, 1); }

OSStatus Cancel(WindowRef theWindow, pluginDataPtr, SInt16) { return EndDialog(theWindow, 2); }

OSStatus About(WindowRef, pluginDataPtr, SInt16) {
    ShowAbout();
    return noErr;
}

// theIndex 1 steps forward, 0 back.
OSStatus Step(WindowRef, pluginDataPtr, SInt16 theIndex) {
    StepClip(theIndex == 1);
    return noErr;
}

OSStatus Manual(WindowRef, pluginDataPtr, SInt16) {
    OpenManual();
    return noErr;
}

constexpr DialogCommand kDialogCommands[] = {
    {"ok  ", 0, Accept},
    {"not!", 0, Cancel},
    {"Info", 0, About},
    {"Col1", 1, TakeColour},
    {"Col2", 2, TakeColour},
    {"Col3", 3, TakeColour},
    {"Col4", 4, TakeColour},
    {"Col5", 5, TakeColour},
    {"Col6", 6, TakeColour},
    {"Adva", 1, Step},
    {"Revi", 0, Step},
    {"Rset", 0, ResetToDefaults},
    {"Medi", 0, TakeStandard},
    {"Sall", 0, SelectAll},
    {"Num1", 1, TakeNumbers},
    {"Num2", 2, TakeNumbers},
    {"Num3", 3, TakeNumbers},
    {"Num4", 4, TakeNumbers},
    {"Pct1", 5, TakeNumbers},
    {"Pct2", 6, TakeNumbers},
    {"Pct3", 7, TakeNumbers},
    {"Pct4", 8, TakeNumbers},
    {"Help", 0, Manual},
    {"Rota", 0, TakeRotation},
    {"Acti", 0, TakeSwitch<kActiveSig, &pluginDataRec::clipActive>},
    {"Outs", 0, TakeSwitch<kOutsideSig, &pluginDataRec::outside>},
};

OSStatus HandleCommand(UInt32 commandID, WindowRef theWindow) {
    lgItemHit = -1;
    for (const DialogCommand &command : kDialogCommands)
        if (CommandIDIs(commandID, command.code))
            return command.run(theWindow, gConfigWorkSpace.theConfig, command.index);
    return eventNotHandledErr;
}

// The window's controls go with it; no reference to them may outlive it.
void ForgetWindowControls() {
    pluginWorkSpace &ws = gConfigWorkSpace;
    ws.theWindow = nullptr;
    ws.theFrameCtrl = nullptr;
    ws.clipSlider = nullptr;
    for (int i = 0; i < 6; ++i) {
        ws.sliders[i] = nullptr;
        ws.colors[i] = nullptr;
    }
}

}  // namespace

void ShowRectNumbers(SInt16 theSkippedField) {
    const pluginWorkSpace &ws = gConfigWorkSpace;
    if (ws.theWindow == nullptr || ws.theConfig == nullptr) return;
    double width = 0;
    double height = 0;
    StandardFrameSize(ws.theConfig->mediaType, width, height);
    double pixels[4];
    double percents[4];
    RectNumbers(ws.theConfig->startRel, width, height, pixels);
    RectNumbers(ws.theConfig->startRel, 100, 100, percents);
    for (SInt16 i = 1; i <= 4; ++i) {
        Str255 text;
        if (theSkippedField != i) {
            CToPStr(NumberText(pixels[i - 1], 0), text);
            SimpleSetControlText(ws.theWindow, kPixelSig, i, text);
        }
        if (theSkippedField != i + 4) {
            CToPStr(NumberText(percents[i - 1], 2), text);
            SimpleSetControlText(ws.theWindow, kPercentSig, i, text);
        }
    }
}

const char *ConfigWindowName(SInt16 mediaType) {
    switch (mediaType) {
        case kMediaPAL:
            return "configPAL";
        case kMediaHD:
            return "configHD";
        default:
            return "configNTSC";
    }
}

OSStatus TheDialogHandler(EventHandlerCallRef /*nextHandler*/, EventRef theEvent, void *userData) {
    try {
        HICommand command{};
        GetEventParameter(theEvent, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command);
        return HandleCommand(command.commandID, static_cast<WindowRef>(userData));
    } catch (...) {
        return eventNotHandledErr;
    }
}

void SetupColors(WindowPtr theWindow, pluginDataPtr theConfig) {
    for (SInt16 i = 1; i <= 6; ++i) {
        ControlRef ctl = SimpleGetControlByID(theWindow, kColorSig, i);
        Assert(ctl, "Cannot allocate color" + std::to_string(i) + " in SetupDialog");
        SetControl32BitMinimum(ctl, 0);
        SetControl32BitMaximum(ctl, 0xFFFFFF);
        SetControl32BitValue(ctl, RGBColor2LongInt(theConfig->colors[i - 1]));
        if (cUsesColor[i - 1]) {
            ShowControl(ctl);
            SimpleShowControl(theWindow, kColorLegendSig, i);
        } else {
            HideControl(ctl);
            SimpleHideControl(theWindow, kColorLegendSig, i);
        }
        gConfigWorkSpace.colors[i - 1] = ctl;
    }
}

void Config2Dlg(pluginDataPtr theConfig) {
    pluginWorkSpace &ws = gConfigWorkSpace;
    WindowRef window = ws.theWindow;
    for (int i = 0; i < 6; ++i) {
        if (ws.colors[i] != nullptr) SetControl32BitValue(ws.colors[i], RGBColor2LongInt(theConfig->colors[i]));
    }
    for (SInt16 i = 1; i <= 6; ++i) {
        if (ws.sliders[i - 1] != nullptr) SetControl32BitValue(ws.sliders[i - 1], theConfig->sliders[i - 1]);
        Str255 text;
        Num2Text(theConfig->sliders[i - 1], text);
        PStrCat(text, " ");
        SimpleSetControlText(window, kLegendSig, i, text);
    }
    SimpleSetControlValueByID(window, kOutsideSig, 1, theConfig->outside ? 1 : 0);
    SimpleSetControlValueByID(window, kActiveSig, 1, theConfig->clipActive ? 1 : 0);
    SimpleSetControlValueByID(window, kRotaSig, 1, theConfig->rota);
    ShowClipSwitchState(window, theConfig->rota);
    ShowRectNumbers(kNoNumberField);
    ReRenderAndBlit();
}

void SetupDialog(WindowPtr theWindow, pluginDataPtr theConfig) {
    Assert(theWindow, "Nil Window in SetupDialog");
    Assert(theConfig, "Nil theConfig in SetupDialog");
    pluginWorkSpace &ws = gConfigWorkSpace;
    ws.theWindow = theWindow;
    ws.theFrameCtrl = SimpleGetControlByID(theWindow, kClipSig, 1);
    Assert(ws.theFrameCtrl, "Cannot acces Clip 1 CTRL");
    SetupColors(theWindow, theConfig);
    SetupSliders(theWindow);
    SimpleHideControl(theWindow, kRectSig, 1);
    SimpleHideControl(theWindow, kRectSig, 2);
    SimpleSetControlValueByID(theWindow, kMediaSig, 1, theConfig->mediaType);
    // The workspace's record is the one being edited; DoConfig is always
    // handed that same record, so it stands in when the workspace has none.
    pluginDataPtr edited = ws.theConfig != nullptr ? ws.theConfig : theConfig;
    Config2Dlg(edited);
    RenderLineArt(edited);
    ReRenderAndBlit();
}

void DoConfig(pluginDataPtr theConfig) {
    Assert(theConfig, "Nil theConfig on DoConfig");
    pluginDataRec theBackup;
    std::memcpy(&theBackup, theConfig, sizeof theBackup);

    static const EventTypeSpec commandEvents[] = {{kEventClassCommand, kEventCommandProcess}};
    static EventHandlerUPP handlerUPP = NewEventHandlerUPP(TheDialogHandler);
    do {
        const char *windowName = ConfigWindowName(theConfig->mediaType);
        lgTheWindow = OpenNibWindowFromCFBundle(cMyBundleID, cMyPluginName, windowName);
        if (lgTheWindow == nullptr) {
            // Without a window no command could ever end the loop.
            Str255 description;
            CToPStr("Unable to create the window \"", description);
            PStrCat(description, windowName);
            PStrCat(description, "\" from the nib \"");
            PStrCat(description, cMyPluginName);
            PStrCat(description, "\"");
            Terminate(std::string_view("OpenNibWindow Failed"), PStrView(description));
        }
        InstallEventHandler(GetWindowEventTarget(lgTheWindow), handlerUPP, 1, commandEvents, lgTheWindow, nullptr);
        SetupDialog(lgTheWindow, theConfig);
        ShowWindow(lgTheWindow);
        SetPort(GetWindowPort(lgTheWindow));
        BringToFront(lgTheWindow);
        if (RunAppModalLoopForWindow(lgTheWindow) != noErr)
            lgItemHit = 2;  // a loop that could not run is a cancel, not a reopen
        DisposeWindow(lgTheWindow);
        lgTheWindow = nullptr;
        ForgetWindowControls();
    } while (lgItemHit != 1 && lgItemHit != 2);

    if (lgItemHit == 1)
        (void)SaveConfig(theConfig);
    else
        std::memcpy(theConfig, &theBackup, sizeof theBackup);
}
