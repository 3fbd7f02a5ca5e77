#include "dialog/configdlghandler.h"

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

void StepClip(bool forward)
{
    pluginWorkSpace &ws = gConfigWorkSpace;
    if (ws.clipSlider == nullptr)
        return;
    SInt32 v = GetControl32BitValue(ws.clipSlider);
    if (forward) {
        if (!(ws.maxFrameIndex > v))
            return;
        ++v;
    } else {
        if (!(v > 0))
            return;
        --v;
    }
    SetControl32BitValue(ws.clipSlider, v);
    AccessRenderAndBlit(v);
    ShowClipPosition(v);
}

// Opens the plug-in's manual with the desktop's default application.
void OpenManual()
{
    CFBundleRef bundle = CFBundleGetBundleWithIdentifier(CFSTR("com.qmz.varnolex.kelvarin"));
    if (bundle == nullptr) {
        Notify("Cannot Locate Bundle. Proceed with caution. Crash imminent");
        return;   // without the bundle the manual cannot be found
    }
    CFURLRef url = CFBundleCopyResourceURL(bundle, CFSTR("manual"), CFSTR("pdf"), nullptr);
    if (url == nullptr) {
        Notify("Cannot locate manual in bundle");
        return;
    }
    FSRef file;
    if (CFURLGetFSRef(url, &file)) {
        const OSStatus err = LSOpenFSRef(&file, nullptr);
        if (err != noErr) {
            Str255 message;
            CToPStr("LSOpen failed with ", message);
            Str255 number;
            Num2Text(err, number);
            PStrCat(message, PStrView(number));
            Notify(message);
        }
    }
    CFRelease(url);
}

OSStatus HandleCommand(UInt32 commandID, WindowRef theWindow)
{
    pluginWorkSpace &ws = gConfigWorkSpace;
    pluginDataPtr config = ws.theConfig;
    lgItemHit = -1;

    if (CommandIDIs(commandID, "ok  ")) {
        lgItemHit = 1;
        QuitAppModalLoopForWindow(theWindow);
        return noErr;
    }
    if (CommandIDIs(commandID, "not!")) {
        lgItemHit = 2;
        QuitAppModalLoopForWindow(theWindow);
        return noErr;
    }
    if (CommandIDIs(commandID, "Info")) {
        ShowAbout();
        return noErr;
    }
    static constexpr const char *colourCommands[6] = {"Col1", "Col2", "Col3", "Col4", "Col5", "Col6"};
    for (SInt16 i = 1; i <= 6; ++i) {
        if (CommandIDIs(commandID, colourCommands[i - 1])) {
            if (config != nullptr)
                config->colors[i - 1] = LongInt2RGBColor(SimpleGetControlValueByID(theWindow, kColorSig, i));
            ReRenderAndBlit();
            return noErr;
        }
    }
    if (CommandIDIs(commandID, "Adva")) {
        StepClip(true);
        return noErr;
    }
    if (CommandIDIs(commandID, "Revi")) {
        StepClip(false);
        return noErr;
    }
    if (CommandIDIs(commandID, "Rset")) {
        if (config != nullptr) {
            ResetConfig(config, false);
            Config2Dlg(config);
            RenderLineArt(config);
        }
        ReRenderAndBlit();
        return eventNotHandledErr;   // passed on after doing its work
    }
    if (CommandIDIs(commandID, "Medi")) {
        if (config != nullptr) {
            const SInt16 former = config->mediaType;
            config->mediaType = static_cast<SInt16>(SimpleGetControlValueByID(theWindow, kMediaSig, 1));
            if (config->mediaType != former) {
                lgItemHit = 0;
                QuitAppModalLoopForWindow(theWindow);
            }
        }
        return noErr;
    }
    if (CommandIDIs(commandID, "Sall")) {
        relRect whole;
        InitRelRect(&whole);
        PutCurrentRel(whole);
        ReRenderAndBlit();
        return noErr;
    }
    if (CommandIDIs(commandID, "Help")) {
        OpenManual();
        return noErr;
    }
    if (CommandIDIs(commandID, "Rota")) {
        if (config != nullptr)
            config->rota = static_cast<SInt16>(SimpleGetControlValueByID(theWindow, kRotaSig, 1));
        ReRenderAndBlit();
        return noErr;
    }
    if (CommandIDIs(commandID, "Acti")) {
        if (config != nullptr)
            config->clipActive = SimpleGetControlValueByID(theWindow, kActiveSig, 1) == 1;
        ReRenderAndBlit();
        return noErr;
    }
    if (CommandIDIs(commandID, "Outs")) {
        if (config != nullptr)
            config->outside = SimpleGetControlValueByID(theWindow, kOutsideSig, 1) == 1;
        ReRenderAndBlit();
        return noErr;
    }
    return eventNotHandledErr;
}

// The window's controls go with it; no reference to them may outlive it.
void ForgetWindowControls()
{
    pluginWorkSpace &ws = gConfigWorkSpace;
    ws.theWindow = nullptr;
    ws.theFrameCtrl = nullptr;
    ws.clipSlider = nullptr;
    for (int i = 0; i < 6; ++i) {
        ws.sliders[i] = nullptr;
        ws.colors[i] = nullptr;
    }
}

} // namespace

const char *ConfigWindowName(SInt16 mediaType)
{
    switch (mediaType) {
    case kMediaPAL:
        return "configPAL";
    case kMediaHD:
        return "configHD";
    default:
        return "configNTSC";
    }
}

OSStatus TheDialogHandler(EventHandlerCallRef /*nextHandler*/, EventRef theEvent, void *userData)
{
    try {
        HICommand command{};
        GetEventParameter(theEvent, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr,
                          &command);
        return HandleCommand(command.commandID, static_cast<WindowRef>(userData));
    } catch (...) {
        return eventNotHandledErr;
    }
}

void SetupColors(WindowPtr theWindow, pluginDataPtr theConfig)
{
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

void Config2Dlg(pluginDataPtr theConfig)
{
    pluginWorkSpace &ws = gConfigWorkSpace;
    WindowRef window = ws.theWindow;
    for (int i = 0; i < 6; ++i) {
        if (ws.colors[i] != nullptr)
            SetControl32BitValue(ws.colors[i], RGBColor2LongInt(theConfig->colors[i]));
    }
    for (SInt16 i = 1; i <= 6; ++i) {
        if (ws.sliders[i - 1] != nullptr)
            SetControl32BitValue(ws.sliders[i - 1], theConfig->sliders[i - 1]);
        Str255 text;
        Num2Text(theConfig->sliders[i - 1], text);
        PStrCat(text, " ");
        SimpleSetControlText(window, kLegendSig, i, text);
    }
    SimpleSetControlValueByID(window, kOutsideSig, 1, theConfig->outside ? 1 : 0);
    SimpleSetControlValueByID(window, kActiveSig, 1, theConfig->clipActive ? 1 : 0);
    SimpleSetControlValueByID(window, kRotaSig, 1, theConfig->rota);
    ReRenderAndBlit();
}

void SetupDialog(WindowPtr theWindow, pluginDataPtr theConfig)
{
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

void DoConfig(pluginDataPtr theConfig)
{
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
            lgItemHit = 2;   // a loop that could not run is a cancel, not a reopen
        DisposeWindow(lgTheWindow);
        lgTheWindow = nullptr;
        ForgetWindowControls();
    } while (lgItemHit != 1 && lgItemHit != 2);

    if (lgItemHit == 1)
        (void)SaveConfig(theConfig);
    else
        std::memcpy(theConfig, &theBackup, sizeof theBackup);
}
