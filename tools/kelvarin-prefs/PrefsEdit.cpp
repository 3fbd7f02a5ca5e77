#include "PrefsEdit.h"

#include "storage/prefsloader.h"

#include "Files.h"
#include "MacMemory.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

void ConfigBlockFree::operator()(pluginDataRec *p) const { DisposePtr(reinterpret_cast<Ptr>(p)); }

ConfigBlock NewDefaultConfig() {
    SInt32 size = 0;
    pGetConfigSize(&size);
    if (size < SInt32(sizeof(pluginDataRec))) size = SInt32(sizeof(pluginDataRec));
    ConfigBlock block(reinterpret_cast<pluginDataRec *>(NewPtrClear(size)));
    if (block) ResetConfig(block.get(), true);
    return block;
}

std::string PreferencesPath() {
    // The folder the plug-in's FindFolder finds, whether or not it exists yet.
    char folder[4096];
    if (!PlatformFolderPath(kPreferencesFolderType, folder, sizeof folder)) return {};
    return (fs::path(folder) / kPrefFileName).string();
}

namespace {

bool CopyFileWhole(const fs::path &from, const fs::path &to, std::string &error) {
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) error = "cannot copy '" + from.string() + "': " + ec.message();
    return !ec;
}

std::optional<std::string> Slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Restores an environment variable when it goes out of scope.
struct EnvRestore {
    std::string name;
    std::optional<std::string> old;
    explicit EnvRestore(std::string n) : name(std::move(n)) {
        if (const char *v = std::getenv(name.c_str())) old = v;
    }
    ~EnvRestore() {
        if (old)
            setenv(name.c_str(), old->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
};

// A private temporary folder, removed with what it holds when it goes.
struct TempFolder {
    fs::path path;
    TempFolder() = default;
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    ~TempFolder() {
        std::error_code e;
        if (!path.empty()) fs::remove_all(path, e);
    }
    bool Make(std::string &error) {
        std::string pattern = (fs::temp_directory_path() / "kelvarin-prefs-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back(0);
        if (!mkdtemp(buf.data())) {
            error = std::string("cannot make a temporary folder: ") + std::strerror(errno);
            return false;
        }
        path = buf.data();
        return true;
    }
};

// Copies the file named, when there is one, to inside. Never takes a file
// that is not a resource file at all: it was probably named by mistake, and
// would be replaced.
bool CopyIn(const std::string &file, const fs::path &target, const fs::path &inside, std::string &error) {
    std::error_code ec;
    if (!fs::exists(target, ec)) return true;
    if (!CopyFileWhole(target, inside, error)) return false;
    if (fs::file_size(inside, ec) == 0) return true;
    short ref = OpenResFilePath(inside.c_str(), fsRdPerm);
    if (ref < 0) {
        error = "'" + file + "' is not a preferences file; it was left as it is";
        return false;
    }
    CloseResFile(ref);
    return true;
}

// The whole contents to a temporary name beside the target, then renamed
// over it, so the target is never seen half written.
bool ReplaceWhole(const std::string &file, const fs::path &target, const std::string &contents, std::string &error) {
    std::error_code ec;
    fs::path temp = target.parent_path() / ("." + target.filename().string() + ".tmp-" + std::to_string(getpid()));
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(contents.data(), std::streamsize(contents.size()));
        out.flush();
        if (!out) {
            fs::remove(temp, ec);
            error = "cannot write '" + file + "'";
            return false;
        }
    }
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        error = "cannot replace '" + file + "'";
        return false;
    }
    return true;
}

}  // namespace

bool WithPreferencesFile(const std::string &file, const std::function<bool(const std::string &, std::string &)> &work,
                         std::string &error) {
    if (file.empty()) return work(PreferencesPath(), error);
    fs::path target = fs::absolute(file);
    std::error_code ec;
    if (fs::is_directory(target, ec)) {
        error = "'" + file + "' is a folder; --file wants a preferences file";
        return false;
    }
    if (!fs::is_directory(target.parent_path(), ec)) {
        error = "folder '" + target.parent_path().string() + "' does not exist";
        return false;
    }
    // The storage code only knows the Preferences folder: give it a private
    // one holding a copy of the file.
    TempFolder folder;
    if (!folder.Make(error)) return false;
    fs::path inside = folder.path / kPrefFileName;
    if (!CopyIn(file, target, inside, error)) return false;
    std::optional<std::string> before = Slurp(inside);
    bool ok;
    {
        EnvRestore restore("XDG_CONFIG_HOME");
        setenv("XDG_CONFIG_HOME", folder.path.c_str(), 1);
        ok = work(target.string(), error);
    }
    if (!ok) return false;
    std::optional<std::string> after = Slurp(inside);
    if (!after || after == before) return true;
    return ReplaceWhole(file, target, *after, error);
}

