/*
 * Controls: standard Qt widgets behind the Control Manager calls, custom
 * controls driven by toolbox classes, and the mouse tracking loop.
 *
 * A click on a custom control goes as on Carbon: hit test at mouse-down;
 * for a part other than 0 the track event, whose handler may follow the
 * mouse with TrackMouseLocation; when the click ends inside, the hit event,
 * whose default handling sends the control's command to its window.
 */
#include "ToolboxObjects.h"

#include "corefoundation/MacRoman.h"
#include "quickdraw/GrafPortPrivate.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QToolButton>

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>
#include <map>
#include <optional>

namespace {

/* ---- Toolbox classes ---- */

std::map<std::string, std::shared_ptr<ToolboxClass>> &Classes() {
    static std::map<std::string, std::shared_ptr<ToolboxClass>> classes;
    return classes;
}

/* ---- Mouse tracking ---- */

struct TrackStep {
    Point where;
    MouseTrackingResult result;
};

/* Mouse events of one window while a track event runs: moves and the
 * mouse-up are taken from Qt's delivery and queued for TrackMouseLocation. */
struct TrackSession {
    OpaqueWindowPtr *window = nullptr; /* null: any of our windows */
    std::deque<TrackStep> queue;
    QEventLoop *waiting = nullptr;
    bool sawMouseUp = false;
    bool cancelled = false;
    Point last{0, 0};
};

TrackSession *gTrack = nullptr;

Point ToPoint(QPoint p) {
    auto clamp16 = [](int v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); };
    return Point{clamp16(p.y()), clamp16(p.x())};
}

class TrackFilter : public QObject {
public:
    bool eventFilter(QObject *receiver, QEvent *event) override {
        if (gTrack == nullptr || gTrack->sawMouseUp || !receiver->isWidgetType()) return false;
        if (event->type() != QEvent::MouseMove && event->type() != QEvent::MouseButtonRelease) return false;
        auto *widget = static_cast<QWidget *>(receiver);
        QWidget *top = widget->window();
        if (gTrack->window != nullptr && top != gTrack->window->widget) return false;
        if (gTrack->window == nullptr && !top->property("_toolboxWindow").isValid()) return false;
        auto *mouse = static_cast<QMouseEvent *>(event);
        QPoint local = mouse->position().toPoint();
        QPoint inWindow = (widget == top) ? local : widget->mapTo(top, local);
        TrackStep step{ToPoint(inWindow), kMouseTrackingMouseDragged};
        if (event->type() == QEvent::MouseButtonRelease) {
            step.result = kMouseTrackingMouseUp;
            gTrack->sawMouseUp = true;
        }
        gTrack->last = step.where;
        gTrack->queue.push_back(step);
        if (gTrack->waiting) gTrack->waiting->exit(0);
        event->accept();
        return true;
    }
};

/* Installs the tracking filter for the session's lifetime. */
class TrackScope {
public:
    TrackScope(OpaqueWindowPtr *window, Point start) {
        previous = gTrack;
        session.window = window;
        session.last = start;
        gTrack = &session;
        QCoreApplication::instance()->installEventFilter(&filter);
    }
    ~TrackScope() {
        if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(&filter);
        gTrack = previous;
    }
    TrackScope(const TrackScope &) = delete;
    TrackScope &operator=(const TrackScope &) = delete;
    TrackSession session;

private:
    TrackFilter filter;
    TrackSession *previous = nullptr;
};

/* ---- Helpers ---- */

std::shared_ptr<OpaqueWindowPtr> OwnerOf(const OpaqueControlRef *c) { return ToolboxWindow(c->owner); }

QRect BoundsOf(const OpaqueControlRef *c) { return c->widget ? ToolboxWindowRect(c->widget) : QRect(); }

bool IsCustom(const OpaqueControlRef *c) { return c->kind == ControlKind::Custom; }

/* An event addressed to a control, with the control as its direct object. */
ToolboxEventPtr ControlEvent(OpaqueControlRef *c, UInt32 kind) {
    auto event = ToolboxMakeEvent(kEventClassControl, kind);
    if (event) {
        ControlRef ref = c;
        ToolboxSetParam(event.get(), kEventParamDirectObject, typeControlRef, ref);
    }
    return event;
}

