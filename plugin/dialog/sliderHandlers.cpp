#include "dialog/sliderHandlers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
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

// The host numbers its frames from the clip's start; position 0 of the slider
// is the frame minFrameIndex past the button message's startFrame.
int64_t ClipFrameNumber(SInt32 thePosition) {
    const pluginWorkSpace &ws = gConfigWorkSpace;
    const int64_t base = ws.iMovieParams != nullptr ? ws.iMovieParams->startFrame : 0;
    return base + ws.minFrameIndex + thePosition;
}

SInt32 Clamp32(int64_t v) { return static_cast<SInt32>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

}  // namespace

SInt32 TimecodeRate(SInt16 theMediaType) {
    // The plug-in interface tells no frame rate; the video standard chosen in
    // the dialog stands for the clip's (NTSC timecode counts 30 frames a
    // second, without dropped numbers).
    return theMediaType == kMediaPAL ? 25 : 30;
}

void ClipPositionText(int64_t theFrame, int64_t theLast, SInt32 theRate, Str255 outText) {
    if (theRate < 1) theRate = 1;
    const int64_t frame = theFrame < 0 ? 0 : theFrame;
    const int64_t seconds = frame / theRate;
    char text[96];
    std::snprintf(text, sizeof text, "%lld/%lld  %02lld:%02lld:%02lld:%02lld", static_cast<long long>(theFrame),
                  static_cast<long long>(theLast), static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                  static_cast<long long>(frame % theRate));
    CToPStr(text, outText);
}

void ShowClipPosition(SInt32 thePosition) {
    const pluginWorkSpace &ws = gConfigWorkSpace;
    if (ws.theWindow == nullptr) return;
    const SInt16 media = ws.theConfig != nullptr ? ws.theConfig->mediaType : SInt16{kMediaNTSC};
    Str255 text;
    ClipPositionText(ClipFrameNumber(thePosition), ClipFrameNumber(ws.maxFrameIndex), TimecodeRate(media), text);
    SimpleSetControlText(ws.theWindow, kClipTextSig, 1, text);
}

void SetClipSpan(SInt32 theOpenedFrame, SInt32 theSelectionStart, SInt32 theFrameCount) {
    pluginWorkSpace &ws = gConfigWorkSpace;
    const int64_t base = ws.iMovieParams != nullptr ? ws.iMovieParams->startFrame : 0;
    const int64_t offset = int64_t(theOpenedFrame) - theSelectionStart;
    int64_t first = theOpenedFrame;
    int64_t position = 0;
    int64_t last = 0;
    // Before any render, or on a frame outside the last selection, the
    // slider has the one position of the frame shown.
    if (theFrameCount >= 1 && offset >= 0 && offset < theFrameCount) {
        first = theSelectionStart;
        position = offset;
        last = theFrameCount - 1;
    }
    ws.minFrameIndex = Clamp32(first - base);
    ws.currFrameIndex = static_cast<SInt32>(position);
    ws.maxFrameIndex = static_cast<SInt32>(last);
}

void GoToClipPosition(SInt32 thePosition) {
    pluginWorkSpace &ws = gConfigWorkSpace;
    if (thePosition < 0 || thePosition > ws.maxFrameIndex) return;
    if (AccessRenderAndBlit(thePosition)) ws.currFrameIndex = thePosition;
    // The slider and its text tell the frame the preview really shows.
    if (ws.clipSlider != nullptr && GetControl32BitValue(ws.clipSlider) != ws.currFrameIndex)
        SetControl32BitValue(ws.clipSlider, ws.currFrameIndex);
    ShowClipPosition(ws.currFrameIndex);
}

void ReRenderAndBlit() {
    pluginWorkSpace &ws = gConfigWorkSpace;
    CallPixelEffect(ws.sourceClip, ws.theFXClip);
    // A change of value makes the platform redraw the preview control.
    if (ws.theFrameCtrl != nullptr)
        SetControl32BitValue(ws.theFrameCtrl, GetControl32BitValue(ws.theFrameCtrl) > 0 ? 0 : 1);
}

bool AccessRenderAndBlit(SInt32 theVal) {
    pluginWorkSpace &ws = gConfigWorkSpace;
    // When the fetch fails the previous frame stays in sourceClip.
    const bool fetched = ws.iMovieParams != nullptr &&
                         GetFrameIntoGW(ws.sourceClip, ws.iMovieParams, Clamp32(int64_t(ws.minFrameIndex) + theVal),
                                        cUseDisposeGWInSlider) == kPluginOK;
    ReRenderAndBlit();
    return fetched;
}

void ClipSliderAction(ControlRef theControl, ControlPartCode /*partCode*/) {
    try {
        GoToClipPosition(GetControl32BitValue(theControl));
    } catch (...) {
        // Nothing may cross back into the platform's event dispatch.
    }
}

void SetupSliders(WindowRef theWindow) {
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
    if (lgClipSliderUPP == nullptr) lgClipSliderUPP = NewControlActionUPP(ClipSliderAction);
    SetControlAction(clip, lgClipSliderUPP);
    // The range first: the nib's own range must not clip the position.
    SetControl32BitMinimum(clip, 0);
    SetControl32BitMaximum(clip, ws.maxFrameIndex);
    SetControl32BitValue(clip, ws.currFrameIndex);
    ShowClipPosition(ws.currFrameIndex);
}
