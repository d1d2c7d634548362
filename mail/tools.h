#pragma once

#include <string>
#include <vector>

namespace wfb {

// Starts a program with its arguments and returns at once: the program runs on by itself,
// detached from this process (no waiting, nothing left to reap). A program name without a slash
// is looked up on the PATH as a shell looks it up. No shell is involved, so nothing in the
// arguments is ever run as a command. An empty program name starts nothing.
// Throws a Failure when the program cannot be started.
void ShellOpen(const std::string& program, const std::vector<std::string>& arguments);

// Where a program name leads: itself when it holds a slash, else the first executable file of
// that name in the PATH's directories. Empty when there is none.
std::string findProgram(const std::string& program, const std::string& searchPath);

} // namespace wfb
