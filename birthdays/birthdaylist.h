#pragma once

#include "database.h"
#include "date.h"
#include "query.h"

#include <functional>
#include <string>
#include <string_view>

namespace wfb {

// The database components of the birthday list, owned by whoever composes it (the main window)
// for the whole run: the connection stays open until the program ends.
struct BirthdayComponents {
    TMdbDatabase Datenbank;
    TMdbQuery Fahrer{Datenbank};
};

// The line of one employee, and the line of a day without birthdays (Windows-1252).
inline constexpr const char* entryFormat = "%s (%s): %d Jahre";
inline constexpr std::string_view emptyDayLine = "Keine Geburtstage am heutigen Tag.";

// The entry line: the format filled with Mitarbeiter, Telefon and Alter.
std::string entryLine(std::string_view mitarbeiter, std::string_view telefon, int alter);

// Appends one line to the list text.
using AppendLine = std::function<void(std::string_view line)>;

// Composes today's birthday list: opens the database at databasePath with the password (when
// no file lies there, the file of the same name beside the executable), reads today from the
// clock once while building the query, sets birthdayCount to the number of rows as soon as the
// query is open, and appends for every row its entry line and an empty line, or, when there is
// no row, the empty-day line.
//
// A failure throws: before the query is open, birthdayCount stays as it was and nothing is
// appended; while reading the rows, the count and the lines appended so far stay. The empty-day
// line is only appended when nothing failed.
void composeBirthdayList(BirthdayComponents& components, const std::string& databasePath,
                         const std::string& password, const std::string& executable,
                         const std::function<Date()>& today, const AppendLine& appendLine,
                         int& birthdayCount);

} // namespace wfb
