/*
 * Registries of the live windows and controls, and helpers shared by the
 * toolbox modules.
 */
#include "ToolboxObjects.h"

#include "quickdraw/GrafPortPrivate.h"

#include <QApplication>
#include <QThread>

#include <map>

namespace {

std::map<OpaqueWindowPtr *, std::shared_ptr<OpaqueWindowPtr>> &Windows() {
    static std::map<OpaqueWindowPtr *, std::shared_ptr<OpaqueWindowPtr>> windows;
    return windows;
}

}  // namespace

OpaqueWindowPtr::~OpaqueWindowPtr() = default;

bool ToolboxHasApplication() {
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    return app != nullptr && QThread::currentThread() == app->thread();
}

std::shared_ptr<OpaqueWindowPtr> ToolboxWindow(WindowRef w) {
    auto it = Windows().find(w);
    if (it == Windows().end() || it->second->disposed) return nullptr;
    return it->second;
}

std::shared_ptr<OpaqueControlRef> ToolboxControl(ControlRef c) {
    if (c == nullptr) return nullptr;
    // A control is live while its window is; its record is found there, so a
    // pointer that merely looks like a control is never followed.
    for (auto &[ptr, window] : Windows()) {
        if (window->disposed) continue;
        for (auto &control : window->controls)
            if (control.get() == c) return control;
    }
    return nullptr;
}

void ToolboxRegisterWindow(std::shared_ptr<OpaqueWindowPtr> w) {
    OpaqueWindowPtr *key = w.get();
    Windows()[key] = std::move(w);
}

void ToolboxUnregisterWindow(WindowRef w) { Windows().erase(w); }

WindowRef ToolboxWindowOfPort(GrafPtr port) {
    if (port == nullptr) return nullptr;
    for (auto &[ptr, window] : Windows())
        if (!window->disposed && window->port == port) return ptr;
    return nullptr;
}

QRect ToolboxWindowRect(const QWidget *w) {
    if (w == nullptr) return {};
    const QWidget *top = w->window();
    QPoint origin = (w == top) ? QPoint(0, 0) : w->mapTo(top, QPoint(0, 0));
    return QRect(origin, w->size());
}

std::string ToolboxString(CFStringRef s) {
    if (s == nullptr) return {};
    if (const char *p = CFStringGetCStringPtr(s, kCFStringEncodingUTF8)) return p;
    CFIndex length = CFStringGetLength(s);
    if (length <= 0 || length > (1 << 20)) return {};
    std::string buf(static_cast<size_t>(length) * 4 + 1, '\0');
    if (!CFStringGetCString(s, buf.data(), static_cast<CFIndex>(buf.size()), kCFStringEncodingUTF8)) return {};
    buf.resize(std::char_traits<char>::length(buf.c_str()));
    return buf;
}

UInt32 ToolboxModifiers(Qt::KeyboardModifiers m) {
    UInt32 bits = 0;
    if (m & Qt::ShiftModifier) bits |= shiftKey;
    if (m & Qt::AltModifier) bits |= optionKey;
    // Qt names the Mac command key Control; the Mac control key is Meta.
    if (m & Qt::ControlModifier) bits |= cmdKey;
    if (m & Qt::MetaModifier) bits |= controlKey;
    return bits;
}

OSType ToolboxFourCC(const QVariant &v) {
    QByteArray bytes = v.toString().toLatin1();
    if (bytes.size() != 4) return 0;
    return PLATFORM_FOURCC(bytes[0], bytes[1], bytes[2], bytes[3]);
}

ToolboxBusy::ToolboxBusy(std::shared_ptr<OpaqueWindowPtr> w) : window(std::move(w)) {
    if (window) ++window->busy;
}

ToolboxBusy::~ToolboxBusy() {
    if (window) --window->busy;
}
