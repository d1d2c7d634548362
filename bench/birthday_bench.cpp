// Composes the birthday list from the database given on the command line, the way the program
// does at start-up, and prints how many rows it found and how long that took. Used by
// scripts/leistung (and scripts/bench-birthdays), which time it against a plain mdb-export of the
// same table.
//
//   wfb_birthday_bench DATABASE [YYYY-MM-DD] [--list]
//
// --list writes the list's lines (Windows-1252, CR LF) to standard output after the figures.

#include "birthdays/birthdaylist.h"
#include "system/failure.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
    const bool printList = argc > 2 && std::string_view(argv[argc - 1]) == "--list";
    const int positional = printList ? argc - 1 : argc;
    if (positional < 2 || positional > 3) {
        std::fprintf(stderr, "usage: %s DATABASE [YYYY-MM-DD] [--list]\n", argv[0]);
        return 2;
    }
    wfb::Date date = wfb::localToday();
    if (positional == 3 &&
        std::sscanf(argv[2], "%d-%d-%d", &date.year, &date.month, &date.day) != 3) {
        std::fprintf(stderr, "not a date: %s\n", argv[2]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    std::string list;
    int count = 0;
    try {
        wfb::BirthdayComponents components;
        wfb::composeBirthdayList(
            components, argv[1], "", "", [&] { return date; },
            [&](std::string_view line) {
                list += line;
                list += "\r\n";
            },
            count);
    } catch (const wfb::Failure& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    std::printf("rows=%d bytes=%zu ms=%.1f\n", count, list.size(), elapsed.count());
    if (printList) {
        std::fwrite(list.data(), 1, list.size(), stdout);
    }
    return 0;
}
