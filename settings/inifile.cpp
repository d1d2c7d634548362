#include "inifile.h"

#include "system/failure.h"
#include "system/files.h"

namespace wfb {
namespace {

constexpr std::string_view blanks = " \t\r\v\f";

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// UTF-16 text after its byte-order mark, as UTF-8. What is no character (half of a surrogate
// pair, an odd last byte) becomes U+FFFD.
std::string utf16ToUtf8(std::string_view bytes, bool littleEndian) {
    constexpr char32_t replacement = 0xFFFD;
    const auto unit = [&](std::size_t at) {
        const auto first = static_cast<unsigned char>(bytes[at]);
        const auto second = static_cast<unsigned char>(bytes[at + 1]);
        return static_cast<char32_t>(littleEndian ? first | second << 8 : first << 8 | second);
    };
    std::string out;
    out.reserve(bytes.size());
    std::size_t at = 0;
    for (; at + 1 < bytes.size(); at += 2) {
        const char32_t c = unit(at);
        if (c >= 0xD800 && c < 0xDC00 && at + 3 < bytes.size()) {
            const char32_t low = unit(at + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
                at += 2;
                continue;
            }
        }
        appendUtf8(out, c >= 0xD800 && c < 0xE000 ? replacement : c);
    }
    if (at < bytes.size()) {
        appendUtf8(out, replacement);
    }
    return out;
}

} // namespace

std::string settingsText(std::string bytes) {
    // Windows Notepad saves "Unicode" as UTF-16 with a byte-order mark, which the profile API
    // reads; newer editors may start UTF-8 with a byte-order mark, which is no part of the first
    // line.
    const std::string_view view = bytes;
    if (view.starts_with("\xFF\xFE")) {
        return utf16ToUtf8(view.substr(2), true);
    }
    if (view.starts_with("\xFE\xFF")) {
        return utf16ToUtf8(view.substr(2), false);
    }
    if (view.starts_with("\xEF\xBB\xBF")) {
        bytes.erase(0, 3);
    }
    return bytes;
}

IniFile::IniFile(std::string path) : path_(std::move(path)) {
    std::string bytes;
    if (const FileError error = readWholeFile(path_, bytes, maxTextFileSize);
        error && !error.absent) {
        throw Failure("Die Einstellungsdatei " + quoted(path_) +
                      " kann nicht gelesen werden: " + error.reason);
    }
    text_ = settingsText(std::move(bytes));
}

IniFile IniFile::fromText(std::string text) {
    IniFile file;
    file.text_ = settingsText(std::move(text));
    return file;
}

std::string IniFile::read(std::string_view section, std::string_view key,
                          std::string_view defaultValue) const {
    const std::string_view text = text_;
    enum { before, inside, after } state = before;
    for (std::size_t start = 0; start < text.size() && state != after;) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const auto line = trim(text.substr(start, end - start));
        start = end + 1;

        if (line.starts_with('[')) {
            const auto close = line.rfind(']');
            if (close != std::string_view::npos) {
                if (state == inside) {
                    state = after;
                } else if (sameName(trim(line.substr(1, close - 1)), section)) {
                    state = inside;
                }
                continue;
            }
        }
        if (state != inside) {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || !sameName(trim(line.substr(0, equals)), key)) {
            continue;
        }
        const auto value = unquote(trim(line.substr(equals + 1)));
        return std::string(value.substr(0, maxValueLength));
    }
    return std::string(defaultValue);
}

} // namespace wfb
