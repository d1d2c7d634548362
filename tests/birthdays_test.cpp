#include "birthdays/birthdaylist.h"
#include "support/tempdir.h"
#include "support/testdata.h"
#include "system/failure.h"
#include "text/listtext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <stdlib.h>
#include <vector>

namespace wfb {
namespace {

// What composing the list gave: the list text (begun empty), the count and the failure's
// message (empty when nothing failed).
struct Composed {
    std::string list;
    int count = 0;
    std::string failure;
};

Composed compose(BirthdayComponents& components, const std::string& path, const Date& date,
                 const std::string& executable = {}) {
    Composed result;
    ListText list;
    try {
        composeBirthdayList(
            components, path, "geheim", executable, [date] { return date; },
            [&list](std::string_view line) { list.appendLine(line); }, result.count);
    } catch (const Failure& failure) {
        result.failure = failure.what();
    }
    result.list = list.whole();
    return result;
}

Composed compose(const std::string& path, const Date& date, const std::string& executable = {}) {
    BirthdayComponents components;
    return compose(components, path, date, executable);
}

// The list text of entry lines, each followed by the empty line.
std::string entries(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines) {
        text += line;
        text += "\r\n\r\n";
    }
    return text;
}

const std::string emptyDay = "Keine Geburtstage am heutigen Tag.\r\n";

// The list of 11 December 2026 in belegschaft.mdb and .accdb.
const std::string december11 = entries({
    "Petra Abel (030 998877): 35 Jahre",
    "J\xFCrgen M\xFCller (089 123456): 46 Jahre",
    "Neumann (0221 55555): 25 Jahre",
    "Klaus Zimmermann (0171 2345678): 60 Jahre",
});

struct DayCase {
    Date date;
    int count;
    std::string list;
};

TEST(BirthdayList, EachDayListsTheActiveEmployeesBornOnItInAccessOrder) {
    const DayCase cases[] = {
        // Brandt is inactive; the missing first name leaves the last name alone.
        {{2026, 12, 11}, 4, december11},
        // Without regard to case, Ö sorted with O; a missing telephone gives empty brackets.
        {{2027, 3, 12},
         4,
         entries({
             "Jonas Becker (0351 778899): 27 Jahre",
             "Lena Ostermann (): 31 Jahre",
             "Kemal \xD6zt\xFCrk (0201 4455): 43 Jahre",
             "Sven Sch\xE4"
             "fer (0711 22334): 48 Jahre",
         })},
        // "van Dyke" sorts under V.
        {{2026, 5, 5},
         3,
         entries({
             "Iris Adler (0911 6060): 38 Jahre",
             "Jan van Dyke (0421 5151): 54 Jahre",
             "Ruth Zeller (0761 3030): 65 Jahre",
         })},
        // Born on 29 February: listed on that day only.
        {{2028, 2, 29}, 1, entries({"Maria Fischer (0391 1234): 40 Jahre"})},
        {{2027, 2, 28}, 0, emptyDay},
        {{2027, 3, 1}, 1, entries({"Tom Wagner (0631 8080): 28 Jahre"})},
        // Born this very day: 0 years.
        {{2026, 7, 15}, 1, entries({"Lia Sommer (0555 0): 0 Jahre"})},
        // Outer blanks of the name are trimmed.
        {{2026, 6, 30}, 1, entries({"Ingrid Roth (0841 99): 41 Jahre"})},
        // Only Hahn, who is inactive.
        {{2026, 8, 8}, 0, emptyDay},
        {{2026, 1, 1}, 1, entries({"Sabine Wei\xDF (0341 202020): 56 Jahre"})},
        {{2026, 12, 31}, 1, entries({"Anna Koch (0651 777): 71 Jahre"})},
        {{2026, 4, 1}, 0, emptyDay},
    };
    for (const char* file : {"belegschaft.mdb", "belegschaft.accdb"}) {
        for (const DayCase& c : cases) {
            const Composed composed = compose(test::testData(file), c.date);
            const std::string label = std::string(file) + " " + std::to_string(c.date.year) + "-" +
                                      std::to_string(c.date.month) + "-" +
                                      std::to_string(c.date.day);
            EXPECT_EQ(composed.failure, "") << label;
            EXPECT_EQ(composed.count, c.count) << label;
            EXPECT_EQ(composed.list, c.list) << label;
        }
    }
}

// An Access 97 file (Jet 3: pages of 2048 bytes, text in the code page, offsets of one byte
// with a table of jumps in rows longer than 256 bytes, as Abel's is).
TEST(BirthdayList, Jet3FilesListTheSameWay) {
    const DayCase cases[] = {
        {{2026, 12, 11},
         2,
         entries(
             {"Petra Abel (030 998877): 35 Jahre", "J\xFCrgen M\xFCller (089 123456): 46 Jahre"})},
        {{2028, 2, 29}, 1, entries({"Maria Fischer (0391 1234): 40 Jahre"})},
        {{2026, 5, 5}, 0, emptyDay},
    };
    for (const DayCase& c : cases) {
        const Composed composed = compose(test::testData("belegschaft97.mdb"), c.date);
        EXPECT_EQ(composed.failure, "") << c.date.month << "-" << c.date.day;
        EXPECT_EQ(composed.count, c.count) << c.date.month << "-" << c.date.day;
        EXPECT_EQ(composed.list, c.list) << c.date.month << "-" << c.date.day;
    }
}

// libmdb hands out text in the character set MDBICONV names; the list is Windows-1252 whatever
// that is.
TEST(BirthdayList, NamesKeepTheirUmlautsWhateverCharacterSetLibmdbDelivers) {
    for (const char* charset : {"ISO-8859-1", "CP850"}) {
        ::setenv("MDBICONV", charset, 1);
        for (const char* file : {"belegschaft.mdb", "belegschaft.accdb"}) {
            EXPECT_EQ(compose(test::testData(file), {2026, 12, 11}).list, december11)
                << charset << " " << file;
        }
    }
    ::unsetenv("MDBICONV");
}

TEST(BirthdayList, TheStatementCarriesTodaysMonthAndDayWithoutLeadingZeros) {
    BirthdayComponents components;
    compose(components, test::testData("belegschaft.mdb"), {2027, 3, 2});
    const std::vector<std::string>& sql = components.Fahrer.SQL();
    ASSERT_EQ(sql.size(), 4u);
    EXPECT_EQ(sql[0], "SELECT trim(Vorname & \" \" & nachname) as Mitarbeiter,Telefon, "
                      "Geburtstag as Geburtsdatum,");
    EXPECT_EQ(sql[3], "where montH(geburtstag)=3 and day(geburtstag)=2 and aktiv=true ORDER BY "
                      "Nachname");
    EXPECT_TRUE(components.Datenbank.connected()) << "the connection stays open";
    EXPECT_FALSE(components.Fahrer.active());
}

TEST(BirthdayList, TheDemoDatabaseHasABirthdayOnEveryDayOfTheYear) {
    constexpr int daysOf2028[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    BirthdayComponents components;
    for (int month = 1; month <= 12; ++month) {
        for (int day = 1; day <= daysOf2028[month - 1]; ++day) {
            const Date date{2028, month, day};
            const Composed composed = compose(components, test::testData("demo.mdb"), date);
            EXPECT_EQ(composed.failure, "") << month << "-" << day;
            EXPECT_GE(composed.count, 1) << month << "-" << day;
        }
    }
}

TEST(BirthdayList, FaultyDatabasesFailNamingTableOrColumnAndAppendNothing) {
    const std::pair<const char*, std::string> cases[] = {
        {"ohne_tabelle.mdb", "In der Datenbank „@“ fehlt die Tabelle „u_fahrer“"},
        {"ohne_telefon.mdb",
         "In der Tabelle „u_fahrer“ der Datenbank „@“ fehlt die Spalte „Telefon“"},
        {"telefon_zahl.mdb", "Die Spalte „Telefon“ der Tabelle „u_fahrer“ in „@“ hat den Typ "
                             "Zahl (Long Integer), erwartet ist Text"},
        {"geburtstag_text.mdb", "Die Spalte „Geburtstag“ der Tabelle „u_fahrer“ in „@“ hat den "
                                "Typ Text, erwartet ist Datum/Uhrzeit"},
    };
    for (const auto& [file, message] : cases) {
        const std::string path = test::testData(file);
        std::string expected = message;
        expected.replace(expected.find('@'), 1, path);
        const Composed composed = compose(path, {2026, 12, 11});
        EXPECT_EQ(composed.failure, expected);
        EXPECT_EQ(composed.count, 0) << file;
        EXPECT_EQ(composed.list, "") << file;
    }
}

TEST(BirthdayList, FilesThatAreNoDatabaseFailNamingTheFile) {
    test::TempDir dir;
    const std::pair<std::string, std::string> cases[] = {
        {dir.write("leer.mdb", ""), "Die Datenbank „@“ ist leer"},
        {dir.write("text.mdb", "Personalnummer;Vorname;Nachname\r\n"),
         "Die Datei „@“ ist keine Access-Datenbank"},
        {dir.write("kurz.mdb", std::string("\x00\x01\x00\x00Standard Jet", 16)),
         "Die Datenbank „@“ ist beschädigt: Sie ist unvollständig (nur 16 Bytes)"},
    };
    for (const auto& [path, message] : cases) {
        std::string expected = message;
        expected.replace(expected.find('@'), 1, path);
        const Composed composed = compose(path, {2026, 12, 11});
        EXPECT_EQ(composed.failure, expected);
        EXPECT_EQ(composed.list, "");
    }
}

// A copy cut short anywhere either fails naming the file or, when the cut only took pages the
// list does not need, gives the whole list: never a crash, never a part of the list.
TEST(BirthdayList, TruncatedCopiesFailNamingTheFileOrGiveTheWholeList) {
    test::TempDir dir;
    for (const char* file : {"belegschaft.mdb", "belegschaft.accdb"}) {
        const std::string whole = test::readFile(test::testData(file));
        std::vector<std::size_t> cuts;
        for (std::size_t page = 1; page * 4096 < whole.size(); ++page) {
            cuts.push_back(page * 4096);
        }
        for (const std::size_t odd : {std::size_t{30}, std::size_t{2048}, std::size_t{4097},
                                      whole.size() / 2 + 3, whole.size() - 1}) {
            cuts.push_back(odd);
        }
        int failed = 0;
        for (const std::size_t cut : cuts) {
            const std::string path = dir.write("kaputt.mdb", whole.substr(0, cut));
            const Composed composed = compose(path, {2026, 12, 11});
            if (composed.failure.empty()) {
                EXPECT_EQ(composed.list, december11) << file << " cut at " << cut;
            } else {
                ++failed;
                EXPECT_NE(composed.failure.find(quoted(path)), std::string::npos)
                    << file << " cut at " << cut << ": " << composed.failure;
                EXPECT_EQ(composed.list, "") << file << " cut at " << cut;
                EXPECT_EQ(composed.count, 0) << file << " cut at " << cut;
            }
            if (cut % 4096 != 0) {
                EXPECT_NE(composed.failure.find("unvollständig"), std::string::npos)
                    << file << " cut at " << cut << ": " << composed.failure;
            }
        }
        EXPECT_GT(failed, static_cast<int>(cuts.size()) / 2) << file;
    }
}

// The rows of u_fahrer on the data page that holds them: where each row lies, by the name in it.
struct DataPage {
    std::size_t offset = 0; // of the page in the file
    std::size_t abel = 0;   // row numbers
    std::size_t mueller = 0;
};

std::uint16_t get16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

DataPage findRows(const std::string& file) {
    const std::string abel("A\0b\0e\0l\0", 8);
    const std::string mueller("M\0\xFC\0l\0l\0e\0r\0", 12);
    for (std::size_t page = 0; page + 4096 <= file.size(); page += 4096) {
        if (file[page] != 1) {
            continue;
        }
        DataPage found{page, 0, 0};
        const std::size_t rows = get16(file, page + 12);
        int seen = 0;
        for (std::size_t row = 0; row < rows; ++row) {
            const std::size_t start = get16(file, page + 14 + 2 * row) & 0x1FFF;
            const std::size_t end = row == 0 ? 4096 : get16(file, page + 12 + 2 * row) & 0x1FFF;
            const std::string content = file.substr(page + start, end - start);
            if (content.find(abel) != std::string::npos) {
                found.abel = row;
                ++seen;
            }
            if (content.find(mueller) != std::string::npos) {
                found.mueller = row;
                ++seen;
            }
        }
        if (seen == 2) {
            return found;
        }
    }
    throw std::runtime_error("no data page with Abel and Müller");
}

void setFlags(std::string& file, const DataPage& page, std::size_t row, int flags) {
    const std::size_t at = page.offset + 14 + 2 * row;
    const int entry = get16(file, at) | flags;
    file[at] = static_cast<char>(entry & 0xFF);
    file[at + 1] = static_cast<char>(entry >> 8);
}

// Access marks a deleted row in the page's offset table and leaves its bytes. A row that grew
// and moved keeps its place, which then holds the row number and page of its content; the
// content is marked so that a scan passes over it where it lies.
TEST(BirthdayList, DeletedRowsAreLeftOutAndMovedRowsFollowed) {
    test::TempDir dir;
    for (const char* name : {"belegschaft.mdb", "belegschaft.accdb"}) {
        const std::string original = test::readFile(test::testData(name));
        const DataPage page = findRows(original);

        std::string deleted = original;
        setFlags(deleted, page, page.abel, 0x8000);
        const Composed withoutAbel = compose(dir.write(name, deleted), {2026, 12, 11});
        EXPECT_EQ(withoutAbel.list, entries({
                                        "J\xFCrgen M\xFCller (089 123456): 46 Jahre",
                                        "Neumann (0221 55555): 25 Jahre",
                                        "Klaus Zimmermann (0171 2345678): 60 Jahre",
                                    }))
            << name << ": " << withoutAbel.failure;

        // Müller's place now points at Abel's content, which counts only through it.
        std::string moved = original;
        const std::size_t place =
            page.offset + (get16(moved, page.offset + 14 + 2 * page.mueller) & 0x1FFF);
        const std::size_t pageNumber = page.offset / 4096;
        moved[place] = static_cast<char>(page.abel);
        moved[place + 1] = static_cast<char>(pageNumber & 0xFF);
        moved[place + 2] = static_cast<char>((pageNumber >> 8) & 0xFF);
        moved[place + 3] = static_cast<char>((pageNumber >> 16) & 0xFF);
        setFlags(moved, page, page.mueller, 0x4000);
        setFlags(moved, page, page.abel, 0x8000);
        const Composed abelOnce = compose(dir.write(name, moved), {2026, 12, 11});
        EXPECT_EQ(abelOnce.list, entries({
                                     "Petra Abel (030 998877): 35 Jahre",
                                     "Neumann (0221 55555): 25 Jahre",
                                     "Klaus Zimmermann (0171 2345678): 60 Jahre",
                                 }))
            << name << ": " << abelOnce.failure;
    }
}

// Every object in MSysObjects carries a blob of properties (signature "MR2", then records, each
// starting with its length); the list needs none of them. A record of length 0 in each, which
// kept libmdb's reader of the catalog going round while it ate memory, leaves the list as it is.
TEST(BirthdayList, DamagedPropertiesOfTheObjectsDoNotMatter) {
    test::TempDir dir;
    const std::string signature("MR2\0", 4);
    for (const char* name : {"belegschaft.mdb", "belegschaft.accdb"}) {
        std::string file = test::readFile(test::testData(name));
        int blobs = 0;
        for (std::size_t at = file.find(signature); at != std::string::npos;
             at = file.find(signature, at + 1)) {
            file.replace(at + 4, 4, std::string(4, '\0'));
            ++blobs;
        }
        ASSERT_GE(blobs, 4) << name;
        const Composed composed = compose(dir.write(name, file), {2026, 12, 11});
        EXPECT_EQ(composed.failure, "") << name;
        EXPECT_EQ(composed.list, december11) << name;
    }
}

constexpr std::size_t pageSize = 4096;

std::uint32_t get32(const std::string& bytes, std::size_t at) {
    return get16(bytes, at) | std::uint32_t{get16(bytes, at + 2)} << 16;
}

void put16(std::string& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    put16(bytes, at, value & 0xFFFF);
    put16(bytes, at + 2, value >> 16);
}

// Text as a Jet 4 file keeps it: UCS-2, little-endian.
std::string ucs2(std::string_view ascii) {
    std::string text;
    for (const char c : ascii) {
        text += c;
        text += '\0';
    }
    return text;
}

// Where a row lies in a Jet 4 file: the first row, on a data page of the table whose
// definition is on page `table`, that holds the text.
struct RowPlace {
    std::size_t page = 0;  // number
    std::size_t start = 0; // offsets in the file
    std::size_t end = 0;
};

RowPlace rowHolding(const std::string& file, std::uint32_t table, std::string_view text) {
    const std::string wanted = ucs2(text);
    for (std::size_t page = 0; (page + 1) * pageSize <= file.size(); ++page) {
        const std::size_t at = page * pageSize;
        if (file[at] != 1 || get32(file, at + 4) != table) {
            continue;
        }
        for (std::size_t row = 0; row < get16(file, at + 12); ++row) {
            const std::size_t start = get16(file, at + 14 + 2 * row) & 0x1FFF;
            const std::size_t end = row == 0 ? pageSize : get16(file, at + 12 + 2 * row) & 0x1FFF;
            if (file.substr(at + start, end - start).find(wanted) != std::string::npos) {
                return {page, at + start, at + end};
            }
        }
    }
    throw std::runtime_error("no row holds " + std::string(text));
}

// The page of the definition of u_fahrer, and the entry of one of its columns (Jet 4).
std::uint32_t fahrerDefinition(const std::string& file) {
    for (std::uint32_t page = 3; (page + 1) * pageSize <= file.size(); ++page) {
        if (file[page * pageSize] == 2 &&
            file.substr(page * pageSize, pageSize).find(ucs2("Vorname")) != std::string::npos) {
            return page;
        }
    }
    throw std::runtime_error("no definition of u_fahrer");
}

std::size_t columnEntry(const std::string& file, std::uint32_t definition, std::string_view name) {
    const std::size_t at = definition * pageSize;
    const std::size_t columns = get16(file, at + 45);
    const std::size_t entries = at + 63 + 12 * get32(file, at + 51);
    std::size_t names = entries + 25 * columns;
    for (std::size_t i = 0; i < columns; ++i) {
        const std::size_t length = get16(file, names);
        if (file.substr(names + 2, length) == ucs2(name)) {
            return entries + 25 * i;
        }
        names += 2 + length;
    }
    throw std::runtime_error("no column " + std::string(name));
}

// The catalog of tables is read from MSysObjects: a table's row there names it, its kind
// (Type) and the page of its definition (Id).
TEST(BirthdayList, TheCatalogNamesKindAndPageOfTheTable) {
    test::TempDir dir;
    // The row of u_fahrer begins with the column count (2 bytes), then Id (4), ParentId (4)
    // and Type (2).
    constexpr std::size_t id = 2;
    constexpr std::size_t type = 10;
    struct CatalogCase {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
        std::string failure; // @: the path
    };
    const CatalogCase cases[] = {
        {"a linked table", type, 6,
         "Die Tabelle „u_fahrer“ in „@“ ist mit einer anderen Datenbank verknüpft; verknüpfte "
         "Tabellen kann das Programm nicht lesen"},
        {"a query", type, 5, "In der Datenbank „@“ fehlt die Tabelle „u_fahrer“"},
        {"the definition beyond the end", id, 0x00123456,
         "Die Datenbank „@“ ist beschädigt: Die Definition der Tabelle „u_fahrer“ liegt auf "
         "Seite 1193046 hinter dem Ende der Datei; sie ist zu kurz"},
    };
    for (const char* name : {"belegschaft.mdb", "belegschaft.accdb"}) {
        const std::string original = test::readFile(test::testData(name));
        const RowPlace catalogRow = rowHolding(original, 2, "u_fahrer");
        for (const CatalogCase& c : cases) {
            std::string file = original;
            if (c.offset == type) {
                put16(file, catalogRow.start + c.offset, c.value);
            } else {
                put32(file, catalogRow.start + c.offset, c.value);
            }
            const std::string path = dir.write(name, file);
            const Composed composed = compose(path, {2026, 12, 11});
            std::string expected = c.failure;
            if (!expected.empty()) {
                expected.replace(expected.find('@'), 1, path);
            }
            EXPECT_EQ(composed.failure, expected) << name << ", " << c.what;
            EXPECT_EQ(composed.list, expected.empty() ? december11 : "") << name << ", " << c.what;
        }
    }
}

// A Memo column keeps a text that does not fit in its row in rows of pages of long values; the
// row holds 12 bytes instead: length and flags (0x80: the text follows, 0x40: it is one row of
// another page, none: it is a chain of rows, each beginning with the page and row of the next),
// then the page and row where it lies. Here Telefon is made a Memo column, Fischer's value
// such a head, and a page of long values is added to the file.
TEST(BirthdayList, MemoTextsAreReadFromWhereTheyLieOrFailNamingTheColumn) {
    test::TempDir dir;
    struct Part {
        int next; // row on the added page, or -1: the last part
        const char* text;
    };
    struct MemoCase {
        const char* what;
        std::uint32_t head;
        std::uint32_t page; // 0: the added page
        int row;
        std::vector<Part> rows; // of the added page; for a chain, each a part
        std::string telefon;    // the listed number, or
        std::string failure;    // @: the path, #: the added page
    };
    const MemoCase cases[] = {
        {"in the row", 0x80000000 | 6, 0, 0, {}, "1-2", ""},
        {"one row of another page",
         0x40000000 | 22,
         0,
         0,
         {{-1, "0391 1234-5"}},
         "0391 1234-5",
         ""},
        {"a chain of two rows", 22, 0, 1, {{-1, "1234-5"}, {0, "0391 "}}, "0391 1234-5", ""},
        {"a chain with a part without text",
         22,
         0,
         0,
         {{0, ""}},
         "",
         "Ein Text der Spalte „Telefon“ hat einen leeren Teil auf Seite #"},
        {"a chain going round",
         0x10000,
         0,
         0,
         {{0, "0391 "}},
         "",
         "Ein Text der Spalte „Telefon“ verweist im Kreis"},
        {"a row the page does not hold",
         22,
         0,
         3,
         {{-1, "0391 1234-5"}},
         "",
         "Ein Text der Spalte „Telefon“ liegt nicht in Zeile 3 der Seite #"},
        {"a page beyond the end",
         22,
         100000,
         0,
         {},
         "",
         "Ein Text der Spalte „Telefon“ liegt auf Seite 100000 hinter dem Ende der Datei; sie "
         "ist zu kurz"},
    };
    for (const char* name : {"belegschaft.mdb", "belegschaft.accdb"}) {
        std::string original = test::readFile(test::testData(name));
        const std::uint32_t definition = fahrerDefinition(original);
        const std::size_t telefon = columnEntry(original, definition, "Telefon");
        original[telefon] = 0x0C;
        // Fischer's row ends in the offsets of its variable-length values (last first), their
        // number and a null mask of one byte.
        const RowPlace fischer = rowHolding(original, definition, "Fischer");
        const std::size_t value =
            fischer.start +
            get16(original, fischer.end - 3 - 2 * (get16(original, telefon + 7) + 1));
        const auto added = static_cast<std::uint32_t>(original.size() / pageSize);
        for (const MemoCase& c : cases) {
            std::string file = original;
            const std::uint32_t page = c.page == 0 ? added : c.page;
            put32(file, value, c.head);
            if ((c.head & 0x80000000) != 0) {
                // Fischer's number has 9 characters: 18 bytes, 6 of them behind the head.
                file.replace(value + 4, 8, std::string(8, '\0'));
                file.replace(value + 12, 6, ucs2("1-2"));
            } else {
                put32(file, value + 4, page << 8 | static_cast<std::uint32_t>(c.row));
            }
            std::string longValues(pageSize, '\0');
            longValues[0] = 1;
            longValues[1] = 1;
            longValues.replace(4, 4, "LVAL");
            put16(longValues, 12, static_cast<std::uint32_t>(c.rows.size()));
            std::size_t end = pageSize;
            for (std::size_t i = 0; i < c.rows.size(); ++i) {
                std::string content = ucs2(c.rows[i].text);
                if ((c.head & 0x40000000) == 0) {
                    std::string link(4, '\0');
                    if (c.rows[i].next >= 0) {
                        put32(link, 0, added << 8 | static_cast<std::uint32_t>(c.rows[i].next));
                    }
                    content = link + content;
                }
                end -= content.size();
                longValues.replace(end, content.size(), content);
                put16(longValues, 14 + 2 * i, static_cast<std::uint32_t>(end));
            }
            file += longValues;

            const std::string path = dir.write(name, file);
            const Composed composed = compose(path, {2028, 2, 29});
            std::string expected;
            if (!c.failure.empty()) {
                expected = "Die Datenbank „@“ ist beschädigt: " + c.failure;
                expected.replace(expected.find('@'), 1, path);
                if (const auto at = expected.find('#'); at != std::string::npos) {
                    expected.replace(at, 1, std::to_string(added));
                }
            }
            EXPECT_EQ(composed.failure, expected) << name << ", " << c.what;
            EXPECT_EQ(composed.list,
                      expected.empty()
                          ? entries({("Maria Fischer (" + c.telefon + "): 40 Jahre").c_str()})
                          : "")
                << name << ", " << c.what;
        }
    }
}

TEST(BirthdayList, FileMissingAtItsPathIsOpenedFromBesideTheProgram) {
    test::TempDir program;
    test::TempDir elsewhere;
    const std::string executable = program / "wiegenfestbote";
    const std::string beside =
        program.write("belegschaft.mdb", test::readFile(test::testData("belegschaft.mdb")));
    const std::string configured = elsewhere / "daten/belegschaft.mdb";

    BirthdayComponents components;
    const Composed composed = compose(components, configured, {2026, 12, 11}, executable);
    EXPECT_EQ(composed.failure, "");
    EXPECT_EQ(composed.list, december11);
    EXPECT_EQ(components.Datenbank.databaseName(), beside);

    // A file at the configured path wins over the one beside the program.
    elsewhere.write("daten/belegschaft.mdb", test::readFile(test::testData("ohne_telefon.mdb")));
    const Composed configuredWins = compose(configured, {2026, 12, 11}, executable);
    EXPECT_NE(configuredWins.failure.find("fehlt die Spalte „Telefon“"), std::string::npos)
        << configuredWins.failure;
}

TEST(BirthdayList, DatabaseFoundNowhereFailsNamingTheLastPathTried) {
    test::TempDir program;
    const std::string executable = program / "wiegenfestbote";
    const std::string configured = "/nirgends/personal/belegschaft.mdb";
    const Composed composed = compose(configured, {2026, 12, 11}, executable);
    EXPECT_EQ(composed.failure, "Die Datenbank „/nirgends/personal/belegschaft.mdb“ fehlt, und "
                                "auch " +
                                    quoted(program / "belegschaft.mdb") +
                                    " (neben dem Programm) wurde nicht gefunden");
    EXPECT_EQ(composed.list, "");

    // Configured beside the program: there is no second place to look.
    const std::string besideOnly = program / "belegschaft.mdb";
    EXPECT_EQ(compose(besideOnly, {2026, 12, 11}, executable).failure,
              "Die Datenbank " + quoted(besideOnly) + " wurde nicht gefunden");
    EXPECT_EQ(compose(program.path(), {2026, 12, 11}).failure,
              "Die Datenbank " + quoted(program.path()) + " ist ein Verzeichnis, keine Datei");
}

TEST(BirthdayList, EmptyDatabasePathFailsAtOnce) {
    test::TempDir program;
    program.write("belegschaft.mdb", test::readFile(test::testData("belegschaft.mdb")));
    BirthdayComponents components;
    const Composed composed = compose(components, "", {2026, 12, 11}, program / "wiegenfestbote");
    EXPECT_EQ(composed.failure, "Keine Datenbank eingestellt: Der Datenbankpfad (Eintrag „Main“ "
                                "im Abschnitt [DB] der Einstellungen) ist leer");
    EXPECT_EQ(composed.list, "");
    EXPECT_EQ(composed.count, 0);
    EXPECT_FALSE(components.Datenbank.connected());
}

// The count is set as soon as the query is open: a failure while the rows are read keeps it
// and the lines so far, and no empty-day line follows.
TEST(BirthdayList, FailureWhileReadingRowsKeepsTheCountAndTheLinesSoFar) {
    BirthdayComponents components;
    std::string list;
    int count = 0;
    int appended = 0;
    EXPECT_THROW(composeBirthdayList(
                     components, test::testData("belegschaft.mdb"), "", "",
                     [] {
                         return Date{2026, 12, 11};
                     },
                     [&](std::string_view line) {
                         if (++appended == 4) {
                             throw Failure("Die Liste ist voll");
                         }
                         list += std::string(line) + "|";
                     },
                     count),
                 Failure);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(list,
              "Petra Abel (030 998877): 35 Jahre||J\xFCrgen M\xFCller (089 123456): 46 Jahre|");
}

TEST(BirthdayList, TodayIsReadOnceWhenTheQueryIsBuilt) {
    int calls = 0;
    BirthdayComponents components;
    int count = 0;
    std::string list;
    const auto clock = [&] {
        ++calls;
        return Date{2026, 12, 11};
    };
    const auto append = [&](std::string_view line) { list += line; };
    EXPECT_THROW(composeBirthdayList(components, "", "", "", clock, append, count), Failure);
    EXPECT_EQ(calls, 0) << "not before the database is open";
    composeBirthdayList(components, test::testData("belegschaft.mdb"), "", "", clock, append,
                        count);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(count, 4);
}

TEST(BirthdayQuery, ReadsColumnsByNameWithoutRegardToCase) {
    BirthdayComponents components;
    TMdbDatabase& Datenbank = components.Datenbank;
    TMdbQuery& Fahrer = components.Fahrer;
    Datenbank.setDatabaseName(test::testData("belegschaft.accdb"));
    Datenbank.open();
    EXPECT_THROW(Datenbank.setDatabaseName("anders.mdb"), Failure);
    Fahrer.addFilterLine({2027, 3, 12});
    Fahrer.open();
    ASSERT_EQ(Fahrer.recordCount(), 4);
    Fahrer.next();
    EXPECT_EQ(Fahrer.fieldAsText("MITARBEITER"), "Lena Ostermann");
    EXPECT_EQ(Fahrer.fieldAsText("telefon"), "");
    EXPECT_EQ(Fahrer.fieldAsText("Geburtsdatum"), "12.03.1996");
    EXPECT_EQ(Fahrer.fieldAsInteger("alter"), 31);
    EXPECT_EQ(Fahrer.fieldAsText("Alter"), "31");
    EXPECT_THROW(Fahrer.fieldAsText("Vorname"), Failure);
    EXPECT_THROW(Fahrer.fieldAsInteger("Telefon"), Failure);
    Fahrer.next();
    Fahrer.next();
    Fahrer.next();
    EXPECT_TRUE(Fahrer.eof());
    EXPECT_THROW(Fahrer.fieldAsText("Mitarbeiter"), Failure);
    Fahrer.close();
    Datenbank.close();
    Datenbank.close();
    EXPECT_THROW(Fahrer.open(), Failure) << "the query needs an open connection";
}

TEST(AccessDate, WholeDaysCountFromTheThirtiethOfDecember1899) {
    const std::pair<double, Date> cases[] = {
        {0, {1899, 12, 30}},    {1.75, {1899, 12, 31}},    {-1.25, {1899, 12, 29}},
        {-0.5, {1899, 12, 30}}, {60, {1900, 2, 28}},       {61, {1900, 3, 1}},
        {25569, {1970, 1, 1}},  {24452, {1966, 12, 11}},   {32202.5, {1988, 2, 29}},
        {-657434, {100, 1, 1}}, {2958465, {9999, 12, 31}}, {-36522, {1800, 1, 1}},
    };
    for (const auto& [value, date] : cases) {
        EXPECT_EQ(dateFromAccess(value), date) << value;
    }
    for (const double value : {-657435.0, 2958466.0, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(dateFromAccess(value), std::nullopt) << value;
    }
}

} // namespace
} // namespace wfb
