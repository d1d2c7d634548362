#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace wfb::test {

// A fresh directory for one test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    const std::string& path() const { return path_; }
    // The path of a name inside the directory.
    std::string operator/(std::string_view name) const;

    // Writes a file inside the directory and returns its path.
    std::string write(std::string_view name, std::string_view content) const;

private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, std::string_view content);

} // namespace wfb::test
