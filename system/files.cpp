#include "system/files.h"

#include "system/failure.h"
#include "system/paths.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace wfb {

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void FileDescriptor::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
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

namespace {

// The path of a link's target: an absolute one as it stands, a relative one in the link's
// folder. ".." is left to the system, which takes it from the real folder of the link.
std::string targetOf(const std::string& link, const std::string& target) {
    if (target.starts_with('/')) {
        return target;
    }
    std::string folder = directoryOf(link);
    if (folder.empty()) {
        return target;
    }
    if (!folder.ends_with('/')) {
        folder += '/';
    }
    return folder + target;
}

// What lies at a path where no regular file lies, in words.
std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return systemReason(EISDIR);
    }
    if (S_ISFIFO(mode)) {
        return "Es ist eine benannte Pipe (FIFO), keine Datei";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "Es ist ein Gerät, keine Datei";
    }
    if (S_ISSOCK(mode)) {
        return "Es ist ein Socket, keine Datei";
    }
    return "Es ist keine gewöhnliche Datei";
}

// The errno value that stands for a kind of file that is refused.
int codeOf(mode_t mode) {
    return S_ISDIR(mode) ? EISDIR : EINVAL;
}

// Whether the path itself is a symbolic link (and not what it leads to).
bool isLink(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// A failure at the path, said of what lies at the end of its links when it is a link.
FileError failureAt(const std::string& path, int code, const std::string& what) {
    if (!isLink(path)) {
        return {code, what, false};
    }
    std::string end;
    if (const int error = followLinks(path, end); error != 0) {
        return {error, systemReason(error), false};
    }
    return {code, "Der Verweis führt nach " + quoted(end) + ": " + what, false};
}

FileError systemFailureAt(const std::string& path, int error) {
    if (error == ENOENT && isLink(path)) {
        return failureAt(path, error, "Dort liegt nichts");
    }
    FileError failure = failureAt(path, error, systemReason(error));
    failure.absent = error == ENOENT;
    return failure;
}

FileError kindFailureAt(const std::string& path, mode_t mode) {
    return failureAt(path, codeOf(mode), kindOf(mode));
}

std::string sizeText(std::size_t bytes) {
    constexpr std::size_t mebibyte = 1024 * 1024;
    if (bytes % mebibyte == 0) {
        return std::to_string(bytes / mebibyte) + " MiB";
    }
    return std::to_string(bytes) + " Bytes";
}

FileError tooBig(std::size_t limit) {
    return {EFBIG,
            "Die Datei ist größer als " + sizeText(limit) +
                "; so große Dateien liest das Programm nicht",
            false};
}

} // namespace

int followLinks(const std::string& path, std::string& end) {
    std::string current = path;
    for (int links = 0; links <= 40; ++links) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0) {
            if (errno != ENOENT) {
                return errno;
            }
            end = current;
            return 0;
        }
        if (!S_ISLNK(info.st_mode)) {
            end = current;
            return 0;
        }
        std::string target(static_cast<std::size_t>(info.st_size) + 1, '\0');
        for (;;) {
            const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
            if (n < 0) {
                return errno;
            }
            if (static_cast<std::size_t>(n) < target.size()) {
                target.resize(static_cast<std::size_t>(n));
                break;
            }
            // The link changed since lstat and grew.
            target.resize(target.size() * 2);
        }
        current = targetOf(current, target);
    }
    return ELOOP;
}

FileError openForReading(const std::string& path, FileDescriptor& fd, struct stat& info) {
    // Looked at before it is opened: a device is not opened at all, a socket cannot be.
    if (::stat(path.c_str(), &info) != 0) {
        return systemFailureAt(path, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return kindFailureAt(path, info.st_mode);
    }
    // Without blocking and looked at again: something else may have taken the file's place.
    fd.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        return systemFailureAt(path, errno);
    }
    if (::fstat(fd.get(), &info) != 0) {
        return systemFailureAt(path, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return kindFailureAt(path, info.st_mode);
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return systemFailureAt(path, errno);
    }
    return {};
}

FileError checkReadable(const std::string& path) {
    FileDescriptor fd;
    struct stat info {};
    return openForReading(path, fd, info);
}

FileError readWholeFile(const std::string& path, std::string& content, std::size_t limit) {
    FileDescriptor fd;
    struct stat info {};
    if (FileError error = openForReading(path, fd, info)) {
        return error;
    }
    if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > limit) {
        return tooBig(limit);
    }
    std::string read;
    read.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return systemFailureAt(path, errno);
        }
        if (n == 0) {
            break;
        }
        // The file may have grown since it was looked at.
        if (static_cast<std::size_t>(n) > limit - read.size()) {
            return tooBig(limit);
        }
        read.append(buffer, static_cast<std::size_t>(n));
    }
    content += read;
    return {};
}

