// A strict JSON checker (RFC 8259: one value, UTF-8 text, no trailing
// commas, no control characters inside strings) for the info target: every
// report `ruvivedu info --json` prints must be something any JSON reader
// accepts, whatever bytes the module handed over.
#pragma once

#include <cctype>
#include <cstddef>
#include <string>

namespace json_check {

/// The length of the UTF-8 sequence at `at` (shortest form, no surrogates,
/// at most U+10FFFF) with its code point in `code`; 0 when the bytes there
/// are not one.
inline std::size_t utf8_sequence(const std::string& s, std::size_t at, unsigned long& code)
{
    const unsigned char c = static_cast<unsigned char>(s[at]);
    if (c < 0x80) {
        code = c;
        return 1;
    }
    int more = 0;
    if (c >= 0xC2 && c <= 0xDF)
        more = 1, code = c & 0x1Fu;
    else if (c >= 0xE0 && c <= 0xEF)
        more = 2, code = c & 0x0Fu;
    else if (c >= 0xF0 && c <= 0xF4)
        more = 3, code = c & 0x07u;
    else
        return 0;
    if (at + std::size_t(more) >= s.size())
        return 0;
    for (int i = 1; i <= more; ++i) {
        const unsigned char k = static_cast<unsigned char>(s[at + std::size_t(i)]);
        if ((k & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (k & 0x3Fu);
    }
    static const unsigned long smallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < smallest[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return std::size_t(more) + 1;
}

class Checker {
public:
    explicit Checker(const std::string& text) : s_(text) {}

    /// Empty when `text` is one valid JSON value; else what is wrong and where.
    std::string check()
    {
        space();
        if (!value())
            return error_;
        space();
        if (at_ != s_.size())
            fail("text after the value");
        return error_;
    }

private:
    bool value()
    {
        if (++depth_ > 64)
            return fail("nested too deep");
        bool ok = false;
        switch (peek()) {
        case '{':
            ok = object();
            break;
        case '[':
            ok = array();
            break;
        case '"':
            ok = string();
            break;
        case 't':
            ok = word("true");
            break;
        case 'f':
            ok = word("false");
            break;
        case 'n':
            ok = word("null");
            break;
        default:
            ok = number();
        }
        --depth_;
        return ok;
    }

    bool object()
    {
        ++at_;
        space();
        if (peek() == '}')
            return ++at_, true;
        for (;;) {
            space();
            if (peek() != '"' || !string())
                return fail("an object key is not a string");
            space();
            if (peek() != ':')
                return fail("no ':' after an object key");
            ++at_;
            space();
            if (!value())
                return false;
            space();
            if (peek() == ',') {
                ++at_;
                continue;
            }
            if (peek() == '}')
                return ++at_, true;
            return fail("no ',' or '}' in an object");
        }
    }

    bool array()
    {
        ++at_;
        space();
        if (peek() == ']')
            return ++at_, true;
        for (;;) {
            space();
            if (!value())
                return false;
            space();
            if (peek() == ',') {
                ++at_;
                continue;
            }
            if (peek() == ']')
                return ++at_, true;
            return fail("no ',' or ']' in an array");
        }
    }

    bool string()
    {
        ++at_;
        while (at_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[at_]);
            if (c == '"')
                return ++at_, true;
            if (c < 0x20)
                return fail("a control character inside a string");
            if (c == '\\') {
                ++at_;
                const char e = peek();
                if (e == 'u') {
                    for (int i = 1; i <= 4; ++i)
                        if (!std::isxdigit(static_cast<unsigned char>(peek(i))))
                            return fail("a \\u escape without four hex digits");
                    at_ += 5;
                } else if (e && std::string("\"\\/bfnrt").find(e) != std::string::npos) {
                    ++at_;
                } else {
                    return fail("an unknown escape");
                }
                continue;
            }
            if (!utf8())
                return fail("a string that is not UTF-8");
        }
        return fail("an unterminated string");
    }

    bool utf8()
    {
        unsigned long code = 0;
        const std::size_t length = utf8_sequence(s_, at_, code);
        at_ += length;
        return length > 0;
    }

    bool number()
    {
        const std::size_t start = at_;
        if (peek() == '-')
            ++at_;
        if (peek() == '0')
            ++at_;
        else if (!digits())
            return fail("not a value");
        if (peek() == '.') {
            ++at_;
            if (!digits())
                return fail("no digits after a decimal point");
        }
        if (peek() == 'e' || peek() == 'E') {
            ++at_;
            if (peek() == '+' || peek() == '-')
                ++at_;
            if (!digits())
                return fail("no digits in an exponent");
        }
        return at_ > start;
    }

    bool digits()
    {
        const std::size_t start = at_;
        while (std::isdigit(static_cast<unsigned char>(peek())))
            ++at_;
        return at_ > start;
    }

    bool word(const char* w)
    {
        const std::string text(w);
        if (s_.compare(at_, text.size(), text) != 0)
            return fail("not a value");
        at_ += text.size();
        return true;
    }

    void space()
    {
        while (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')
            ++at_;
    }

    char peek(std::size_t ahead = 0) const { return at_ + ahead < s_.size() ? s_[at_ + ahead] : '\0'; }

    bool fail(const char* what)
    {
        if (error_.empty())
            error_ = std::string(what) + " at byte " + std::to_string(at_);
        return false;
    }

    const std::string& s_;
    std::size_t at_ = 0;
    int depth_ = 0;
    std::string error_;
};

/// Empty when `text` is one valid JSON value; else what is wrong and where.
inline std::string problem(const std::string& text)
{
    return Checker(text).check();
}

}  // namespace json_check
