#include "installation.h"

#include "system/paths.h"
#include "testdata.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace wfb::test {

Installation::Installation(const std::string& programName)
    : folder_(dir_ / "Mein Programm"), program_(folder_ + "/" + programName) {
    fs::create_directories(folder_);
    fs::copy_file(WFB_PROGRAM, program_);
    installRecorder(folder_);
}

std::string Installation::listFile() const {
    return replaceExtension(program_, ".txt");
}

void Installation::settings(const std::string& text) const {
    writeFile(replaceExtension(program_, ".ini"), text);
}

void Installation::standardSettings(const std::string& templateContent,
                                    const std::string& recipient,
                                    const std::optional<std::string>& mailer) const {
    writeFile(path("vorlage.txt"), templateContent);
    fs::copy_file(testData("belegschaft.mdb"), path("belegschaft.mdb"),
                  fs::copy_options::overwrite_existing);
    settings("[DB]\r\nMain=" + path("belegschaft.mdb") +
             "\r\n[Option]\r\ntext=" + path("vorlage.txt") +
             "\r\nMailer=" + mailer.value_or(recorder()) + "\r\nRCPT=" + recipient + "\r\n");
}

ProcessOptions Installation::withoutDisplay() const {
    ProcessOptions options;
    options.environment["DISPLAY"] = std::nullopt;
    options.environment["WAYLAND_DISPLAY"] = std::nullopt;
    options.environment["QT_QPA_PLATFORM"] = std::nullopt;
    return options;
}

ProcessOptions atFixedTime(ProcessOptions options, const std::string& when) {
    // libfaketime preloaded into the program itself: no wrapper process stands between the test
    // and the program (one that is killed would leave its semaphore behind).
    options.environment["LD_PRELOAD"] = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
    options.environment["FAKETIME"] = "@" + when;
    // It comes before the sanitizer runtime of a sanitized build.
    const char* asan = std::getenv("ASAN_OPTIONS");
    options.environment["ASAN_OPTIONS"] =
        std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
    return options;
}

std::vector<std::string> Installation::command(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {program_};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

ProcessResult Installation::run(const std::vector<std::string>& arguments,
                                const ProcessOptions& options) const {
    return runProcess(command(arguments), atFixedTime(options));
}

std::vector<MailerCall> recordedCalls(const std::string& folder) {
    std::vector<MailerCall> result;
    const fs::path callDir = fs::path(folder) / "calls";
    if (!fs::exists(callDir)) {
        return result;
    }
    std::vector<fs::path> dirs;
    for (const auto& entry : fs::directory_iterator(callDir)) {
        if (fs::exists(entry.path() / "done")) {
            dirs.push_back(entry.path());
        }
    }
    std::sort(dirs.begin(), dirs.end(), [](const fs::path& a, const fs::path& b) {
        return fs::last_write_time(a / "done") < fs::last_write_time(b / "done");
    });
    for (const auto& dir : dirs) {
        MailerCall call;
        const std::string args = readFile(dir / "args");
        for (std::size_t start = 0; start < args.size();) {
            const auto end = args.find('\0', start);
            call.arguments.push_back(args.substr(start, end - start));
            start = end + 1;
        }
        if (fs::exists(dir / "body")) {
            call.body = readFile(dir / "body");
        }
        result.push_back(std::move(call));
    }
    return result;
}

bool waitForCalls(const std::string& folder, std::size_t count) {
    return waitFor([&] { return recordedCalls(folder).size() >= count; });
}

std::string installRecorder(const std::string& folder) {
    const std::string path = folder + "/mailer.sh";
    fs::copy_file(WFB_RECORDER, path);
    return path;
}

} // namespace wfb::test
