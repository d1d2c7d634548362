#include "text/listtext.h"

#include "system/failure.h"
#include "system/files.h"

namespace wfb {
std::string withCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            out += "\r\n";
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

void ListText::loadFromFile(const std::string& path) {
    std::string content;
    if (const FileError error = readWholeFile(path, content, maxTextFileSize)) {
        throw Failure("Die Vorlage " + quoted(path) +
                      " kann nicht gelesen werden: " + error.reason);
    }
    text_ = withCrLf(content);
}

void ListText::appendLine(std::string_view line) {
    if (text_.empty() || text_.ends_with("\r\n")) {
        text_ += line;
        text_ += "\r\n";
    } else {
        text_ += "\r\n";
        text_ += line;
    }
}

} // namespace wfb
