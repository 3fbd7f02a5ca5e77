/*
 * Controls: the Control Manager calls over the widgets of a nib window. Each
 * widget becomes a control of a kind (ToolboxControlKinds.cpp keeps value,
 * range and text per kind); a click on a standard widget ends with its new
 * value in place and sends the hit event, whose default handling sends the
 * control's command to its window. Custom controls are in
 * ToolboxCustomControls.cpp, their classes and the mouse tracking in
 * ToolboxClasses.cpp.
 *
 * Every exported call runs inside ToolboxGuard: no exception crosses the C
 * boundary, and a failure gives the call's neutral result.
 */
#include "ToolboxControlParts.h"

#include "corefoundation/MacRoman.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <cstring>

namespace {

bool IsCustom(const OpaqueControlRef *c) { return c->kind == ControlKind::Custom; }

OSStatus ControlDefaultHandling(OpaqueControlRef *c, EventRef event) {
    if (event->eventClass == kEventClassControl && event->kind == kEventControlHit && c->command != 0) {
        auto window = ToolboxOwnerOf(c);
        if (!window || !window->target) return eventNotHandledErr;
        ToolboxSendCommand(window->target.get(), c->command);
        return noErr;
    }
    return eventNotHandledErr;
}

/* A click on a standard control ended with its new value in place. */
void StandardClick(OpaqueControlRef *c, ControlPartCode part) {
    ToolboxClickEnded(c, part, ToolboxModifiers(QApplication::keyboardModifiers()));
}

ControlKind KindOf(QWidget *w) {
    if (w->property("toolboxClass").isValid()) return ControlKind::Custom;
    if (qobject_cast<QCheckBox *>(w) || qobject_cast<QRadioButton *>(w)) return ControlKind::CheckBox;
    if (qobject_cast<QAbstractButton *>(w)) return ControlKind::PushButton;
    if (qobject_cast<QComboBox *>(w)) return ControlKind::PopupMenu;
    if (qobject_cast<QAbstractSlider *>(w)) return ControlKind::Slider;
    if (qobject_cast<QProgressBar *>(w)) return ControlKind::Progress;
    if (qobject_cast<QLabel *>(w)) return ControlKind::StaticText;
    if (qobject_cast<QLineEdit *>(w)) return ControlKind::EditText;
    return ControlKind::Other;
}

/* A slider tracks live: the action runs with each new value in place while
 * the thumb is held, and the command follows once it is let go (or at once
 * for a step by page or key). A change the program makes is no user action. */
void ConnectSlider(OpaqueControlRef *c, QAbstractSlider *slider) {
    slider->setTracking(true);
    QObject::connect(slider, &QAbstractSlider::valueChanged, slider, [c, slider](int) {
        auto live = ToolboxControl(c);
        if (!live || live->settingValue) return;
        ToolboxBusy busy(ToolboxOwnerOf(c));
        bool dragging = slider->isSliderDown();
        ControlPartCode part = dragging ? kControlIndicatorPart : kControlPageUpPart;
        // Nothing may unwind through Qt's signal delivery.
        if (live->action) ToolboxGuard([&] { live->action(c, part); });
        if (!dragging && ToolboxControl(c)) StandardClick(c, part);
    });
    QObject::connect(slider, &QAbstractSlider::sliderReleased, slider, [c] {
        if (ToolboxControl(c)) StandardClick(c, kControlIndicatorPart);
    });
}

void ConnectEdit(OpaqueControlRef *c, QLineEdit *edit) {
    // A field the nib marks as numeric refuses anything but a number.
    if (edit->property("acceptsNumbers").toBool())
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]{0,6}([.,][0-9]{0,4})?")), edit));
    // Every change the user types sends the field's command at once.
    QObject::connect(edit, &QLineEdit::textEdited, edit, [c] {
        if (ToolboxControl(c)) StandardClick(c, kControlEntireControl + 1);
    });
}

