/*
 * Custom controls: plain widgets that name a toolbox class. They show what
 * their class drew into the window's port, and a click on one goes as on
 * Carbon: hit test at mouse-down; for a part other than 0 the track event,
 * whose handler may follow the mouse with TrackMouseLocation; when the click
 * ends inside, the hit event, whose default handling sends the control's
 * command to its window.
 */
#include "ToolboxControlParts.h"

#include "quickdraw/GrafPortPrivate.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QImage>
#include <QPainter>

namespace {

/* The part of the control under the mouse-down, by the class's hit test or,
 * when the class has none, the whole control. */
ControlPartCode HitTest(OpaqueControlRef *c, Point down, QPoint where, UInt32 modifiers) {
    auto test = ToolboxControlEvent(c, kEventControlHitTest);
    if (!test) return kControlNoPart;
    ToolboxSetParam(test.get(), kEventParamMouseLocation, typeQDPoint, down);
    ToolboxSetParam(test.get(), kEventParamKeyModifiers, typeUInt32, modifiers);
    ControlPartCode part = kControlNoPart;
    OSStatus status = ToolboxSendToControl(c, test.get());
    if (status == noErr)
        GetEventParameter(test.get(), kEventParamControlPart, typeControlPartCode, nullptr, sizeof part, nullptr,
                          &part);
    else if (status == eventNotHandledErr)
        part = ToolboxControlBounds(c).contains(where) ? 1 : kControlNoPart;
    return part;
}

/* The mouse went down at where (window coordinates). */
void CustomMouseDown(const std::shared_ptr<OpaqueControlRef> &c, QPoint where, UInt32 modifiers) {
    auto window = ToolboxOwnerOf(c.get());
    if (!window) return;
    ToolboxBusy busy(window);
    Point down = ToolboxPoint(where);
    ControlPartCode part = HitTest(c.get(), down, where, modifiers);
    if (part == kControlNoPart) return;

    auto track = ToolboxControlEvent(c.get(), kEventControlTrack);
    if (!track) return;
    ToolboxSetParam(track.get(), kEventParamMouseLocation, typeQDPoint, down);
    ToolboxSetParam(track.get(), kEventParamKeyModifiers, typeUInt32, modifiers);
    ToolboxSetParam(track.get(), kEventParamControlPart, typeControlPartCode, part);
    OSStatus status = noErr;
    ToolboxTrackOutcome outcome =
        ToolboxTrack(window.get(), down, [&] { status = ToolboxSendToControl(c.get(), track.get()); });
    if (status == noErr)
        GetEventParameter(track.get(), kEventParamControlPart, typeControlPartCode, nullptr, sizeof part, nullptr,
                          &part);
    if (outcome.sawMouseUp) {
        QPoint up(outcome.last.h, outcome.last.v);
        if (part != kControlNoPart && ToolboxControlBounds(c.get()).contains(up) && ToolboxControl(c.get()))
            ToolboxClickEnded(c.get(), part, modifiers);
        return;
    }
    // Nobody followed the mouse: the mouse-up decides when it comes.
    c->pendingPart = part;
    c->pendingModifiers = modifiers;
}

void PaintFromPort(OpaqueControlRef *c, QPaintEvent *paint) {
    QWidget *widget = c->widget;
    auto window = ToolboxOwnerOf(c);
    QPainter painter(widget);
    QRect area = paint->rect();
    painter.fillRect(area, widget->palette().color(QPalette::Window));
    if (!window || window->port == nullptr || window->port->pixMap.baseAddr == nullptr) return;
    const PixMap &pm = window->port->pixMap;
    QRect portRect(0, 0, pm.bounds.right - pm.bounds.left, pm.bounds.bottom - pm.bounds.top);
    QPoint origin = ToolboxWindowRect(widget).topLeft();
    QRect source = area.translated(origin).intersected(portRect);
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

/* The Carbon key code of an arrow key, 0 for any other key. */
UInt32 ArrowKeyCode(int qtKey) {
    switch (qtKey) {
        case Qt::Key_Left:
            return kVK_LeftArrow;
        case Qt::Key_Right:
            return kVK_RightArrow;
        case Qt::Key_Up:
            return kVK_UpArrow;
        case Qt::Key_Down:
            return kVK_DownArrow;
        default:
            return 0;
    }
}

/* A control whose class is still there and that is neither disabled nor inactive. */
bool Usable(OpaqueControlRef &c) { return c.cls && c.cls->registered && GetControlHilite(&c) < kControlDisabledPart; }

/* Arrow keys go to a focused custom control that asked for raw key events;
 * the others, and arrows it leaves, go on to Qt. */
bool ArrowKey(const std::shared_ptr<OpaqueControlRef> &control, QKeyEvent *key) {
    UInt32 code = ArrowKeyCode(key->key());
    if (code == 0 || !Usable(*control)) return false;
    auto event = ToolboxMakeEvent(kEventClassKeyboard, kEventRawKeyDown);
    if (!event) return false;
    ControlRef ref = control.get();
    ToolboxSetParam(event.get(), kEventParamDirectObject, typeControlRef, ref);
    ToolboxSetParam(event.get(), kEventParamKeyCode, typeUInt32, code);
    ToolboxSetParam(event.get(), kEventParamKeyModifiers, typeUInt32, ToolboxModifiers(key->modifiers()));
    if (ToolboxSendToControl(control.get(), event.get()) != noErr) return false;
    key->accept();
    return true;
}

/* Paints a custom control from its window's port and turns its mouse and
 * key events into toolbox events. Owned by the widget. */
class CustomControlFilter : public QObject {
public:
    CustomControlFilter(OpaqueControlRef *control, QObject *parent) : QObject(parent), c(control) {}

    bool eventFilter(QObject *receiver, QEvent *event) override {
        auto control = ToolboxControl(c);
        if (!control || receiver != control->widget) return false;
        // Nothing may unwind through Qt's event delivery.
        return ToolboxGuard(false, [&] { return Handle(control, event); });
    }

private:
    OpaqueControlRef *c;

    QPoint InWindow(QMouseEvent *mouse) const {
        return mouse->position().toPoint() + ToolboxControlBounds(c).topLeft();
    }

    bool Handle(const std::shared_ptr<OpaqueControlRef> &control, QEvent *event) {
        switch (event->type()) {
            case QEvent::Paint:
                PaintFromPort(c, static_cast<QPaintEvent *>(event));
                return true;
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick: {
                auto *mouse = static_cast<QMouseEvent *>(event);
                event->accept();
                if (mouse->button() == Qt::LeftButton && Usable(*control))
                    CustomMouseDown(control, InWindow(mouse), ToolboxModifiers(mouse->modifiers()));
                return true;
            }
            case QEvent::MouseButtonRelease: {
                event->accept();
                ControlPartCode part = control->pendingPart;
                control->pendingPart = 0;
                if (part != kControlNoPart &&
                    ToolboxControlBounds(c).contains(InWindow(static_cast<QMouseEvent *>(event))))
                    ToolboxClickEnded(c, part, control->pendingModifiers);
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
};

}  // namespace

void ToolboxAttachCustomControl(OpaqueControlRef *c, QWidget *widget) {
    c->className = widget->property("toolboxClass").toString().toStdString();
    c->cls = ToolboxFindClass(c->className);
    c->target->classHandler = [c]() -> std::shared_ptr<OpaqueEventHandlerRef> {
        return c->cls && c->cls->registered ? c->cls->handler : nullptr;
    };
    if (widget->property("minimum").isValid()) c->minimum = widget->property("minimum").toInt();
    if (widget->property("maximum").isValid()) c->maximum = widget->property("maximum").toInt();
    c->value = ToolboxClamp(widget->property("value").toInt(), c->minimum, c->maximum);
    widget->setAttribute(Qt::WA_OpaquePaintEvent);
    widget->installEventFilter(new CustomControlFilter(c, widget));
}
