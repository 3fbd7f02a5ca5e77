// kelvarin.so loaded with dlopen, as a frei0r host does: its description, its
// defaults, and what it makes of parameter values no host should send.
#include <gtest/gtest.h>

extern "C" {
#include <frei0r.h>
}

#include <dlfcn.h>

#include <cstring>
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

TEST(Frei0rLoad, DescribesItselfStartsFromTheDefaultRecordAndTakesBadValues) {
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

    // Values no host should send give the frame of the values the record
    // holds for them (FrameBytes.cpp, KelvarinFrei0r.cpp: RotaFor, Channel16).
    // One instance for every row: every parameter changes from one frame to
    // the next. That the frames equal the HY path's is checked in the real
    // hosts (frei0r_hosts_test.cpp).
    auto *setValue = f.Get<void(f0r_instance_t, f0r_param_t, int)>("f0r_set_param_value");
    auto *update = f.Get<void(f0r_instance_t, double, const uint32_t *, uint32_t *)>("f0r_update");
    const std::vector<uint32_t> frame = SourceFrame();
    struct Params {
        double v[7];  // left, top, right, bottom, turn, fill, clip
        f0r_param_color_t color;
        double amount;
    };
    auto run = [&](Params p) {
        for (int i = 0; i < 7; ++i) setValue(in, &p.v[i], i);
        setValue(in, &p.color, 7);
        setValue(in, &p.amount, 8);
        std::vector<uint32_t> out(frame.size());
        update(in, 0.0, frame.data(), out.data());
        return out;
    };
    const float fNaN = std::numeric_limits<float>::quiet_NaN();
    const struct {
        Params bad, plain;
    } rows[] = {
        {{{kNaN, 0.2, 0.75, kNaN, 0.5, 1, 0}, {fNaN, -1, 7}, 1}, {{0, 0.2, 0.75, 0, 0.5, 1, 0}, {0, 0, 1}, 1}},
        {{{-kInf, kInf, kInf, 0.5, 0.25, 0, 1}, {0, 0, 0}, 1}, {{-1e3, 1e3, 1e3, 0.5, 0.25, 0, 1}, {0, 0, 0}, 1}},
        {{{0.25, 0.25, 0.75, 0.75, kNaN, 1, 0}, {1, 0, 0}, kNaN}, {{0.25, 0.25, 0.75, 0.75, 0, 1, 0}, {1, 0, 0}, 1}},
        {{{0.25, 0.25, 0.75, 0.75, -0.25, 1, 0}, {1, 0, 0}, 7}, {{0.25, 0.25, 0.75, 0.75, 0.75, 1, 0}, {1, 0, 0}, 1}},
        {{{0.25, 0.25, 0.75, 0.75, 1.3, 1, 0}, {1, 0, 0}, 0.999}, {{0.25, 0.25, 0.75, 0.75, 0.25, 1, 0}, {1, 0, 0}, 1}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "turn " << row.bad.v[4] << " amount " << row.bad.amount);
        EXPECT_TRUE(run(row.bad) == run(row.plain));
    }
    // A channel that is no number or below 0 is 0, above 1 full: the fill
    // shows around the empty rectangle of the first row.
    const uint8_t blue[4] = {0, 0, 255, 255};
    EXPECT_EQ(std::memcmp(run(rows[0].bad).data(), blue, 4), 0);
    // A turn that is no number turns nothing; no amount leaves the frame as it is.
    EXPECT_FALSE(run(rows[4].plain) == run(rows[2].plain)) << "the turn shows";
    EXPECT_TRUE(run(Params{{0.25, 0.25, 0.75, 0.75, kInf, 1, 0}, {1, 0, 0}, -kInf}) == frame);
    // In place, as some hosts call it.
    const std::vector<uint32_t> out = run(rows[3].plain);
    std::vector<uint32_t> inPlace = frame;
    update(in, 0.0, inPlace.data(), inPlace.data());
    EXPECT_TRUE(inPlace == out);
    f.Get<void(f0r_instance_t)>("f0r_destruct")(in);
    f.Get<void()>("f0r_deinit")();
}

}  // namespace
