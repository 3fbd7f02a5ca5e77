#include "RezCompiler.h"

#include "MacTypes.h"
#include "corefoundation/MacRoman.h"

#include <cctype>
#include <optional>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

struct RezError : std::runtime_error {
    int line;
    RezError(int l, const std::string &what) : std::runtime_error(what), line(l) {}
};

enum class Tok { Word, Number, String, CharConst, Hex, Punct, End };

struct Token {
    Tok kind = Tok::End;
    std::string text;  // word, digits, punctuation; decoded MacRoman bytes for strings
    int line = 0;
};

class Lexer {
public:
    explicit Lexer(std::string_view src) : src_(src) {}

    Token Next() {
        SkipSpaceAndComments();
        Token t;
        t.line = line_;
        if (pos_ >= src_.size()) return t;
        const char c = src_[pos_];
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            while (pos_ < src_.size() && (std::isalnum(static_cast<unsigned char>(src_[pos_])) || src_[pos_] == '_'))
                t.text += src_[pos_++];
            t.kind = Tok::Word;
        } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-') {
            t.text += src_[pos_++];
            while (pos_ < src_.size() && std::isalnum(static_cast<unsigned char>(src_[pos_]))) t.text += src_[pos_++];
            t.kind = Tok::Number;
        } else if (c == '"') {
            t.kind = Tok::String;
            t.text = Quoted('"');
        } else if (c == '\'') {
            t.kind = Tok::CharConst;
            t.text = Quoted('\'');
        } else if (c == '$' && pos_ + 1 < src_.size() && src_[pos_ + 1] == '"') {
            t.kind = Tok::Hex;
            pos_ += 2;
            t.text = HexBytes();
        } else {
            t.kind = Tok::Punct;
            t.text = std::string(1, c);
            ++pos_;
        }
        return t;
    }

private:
    void SkipSpaceAndComments() {
        while (pos_ < src_.size()) {
            const char c = src_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (src_.substr(pos_, 2) == "//") {
                while (pos_ < src_.size() && src_[pos_] != '\n') ++pos_;
            } else if (src_.substr(pos_, 2) == "/*") {
                const int start = line_;
                pos_ += 2;
                while (pos_ < src_.size() && src_.substr(pos_, 2) != "*/") {
                    if (src_[pos_] == '\n') ++line_;
                    ++pos_;
                }
                if (pos_ >= src_.size()) throw RezError(start, "unterminated /* comment");
                pos_ += 2;
            } else {
                return;
            }
        }
    }

    static int HexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    // A quoted literal after its opening quote; returns MacRoman bytes.
    std::string Quoted(char quote) {
        ++pos_;
        std::string out, pending;  // pending: UTF-8 text not yet converted
        auto flush = [&] {
            size_t bad = 0;
            auto converted = macroman::FromUTF8(pending, &bad);
            if (!converted) {
                size_t end = bad + 1;
                while (end < pending.size() && (static_cast<unsigned char>(pending[end]) & 0xC0) == 0x80) ++end;
                throw RezError(line_, "character \"" + pending.substr(bad, end - bad) +
                                          "\" is not valid UTF-8 or has no MacRoman equivalent");
            }
            out += *converted;
            pending.clear();
        };
        for (;;) {
            if (pos_ >= src_.size() || src_[pos_] == '\n')
                throw RezError(line_, std::string("unterminated ") + (quote == '"' ? "string" : "character constant"));
            const char c = src_[pos_++];
            if (c == quote) break;
            if (c != '\\') {
                pending += c;
                continue;
            }
            if (pos_ >= src_.size()) throw RezError(line_, "unterminated string");
            const char e = src_[pos_++];
            flush();
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\'':
                    out += '\'';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'x': {
                    const int hi = pos_ < src_.size() ? HexDigit(src_[pos_]) : -1;
                    const int lo = pos_ + 1 < src_.size() ? HexDigit(src_[pos_ + 1]) : -1;
                    if (hi < 0 || lo < 0) throw RezError(line_, "\\x needs two hex digits");
                    out += static_cast<char>(hi * 16 + lo);
                    pos_ += 2;
                    break;
                }
                default:
                    throw RezError(line_, std::string("unknown escape \\") + e);
            }
        }
        flush();
        return out;
    }

    std::string HexBytes() {
        std::string out;
        int high = -1;
        for (;;) {
            if (pos_ >= src_.size() || src_[pos_] == '\n') throw RezError(line_, "unterminated $\"...\" hex string");
            const char c = src_[pos_++];
            if (c == '"') break;
            if (c == ' ' || c == '\t') continue;
            const int d = HexDigit(c);
            if (d < 0) throw RezError(line_, std::string("'") + c + "' is not a hex digit");
            if (high < 0) {
                high = d;
            } else {
                out += static_cast<char>(high * 16 + d);
                high = -1;
            }
        }
        if (high >= 0) throw RezError(line_, "odd number of hex digits");
        return out;
    }

    std::string_view src_;
    size_t pos_ = 0;
    int line_ = 1;
};

