#include "system/paths.h"

#include "system/failure.h"

#include <cerrno>
#include <climits>
#include <unistd.h>

namespace wfb {

std::string executablePath() {
    std::string buffer(PATH_MAX, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            throw Failure(
                "Der Pfad des laufenden Programms ist nicht zu ermitteln (/proc/self/exe): " +
                systemReason(errno));
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string replaceExtension(std::string_view path, std::string_view extension) {
    const auto slash = path.rfind('/');
    const auto nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    const auto dot = path.rfind('.');
    const auto stem =
        dot != std::string_view::npos && dot >= nameStart ? path.substr(0, dot) : path;
    std::string result(stem);
    result += extension;
    return result;
}

std::string directoryOf(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    return std::string(slash == 0 ? path.substr(0, 1) : path.substr(0, slash));
}

std::string fileNameOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace wfb
