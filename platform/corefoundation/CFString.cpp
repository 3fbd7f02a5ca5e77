// CFString: immutable reference-counted text, stored as UTF-8.
#include "corefoundation/CFPrivate.h"
#include "corefoundation/MacRoman.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace {

void FinalizeString(CFObjectHeader *self) { delete static_cast<CFStringObject *>(self); }

CFStringRef ToRef(CFStringObject *obj) { return reinterpret_cast<CFStringRef>(static_cast<CFObjectHeader *>(obj)); }

// Stored (valid) UTF-8 text as UTF-16 code units.
std::u16string UTF16Of(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        const std::optional<char32_t> cp = macroman::DecodeUTF8(utf8, pos);
        if (!cp) {
            ++pos;  // never stored; skipped rather than looped on
            continue;
        }
        if (*cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((*cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((*cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(*cp));
        }
    }
    return out;
}

// Text in `enc` to UTF-8, or nullopt when it is not valid in that encoding.
std::optional<std::string> DecodeText(std::string_view bytes, CFStringEncoding enc) {
    switch (enc) {
        case kCFStringEncodingMacRoman:
            return macroman::ToUTF8(bytes);
        case kCFStringEncodingUTF8: {
            size_t pos = 0;
            while (pos < bytes.size())
                if (!macroman::DecodeUTF8(bytes, pos)) return std::nullopt;
            return std::string(bytes);
        }
        case kCFStringEncodingASCII:
            for (char c : bytes)
                if (static_cast<unsigned char>(c) > 0x7F) return std::nullopt;
            return std::string(bytes);
        default:
            return std::nullopt;
    }
}

std::optional<std::string> EncodeText(const std::string &utf8, CFStringEncoding enc) {
    switch (enc) {
        case kCFStringEncodingMacRoman:
            return macroman::FromUTF8(utf8);
        case kCFStringEncodingUTF8:
            return utf8;
        case kCFStringEncodingASCII:
            for (char c : utf8)
                if (static_cast<unsigned char>(c) > 0x7F) return std::nullopt;
            return utf8;
        default:
            return std::nullopt;
    }
}

}  // namespace

const CFStringObject *CFStringFromRef(CFStringRef s) {
    auto *h = reinterpret_cast<const CFObjectHeader *>(s);
    if (!h || h->typeID != kCFTypeString) return nullptr;
    return static_cast<const CFStringObject *>(h);
}

std::string CFStringText(CFStringRef s) {
    const CFStringObject *obj = CFStringFromRef(s);
    return obj ? obj->utf8 : std::string();
}

CFStringRef CFStringMakeUTF8(std::string utf8) {
    auto *obj = new CFStringObject;
    obj->typeID = kCFTypeString;
    obj->finalize = FinalizeString;
    obj->utf8 = std::move(utf8);
    return ToRef(obj);
}

extern "C" {

PLATFORM_API CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char *s, CFStringEncoding enc) {
    if (!s) return nullptr;
    try {
        auto text = DecodeText(s, enc);
        return text ? CFStringMakeUTF8(std::move(*text)) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

PLATFORM_API CFStringRef CFStringCreateWithPascalString(CFAllocatorRef, ConstStr255Param s, CFStringEncoding enc) {
    if (!s) return nullptr;
    try {
        auto text = DecodeText(std::string_view(reinterpret_cast<const char *>(s + 1), s[0]), enc);
        return text ? CFStringMakeUTF8(std::move(*text)) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

PLATFORM_API CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef s) {
    // Strings are immutable, so a copy is the same object.
    if (!CFStringFromRef(s)) return nullptr;
    return static_cast<CFStringRef>(CFRetain(s));
}

PLATFORM_API CFIndex CFStringGetLength(CFStringRef s) {
    const CFStringObject *obj = CFStringFromRef(s);
    return obj ? macroman::UTF16Length(obj->utf8) : 0;
}

PLATFORM_API Boolean CFStringGetCString(CFStringRef s, char *buf, CFIndex bufSize, CFStringEncoding enc) {
    const CFStringObject *obj = CFStringFromRef(s);
    if (!obj || !buf || bufSize <= 0) return false;
    try {
        auto text = EncodeText(obj->utf8, enc);
        if (!text || text->size() >= static_cast<size_t>(bufSize)) return false;
        std::memcpy(buf, text->c_str(), text->size() + 1);
        return true;
    } catch (...) {
        return false;
    }
}

PLATFORM_API const char *CFStringGetCStringPtr(CFStringRef s, CFStringEncoding enc) {
    const CFStringObject *obj = CFStringFromRef(s);
    if (!obj) return nullptr;
    if (enc == kCFStringEncodingUTF8) return obj->utf8.c_str();
    // MacRoman and ASCII share the bytes only while the text is plain ASCII.
    if (enc == kCFStringEncodingMacRoman || enc == kCFStringEncodingASCII) {
        for (char c : obj->utf8)
            if (static_cast<unsigned char>(c) > 0x7F) return nullptr;
        return obj->utf8.c_str();
    }
    return nullptr;
}

PLATFORM_API CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, uint32_t options) {
    try {
        // Compared as UTF-16 code units, case-folded when asked.
        const std::u16string ua = UTF16Of(CFStringText(a));
        const std::u16string ub = UTF16Of(CFStringText(b));
        const auto la = static_cast<int32_t>(ua.size()), lb = static_cast<int32_t>(ub.size());
        UErrorCode status = U_ZERO_ERROR;
        const int c = (options & kCFCompareCaseInsensitive)
                          ? u_strCaseCompare(ua.data(), la, ub.data(), lb, U_FOLD_CASE_DEFAULT, &status)
                          : u_strCompare(ua.data(), la, ub.data(), lb, false);
        return c < 0 ? kCFCompareLessThan : c > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo;
    } catch (...) {
        return kCFCompareLessThan;
    }
}

PLATFORM_API CFStringRef __CFStringMakeConstantString(const char *s) {
    if (!s) return nullptr;
    // Interned: one immortal object per text for the whole process.
    static std::mutex lock;
    static auto *table = new std::unordered_map<std::string, CFStringObject *>;
    try {
        std::lock_guard guard(lock);
        auto it = table->find(s);
        if (it != table->end()) return ToRef(it->second);
        auto text = DecodeText(s, kCFStringEncodingUTF8);
        if (!text) text = macroman::ToUTF8(s);  // old sources held MacRoman literals
        auto *obj = new CFStringObject;
        obj->typeID = kCFTypeString;
        obj->immortal = true;
        obj->utf8 = std::move(*text);
        table->emplace(s, obj);
        return ToRef(obj);
    } catch (...) {
        return nullptr;
    }
}

}  // extern "C"
