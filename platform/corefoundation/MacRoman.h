// Conversions between MacRoman (the classic Mac 8-bit text encoding) and UTF-8.
// Pure functions with no platform state: the rez tool and the tests use them too.
#ifndef PLATFORM_CF_MACROMAN_H
#define PLATFORM_CF_MACROMAN_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace macroman {

// Unicode code point of a MacRoman byte (0x00-0x7F are ASCII).
char32_t ToUnicode(uint8_t byte);

// MacRoman bytes to UTF-8; always succeeds (every byte has a character).
std::string ToUTF8(std::string_view macRoman);

// UTF-8 text to MacRoman; nullopt when the text is not valid UTF-8 or holds a
// character MacRoman lacks. *badOffset (if given) receives the byte offset of
// the first offending character.
std::optional<std::string> FromUTF8(std::string_view utf8, size_t *badOffset = nullptr);

// Decodes one UTF-8 sequence at text[pos]; returns the code point and advances
// pos, or nullopt for a malformed, overlong or surrogate sequence.
std::optional<char32_t> DecodeUTF8(std::string_view text, size_t &pos);

// Appends the UTF-8 form of a code point.
void AppendUTF8(std::string &out, char32_t cp);

// Number of UTF-16 code units of valid UTF-8 text (what CFStringGetLength counts).
long UTF16Length(std::string_view utf8);

}  // namespace macroman

#endif