bool CheckSettingsFile(const std::string &path, std::string &notice, std::string &error) {
    notice.clear();
    std::string detail;
    switch (InspectPrefsFile(path, detail)) {
        case kPrefsNotAFile:
            error = "the settings file '" + path + "' is " + detail + ", not a file; remove it or set XDG_CONFIG_HOME";
            return false;
        case kPrefsUnreadable:
            error = "cannot read the settings file '" + path + "': " + detail;
            return false;
        case kPrefsDamaged: {
            const std::string copy = KeepDamagedPrefs(path);
            if (copy.empty()) {
                error = "the settings file '" + path + "' is damaged (" + detail +
                        ") and no copy of it could be kept; move it away to start from the defaults";
                return false;
            }
            notice = "the settings file '" + path + "' is damaged (" + detail + "); kept it as '" + copy +
                     "' and using the defaults";
            return true;
        }
        default:
            return true;
    }
}

namespace {

std::vector<std::string_view> Split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    for (;;) {
        std::size_t next = s.find(sep, pos);
        parts.push_back(s.substr(pos, next == std::string_view::npos ? std::string_view::npos : next - pos));
        if (next == std::string_view::npos) return parts;
        pos = next + 1;
    }
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool ParseDouble(std::string_view s, double &v) {
    std::string t(Trim(s));
    if (t.empty()) return false;
    char *end = nullptr;
    v = std::strtod(t.c_str(), &end);
    return *end == 0 && std::isfinite(v);
}

bool ParseInt(std::string_view s, long lo, long hi, long &v) {
    s = Trim(s);
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && p == s.data() + s.size() && v >= lo && v <= hi;
}

bool ParseSwitch(std::string_view s, Boolean &v) {
    s = Trim(s);
    if (s == "on" || s == "true" || s == "yes" || s == "1") {
        v = 1;
        return true;
    }
    if (s == "off" || s == "false" || s == "no" || s == "0") {
        v = 0;
        return true;
    }
    return false;
}

// #RRGGBB (8-bit channels widened to 16 bits) or R,G,B (16-bit channels).
bool ParseColor(std::string_view s, RGBColor &c) {
    s = Trim(s);
    if (s.size() == 7 && s[0] == '#') {
        unsigned v = 0;
        auto [p, ec] = std::from_chars(s.data() + 1, s.data() + 7, v, 16);
        if (ec != std::errc() || p != s.data() + 7) return false;
        c.red = uint16_t(((v >> 16) & 0xFF) * 257);
        c.green = uint16_t(((v >> 8) & 0xFF) * 257);
        c.blue = uint16_t((v & 0xFF) * 257);
        return true;
    }
    auto parts = Split(s, ',');
    long r, g, b;
    if (parts.size() != 3 || !ParseInt(parts[0], 0, 65535, r) || !ParseInt(parts[1], 0, 65535, g) ||
        !ParseInt(parts[2], 0, 65535, b))
        return false;
    c = RGBColor{uint16_t(r), uint16_t(g), uint16_t(b)};
    return true;
}

bool ParseFour(std::string_view s, double (&v)[4]) {
    auto parts = Split(s, ',');
    if (parts.size() != 4) return false;
    for (int i = 0; i < 4; ++i)
        if (!ParseDouble(parts[i], v[i])) return false;
    return true;
}

std::string Hex(const RGBColor &c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", c.red >> 8, c.green >> 8, c.blue >> 8);
    return text;
}

std::string Num(double v) {
    std::ostringstream s;
    s.precision(10);
    s << v;
    return s.str();
}

const char *StandardName(int mediaType) {
    switch (mediaType) {
        case kMediaPAL:
            return "pal";
        case kMediaHD:
            return "hd";
        case kMediaNTSC:
            return "ntsc";
        default:
            return "ntsc (unknown value, acts as ntsc)";
    }
}

}  // namespace

