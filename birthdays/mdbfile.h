#pragma once

// libmdb, wrapped for the database layer: the open file with its catalog, owning table
// definitions, and page reads that check the page lies inside the file.
//
// libmdb trusts what it finds in a file: offsets, lengths and page numbers are taken as they
// are. Everything it is handed here has been checked to lie inside the page or the file first.

#include "system/failure.h"

#include <mdbtools.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wfb::mdb {

// libmdb writes its own warnings about damaged files to stderr and stdout, in English, between
// the program's messages (in the run without a window, where every failure is one line of the
// program's own). While an object of this type lives, libmdb's stdio output goes nowhere; what
// is wrong reaches the user as the layer's Failure. Only the stdio streams are turned away, not
// the descriptors, so that a sanitizer's report still gets through.
class QuietLibrary {
public:
    QuietLibrary();
    QuietLibrary(const QuietLibrary&) = delete;
    QuietLibrary& operator=(const QuietLibrary&) = delete;
    ~QuietLibrary();

private:
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
    std::FILE* nowhere_ = nullptr;
};

struct HandleCloser {
    void operator()(MdbHandle* handle) const { mdb_close(handle); }
};

struct TableDeleter {
    void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};
// A table definition with its columns.
using Table = std::unique_ptr<MdbTableDef, TableDeleter>;

// Flags in a row's entry of a data page's table of row offsets.
inline constexpr int rowDeleted = 0x8000; // deleted, or the moved content of another row
inline constexpr int rowMoved = 0x4000;   // the row moved: here is where its content lies now
inline constexpr int rowOffsetMask = 0x1FFF;

// Where a row lies on a page: its first byte and its length.
struct RowExtent {
    int start;
    std::size_t size;
};

// An Access database file opened for reading, with its catalog of tables read once from the
// rows of MSysObjects (libmdb's own catalog reader parses every object's properties as well,
// and loops forever on some damaged ones; the program needs none of them).
class File {
public:
    // Opens the file and reads its catalog. Throws a Failure naming the file when it cannot be
    // read, is no Access database, or is damaged.
    explicit File(std::string path);
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() = default;

    const std::string& path() const { return path_; }
    MdbHandle* handle() const { return handle_.get(); }
    std::uint32_t pageCount() const { return pageCount_; }
    bool isJet3() const { return handle_->f->jet_version == MDB_VER_JET3; }

    // Text as libmdb hands it out, in UTF-8. libmdb delivers the character set the environment
    // variable MDBICONV names, UTF-8 without it.
    std::string toUtf8(const char* text) const;

    // The table of that name, compared without regard to case, or null.
    MdbCatalogEntry* findTable(std::string_view name) const;

    // Whether the catalog holds a linked table of that name (one whose rows lie in another
    // database).
    bool hasLinkedTable(std::string_view name) const;

    // Reads the definition and the columns of a table of the catalog; throws when the file is
    // damaged.
    Table readTable(MdbCatalogEntry& entry) const;

    // Reads a page into the handle's page buffer; throws, naming what lies there, when it is
    // outside the file.
    void readPage(std::uint32_t page, const std::string& what) const;
    // The same into the handle's second page buffer, which leaves the first one alone.
    void readOtherPage(std::uint32_t page, const std::string& what) const;

    // Where the row of that number lies on a page held in buffer, or nothing when the page's
    // table of row offsets does not place it inside the page (the number of rows the page
    // names is not looked at, as libmdb does not).
    std::optional<RowExtent> findRow(const unsigned char* buffer, int row) const;

    // The failure for a damaged file, with what was found wrong.
    Failure damaged(const std::string& detail) const;
    // The failure for a file cut short: what should lie on the page is missing.
    Failure beyondEnd(const std::string& what, std::uint32_t page) const;

private:
    void readCatalog();
    void checkMapRow(std::uint32_t pageRow, const std::string& what) const;
    void checkUsageMap(const MdbTableDef& table, std::string_view name) const;

    std::string path_;
    std::unique_ptr<MdbHandle, HandleCloser> handle_;
    std::uint32_t pageCount_ = 0;
    std::string charset_;
    // The tables and linked tables, in the order of MSysObjects; libmdb keeps pointers to them.
    std::vector<std::unique_ptr<MdbCatalogEntry>> catalog_;
};

inline std::uint16_t littleEndian16(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

inline std::uint32_t littleEndian32(const unsigned char* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

} // namespace wfb::mdb
