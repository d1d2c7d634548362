#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace wfb {

// The text the error box shows for a failure's message: the message with a full stop added when
// its last character sorts after the full stop ("…gefunden" gets one, "…gefunden!" or "…)" not).
std::string boxText(std::string_view message);

// The message of whatever was thrown, for the place that reports it.
std::string messageOf(std::exception_ptr failure);

} // namespace wfb