void ConnectSignals(OpaqueControlRef *c) {
    QWidget *w = c->widget;
    // Each slot looks the control up again: it may have gone with its window.
    if (auto *button = qobject_cast<QAbstractButton *>(w)) {
        QObject::connect(button, &QAbstractButton::clicked, button, [c] {
            if (ToolboxControl(c)) StandardClick(c, kControlButtonPart);
        });
    } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
        QObject::connect(combo, &QComboBox::activated, combo, [c](int index) {
            if (ToolboxControl(c)) StandardClick(c, static_cast<ControlPartCode>(std::clamp(index + 1, 0, 32767)));
        });
    } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        ConnectEdit(c, edit);
    } else if (auto *slider = qobject_cast<QAbstractSlider *>(w)) {
        ConnectSlider(c, slider);
    }
}

/* Qt's widget state follows the Carbon flags: a control is usable when it is
 * neither disabled nor inactive. */
void ApplyEnabled(OpaqueControlRef *c) {
    if (c->widget) c->widget->setEnabled(!c->disabled && !c->inactive);
}

QString MacRomanText(const void *data, Size size) {
    std::string_view bytes(static_cast<const char *>(data), static_cast<size_t>(size));
    return QString::fromStdString(macroman::ToUTF8(bytes));
}

std::string ToMacRoman(const QString &text) {
    std::string utf8 = text.toStdString();
    if (auto whole = macroman::FromUTF8(utf8)) return *whole;
    // Characters MacRoman lacks become question marks.
    std::string out;
    for (QChar ch : text) {
        auto one = macroman::FromUTF8(QString(ch).toStdString());
        out += one ? *one : std::string("?");
    }
    return out;
}

/* The live record of a control that still has its widget, or null. */
std::shared_ptr<OpaqueControlRef> WithWidget(ControlRef c) {
    auto control = ToolboxControl(c);
    return control && control->widget ? control : nullptr;
}

SInt32 ReadControl(ControlRef c, SInt32 (*ToolboxControlAdapter::*read)(OpaqueControlRef &)) {
    return ToolboxGuard<SInt32>(0, [&]() -> SInt32 {
        auto control = WithWidget(c);
        return control ? (ToolboxAdapterOf(control->kind).*read)(*control) : 0;
    });
}

void SetRange(ControlRef c, std::optional<SInt32> minimum, std::optional<SInt32> maximum) {
    ToolboxGuard([&] {
        auto control = WithWidget(c);
        if (!control) return;
        ToolboxProgramChange change(*control);
        ToolboxAdapterOf(control->kind).setRange(*control, minimum, maximum);
    });
}

OSStatus SetActive(ControlRef c, bool active) {
    return ToolboxGuard<OSStatus>(paramErr, [&]() -> OSStatus {
        auto control = ToolboxControl(c);
        if (!control) return errUnknownControl;
        if (control->inactive == !active) return noErr;
        control->inactive = !active;
        ApplyEnabled(control.get());
        if (IsCustom(control.get())) {
            OSStatus st =
                ToolboxSendControlEvent(control.get(), active ? kEventControlActivate : kEventControlDeactivate);
            if (st == eventNotHandledErr) ToolboxRedraw(control.get());
        }
        return noErr;
    });
}

OSStatus SetEnabled(ControlRef c, bool enabled) {
    return ToolboxGuard<OSStatus>(paramErr, [&]() -> OSStatus {
        auto control = ToolboxControl(c);
        if (!control) return errUnknownControl;
        control->disabled = !enabled;
        ApplyEnabled(control.get());
        ToolboxRedraw(control.get());
        return noErr;
    });
}

}  // namespace

/* ---- Shared with the other control modules ---- */

std::shared_ptr<OpaqueWindowPtr> ToolboxOwnerOf(const OpaqueControlRef *c) { return ToolboxWindow(c->owner); }

QRect ToolboxControlBounds(const OpaqueControlRef *c) { return c->widget ? ToolboxWindowRect(c->widget) : QRect(); }

Point ToolboxPoint(QPoint p) {
    auto clamp16 = [](int v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); };
    return Point{clamp16(p.y()), clamp16(p.x())};
}

ToolboxEventPtr ToolboxControlEvent(OpaqueControlRef *c, UInt32 kind) {
    auto event = ToolboxMakeEvent(kEventClassControl, kind);
    if (event) {
        ControlRef ref = c;
        ToolboxSetParam(event.get(), kEventParamDirectObject, typeControlRef, ref);
    }
    return event;
}

