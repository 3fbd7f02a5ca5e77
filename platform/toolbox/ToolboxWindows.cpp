/*
 * Windows from nibs (folders of Qt Designer files), their ports, the keys and
 * close box that become commands, and application-modal loops.
 */
#include "ToolboxObjects.h"

#include "quickdraw/GrafPortPrivate.h"

#include <QAbstractButton>
#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLayout>
#include <QUiLoader>

#include <algorithm>
#include <cstring>

struct OpaqueIBNibRef {
    QString directory; /* .../Contents/Resources/NAME.nib */
};

namespace {

struct ModalFrame {
    OpaqueWindowPtr *window;
    QEventLoop *loop;
};

std::vector<ModalFrame> &ModalStack() {
    static std::vector<ModalFrame> stack;
    return stack;
}

/* Names of nibs and windows are single path components. */
bool SafeName(const QString &name) {
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\\') &&
           !name.contains(QChar(0));
}

std::shared_ptr<OpaqueWindowPtr> WindowOfWidget(const QWidget *top) {
    if (top == nullptr) return nullptr;
    QVariant v = top->property("_toolboxWindow");
    return v.isValid() ? ToolboxWindow(static_cast<WindowRef>(v.value<void *>())) : nullptr;
}

bool InModalLoop(const OpaqueWindowPtr *w) {
    return std::any_of(ModalStack().begin(), ModalStack().end(), [w](const ModalFrame &f) { return f.window == w; });
}

/* Return and Escape anywhere in one of our windows become the OK and Cancel
 * commands of that window, before the focused widget or a QDialog sees them. */
class KeyFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *receiver, QEvent *event) override {
        if (event->type() != QEvent::KeyPress || !receiver->isWidgetType()) return false;
        auto *key = static_cast<QKeyEvent *>(event);
        UInt32 command = 0;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            command = kHICommandOK;
        else if (key->key() == Qt::Key_Escape)
            command = kHICommandCancel;
        else
            return false;
        auto window = WindowOfWidget(static_cast<QWidget *>(receiver)->window());
        if (!window) return false;
        // As the button it stands for: nothing while that button is disabled.
        for (auto &c : window->controls)
            if (c->command == command && c->widget && qobject_cast<QAbstractButton *>(c->widget) &&
                !c->widget->isEnabled())
                return true;
        ToolboxBusy busy(window);
        ToolboxSendCommand(window->target.get(), command);
        return true;
    }
};

/* The close box of a window asks for Cancel. The window stays when that
 * command is handled or the window runs a modal loop (hidden, it could never
 * end that loop). */
class WindowFilter : public QObject {
public:
    explicit WindowFilter(OpaqueWindowPtr *w) : window(w) {}
    bool eventFilter(QObject *receiver, QEvent *event) override {
        if (event->type() != QEvent::Close || receiver != window->widget || window->disposed) return false;
        auto live = ToolboxWindow(window);
        if (!live) return false;
        OSStatus status;
        {
            ToolboxBusy busy(live);
            status = ToolboxSendCommand(live->target.get(), kHICommandCancel);
        }
        // A window nobody asked to stay may close like any other.
        if (status == eventNotHandledErr && !InModalLoop(window)) return false;
        event->ignore();
        return true;
    }

private:
    OpaqueWindowPtr *window;
};

/* A window destroyed by another program (xdotool windowclose, a task
 * manager) is gone from the screen, but Qt keeps its widget as it was: a
 * modal loop would wait for ever. It is taken as the close box, so the
 * dialog ends as Cancel. */
class DestroyedWindowFilter : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override {
        constexpr uint8_t kXcbDestroyNotify = 17;
        if (eventType != "xcb_generic_event_t" || message == nullptr) return false;
        const auto *bytes = static_cast<const uint8_t *>(message);
        if ((bytes[0] & 0x7F) != kXcbDestroyNotify) return false;
        uint32_t destroyed = 0; /* xcb_destroy_notify_event_t.window */
        std::memcpy(&destroyed, bytes + 8, sizeof destroyed);
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->internalWinId() == destroyed && WindowOfWidget(top))
                QCoreApplication::postEvent(top, new QCloseEvent);
        return false;
    }
};

