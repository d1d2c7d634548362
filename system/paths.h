#pragma once

#include <string>
#include <string_view>

namespace wfb {

// The full path of the running program, symbolic links resolved: the settings file and the list
// file lie beside the real executable, wherever a link to it was started from.
std::string executablePath();

// The path with the extension of its file name replaced (".ini", ".txt"); a file name without a
// dot gets the extension appended. Dots in directory names do not count.
std::string replaceExtension(std::string_view path, std::string_view extension);

// The directory part of a path, without the final slash ("" for a bare name).
std::string directoryOf(std::string_view path);

// The file name part of a path.
std::string fileNameOf(std::string_view path);

} // namespace wfb