OSStatus SendToControl(OpaqueControlRef *c, EventRef event) {
    auto window = OwnerOf(c);
    if (!window || !c->target) return errUnknownControl;
    ToolboxBusy busy(window);
    return SendEventToEventTarget(event, c->target.get());
}

/* The click ended on a part: the hit event, and by default the command. */
void ClickEnded(OpaqueControlRef *c, ControlPartCode part, UInt32 modifiers) {
    auto event = ControlEvent(c, kEventControlHit);
    if (!event) return;
    ToolboxSetParam(event.get(), kEventParamControlPart, typeControlPartCode, part);
    ToolboxSetParam(event.get(), kEventParamKeyModifiers, typeUInt32, modifiers);
    SendToControl(c, event.get());
}

OSStatus ControlDefaultHandling(OpaqueControlRef *c, EventRef event) {
    if (event->eventClass == kEventClassControl && event->kind == kEventControlHit && c->command != 0) {
        auto window = OwnerOf(c);
        if (!window || !window->target) return eventNotHandledErr;
        ToolboxSendCommand(window->target.get(), c->command);
        return noErr;
    }
    return eventNotHandledErr;
}

/* A click on a standard control ended with its new value in place. */
void StandardClick(OpaqueControlRef *c, ControlPartCode part) {
    ClickEnded(c, part, ToolboxModifiers(QApplication::keyboardModifiers()));
}

/* Custom control: the mouse went down at where (window coordinates). */
void CustomMouseDown(const std::shared_ptr<OpaqueControlRef> &c, QPoint where, UInt32 modifiers) {
    auto window = OwnerOf(c.get());
    if (!window) return;
    ToolboxBusy busy(window);
    Point down = ToPoint(where);

    auto test = ControlEvent(c.get(), kEventControlHitTest);
    if (!test) return;
    ToolboxSetParam(test.get(), kEventParamMouseLocation, typeQDPoint, down);
    ToolboxSetParam(test.get(), kEventParamKeyModifiers, typeUInt32, modifiers);
    ControlPartCode part = kControlNoPart;
    OSStatus status = SendToControl(c.get(), test.get());
    if (status == noErr) {
        GetEventParameter(test.get(), kEventParamControlPart, typeControlPartCode, nullptr, sizeof part, nullptr,
                          &part);
    } else if (status == eventNotHandledErr) {
        part = BoundsOf(c.get()).contains(where) ? 1 : kControlNoPart;
    }
    if (part == kControlNoPart) return;

    auto track = ControlEvent(c.get(), kEventControlTrack);
    if (!track) return;
    ToolboxSetParam(track.get(), kEventParamMouseLocation, typeQDPoint, down);
    ToolboxSetParam(track.get(), kEventParamKeyModifiers, typeUInt32, modifiers);
    ToolboxSetParam(track.get(), kEventParamControlPart, typeControlPartCode, part);
    bool sawUp = false;
    Point up = down;
    {
        TrackScope scope(window.get(), down);
        status = SendToControl(c.get(), track.get());
        // A mouse-up that came while the handler ran ends the click, whether
        // or not the handler read it; nothing is taken after it.
        sawUp = scope.session.sawMouseUp;
        up = scope.session.last;
    }
    if (status == noErr)
        GetEventParameter(track.get(), kEventParamControlPart, typeControlPartCode, nullptr, sizeof part, nullptr,
                          &part);
    if (sawUp) {
        QRect bounds = BoundsOf(c.get());
        if (part != kControlNoPart && bounds.contains(QPoint(up.h, up.v)) && ToolboxControl(c.get()))
            ClickEnded(c.get(), part, modifiers);
        return;
    }
    // Nobody followed the mouse: the mouse-up decides when it comes.
    c->pendingPart = part;
    c->pendingModifiers = modifiers;
}

