#pragma once

#include <optional>

namespace wfb {

// A day of the Gregorian calendar.
struct Date {
    int year = 0;
    int month = 0; // 1 to 12
    int day = 0;   // 1 to 31

    friend bool operator==(const Date&, const Date&) = default;
};

// The machine's local date, now.
Date localToday();

// The calendar day of an Access date/time value: days since 30 December 1899, with the time of
// day as the fraction (before that day too, so the whole part alone names the day). Nothing for a
// value that is no number or lies outside the years 100 to 9999, the range Access keeps.
std::optional<Date> dateFromAccess(double value);

} // namespace wfb
