/*
 * Kelvarin as a frei0r filter: the same configuration record and compositor
 * as the HY plug-in, driven by frei0r parameters instead of the settings
 * dialog and the preferences file. Hosts such as the ffmpeg command and MLT
 * editors animate the parameters, so every frame builds its record afresh.
 *
 * The instance keeps two pictures of the frame's size for its whole life:
 * the incoming frame in the platform's byte order, and the effect drawn from
 * it. Nothing of this layer is allocated per frame.
 */
extern "C" {  // the header declares C functions without saying so
#include <frei0r.h>
}

#include "FrameBytes.h"
#include "config/pascalFX.h"

#include <cmath>
#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

#define KELVARIN_F0R_API extern "C" __attribute__((visibility("default")))

namespace {

enum ParamIndex { kLeft, kTop, kRight, kBottom, kTurn, kFill, kClip, kColor, kAmount, kParamCount };

struct ParamInfo {
    const char *name;
    int type;
    const char *explanation;
};

constexpr ParamInfo kParams[kParamCount] = {
    {"left", F0R_PARAM_DOUBLE, "Left edge of the turned rectangle, as a fraction of the frame width"},
    {"top", F0R_PARAM_DOUBLE, "Top edge of the turned rectangle, as a fraction of the frame height"},
    {"right", F0R_PARAM_DOUBLE, "Right edge of the turned rectangle, as a fraction of the frame width"},
    {"bottom", F0R_PARAM_DOUBLE, "Bottom edge of the turned rectangle, as a fraction of the frame height"},
    {"turn", F0R_PARAM_DOUBLE,
     "Turn as a fraction of a full turn, counter-clockwise (0, 0.25, 0.5, 0.75; others go to the nearest quarter)"},
    {"fill", F0R_PARAM_BOOL, "Fill the frame outside the rectangle with the colour"},
    {"clip", F0R_PARAM_BOOL, "Clip the turned picture to the rectangle"},
    {"color", F0R_PARAM_COLOR, "Fill colour"},
    {"amount", F0R_PARAM_DOUBLE, "How much of the effect is mixed over the frame (1: the effect only)"},
};

struct Instance {
    unsigned width = 0, height = 0;
    double rect[4] = {};  // left, top, right, bottom, as set
    double turn = 0, fill = 0, clip = 0, amount = 1;
    f0r_param_color_t color{};
    pluginDataRec record{};
    GWorldPtr source = nullptr;    // the incoming frame, A,R,G,B
    GWorldPtr effect = nullptr;    // what the compositor draws
    std::vector<uint32_t> mixRow;  // one row of the effect, for the mix

    ~Instance() {
        if (source) DisposeGWorld(source);
        if (effect) DisposeGWorld(effect);
    }
};

// Where a parameter held as a double (the numbers and the booleans) lives;
// nullptr for the colour and for indexes past the last parameter.
double *DoubleParam(Instance &in, int index) {
    switch (index) {
        case kLeft:
        case kTop:
        case kRight:
        case kBottom:
            return &in.rect[index];
        case kTurn:
            return &in.turn;
        case kFill:
            return &in.fill;
        case kClip:
            return &in.clip;
        case kAmount:
            return &in.amount;
        default:
            return nullptr;
    }
}

// The platform's current drawing port is one per process, and the compositor
// sets it while it works; instances running on different threads take turns.
std::mutex gDrawing;

PictureRows RowsOf(GWorldPtr gw) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    return PictureRows{reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm)), GetPixRowBytes(pm)};
}

// The record's quarter-turn code (1 = none .. 4 = three quarters) for a
// fraction of a full turn; a value that is no number turns nothing.
SInt16 RotaFor(double turn) {
    if (!std::isfinite(turn)) return 1;
    const double quarters = std::floor((turn - std::floor(turn)) * 4.0 + 0.5);
    return static_cast<SInt16>(static_cast<int>(quarters) % 4 + 1);
}

UInt16 Channel16(float v) {
    if (!(v > 0.0f)) return 0;  // also NaN
    if (v >= 1.0f) return 65535;
    return static_cast<UInt16>(std::lround(static_cast<double>(v) * 65535.0));
}

bool On(double v) { return v >= 0.5; }

// Parameters to the record. The rectangle goes in as given: the frame
// driver turns any value, NaN and infinities included, into a rectangle the
// compositor handles, as it does for a stored record.
void BuildRecord(Instance &in) {
    pluginDataRec &r = in.record;
    r.startRel = SetRelRect(in.rect[kLeft], in.rect[kTop], in.rect[kRight], in.rect[kBottom]);
    r.rota = RotaFor(in.turn);
    r.outside = On(in.fill);
    r.clipActive = On(in.clip);
    r.colors[0] = RGBColor{Channel16(in.color.r), Channel16(in.color.g), Channel16(in.color.b)};
}

