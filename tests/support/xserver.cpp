#include "xserver.h"

#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace wfb::test {

namespace {

// Starts Xvfb on a free display; the display number, or nothing when it ended before it took one
// (another server may have taken the same number at the same moment).
std::optional<std::string> startServer(std::unique_ptr<BackgroundProcess>& server) {
    // Xvfb writes the display number it took to the descriptor given with -displayfd.
    int ends[2];
    if (::pipe(ends) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const std::string fd = std::to_string(ends[1]);
    server = std::make_unique<BackgroundProcess>(std::vector<std::string>{
        "/usr/bin/Xvfb", "-displayfd", fd, "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
    ::close(ends[1]);
    std::string number;
    pollfd p{ends[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos && ::poll(&p, 1, 20000) > 0) {
        char buffer[16];
        const ssize_t n = ::read(ends[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        number.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(ends[0]);
    if (number.find('\n') == std::string::npos) {
        server.reset();
        return std::nullopt;
    }
    return ":" + number.substr(0, number.find('\n'));
}

} // namespace

XServer::XServer() {
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (const auto display = startServer(server_)) {
            display_ = *display;
            return;
        }
    }
    throw std::runtime_error("Xvfb did not start");
}

std::string XServer::xdotool(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {"/usr/bin/xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ProcessOptions options;
    options.environment["DISPLAY"] = display_;
    options.timeout = std::chrono::seconds(30);
    const ProcessResult result = runProcess(argv, options);
    std::string out = result.out;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

} // namespace wfb::test
