#include "date.h"

#include <cmath>
#include <ctime>

namespace wfb {
namespace {

// Days of 30 December 1899, Access's day 0, counted from 1 January 1970.
constexpr long accessEpoch = -25569;
// Access's first and last day: 1 January 100 and 31 December 9999.
constexpr double firstAccessDay = -657434;
constexpr double lastAccessDay = 2958465;

// The civil date of a day counted from 1 January 1970 (proleptic Gregorian calendar).
Date civilFromDays(long days) {
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long dayOfEra = days - era * 146097;
    const long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long shiftedMonth = (5 * dayOfYear + 2) / 153; // March is 0
    const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return {static_cast<int>(year), month, day};
}

} // namespace

Date localToday() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::optional<Date> dateFromAccess(double value) {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    const double day = std::trunc(value);
    if (day < firstAccessDay || day > lastAccessDay) {
        return std::nullopt;
    }
    return civilFromDays(static_cast<long>(day) + accessEpoch);
}

} // namespace wfb
