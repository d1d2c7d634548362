#include "system/files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wfb {
FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int FileDescriptor::close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
}

int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

int readWholeFile(const std::string& path, std::string& content) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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

namespace {

// The file a path names, through a symbolic link.
std::string followLink(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        return path;
    }
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

} // namespace

int writeWholeFile(const std::string& path, std::string_view bytes) {
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
        return errno;
    }
    if (const int error = writeAll(fd.get(), bytes); error != 0) {
        return error;
    }
    return fd.close();
}

int replaceWholeFile(const std::string& path, std::string_view bytes) {
    const std::string target = followLink(path);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) {
        return EISDIR;
    }

    const auto slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%d.%d.tmp", static_cast<int>(::getpid()), attempt);
        temporary = directory + "." + name + suffix;
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM || error == EROFS) {
            return writeWholeFile(target, bytes);
        }
        return error;
    }
    FileDescriptor file(fd);
    int error = writeAll(file.get(), bytes);
    if (error == 0 && exists && ::fchmod(file.get(), old.st_mode & 07777) != 0) {
        error = errno;
    }
    if (error == 0 && ::fdatasync(file.get()) != 0) {
        error = errno;
    }
    if (error == 0) {
        error = file.close();
    }
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
    }
    return error;
}

} // namespace wfb
