#include "query.h"

#include "database.h"
#include "mdbfile.h"
#include "mdbrows.h"
#include "system/failure.h"
#include "text/codepage.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace wfb {
namespace {

constexpr std::string_view tableName = "u_fahrer";

// Kinds of column the statement reads from the table.
enum class ColumnKind { text, date, yesNo };

struct SourceColumn {
    std::string_view name;
    ColumnKind kind;
};

// The columns the statement reads: the names and the kinds it needs them in.
constexpr SourceColumn vorname{"Vorname", ColumnKind::text};
constexpr SourceColumn nachname{"Nachname", ColumnKind::text};
constexpr SourceColumn telefon{"Telefon", ColumnKind::text};
constexpr SourceColumn geburtstag{"Geburtstag", ColumnKind::date};
constexpr SourceColumn aktiv{"aktiv", ColumnKind::yesNo};

bool isKind(int columnType, ColumnKind kind) {
    switch (kind) {
    case ColumnKind::text:
        return columnType == MDB_TEXT || columnType == MDB_MEMO;
    case ColumnKind::date:
        return columnType == MDB_DATETIME;
    case ColumnKind::yesNo:
        return columnType == MDB_BOOL;
    }
    return false;
}

std::string kindName(ColumnKind kind) {
    switch (kind) {
    case ColumnKind::text:
        return "Text";
    case ColumnKind::date:
        return "Datum/Uhrzeit";
    case ColumnKind::yesNo:
        return "Ja/Nein";
    }
    return {};
}

// A column type as Access names it.
std::string typeName(int columnType) {
    switch (columnType) {
    case MDB_BOOL:
        return "Ja/Nein";
    case MDB_BYTE:
        return "Zahl (Byte)";
    case MDB_INT:
        return "Zahl (Integer)";
    case MDB_LONGINT:
        return "Zahl (Long Integer)";
    case MDB_MONEY:
        return "Währung";
    case MDB_FLOAT:
        return "Zahl (Single)";
    case MDB_DOUBLE:
        return "Zahl (Double)";
    case MDB_DATETIME:
        return "Datum/Uhrzeit";
    case MDB_BINARY:
        return "Binär";
    case MDB_TEXT:
        return "Text";
    case MDB_OLE:
        return "OLE-Objekt";
    case MDB_MEMO:
        return "Memo";
    case MDB_REPID:
        return "Zahl (Replikations-ID)";
    case MDB_NUMERIC:
        return "Zahl (Dezimal)";
    case MDB_COMPLEX:
        return "Anlage";
    default:
        return "unbekannt (" + std::to_string(columnType) + ")";
    }
}

std::string trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

bool sameFieldName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return g_ascii_tolower(x) == g_ascii_tolower(y); });
}

// One matching row on its way into the result: the row and its sort key.
struct Match {
    bool nameIsNull = false;
    std::string name; // Nachname, UTF-8
    TMdbQuery::Row row;
};

// The scan of u_fahrer for one day.
class Scan {
public:
    Scan(const mdb::File& file, MdbCatalogEntry& entry, const Date& today)
        : file_(file), today_(today), rows_(file, entry) {
        vorname_ = column(vorname);
        nachname_ = column(nachname);
        telefon_ = column(telefon);
        geburtstag_ = column(geburtstag);
        aktiv_ = column(aktiv);
    }

    std::vector<Match> run() {
        rows_.run([this] { takeRow(); });
        return std::move(matches_);
    }

private:
    // The position of a column in the table definition, checked for its kind.
    std::size_t column(const SourceColumn& wanted) const {
        const std::optional<std::size_t> found = rows_.findColumn(wanted.name);
        if (!found) {
            throw Failure("In der Tabelle " + rows_.tableLabel() + " der Datenbank " +
                          quoted(file_.path()) + " fehlt die Spalte " +
                          quoted(std::string(wanted.name)));
        }
        const int type = rows_.column(*found).col_type;
        if (!isKind(type, wanted.kind)) {
            throw Failure("Die Spalte " + quoted(std::string(wanted.name)) + " der Tabelle " +
                          rows_.tableLabel() + " in " + quoted(file_.path()) + " hat den Typ " +
                          typeName(type) + ", erwartet ist " + kindName(wanted.kind));
        }
        return *found;
    }

    void takeRow() {
        // A yes/no value lies in the row's null mask: set means yes.
        if (rows_.isNull(aktiv_) || rows_.isNull(geburtstag_)) {
            return;
        }
        const std::optional<Date> born = dateFromAccess(rows_.dateValue(geburtstag_));
        if (!born) {
            throw rows_.damagedRow("hat einen Geburtstag außerhalb der Jahre 100 bis 9999");
        }
        if (born->month != today_.month || born->day != today_.day) {
            return;
        }
        Match match;
        const std::optional<std::string> first = rows_.text(vorname_);
        const std::optional<std::string> last = rows_.text(nachname_);
        match.nameIsNull = !last;
        match.name = last.value_or(std::string());
        match.row.mitarbeiter =
            cp1252::fromUtf8(trimBlanks(first.value_or(std::string()) + " " + match.name));
        match.row.telefon = cp1252::fromUtf8(rows_.text(telefon_).value_or(std::string()));
        match.row.geburtsdatum = *born;
        match.row.alter = today_.year - born->year;
        matches_.push_back(std::move(match));
    }