OSStatus ToolboxSendToControl(OpaqueControlRef *c, EventRef event) {
    auto window = ToolboxOwnerOf(c);
    if (!window || !c->target) return errUnknownControl;
    ToolboxBusy busy(window);
    return SendEventToEventTarget(event, c->target.get());
}

void ToolboxClickEnded(OpaqueControlRef *c, ControlPartCode part, UInt32 modifiers) {
    auto event = ToolboxControlEvent(c, kEventControlHit);
    if (!event) return;
    ToolboxSetParam(event.get(), kEventParamControlPart, typeControlPartCode, part);
    ToolboxSetParam(event.get(), kEventParamKeyModifiers, typeUInt32, modifiers);
    ToolboxSendToControl(c, event.get());
}

void ToolboxRedraw(OpaqueControlRef *c) {
    // A hidden control draws nothing, as on Carbon: it could only spoil
    // what the port holds for the controls that are shown.
    if (IsCustom(c) && c->widget && !c->widget->isHidden())
        ToolboxSendControlEvent(c, kEventControlDraw);
    else if (c->widget)
        c->widget->update();
}

std::shared_ptr<OpaqueControlRef> ToolboxMakeControl(OpaqueWindowPtr *owner, QWidget *widget) {
    auto control = std::make_shared<OpaqueControlRef>();
    OpaqueControlRef *c = control.get();
    c->owner = owner;
    c->widget = widget;
    c->kind = KindOf(widget);
    c->signature = ToolboxFourCC(widget->property("controlSignature"));
    c->id = widget->property("controlID").toInt();
    c->command = ToolboxFourCC(widget->property("command"));
    c->disabled = !widget->isEnabled();
    c->target = ToolboxNewEventTarget();
    c->target->parent = [owner]() -> OpaqueEventTargetRef * {
        auto w = ToolboxWindow(owner);
        return w && w->target ? w->target.get() : GetApplicationEventTarget();
    };
    c->target->keepAlive = [c]() -> std::shared_ptr<void> { return ToolboxControl(c); };
    c->target->defaultHandling = [c](EventRef e) { return ControlDefaultHandling(c, e); };
    if (c->kind == ControlKind::Custom) ToolboxAttachCustomControl(c, widget);
    // The OK button is the window's default button, drawn as such.
    if (auto *push = qobject_cast<QPushButton *>(widget); push && c->command == kHICommandOK) push->setDefault(true);
    ConnectSignals(c);
    return control;
}

OSStatus ToolboxSendControlEvent(OpaqueControlRef *c, UInt32 kind) {
    auto event = ToolboxControlEvent(c, kind);
    if (!event) return memFullErr;
    if (kind == kEventControlOwningWindowChanged) {
        WindowRef none = nullptr, owner = c->owner;
        ToolboxSetParam(event.get(), kEventParamControlOriginalOwningWindow, typeWindowRef, none);
        ToolboxSetParam(event.get(), kEventParamControlCurrentOwningWindow, typeWindowRef, owner);
    }
    return ToolboxSendToControl(c, event.get());
}

void ToolboxPortChanged(OpaqueWindowPtr *w, const QRect &area) {
    for (auto &c : w->controls) {
        if (!IsCustom(c.get()) || !c->widget) continue;
        QRect bounds = ToolboxWindowRect(c->widget);
        QRect hit = bounds.intersected(area);
        if (!hit.isEmpty()) c->widget->update(hit.translated(-bounds.topLeft()));
    }
}

