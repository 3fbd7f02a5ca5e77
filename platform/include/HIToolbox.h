/*
 * HIToolbox on Qt 6 Widgets: windows from nibs (folders of Qt Designer .ui
 * files), controls found by signature and number, Carbon events with typed
 * parameters and handler chains, custom control classes, mouse tracking,
 * application-modal loops and the colour picker.
 */
#ifndef PLATFORM_HITOOLBOX_H
#define PLATFORM_HITOOLBOX_H

#include "MacTypes.h"
#include "QuickDraw.h"
#include "CoreFoundation.h"

PLATFORM_EXTERN_C_BEGIN

typedef struct OpaqueWindowPtr *WindowRef;
typedef WindowRef WindowPtr;
typedef struct OpaqueControlRef *ControlRef;
typedef struct OpaqueEventRef *EventRef;
typedef struct OpaqueEventHandlerCallRef *EventHandlerCallRef;
typedef struct OpaqueEventHandlerRef *EventHandlerRef;
typedef struct OpaqueEventTargetRef *EventTargetRef;
typedef struct OpaqueIBNibRef *IBNibRef;
typedef struct OpaqueToolboxObjectClassRef *ToolboxObjectClassRef;
typedef struct OpaqueMenuRef *MenuRef;
typedef int16_t ControlPartCode;
typedef uint16_t MouseTrackingResult;
typedef uint32_t EventParamName;
typedef uint32_t EventParamType;
typedef uint32_t EventAttributes;

typedef OSStatus (*EventHandlerProcPtr)(EventHandlerCallRef next, EventRef event, void *userData);
typedef EventHandlerProcPtr EventHandlerUPP;
typedef void (*ControlActionProcPtr)(ControlRef control, ControlPartCode part);
typedef ControlActionProcPtr ControlActionUPP;

typedef struct EventTypeSpec {
    UInt32 eventClass;
    UInt32 eventKind;
} EventTypeSpec;
typedef struct ControlID {
    OSType signature;
    SInt32 id;
} ControlID;
typedef struct HICommand {
    UInt32 attributes;
    UInt32 commandID;
    struct {
        MenuRef menuRef;
        UInt16 menuItemIndex;
    } menu;
} HICommand;

enum {
    kEventClassCommand = PLATFORM_FOURCC('c', 'm', 'd', 's'),
    kEventClassControl = PLATFORM_FOURCC('c', 'n', 't', 'l'),
    kEventClassWindow = PLATFORM_FOURCC('w', 'i', 'n', 'd'),
    kEventClassMouse = PLATFORM_FOURCC('m', 'o', 'u', 's'),
    kEventClassKeyboard = PLATFORM_FOURCC('k', 'e', 'y', 'b'),
    kEventRawKeyDown = 1, /* sent to a focused custom control; kEventParamKeyCode, kEventParamKeyModifiers */
    kEventParamKeyCode = PLATFORM_FOURCC('k', 'c', 'o', 'd'),
    kVK_LeftArrow = 0x7B,
    kVK_RightArrow = 0x7C,
    kVK_DownArrow = 0x7D,
    kVK_UpArrow = 0x7E,
    kEventCommandProcess = 1,
    kEventControlHit = 1,
    kEventControlHitTest = 3,
    kEventControlDraw = 4,
    kEventControlActivate = 9,
    kEventControlDeactivate = 10,
    kEventControlTrack = 51,
    kEventControlValueFieldChanged = 151,
    kEventControlOwningWindowChanged = 159,
    kEventParamDirectObject = PLATFORM_FOURCC('-', '-', '-', '-'),
    kEventParamMouseLocation = PLATFORM_FOURCC('m', 'l', 'o', 'c'),
    kEventParamKeyModifiers = PLATFORM_FOURCC('k', 'm', 'o', 'd'),
    kEventParamControlPart = PLATFORM_FOURCC('c', 'p', 'r', 't'),
    kEventParamControlOriginalOwningWindow = PLATFORM_FOURCC('c', 'o', 'o', 'w'),
    kEventParamControlCurrentOwningWindow = PLATFORM_FOURCC('c', 'c', 'o', 'w'),
    typeHICommand = PLATFORM_FOURCC('h', 'c', 'm', 'd'),
    typeControlRef = PLATFORM_FOURCC('c', 't', 'r', 'l'),
    typeWindowRef = PLATFORM_FOURCC('w', 'i', 'n', 'd'),
    typeQDPoint = PLATFORM_FOURCC('Q', 'D', 'p', 't'),
    typeUInt32 = PLATFORM_FOURCC('m', 'a', 'g', 'n'),
    typeSInt32 = PLATFORM_FOURCC('l', 'o', 'n', 'g'),
    typeSInt16 = PLATFORM_FOURCC('s', 'h', 'o', 'r'),
    typeControlPartCode = PLATFORM_FOURCC('c', 'p', 'r', 't'),
    typeWildCard = PLATFORM_FOURCC('*', '*', '*', '*'),
    kHICommandOK = PLATFORM_FOURCC('o', 'k', ' ', ' '),
    kHICommandCancel = PLATFORM_FOURCC('n', 'o', 't', '!'),
    kControlEntireControl = 0,
    kControlStaticTextTextTag = PLATFORM_FOURCC('t', 'e', 'x', 't'),
    kControlEditTextTextTag = PLATFORM_FOURCC('t', 'e', 'x', 't'),
    kControlInactiveHilite = 255,
    kControlDisabledPart = 254,
    kControlNoPart = 0,
    kControlButtonPart = 10,
    kControlPageUpPart = 22,
    kControlPageDownPart = 23,
    kControlIndicatorPart = 129,
    kMouseTrackingMouseDown = 1,
    kMouseTrackingMouseUp = 2,
    kMouseTrackingMouseExited = 3,
    kMouseTrackingMouseEntered = 4,
    kMouseTrackingMouseDragged = 5,
    cmdKey = 256,
    shiftKey = 512,
    alphaLock = 1024,
    optionKey = 2048,
    controlKey = 4096
};

