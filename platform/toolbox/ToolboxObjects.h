/*
 * The records behind WindowRef and ControlRef, their registries (so a stale
 * reference is refused instead of followed) and small shared helpers.
 * Internal to the platform library.
 */
#ifndef PLATFORM_TOOLBOX_OBJECTS_H
#define PLATFORM_TOOLBOX_OBJECTS_H

#include "HIToolbox.h"
#include "ToolboxEvents.h"
#include "ToolboxGuard.h"

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class QEventLoop;

enum class ControlKind {
    PushButton, /* QPushButton, QToolButton: value 0 */
    CheckBox,   /* QCheckBox, QRadioButton: value 0 or 1 */
    PopupMenu,  /* QComboBox: value 1..count */
    Slider,     /* QAbstractSlider: value, minimum, maximum */
    Progress,   /* QProgressBar */
    StaticText, /* QLabel */
    EditText,   /* QLineEdit */
    Custom,     /* a plain QWidget naming a toolbox class */
    Other       /* any other widget: value kept in the record */
};

struct ToolboxClass {
    std::string identifier;
    std::shared_ptr<OpaqueEventHandlerRef> handler; /* the class's handler and its event list */
    bool registered = true;
};

struct OpaqueControlRef {
    OpaqueWindowPtr *owner = nullptr;
    QPointer<QWidget> widget;
    ControlKind kind = ControlKind::Other;
    OSType signature = 0;
    SInt32 id = 0;
    UInt32 command = 0;
    /* Value and range of controls whose widget has none (custom, other). */
    SInt32 value = 0, minimum = 0, maximum = 1;
    ControlActionUPP action = nullptr;
    std::string className;             /* toolboxClass property, empty if none */
    std::shared_ptr<ToolboxClass> cls; /* null: inert custom control */
    std::shared_ptr<OpaqueEventTargetRef> target;
    UInt16 hilite = 0;         /* part set with HiliteControl */
    bool inactive = false;     /* DeactivateControl */
    bool disabled = false;     /* DisableControl, or disabled in the nib */
    bool settingValue = false; /* a change made by the program, not the user */
    /* A click tracked by the default handling waits for the mouse-up. */
    ControlPartCode pendingPart = 0;
    UInt32 pendingModifiers = 0;
};

struct OpaqueWindowPtr {
    QPointer<QWidget> widget;
    GWorldPtr port = nullptr;
    std::shared_ptr<OpaqueEventTargetRef> target;
    std::vector<std::shared_ptr<OpaqueControlRef>> controls;
    std::unique_ptr<QObject> filter;
    int busy = 0; /* Qt signals of this window being handled */
    bool disposed = false;
    ~OpaqueWindowPtr();
};

/* The QApplication when there is one and this is its thread, else null. */
bool ToolboxHasApplication();

/* Live records, or null for anything unknown or disposed. */
std::shared_ptr<OpaqueWindowPtr> ToolboxWindow(WindowRef w);
std::shared_ptr<OpaqueControlRef> ToolboxControl(ControlRef c);
void ToolboxRegisterWindow(std::shared_ptr<OpaqueWindowPtr> w);
void ToolboxUnregisterWindow(WindowRef w);
/* The window whose port this is, if any. */
WindowRef ToolboxWindowOfPort(GrafPtr port);

/* Rectangle of a widget in its window's content coordinates. */
QRect ToolboxWindowRect(const QWidget *w);

/* Text of a CFString as UTF-8 ("" for null). */
std::string ToolboxString(CFStringRef s);

/* Carbon modifier bits (shiftKey, optionKey, ...) of Qt modifiers. */
UInt32 ToolboxModifiers(Qt::KeyboardModifiers m);

/* Four-character code of a property ("ok  "), 0 when it is not four bytes. */
OSType ToolboxFourCC(const QVariant &v);

/* Keeps a window marked busy while Qt is inside one of its signals, so that
 * DisposeWindow defers the widget's deletion. */
class ToolboxBusy {
public:
    explicit ToolboxBusy(std::shared_ptr<OpaqueWindowPtr> w);
    ~ToolboxBusy();
    ToolboxBusy(const ToolboxBusy &) = delete;
    ToolboxBusy &operator=(const ToolboxBusy &) = delete;

private:
    std::shared_ptr<OpaqueWindowPtr> window;
};

/* Control side (ToolboxControls.cpp). */
std::shared_ptr<OpaqueControlRef> ToolboxMakeControl(OpaqueWindowPtr *owner, QWidget *widget);
/* Sends the control event kind to a custom control (draw, activate, ...). */
OSStatus ToolboxSendControlEvent(OpaqueControlRef *c, UInt32 kind);
/* Repaints the custom controls of a window that overlap area (window coordinates). */
void ToolboxPortChanged(OpaqueWindowPtr *w, const QRect &area);
/* Ends a mouse tracking loop waiting on this window (the window is going away). */
void ToolboxCancelTracking(OpaqueWindowPtr *w);
/* The registered class with this identifier, or null. */
std::shared_ptr<ToolboxClass> ToolboxFindClass(const std::string &identifier);

#endif
