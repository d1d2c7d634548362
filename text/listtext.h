#pragma once

#include <string>
#include <string_view>

namespace wfb {

// The text of the main window's list: 8-bit Windows-1252 with CR LF line breaks.
class ListText {
public:
    explicit ListText(std::string text = {}) : text_(std::move(text)) {}

    // Replaces the text with the content of the file; every line break in it (CR LF, CR, LF)
    // becomes CR LF. Throws a Failure naming the file when it cannot be read.
    void loadFromFile(const std::string& path);

    // Adds a line: after the text when it is empty or ends with a line break, otherwise on a line
    // of its own without a break after it.
    void appendLine(std::string_view line);

    const std::string& whole() const { return text_; }

private:
    std::string text_;
};

// The text with every line break (CR LF, CR, LF) turned into CR LF.
std::string withCrLf(std::string_view text);

} // namespace wfb