void PaintFromPort(OpaqueControlRef *c, QPaintEvent *paint) {
    QWidget *widget = c->widget;
    auto window = OwnerOf(c);
    QPainter painter(widget);
    QRect area = paint->rect();
    if (!window || window->port == nullptr || window->port->pixMap.baseAddr == nullptr) {
        painter.fillRect(area, widget->palette().color(QPalette::Window));
        return;
    }
    const PixMap &pm = window->port->pixMap;
    QRect portRect(0, 0, pm.bounds.right - pm.bounds.left, pm.bounds.bottom - pm.bounds.top);
    QPoint origin = ToolboxWindowRect(widget).topLeft();
    QRect source = area.translated(origin).intersected(portRect);
    painter.fillRect(area, widget->palette().color(QPalette::Window));
    if (source.isEmpty()) return;
    QImage image(source.size(), QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y) {
        const auto *row = reinterpret_cast<const uint8_t *>(pm.baseAddr) +
                          static_cast<ptrdiff_t>(source.top() + y) * pm.rowBytes + 4 * source.left();
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < source.width(); ++x) out[x] = qRgb(row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]);
    }
    painter.drawImage(source.topLeft() - origin, image);
}

/* Paints a custom control from its window's port and turns its mouse events
 * into toolbox events. Owned by the widget. */
class CustomControlFilter : public QObject {
public:
    CustomControlFilter(OpaqueControlRef *control, QObject *parent) : QObject(parent), c(control) {}
    bool eventFilter(QObject *receiver, QEvent *event) override {
        auto control = ToolboxControl(c);
        if (!control || receiver != control->widget) return false;
        switch (event->type()) {
            case QEvent::Paint:
                PaintFromPort(c, static_cast<QPaintEvent *>(event));
                return true;
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick: {
                auto *mouse = static_cast<QMouseEvent *>(event);
                event->accept();
                if (mouse->button() != Qt::LeftButton || !control->cls || !control->cls->registered) return true;
                if (GetControlHilite(c) >= kControlDisabledPart) return true;
                QPoint where = mouse->position().toPoint() + BoundsOf(c).topLeft();
                CustomMouseDown(control, where, ToolboxModifiers(mouse->modifiers()));
                return true;
            }
            case QEvent::MouseButtonRelease: {
                auto *mouse = static_cast<QMouseEvent *>(event);
                event->accept();
                ControlPartCode part = control->pendingPart;
                control->pendingPart = 0;
                QPoint where = mouse->position().toPoint() + BoundsOf(c).topLeft();
                if (part != kControlNoPart && BoundsOf(c).contains(where))
                    ClickEnded(c, part, control->pendingModifiers);
                return true;
            }
            case QEvent::MouseMove:
                event->accept();
                return true;
            case QEvent::KeyPress:
                return ArrowKey(control, static_cast<QKeyEvent *>(event));
            default:
                return false;
        }
    }

private:
    OpaqueControlRef *c;

    /* Arrow keys go to a focused custom control that asked for raw key
     * events; the others, and arrows it leaves, go on to Qt. */
    static bool ArrowKey(const std::shared_ptr<OpaqueControlRef> &control, QKeyEvent *key) {
        UInt32 code = 0;
        switch (key->key()) {
            case Qt::Key_Left:
                code = kVK_LeftArrow;
                break;
            case Qt::Key_Right:
                code = kVK_RightArrow;
                break;
            case Qt::Key_Up:
                code = kVK_UpArrow;
                break;
            case Qt::Key_Down:
                code = kVK_DownArrow;
                break;
            default:
                return false;
        }
        if (!control->cls || !control->cls->registered || GetControlHilite(control.get()) >= kControlDisabledPart)
            return false;
        auto event = ToolboxMakeEvent(kEventClassKeyboard, kEventRawKeyDown);
        if (!event) return false;
        ControlRef ref = control.get();
        ToolboxSetParam(event.get(), kEventParamDirectObject, typeControlRef, ref);
        ToolboxSetParam(event.get(), kEventParamKeyCode, typeUInt32, code);
        ToolboxSetParam(event.get(), kEventParamKeyModifiers, typeUInt32, ToolboxModifiers(key->modifiers()));
        if (SendToControl(control.get(), event.get()) != noErr) return false;
        key->accept();
        return true;
    }
};

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

