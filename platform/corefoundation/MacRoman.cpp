// MacRoman <-> UTF-8, with the table Apple publishes for the encoding
// (0xDB is the euro sign since Mac OS 8.5; 0xF0 is the Apple logo in the
// private use area).
#include "corefoundation/MacRoman.h"

#include <array>

namespace macroman {
namespace {

constexpr std::array<char16_t, 128> kHighHalf = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // A0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,  // A8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,  // B0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,  // B8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,  // C0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // C8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,  // D0
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,  // D8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // E0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // E8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // F0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // F8
};

std::optional<uint8_t> FromUnicode(char32_t cp) {
    if (cp < 0x80) return static_cast<uint8_t>(cp);
    for (size_t i = 0; i < kHighHalf.size(); ++i)
        if (kHighHalf[i] == cp) return static_cast<uint8_t>(0x80 + i);
    return std::nullopt;
}

}  // namespace

char32_t ToUnicode(uint8_t byte) { return byte < 0x80 ? char32_t(byte) : char32_t(kHighHalf[byte - 0x80]); }

void AppendUTF8(std::string &out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::optional<char32_t> DecodeUTF8(std::string_view text, size_t &pos) {
    if (pos >= text.size()) return std::nullopt;
    const auto b0 = static_cast<uint8_t>(text[pos]);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    int extra;
    char32_t cp;
    char32_t minimum;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, cp = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, cp = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, cp = b0 & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - pos <= size_t(extra)) return std::nullopt;
    for (int i = 1; i <= extra; ++i) {
        const auto b = static_cast<uint8_t>(text[pos + i]);
        if ((b & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    pos += extra + 1;
    return cp;
}

std::string ToUTF8(std::string_view macRoman) {
    std::string out;
    out.reserve(macRoman.size());
    for (char c : macRoman) AppendUTF8(out, ToUnicode(static_cast<uint8_t>(c)));
    return out;
}

std::optional<std::string> FromUTF8(std::string_view utf8, size_t *badOffset) {
    std::string out;
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        const size_t start = pos;
        auto cp = DecodeUTF8(utf8, pos);
        std::optional<uint8_t> byte;
        if (cp) byte = FromUnicode(*cp);
        if (!byte) {
            if (badOffset) *badOffset = start;
            return std::nullopt;
        }
        out += char(*byte);
    }
    return out;
}

long UTF16Length(std::string_view utf8) {
    long n = 0;
    size_t pos = 0;
    while (pos < utf8.size()) {
        auto cp = DecodeUTF8(utf8, pos);
        if (!cp) {  // not expected for stored strings; count the byte and go on
            ++pos;
            ++n;
            continue;
        }
        n += *cp >= 0x10000 ? 2 : 1;
    }
    return n;
}

}  // namespace macroman
