/*
 * What the control modules share: the per-kind adapters behind the Control
 * Manager's value, range and text calls, the click and redraw helpers, the
 * custom-control hookup and the mouse tracking session.
 * Internal to the platform library.
 */
#ifndef PLATFORM_TOOLBOX_CONTROL_PARTS_H
#define PLATFORM_TOOLBOX_CONTROL_PARTS_H

#include "ToolboxObjects.h"

#include <QString>

#include <functional>
#include <optional>

/* ---- One adapter per control kind (ToolboxControlKinds.cpp) ---- */

/* How the value, range and text of one kind of control are kept: in its Qt
 * widget, or, for kinds whose widget has none, in the control record. The
 * setters run with the control marked as being changed by the program. */
struct ToolboxControlAdapter {
    SInt32 (*value)(OpaqueControlRef &c);
    void (*setValue)(OpaqueControlRef &c, SInt32 value);
    SInt32 (*minimum)(OpaqueControlRef &c);
    SInt32 (*maximum)(OpaqueControlRef &c);
    /* Either bound may be absent; kinds whose range follows from their items
     * ignore both. */
    void (*setRange)(OpaqueControlRef &c, std::optional<SInt32> minimum, std::optional<SInt32> maximum);
    /* The shown text; null when the kind has none. */
    std::optional<QString> (*text)(OpaqueControlRef &c);
    /* False when the kind has no text. */
    bool (*setText)(OpaqueControlRef &c, const QString &text);
};

const ToolboxControlAdapter &ToolboxAdapterOf(ControlKind kind);

/* Marks a control as being changed by the program (not the user) for its
 * lifetime, and puts the previous mark back however the change ends, so a
 * failure half-way never leaves the control deaf to the user. */
class ToolboxProgramChange {
public:
    explicit ToolboxProgramChange(OpaqueControlRef &c) : control(c), previous(c.settingValue) {
        control.settingValue = true;
    }
    ~ToolboxProgramChange() { control.settingValue = previous; }
    ToolboxProgramChange(const ToolboxProgramChange &) = delete;
    ToolboxProgramChange &operator=(const ToolboxProgramChange &) = delete;

private:
    OpaqueControlRef &control;
    bool previous;
};

/* v within [lo, hi]; an empty range is taken as lo alone. */
SInt32 ToolboxClamp(SInt64 v, SInt32 lo, SInt32 hi);

/* ---- Clicks and drawing (ToolboxControls.cpp) ---- */

std::shared_ptr<OpaqueWindowPtr> ToolboxOwnerOf(const OpaqueControlRef *c);
/* The control's rectangle in its window's coordinates (empty without widget). */
QRect ToolboxControlBounds(const OpaqueControlRef *c);
/* A window point as a QuickDraw point, each coordinate clamped to 16 bits. */
Point ToolboxPoint(QPoint p);
/* An event addressed to a control, with the control as its direct object. */
ToolboxEventPtr ToolboxControlEvent(OpaqueControlRef *c, UInt32 kind);
OSStatus ToolboxSendToControl(OpaqueControlRef *c, EventRef event);
/* The click ended on a part: the hit event, and by default the command. */
void ToolboxClickEnded(OpaqueControlRef *c, ControlPartCode part, UInt32 modifiers);
/* Shows the control's current state: a custom control draws itself into its
 * window's port, a standard one repaints. */
void ToolboxRedraw(OpaqueControlRef *c);

/* ---- Custom controls (ToolboxCustomControls.cpp) ---- */

/* Binds a custom control to its toolbox class, takes its range from the
 * widget and routes the widget's painting and input through the class. */
void ToolboxAttachCustomControl(OpaqueControlRef *c, QWidget *widget);

/* ---- Mouse tracking (ToolboxClasses.cpp) ---- */

struct ToolboxTrackOutcome {
    bool sawMouseUp = false; /* the click ended while body ran */
    Point last{0, 0};        /* where the mouse was last seen */
};

/* Runs body with the mouse of window (window coordinates, starting at start)
 * followed for TrackMouseLocation. */
ToolboxTrackOutcome ToolboxTrack(OpaqueWindowPtr *window, Point start, const std::function<void()> &body);

#endif
