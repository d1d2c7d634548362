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

} // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
    if (const FileError error = readWholeFile(path_, text_, maxTextFileSize);
        error && !error.absent) {
        throw Failure("Die Einstellungsdatei " + quoted(path_) +
                      " kann nicht gelesen werden: " + error.reason);
    }
}

IniFile IniFile::fromText(std::string text) {
    IniFile file;
    file.text_ = std::move(text);
    return file;
}

std::string IniFile::read(std::string_view section, std::string_view key,
                          std::string_view defaultValue) const {
    std::string_view text = text_;
    // Files saved by newer editors may start with a UTF-8 byte-order mark; it is no part of the
    // first line.
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
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
