#include "report.h"

#include <exception>
#include <new>

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

std::string messageOf(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return "Nicht genug Speicher";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unbekannter Fehler";
    }
}

} // namespace wfb