    const mdb::File& file_;
    Date today_;
    mdb::RowScan rows_;
    std::size_t vorname_ = 0;
    std::size_t nachname_ = 0;
    std::size_t telefon_ = 0;
    std::size_t geburtstag_ = 0;
    std::size_t aktiv_ = 0;
    std::vector<Match> matches_;
};

// Orders the matches by last name as Access orders text: a collation of secondary strength
// (case does not count, accents and umlauts come right after their base letter), missing names
// first; the sort is stable, so equal names keep the table's order.
void sortByLastName(std::vector<Match>& matches) {
    if (matches.size() < 2) {
        return;
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(icu::Locale::getGermany(), status));
    if (U_FAILURE(status) || !collator) {
        throw Failure(std::string("Die Sortierung nach Nachnamen ist nicht verfügbar (ICU: ") +
                      u_errorName(status) + ")");
    }
    collator->setStrength(icu::Collator::SECONDARY);
    std::stable_sort(matches.begin(), matches.end(), [&](const Match& a, const Match& b) {
        if (a.nameIsNull != b.nameIsNull) {
            return a.nameIsNull;
        }
        UErrorCode compared = U_ZERO_ERROR;
        return collator->compareUTF8(a.name, b.name, compared) == UCOL_LESS;
    });
}

} // namespace

TMdbQuery::TMdbQuery(TMdbDatabase& database)
    : database_(database), sql_(std::begin(designedStatement), std::end(designedStatement)) {}

std::string TMdbQuery::statementText() const {
    std::string text;
    for (const std::string& line : sql_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void TMdbQuery::addFilterLine(const Date& today) {
    char line[160];
    std::snprintf(line, sizeof line, filterFormat, today.month, today.day);
    sql_.resize(std::size(designedStatement));
    sql_.emplace_back(line);
    today_ = today;
}

void TMdbQuery::open() {
    if (active_) {
        return;
    }
    mdb::File* file = database_.file();
    if (file == nullptr) {
        throw Failure("Die Abfrage „Fahrer“ kann nicht geöffnet werden: Die Datenbankverbindung "
                      "ist nicht geöffnet");
    }
    if (!today_) {
        throw Failure("Die Abfrage „Fahrer“ kann nicht geöffnet werden: Ihr fehlt die Bedingung");
    }
    MdbCatalogEntry* entry = file->findTable(tableName);
    if (entry == nullptr) {
        if (file->hasLinkedTable(tableName)) {
            throw Failure("Die Tabelle " + quoted(std::string(tableName)) + " in " +
                          quoted(file->path()) +
                          " ist mit einer anderen Datenbank verknüpft; verknüpfte Tabellen "
                          "kann das Programm nicht lesen");
        }
        throw Failure("In der Datenbank " + quoted(file->path()) + " fehlt die Tabelle " +
                      quoted(std::string(tableName)));
    }
    const mdb::QuietLibrary quiet;
    std::vector<Match> matches = Scan(*file, *entry, *today_).run();
    sortByLastName(matches);
    rows_.clear();
    rows_.reserve(matches.size());
    for (Match& match : matches) {
        rows_.push_back(std::move(match.row));
    }
    current_ = 0;
    active_ = true;
}

void TMdbQuery::close() {
    rows_.clear();
    current_ = 0;
    active_ = false;
}

int TMdbQuery::recordCount() const {
    if (!active_) {
        throw Failure("Die Abfrage „Fahrer“ ist nicht geöffnet");
    }
    return static_cast<int>(rows_.size());
}

bool TMdbQuery::eof() const {
    return !active_ || current_ >= rows_.size();
}

void TMdbQuery::next() {
    if (!eof()) {
        ++current_;
    }
}

const TMdbQuery::Row& TMdbQuery::current(std::string_view name) const {
    if (eof()) {
        throw Failure("Das Feld " + quoted(std::string(name)) +
                      " der Abfrage „Fahrer“ ist nicht lesbar: Es gibt keine aktuelle Zeile");
    }
    return rows_[current_];
}

std::string TMdbQuery::fieldAsText(std::string_view name) const {
    const Row& row = current(name);
    if (sameFieldName(name, FahrerMitarbeiter.FieldName)) {
        return row.mitarbeiter;
    }
    if (sameFieldName(name, FahrerTelefon.FieldName)) {
        return row.telefon;
    }
    if (sameFieldName(name, FahrerGeburtsdatum.FieldName)) {
        char text[16];
        std::snprintf(text, sizeof text, "%02d.%02d.%04d", row.geburtsdatum.day,
                      row.geburtsdatum.month, row.geburtsdatum.year);
        return text;
    }
    if (sameFieldName(name, FahrerAlter.FieldName)) {
        return std::to_string(row.alter);
    }
    throw Failure("Die Abfrage „Fahrer“ hat kein Feld " + quoted(std::string(name)));
}

int TMdbQuery::fieldAsInteger(std::string_view name) const {
    const Row& row = current(name);
    if (sameFieldName(name, FahrerAlter.FieldName)) {
        return row.alter;
    }
    for (const TFieldDef* field : {&FahrerMitarbeiter, &FahrerTelefon, &FahrerGeburtsdatum}) {
        if (sameFieldName(name, field->FieldName)) {
            throw Failure("Das Feld " + quoted(std::string(field->FieldName)) +
                          " der Abfrage „Fahrer“ ist keine ganze Zahl");
        }
    }
    throw Failure("Die Abfrage „Fahrer“ hat kein Feld " + quoted(std::string(name)));
}

} // namespace wfb