void InstallKeyFilter() {
    static QPointer<QObject> filter;
    if (filter && filter->parent() == QCoreApplication::instance()) return;
    filter = new KeyFilter(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(filter);
    static DestroyedWindowFilter destroyedFilter;
    QCoreApplication::instance()->installNativeEventFilter(&destroyedFilter);
}

void PortChanged(GrafPort *, const Rect *area, void *context) {
    auto window = ToolboxWindow(static_cast<WindowRef>(context));
    if (!window || area == nullptr) return;
    ToolboxPortChanged(window.get(), QRect(area->left, area->top, area->right - area->left, area->bottom - area->top));
}

/* A picture the size of the window's content, filled with its background. */
GWorldPtr MakeWindowPort(OpaqueWindowPtr *w) {
    QSize size = w->widget->size();
    int width = std::clamp(size.width(), 1, 32767);
    int height = std::clamp(size.height(), 1, 32767);
    Rect bounds{0, 0, static_cast<int16_t>(height), static_cast<int16_t>(width)};
    GWorldPtr port = nullptr;
    if (NewGWorld(&port, 32, &bounds, nullptr, nullptr, 0) != noErr || port == nullptr) return nullptr;
    const PixMap &pm = port->pixMap;
    if (pm.baseAddr != nullptr && pm.rowBytes >= 4 * width) {
        QColor bg = w->widget->palette().color(QPalette::Window);
        for (int y = 0; y < height; ++y) {
            auto *row = reinterpret_cast<uint8_t *>(pm.baseAddr) + static_cast<ptrdiff_t>(y) * pm.rowBytes;
            for (int x = 0; x < width; ++x) {
                row[4 * x] = 0xFF;
                row[4 * x + 1] = static_cast<uint8_t>(bg.red());
                row[4 * x + 2] = static_cast<uint8_t>(bg.green());
                row[4 * x + 3] = static_cast<uint8_t>(bg.blue());
            }
        }
    }
    port->owner = w;
    port->onChanged = PortChanged;
    port->onChangedContext = w;
    return port;
}

void ReleasePort(OpaqueWindowPtr *w) {
    if (w->port == nullptr) return;
    w->port->onChanged = nullptr;
    w->port->onChangedContext = nullptr;
    w->port->owner = nullptr;
    // Nothing may go on drawing into a picture that is about to be freed.
    GrafPtr current = nullptr;
    GetPort(&current);
    if (current == w->port) SetPort(nullptr);
    DisposeGWorld(w->port);
    w->port = nullptr;
}

void DrawCustomControls(OpaqueWindowPtr *w) {
    auto controls = w->controls;  // a handler may change the list
    for (auto &c : controls)
        if (c->kind == ControlKind::Custom && c->widget && !c->widget->isHidden())
            ToolboxSendControlEvent(c.get(), kEventControlDraw);
}

}  // namespace

