// kelvarin.so loaded with dlopen into a process without Qt, as a frei0r host
// does: its description, its defaults, and frames (bad parameter values
// included) against the HY path's compositor fed the same record.
#include <gtest/gtest.h>

extern "C" {
#include <frei0r.h>
}

#include "config/pascalFX.h"

#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr unsigned kW = 64, kH = 48;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Filter {
    void *handle = dlopen(KELVARIN_FREI0R, RTLD_NOW | RTLD_LOCAL);
    template <class F>
    F *Get(const char *name) {
        return reinterpret_cast<F *>(dlsym(handle, name));
    }
    ~Filter() {
        if (handle) dlclose(handle);
    }
};

bool QtLoaded() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("libQt") != std::string::npos) return true;
    return false;
}

// An opaque frame with a different colour in every pixel, R,G,B,A in memory.
std::vector<uint32_t> SourceFrame() {
    std::vector<uint32_t> frame(kW * kH);
    for (unsigned y = 0; y < kH; ++y)
        for (unsigned x = 0; x < kW; ++x) {
            const uint8_t px[4] = {uint8_t(x * 4), uint8_t(y * 5), uint8_t(x * y), 0xFF};
            std::memcpy(&frame[y * kW + x], px, 4);
        }
    return frame;
}

struct Picture {
    GWorldPtr gw = nullptr;
    Picture() {
        const Rect bounds{0, 0, kH, kW};
        NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0);
    }
    ~Picture() { DisposeGWorld(gw); }
    uint8_t *Pixel(unsigned x, unsigned y) const {
        PixMapHandle pm = GetGWorldPixMap(gw);
        return reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm) + x * 4;
    }
};

// The HY path's frame for a record, mixed like the host's fade at `opacity`,
// as R,G,B,A.
std::vector<uint32_t> HyFrame(const std::vector<uint32_t> &frame, const pluginDataRec &record, int opacity) {
    Picture source, target;
    for (unsigned y = 0; y < kH; ++y)
        for (unsigned x = 0; x < kW; ++x) {
            const auto *p = reinterpret_cast<const uint8_t *>(&frame[y * kW + x]);
            const uint8_t argb[4] = {p[3], p[0], p[1], p[2]};
            std::memcpy(source.Pixel(x, y), argb, 4);
        }
    pluginDataRec copy = record;
    DoEffect(&copy, source.gw, target.gw, 0, 1);
    std::vector<uint32_t> out(frame.size());
    for (unsigned y = 0; y < kH; ++y)
        for (unsigned x = 0; x < kW; ++x) {
            const uint8_t *e = target.Pixel(x, y);
            const auto *s = reinterpret_cast<const uint8_t *>(&frame[y * kW + x]);
            const uint8_t rgba[4] = {e[1], e[2], e[3], e[0]};
            uint8_t mixed[4];
            for (int c = 0; c < 4; ++c) mixed[c] = uint8_t((s[c] * opacity + rgba[c] * (255 - opacity) + 127) / 255);
            std::memcpy(&out[y * kW + x], mixed, 4);
        }
    return out;
}

TEST(Frei0rLoad, DescribesItselfAndStartsFromTheDefaultRecord) {
    Filter f;
    ASSERT_NE(f.handle, nullptr) << dlerror();
    ASSERT_EQ(f.Get<int()>("f0r_init")(), 1);
    f0r_plugin_info_t info{};
    f.Get<void(f0r_plugin_info_t *)>("f0r_get_plugin_info")(&info);
    EXPECT_STREQ(info.name, "kelvarin");
    EXPECT_EQ(std::make_tuple(info.plugin_type, info.color_model, info.frei0r_version, info.num_params),
              std::make_tuple(F0R_PLUGIN_TYPE_FILTER, F0R_COLOR_MODEL_RGBA8888, 1, 9));
    const struct {
        const char *name;
        int type;
        double value;
    } params[] = {{"left", F0R_PARAM_DOUBLE, 0},   {"top", F0R_PARAM_DOUBLE, 0},  {"right", F0R_PARAM_DOUBLE, 1},
                  {"bottom", F0R_PARAM_DOUBLE, 1}, {"turn", F0R_PARAM_DOUBLE, 0}, {"fill", F0R_PARAM_BOOL, 1},
                  {"clip", F0R_PARAM_BOOL, 0},     {"color", F0R_PARAM_COLOR, 0}, {"amount", F0R_PARAM_DOUBLE, 1}};
    auto *construct = f.Get<f0r_instance_t(unsigned, unsigned)>("f0r_construct");
    auto *getValue = f.Get<void(f0r_instance_t, f0r_param_t, int)>("f0r_get_param_value");
    f0r_instance_t in = construct(kW, kH);
    ASSERT_NE(in, nullptr);
    for (int i = 0; i < 9; ++i) {
        f0r_param_info_t p{};
        f.Get<void(f0r_param_info_t *, int)>("f0r_get_param_info")(&p, i);
        EXPECT_EQ(std::make_tuple(std::string(p.name), p.type),
                  std::make_tuple(std::string(params[i].name), params[i].type));
        if (p.type == F0R_PARAM_COLOR) {
            f0r_param_color_t c{1, 1, 1};
            getValue(in, &c, i);
            EXPECT_EQ(std::make_tuple(c.r, c.g, c.b), std::make_tuple(0.0f, 0.0f, 0.0f)) << "black";
        } else {
            double v = -1;
            getValue(in, &v, i);
            EXPECT_EQ(v, params[i].value) << p.name;
        }
    }
    EXPECT_EQ(construct(0, kH), nullptr);
    EXPECT_EQ(construct(40000, 8), nullptr) << "beyond 16-bit coordinates";
    f.Get<void(f0r_instance_t)>("f0r_destruct")(in);
    f.Get<void()>("f0r_deinit")();
}

