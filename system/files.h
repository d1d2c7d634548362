#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace wfb {

// An open file descriptor, closed on every way out.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    int get() const { return fd_; }
    // Takes another descriptor, closing the one held.
    void reset(int fd);
    // Closes now, so that a failure to close is seen; returns 0 or the errno value.
    int close();

private:
    int fd_ = -1;
};

// Why a file could not be read or written, for the caller's message ("Die Vorlage „…“ kann
// nicht gelesen werden: " + reason): the errno value behind it and the reason in German — the
// system's words, or what lies at the path when it is no file, where a symbolic link leads, a
// limit that was passed. Code 0 means that nothing failed.
struct FileError {
    int code = 0;
    std::string reason;
    // Nothing at all lies at the path, not even a symbolic link: a settings file that is not
    // there is no failure, one whose link leads nowhere is.
    bool absent = false;

    explicit operator bool() const { return code != 0; }
};

// The largest file read whole (template, settings, the list the mailer sends): far more than a
// person writes, far less than memory holds.
constexpr std::size_t maxTextFileSize = 64 * 1024 * 1024;

// Temporary files of an interrupted replacement older than this are removed by the next one.
constexpr std::chrono::minutes staleTemporaryAge{5};

// Writes all the bytes to the descriptor. Returns 0, or the errno value of what failed.
int writeAll(int fd, std::string_view bytes);

// Where the chain of symbolic links at path ends: each link read in turn, a relative target
// taken against the folder of its link; the path itself when it is no link. The end need not
// exist. Returns 0, or the errno value (ELOOP after 40 links).
int followLinks(const std::string& path, std::string& end);

// Opens the file at path for reading, never blocking: only a regular file is opened (after
// following symbolic links); a named pipe, a device, a socket or a directory is refused before
// anything is read from it. On success fd holds the file and info its status.
FileError openForReading(const std::string& path, FileDescriptor& fd, struct stat& info);

// Whether a regular file lies at path that can be opened for reading: nothing failed, or why not.
FileError checkReadable(const std::string& path);

// Reads a whole regular file into content, at most limit bytes: a bigger file is refused, naming
// the limit.
FileError readWholeFile(const std::string& path, std::string& content, std::size_t limit);

// Replaces the file's content with the bytes so that a failure on the way leaves the old content
// whole. The bytes go to a new file beside it, which then takes the old one's place (keeping its
// permissions). A symbolic link is followed to its end and stays as it is, also when its end does
// not exist yet (then its folder must). Where the folder takes no new file but the file itself is
// writable, the file is overwritten in place, once the space for the new content is reserved.
// Anything but a regular file at the end is refused. Temporary files that an interrupted
// replacement of the same file left beside it are removed.
FileError replaceWholeFile(const std::string& path, std::string_view bytes);

} // namespace wfb