namespace {

using nlohmann::json;

// A setter takes the item number of a key with items (0 for the others) and
// the value; it returns null when the value was stored, else what it expects.
// It stores nothing unless the whole value is good.
using Setter = const char *(*)(pluginDataRec &c, int item, std::string_view value);
// The field as --json shows it.
using Shower = json (*)(const pluginDataRec &c);

// What follows the dot of a key with items.
enum class Items { None, RelField, Number };

struct SettingOption {
    std::string_view key;   // "colors.N": the part after the dot names the item
    std::string_view help;  // the value it takes
    Items items;
    Setter set;
    Shower show;  // null: not shown under this name (an alias or one item)
};

const char *Set16(SInt16 &field, std::string_view value, const char *expected) {
    long v;
    if (!ParseInt(value, -32768, 32767, v)) return expected;
    field = SInt16(v);
    return nullptr;
}

constexpr const char *kColorSyntax = "#RRGGBB or R,G,B with 16-bit channels";

const char *SetRect(pluginDataRec &c, int, std::string_view value) {
    double v[4];
    if (!ParseFour(value, v)) return "LEFT,TOP,RIGHT,BOTTOM as fractions of the frame, e.g. 0.25,0.25,0.75,0.75";
    if (!(v[0] < v[2]) || !(v[1] < v[3])) return "LEFT < RIGHT and TOP < BOTTOM";
    c.startRel = relRect{v[0], v[2], v[1], v[3]};
    return nullptr;
}

template <relRect pluginDataRec::*R>
const char *SetRel(pluginDataRec &c, int, std::string_view value) {
    double v[4];
    if (!ParseFour(value, v)) return "LEFT,RIGHT,TOP,BOTTOM (the record's order)";
    c.*R = relRect{v[0], v[1], v[2], v[3]};
    return nullptr;
}

// The fields of a relRect in the record's order, as their item numbers.
constexpr std::string_view kRelFieldNames[] = {"left", "right", "top", "bottom"};
constexpr double relRect::*kRelFields[] = {&relRect::left, &relRect::right, &relRect::top, &relRect::bottom};

template <relRect pluginDataRec::*R>
const char *SetRelField(pluginDataRec &c, int item, std::string_view value) {
    double v;
    if (!ParseDouble(value, v)) return "a number";
    (c.*R).*kRelFields[item] = v;
    return nullptr;
}

template <relRect pluginDataRec::*R>
json ShowRel(const pluginDataRec &c) {
    const relRect &r = c.*R;
    return json{{"left", r.left}, {"right", r.right}, {"top", r.top}, {"bottom", r.bottom}};
}

const char *SetRota(pluginDataRec &c, int, std::string_view value) {
    long deg;
    if (!ParseInt(value, 0, 270, deg) || deg % 90 != 0) return "0, 90, 180 or 270";
    c.rota = SInt16(deg / 90 + 1);
    return nullptr;
}

json ShowRota(const pluginDataRec &c) { return c.rota >= 1 && c.rota <= 4 ? (c.rota - 1) * 90 : 0; }

const char *SetRotaCode(pluginDataRec &c, int, std::string_view value) {
    return Set16(c.rota, value, "a 16-bit number (1..4 turn the picture)");
}

json ShowColor(const RGBColor &k) { return json{{"red", k.red}, {"green", k.green}, {"blue", k.blue}}; }

const char *SetFirstColor(pluginDataRec &c, int, std::string_view value) {
    return ParseColor(value, c.colors[0]) ? nullptr : "#RRGGBB";
}

const char *SetColorItem(pluginDataRec &c, int item, std::string_view value) {
    return ParseColor(value, c.colors[item - 1]) ? nullptr : kColorSyntax;
}

json ShowColors(const pluginDataRec &c) {
    json all = json::array();
    for (const RGBColor &k : c.colors) all.push_back(ShowColor(k));
    return all;
}

template <RGBColor pluginDataRec::*K>
const char *SetColorField(pluginDataRec &c, int, std::string_view value) {
    return ParseColor(value, c.*K) ? nullptr : kColorSyntax;
}

template <RGBColor pluginDataRec::*K>
json ShowColorField(const pluginDataRec &c) {
    return ShowColor(c.*K);
}

const char *SetSliderItem(pluginDataRec &c, int item, std::string_view value) {
    return Set16(c.sliders[item - 1], value, "a 16-bit number");
}

const char *SetSliders(pluginDataRec &c, int, std::string_view value) {
    auto parts = Split(value, ',');
    long v[6];
    if (parts.size() != 6) return "six numbers";
    for (int i = 0; i < 6; ++i)
        if (!ParseInt(parts[i], -32768, 32767, v[i])) return "six 16-bit numbers";
    for (int i = 0; i < 6; ++i) c.sliders[i] = SInt16(v[i]);
    return nullptr;
}

json ShowSliders(const pluginDataRec &c) {
    return json(std::vector<SInt16>(std::begin(c.sliders), std::end(c.sliders)));
}

const char *SetStandard(pluginDataRec &c, int, std::string_view value) {
    if (value == "ntsc")
        c.mediaType = kMediaNTSC;
    else if (value == "pal")
        c.mediaType = kMediaPAL;
    else if (value == "hd")
        c.mediaType = kMediaHD;
    else
        return "ntsc, pal or hd";
    return nullptr;
}

json ShowStandard(const pluginDataRec &c) {
    return c.mediaType == kMediaPAL ? "pal" : c.mediaType == kMediaHD ? "hd" : "ntsc";
}

const char *SetMediaType(pluginDataRec &c, int, std::string_view value) {
    return Set16(c.mediaType, value, "a 16-bit number (1 NTSC, 2 PAL, 3 HD)");
}

json ShowMediaType(const pluginDataRec &c) { return c.mediaType; }

template <Boolean pluginDataRec::*F>
const char *SetSwitch(pluginDataRec &c, int, std::string_view value) {
    return ParseSwitch(value, c.*F) ? nullptr : "on or off";
}

template <Boolean pluginDataRec::*F>
json ShowSwitch(const pluginDataRec &c) {
    return bool(c.*F);
}

// Every key kelvarin-prefs takes, the friendly ones first, then the record's
// raw fields; also what --json shows and set --help lists.
constexpr SettingOption kSettingOptions[] = {
    {"rect", "L,T,R,B", Items::None, SetRect, nullptr},
    {"rota", "0|90|180|270", Items::None, SetRota, ShowRota},
    {"color", "#RRGGBB", Items::None, SetFirstColor, [](const pluginDataRec &c) -> json { return Hex(c.colors[0]); }},
    {"outside", "on|off", Items::None, SetSwitch<&pluginDataRec::outside>, ShowSwitch<&pluginDataRec::outside>},
    {"clip", "on|off", Items::None, SetSwitch<&pluginDataRec::clipActive>, nullptr},
    {"standard", "ntsc|pal|hd", Items::None, SetStandard, ShowStandard},
    {"startRel", "L,R,T,B", Items::None, SetRel<&pluginDataRec::startRel>, ShowRel<&pluginDataRec::startRel>},
    {"endRel", "L,R,T,B", Items::None, SetRel<&pluginDataRec::endRel>, ShowRel<&pluginDataRec::endRel>},
    {"startRel.FIELD", "N", Items::RelField, SetRelField<&pluginDataRec::startRel>, nullptr},
    {"endRel.FIELD", "N", Items::RelField, SetRelField<&pluginDataRec::endRel>, nullptr},
    {"sliders", "a,b,c,d,e,f", Items::None, SetSliders, ShowSliders},
    {"sliders.N", "V", Items::Number, SetSliderItem, nullptr},
    {"colors.N", "#RRGGBB|r,g,b", Items::Number, SetColorItem, ShowColors},
    {"frameStartColor", "r,g,b", Items::None, SetColorField<&pluginDataRec::frameStartColor>,
     ShowColorField<&pluginDataRec::frameStartColor>},
    {"frameEndColor", "r,g,b", Items::None, SetColorField<&pluginDataRec::frameEndColor>,
     ShowColorField<&pluginDataRec::frameEndColor>},
    {"mediaType", "N", Items::None, SetMediaType, ShowMediaType},
    {"keepProps", "on|off", Items::None, SetSwitch<&pluginDataRec::keepProps>, ShowSwitch<&pluginDataRec::keepProps>},
    {"clipActive", "on|off", Items::None, SetSwitch<&pluginDataRec::clipActive>,
     ShowSwitch<&pluginDataRec::clipActive>},
    {"rotaCode", "N", Items::None, SetRotaCode, [](const pluginDataRec &c) -> json { return c.rota; }},
};

// The key's name without its item ("colors" of "colors.N").
std::string_view BaseName(const SettingOption &o) { return o.key.substr(0, o.key.find('.')); }

// The item a key names: 0..3 for the fields of a rectangle, 1..6 for numbered
// items; -1 when there is no such item.
int ItemOf(Items items, std::string_view name) {
    if (items == Items::RelField) {
        for (int i = 0; i < 4; ++i)
            if (name == kRelFieldNames[i]) return i;
        return -1;
    }
    long n;
    return ParseInt(name, 1, 6, n) ? int(n) : -1;
}

const SettingOption *FindOption(std::string_view key, std::string_view &item) {
    for (const SettingOption &o : kSettingOptions) {
        const std::string_view base = BaseName(o);
        if (o.items == Items::None ? key == base
                                   : key.size() > base.size() && key.starts_with(base) && key[base.size()] == '.') {
            item = o.items == Items::None ? std::string_view() : key.substr(base.size() + 1);
            return &o;
        }
    }
    return nullptr;
}

}  // namespace

