#include "outbox.h"

#include "system/failure.h"
#include "system/files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace wfb::mailer {
namespace {

// Removes the temporary file unless it was renamed.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }
    const std::string& path() const { return path_; }
    void release() { path_.clear(); }

private:
    std::string path_;
};

// Renames without replacing: 0, EEXIST when the name is taken, or another errno value.
int renameNew(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without that kind of rename: a hard link cannot replace a file either.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    ::unlink(from.c_str());
    return 0;
}

} // namespace

std::string fileName(std::time_t now, unsigned counter) {
    std::tm local{};
    char stamp[32] = "00000000-000000";
    if (::localtime_r(&now, &local) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    }
    return std::string(stamp) + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter) +
           ".eml";
}

std::string Outbox::put(std::string_view message, std::time_t now) {
    return store(directory_, message, now);
}

std::string Outbox::keep(std::string_view message, std::time_t now) {
    return store(failedDirectory(), message, now);
}

std::string Outbox::store(const std::string& directory, std::string_view message, std::time_t now) {
    const auto fail = [&](const std::string& what, int error) -> std::string {
        throw Failure("Die Nachricht kann nicht im Postausgang " + quoted(directory) +
                      " abgelegt werden: " + what + ": " + systemReason(error));
    };
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        return fail("Der Ordner lässt sich nicht anlegen", error.value());
    }

    // A hidden name, so that nobody takes the temporary file for a message.
    std::string pattern = directory + "/.wiegenfestbote-mailer-XXXXXX";
    FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return fail("Die Datei lässt sich nicht anlegen", errno);
    }
    TemporaryFile temporary(pattern);
    if (const int e = writeAll(fd.get(), message); e != 0) {
        return fail("Die Datei lässt sich nicht schreiben", e);
    }
    if (::fsync(fd.get()) != 0) {
        return fail("Die Datei lässt sich nicht auf die Platte schreiben", errno);
    }
    if (const int e = fd.close(); e != 0) {
        return fail("Die Datei lässt sich nicht schließen", e);
    }

    for (unsigned attempt = 0; attempt < 10000; ++attempt) {
        const std::string path = directory + "/" + fileName(now, next_++);
        const int e = renameNew(temporary.path(), path);
        if (e == EEXIST) {
            continue;
        }
        if (e != 0) {
            return fail("Die Datei lässt sich nicht umbenennen in " + quoted(path), e);
        }
        temporary.release();
        // The new name is on disk only once the folder is.
        FileDescriptor folder(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.get() >= 0) {
            ::fsync(folder.get());
        }
        return path;
    }
    return fail("Es findet sich kein freier Dateiname", EEXIST);
}

} // namespace wfb::mailer
