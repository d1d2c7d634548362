#pragma once

#include <string>
#include <string_view>

namespace wfb {

// Reads a whole file into content. Returns 0, or the errno value of what failed.
int readWholeFile(const std::string& path, std::string& content);

// Creates or truncates the file and writes the bytes. Returns 0, or the errno value of what
// failed.
int writeWholeFile(const std::string& path, std::string_view bytes);

} // namespace wfb