bool ApplySetting(pluginDataRec &c, std::string_view assignment, std::string &error) {
    std::size_t eq = assignment.find('=');
    if (eq == std::string_view::npos || eq == 0) {
        error = "'" + std::string(assignment) + "' is not KEY=VALUE";
        return false;
    }
    const std::string key(Trim(assignment.substr(0, eq)));
    const std::string_view value = Trim(assignment.substr(eq + 1));
    std::string_view itemName;
    const SettingOption *option = FindOption(key, itemName);
    if (option == nullptr) {
        error = "unknown key '" + key + "' (try rect, rota, color, outside, clip, standard)";
        return false;
    }
    int item = 0;
    if (option->items != Items::None && (item = ItemOf(option->items, itemName)) < 0) {
        error =
            "unknown key '" + key + "' (" +
            (option->items == Items::RelField ? "fields are left, right, top, bottom" : "items are numbered 1 to 6") +
            ")";
        return false;
    }
    if (const char *expected = option->set(c, item, value)) {
        error = "bad value '" + std::string(value) + "' for " + key + "; expected " + expected;
        return false;
    }
    return true;
}

std::string SettingsHelp() {
    std::string help = "KEY=VALUE:";
    for (const SettingOption &o : kSettingOptions) help += "  " + std::string(o.key) + "=" + std::string(o.help);
    return help + "  (N is 1 to 6; FIELD is left, right, top or bottom)";
}

