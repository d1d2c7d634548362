#include "text/codepage.h"

#include <array>

namespace wfb::cp1252 {
namespace {

// 0x80 to 0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> high = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one UTF-8 character at pos and moves pos past it; nothing for an invalid sequence
// (pos then moves by one byte).
std::optional<char32_t> nextUtf8(std::string_view s, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(s[pos++]);
    if (lead < 0x80) {
        return lead;
    }
    int length = 0;
    char32_t c = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 1, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 2, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 3, c = lead & 0x07, least = 0x10000;
    } else {
        return std::nullopt;
    }
    for (int i = 0; i < length; ++i) {
        if (pos >= s.size() || (static_cast<unsigned char>(s[pos]) & 0xC0) != 0x80) {
            return std::nullopt;
        }
        c = (c << 6) | (static_cast<unsigned char>(s[pos++]) & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return std::nullopt;
    }
    return c;
}

} // namespace

char32_t toUnicode(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? high[byte - 0x80] : byte;
}

std::optional<unsigned char> fromUnicode(char32_t character) {
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF)) {
        return static_cast<unsigned char>(character);
    }
    for (std::size_t i = 0; i < high.size(); ++i) {
        if (high[i] == character) {
            return static_cast<unsigned char>(0x80 + i);
        }
    }
    return std::nullopt;
}

std::string toUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char b : bytes) {
        appendUtf8(out, toUnicode(static_cast<unsigned char>(b)));
    }
    return out;
}

std::string fromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const auto c = nextUtf8(utf8, pos);
        const auto b = c ? fromUnicode(*c) : std::nullopt;
        out += b ? static_cast<char>(*b) : replacement;
    }
    return out;
}

} // namespace wfb::cp1252