void ConnectSignals(const std::shared_ptr<OpaqueControlRef> &control) {
    OpaqueControlRef *c = control.get();
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
        // A field the nib marks as numeric refuses anything but a number.
        if (edit->property("acceptsNumbers").toBool())
            edit->setValidator(new QRegularExpressionValidator(
                QRegularExpression(QStringLiteral("-?[0-9]{0,6}([.,][0-9]{0,4})?")), edit));
        // Every change the user types sends the field's command at once.
        QObject::connect(edit, &QLineEdit::textEdited, edit, [c] {
            if (ToolboxControl(c)) StandardClick(c, kControlEntireControl + 1);
        });
    } else if (auto *slider = qobject_cast<QAbstractSlider *>(w)) {
        slider->setTracking(true);
        QObject::connect(slider, &QAbstractSlider::valueChanged, slider, [c, slider](int) {
            auto live = ToolboxControl(c);
            if (!live || live->settingValue) return;
            auto window = OwnerOf(c);
            ToolboxBusy busy(window);
            bool dragging = slider->isSliderDown();
            ControlPartCode part = dragging ? kControlIndicatorPart : kControlPageUpPart;
            // Live tracking: the action runs with the new value in place.
            if (live->action) {
                try {
                    live->action(c, part);
                } catch (...) {
                    // nothing may unwind through Qt's signal delivery
                }
            }
            if (!dragging && ToolboxControl(c)) StandardClick(c, part);
        });
        QObject::connect(slider, &QAbstractSlider::sliderReleased, slider, [c] {
            if (ToolboxControl(c)) StandardClick(c, kControlIndicatorPart);
        });
    }
}

SInt32 Clamp(SInt64 v, SInt32 lo, SInt32 hi) {
    if (hi < lo) hi = lo;
    return static_cast<SInt32>(std::clamp<SInt64>(v, lo, hi));
}

void Redraw(OpaqueControlRef *c) {
    // A hidden control draws nothing, as on Carbon: it could only spoil
    // what the port holds for the controls that are shown.
    if (IsCustom(c) && c->widget && !c->widget->isHidden())
        ToolboxSendControlEvent(c, kEventControlDraw);
    else if (c->widget)
        c->widget->update();
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

}  // namespace

/* ---- Internal interface ---- */

std::shared_ptr<ToolboxClass> ToolboxFindClass(const std::string &identifier) {
    auto it = Classes().find(identifier);
    return it == Classes().end() ? nullptr : it->second;
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
    if (c->kind == ControlKind::Custom) {
        c->className = widget->property("toolboxClass").toString().toStdString();
        c->cls = ToolboxFindClass(c->className);
        c->target->classHandler = [c]() -> std::shared_ptr<OpaqueEventHandlerRef> {
            return c->cls && c->cls->registered ? c->cls->handler : nullptr;
        };
        if (widget->property("minimum").isValid()) c->minimum = widget->property("minimum").toInt();
        if (widget->property("maximum").isValid()) c->maximum = widget->property("maximum").toInt();
        c->value = Clamp(widget->property("value").toInt(), c->minimum, c->maximum);
        widget->setAttribute(Qt::WA_OpaquePaintEvent);
        widget->installEventFilter(new CustomControlFilter(c, widget));
    }
    // The OK button is the window's default button, drawn as such.
    if (auto *push = qobject_cast<QPushButton *>(widget); push && c->command == kHICommandOK) push->setDefault(true);
    ConnectSignals(control);
    return control;
}

OSStatus ToolboxSendControlEvent(OpaqueControlRef *c, UInt32 kind) {
    auto event = ControlEvent(c, kind);
    if (!event) return memFullErr;
    if (kind == kEventControlOwningWindowChanged) {
        WindowRef none = nullptr, owner = c->owner;
        ToolboxSetParam(event.get(), kEventParamControlOriginalOwningWindow, typeWindowRef, none);
        ToolboxSetParam(event.get(), kEventParamControlCurrentOwningWindow, typeWindowRef, owner);
    }
    return SendToControl(c, event.get());
}