/* Errors of the toolbox beyond MacTypes.h. */
enum {
    errAECoercionFail = -1700,
    toolboxObjectClassExistsErr = -4300, /* a class of that identifier is registered */
    errDataNotSupported = -30581,
    /* the control has no data of that tag */          /* parameter not of a convertible type */
    kIBCarbonRuntimeCantFindNibFile = -10960,          /* no such nib in the bundle */
    kIBCarbonRuntimeCantFindObject = -10962,           /* no such window in the nib */
    kIBCarbonRuntimeObjectNotOfRequestedType = -10963, /* the window definition cannot be loaded */
    errInvalidWindowRef = -5600,                       /* not a live window */
    errWindowNotFound = -5610,                         /* the window is not in a modal loop */
    errNoWindowSystem = -5699                          /* this platform's: no QApplication, nothing can be shown */
};

/* ---- Nibs and windows ----
 * A nib is the folder Contents/Resources/NAME.nib of a bundle holding one Qt
 * Designer file per window (WINDOW.ui). Widgets become controls through the
 * dynamic properties controlSignature (four characters) + controlID (number),
 * command (four characters, sent after a click with the new value in place)
 * and toolboxClass (a plain QWidget driven by that registered class; its
 * value and range come from the properties value, minimum, maximum, else 0
 * to 1). A window's port is a picture the size of its content; custom
 * controls show their rectangle of it. Coordinates are the window content's.
 * Without a QApplication, windows cannot be made (errNoWindowSystem). */
PLATFORM_API OSStatus CreateNibReferenceWithCFBundle(CFBundleRef bundle, CFStringRef nibName, IBNibRef *outNib);
PLATFORM_API OSStatus CreateWindowFromNib(IBNibRef nib, CFStringRef windowName, WindowRef *outWindow);
PLATFORM_API void DisposeNibReference(IBNibRef nib);
PLATFORM_API void ShowWindow(WindowRef w);
PLATFORM_API void HideWindow(WindowRef w);
PLATFORM_API void BringToFront(WindowRef w);
PLATFORM_API void DisposeWindow(WindowRef w);
PLATFORM_API CGrafPtr GetWindowPort(WindowRef w);
PLATFORM_API void SetPortWindowPort(WindowRef w);
PLATFORM_API EventTargetRef GetWindowEventTarget(WindowRef w);
PLATFORM_API EventTargetRef GetControlEventTarget(ControlRef c);
PLATFORM_API EventTargetRef GetApplicationEventTarget(void);

/* ---- Controls ---- */
PLATFORM_API OSStatus GetControlByID(WindowRef w, const ControlID *id, ControlRef *outControl);
PLATFORM_API SInt32 GetControl32BitValue(ControlRef c);
PLATFORM_API void SetControl32BitValue(ControlRef c, SInt32 value);
PLATFORM_API SInt32 GetControl32BitMinimum(ControlRef c);
PLATFORM_API void SetControl32BitMinimum(ControlRef c, SInt32 value);
PLATFORM_API SInt32 GetControl32BitMaximum(ControlRef c);
PLATFORM_API void SetControl32BitMaximum(ControlRef c, SInt32 value);
PLATFORM_API OSErr ShowControl(ControlRef c);
PLATFORM_API OSErr HideControl(ControlRef c);
PLATFORM_API Boolean IsControlVisible(ControlRef c);
PLATFORM_API OSErr SetControlData(ControlRef c, ControlPartCode part, ResType tag, Size size, const void *data);
PLATFORM_API OSErr GetControlData(ControlRef c, ControlPartCode part, ResType tag, Size bufSize, void *buf,
                                  Size *actualSize);
