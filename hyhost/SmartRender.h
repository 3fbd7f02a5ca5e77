// Smart render: an H.264 clip whose groups of pictures (GOPs) are closed is
// written by copying the packets of every GOP that lies wholly outside the
// selection and re-encoding only the GOPs the selection touches, with the
// encoder set to match the source stream so the result plays as one stream.
// The other streams are copied as they are.
#pragma once

#include "PluginHost.h"
#include "Render.h"

#include <cstdint>
#include <string>

// What a smart render needs from the render that was set up for the clip:
// the selection, and the plug-in ready for its render cycle.
struct SmartJob {
    const RenderRequest &request;
    ClipDecoder &clip;
    int64_t start = 0, count = 0;  // the selection, in frames
    LoadedPlugin &plugin;
    HostSession &session;
    HYPluginParams &params;
    GWorldPtr outWorld = nullptr;  // the plug-in's frame, the clip's size
};

// Renders the request smartly when the clip and request allow it (and the
// request does not say --no-smart), saying how many frames were copied and
// re-encoded. True when it rendered or failed (`out` says which); false when
// the whole clip must be re-encoded instead, after saying why if --smart
// asked for it. Nothing is written when it returns false.
bool RunSmartRender(SmartJob &job, RenderOutcome &out);