void ToolboxPortChanged(OpaqueWindowPtr *w, const QRect &area) {
    for (auto &c : w->controls) {
        if (!IsCustom(c.get()) || !c->widget) continue;
        QRect bounds = ToolboxWindowRect(c->widget);
        QRect hit = bounds.intersected(area);
        if (!hit.isEmpty()) c->widget->update(hit.translated(-bounds.topLeft()));
    }
}

void ToolboxCancelTracking(OpaqueWindowPtr *w) {
    if (gTrack != nullptr && (gTrack->window == w || gTrack->window == nullptr)) {
        gTrack->cancelled = true;
        if (gTrack->waiting) gTrack->waiting->exit(0);
    }
}

extern "C" {

PLATFORM_API EventTargetRef GetControlEventTarget(ControlRef c) {
    auto control = ToolboxControl(c);
    return control && control->target ? control->target.get() : nullptr;
}

PLATFORM_API OSStatus GetControlByID(WindowRef w, const ControlID *id, ControlRef *outControl) {
    if (outControl) *outControl = nullptr;
    if (id == nullptr || outControl == nullptr) return paramErr;
    auto window = ToolboxWindow(w);
    if (!window) return errInvalidWindowRef;
    for (auto &c : window->controls) {
        if (c->signature == id->signature && c->id == id->id && c->widget) {
            *outControl = c.get();
            return noErr;
        }
    }
    return errUnknownControl;
}

PLATFORM_API SInt32 GetControl32BitValue(ControlRef c) {
    auto control = ToolboxControl(c);
    if (!control || !control->widget) return 0;
    QWidget *w = control->widget;
    switch (control->kind) {
        case ControlKind::CheckBox: {
            if (auto *box = qobject_cast<QCheckBox *>(w))
                return box->checkState() == Qt::Checked ? 1 : box->checkState() == Qt::PartiallyChecked ? 2 : 0;
            return static_cast<QAbstractButton *>(w)->isChecked() ? 1 : 0;
        }
        case ControlKind::PushButton: {
            auto *button = static_cast<QAbstractButton *>(w);
            return button->isCheckable() && button->isChecked() ? 1 : 0;
        }
        case ControlKind::PopupMenu:
            return static_cast<QComboBox *>(w)->currentIndex() + 1;
        case ControlKind::Slider:
            return static_cast<QAbstractSlider *>(w)->value();
        case ControlKind::Progress:
            return static_cast<QProgressBar *>(w)->value();
        default:
            return control->value;
    }
}

PLATFORM_API void SetControl32BitValue(ControlRef c, SInt32 value) {
    ToolboxGuard([&] {
        auto control = ToolboxControl(c);
        if (!control || !control->widget) return;
        QWidget *w = control->widget;
        control->settingValue = true;
        switch (control->kind) {
            case ControlKind::CheckBox:
                if (auto *box = qobject_cast<QCheckBox *>(w)) {
                    if (value == 2) box->setTristate(true);
                    box->setCheckState(value <= 0 ? Qt::Unchecked : value == 1 ? Qt::Checked : Qt::PartiallyChecked);
                } else {
                    static_cast<QAbstractButton *>(w)->setChecked(value > 0);
                }
                break;
            case ControlKind::PushButton: {
                auto *button = static_cast<QAbstractButton *>(w);
                if (button->isCheckable()) button->setChecked(value > 0);
                break;
            }
            case ControlKind::PopupMenu: {
                auto *combo = static_cast<QComboBox *>(w);
                if (combo->count() > 0) combo->setCurrentIndex(Clamp(value, 1, combo->count()) - 1);
                break;
            }
            case ControlKind::Slider:
                static_cast<QAbstractSlider *>(w)->setValue(value);
                break;
            case ControlKind::Progress:
                static_cast<QProgressBar *>(w)->setValue(value);
                break;
            default: {
                SInt32 v = Clamp(value, control->minimum, control->maximum);
                bool changed = v != control->value;
                control->value = v;
                // A custom control shows a new value at once, as Carbon redraws it.
                if (changed) Redraw(control.get());
                break;
            }
        }
        control->settingValue = false;
    });
}

PLATFORM_API SInt32 GetControl32BitMinimum(ControlRef c) {
    auto control = ToolboxControl(c);
    if (!control || !control->widget) return 0;
    switch (control->kind) {
        case ControlKind::PopupMenu:
            return 1;
        case ControlKind::CheckBox:
        case ControlKind::PushButton:
            return 0;
        case ControlKind::Slider:
            return static_cast<QAbstractSlider *>(control->widget.data())->minimum();
        case ControlKind::Progress:
            return static_cast<QProgressBar *>(control->widget.data())->minimum();
        default:
            return control->minimum;
    }
}

PLATFORM_API SInt32 GetControl32BitMaximum(ControlRef c) {
    auto control = ToolboxControl(c);
    if (!control || !control->widget) return 0;
    switch (control->kind) {
        case ControlKind::PopupMenu:
            return static_cast<QComboBox *>(control->widget.data())->count();
        case ControlKind::CheckBox: {
            auto *box = qobject_cast<QCheckBox *>(control->widget.data());
            return box && box->isTristate() ? 2 : 1;
        }
        case ControlKind::PushButton:
            return 1;
        case ControlKind::Slider:
            return static_cast<QAbstractSlider *>(control->widget.data())->maximum();
        case ControlKind::Progress:
            return static_cast<QProgressBar *>(control->widget.data())->maximum();
        default:
            return control->maximum;
    }
}

namespace {

void SetRange(ControlRef c, std::optional<SInt32> minimum, std::optional<SInt32> maximum) {
    ToolboxGuard([&] {
        auto control = ToolboxControl(c);
        if (!control || !control->widget) return;
        control->settingValue = true;
        QWidget *w = control->widget;
        switch (control->kind) {
            case ControlKind::Slider: {
                auto *slider = static_cast<QAbstractSlider *>(w);
                // A value the new range cuts off is moved into it, as Carbon does.
                if (minimum) slider->setMinimum(*minimum);
                if (maximum) slider->setMaximum(*maximum);
                break;
            }
            case ControlKind::Progress: {
                auto *bar = static_cast<QProgressBar *>(w);
                if (minimum) bar->setMinimum(*minimum);
                if (maximum) bar->setMaximum(*maximum);
                break;
            }
            case ControlKind::Custom:
            case ControlKind::Other:
            case ControlKind::StaticText:
            case ControlKind::EditText: {
                if (minimum) control->minimum = *minimum;
                if (maximum) control->maximum = *maximum;
                if (control->maximum < control->minimum) {
                    if (minimum)
                        control->maximum = control->minimum;
                    else
                        control->minimum = control->maximum;
                }
                SInt32 v = Clamp(control->value, control->minimum, control->maximum);
                bool changed = v != control->value;
                control->value = v;
                if (changed) Redraw(control.get());
                break;
            }
            default:
                break;  // pop-up menus and buttons take their range from their items and kind
        }
        control->settingValue = false;
    });
}

}  // namespace

PLATFORM_API void SetControl32BitMinimum(ControlRef c, SInt32 value) { SetRange(c, value, std::nullopt); }

PLATFORM_API void SetControl32BitMaximum(ControlRef c, SInt32 value) { SetRange(c, std::nullopt, value); }

PLATFORM_API OSErr ShowControl(ControlRef c) {
    return ToolboxGuard<OSErr>(paramErr, [&]() -> OSErr {
        auto control = ToolboxControl(c);
        if (!control || !control->widget) return errUnknownControl;
        bool wasHidden = control->widget->isHidden();
        control->widget->show();
        if (wasHidden && IsCustom(control.get())) Redraw(control.get());
        return noErr;
    });
}

PLATFORM_API OSErr HideControl(ControlRef c) {
    return ToolboxGuard<OSErr>(paramErr, [&]() -> OSErr {
        auto control = ToolboxControl(c);
        if (!control || !control->widget) return errUnknownControl;
        control->widget->hide();
        return noErr;
    });
}

PLATFORM_API Boolean IsControlVisible(ControlRef c) {
    auto control = ToolboxControl(c);
    return control && control->widget && !control->widget->isHidden();
}

PLATFORM_API OSErr SetControlData(ControlRef c, ControlPartCode, ResType tag, Size size, const void *data) {
    auto control = ToolboxControl(c);
    if (!control || !control->widget) return errUnknownControl;
    if (size < 0 || (size > 0 && data == nullptr)) return paramErr;
    if (tag != kControlStaticTextTextTag) return errDataNotSupported;
    try {
        QString text = size > 0 ? MacRomanText(data, size) : QString();
        QWidget *w = control->widget;
        if (auto *label = qobject_cast<QLabel *>(w)) {
            label->setTextFormat(Qt::PlainText);  // a text is never read as markup
            label->setText(text);
        } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            edit->setText(text);
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            button->setText(text);
        } else {
            return errDataNotSupported;
        }
        return noErr;
    } catch (...) {
        return memFullErr;
    }
}

