#include "dialog/sliderHandlers.h"

#include <string>

#include "config/PluginDefines.h"
#include "host/iMovieGlue.h"
#include "render/callpixelfx.h"
#include "support/carbonmacros.h"
#include "support/commonprocs.h"

namespace {

constexpr OSType kSliderSig = PLATFORM_FOURCC('S', 'l', 'd', 'r');
constexpr OSType kLegendSig = PLATFORM_FOURCC('L', 'g', 'n', 'd');
constexpr OSType kLabelSig = PLATFORM_FOURCC('L', 'a', 'b', 'l');
constexpr OSType kClipSliderSig = PLATFORM_FOURCC('C', 'l', 'p', 'S');
constexpr OSType kClipTextSig = PLATFORM_FOURCC('C', 'l', 'p', 'M');

ControlActionUPP lgClipSliderUPP = nullptr;

} // namespace

void ShowClipPosition(SInt32 thePosition)
{
    if (gConfigWorkSpace.theWindow == nullptr)
        return;
    Str255 text;
    ClipPositionText(thePosition, gConfigWorkSpace.maxFrameIndex, text);
    SimpleSetControlText(gConfigWorkSpace.theWindow, kClipTextSig, 1, text);
}

void ClipPositionText(SInt32 thePosition, SInt32 theLast, Str255 outText)
{
    Num2Text(thePosition, outText);
    PStrCat(outText, "/");
    Str255 last;
    Num2Text(theLast, last);
    PStrCat(outText, PStrView(last));
}

void ReRenderAndBlit()
{
    pluginWorkSpace &ws = gConfigWorkSpace;
    CallPixelEffect(ws.sourceClip, ws.theFXClip);
    // A change of value makes the platform redraw the preview control.
    if (ws.theFrameCtrl != nullptr)
        SetControl32BitValue(ws.theFrameCtrl, GetControl32BitValue(ws.theFrameCtrl) > 0 ? 0 : 1);
}

void AccessRenderAndBlit(SInt32 theVal)
{
    pluginWorkSpace &ws = gConfigWorkSpace;
    // When the fetch fails the previous frame stays in sourceClip.
    if (ws.iMovieParams != nullptr)
        (void)GetFrameIntoGW(ws.sourceClip, ws.iMovieParams, ws.minFrameIndex + theVal, cUseDisposeGWInSlider);
    ReRenderAndBlit();
}

void ClipSliderAction(ControlRef theControl, ControlPartCode /*partCode*/)
{
    try {
        const SInt32 theVal = GetControl32BitValue(theControl);
        gConfigWorkSpace.currFrameIndex = theVal;
        ShowClipPosition(theVal);
        AccessRenderAndBlit(theVal);
    } catch (...) {
        // Nothing may cross back into the platform's event dispatch.
    }
}

void SetupSliders(WindowRef theWindow)
{
    pluginWorkSpace &ws = gConfigWorkSpace;
    for (SInt16 i = 1; i <= 6; ++i) {
        ControlRef ctl = SimpleGetControlByID(theWindow, kSliderSig, i);
        Assert(ctl, "Cannot access slider " + std::to_string(i));
        ws.sliders[i - 1] = ctl;
        // None of the six parameter sliders is used by this effect.
        if (!cUsesSlider[i - 1]) {
            SimpleHideControl(theWindow, kSliderSig, i);
            SimpleHideControl(theWindow, kLegendSig, i);
            SimpleHideControl(theWindow, kLabelSig, i);
        }
    }
    ControlRef clip = SimpleGetControlByID(theWindow, kClipSliderSig, 1);
    Assert(clip, "Cannot access clip slider");
    ws.clipSlider = clip;
    if (lgClipSliderUPP == nullptr)
        lgClipSliderUPP = NewControlActionUPP(ClipSliderAction);
    SetControlAction(clip, lgClipSliderUPP);
    SetControl32BitValue(clip, ws.currFrameIndex);
    SetControl32BitMinimum(clip, 0);
    SetControl32BitMaximum(clip, ws.maxFrameIndex);
    ShowClipPosition(ws.currFrameIndex);
}
