// The settings reader over arbitrary settings files: the first line names the section and the
// key to look up ("section=key"), the rest is the file.

#include "fuzz_check.h"
#include "settings/inifile.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto newline = input.find('\n');
    const std::string_view query = input.substr(0, newline);
    const std::string_view text =
        newline == std::string_view::npos ? "" : input.substr(newline + 1);
    const auto equals = query.find('=');
    const std::string_view section = query.substr(0, equals);
    const std::string_view key = equals == std::string_view::npos ? "" : query.substr(equals + 1);

    const auto settings = wfb::IniFile::fromText(std::string(text));
    // What the reader takes the file for: UTF-16 converted, a byte-order mark taken off.
    const std::string decoded = wfb::settingsText(std::string(text));
    for (const auto& [s, k] : {std::pair<std::string_view, std::string_view>{section, key},
                               {"DB", "Main"},
                               {"DB", "Pass"},
                               {"Option", "text"},
                               {"Option", "Mailer"},
                               {"Option", "RCPT"}}) {
        const std::string value = settings.read(s, k, "\x01");
        if (value == "\x01") {
            continue; // the default: nothing found
        }
        FUZZ_CHECK(value.size() <= wfb::IniFile::maxValueLength);
        // A value comes from one line of the file.
        FUZZ_CHECK(value.find('\n') == std::string::npos);
        FUZZ_CHECK(decoded.find(value) != std::string::npos);
    }
    return 0;
}