PLATFORM_API OSErr GetControlData(ControlRef c, ControlPartCode, ResType tag, Size bufSize, void *buf,
                                  Size *actualSize) {
    if (actualSize) *actualSize = 0;
    auto control = ToolboxControl(c);
    if (!control || !control->widget) return errUnknownControl;
    if (tag != kControlStaticTextTextTag) return errDataNotSupported;
    if (bufSize < 0 || (bufSize > 0 && buf == nullptr)) return paramErr;
    try {
        QString text;
        QWidget *w = control->widget;
        if (auto *label = qobject_cast<QLabel *>(w))
            text = label->text();
        else if (auto *edit = qobject_cast<QLineEdit *>(w))
            text = edit->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(w))
            text = button->text();
        else
            return errDataNotSupported;
        std::string bytes = ToMacRoman(text);
        if (actualSize) *actualSize = static_cast<Size>(bytes.size());
        if (buf && bufSize > 0)
            std::memcpy(buf, bytes.data(), std::min<size_t>(static_cast<size_t>(bufSize), bytes.size()));
        return noErr;
    } catch (...) {
        return memFullErr;
    }
}

PLATFORM_API void Draw1Control(ControlRef c) {
    ToolboxGuard([&] {
        auto control = ToolboxControl(c);
        if (!control || !control->widget) return;
        if (IsCustom(control.get()))
            Redraw(control.get());
        else if (control->widget->isVisible())
            control->widget->repaint();
    });
}

