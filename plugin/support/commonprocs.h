// Shared procedures: rectangle geometry, offscreen pictures, colour packing,
// short strings, alerts (with the fatal assertion) and nib windows.
#pragma once
#include <string_view>
#include "Carbon.h"

// One pixel as its four bytes in memory.
struct pixRec {
    UInt8 alpha, red, green, blue;
};

// ---- Geometry (widths and heights as 32-bit values) ----
void GetDims(Rect theRect, SInt32 *wid, SInt32 *hig);
Rect KeepPropsWithFixedHorizontal(Rect inOriginal, Rect inNewSize);
Rect KeepPropsWithFixedVertical(Rect inOriginal, Rect inNewSize);
Rect CalcProportionalRectForFrame(Rect inRect, Rect inFrame);
void CenterRectInRect(Rect *theRect, Rect theBounds);

// ---- Offscreen pictures ----
Rect GetPortRect(GrafPtr thePort);
// 32-bit picture of theRect's size at the origin, pixels locked; nil on failure.
GWorldPtr AllocateRectGWorld(Rect theRect);
void ClearGW(GWorldPtr theGW, RGBColor theColor);
void Source2Target(GWorldPtr theSource, GWorldPtr theTarget);

// ---- Colours (packed value 0x00RRGGBB) ----
RGBColor SetRGBColor(UInt16 r, UInt16 g, UInt16 b);
pixRec LongInt2PixRec(SInt32 v);
SInt32 PixRec2LongInt(pixRec p);
SInt32 RGBColor2LongInt(RGBColor theColor);
RGBColor LongInt2RGBColor(SInt32 v);

// ---- Short strings (length byte + at most 255 bytes of MacRoman) ----
void Num2Text(SInt32 n, Str255 outText);
// Copies text into a short string, cut at 255 bytes.
void CToPStr(std::string_view text, Str255 outText);
// Appends text to a short string, cut at 255 bytes.
void PStrCat(Str255 ioText, std::string_view text);
std::string_view PStrView(ConstStr255Param text);
// The caller owns the result.
CFStringRef MakeCFString(ConstStr255Param text);

// ---- Alerts ----
// Caution alert; no cancel button when cancelText is empty. Returns the item
// pressed (1 default, 2 cancel).
SInt16 StandardWarning(ConstStr255Param headline, ConstStr255Param description, ConstStr255Param okText,
                       ConstStr255Param cancelText);
void Notify(ConstStr255Param theMessage);
void Notify(std::string_view theMessage);
// Stop alert, then the host process ends.
[[noreturn]] void Terminate(ConstStr255Param headline, ConstStr255Param description);
[[noreturn]] void Terminate(std::string_view headline, std::string_view description);
// Ends the host with "Assertion Failure" when thePtr is nil.
void Assert(const void *thePtr, ConstStr255Param failLocation);
void Assert(const void *thePtr, std::string_view failLocation);

// ---- Nib windows ----
// Creates (without showing) a window from a nib of the bundle with that
// identifier; an empty nib name means "kelvarin". Failures end the host.
WindowRef OpenNibWindowFromCFBundle(const char *theIdentifier, const char *theNib, const char *theWindow);
