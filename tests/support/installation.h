#pragma once

#include "process.h"
#include "tempdir.h"

#include <optional>
#include <string>
#include <vector>

namespace wfb::test {

// The options with the clock of the program fixed at a local date and time (it runs on from
// there).
ProcessOptions atFixedTime(ProcessOptions options, const std::string& when = "2026-12-11 07:30:00");

// One start of the recording mailer: its arguments, and the body file it saw.
struct MailerCall {
    std::vector<std::string> arguments;
    std::string body;
};

// The starts of the recording mailer that lies in the folder, oldest first.
std::vector<MailerCall> recordedCalls(const std::string& folder);
// Waits until the recording mailer in the folder has been started this many times.
bool waitForCalls(const std::string& folder, std::size_t count);
// Puts a copy of the recording mailer into the folder and returns its path.
std::string installRecorder(const std::string& folder);

// The real program copied into a folder of its own, as a user installs it, with the recording
// mailer beside it. The folder's name holds blanks.
class Installation {
public:
    explicit Installation(const std::string& programName = "wiegenfestbote");

    const std::string& folder() const { return folder_; }
    const std::string& program() const { return program_; }
    std::string path(const std::string& name) const { return folder_ + "/" + name; }
    std::string recorder() const { return path("mailer.sh"); }
    std::string listFile() const;

    // Writes the settings file beside the program.
    void settings(const std::string& text) const;
    // Settings with a template of the given content, a copy of belegschaft.mdb, the recipient
    // and the mailer (the recording one unless named).
    void standardSettings(const std::string& templateContent,
                          const std::string& recipient = "chef@example.com",
                          const std::optional<std::string>& mailer = std::nullopt) const;

    // The environment of a run without a display.
    ProcessOptions withoutDisplay() const;
    // Runs the program with the arguments, at the fixed time.
    ProcessResult run(const std::vector<std::string>& arguments,
                      const ProcessOptions& options) const;
    std::vector<std::string> command(const std::vector<std::string>& arguments) const;

    std::vector<MailerCall> calls() const { return recordedCalls(folder_); }
    bool waitForCalls(std::size_t count) const { return test::waitForCalls(folder_, count); }

private:
    TempDir dir_;
    std::string folder_;
    std::string program_;
};

} // namespace wfb::test
