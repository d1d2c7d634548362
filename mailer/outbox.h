#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace wfb::mailer {

// The folder where messages wait that were not sent: composed without "/sofort", composed
// without a server, or kept after a failed send (in its folder "fehlgeschlagen").
class Outbox {
public:
    explicit Outbox(std::string directory) : directory_(std::move(directory)) {}

    const std::string& directory() const { return directory_; }
    std::string failedDirectory() const { return directory_ + "/fehlgeschlagen"; }

    // Puts a message in the outbox and returns the path of its file; keep() puts it in the
    // folder for failed sends. Folders are made as needed. The file is named by fileName() with
    // the first counter from this outbox's next one on that names no existing file: it never
    // replaces another file. It is written to a temporary file, flushed to disk and then renamed,
    // so it appears whole or not at all. A failure throws, naming the folder and the reason.
    std::string put(std::string_view message, std::time_t now);
    std::string keep(std::string_view message, std::time_t now);

private:
    std::string store(const std::string& directory, std::string_view message, std::time_t now);

    std::string directory_;
    unsigned next_ = 1;
};

// The name of a message file: local time, process id and counter, "20240205-073000-4711-1.eml".
std::string fileName(std::time_t now, unsigned counter);

} // namespace wfb::mailer