PLATFORM_API void Draw1Control(ControlRef c);
PLATFORM_API Rect *GetControlBounds(ControlRef c, Rect *bounds);
PLATFORM_API UInt16 GetControlHilite(ControlRef c);
PLATFORM_API void HiliteControl(ControlRef c, ControlPartCode part);
PLATFORM_API OSStatus ActivateControl(ControlRef c);
PLATFORM_API OSStatus DeactivateControl(ControlRef c);
PLATFORM_API OSStatus EnableControl(ControlRef c);
PLATFORM_API OSStatus DisableControl(ControlRef c);
PLATFORM_API WindowRef GetControlOwner(ControlRef c);
PLATFORM_API OSStatus GetControlCommandID(ControlRef c, UInt32 *outCommandID);
PLATFORM_API OSStatus SetControlCommandID(ControlRef c, UInt32 commandID);
PLATFORM_API ControlActionUPP NewControlActionUPP(ControlActionProcPtr proc);
PLATFORM_API void DisposeControlActionUPP(ControlActionUPP upp);
PLATFORM_API void SetControlAction(ControlRef c, ControlActionUPP action);

/* ---- Events ---- */
PLATFORM_API EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr proc);
PLATFORM_API void DisposeEventHandlerUPP(EventHandlerUPP upp);
PLATFORM_API OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount numTypes,
                                          const EventTypeSpec *list, void *userData, EventHandlerRef *outRef);
PLATFORM_API OSStatus RemoveEventHandler(EventHandlerRef ref);
PLATFORM_API OSStatus CallNextEventHandler(EventHandlerCallRef next, EventRef event);
PLATFORM_API OSStatus CreateEvent(CFAllocatorRef a, UInt32 eventClass, UInt32 kind, EventTime when,
                                  EventAttributes flags, EventRef *outEvent);
PLATFORM_API EventRef RetainEvent(EventRef event);
PLATFORM_API void ReleaseEvent(EventRef event);
PLATFORM_API OSStatus SendEventToEventTarget(EventRef event, EventTargetRef target);
PLATFORM_API UInt32 GetEventClass(EventRef event);
PLATFORM_API UInt32 GetEventKind(EventRef event);
PLATFORM_API OSStatus GetEventParameter(EventRef event, EventParamName name, EventParamType desiredType,
                                        EventParamType *outActualType, ByteCount bufferSize, ByteCount *outActualSize,
                                        void *outData);
PLATFORM_API OSStatus SetEventParameter(EventRef event, EventParamName name, EventParamType type, ByteCount size,
                                        const void *data);

/* ---- Custom control classes ---- */
PLATFORM_API OSStatus RegisterToolboxObjectClass(CFStringRef classID, ToolboxObjectClassRef baseClass,
                                                 ItemCount numEvents, const EventTypeSpec *events,
                                                 EventHandlerUPP handler, void *userData,
                                                 ToolboxObjectClassRef *outClassRef);
PLATFORM_API OSStatus UnregisterToolboxObjectClass(ToolboxObjectClassRef classRef);
/* Waits in a nested loop for the next drag or mouse-up; location in the
 * window's coordinates. */
PLATFORM_API OSStatus TrackMouseLocation(GrafPtr port, Point *outPt, MouseTrackingResult *outResult);

/* ---- Modal loops ---- */
PLATFORM_API OSStatus RunAppModalLoopForWindow(WindowRef w);
PLATFORM_API OSStatus QuitAppModalLoopForWindow(WindowRef w);

/* ---- Colour picker ---- */
typedef struct CMRGBColor {
    UInt16 red, green, blue;
} CMRGBColor;
typedef union CMColor {
    CMRGBColor rgb;
    UInt16 pad[5];
} CMColor;
typedef struct PMColor {
    void *profile;
    CMColor color;
} PMColor;
typedef struct PickerMenuItemInfo {
    SInt16 editMenuID, cutItem, copyItem, pasteItem, clearItem, undoItem;
} PickerMenuItemInfo;
typedef struct NColorPickerInfo {
    PMColor theColor;
    void *dstProfile;
    UInt32 flags;
    SInt16 placeWhere;
    Point dialogOrigin;
    OSType pickerType;
    void *eventProc;
    void *colorProc;
    UInt32 colorProcData;
    Str255 prompt;
    PickerMenuItemInfo mInfo;
    Boolean newColorChosen;
    SInt8 reserved;
} NColorPickerInfo;
/* noErr with newColorChosen true when the user accepted a colour. */
PLATFORM_API OSErr NPickColor(NColorPickerInfo *info);

PLATFORM_EXTERN_C_END

#endif
