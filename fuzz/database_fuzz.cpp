// The database layer over arbitrary bytes as an Access file: opening it and composing the list
// of a fixed day must end in a list or in a Failure, never in a crash or a hang.

#include "birthdays/birthdaylist.h"
#include "fuzz_check.h"
#include "system/failure.h"

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The bytes as a file in memory, opened through its path like any database.
    const int fd = ::memfd_create("wfb-fuzz.mdb", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    for (std::size_t written = 0; written < size;) {
        const ssize_t n = ::write(fd, data + written, size - written);
        FUZZ_CHECK(n > 0);
        written += static_cast<std::size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    for (const wfb::Date today : {wfb::Date{2026, 12, 11}, wfb::Date{2028, 2, 29}}) {
        wfb::BirthdayComponents components;
        int count = 0;
        std::size_t lines = 0;
        bool emptyDay = false;
        try {
            wfb::composeBirthdayList(
                components, path, "", "", [today] { return today; },
                [&](std::string_view line) {
                    ++lines;
                    emptyDay = line == wfb::emptyDayLine;
                },
                count);
            FUZZ_CHECK(count >= 0);
            FUZZ_CHECK(count == 0 ? lines == 1 && emptyDay
                                  : lines == 2 * static_cast<std::size_t>(count));
        } catch (const wfb::Failure& failure) {
            FUZZ_CHECK(*failure.what() != '\0');
            FUZZ_CHECK(!emptyDay);
        }
    }
    ::close(fd);
    return 0;
}
