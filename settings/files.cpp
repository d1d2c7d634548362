#include "files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wfb {
namespace {

// Closes a descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closes now, so that a failure to close is seen; returns 0 or the errno value.
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 ? 0 : errno;
    }

private:
    int fd_;
};

} // namespace

int readWholeFile(const std::string& path, std::string& content) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return errno;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode)) {
        content.reserve(content.size() + static_cast<std::size_t>(info.st_size));
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return 0;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
}

int writeWholeFile(const std::string& path, std::string_view bytes) {
    Descriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
        return errno;
    }
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd.get(), bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return fd.close();
}

} // namespace wfb
