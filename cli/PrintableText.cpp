#include "PrintableText.h"

#include <cstdio>

namespace {

void escape(std::string& out, unsigned char c) {
    if (c == '\n') {
        out += "\\n";
    } else if (c == '\r') {
        out += "\\r";
    } else if (c == '\t') {
        out += "\\t";
    } else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += hex;
    }
}

} // namespace

std::size_t utf8Length(const std::string& s, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n;
    unsigned min;
    unsigned code;
    if (c < 0x80)
        return 1;
    if ((c & 0xe0) == 0xc0) {
        n = 2, min = 0x80, code = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
        n = 3, min = 0x800, code = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
        n = 4, min = 0x10000, code = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const unsigned char d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (d & 0x3f);
    }
    if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return 0;
    return n;
}

std::string printableText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t n = utf8Length(text, i);
        const bool c1 = n == 2 && c == 0xc2 && static_cast<unsigned char>(text[i + 1]) <= 0x9f;
        if (n > 1 && !c1) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        const std::size_t bytes = c1 ? 2 : 1;
        for (std::size_t k = 0; k < bytes; ++k) {
            const unsigned char b = static_cast<unsigned char>(text[i + k]);
            if (c1 || b < 0x20 || b == 0x7f || (b >= 0x80 && b <= 0x9f))
                escape(out, b);
            else
                out += static_cast<char>(b);
        }
        i += bytes;
    }
    return out;
}
