#pragma once

#include <string>
#include <string_view>

namespace wfb {

// The text the error box shows for a failure's message: the message with a full stop added when
// its last character sorts after the full stop ("…gefunden" gets one, "…gefunden!" or "…)" not).
std::string boxText(std::string_view message);

} // namespace wfb
