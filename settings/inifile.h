#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wfb {

// A settings file in the Windows INI format, read the way the Windows profile API reads it:
// "[name]" opens a section, "key=value" lines hold the entries, lines without "=" are ignored.
// Section and key names compare without regard to case; blanks around names and values are
// trimmed and one pair of matching enclosing quotes (" or ') is taken off a value. The first
// matching section, and in it the first matching key, wins. Value bytes pass unchanged, except
// in a file saved as UTF-16 (see settingsText).
// The text of a settings file as the reader takes it: UTF-16 with a byte-order mark (little or
// big endian, as Windows Notepad saves "Unicode") converted to UTF-8, the values then being UTF-8
// like those of a UTF-8 file; a UTF-8 byte-order mark taken off; any other bytes unchanged.
std::string settingsText(std::string bytes);

class IniFile {
public:
    // The longest value handed out; longer values arrive cut to this length.
    static constexpr std::size_t maxValueLength = 2047;

    // Reads the file. A file that does not exist is no error: every value is then the default.
    // Anything else that cannot be read throws a Failure: a file without permission, a symbolic
    // link that leads nowhere, anything but a regular file, a file above maxTextFileSize.
    explicit IniFile(std::string path);

    // Wraps settings text that did not come from a file.
    static IniFile fromText(std::string text);

    const std::string& path() const { return path_; }

    // The value of key in section, or the default when the section or key is missing.
    std::string read(std::string_view section, std::string_view key,
                     std::string_view defaultValue = {}) const;

private:
    IniFile() = default;

    std::string path_;
    std::string text_;
};

} // namespace wfb
