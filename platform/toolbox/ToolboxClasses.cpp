/*
 * Toolbox object classes (the handlers behind custom controls) and the mouse
 * tracking loop their track events run: moves and the mouse-up are taken
 * from Qt's delivery and handed out one by one by TrackMouseLocation.
 */
#include "ToolboxControlParts.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMouseEvent>

#include <deque>
#include <map>

namespace {

std::map<std::string, std::shared_ptr<ToolboxClass>> &Classes() {
    static std::map<std::string, std::shared_ptr<ToolboxClass>> classes;
    return classes;
}

struct TrackStep {
    Point where;
    MouseTrackingResult result;
};

/* Mouse events of one window while a track event runs. */
struct TrackSession {
    OpaqueWindowPtr *window = nullptr; /* null: any of our windows */
    std::deque<TrackStep> queue;
    QEventLoop *waiting = nullptr;
    bool sawMouseUp = false;
    bool cancelled = false;
    Point last{0, 0};
};

TrackSession *gTrack = nullptr;

bool IsTrackedWindow(const QWidget *top) {
    if (gTrack->window != nullptr) return top == gTrack->window->widget;
    return top->property("_toolboxWindow").isValid();
}

class TrackFilter : public QObject {
public:
    bool eventFilter(QObject *receiver, QEvent *event) override {
        if (gTrack == nullptr || gTrack->sawMouseUp || !receiver->isWidgetType()) return false;
        if (event->type() != QEvent::MouseMove && event->type() != QEvent::MouseButtonRelease) return false;
        auto *widget = static_cast<QWidget *>(receiver);
        QWidget *top = widget->window();
        if (!IsTrackedWindow(top)) return false;
        QPoint local = static_cast<QMouseEvent *>(event)->position().toPoint();
        QPoint inWindow = (widget == top) ? local : widget->mapTo(top, local);
        TrackStep step{ToolboxPoint(inWindow), kMouseTrackingMouseDragged};
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

/* Waits for the next step of the session; a session that is cancelled or
 * whose window has gone ends as a mouse-up where the mouse was last. */
TrackStep NextStep(TrackSession &session) {
    while (session.queue.empty() && !session.cancelled) {
        if (session.window && (!session.window->widget || !session.window->widget->isVisible())) {
            session.cancelled = true;
        } else {
            QEventLoop loop;
            session.waiting = &loop;
            loop.exec();
            session.waiting = nullptr;
        }
    }
    if (session.queue.empty()) return TrackStep{session.last, kMouseTrackingMouseUp};
    TrackStep step = session.queue.front();
    session.queue.pop_front();
    return step;
}

}  // namespace

std::shared_ptr<ToolboxClass> ToolboxFindClass(const std::string &identifier) {
    auto it = Classes().find(identifier);
    return it == Classes().end() ? nullptr : it->second;
}

ToolboxTrackOutcome ToolboxTrack(OpaqueWindowPtr *window, Point start, const std::function<void()> &body) {
    TrackScope scope(window, start);
    body();
    // A mouse-up that came while the body ran ends the click, whether or not
    // the body read it; nothing is taken after it.
    return ToolboxTrackOutcome{scope.session.sawMouseUp, scope.session.last};
}

void ToolboxCancelTracking(OpaqueWindowPtr *w) {
    if (gTrack != nullptr && (gTrack->window == w || gTrack->window == nullptr)) {
        gTrack->cancelled = true;
        if (gTrack->waiting) gTrack->waiting->exit(0);
    }
}

extern "C" {

PLATFORM_API OSStatus RegisterToolboxObjectClass(CFStringRef classID, ToolboxObjectClassRef, ItemCount numEvents,
                                                 const EventTypeSpec *events, EventHandlerUPP handler, void *userData,
                                                 ToolboxObjectClassRef *outClassRef) {
    if (outClassRef) *outClassRef = nullptr;
    if (classID == nullptr || (numEvents > 0 && events == nullptr) || numEvents > 4096) return paramErr;
    return ToolboxGuard<OSStatus>(memFullErr, [&]() -> OSStatus {
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
    });
}

PLATFORM_API OSStatus UnregisterToolboxObjectClass(ToolboxObjectClassRef classRef) {
    return ToolboxGuard<OSStatus>(paramErr, [&]() -> OSStatus {
        for (auto it = Classes().begin(); it != Classes().end(); ++it) {
            if (reinterpret_cast<ToolboxObjectClassRef>(it->second.get()) == classRef) {
                // Controls made from it stay, inert: the handler may be unloaded.
                it->second->registered = false;
                Classes().erase(it);
                return noErr;
            }
        }
        return paramErr;
    });
}

PLATFORM_API OSStatus TrackMouseLocation(GrafPtr port, Point *outPt, MouseTrackingResult *outResult) {
    // Whatever happens, a caller looping until mouse-up gets out of its loop.
    if (outResult) *outResult = kMouseTrackingMouseUp;
    if (outPt == nullptr || outResult == nullptr) return paramErr;
    if (!ToolboxHasApplication()) return errNoWindowSystem;
    return ToolboxGuard<OSStatus>(memFullErr, [&]() -> OSStatus {
        std::optional<TrackScope> own;
        if (gTrack == nullptr) {
            // Outside a track event: follow the mouse in the port's window.
            if (port == nullptr) GetPort(&port);
            auto window = ToolboxWindow(ToolboxWindowOfPort(port));
            own.emplace(window.get(), Point{0, 0});
        }
        TrackStep step = NextStep(*gTrack);
        *outPt = step.where;
        *outResult = step.result;
        return noErr;
    });
}

}  // extern "C"
