#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace wfb {

// What kind of failure it is, for the exit status of a run without a window: a scheduler or an
// administrator's script can tell a typo in the command line from a server that did not answer.
enum class FailureKind {
    other,         // 1: anything else
    usage,         // 64 (EX_USAGE): the command line is wrong
    inputMissing,  // 66 (EX_NOINPUT): a file the run needs is missing or cannot be read
    temporary,     // 75 (EX_TEMPFAIL): passing; the same run later may well succeed
    configuration, // 78 (EX_CONFIG): a setting that makes no sense
};

// A failure the user gets to see. The message is German, UTF-8, and names what failed and why;
// it travels up to the one place that reports it (the error box, or stderr without a window),
// and its kind decides the exit status there.
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& message, FailureKind kind = FailureKind::other)
        : std::runtime_error(message), kind_(kind) {}

    FailureKind kind() const { return kind_; }

private:
    FailureKind kind_;
};

// The exit status for a kind of failure (sysexits.h numbers).
int exitStatus(FailureKind kind);

// The message and the kind of whatever was thrown, for the one place that reports it: a Failure
// as it is, running out of memory as such, anything else as an unknown failure.
struct Report {
    std::string message;
    FailureKind kind = FailureKind::other;
};
Report reportOf(std::exception_ptr failure);

// The system's reason for an errno value, in German.
std::string systemReason(int error);

// A path as it appears in a message: in German quotes.
std::string quoted(const std::string& text);

} // namespace wfb