class Parser {
public:
    explicit Parser(std::string_view src) : lex_(src) { Advance(); }

    rsrc::ResourceMap Parse() {
        rsrc::ResourceMap map;
        std::set<std::pair<uint32_t, int16_t>> seen;
        while (tok_.kind != Tok::End) {
            const int line = tok_.line;
            rsrc::Resource r = Resource();
            if (!seen.insert({r.type, r.id}).second)
                throw RezError(line,
                               "resource '" + TypeText(r.type) + "' (" + std::to_string(r.id) + ") defined twice");
            map.resources.push_back(std::move(r));
        }
        return map;
    }

private:
    void Advance() { tok_ = lex_.Next(); }

    [[noreturn]] void Fail(const std::string &what) const {
        throw RezError(tok_.line, what + (tok_.kind == Tok::End ? " at end of file" : ", found '" + tok_.text + "'"));
    }

    void Expect(const char *punct) {
        if (tok_.kind != Tok::Punct || tok_.text != punct) Fail(std::string("expected '") + punct + "'");
        Advance();
    }

    bool Accept(const char *punct) {
        if (tok_.kind != Tok::Punct || tok_.text != punct) return false;
        Advance();
        return true;
    }

    static std::string TypeText(uint32_t type) {
        std::string s;
        for (int i = 3; i >= 0; --i) s += static_cast<char>(type >> (8 * i));
        return macroman::ToUTF8(s);
    }

    // Adjacent string literals join into one.
    std::string Strings(size_t limit, const char *what) {
        if (tok_.kind != Tok::String) Fail(std::string("expected ") + what);
        const int line = tok_.line;
        std::string s;
        while (tok_.kind == Tok::String) {
            s += tok_.text;
            Advance();
        }
        if (s.size() > limit)
            throw RezError(line, std::string(what) + " is " + std::to_string(s.size()) + " bytes long; at most " +
                                     std::to_string(limit) + " fit");
        return s;
    }

    rsrc::Resource Resource() {
        if (tok_.kind != Tok::Word || tok_.text != "resource") Fail("expected 'resource'");
        Advance();
        rsrc::Resource r;
        if (tok_.kind != Tok::CharConst || tok_.text.size() != 4) Fail("expected a four-character type such as 'STR#'");
        for (char c : tok_.text) r.type = (r.type << 8) | static_cast<uint8_t>(c);
        Advance();
        Expect("(");
        r.id = Id();
        if (Accept(",")) {
            r.name = Strings(255, "resource name");
            r.hasName = !r.name.empty();
        }
        Expect(")");
        if (tok_.kind == Tok::Hex) {
            std::string bytes;
            while (tok_.kind == Tok::Hex) {
                bytes += tok_.text;
                Advance();
            }
            r.data.assign(bytes.begin(), bytes.end());
        } else if (tok_.kind == Tok::Punct && tok_.text == "{") {
            if (r.type != PLATFORM_FOURCC('S', 'T', 'R', '#'))
                Fail("only 'STR#' takes a list of strings; give other types as $\"hex\"");
            Advance();
            r.data = StringList();
        } else {
            Fail("expected '{' or $\"hex\" data");
        }
        Expect(";");
        return r;
    }

    int16_t Id() {
        if (tok_.kind != Tok::Number) Fail("expected a resource ID");
        const std::string &t = tok_.text;
        size_t used = 0;
        long v = 0;
        try {
            v = std::stol(t, &used, 0);
        } catch (...) {
            used = 0;
        }
        if (used != t.size() || t == "-") Fail("bad number");
        if (v < -32768 || v > 32767) Fail("resource ID out of range -32768..32767");
        Advance();
        return static_cast<int16_t>(v);
    }

    std::vector<uint8_t> StringList() {
        std::vector<std::string> items;
        while (!Accept("}")) {
            items.push_back(Strings(255, "string"));
            if (!Accept(",")) {
                Expect("}");
                break;
            }
        }
        if (items.size() > 32767) Fail("too many strings in one list");
        std::vector<uint8_t> out{static_cast<uint8_t>(items.size() >> 8), static_cast<uint8_t>(items.size())};
        for (const std::string &s : items) {
            out.push_back(static_cast<uint8_t>(s.size()));
            out.insert(out.end(), s.begin(), s.end());
        }
        return out;
    }

    Lexer lex_;
    Token tok_;
};

}  // namespace

RezResult CompileRez(std::string_view source, const std::string &fileName) {
    RezResult result;
    try {
        Parser parser(source);
        result.map = parser.Parse();
        result.ok = true;
    } catch (const RezError &e) {
        result.error = fileName + ":" + std::to_string(e.line) + ": " + e.what();
    } catch (const std::exception &e) {
        result.error = fileName + ": " + e.what();
    }
    return result;
}