extern "C" {

PLATFORM_API EventTargetRef GetControlEventTarget(ControlRef c) {
    return ToolboxGuard<EventTargetRef>(nullptr, [&]() -> EventTargetRef {
        auto control = ToolboxControl(c);
        return control && control->target ? control->target.get() : nullptr;
    });
}

PLATFORM_API OSStatus GetControlByID(WindowRef w, const ControlID *id, ControlRef *outControl) {
    if (outControl) *outControl = nullptr;
    if (id == nullptr || outControl == nullptr) return paramErr;
    return ToolboxGuard<OSStatus>(paramErr, [&]() -> OSStatus {
        auto window = ToolboxWindow(w);
        if (!window) return errInvalidWindowRef;
        for (auto &c : window->controls) {
            if (c->signature == id->signature && c->id == id->id && c->widget) {
                *outControl = c.get();
                return noErr;
            }
        }
        return errUnknownControl;
    });
}

PLATFORM_API SInt32 GetControl32BitValue(ControlRef c) { return ReadControl(c, &ToolboxControlAdapter::value); }

PLATFORM_API SInt32 GetControl32BitMinimum(ControlRef c) { return ReadControl(c, &ToolboxControlAdapter::minimum); }

PLATFORM_API SInt32 GetControl32BitMaximum(ControlRef c) { return ReadControl(c, &ToolboxControlAdapter::maximum); }

PLATFORM_API void SetControl32BitValue(ControlRef c, SInt32 value) {
    ToolboxGuard([&] {
        auto control = WithWidget(c);
        if (!control) return;
        ToolboxProgramChange change(*control);
        ToolboxAdapterOf(control->kind).setValue(*control, value);
    });
}

PLATFORM_API void SetControl32BitMinimum(ControlRef c, SInt32 value) { SetRange(c, value, std::nullopt); }

PLATFORM_API void SetControl32BitMaximum(ControlRef c, SInt32 value) { SetRange(c, std::nullopt, value); }

PLATFORM_API OSErr ShowControl(ControlRef c) {
    return ToolboxGuard<OSErr>(paramErr, [&]() -> OSErr {
        auto control = WithWidget(c);
        if (!control) return errUnknownControl;
        bool wasHidden = control->widget->isHidden();
        control->widget->show();
        if (wasHidden && IsCustom(control.get())) ToolboxRedraw(control.get());
        return noErr;
    });
}

PLATFORM_API OSErr HideControl(ControlRef c) {
    return ToolboxGuard<OSErr>(paramErr, [&]() -> OSErr {
        auto control = WithWidget(c);
        if (!control) return errUnknownControl;
        control->widget->hide();
        return noErr;
    });
}

PLATFORM_API Boolean IsControlVisible(ControlRef c) {
    return ToolboxGuard<Boolean>(false, [&]() -> Boolean {
        auto control = WithWidget(c);
        return control && !control->widget->isHidden();
    });
}

PLATFORM_API OSErr SetControlData(ControlRef c, ControlPartCode, ResType tag, Size size, const void *data) {
    return ToolboxGuard<OSErr>(memFullErr, [&]() -> OSErr {
        auto control = WithWidget(c);
        if (!control) return errUnknownControl;
        if (size < 0 || (size > 0 && data == nullptr)) return paramErr;
        if (tag != kControlStaticTextTextTag) return errDataNotSupported;
        QString text = size > 0 ? MacRomanText(data, size) : QString();
        if (!ToolboxAdapterOf(control->kind).setText(*control, text)) return errDataNotSupported;
        return noErr;
    });
}

PLATFORM_API OSErr GetControlData(ControlRef c, ControlPartCode, ResType tag, Size bufSize, void *buf,
                                  Size *actualSize) {
    if (actualSize) *actualSize = 0;
    return ToolboxGuard<OSErr>(memFullErr, [&]() -> OSErr {
        auto control = WithWidget(c);
        if (!control) return errUnknownControl;
        if (tag != kControlStaticTextTextTag) return errDataNotSupported;
        if (bufSize < 0 || (bufSize > 0 && buf == nullptr)) return paramErr;
        std::optional<QString> text = ToolboxAdapterOf(control->kind).text(*control);
        if (!text) return errDataNotSupported;
        std::string bytes = ToMacRoman(*text);
        if (actualSize) *actualSize = static_cast<Size>(bytes.size());
        if (buf && bufSize > 0)
            std::memcpy(buf, bytes.data(), std::min<size_t>(static_cast<size_t>(bufSize), bytes.size()));
        return noErr;
    });
}

PLATFORM_API void Draw1Control(ControlRef c) {
    ToolboxGuard([&] {
        auto control = WithWidget(c);
        if (!control) return;
        if (IsCustom(control.get()))
            ToolboxRedraw(control.get());
        else if (control->widget->isVisible())
            control->widget->repaint();
    });
}

PLATFORM_API Rect *GetControlBounds(ControlRef c, Rect *bounds) {
    if (bounds == nullptr) return nullptr;
    *bounds = Rect{0, 0, 0, 0};
    ToolboxGuard([&] {
        auto control = WithWidget(c);
        if (!control) return;
        QRect r = ToolboxWindowRect(control->widget);
        auto c16 = [](int v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); };
        // Half-open: right and bottom are one past the last pixel.
        *bounds = Rect{c16(r.top()), c16(r.left()), c16(r.top() + r.height()), c16(r.left() + r.width())};
    });
    return bounds;
}

