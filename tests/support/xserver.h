#pragma once

#include "process.h"

#include <memory>
#include <string>

namespace wfb::test {

// A real X server (Xvfb) for the duration of a test, on a display number of its own choosing.
class XServer {
public:
    XServer();
    const std::string& display() const { return display_; }

    // Runs xdotool against this display; its output, trimmed.
    std::string xdotool(const std::vector<std::string>& arguments) const;

private:
    std::unique_ptr<BackgroundProcess> server_;
    std::string display_;
};

} // namespace wfb::test
