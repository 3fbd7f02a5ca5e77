#include "support/commonprocs.h"

#include "support/carbonmacros.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Rounds a non-negative extent half up (trunc(x + 0.5)), defined for every
// double: NaN gives 0 and values beyond 32 bits are clamped.
int32_t RoundHalfUp(double x) {
    double v = x + 0.5;
    if (std::isnan(v)) return 0;
    v = std::clamp(v, -2147483648.0, 2147483647.0);
    return static_cast<int32_t>(std::trunc(v));
}

int16_t Coord(int32_t v) { return static_cast<int16_t>(v); }  // low 16 bits

}  // namespace

// ---- Geometry ----

void GetDims(Rect theRect, SInt32 *wid, SInt32 *hig) {
    if (wid) *wid = static_cast<SInt32>(theRect.right) - theRect.left;
    if (hig) *hig = static_cast<SInt32>(theRect.bottom) - theRect.top;
}

Rect KeepPropsWithFixedHorizontal(Rect inOriginal, Rect inNewSize) {
    SInt32 w = 0, h = 0, nw = 0, nh = 0;
    GetDims(inOriginal, &w, &h);
    GetDims(inNewSize, &nw, &nh);
    const double deltaX = w, deltaY = h, newX = nw;
    if (deltaX == 0) return inNewSize;
    // A zero-height original gives prop = inf and newY = 0: bottom = top.
    const double prop = deltaX / deltaY;
    const double newY = newX / prop;
    Rect r = inNewSize;
    r.bottom = Coord(r.top + RoundHalfUp(newY));
    return r;
}

Rect KeepPropsWithFixedVertical(Rect inOriginal, Rect inNewSize) {
    SInt32 w = 0, h = 0, nw = 0, nh = 0;
    GetDims(inOriginal, &w, &h);
    GetDims(inNewSize, &nw, &nh);
    const double deltaX = w, deltaY = h, newY = nh;
    if (deltaY == 0) return inNewSize;
    const double prop = deltaX / deltaY;
    const double newX = newY * prop;
    Rect r = inNewSize;
    r.right = Coord(r.left + RoundHalfUp(newX));
    return r;
}

Rect CalcProportionalRectForFrame(Rect inRect, Rect inFrame) {
    SInt32 iWid = 0, iHig = 0, wid = 0, hig = 0;
    GetDims(inRect, &iWid, &iHig);
    GetDims(inFrame, &wid, &hig);
    const Rect imageBounds{0, 0, Coord(iHig), Coord(iWid)};
    const Rect newBounds{0, 0, Coord(hig), Coord(wid)};
    // By orientation alone; a square frame counts as portrait.
    if (wid > hig) {
        return iWid > iHig ? KeepPropsWithFixedHorizontal(imageBounds, newBounds)
                           : KeepPropsWithFixedVertical(imageBounds, newBounds);
    }
    return iHig > iWid ? KeepPropsWithFixedVertical(imageBounds, newBounds)
                       : KeepPropsWithFixedHorizontal(imageBounds, newBounds);
}

void CenterRectInRect(Rect *theRect, Rect theBounds) {
    if (theRect == nullptr) return;
    SInt32 bw = 0, bh = 0, rw = 0, rh = 0;
    GetDims(theBounds, &bw, &bh);
    GetDims(*theRect, &rw, &rh);
    const int16_t cx = Coord(theBounds.left + bw / 2);
    const int16_t cy = Coord(theBounds.top + bh / 2);
    const int16_t rx = Coord(theRect->left + rw / 2);
    const int16_t ry = Coord(theRect->top + rh / 2);
    const int16_t dx = Coord(rx - cx);
    const int16_t dy = Coord(ry - cy);
    theRect->left = Coord(theRect->left - dx);
    theRect->right = Coord(theRect->right - dx);
    theRect->top = Coord(theRect->top - dy);
    theRect->bottom = Coord(theRect->bottom - dy);
}

// ---- Offscreen pictures ----

Rect GetPortRect(GrafPtr thePort) {
    Rect r{0, 0, 0, 0};
    if (thePort) GetPortBounds(thePort, &r);
    return r;
}

