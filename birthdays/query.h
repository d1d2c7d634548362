#pragma once

#include "date.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wfb {

class TMdbDatabase;

// What a field holds.
enum class FieldKind { text, integer, dateTime };

// A result field as the query declares it: the column it shows and its kind.
struct TFieldDef {
    std::string_view FieldName;
    FieldKind DataType;
};

// The fields of the query `Fahrer`.
inline constexpr TFieldDef FahrerMitarbeiter{"Mitarbeiter", FieldKind::text};
inline constexpr TFieldDef FahrerTelefon{"Telefon", FieldKind::text};
inline constexpr TFieldDef FahrerGeburtsdatum{"Geburtsdatum", FieldKind::dateTime};
inline constexpr TFieldDef FahrerAlter{"Alter", FieldKind::integer};

// The query `Fahrer`: the active employees of table u_fahrer whose birthday is today.
//
// Its statement text is the three designed lines and the filter line added at start-up; the
// program keeps it as the record of what it asks. What the query does is that statement's
// result, carried out natively on the table: the rows whose `aktiv` is true and whose
// `Geburtstag` falls on the filter's month and day (never a row without a birthday), with
//   Mitarbeiter  = Vorname, one blank and Nachname, outer blanks trimmed,
//   Telefon      = Telefon as stored (empty when missing),
//   Geburtsdatum = Geburtstag,
//   Alter        = the year of today minus the year of Geburtstag,
// ordered by Nachname as Access orders text: without regard to case, letters with accents or
// umlauts next to their base letter, missing names first, equal names in table order. Table and
// column names are matched without regard to case. Only today's rows are kept in memory.
class TMdbQuery {
public:
    // The designed statement, before the filter line.
    static constexpr std::string_view designedStatement[] = {
        "SELECT trim(Vorname & \" \" & nachname) as Mitarbeiter,Telefon, Geburtstag as "
        "Geburtsdatum,",
        "DateDiff('yyyy',Geburtstag,Date()) AS [Alter]",
        "FROM u_fahrer",
    };
    // The filter line, filled with today's month and day.
    static constexpr const char* filterFormat =
        "where montH(geburtstag)=%d and day(geburtstag)=%d and aktiv=true ORDER BY Nachname";

    explicit TMdbQuery(TMdbDatabase& database);

    // The statement's lines; handed over, each is followed by CR LF.
    const std::vector<std::string>& SQL() const { return sql_; }
    std::string statementText() const;

    // Adds the filter line for today's month and day as the statement's fourth line (it replaces
    // an earlier one). Today is also the statement's Date(), the day the ages are reckoned on.
    void addFilterLine(const Date& today);

    // Runs the statement. The connection must be open. Throws a Failure naming the table or the
    // column when the table or one of the columns Vorname, Nachname, Telefon (text), Geburtstag
    // (date) and aktiv (yes/no) is missing or of another kind, or when the file is damaged.
    void open();
    bool active() const { return active_; }
    // Forgets the rows.
    void close();

    // The exact number of rows.
    int recordCount() const;
    bool eof() const;
    void next();

    // A column of the current row by name (without regard to case): as Windows-1252 text (a
    // missing value reads as the empty text), or as an integer.
    std::string fieldAsText(std::string_view name) const;
    int fieldAsInteger(std::string_view name) const;

    // One row of the result.
    struct Row {
        std::string mitarbeiter; // Windows-1252
        std::string telefon;     // Windows-1252
        Date geburtsdatum;
        int alter = 0;
    };

private:
    const Row& current(std::string_view name) const;

    TMdbDatabase& database_;
    std::vector<std::string> sql_;
    std::optional<Date> today_;
    std::vector<Row> rows_;
    std::size_t current_ = 0;
    bool active_ = false;
};

} // namespace wfb
