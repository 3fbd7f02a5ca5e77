/*
 * Carbon events on plain records: parameters are typed byte strings, handler
 * stacks live on targets, and a send walks the chain built when it starts, so
 * handlers removed or targets disposed while it runs cannot be called.
 */
#include "ToolboxEvents.h"
#include "ToolboxGuard.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace {

std::set<OpaqueEventHandlerRef *> &LiveHandlers() {
    static std::set<OpaqueEventHandlerRef *> handlers;
    return handlers;
}

std::set<OpaqueEventRef *> &LiveEvents() {
    static std::set<OpaqueEventRef *> events;
    return events;
}

bool IsLiveEvent(EventRef e) { return e != nullptr && LiveEvents().count(e) != 0; }

/* One step of a send: a handler, or the default handling of one target. */
struct ChainStep {
    std::shared_ptr<OpaqueEventHandlerRef> handler;
    std::function<OSStatus(EventRef)> fallback;
};

struct Chain {
    std::vector<ChainStep> steps;
    std::vector<std::shared_ptr<void>> keepAlive;
};

}  // namespace

struct OpaqueEventHandlerCallRef {
    Chain *chain;
    size_t index;
    bool calledNext = false;
};

namespace {

OSStatus RunChain(Chain &chain, size_t from, EventRef event) {
    for (size_t i = from; i < chain.steps.size(); ++i) {
        ChainStep &step = chain.steps[i];
        OSStatus status = eventNotHandledErr;
        if (step.handler) {
            const auto &h = *step.handler;
            if (h.removed || h.proc == nullptr || !h.Handles(event->eventClass, event->kind)) continue;
            OpaqueEventHandlerCallRef call{&chain, i};
            status = h.proc(&call, event, h.userData);
            // The handler passed the event on itself: what follows has run.
            if (call.calledNext) return status;
        } else if (step.fallback) {
            status = step.fallback(event);
        }
        if (status != eventNotHandledErr) return status;
    }
    return eventNotHandledErr;
}

void BuildChain(Chain &chain, OpaqueEventTargetRef *target) {
    // The depth guard keeps a target cycle from looping for ever.
    for (int depth = 0; target != nullptr && depth < 16; ++depth) {
        if (target->keepAlive) chain.keepAlive.push_back(target->keepAlive());
        for (auto it = target->handlers.rbegin(); it != target->handlers.rend(); ++it) chain.steps.push_back({*it, {}});
        if (target->classHandler) {
            if (auto cls = target->classHandler()) chain.steps.push_back({std::move(cls), {}});
        }
        if (target->defaultHandling) chain.steps.push_back({nullptr, target->defaultHandling});
        target = target->parent ? target->parent() : nullptr;
    }
}

OpaqueEventTargetRef &ApplicationTarget() {
    static OpaqueEventTargetRef app;
    return app;
}

}  // namespace

bool OpaqueEventHandlerRef::Handles(UInt32 eventClass, UInt32 kind) const {
    return std::any_of(types.begin(), types.end(),
                       [&](const EventTypeSpec &t) { return t.eventClass == eventClass && t.eventKind == kind; });
}

OpaqueEventTargetRef::~OpaqueEventTargetRef() {
    for (auto &h : handlers) {
        h->removed = true;
        h->target = nullptr;
        LiveHandlers().erase(h.get());
    }
}

std::shared_ptr<OpaqueEventTargetRef> ToolboxNewEventTarget() {
    auto target = std::make_shared<OpaqueEventTargetRef>();
    target->parent = [] { return &ApplicationTarget(); };
    return target;
}

void ToolboxEventDeleter::operator()(OpaqueEventRef *e) const { ReleaseEvent(e); }

ToolboxEventPtr ToolboxMakeEvent(UInt32 eventClass, UInt32 kind) {
    EventRef e = nullptr;
    CreateEvent(nullptr, eventClass, kind, 0, 0, &e);
    return ToolboxEventPtr(e);
}

OSStatus ToolboxSendCommand(EventTargetRef target, UInt32 commandID) {
    auto event = ToolboxMakeEvent(kEventClassCommand, kEventCommandProcess);
    if (!event) return memFullErr;
    HICommand command{};
    command.commandID = commandID;
    ToolboxSetParam(event.get(), kEventParamDirectObject, typeHICommand, command);
    return SendEventToEventTarget(event.get(), target);
}

namespace {

/* Integer parameter types that convert into one another, as Carbon's
 * coercion does for them. */
bool IntegerType(EventParamType t, size_t &size, bool &isSigned) {
    switch (t) {
        case typeSInt16:
            size = 2;
            isSigned = true;
            return true;
        case typeControlPartCode:
            size = 2;
            isSigned = true;
            return true;
        case typeSInt32:
            size = 4;
            isSigned = true;
            return true;
        case typeUInt32:
            size = 4;
            isSigned = false;
            return true;
        default:
            return false;
    }
}

bool CoerceInteger(const OpaqueEventRef::Param &p, EventParamType desired, std::vector<uint8_t> &out) {
    size_t fromSize = 0, toSize = 0;
    bool fromSigned = false, toSigned = false;
    if (!IntegerType(p.type, fromSize, fromSigned) || !IntegerType(desired, toSize, toSigned) ||
        p.data.size() != fromSize)
        return false;
    int64_t v = 0;
    if (fromSize == 2) {
        int16_t s;
        std::memcpy(&s, p.data.data(), 2);
        v = s;
    } else if (fromSigned) {
        int32_t s;
        std::memcpy(&s, p.data.data(), 4);
        v = s;
    } else {
        uint32_t u;
        std::memcpy(&u, p.data.data(), 4);
        v = u;
    }
    out.resize(toSize);
    if (toSize == 2) {
        auto s = static_cast<int16_t>(v);
        std::memcpy(out.data(), &s, 2);
    } else {
        auto u = static_cast<uint32_t>(v);
        std::memcpy(out.data(), &u, 4);
    }
    return true;
}

}  // namespace