PLATFORM_API Rect *GetControlBounds(ControlRef c, Rect *bounds) {
    if (bounds == nullptr) return nullptr;
    *bounds = Rect{0, 0, 0, 0};
    auto control = ToolboxControl(c);
    if (!control || !control->widget) return bounds;
    QRect r = ToolboxWindowRect(control->widget);
    auto c16 = [](int v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); };
    // Half-open: right and bottom are one past the last pixel.
    *bounds = Rect{c16(r.top()), c16(r.left()), c16(r.top() + r.height()), c16(r.left() + r.width())};
    return bounds;
}

PLATFORM_API UInt16 GetControlHilite(ControlRef c) {
    auto control = ToolboxControl(c);
    if (!control || !control->widget) return 0;
    if (control->inactive) return kControlInactiveHilite;
    if (control->disabled || !control->widget->isEnabled()) return kControlDisabledPart;
    if (auto *button = qobject_cast<QAbstractButton *>(control->widget.data()); button && button->isDown())
        return kControlButtonPart;
    return control->hilite;
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
        Redraw(control.get());
    });
}

namespace {

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
            if (st == eventNotHandledErr) Redraw(control.get());
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
        Redraw(control.get());
        return noErr;
    });
}

}  // namespace

PLATFORM_API OSStatus ActivateControl(ControlRef c) { return SetActive(c, true); }

PLATFORM_API OSStatus DeactivateControl(ControlRef c) { return SetActive(c, false); }

PLATFORM_API OSStatus EnableControl(ControlRef c) { return SetEnabled(c, true); }

PLATFORM_API OSStatus DisableControl(ControlRef c) { return SetEnabled(c, false); }

