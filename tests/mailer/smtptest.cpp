#include "smtptest.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace wfb::test {
namespace {

const std::string python = "/usr/bin/python3";
const std::string scripts = WFB_MAILER_TEST_SCRIPTS;

std::atomic<unsigned> runs{0};

// Starts a program with stdin from /dev/null and stdout, stderr into files; returns its pid.
pid_t spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
    return pid;
}

// Waits for the process until the deadline; the exit status, or -1 when it had to be killed.
int waitFor(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (done < 0 && errno != EINTR) {
            return -1;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string readIfThere(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const TempDir& scratch,
                         std::chrono::seconds limit) {
    const std::string base = scratch / ("run" + std::to_string(++runs));
    const pid_t pid = spawn(argv, base + ".out", base + ".err");
    ProcessResult result;
    result.status = waitFor(pid, std::chrono::steady_clock::now() + limit);
    result.out = readIfThere(base + ".out");
    result.err = readIfThere(base + ".err");
    return result;
}

Certificate makeCertificate(const TempDir& dir, const std::string& name) {
    Certificate certificate{dir / (name + "-cert.pem"), dir / (name + "-key.pem")};
    const auto result = runProcess({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                                    "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                                    "-keyout", certificate.key, "-out", certificate.cert},
                                   dir, std::chrono::seconds(60));
    if (result.status != 0) {
        throw std::runtime_error("openssl failed: " + result.err);
    }
    return certificate;
}

SmtpServer::SmtpServer(const TempDir& dir, std::vector<std::string> options) {
    static std::atomic<unsigned> servers{0};
    const std::string name = "smtp" + std::to_string(++servers);
    store_ = dir / (name + "-store");
    logPath_ = dir / (name + ".log");
    const std::string ready = dir / (name + ".port");
    std::filesystem::create_directories(store_);

    std::vector<std::string> argv = {python,    "-I", scripts + "/smtpserver.py", "--store", store_,
                                     "--ready", ready};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = spawn(argv, dir / (name + ".out"), logPath_);

    // Python and aiosmtpd take a moment to start, longer on a busy machine.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (port_ == 0) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the test mail server ended at once:\n" + log());
        }
        std::istringstream(readIfThere(ready)) >> port_;
        if (port_ == 0 && std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            throw std::runtime_error("the test mail server did not start:\n" + log());
        }
        if (port_ == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

SmtpServer::~SmtpServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        waitFor(pid_, std::chrono::steady_clock::now() + std::chrono::seconds(10));
    }
}

std::vector<Received> SmtpServer::received() const {
    std::vector<Received> messages;
    for (int n = 1;; ++n) {
        const std::string base = store_ + "/" + std::to_string(n);
        if (!std::filesystem::exists(base + ".envelope")) {
            break;
        }
        Received message;
        message.path = base + ".eml";
        message.data = readFile(message.path);
        std::istringstream envelope(readFile(base + ".envelope"));
        for (std::string line; std::getline(envelope, line);) {
            if (line.starts_with("from ")) {
                message.mailFrom = line.substr(5);
            } else if (line.starts_with("to ")) {
                message.rcptTo.push_back(line.substr(3));
            }
        }
        messages.push_back(std::move(message));
    }
    return messages;
}

std::string SmtpServer::log() const {
    return readIfThere(logPath_);
}

DeadPort::DeadPort(bool listen) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        (listen && ::listen(fd_, 4) != 0)) {
        throw std::runtime_error(std::string("cannot set up a loopback port: ") +
                                 std::strerror(errno));
    }
    port_ = ntohs(address.sin_port);
}

DeadPort::~DeadPort() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::string ParsedMail::operator[](const std::string& name) const {
    const auto found = fields.find(name);
    return found == fields.end() || found->second.empty() ? std::string() : found->second.front();
}

ParsedMail parseMail(const std::string& path, const TempDir& scratch) {
    static std::atomic<unsigned> parses{0};
    const std::string bodyPath = scratch / ("body" + std::to_string(++parses));
    const auto result = runProcess({python, "-I", scripts + "/mailcheck.py", path, bodyPath},
                                   scratch, std::chrono::seconds(60));
    if (result.status != 0) {
        throw std::runtime_error("Python cannot read the message " + path + ":\n" + result.err);
    }
    ParsedMail mail;
    mail.report = result.out;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(": ");
        if (colon != std::string::npos) {
            mail.fields[line.substr(0, colon)].push_back(line.substr(colon + 2));
        } else if (!line.empty() && line.back() == ':') {
            mail.fields[line.substr(0, line.size() - 1)].push_back("");
        }
    }
    mail.body = readFile(bodyPath);
    return mail;
}

std::vector<std::string> messageFiles(const std::string& directory) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        if (entry.is_regular_file() && entry.path().extension() == ".eml") {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace wfb::test
