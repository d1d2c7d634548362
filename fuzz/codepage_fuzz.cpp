// The Windows-1252 conversions: every 8-bit text survives the way through UTF-8, and any bytes
// read as UTF-8 give one byte per character.

#include "fuzz_check.h"
#include "text/codepage.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const std::string utf8 = wfb::cp1252::toUtf8(input);
    FUZZ_CHECK(wfb::cp1252::fromUtf8(utf8) == input);
    FUZZ_CHECK(utf8.size() >= input.size() && utf8.size() <= 3 * input.size());

    const std::string bytes = wfb::cp1252::fromUtf8(input);
    FUZZ_CHECK(bytes.size() <= input.size());
    // What came out is Windows-1252 text: back to UTF-8 and again gives the same bytes.
    FUZZ_CHECK(wfb::cp1252::fromUtf8(wfb::cp1252::toUtf8(bytes)) == bytes);
    return 0;
}