PLATFORM_API WindowRef GetControlOwner(ControlRef c) {
    auto control = ToolboxControl(c);
    return control ? control->owner : nullptr;
}

PLATFORM_API OSStatus GetControlCommandID(ControlRef c, UInt32 *outCommandID) {
    if (outCommandID == nullptr) return paramErr;
    *outCommandID = 0;
    auto control = ToolboxControl(c);
    if (!control) return errUnknownControl;
    *outCommandID = control->command;
    return noErr;
}

PLATFORM_API OSStatus SetControlCommandID(ControlRef c, UInt32 commandID) {
    auto control = ToolboxControl(c);
    if (!control) return errUnknownControl;
    control->command = commandID;
    return noErr;
}

PLATFORM_API ControlActionUPP NewControlActionUPP(ControlActionProcPtr proc) { return proc; }

PLATFORM_API void DisposeControlActionUPP(ControlActionUPP) {}

PLATFORM_API void SetControlAction(ControlRef c, ControlActionUPP action) {
    if (auto control = ToolboxControl(c)) control->action = action;
}

PLATFORM_API OSStatus RegisterToolboxObjectClass(CFStringRef classID, ToolboxObjectClassRef, ItemCount numEvents,
                                                 const EventTypeSpec *events, EventHandlerUPP handler, void *userData,
                                                 ToolboxObjectClassRef *outClassRef) {
    if (outClassRef) *outClassRef = nullptr;
    if (classID == nullptr || (numEvents > 0 && events == nullptr) || numEvents > 4096) return paramErr;
    try {
        std::string identifier = ToolboxString(classID);
        if (identifier.empty()) return paramErr;
        if (Classes().count(identifier)) return toolboxObjectClassExistsErr;
        auto cls = std::make_shared<ToolboxClass>();
        cls->identifier = identifier;
        cls->handler = std::make_shared<OpaqueEventHandlerRef>();
        cls->handler->proc = handler;
        cls->handler->userData = userData;
        cls->handler->types.assign(events, events + numEvents);
        Classes()[identifier] = cls;
        if (outClassRef) *outClassRef = reinterpret_cast<ToolboxObjectClassRef>(cls.get());
        return noErr;
    } catch (...) {
        return memFullErr;
    }
}

PLATFORM_API OSStatus UnregisterToolboxObjectClass(ToolboxObjectClassRef classRef) {
    for (auto it = Classes().begin(); it != Classes().end(); ++it) {
        if (reinterpret_cast<ToolboxObjectClassRef>(it->second.get()) == classRef) {
            // Controls made from it stay, inert: the handler may be unloaded.
            it->second->registered = false;
            Classes().erase(it);
            return noErr;
        }
    }
    return paramErr;
}

PLATFORM_API OSStatus TrackMouseLocation(GrafPtr port, Point *outPt, MouseTrackingResult *outResult) {
    // Whatever happens, a caller looping until mouse-up gets out of its loop.
    if (outResult) *outResult = kMouseTrackingMouseUp;
    if (outPt == nullptr || outResult == nullptr) return paramErr;
    if (!ToolboxHasApplication()) return errNoWindowSystem;
    try {
        std::optional<TrackScope> own;
        if (gTrack == nullptr) {
            // Outside a track event: follow the mouse in the port's window.
            if (port == nullptr) GetPort(&port);
            auto window = ToolboxWindow(ToolboxWindowOfPort(port));
            own.emplace(window.get(), Point{0, 0});
        }
        TrackSession &session = *gTrack;
        while (session.queue.empty() && !session.cancelled) {
            if (session.window && (!session.window->widget || !session.window->widget->isVisible()))
                session.cancelled = true;
            else {
                QEventLoop loop;
                session.waiting = &loop;
                loop.exec();
                session.waiting = nullptr;
            }
        }
        if (session.queue.empty()) {
            *outPt = session.last;
            *outResult = kMouseTrackingMouseUp;
            return noErr;
        }
        TrackStep step = session.queue.front();
        session.queue.pop_front();
        *outPt = step.where;
        *outResult = step.result;
        return noErr;
    } catch (...) {
        return memFullErr;
    }
}

}  // extern "C"
