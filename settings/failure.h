#pragma once

#include <stdexcept>
#include <string>

namespace wfb {

// A failure the user gets to see. The message is German, UTF-8, and names what failed and why;
// it travels up to the one place that reports it (the error box, or stderr without a window).
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

// The system's reason for an errno value, in German.
std::string systemReason(int error);

// A path as it appears in a message: in German quotes.
std::string quoted(const std::string& text);

} // namespace wfb
