#include "unattended.h"

#include "mail/handoff.h"
#include "report.h"
#include "system/failure.h"
#include "system/paths.h"
#include "text/listtext.h"

#include <cstdlib>
#include <functional>

namespace wfb {
namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

} // namespace

bool displayAvailable() {
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
}

void reportLine(std::ostream& errors, const std::string& message) {
    std::string line = boxText(message);
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    errors << "wiegenfestbote: " << line << '\n' << std::flush;
}

int runWithoutWindow(StartupEnvironment environment, std::ostream& errors) {
    bool failed = false;
    // The stand-in for the error box: reports the failure and goes on with the run.
    const auto reported = [&](const std::function<void()>& step) {
        try {
            step();
        } catch (...) {
            reportLine(errors, reportOf(std::current_exception()).message);
            failed = true;
        }
    };

    MainFields fields;
    ListText list("memo");
    BirthdayComponents components;
    reported([&] {
        if (environment.executable.empty()) {
            environment.executable = executablePath();
        }
        runCreateSequence(fields, list, components, environment);
    });
    if (!environment.executable.empty()) {
        reported([&] {
            sendList(list.whole(), fields.MailerPath, fields.Recipient, environment.executable);
        });
    }
    return failed ? 1 : 0;
}

} // namespace wfb