PLATFORM_API UInt16 GetControlHilite(ControlRef c) {
    return ToolboxGuard<UInt16>(0, [&]() -> UInt16 {
        auto control = WithWidget(c);
        if (!control) return 0;
        if (control->inactive) return kControlInactiveHilite;
        if (control->disabled || !control->widget->isEnabled()) return kControlDisabledPart;
        if (auto *button = qobject_cast<QAbstractButton *>(control->widget.data()); button && button->isDown())
            return kControlButtonPart;
        return control->hilite;
    });
}

/* The hilite byte once carried everything: 0 active and plain, 1..253 a part
 * pressed, 254 disabled, 255 inactive. Activation and enabling are now states
 * of their own, and HiliteControl maps the old values onto them: 255
 * deactivates, and any part below 254 means an active control, so it lifts
 * the inactive state again. Disabling is owned by Enable/DisableControl (254
 * here is taken as DisableControl): part 0 leaves it alone, so a control the
 * program disabled (the dialog's clip switch at half turns) does not come
 * back to life when something merely takes its highlight off. */
PLATFORM_API void HiliteControl(ControlRef c, ControlPartCode part) {
    ToolboxGuard([&] {
        auto control = ToolboxControl(c);
        if (!control) return;
        if (part == kControlInactiveHilite) {
            control->inactive = true;
        } else if (part == kControlDisabledPart) {
            control->disabled = true;
        } else {
            control->hilite = static_cast<UInt16>(part);
            control->inactive = false;
        }
        ApplyEnabled(control.get());
        ToolboxRedraw(control.get());
    });
}

PLATFORM_API OSStatus ActivateControl(ControlRef c) { return SetActive(c, true); }

PLATFORM_API OSStatus DeactivateControl(ControlRef c) { return SetActive(c, false); }

PLATFORM_API OSStatus EnableControl(ControlRef c) { return SetEnabled(c, true); }

PLATFORM_API OSStatus DisableControl(ControlRef c) { return SetEnabled(c, false); }

PLATFORM_API WindowRef GetControlOwner(ControlRef c) {
    return ToolboxGuard<WindowRef>(nullptr, [&]() -> WindowRef {
        auto control = ToolboxControl(c);
        return control ? control->owner : nullptr;
    });
}

PLATFORM_API OSStatus GetControlCommandID(ControlRef c, UInt32 *outCommandID) {
    if (outCommandID == nullptr) return paramErr;
    *outCommandID = 0;
    return ToolboxGuard<OSStatus>(paramErr, [&]() -> OSStatus {
        auto control = ToolboxControl(c);
        if (!control) return errUnknownControl;
        *outCommandID = control->command;
        return noErr;
    });
}

PLATFORM_API OSStatus SetControlCommandID(ControlRef c, UInt32 commandID) {
    return ToolboxGuard<OSStatus>(paramErr, [&]() -> OSStatus {
        auto control = ToolboxControl(c);
        if (!control) return errUnknownControl;
        control->command = commandID;
        return noErr;
    });
}

PLATFORM_API ControlActionUPP NewControlActionUPP(ControlActionProcPtr proc) { return proc; }

PLATFORM_API void DisposeControlActionUPP(ControlActionUPP) {}

PLATFORM_API void SetControlAction(ControlRef c, ControlActionUPP action) {
    ToolboxGuard([&] {
        if (auto control = ToolboxControl(c)) control->action = action;
    });
}

}  // extern "C"