// One instance for every row: every parameter changes from one frame to the
// next. Values no host should send are taken as the record would hold them.
TEST(Frei0rLoad, FramesEqualTheHyPathWithTheSameRecordBadValuesIncluded) {
    Filter f;
    ASSERT_NE(f.handle, nullptr) << dlerror();
    auto *setValue = f.Get<void(f0r_instance_t, f0r_param_t, int)>("f0r_set_param_value");
    auto *update = f.Get<void(f0r_instance_t, double, const uint32_t *, uint32_t *)>("f0r_update");
    f0r_instance_t in = f.Get<f0r_instance_t(unsigned, unsigned)>("f0r_construct")(kW, kH);
    ASSERT_NE(in, nullptr);
    const std::vector<uint32_t> frame = SourceFrame();

    struct Row {
        double left, top, right, bottom, turn;
        bool fill, clip;
        f0r_param_color_t color;
        double amount;
        SInt16 rota;  // the record's turn
        RGBColor fillColour;
        int opacity;  // of the untouched frame in the mix
    };
    const float fNaN = std::numeric_limits<float>::quiet_NaN();
    const Row rows[] = {
        {0.25, 0.2, 0.75, 0.8, 0.25, true, false, {1, 0.5f, 0}, 1, 2, {65535, 32768, 0}, 0},
        {0.25, 0.2, 0.75, 0.8, 0.75, false, true, {0, 0, 1}, 1, 4, {0, 0, 65535}, 0},
        {0.1, 0.1, 0.6, 0.9, 0.5, true, true, {0, 1, 0}, 0.5, 3, {0, 65535, 0}, 127},
        {kNaN, 0.2, 0.75, kNaN, 0.25, true, false, {fNaN, -1, 7}, 1, 2, {0, 0, 65535}, 0},
        {-kInf, kInf, kInf, 0.5, 0.25, false, true, {0.5f, 0.5f, 0.5f}, 1, 2, {32768, 32768, 32768}, 0},
        {0.8, 0.9, 0.3, 0.2, 0.25, true, false, {0, 0, 0}, 1, 2, {0, 0, 0}, 0},
        {-0.5, -1, 1.5, 2, 0.25, true, true, {0, 0, 0}, 1, 2, {0, 0, 0}, 0},
        {0.25, 0.25, 0.75, 0.75, kNaN, true, false, {0, 0, 0}, kNaN, 1, {0, 0, 0}, 0},
        {0.25, 0.25, 0.75, 0.75, -0.25, true, false, {0, 0, 0}, 7, 4, {0, 0, 0}, 0},
        {0.25, 0.25, 0.75, 0.75, 1.3, true, false, {0, 0, 0}, 0.999, 2, {0, 0, 0}, 0},
        {0.25, 0.25, 0.75, 0.75, kInf, false, false, {0, 0, 0}, -kInf, 1, {0, 0, 0}, 255},
    };
    std::vector<uint32_t> out(frame.size());
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.left << "," << r.top << "," << r.right << "," << r.bottom << " turn "
                                        << r.turn << " amount " << r.amount);
        double values[] = {r.left, r.top, r.right, r.bottom, r.turn, r.fill ? 1.0 : 0.0, r.clip ? 1.0 : 0.0};
        for (int i = 0; i < 7; ++i) setValue(in, &values[i], i);
        f0r_param_color_t colour = r.color;
        setValue(in, &colour, 7);
        double amount = r.amount;
        setValue(in, &amount, 8);
        update(in, 0.0, frame.data(), out.data());

        pluginDataRec record{};
        ResetConfig(&record, true);
        record.startRel = SetRelRect(r.left, r.top, r.right, r.bottom);
        record.rota = r.rota;
        record.outside = r.fill;
        record.clipActive = r.clip;
        record.colors[0] = r.fillColour;
        EXPECT_TRUE(out == HyFrame(frame, record, r.opacity));
    }
    // In place, as some hosts call it.
    std::vector<uint32_t> inPlace = frame;
    update(in, 0.0, inPlace.data(), inPlace.data());
    EXPECT_TRUE(inPlace == out);
    f.Get<void(f0r_instance_t)>("f0r_destruct")(in);
    EXPECT_FALSE(QtLoaded());
}

}  // namespace
