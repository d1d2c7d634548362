#pragma once

#include <string>
#include <string_view>

namespace wfb {

// An open file descriptor, closed on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    int get() const { return fd_; }
    // Closes now, so that a failure to close is seen; returns 0 or the errno value.
    int close();

private:
    int fd_;
};

// Writes all the bytes to the descriptor. Returns 0, or the errno value of what failed.
int writeAll(int fd, std::string_view bytes);

// Reads a whole file into content. Returns 0, or the errno value of what failed.
int readWholeFile(const std::string& path, std::string& content);

// Creates or truncates the file and writes the bytes. Returns 0, or the errno value of what
// failed.
int writeWholeFile(const std::string& path, std::string_view bytes);

// Replaces the file's content with the bytes so that a failure on the way leaves the old content
// whole: the bytes go to a new file beside it, which then takes the old one's place (keeping its
// permissions; a symbolic link is followed). Where the directory takes no new file but the file
// itself is writable, the file is overwritten in place. Returns 0, or the errno value of what
// failed.
int replaceWholeFile(const std::string& path, std::string_view bytes);

} // namespace wfb