extern "C" {

PLATFORM_API EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr proc) { return proc; }

PLATFORM_API void DisposeEventHandlerUPP(EventHandlerUPP) {}

PLATFORM_API EventTargetRef GetApplicationEventTarget(void) { return &ApplicationTarget(); }

PLATFORM_API OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount numTypes,
                                          const EventTypeSpec *list, void *userData, EventHandlerRef *outRef) {
    if (outRef) *outRef = nullptr;
    if (target == nullptr || handler == nullptr || (numTypes > 0 && list == nullptr) || numTypes > 4096)
        return paramErr;
    return ToolboxGuard<OSStatus>(memFullErr, [&]() -> OSStatus {
        auto h = std::make_shared<OpaqueEventHandlerRef>();
        h->target = target;
        h->proc = handler;
        h->userData = userData;
        h->types.assign(list, list + numTypes);
        target->handlers.push_back(h);
        LiveHandlers().insert(h.get());
        if (outRef) *outRef = h.get();
        return noErr;
    });
}

PLATFORM_API OSStatus RemoveEventHandler(EventHandlerRef ref) {
    if (ref == nullptr || LiveHandlers().count(ref) == 0) return paramErr;
    LiveHandlers().erase(ref);
    ref->removed = true;
    if (OpaqueEventTargetRef *target = ref->target) {
        auto &hs = target->handlers;
        hs.erase(std::remove_if(hs.begin(), hs.end(), [ref](const auto &h) { return h.get() == ref; }), hs.end());
    }
    return noErr;
}

PLATFORM_API OSStatus CallNextEventHandler(EventHandlerCallRef next, EventRef event) {
    if (next == nullptr || next->chain == nullptr || !IsLiveEvent(event)) return paramErr;
    next->calledNext = true;
    return ToolboxGuard<OSStatus>(paramErr,
                                  [&]() -> OSStatus { return RunChain(*next->chain, next->index + 1, event); });
}

PLATFORM_API OSStatus CreateEvent(CFAllocatorRef, UInt32 eventClass, UInt32 kind, EventTime when, EventAttributes,
                                  EventRef *outEvent) {
    if (outEvent == nullptr) return paramErr;
    *outEvent = nullptr;
    return ToolboxGuard<OSStatus>(memFullErr, [&]() -> OSStatus {
        auto *e = new OpaqueEventRef;
        e->eventClass = eventClass;
        e->kind = kind;
        e->when = when;
        LiveEvents().insert(e);
        *outEvent = e;
        return noErr;
    });
}

PLATFORM_API EventRef RetainEvent(EventRef event) {
    if (IsLiveEvent(event)) ++event->refCount;
    return event;
}

PLATFORM_API void ReleaseEvent(EventRef event) {
    if (!IsLiveEvent(event)) return;
    if (--event->refCount <= 0) {
        LiveEvents().erase(event);
        delete event;
    }
}

PLATFORM_API OSStatus SendEventToEventTarget(EventRef event, EventTargetRef target) {
    if (!IsLiveEvent(event) || target == nullptr) return paramErr;
    return ToolboxGuard<OSStatus>(paramErr, [&]() -> OSStatus {
        // The event lives until the chain is done with it, however that ends.
        ToolboxEventPtr held(RetainEvent(event));
        Chain chain;
        BuildChain(chain, target);
        return RunChain(chain, 0, event);
    });
}

PLATFORM_API UInt32 GetEventClass(EventRef event) { return IsLiveEvent(event) ? event->eventClass : 0; }

PLATFORM_API UInt32 GetEventKind(EventRef event) { return IsLiveEvent(event) ? event->kind : 0; }

PLATFORM_API OSStatus GetEventParameter(EventRef event, EventParamName name, EventParamType desiredType,
                                        EventParamType *outActualType, ByteCount bufferSize, ByteCount *outActualSize,
                                        void *outData) {
    if (!IsLiveEvent(event)) return paramErr;
    return ToolboxGuard<OSStatus>(memFullErr, [&]() -> OSStatus {
        auto it = event->params.find(name);
        if (it == event->params.end()) return eventParameterNotFoundErr;
        const OpaqueEventRef::Param &p = it->second;
        std::vector<uint8_t> coerced;
        const std::vector<uint8_t> *data = &p.data;
        EventParamType actual = p.type;
        if (desiredType != typeWildCard && desiredType != p.type) {
            if (!CoerceInteger(p, desiredType, coerced)) return errAECoercionFail;
            data = &coerced;
            actual = desiredType;
        }
        if (outActualType) *outActualType = actual;
        if (outActualSize) *outActualSize = data->size();
        // Like Carbon, a short buffer receives what fits.
        if (outData && bufferSize > 0 && !data->empty())
            std::memcpy(outData, data->data(), std::min<size_t>(bufferSize, data->size()));
        return noErr;
    });
}

PLATFORM_API OSStatus SetEventParameter(EventRef event, EventParamName name, EventParamType type, ByteCount size,
                                        const void *data) {
    if (!IsLiveEvent(event) || (size > 0 && data == nullptr) || size > (1u << 24)) return paramErr;
    return ToolboxGuard<OSStatus>(memFullErr, [&]() -> OSStatus {
        auto bytes = static_cast<const uint8_t *>(data);
        event->params[name] = OpaqueEventRef::Param{type, std::vector<uint8_t>(bytes, bytes + size)};
        return noErr;
    });
}

}  // extern "C"
