// The template load and the append rule: the input is loaded as a template from a file, then its
// lines (split at NUL bytes) are appended one by one.

#include "fuzz_check.h"
#include "text/listtext.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// No CR without LF after it and no LF without CR before it.
bool onlyCrLfBreaks(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) {
            return false;
        }
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            return false;
        }
    }
    return true;
}

// A file in memory for the template, rewritten for each input.
int templateFile() {
    static const int fd = ::memfd_create("wfb-fuzz-template", MFD_CLOEXEC);
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto split = input.find('\0');
    const std::string_view content = input.substr(0, split);
    const std::string_view lines = split == std::string_view::npos ? "" : input.substr(split + 1);

    const int fd = templateFile();
    FUZZ_CHECK(fd >= 0 && ::ftruncate(fd, 0) == 0);
    FUZZ_CHECK(::pwrite(fd, content.data(), content.size(), 0) ==
               static_cast<ssize_t>(content.size()));

    wfb::ListText list("memo");
    list.loadFromFile("/proc/self/fd/" + std::to_string(fd));
    FUZZ_CHECK(list.whole() == wfb::withCrLf(content));
    FUZZ_CHECK(onlyCrLfBreaks(list.whole()));
    FUZZ_CHECK(wfb::withCrLf(list.whole()) == list.whole());

    for (std::size_t start = 0; start < lines.size();) {
        const auto end = std::min(lines.find('\0', start), lines.size());
        const std::string_view line = lines.substr(start, end - start);
        const std::string before = list.whole();
        list.appendLine(line);
        const std::string& after = list.whole();
        FUZZ_CHECK(after.starts_with(before));
        const std::string_view added = std::string_view(after).substr(before.size());
        if (before.empty() || before.ends_with("\r\n")) {
            FUZZ_CHECK(added == std::string(line) + "\r\n");
        } else {
            FUZZ_CHECK(added == "\r\n" + std::string(line));
        }
        start = end + 1;
    }
    return 0;
}
