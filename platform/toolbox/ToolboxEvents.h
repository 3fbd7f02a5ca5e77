/*
 * Carbon events: event records with typed parameters, event targets with
 * handler stacks, and dispatch along the target chain (control, its class,
 * its default handling, then the owning window and the application).
 * Internal to the platform library; no Qt here, so events work headless.
 */
#ifndef PLATFORM_TOOLBOX_EVENTS_H
#define PLATFORM_TOOLBOX_EVENTS_H

#include "HIToolbox.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

struct OpaqueEventRef {
    struct Param {
        EventParamType type;
        std::vector<uint8_t> data;
    };
    long refCount = 1;
    UInt32 eventClass = 0;
    UInt32 kind = 0;
    EventTime when = 0;
    std::map<EventParamName, Param> params;
};

struct OpaqueEventTargetRef;

struct OpaqueEventHandlerRef {
    OpaqueEventTargetRef *target = nullptr; /* null for a class handler */
    EventHandlerUPP proc = nullptr;
    void *userData = nullptr;
    std::vector<EventTypeSpec> types;
    bool removed = false;

    bool Handles(UInt32 eventClass, UInt32 kind) const;
};

/* One link of the propagation chain. A target handles an event with its own
 * handlers (last installed first), then its class handler if it has one,
 * then its default handling, and then passes it to its parent. */
struct OpaqueEventTargetRef {
    std::vector<std::shared_ptr<OpaqueEventHandlerRef>> handlers; /* install order */
    std::function<OpaqueEventTargetRef *()> parent;
    std::function<std::shared_ptr<OpaqueEventHandlerRef>()> classHandler;
    /* Returns eventNotHandledErr when it has nothing to do. */
    std::function<OSStatus(EventRef)> defaultHandling;
    /* Keeps the object behind the target alive while an event runs. */
    std::function<std::shared_ptr<void>()> keepAlive;

    OpaqueEventTargetRef() = default;
    OpaqueEventTargetRef(const OpaqueEventTargetRef &) = delete;
    OpaqueEventTargetRef &operator=(const OpaqueEventTargetRef &) = delete;
    ~OpaqueEventTargetRef(); /* its handlers go with it */
};

/* A new target; removes its handlers from the handler registry when the last
 * reference goes. */
std::shared_ptr<OpaqueEventTargetRef> ToolboxNewEventTarget();

/* Makes an event of class/kind with the given parameters set. Released by the
 * unique_ptr's deleter (ReleaseEvent). */
struct ToolboxEventDeleter {
    void operator()(OpaqueEventRef *e) const;
};
using ToolboxEventPtr = std::unique_ptr<OpaqueEventRef, ToolboxEventDeleter>;
ToolboxEventPtr ToolboxMakeEvent(UInt32 eventClass, UInt32 kind);

template <typename T>
void ToolboxSetParam(EventRef e, EventParamName name, EventParamType type, const T &value) {
    SetEventParameter(e, name, type, sizeof(T), &value);
}

/* Sends a command event (kEventClassCommand / kEventCommandProcess) with an
 * HICommand naming commandID to the target. */
OSStatus ToolboxSendCommand(EventTargetRef target, UInt32 commandID);

#endif