GWorldPtr AllocateRectGWorld(Rect theRect) {
    Rect r = theRect;
    r.right = Coord(r.right - r.left);
    r.bottom = Coord(r.bottom - r.top);
    r.left = 0;
    r.top = 0;
    GWorldPtr gw = nullptr;
    NewGWorld(&gw, 32, &r, nullptr, nullptr, 0);
    if (gw) LockPixels(GetGWorldPixMap(gw));
    return gw;
}

void ClearGW(GWorldPtr theGW, RGBColor theColor) {
    if (theGW == nullptr) return;
    Rect bounds = GetPortRect(theGW);
    const SavedGWorld saved;
    SetGWorld(theGW, nullptr);
    RGBForeColor(&theColor);
    PaintRect(&bounds);
    const RGBColor black{0, 0, 0};
    RGBForeColor(&black);
}

void Source2Target(GWorldPtr theSource, GWorldPtr theTarget) {
    if (theSource == nullptr || theTarget == nullptr) return;
    // Black on white, so the copy is not tinted.
    const RGBColor white{65535, 65535, 65535};
    const RGBColor black{0, 0, 0};
    RGBBackColor(&white);
    RGBForeColor(&black);
    const Rect srcBounds = GetPortRect(theSource);
    const Rect dstBounds = GetPortRect(theTarget);
    CopyBits(GetPortBitMapForCopyBits(theSource), GetPortBitMapForCopyBits(theTarget), &srcBounds, &dstBounds, srcCopy,
             nullptr);
}

// ---- Colours ----

RGBColor SetRGBColor(UInt16 r, UInt16 g, UInt16 b) { return RGBColor{r, g, b}; }

pixRec LongInt2PixRec(SInt32 v) {
    const auto u = static_cast<uint32_t>(v);
    pixRec p;
    p.alpha = 0;
    p.red = static_cast<UInt8>((u >> 16) & 0xFF);
    p.green = static_cast<UInt8>((u >> 8) & 0xFF);
    p.blue = static_cast<UInt8>(u & 0xFF);
    return p;
}

SInt32 PixRec2LongInt(pixRec p) { return p.red * 65536 + p.green * 256 + p.blue; }

SInt32 RGBColor2LongInt(RGBColor theColor) {
    pixRec p;
    p.alpha = 0;
    p.red = static_cast<UInt8>(theColor.red >> 8);
    p.green = static_cast<UInt8>(theColor.green >> 8);
    p.blue = static_cast<UInt8>(theColor.blue >> 8);
    return PixRec2LongInt(p);
}

RGBColor LongInt2RGBColor(SInt32 v) {
    const pixRec p = LongInt2PixRec(v);
    return RGBColor{static_cast<UInt16>(p.red << 8), static_cast<UInt16>(p.green << 8),
                    static_cast<UInt16>(p.blue << 8)};
}

// ---- Short strings ----

void Num2Text(SInt32 n, Str255 outText) {
    outText[0] = 0;
    NumToString(n, outText);
}

void CToPStr(std::string_view text, Str255 outText) {
    const size_t n = std::min<size_t>(text.size(), 255);
    outText[0] = static_cast<unsigned char>(n);
    std::memcpy(outText + 1, text.data(), n);
}

void PStrCat(Str255 ioText, std::string_view text) {
    const size_t have = ioText[0];
    const size_t n = std::min<size_t>(text.size(), 255 - have);
    std::memcpy(ioText + 1 + have, text.data(), n);
    ioText[0] = static_cast<unsigned char>(have + n);
}

std::string_view PStrView(ConstStr255Param text) {
    if (text == nullptr) return {};
    return std::string_view(reinterpret_cast<const char *>(text + 1), text[0]);
}

CFStringRef MakeCFString(ConstStr255Param text) {
    return CFStringCreateWithPascalString(kCFAllocatorDefault, text, kCFStringEncodingMacRoman);
}

// ---- Alerts ----

namespace {
void ReleaseIf(CFStringRef s) {
    if (s) CFRelease(s);
}
}  // namespace