namespace {

struct DirectoryCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Whether name is that of a temporary file of the file named target: ".<target>.<pid>.<n>.tmp".
bool isTemporaryOf(std::string_view name, std::string_view target) {
    const auto digits = [&name]() {
        std::size_t n = 0;
        while (n < name.size() && name[n] >= '0' && name[n] <= '9') {
            ++n;
        }
        name.remove_prefix(n);
        return n > 0;
    };
    if (!name.starts_with('.') || !name.substr(1).starts_with(target)) {
        return false;
    }
    name.remove_prefix(1 + target.size());
    if (!name.starts_with('.')) {
        return false;
    }
    name.remove_prefix(1);
    if (!digits() || !name.starts_with('.')) {
        return false;
    }
    name.remove_prefix(1);
    return digits() && name == ".tmp";
}

// Removes the temporary files of target in its folder that a replacement which never ended left
// behind. Their age is measured against the time the file system gave the temporary file just
// made (own), the clock that stamped them too, whatever the clock of this process says.
void removeStaleTemporaries(const std::string& folder, const std::string& target,
                            const std::string& own) {
    const std::unique_ptr<DIR, DirectoryCloser> dir(
        ::opendir(folder.empty() ? "." : folder.c_str()));
    struct stat made {};
    if (!dir || ::fstatat(::dirfd(dir.get()), own.c_str(), &made, AT_SYMLINK_NOFOLLOW) != 0) {
        return;
    }
    const auto now = made.st_mtim;
    const auto limit = std::chrono::seconds(staleTemporaryAge).count();
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == own || !isTemporaryOf(name, target)) {
            continue;
        }
        struct stat info {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && now.tv_sec - info.st_mtim.tv_sec > limit) {
            ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
        }
    }
}

const char* const unchanged = "; der bisherige Inhalt ist unverändert";

// Overwrites the file in place, for a folder that takes no new file. The space for the new
// content is reserved first, so that a full disk fails before the old content is touched.
FileError overwriteInPlace(const std::string& path, const std::string& target,
                           std::string_view bytes) {
    FileDescriptor file(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
        return systemFailureAt(path, errno);
    }
    struct stat old {};
    if (::fstat(file.get(), &old) != 0) {
        return systemFailureAt(path, errno);
    }
    if (!S_ISREG(old.st_mode)) {
        return kindFailureAt(path, old.st_mode);
    }
    const auto oldSize = old.st_size;
    const auto newSize = static_cast<off_t>(bytes.size());
    if (newSize > 0 && ::fallocate(file.get(), 0, 0, newSize) != 0) {
        const int error = errno;
        // A file system that cannot reserve space: overwriting blocks the file already has
        // needs none, anything more might run out of it half way.
        const bool allocated = old.st_blocks * 512 >= oldSize;
        if (error != EOPNOTSUPP && error != ENOSYS) {
            // What a failed reservation may have added goes again.
            struct stat now {};
            if (::fstat(file.get(), &now) == 0 && now.st_size != oldSize) {
                [[maybe_unused]] const int ignored = ::ftruncate(file.get(), oldSize);
            }
            return failureAt(path, error, systemReason(error) + unchanged);
        }
        if (newSize > oldSize || !allocated) {
            return failureAt(path, error,
                             "Der Ordner " + quoted(directoryOf(target)) +
                                 " nimmt keine neue Datei auf, und das Dateisystem kann den "
                                 "Platz zum Überschreiben nicht vorab reservieren" +
                                 unchanged);
        }
    }
    if (const int error = writeAll(file.get(), bytes); error != 0) {
        return failureAt(path, error,
                         systemReason(error) +
                             "; der bisherige Inhalt ist teilweise überschrieben");
    }
    if (oldSize > newSize && ::ftruncate(file.get(), newSize) != 0) {
        return systemFailureAt(path, errno);
    }
    if (::fdatasync(file.get()) != 0) {
        return systemFailureAt(path, errno);
    }
    if (const int error = file.close(); error != 0) {
        return systemFailureAt(path, error);
    }
    return {};
}

} // namespace

FileError replaceWholeFile(const std::string& path, std::string_view bytes) {
    std::string target;
    if (const int error = followLinks(path, target); error != 0) {
        return {error, systemReason(error), false};
    }
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        return systemFailureAt(path, errno);
    }
    if (exists && !S_ISREG(old.st_mode)) {
        return kindFailureAt(path, old.st_mode);
    }
    const std::string folder = directoryOf(target);
    if (!exists && target != path) {
        // A link that leads nowhere yet: its end is made, in a folder that must be there.
        struct stat info {};
        if (::stat(folder.empty() ? "." : folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            return {ENOENT,
                    "Der Verweis führt nach " + quoted(target) + ", doch der Ordner " +
                        quoted(folder) + " fehlt",
                    false};
        }
    }

    const std::string name = fileNameOf(target);
    const std::string prefix = folder.empty() ? "" : folder.ends_with('/') ? folder : folder + "/";
    std::string temporaryName;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%d.%d.tmp", static_cast<int>(::getpid()), attempt);
        temporaryName = "." + name + suffix;
        fd =
            ::open((prefix + temporaryName).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        const int error = errno;
        if (exists && (error == EACCES || error == EPERM || error == EROFS)) {
            return overwriteInPlace(path, target, bytes);
        }
        return systemFailureAt(path, error);
    }
    const std::string temporary = prefix + temporaryName;
    FileDescriptor file(fd);
    removeStaleTemporaries(folder, name, temporaryName);
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
        return failureAt(path, error, systemReason(error) + (exists ? unchanged : ""));
    }
    return {};
}

} // namespace wfb
