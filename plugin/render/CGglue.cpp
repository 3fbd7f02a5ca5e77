#include "render/CGglue.h"

#include "support/commonprocs.h"

CGRect QDRectToGCRect(Rect theRect, Rect theFrame) {
    // Ports reaching here have their top-left corner at (0, 0); y flips about
    // the port's height.
    const SInt32 portHig = static_cast<SInt32>(theFrame.bottom) - theFrame.top;
    CGRect r;
    r.origin.x = static_cast<CGFloat>(theRect.left);
    r.origin.y = static_cast<CGFloat>(portHig - theRect.bottom);
    r.size.width = static_cast<CGFloat>(static_cast<SInt32>(theRect.right) - theRect.left);
    r.size.height = static_cast<CGFloat>(static_cast<SInt32>(theRect.bottom) - theRect.top);
    return r;
}

void DrawRotatedImageInCGRect(CGContextRef theContext, CGImageRef theImage, CGRect targetRect, float theRadiants,
                              Boolean clearFirst) {
    Assert(theContext, "NIL context for DrawRotatedImageInQDRect");
    Assert(theImage, "NIL Image for DrawRotatedImageInQDRect");
    CGContextSaveGState(theContext);
    CGContextTranslateCTM(theContext, targetRect.origin.x + targetRect.size.width / 2.0f,
                          targetRect.origin.y + targetRect.size.height / 2.0f);
    CGContextRotateCTM(theContext, theRadiants);
    const CGRect drawRect = CGRectMake(-targetRect.size.width / 2.0f, -targetRect.size.height / 2.0f,
                                       targetRect.size.width, targetRect.size.height);
    if (clearFirst) CGContextClearRect(theContext, drawRect);
    CGContextDrawImage(theContext, drawRect, theImage);
    CGContextRestoreGState(theContext);
}

void DrawCGImageInQDRect(GrafPtr theGW, CGImageRef theImage, Rect qdTargetRect, float theRadiants, Boolean clearFirst) {
    // A negative alpha keeps the context's default, so this is the plain draw.
    DrawCGImageInQDRectWithAlpha(theGW, theImage, qdTargetRect, theRadiants, clearFirst, -1.0, kCGBlendModeNormal);
}

void DrawCGImageInQDRectWithAlpha(GrafPtr theGW, CGImageRef theImage, Rect qdTargetRect, float theRadiants,
                                  Boolean clearFirst, double alpha, SInt16 blendMode) {
    const Rect theFrame = GetPortRect(theGW);
    const CGRect theCGFrame = QDRectToGCRect(qdTargetRect, theFrame);
    DrawCGImageInCGRectOfPort(theGW, theImage, theCGFrame, theRadiants, clearFirst, alpha, blendMode);
}

void DrawCGImageInCGRectOfPort(GrafPtr theGW, CGImageRef theImage, CGRect theCGFrame, float theRadiants,
                               Boolean clearFirst, double alpha, SInt16 blendMode) {
    if (theImage == nullptr) return;
    CGContextRef context = nullptr;
    QDBeginCGContext(theGW, &context);  // a failure is caught by the nil-context assertion
    if (context) {
        if (alpha >= 0) CGContextSetAlpha(context, static_cast<CGFloat>(alpha));
        CGContextSetBlendMode(context, blendMode);
    }
    DrawRotatedImageInCGRect(context, theImage, theCGFrame, theRadiants, clearFirst);
    CGContextFlush(context);
    QDEndCGContext(theGW, &context);
    if (context) CGContextRelease(context);
}

CGImageRef GWorld2CGImage(GrafPtr theGW) {
    PixMapHandle pm = GetGWorldPixMap(theGW);
    void *base = GetPixBaseAddr(pm);
    const SInt32 rowBytes = GetPixRowBytes(pm);
    Rect bounds{0, 0, 0, 0};
    GetPortBounds(theGW, &bounds);
    SInt32 wid = 0, hig = 0;
    GetDims(bounds, &wid, &hig);
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef context =
        CGBitmapContextCreate(base, static_cast<size_t>(wid > 0 ? wid : 0), static_cast<size_t>(hig > 0 ? hig : 0), 8,
                              static_cast<size_t>(rowBytes > 0 ? rowBytes : 0), space, kCGImageAlphaPremultipliedFirst);
    Assert(context, "Failed to create s CGContext on GWorld2CGImage");
    if (space) CGColorSpaceRelease(space);
    CGImageRef image = CGBitmapContextCreateImage(context);
    CGContextRelease(context);
    return image;
}

void GetImageDims(CGImageRef theImage, SInt32 *wid, SInt32 *hig) {
    if (wid) *wid = static_cast<SInt32>(CGImageGetWidth(theImage));
    if (hig) *hig = static_cast<SInt32>(CGImageGetHeight(theImage));
}

Rect CalcProportionalImageForFrame(CGImageRef theImage, Rect theFrame) {
    SInt32 wid = 0, hig = 0;
    if (theImage) GetImageDims(theImage, &wid, &hig);
    const Rect imageRect{0, 0, static_cast<int16_t>(hig), static_cast<int16_t>(wid)};
    return CalcProportionalRectForFrame(imageRect, theFrame);
}
