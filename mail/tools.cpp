#include "tools.h"

#include "system/failure.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace wfb {
namespace {

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

[[noreturn]] void cannotStart(const std::string& program, int error) {
    throw Failure("Der Mailer " + quoted(program) +
                  " kann nicht gestartet werden: " + systemReason(error));
}

// The ends of a pipe, closed on every way out.
struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            read = ends[0];
            write = ends[1];
        }
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    ~Pipe() {
        closeWrite();
        if (read >= 0) {
            ::close(read);
        }
    }
    void closeWrite() {
        if (write >= 0) {
            ::close(write);
            write = -1;
        }
    }
};

// In a child of fork(): reports an errno value to the parent and ends.
[[noreturn]] void reportAndExit(int fd, int error) {
    [[maybe_unused]] const ssize_t ignored = ::write(fd, &error, sizeof error);
    ::_exit(127);
}

} // namespace

std::string findProgram(const std::string& program, const std::string& searchPath) {
    if (program.find('/') != std::string::npos) {
        return program;
    }
    for (std::size_t start = 0;;) {
        const auto end = searchPath.find(':', start);
        std::string directory = searchPath.substr(start, end - start);
        // An empty entry stands for the current directory, as in the shell.
        std::string candidate = (directory.empty() ? "." : directory) + "/" + program;
        if (isExecutableFile(candidate)) {
            return candidate;
        }
        if (end == std::string::npos) {
            return {};
        }
        start = end + 1;
    }
}

void ShellOpen(const std::string& program, const std::vector<std::string>& arguments) {
    if (program.empty()) {
        return;
    }
    const char* pathVariable = std::getenv("PATH");
    const std::string path = findProgram(
        program, pathVariable != nullptr ? pathVariable : "/usr/local/bin:/usr/bin:/bin");
    if (path.empty()) {
        throw Failure("Der Mailer " + quoted(program) +
                      " kann nicht gestartet werden: Er ist in keinem Verzeichnis des Suchpfads "
                      "(PATH) zu finden");
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        cannotStart(program, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        cannotStart(program, S_ISDIR(info.st_mode) ? EISDIR : EACCES);
    }

    // Everything the children need is made here: after fork() they only call what is safe there.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    // The program is started by a short-lived child, so that it becomes a child of init and
    // nobody has to wait for it. A pipe closed on exec tells whether exec worked.
    Pipe status;
    if (status.read < 0) {
        cannotStart(program, errno);
    }
    const pid_t child = ::fork();
    if (child < 0) {
        cannotStart(program, errno);
    }
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild < 0) {
            reportAndExit(status.write, errno);
        }
        if (grandchild == 0) {
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::signal(SIGPIPE, SIG_DFL);
            ::execve(path.c_str(), argv.data(), environ);
            reportAndExit(status.write, errno);
        }
        ::_exit(0);
    }
    status.closeWrite();
    int error = 0;
    ssize_t n;
    do {
        n = ::read(status.read, &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (n == sizeof error) {
        cannotStart(program, error);
    }
}

} // namespace wfb
