#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace wfb::test {

struct ProcessResult {
    int exitStatus = -1; // -1 when it was killed or ended by a signal
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct ProcessOptions {
    // Environment changes: a value sets the variable, nothing removes it.
    std::map<std::string, std::optional<std::string>> environment;
    std::chrono::milliseconds timeout{30000};
};

// Runs a program (found by path) to its end, with stdout and stderr captured.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// A program running in the background until stopped; killed when this object goes.
class BackgroundProcess {
public:
    BackgroundProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;
    ~BackgroundProcess();

    int pid() const { return pid_; }
    // Waits for the end; nothing when it did not end in time.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    void kill();

private:
    int pid_ = -1;
    bool ended_ = false;
};

// Waits until the condition holds; false when it still does not after the timeout.
template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace wfb::test