std::string DescribeConfig(const pluginDataRec &c) {
    std::ostringstream s;
    const relRect &r = c.startRel;
    s << "rect       " << Num(r.left) << "," << Num(r.top) << "," << Num(r.right) << "," << Num(r.bottom)
      << "   (left,top,right,bottom of the frame)\n";
    if (c.rota >= 1 && c.rota <= 4)
        s << "rota       " << (c.rota - 1) * 90 << "   (code " << c.rota << ")\n";
    else
        s << "rota       not turned   (code " << c.rota << ")\n";
    s << "color      " << Hex(c.colors[0]) << "\n";
    s << "outside    " << (c.outside ? "on" : "off") << "\n";
    s << "clip       " << (c.clipActive ? "on" : "off") << "\n";
    s << "standard   " << StandardName(c.mediaType) << "   (mediaType " << c.mediaType << ")\n";
    s << "keepProps  " << (c.keepProps ? "on" : "off") << "\n";
    s << "endRel     " << Num(c.endRel.left) << "," << Num(c.endRel.right) << "," << Num(c.endRel.top) << ","
      << Num(c.endRel.bottom) << "   (left,right,top,bottom)\n";
    s << "sliders   ";
    for (SInt16 v : c.sliders) s << " " << v;
    s << "\ncolors    ";
    for (const RGBColor &k : c.colors) s << " " << Hex(k);
    s << "\nframeStartColor " << c.frameStartColor.red << "," << c.frameStartColor.green << ","
      << c.frameStartColor.blue << "\n";
    s << "frameEndColor   " << c.frameEndColor.red << "," << c.frameEndColor.green << "," << c.frameEndColor.blue
      << "\n";
    return s.str();
}

std::string DescribeConfigJson(const pluginDataRec &c, bool stored) {
    nlohmann::json j;
    j["stored"] = stored;
    for (const SettingOption &o : kSettingOptions)
        if (o.show) j[std::string(BaseName(o))] = o.show(c);
    return j.dump(2) + "\n";
}
