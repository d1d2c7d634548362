#include "query.h"

#include "database.h"
#include "mdbfile.h"
#include "settings/codepage.h"
#include "settings/failure.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace wfb {
namespace {

constexpr std::string_view tableName = "u_fahrer";

// Flags in a row's entry of a data page's offset table.
constexpr int deletedRow = 0x8000;  // deleted, or the moved content of another row
constexpr int overflowRow = 0x4000; // the row moved: here is where its content lies now
constexpr int offsetMask = 0x1FFF;
// Moved rows may have moved again; more steps than this are a damaged file.
constexpr int maxOverflowSteps = 8;

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
        : file_(file), mdb_(file.handle()), entryPage_(entry.table_pg), today_(today),
          table_(file.readTable(entry)) {
        vorname_ = column(vorname);
        nachname_ = column(nachname);
        telefon_ = column(telefon);
        geburtstag_ = column(geburtstag);
        aktiv_ = column(aktiv);
        fields_.resize(table_->num_cols);
    }

    std::vector<Match> run() {
        guint32 page = 0;
        for (;;) {
            const gint32 next = mdb_map_find_next(mdb_, table_->usage_map,
                                                  static_cast<unsigned int>(table_->map_sz), page);
            if (next == 0) {
                break;
            }
            if (next < 0 || static_cast<guint32>(next) <= page) {
                throw file_.damaged("Die Seitenliste der Tabelle " + tableLabel() +
                                    " ist nicht lesbar");
            }
            page = static_cast<guint32>(next);
            scanPage(page);
        }
        return std::move(matches_);
    }

private:
    std::string tableLabel() const { return quoted(std::string(tableName)); }
    std::string part() const { return "Ein Teil der Tabelle " + tableLabel(); }

