#include "report.h"

namespace wfb {

std::string boxText(std::string_view message) {
    std::string text(message);
    // Compared as unsigned bytes: the last byte of a UTF-8 sequence is above 0x7F, and every
    // character beyond ASCII sorts after the full stop as well.
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') {
        text += '.';
    }
    return text;
}

} // namespace wfb