GWorldPtr NewPicture(unsigned width, unsigned height) {
    const Rect bounds{0, 0, static_cast<SInt16>(height), static_cast<SInt16>(width)};
    GWorldPtr gw = nullptr;
    if (NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0) != noErr) return nullptr;
    if (gw) LockPixels(GetGWorldPixMap(gw));
    return gw;
}

}  // namespace

KELVARIN_F0R_API int f0r_init(void) { return 1; }

KELVARIN_F0R_API void f0r_deinit(void) {}

KELVARIN_F0R_API void f0r_get_plugin_info(f0r_plugin_info_t *info) {
    if (!info) return;
    info->name = "kelvarin";
    info->author = "The Kelvarin developers";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 3;
    info->minor_version = 0;
    info->num_params = kParamCount;
    info->explanation = "Turns a rectangle of the picture by quarter turns about its centre and fills the rest";
}

KELVARIN_F0R_API void f0r_get_param_info(f0r_param_info_t *info, int index) {
    if (!info || index < 0 || index >= kParamCount) return;
    info->name = kParams[index].name;
    info->type = kParams[index].type;
    info->explanation = kParams[index].explanation;
}

KELVARIN_F0R_API f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    // Pictures are addressed with 16-bit coordinates.
    if (width == 0 || height == 0 || width > 32767 || height > 32767) return nullptr;
    auto *in = new (std::nothrow) Instance;
    if (!in) return nullptr;
    in->width = width;
    in->height = height;
    try {
        in->mixRow.resize(width);
    } catch (...) {
        delete in;
        return nullptr;
    }
    in->source = NewPicture(width, height);
    in->effect = NewPicture(width, height);
    if (!in->source || !in->effect) {
        delete in;
        return nullptr;
    }
    // The parameters start as the plug-in's default record.
    ResetConfig(&in->record, true);
    const relRect &rel = in->record.startRel;
    in->rect[kLeft] = rel.left;
    in->rect[kTop] = rel.top;
    in->rect[kRight] = rel.right;
    in->rect[kBottom] = rel.bottom;
    in->turn = (in->record.rota >= 1 && in->record.rota <= 4) ? (in->record.rota - 1) / 4.0 : 0.0;
    in->fill = in->record.outside ? 1.0 : 0.0;
    in->clip = in->record.clipActive ? 1.0 : 0.0;
    const RGBColor &c = in->record.colors[0];
    in->color = f0r_param_color_t{c.red / 65535.0f, c.green / 65535.0f, c.blue / 65535.0f};
    in->amount = 1.0;
    return in;
}

KELVARIN_F0R_API void f0r_destruct(f0r_instance_t instance) { delete static_cast<Instance *>(instance); }

KELVARIN_F0R_API void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    auto *in = static_cast<Instance *>(instance);
    if (!in || !param) return;
    if (index == kColor) in->color = *static_cast<f0r_param_color_t *>(param);
    else if (double *value = DoubleParam(*in, index)) *value = *static_cast<double *>(param);
}

KELVARIN_F0R_API void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    auto *in = static_cast<Instance *>(instance);
    if (!in || !param) return;
    if (index == kColor) *static_cast<f0r_param_color_t *>(param) = in->color;
    else if (const double *value = DoubleParam(*in, index)) *static_cast<double *>(param) = *value;
}

KELVARIN_F0R_API void f0r_update(f0r_instance_t instance, double /*time*/, const uint32_t *inframe,
                                 uint32_t *outframe) {
    auto *in = static_cast<Instance *>(instance);
    if (!in || !inframe || !outframe) return;
    const int opacity = OpacityForAmount(in->amount);
    if (opacity == 255) {
        // The untouched frame alone: the mix at full opacity gives it back.
        if (outframe != inframe)
            for (std::size_t i = 0, n = std::size_t(in->width) * in->height; i < n; ++i) outframe[i] = inframe[i];
        return;
    }
    BuildRecord(*in);
    RGBAToPicture(inframe, in->width, in->height, RowsOf(in->source));
    {
        std::lock_guard lock(gDrawing);
        CGrafPtr savedPort = nullptr;
        GDHandle savedDevice = nullptr;
        GetGWorld(&savedPort, &savedDevice);
        SetGWorld(in->effect, nullptr);
        DoEffect(&in->record, in->source, in->effect, 0, 1);
        SetGWorld(savedPort, savedDevice);
    }
    PictureToRGBA(RowsOf(in->effect), inframe, opacity, in->width, in->height, outframe, in->mixRow.data());
}