SInt16 StandardWarning(ConstStr255Param headline, ConstStr255Param description, ConstStr255Param okText,
                       ConstStr255Param cancelText) {
    AlertStdCFStringAlertParamRec param;
    std::memset(&param, 0, sizeof param);
    param.version = kStdCFStringAlertVersionOne;
    param.movable = true;
    param.helpButton = false;
    param.defaultText = MakeCFString(okText);
    param.cancelText = (cancelText && cancelText[0] > 0) ? MakeCFString(cancelText) : nullptr;
    param.otherText = nullptr;
    param.defaultButton = kAlertStdAlertOKButton;
    param.cancelButton = kAlertStdAlertCancelButton;
    param.position = kWindowDefaultPosition;
    param.flags = 0;
    CFStringRef message = MakeCFString(headline);
    CFStringRef explanation = MakeCFString(description);
    DialogRef alert = nullptr;
    DialogItemIndex item = kAlertStdAlertOKButton;
    if (CreateStandardAlert(kAlertCautionAlert, message, explanation, &param, &alert) == noErr && alert)
        RunStandardAlert(alert, nullptr, &item);
    // The alert is gone once it has run; the texts are ours to release.
    ReleaseIf(message);
    ReleaseIf(explanation);
    ReleaseIf(param.defaultText);
    ReleaseIf(param.cancelText);
    return item;
}

void Notify(ConstStr255Param theMessage) {
    Str255 headline, ok, none;
    CToPStr("Internal Notification:", headline);
    CToPStr("ok", ok);
    none[0] = 0;
    StandardWarning(headline, theMessage, ok, none);
}

void Notify(std::string_view theMessage) {
    Str255 text;
    CToPStr(theMessage, text);
    Notify(text);
}

void Terminate(ConstStr255Param headline, ConstStr255Param description) {
    CFStringRef message = MakeCFString(headline);
    CFStringRef explanation = MakeCFString(description);
    DialogRef alert = nullptr;
    DialogItemIndex item = 0;
    if (CreateStandardAlert(kAlertStopAlert, message, explanation, nullptr, &alert) == noErr && alert)
        RunStandardAlert(alert, nullptr, &item);
    ExitToShell();
}

void Terminate(std::string_view headline, std::string_view description) {
    Str255 h, d;
    CToPStr(headline, h);
    CToPStr(description, d);
    Terminate(h, d);
}

void Assert(const void *thePtr, ConstStr255Param failLocation) {
    if (thePtr != nullptr) return;
    Assert(thePtr, PStrView(failLocation));
}

void Assert(const void *thePtr, std::string_view failLocation) {
    if (thePtr != nullptr) return;
    Str255 headline, description;
    CToPStr("Assertion Failure", headline);
    CToPStr("Assertion failed in: ", description);
    PStrCat(description, failLocation);
    Terminate(headline, description);
}

// ---- Nib windows ----

WindowRef OpenNibWindowFromCFBundle(const char *theIdentifier, const char *theNib, const char *theWindow) {
    const std::string identifier = theIdentifier ? theIdentifier : "";
    std::string nib = theNib ? theNib : "";
    const std::string window = theWindow ? theWindow : "";

    CFStringRef theID = __CFStringMakeConstantString(identifier.c_str());
    Assert(theID, "Cannot allocate CFSTR for " + identifier);
    CFBundleRef theBundle = CFBundleGetBundleWithIdentifier(theID);
    Assert(theBundle, "Cannot allocate bundle for ID = " + identifier);
    CFRetain(theBundle);

    if (nib.empty()) nib = "kelvarin";
    IBNibRef nibRef = nullptr;
    OSStatus err = CreateNibReferenceWithCFBundle(theBundle, __CFStringMakeConstantString(nib.c_str()), &nibRef);
    const auto fail = [&](const char *call, const std::string &what) {
        Str255 number;
        Num2Text(err, number);
        std::string text = std::string("Unable to ") + call + " for \"" + what + "\" as it returned errcode #";
        text += PStrView(number);
        text += ".";
        Terminate("OpenNibWindow Failed", text);
    };
    if (err != noErr) fail("CreateNibReferenceWithCFBundle", identifier + "/" + nib);
    WindowRef result = nullptr;
    err = CreateWindowFromNib(nibRef, __CFStringMakeConstantString(window.c_str()), &result);
    // A window that cannot be made ends the host like every other fatal condition, with
    // an alert naming the window, rather than silently.
    if (err != noErr) fail("CreateWindowFromNib", identifier + "/" + nib + "/" + window);
    DisposeNibReference(nibRef);
    CFRelease(theBundle);
    return result;
}
