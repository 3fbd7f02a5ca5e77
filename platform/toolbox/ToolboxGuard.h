/*
 * The one exception guard of the toolbox: every call exported with C linkage,
 * and every callback Qt or the core calls into, runs its body through it, so
 * that no exception crosses the C boundary or unwinds through Qt. A failure
 * gives the call's neutral result. Internal to the platform library; no Qt.
 */
#ifndef PLATFORM_TOOLBOX_GUARD_H
#define PLATFORM_TOOLBOX_GUARD_H

template <typename R, typename F>
R ToolboxGuard(R fallback, F &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

template <typename F>
void ToolboxGuard(F &&body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

#endif
