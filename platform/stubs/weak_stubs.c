/* Placeholder definitions of every platform export, so the library links while
 * the areas are being written. Each is weak: the real definition replaces it.
 * This file goes away once every area is complete. */
#include <stdlib.h>
#include <string.h>
#include "Carbon.h"
#pragma GCC diagnostic ignored "-Wunused-parameter"

__attribute__((weak)) CFTypeRef CFRetain(CFTypeRef cf) { return (CFTypeRef)0; }
__attribute__((weak)) void CFRelease(CFTypeRef cf) { }
__attribute__((weak)) CFIndex CFGetRetainCount(CFTypeRef cf) { return (CFIndex)0; }
__attribute__((weak)) CFStringRef CFStringCreateWithCString(CFAllocatorRef a, const char *s, CFStringEncoding enc) { return (CFStringRef)0; }
__attribute__((weak)) CFStringRef CFStringCreateWithPascalString(CFAllocatorRef a, ConstStr255Param s, CFStringEncoding enc) { return (CFStringRef)0; }
__attribute__((weak)) CFStringRef CFStringCreateCopy(CFAllocatorRef a, CFStringRef s) { return (CFStringRef)0; }
__attribute__((weak)) CFIndex CFStringGetLength(CFStringRef s) { return (CFIndex)0; }
__attribute__((weak)) Boolean CFStringGetCString(CFStringRef s, char *buf, CFIndex bufSize, CFStringEncoding enc) { return (Boolean)0; }
__attribute__((weak)) const char * CFStringGetCStringPtr(CFStringRef s, CFStringEncoding enc) { return (const char *)0; }
__attribute__((weak)) CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, uint32_t options) { return (CFComparisonResult)0; }
__attribute__((weak)) CFStringRef __CFStringMakeConstantString(const char *s) { return (CFStringRef)0; }
__attribute__((weak)) CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef a, const UInt8 *path, CFIndex len, Boolean isDirectory) { return (CFURLRef)0; }
__attribute__((weak)) Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8 *buf, CFIndex maxLen) { return (Boolean)0; }
__attribute__((weak)) Boolean CFURLGetFSRef(CFURLRef url, FSRef *ref) { return (Boolean)0; }
__attribute__((weak)) CFBundleRef CFBundleCreate(CFAllocatorRef a, CFURLRef bundleURL) { return (CFBundleRef)0; }
__attribute__((weak)) CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef identifier) { return (CFBundleRef)0; }
__attribute__((weak)) CFStringRef CFBundleGetIdentifier(CFBundleRef bundle) { return (CFStringRef)0; }
__attribute__((weak)) CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) { return (CFURLRef)0; }
__attribute__((weak)) CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle) { return (CFURLRef)0; }
__attribute__((weak)) CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle) { return (CFURLRef)0; }
__attribute__((weak)) CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef name, CFStringRef type, CFStringRef subDir) { return (CFURLRef)0; }
__attribute__((weak)) short CFBundleOpenBundleResourceMap(CFBundleRef bundle) { return (short)0; }
__attribute__((weak)) void CFBundleCloseBundleResourceMap(CFBundleRef bundle, short refNum) { }
__attribute__((weak)) CGColorSpaceRef CGColorSpaceCreateDeviceRGB(void) { return (CGColorSpaceRef)0; }
__attribute__((weak)) CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space) { return (CGColorSpaceRef)0; }
__attribute__((weak)) void CGColorSpaceRelease(CGColorSpaceRef space) { }
__attribute__((weak)) CGContextRef CGBitmapContextCreate(void *data, size_t width, size_t height, size_t bitsPerComponent, size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo info) { return (CGContextRef)0; }
__attribute__((weak)) CGImageRef CGBitmapContextCreateImage(CGContextRef c) { return (CGImageRef)0; }
__attribute__((weak)) void * CGBitmapContextGetData(CGContextRef c) { return (void *)0; }
__attribute__((weak)) size_t CGBitmapContextGetWidth(CGContextRef c) { return (size_t)0; }
__attribute__((weak)) size_t CGBitmapContextGetHeight(CGContextRef c) { return (size_t)0; }
__attribute__((weak)) CGContextRef CGContextRetain(CGContextRef c) { return (CGContextRef)0; }
__attribute__((weak)) void CGContextRelease(CGContextRef c) { }
__attribute__((weak)) CGImageRef CGImageCreateCopy(CGImageRef image) { return (CGImageRef)0; }
__attribute__((weak)) CGImageRef CGImageRetain(CGImageRef image) { return (CGImageRef)0; }
__attribute__((weak)) void CGImageRelease(CGImageRef image) { }
__attribute__((weak)) size_t CGImageGetWidth(CGImageRef image) { return (size_t)0; }
__attribute__((weak)) size_t CGImageGetHeight(CGImageRef image) { return (size_t)0; }
__attribute__((weak)) size_t CGImageGetBytesPerRow(CGImageRef image) { return (size_t)0; }
__attribute__((weak)) void CGContextSaveGState(CGContextRef c) { }
__attribute__((weak)) void CGContextRestoreGState(CGContextRef c) { }
__attribute__((weak)) void CGContextTranslateCTM(CGContextRef c, CGFloat tx, CGFloat ty) { }
__attribute__((weak)) void CGContextRotateCTM(CGContextRef c, CGFloat angle) { }
__attribute__((weak)) void CGContextScaleCTM(CGContextRef c, CGFloat sx, CGFloat sy) { }
__attribute__((weak)) CGAffineTransform CGContextGetCTM(CGContextRef c) { CGAffineTransform r; memset(&r, 0, sizeof r); return r; }
__attribute__((weak)) void CGContextSetAlpha(CGContextRef c, CGFloat alpha) { }
__attribute__((weak)) void CGContextSetBlendMode(CGContextRef c, CGBlendMode mode) { }
__attribute__((weak)) void CGContextClearRect(CGContextRef c, CGRect r) { }
__attribute__((weak)) void CGContextDrawImage(CGContextRef c, CGRect r, CGImageRef image) { }
__attribute__((weak)) void CGContextFlush(CGContextRef c) { }
__attribute__((weak)) void CGContextSynchronize(CGContextRef c) { }
__attribute__((weak)) OSStatus QDBeginCGContext(CGrafPtr port, CGContextRef *context) { return (OSStatus)0; }
__attribute__((weak)) OSStatus QDEndCGContext(CGrafPtr port, CGContextRef *context) { return (OSStatus)0; }
__attribute__((weak)) OSStatus GetStandardAlertDefaultParams(AlertStdCFStringAlertParamRec *param, UInt32 version) { return (OSStatus)0; }
__attribute__((weak)) OSStatus CreateStandardAlert(AlertType kind, CFStringRef error, CFStringRef explanation, const AlertStdCFStringAlertParamRec *param, DialogRef *outAlert) { return (OSStatus)0; }
__attribute__((weak)) OSStatus RunStandardAlert(DialogRef alert, ModalFilterUPP filter, DialogItemIndex *outItemHit) { return (OSStatus)0; }
__attribute__((weak)) OSErr FindFolder(short vRefNum, OSType folderType, Boolean createFolder, short *foundVRefNum, SInt32 *foundDirID) { return (OSErr)0; }
__attribute__((weak)) OSErr FSMakeFSSpec(short vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec *spec) { return (OSErr)0; }
__attribute__((weak)) Boolean FSSpecGetPath(const FSSpec *spec, char *buf, size_t bufSize) { return (Boolean)0; }
__attribute__((weak)) void FSpCreateResFile(const FSSpec *spec, OSType creator, OSType fileType, ScriptCode script) { }
__attribute__((weak)) short FSpOpenResFile(const FSSpec *spec, SInt8 permission) { return (short)0; }
__attribute__((weak)) short OpenResFilePath(const char *path, SInt8 permission) { return (short)0; }
__attribute__((weak)) void CloseResFile(short refNum) { }
__attribute__((weak)) void UseResFile(short refNum) { }
__attribute__((weak)) short CurResFile(void) { return (short)0; }
__attribute__((weak)) OSErr ResError(void) { return (OSErr)0; }
__attribute__((weak)) Handle Get1Resource(ResType type, short id) { return (Handle)0; }
__attribute__((weak)) Handle GetResource(ResType type, short id) { return (Handle)0; }
__attribute__((weak)) void DetachResource(Handle h) { }
__attribute__((weak)) void RemoveResource(Handle h) { }
__attribute__((weak)) void AddResource(Handle data, ResType type, short id, ConstStr255Param name) { }
__attribute__((weak)) void ChangedResource(Handle h) { }
__attribute__((weak)) void WriteResource(Handle h) { }
__attribute__((weak)) void UpdateResFile(short refNum) { }
__attribute__((weak)) void ReleaseResource(Handle h) { }
__attribute__((weak)) short Count1Resources(ResType type) { return (short)0; }
__attribute__((weak)) void GetResInfo(Handle h, short *id, ResType *type, Str255 name) { }
__attribute__((weak)) void GetIndString(Str255 theString, short strListID, short index) { }
__attribute__((weak)) OSStatus CreateNibReferenceWithCFBundle(CFBundleRef bundle, CFStringRef nibName, IBNibRef *outNib) { return (OSStatus)0; }
__attribute__((weak)) OSStatus CreateWindowFromNib(IBNibRef nib, CFStringRef windowName, WindowRef *outWindow) { return (OSStatus)0; }
__attribute__((weak)) void DisposeNibReference(IBNibRef nib) { }
__attribute__((weak)) void ShowWindow(WindowRef w) { }
__attribute__((weak)) void HideWindow(WindowRef w) { }
__attribute__((weak)) void BringToFront(WindowRef w) { }
__attribute__((weak)) void DisposeWindow(WindowRef w) { }
__attribute__((weak)) CGrafPtr GetWindowPort(WindowRef w) { return (CGrafPtr)0; }
__attribute__((weak)) void SetPortWindowPort(WindowRef w) { }
__attribute__((weak)) EventTargetRef GetWindowEventTarget(WindowRef w) { return (EventTargetRef)0; }
__attribute__((weak)) EventTargetRef GetControlEventTarget(ControlRef c) { return (EventTargetRef)0; }
__attribute__((weak)) EventTargetRef GetApplicationEventTarget(void) { return (EventTargetRef)0; }
__attribute__((weak)) OSStatus GetControlByID(WindowRef w, const ControlID *id, ControlRef *outControl) { return (OSStatus)0; }
__attribute__((weak)) SInt32 GetControl32BitValue(ControlRef c) { return (SInt32)0; }
__attribute__((weak)) void SetControl32BitValue(ControlRef c, SInt32 value) { }
__attribute__((weak)) SInt32 GetControl32BitMinimum(ControlRef c) { return (SInt32)0; }
__attribute__((weak)) void SetControl32BitMinimum(ControlRef c, SInt32 value) { }
__attribute__((weak)) SInt32 GetControl32BitMaximum(ControlRef c) { return (SInt32)0; }
__attribute__((weak)) void SetControl32BitMaximum(ControlRef c, SInt32 value) { }
__attribute__((weak)) OSErr ShowControl(ControlRef c) { return (OSErr)0; }
__attribute__((weak)) OSErr HideControl(ControlRef c) { return (OSErr)0; }
__attribute__((weak)) Boolean IsControlVisible(ControlRef c) { return (Boolean)0; }
__attribute__((weak)) OSErr SetControlData(ControlRef c, ControlPartCode part, ResType tag, Size size, const void *data) { return (OSErr)0; }
__attribute__((weak)) OSErr GetControlData(ControlRef c, ControlPartCode part, ResType tag, Size bufSize, void *buf, Size *actualSize) { return (OSErr)0; }
__attribute__((weak)) void Draw1Control(ControlRef c) { }
__attribute__((weak)) Rect * GetControlBounds(ControlRef c, Rect *bounds) { return (Rect *)0; }
__attribute__((weak)) UInt16 GetControlHilite(ControlRef c) { return (UInt16)0; }
__attribute__((weak)) void HiliteControl(ControlRef c, ControlPartCode part) { }
__attribute__((weak)) OSStatus ActivateControl(ControlRef c) { return (OSStatus)0; }
__attribute__((weak)) OSStatus DeactivateControl(ControlRef c) { return (OSStatus)0; }
__attribute__((weak)) OSStatus EnableControl(ControlRef c) { return (OSStatus)0; }
__attribute__((weak)) OSStatus DisableControl(ControlRef c) { return (OSStatus)0; }
__attribute__((weak)) WindowRef GetControlOwner(ControlRef c) { return (WindowRef)0; }
__attribute__((weak)) OSStatus GetControlCommandID(ControlRef c, UInt32 *outCommandID) { return (OSStatus)0; }
__attribute__((weak)) OSStatus SetControlCommandID(ControlRef c, UInt32 commandID) { return (OSStatus)0; }
__attribute__((weak)) ControlActionUPP NewControlActionUPP(ControlActionProcPtr proc) { return (ControlActionUPP)0; }
__attribute__((weak)) void DisposeControlActionUPP(ControlActionUPP upp) { }
__attribute__((weak)) void SetControlAction(ControlRef c, ControlActionUPP action) { }
__attribute__((weak)) EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr proc) { return (EventHandlerUPP)0; }
__attribute__((weak)) void DisposeEventHandlerUPP(EventHandlerUPP upp) { }
__attribute__((weak)) OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount numTypes, const EventTypeSpec *list, void *userData, EventHandlerRef *outRef) { return (OSStatus)0; }
__attribute__((weak)) OSStatus RemoveEventHandler(EventHandlerRef ref) { return (OSStatus)0; }
__attribute__((weak)) OSStatus CallNextEventHandler(EventHandlerCallRef next, EventRef event) { return (OSStatus)0; }
__attribute__((weak)) OSStatus CreateEvent(CFAllocatorRef a, UInt32 eventClass, UInt32 kind, EventTime when, EventAttributes flags, EventRef *outEvent) { return (OSStatus)0; }
__attribute__((weak)) void ReleaseEvent(EventRef event) { }
__attribute__((weak)) OSStatus SendEventToEventTarget(EventRef event, EventTargetRef target) { return (OSStatus)0; }
__attribute__((weak)) UInt32 GetEventClass(EventRef event) { return (UInt32)0; }
__attribute__((weak)) UInt32 GetEventKind(EventRef event) { return (UInt32)0; }
__attribute__((weak)) OSStatus GetEventParameter(EventRef event, EventParamName name, EventParamType desiredType, EventParamType *outActualType, ByteCount bufferSize, ByteCount *outActualSize, void *outData) { return (OSStatus)0; }
__attribute__((weak)) OSStatus SetEventParameter(EventRef event, EventParamName name, EventParamType type, ByteCount size, const void *data) { return (OSStatus)0; }
__attribute__((weak)) OSStatus RegisterToolboxObjectClass(CFStringRef classID, ToolboxObjectClassRef baseClass, ItemCount numEvents, const EventTypeSpec *events, EventHandlerUPP handler, void *userData, ToolboxObjectClassRef *outClassRef) { return (OSStatus)0; }
__attribute__((weak)) OSStatus UnregisterToolboxObjectClass(ToolboxObjectClassRef classRef) { return (OSStatus)0; }
__attribute__((weak)) OSStatus TrackMouseLocation(GrafPtr port, Point *outPt, MouseTrackingResult *outResult) { return (OSStatus)0; }
__attribute__((weak)) OSStatus RunAppModalLoopForWindow(WindowRef w) { return (OSStatus)0; }
__attribute__((weak)) OSStatus QuitAppModalLoopForWindow(WindowRef w) { return (OSStatus)0; }
__attribute__((weak)) OSErr NPickColor(NColorPickerInfo *info) { return (OSErr)0; }
__attribute__((weak)) OSStatus LSOpenFSRef(const FSRef *inRef, FSRef *outLaunchedRef) { return (OSStatus)0; }
__attribute__((weak)) Ptr NewPtr(Size byteCount) { return (Ptr)0; }
__attribute__((weak)) Ptr NewPtrClear(Size byteCount) { return (Ptr)0; }
__attribute__((weak)) void DisposePtr(Ptr p) { }
__attribute__((weak)) Size GetPtrSize(Ptr p) { return (Size)0; }
__attribute__((weak)) Handle NewHandle(Size byteCount) { return (Handle)0; }
__attribute__((weak)) Handle NewHandleClear(Size byteCount) { return (Handle)0; }
__attribute__((weak)) void DisposeHandle(Handle h) { }
__attribute__((weak)) Size GetHandleSize(Handle h) { return (Size)0; }
__attribute__((weak)) void SetHandleSize(Handle h, Size newSize) { }
__attribute__((weak)) void HLock(Handle h) { }
__attribute__((weak)) void HUnlock(Handle h) { }
__attribute__((weak)) OSErr MemError(void) { return (OSErr)0; }
__attribute__((weak)) void BlockMoveData(const void *src, void *dst, Size byteCount) { }
__attribute__((weak, noreturn)) void ExitToShell(void) { abort(); }
__attribute__((weak)) void SetRect(Rect *r, short left, short top, short right, short bottom) { }
__attribute__((weak)) void OffsetRect(Rect *r, short dh, short dv) { }
__attribute__((weak)) void InsetRect(Rect *r, short dh, short dv) { }
__attribute__((weak)) Boolean SectRect(const Rect *a, const Rect *b, Rect *dst) { return (Boolean)0; }
__attribute__((weak)) void UnionRect(const Rect *a, const Rect *b, Rect *dst) { }
__attribute__((weak)) Boolean PtInRect(Point pt, const Rect *r) { return (Boolean)0; }
__attribute__((weak)) void Pt2Rect(Point a, Point b, Rect *dst) { }
__attribute__((weak)) Boolean EmptyRect(const Rect *r) { return (Boolean)0; }
__attribute__((weak)) Boolean EqualRect(const Rect *a, const Rect *b) { return (Boolean)0; }
__attribute__((weak)) void SetPt(Point *pt, short h, short v) { }
__attribute__((weak)) QDErr NewGWorld(GWorldPtr *offscreen, short pixelDepth, const Rect *bounds, CTabHandle cTable, GDHandle device, GWorldFlags flags) { return (QDErr)0; }
__attribute__((weak)) void DisposeGWorld(GWorldPtr offscreen) { }
__attribute__((weak)) PixMapHandle GetGWorldPixMap(GWorldPtr offscreen) { return (PixMapHandle)0; }
__attribute__((weak)) PixMapHandle GetPortPixMap(CGrafPtr port) { return (PixMapHandle)0; }
__attribute__((weak)) Boolean LockPixels(PixMapHandle pm) { return (Boolean)0; }
__attribute__((weak)) void UnlockPixels(PixMapHandle pm) { }
__attribute__((weak)) Ptr GetPixBaseAddr(PixMapHandle pm) { return (Ptr)0; }
__attribute__((weak)) SInt32 GetPixRowBytes(PixMapHandle pm) { return (SInt32)0; }
__attribute__((weak)) Rect * GetPortBounds(CGrafPtr port, Rect *bounds) { return (Rect *)0; }
__attribute__((weak)) Rect * GetPixBounds(PixMapHandle pm, Rect *bounds) { return (Rect *)0; }
__attribute__((weak)) const BitMap * GetPortBitMapForCopyBits(CGrafPtr port) { return (const BitMap *)0; }
__attribute__((weak)) QDErr QDError(void) { return (QDErr)0; }
__attribute__((weak)) void GetGWorld(CGrafPtr *port, GDHandle *device) { }
__attribute__((weak)) void SetGWorld(CGrafPtr port, GDHandle device) { }
__attribute__((weak)) void GetPort(GrafPtr *port) { }
__attribute__((weak)) void SetPort(GrafPtr port) { }
__attribute__((weak)) void RGBForeColor(const RGBColor *c) { }
__attribute__((weak)) void RGBBackColor(const RGBColor *c) { }
__attribute__((weak)) void GetForeColor(RGBColor *c) { }
__attribute__((weak)) void GetBackColor(RGBColor *c) { }
__attribute__((weak)) void PenMode(short mode) { }
__attribute__((weak)) void PenSize(short width, short height) { }
__attribute__((weak)) void PenNormal(void) { }
__attribute__((weak)) void PaintRect(const Rect *r) { }
__attribute__((weak)) void EraseRect(const Rect *r) { }
__attribute__((weak)) void FrameRect(const Rect *r) { }
__attribute__((weak)) void InvertRect(const Rect *r) { }
__attribute__((weak)) void PaintOval(const Rect *r) { }
__attribute__((weak)) void FrameOval(const Rect *r) { }
__attribute__((weak)) void ClipRect(const Rect *r) { }
__attribute__((weak)) void GetClip(RgnHandle rgn) { }
__attribute__((weak)) void SetClip(RgnHandle rgn) { }
__attribute__((weak)) Rect * GetPortClipRect(CGrafPtr port, Rect *r) { return (Rect *)0; }
__attribute__((weak)) RgnHandle NewRgn(void) { return (RgnHandle)0; }
__attribute__((weak)) void DisposeRgn(RgnHandle rgn) { }
__attribute__((weak)) void RectRgn(RgnHandle rgn, const Rect *r) { }
__attribute__((weak)) void SetEmptyRgn(RgnHandle rgn) { }
__attribute__((weak)) Rect * GetRegionBounds(RgnHandle rgn, Rect *bounds) { return (Rect *)0; }
__attribute__((weak)) void CopyBits(const BitMap *src, const BitMap *dst, const Rect *srcRect, const Rect *dstRect, short mode, RgnHandle maskRgn) { }
__attribute__((weak)) void NumToString(long n, Str255 s) { }