extern "C" {

PLATFORM_API OSStatus CreateNibReferenceWithCFBundle(CFBundleRef bundle, CFStringRef nibName, IBNibRef *outNib) {
    if (outNib == nullptr) return paramErr;
    *outNib = nullptr;
    return ToolboxGuard<OSStatus>(memFullErr, [&]() -> OSStatus {
        QString name = QString::fromStdString(ToolboxString(nibName));
        if (bundle == nullptr || !SafeName(name)) return paramErr;
        CFURLRef resources = CFBundleCopyResourcesDirectoryURL(bundle);
        if (resources == nullptr) return kIBCarbonRuntimeCantFindNibFile;
        std::string path(4096, '\0');
        bool ok = CFURLGetFileSystemRepresentation(resources, true, reinterpret_cast<UInt8 *>(path.data()),
                                                   static_cast<CFIndex>(path.size()));
        CFRelease(resources);
        if (!ok) return kIBCarbonRuntimeCantFindNibFile;
        path.resize(std::strlen(path.c_str()));
        QString directory = QString::fromStdString(path) + "/" + name + ".nib";
        if (!QFileInfo(directory).isDir()) return kIBCarbonRuntimeCantFindNibFile;
        *outNib = new OpaqueIBNibRef{directory};
        return noErr;
    });
}

PLATFORM_API void DisposeNibReference(IBNibRef nib) { delete nib; }

PLATFORM_API OSStatus CreateWindowFromNib(IBNibRef nib, CFStringRef windowName, WindowRef *outWindow) {
    if (outWindow == nullptr) return paramErr;
    *outWindow = nullptr;
    return ToolboxGuard<OSStatus>(memFullErr, [&]() -> OSStatus {
        QString name = QString::fromStdString(ToolboxString(windowName));
        if (nib == nullptr || !SafeName(name)) return paramErr;
        QFile file(nib->directory + "/" + name + ".ui");
        if (!file.exists()) return kIBCarbonRuntimeCantFindObject;
        if (!ToolboxHasApplication()) return errNoWindowSystem;
        if (!file.open(QIODevice::ReadOnly)) return kIBCarbonRuntimeCantFindObject;
        QUiLoader loader;
        loader.setWorkingDirectory(QDir(nib->directory));
        QWidget *widget = loader.load(&file, nullptr);
        if (widget == nullptr) return kIBCarbonRuntimeObjectNotOfRequestedType;
        widget->setAttribute(Qt::WA_DeleteOnClose, false);
        // Controls have their window positions before the window is shown,
        // so the caller can draw into them at once.
        widget->ensurePolished();
        if (widget->layout()) widget->layout()->activate();

        auto window = std::make_shared<OpaqueWindowPtr>();
        OpaqueWindowPtr *raw = window.get();
        window->widget = widget;
        window->target = ToolboxNewEventTarget();
        window->target->keepAlive = [raw]() -> std::shared_ptr<void> { return ToolboxWindow(raw); };
        widget->setProperty("_toolboxWindow", QVariant::fromValue<void *>(raw));
        window->port = MakeWindowPort(raw);
        window->filter = std::make_unique<WindowFilter>(raw);
        widget->installEventFilter(window->filter.get());
        ToolboxRegisterWindow(window);
        InstallKeyFilter();

        for (QWidget *child : widget->findChildren<QWidget *>()) {
            if (!child->property("controlSignature").isValid() && !child->property("command").isValid() &&
                !child->property("toolboxClass").isValid())
                continue;
            window->controls.push_back(ToolboxMakeControl(raw, child));
        }
        // Custom controls learn their window as Carbon tells them on embedding.
        auto controls = window->controls;
        for (auto &c : controls)
            if (c->kind == ControlKind::Custom) ToolboxSendControlEvent(c.get(), kEventControlOwningWindowChanged);
        *outWindow = raw;
        return noErr;
    });
}

PLATFORM_API void ShowWindow(WindowRef w) {
    ToolboxGuard([&] {
        auto window = ToolboxWindow(w);
        if (!window || !window->widget) return;
        DrawCustomControls(window.get());
        window->widget->show();
    });
}

PLATFORM_API void HideWindow(WindowRef w) {
    ToolboxGuard([&] {
        auto window = ToolboxWindow(w);
        if (window && window->widget) window->widget->hide();
    });
}

PLATFORM_API void BringToFront(WindowRef w) {
    ToolboxGuard([&] {
        auto window = ToolboxWindow(w);
        if (!window || !window->widget) return;
        window->widget->raise();
        window->widget->activateWindow();
    });
}

PLATFORM_API void DisposeWindow(WindowRef w) {
    ToolboxGuard([&] {
        auto window = ToolboxWindow(w);
        if (!window) return;
        window->disposed = true;
        ToolboxCancelTracking(window.get());
        for (auto &frame : ModalStack())
            if (frame.window == window.get()) frame.loop->exit(0);
        ReleasePort(window.get());
        if (QWidget *widget = window->widget) {
            widget->removeEventFilter(window->filter.get());
            widget->setProperty("_toolboxWindow", QVariant());
            widget->hide();
            // Deleting the widget from inside one of its own signals would pull
            // it from under Qt; then it goes when control is back in the loop.
            if (window->busy > 0)
                widget->deleteLater();
            else
                delete widget;
        }
        for (auto &c : window->controls) c->target.reset();  // their handlers go with them
        window->target.reset();
        ToolboxUnregisterWindow(w);
    });
}

PLATFORM_API CGrafPtr GetWindowPort(WindowRef w) {
    auto window = ToolboxWindow(w);
    return window ? window->port : nullptr;
}

PLATFORM_API void SetPortWindowPort(WindowRef w) {
    auto window = ToolboxWindow(w);
    if (window && window->port) SetPort(window->port);
}

PLATFORM_API EventTargetRef GetWindowEventTarget(WindowRef w) {
    auto window = ToolboxWindow(w);
    return window ? window->target.get() : nullptr;
}

PLATFORM_API OSStatus RunAppModalLoopForWindow(WindowRef w) {
    auto window = ToolboxWindow(w);
    if (!window || !window->widget) return errInvalidWindowRef;
    if (!ToolboxHasApplication()) return errNoWindowSystem;
    for (auto &frame : ModalStack())
        if (frame.window == window.get()) return paramErr;  // already running a loop of its own
    return ToolboxGuard<OSStatus>(memFullErr, [&]() -> OSStatus {
        QWidget *widget = window->widget;
        Qt::WindowModality before = widget->windowModality();
        if (before != Qt::ApplicationModal) {
            // Qt applies a modality change only when the window is shown anew.
            bool visible = widget->isVisible();
            if (visible) widget->hide();
            widget->setWindowModality(Qt::ApplicationModal);
            if (visible) widget->show();
        }
        // A hidden window could never end its loop.
        if (!widget->isVisible()) ShowWindow(w);
        QEventLoop loop;
        {
            // The frame names a loop on this stack: it goes with the loop,
            // however the loop ends, or a later Quit would follow it.
            ModalStack().push_back({window.get(), &loop});
            struct FrameGone {
                QEventLoop *loop;
                ~FrameGone() {
                    auto &stack = ModalStack();
                    stack.erase(std::remove_if(stack.begin(), stack.end(),
                                               [this](const ModalFrame &f) { return f.loop == loop; }),
                                stack.end());
                }
            } gone{&loop};
            loop.exec();
        }
        if (window->widget && !window->disposed && before != Qt::ApplicationModal) {
            QWidget *again = window->widget;
            bool visible = again->isVisible();
            if (visible) again->hide();
            again->setWindowModality(before);
            if (visible) again->show();
        }
        return noErr;
    });
}

PLATFORM_API OSStatus QuitAppModalLoopForWindow(WindowRef w) {
    auto window = ToolboxWindow(w);
    if (!window) return errInvalidWindowRef;
    for (auto &frame : ModalStack()) {
        if (frame.window == window.get()) {
            // An inner loop still running keeps this one waiting until it ends.
            frame.loop->exit(0);
            return noErr;
        }
    }
    return errWindowNotFound;
}

}  // extern "C"