    // The position of a column in the table definition, checked for its kind.
    std::size_t column(const SourceColumn& wanted) const {
        for (guint i = 0; i < table_->columns->len; ++i) {
            const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(table_->columns, i));
            if (g_ascii_strcasecmp(col->name, std::string(wanted.name).c_str()) != 0) {
                continue;
            }
            if (!isKind(col->col_type, wanted.kind)) {
                throw Failure("Die Spalte " + quoted(std::string(wanted.name)) + " der Tabelle " +
                              tableLabel() + " in " + quoted(file_.path()) + " hat den Typ " +
                              typeName(col->col_type) + ", erwartet ist " + kindName(wanted.kind));
            }
            return i;
        }
        throw Failure("In der Tabelle " + tableLabel() + " der Datenbank " + quoted(file_.path()) +
                      " fehlt die Spalte " + quoted(std::string(wanted.name)));
    }

    bool isDataPageOfTable() const {
        return mdb_->pg_buf[0] == MDB_PAGE_DATA &&
               static_cast<unsigned long>(mdb_get_int32(mdb_->pg_buf, 4)) == entryPage_;
    }

    Failure damagedRow(guint32 page, int row, std::string_view what) const {
        return file_.damaged("Zeile " + std::to_string(row) + " auf Seite " + std::to_string(page) +
                             " der Tabelle " + tableLabel() + " " + std::string(what));
    }

    void scanPage(guint32 page) {
        file_.readPage(page, part());
        // The usage map may name pages that are no longer the table's; libmdb passes them over.
        if (!isDataPageOfTable()) {
            return;
        }
        const int offsets = mdb_->fmt->row_count_offset;
        const int rows = mdb_get_int16(mdb_->pg_buf, offsets);
        if (offsets + 2 + 2 * rows > mdb_->fmt->pg_size) {
            throw file_.damaged("Seite " + std::to_string(page) + " der Tabelle " + tableLabel() +
                                " nennt mehr Zeilen, als sie fassen kann");
        }
        for (int row = 0; row < rows; ++row) {
            // A deleted row keeps its bytes until the file is compacted; they do not count.
            if ((mdb_get_int16(mdb_->pg_buf, offsets + 2 + 2 * row) & deletedRow) != 0) {
                continue;
            }
            int start = 0;
            std::size_t size = 0;
            if (mdb_find_row(mdb_, row, &start, &size) != 0) {
                throw damagedRow(page, row, "liegt nicht auf ihrer Seite");
            }
            if (size == 0) {
                continue;
            }
            if ((start & overflowRow) != 0) {
                followOverflow(page, row, start & offsetMask, size);
                file_.readPage(page, part());
            } else {
                takeRow(page, row, start & offsetMask, size);
            }
        }
    }

    // A moved row: its place holds the row number and the page of its content.
    void followOverflow(guint32 page, int row, int start, std::size_t size) {
        for (int step = 0; step < maxOverflowSteps; ++step) {
            if (size < 4) {
                throw damagedRow(page, row, "verweist ins Leere");
            }
            const int targetRow = mdb_->pg_buf[start];
            const auto targetPage = static_cast<guint32>(mdb_->pg_buf[start + 1]) |
                                    static_cast<guint32>(mdb_->pg_buf[start + 2]) << 8 |
                                    static_cast<guint32>(mdb_->pg_buf[start + 3]) << 16;
            file_.readPage(targetPage, part());
            if (!isDataPageOfTable() ||
                targetRow >= mdb_get_int16(mdb_->pg_buf, mdb_->fmt->row_count_offset) ||
                mdb_find_row(mdb_, targetRow, &start, &size) != 0) {
                throw damagedRow(page, row, "verweist auf eine Stelle, an der sie nicht liegt");
            }
            page = targetPage;
            row = targetRow;
            if ((start & overflowRow) == 0) {
                takeRow(page, row, start & offsetMask, size);
                return;
            }
            start &= offsetMask;
        }
        throw damagedRow(page, row, "verweist im Kreis");
    }

    void takeRow(guint32 page, int row, int start, std::size_t size) {
        if (mdb_crack_row(table_.get(), start, size, fields_.data()) < 0) {
            throw damagedRow(page, row, "ist nicht lesbar");
        }
        // A yes/no value lies in the row's null mask: set means yes.
        if (fields_[aktiv_].is_null) {
            return;
        }
        const MdbField& birthday = fields_[geburtstag_];
        if (birthday.is_null) {
            return;
        }
        if (birthday.siz != 8) {
            throw damagedRow(page, row, "hat einen unlesbaren Geburtstag");
        }
        const std::optional<Date> born =
            dateFromAccess(mdb_get_double(mdb_->pg_buf, birthday.start));
        if (!born) {
            throw damagedRow(page, row, "hat einen Geburtstag außerhalb der Jahre 100 bis 9999");
        }
        if (born->month != today_.month || born->day != today_.day) {
            return;
        }
        Match match;
        const std::optional<std::string> first = text(vorname_);
        const std::optional<std::string> last = text(nachname_);
        match.nameIsNull = !last;
        match.name = last.value_or(std::string());
        match.row.mitarbeiter =
            cp1252::fromUtf8(trimBlanks(first.value_or(std::string()) + " " + match.name));
        match.row.telefon = cp1252::fromUtf8(text(telefon_).value_or(std::string()));
        match.row.geburtsdatum = *born;
        match.row.alter = today_.year - born->year;
        matches_.push_back(std::move(match));
    }

    // A text column of the cracked row as UTF-8, or nothing when it is null.
    std::optional<std::string> text(std::size_t column) const {
        const MdbField& field = fields_[column];
        if (field.is_null) {
            return std::nullopt;
        }
        const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(table_->columns, column));
        if (col->col_type == MDB_MEMO && field.siz >= MDB_MEMO_OVERHEAD) {
            // A memo not kept in the row lies on a page of its own (libmdb would read a page
            // right behind the end of the file as empty text).
            const auto head = static_cast<guint32>(mdb_get_int32(mdb_->pg_buf, field.start));
            const auto where = static_cast<guint32>(mdb_get_int32(mdb_->pg_buf, field.start + 4));
            if ((head & 0x80000000u) == 0 && (where >> 8) >= file_.pageCount()) {
                throw file_.beyondEnd("Ein Text der Spalte " + quoted(col->name), where >> 8);
            }
        }
        char* converted =
            mdb_col_to_string(mdb_, mdb_->pg_buf, field.start, col->col_type, field.siz);
        if (converted == nullptr) {
            return std::string();
        }
        std::string result = file_.toUtf8(converted);
        g_free(converted);
        return result;
    }

    const mdb::File& file_;
    MdbHandle* mdb_;
    unsigned long entryPage_;
    Date today_;
    mdb::Table table_;
    std::size_t vorname_ = 0;
    std::size_t nachname_ = 0;
    std::size_t telefon_ = 0;
    std::size_t geburtstag_ = 0;
    std::size_t aktiv_ = 0;
    std::vector<MdbField> fields_;
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
