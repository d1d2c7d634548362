#include "mdbfile.h"

#include "mdbrows.h"
#include "system/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wfb::mdb {
namespace {

// The first bytes of every Access file: the page type of page 0, then the engine's signature.
constexpr std::size_t headerSize = 0x15;
constexpr std::string_view jetSignature("\x00\x01\x00\x00Standard Jet DB\x00", 20);
constexpr std::string_view aceSignature("\x00\x01\x00\x00Standard ACE DB\x00", 20);
constexpr std::size_t versionOffset = 0x14;

// Page 2 holds the definition of MSysObjects, the table of all objects.
constexpr unsigned long catalogTablePage = 2;

std::string cannotOpen(const std::string& path, const std::string& reason) {
    return "Die Datenbank " + quoted(path) + " kann nicht geöffnet werden: " + reason;
}

// Object names compare as Access compares them: without regard to case, umlauts included.
bool sameName(const char* a, std::string_view b) {
    if (!g_utf8_validate(a, -1, nullptr) ||
        !g_utf8_validate(b.data(), static_cast<gssize>(b.size()), nullptr)) {
        return false;
    }
    gchar* foldedA = g_utf8_casefold(a, -1);
    gchar* foldedB = g_utf8_casefold(b.data(), static_cast<gssize>(b.size()));
    const bool same = std::strcmp(foldedA, foldedB) == 0;
    g_free(foldedA);
    g_free(foldedB);
    return same;
}

// Types of the objects in MSysObjects, in its column Type (the flags above them left off).
constexpr int objectTypeMask = 0x7F;
// The column Id of MSysObjects: for a table, the page of its definition in the lower 24 bits.
constexpr std::uint32_t objectPageMask = 0x00FFFFFF;

const char* const catalogUnreadable =
    "Das Verzeichnis ihrer Tabellen (MSysObjects) ist nicht lesbar";

} // namespace

QuietLibrary::QuietLibrary() : nowhere_(std::fopen("/dev/null", "we")) {
    // The standard streams are variables of the C library that may be set.
    if (nowhere_ != nullptr) {
        std::fflush(stdout);
        out_ = stdout;
        err_ = stderr;
        stdout = nowhere_;
        stderr = nowhere_;
    }
}

QuietLibrary::~QuietLibrary() {
    if (nowhere_ != nullptr) {
        stdout = out_;
        stderr = err_;
        std::fclose(nowhere_);
    }
}

File::File(std::string path) : path_(std::move(path)) {
    std::size_t pageSize = 0;
    {
        FileDescriptor fd;
        struct stat status {};
        if (const FileError error = openForReading(path_, fd, status)) {
            throw Failure(cannotOpen(path_, error.reason));
        }
        char header[headerSize] = {};
        const ssize_t n = ::pread(fd.get(), header, sizeof header, 0);
        if (n < 0) {
            throw Failure(cannotOpen(path_, systemReason(errno)));
        }
        const std::string_view start(header, static_cast<std::size_t>(n));
        const bool hasSignature =
            start.starts_with(jetSignature) || start.starts_with(aceSignature);
        const bool cutShort = !start.empty() && start.size() < headerSize &&
                              (jetSignature.starts_with(start.substr(0, jetSignature.size())) ||
                               aceSignature.starts_with(start.substr(0, aceSignature.size())));
        if (start.empty()) {
            throw Failure("Die Datenbank " + quoted(path_) + " ist leer");
        }
        if (cutShort) {
            throw damaged("Sie ist unvollständig (nur " + std::to_string(n) + " Bytes)");
        }
        if (!hasSignature) {
            throw Failure("Die Datei " + quoted(path_) + " ist keine Access-Datenbank");
        }
        pageSize = header[versionOffset] == MDB_VER_JET3 ? 2048 : 4096;
        const auto size = static_cast<unsigned long long>(status.st_size);
        if (size < pageSize || size % pageSize != 0) {
            throw damaged("Sie ist unvollständig: " + std::to_string(size) +
                          " Bytes sind keine ganze Zahl von Seiten zu " + std::to_string(pageSize) +
                          " Bytes");
        }
        pageCount_ = static_cast<std::uint32_t>(size / pageSize);
    }

    handle_.reset(mdb_open(path_.c_str(), MDB_NOFLAGS));
    if (!handle_) {
        throw Failure(cannotOpen(path_, "Das Dateiformat oder seine Version ist nicht lesbar"));
    }
    if (static_cast<std::size_t>(handle_->fmt->pg_size) != pageSize) {
        throw Failure(cannotOpen(path_, "Die Version des Dateiformats ist nicht lesbar"));
    }
    const char* charset = mdb_target_charset(handle_.get());
    charset_ = charset != nullptr ? charset : "UTF-8";

    readCatalog();
}

// The catalog: the rows of MSysObjects that are tables or linked tables, with their names and
// the pages of their definitions.
void File::readCatalog() {
    MdbCatalogEntry objects{};
    objects.mdb = handle_.get();
    std::snprintf(objects.object_name, sizeof objects.object_name, "MSysObjects");
    objects.object_type = MDB_TABLE;
    objects.table_pg = catalogTablePage;
    RowScan scan(*this, objects);
    const auto column = [&](std::string_view name, int type) {
        const std::optional<std::size_t> found = scan.findColumn(name);
        if (!found || scan.column(*found).col_type != type) {
            throw damaged(std::string(catalogUnreadable) + ": Die Spalte " +
                          quoted(std::string(name)) + " fehlt oder hat einen anderen Typ");
        }
        return *found;
    };
    const std::size_t id = column("Id", MDB_LONGINT);
    const std::size_t name = column("Name", MDB_TEXT);
    const std::size_t type = column("Type", MDB_INT);
    scan.run([&] {
        if (scan.isNull(type) || scan.isNull(name)) {
            return;
        }
        const int objectType = scan.integerValue(type) & objectTypeMask;
        if (objectType != MDB_TABLE && objectType != MDB_LINKED_TABLE) {
            return;
        }
        const std::string objectName = scan.text(name).value_or(std::string());
        auto entry = std::make_unique<MdbCatalogEntry>();
        entry->mdb = handle_.get();
        // A name too long for the entry is cut where a character ends.
        const gchar* end = nullptr;
        g_utf8_validate(
            objectName.data(),
            static_cast<gssize>(std::min(objectName.size(), std::size_t{MDB_MAX_OBJ_NAME})), &end);
        std::snprintf(entry->object_name, sizeof entry->object_name, "%.*s",
                      static_cast<int>(end - objectName.data()), objectName.data());
        entry->object_type = objectType;
        // Without an Id the definition is missing, which reading the table reports.
        entry->table_pg = scan.isNull(id)
                              ? 0
                              : static_cast<std::uint32_t>(scan.integerValue(id)) & objectPageMask;
        catalog_.push_back(std::move(entry));
    });
}

std::string File::toUtf8(const char* text) const {
    if (g_ascii_strcasecmp(charset_.c_str(), "UTF-8") == 0 ||
        g_ascii_strcasecmp(charset_.c_str(), "UTF8") == 0) {
        return text;
    }
    gsize written = 0;
    gchar* converted = g_convert_with_fallback(text, -1, "UTF-8", charset_.c_str(), "?", nullptr,
                                               &written, nullptr);
    if (converted == nullptr) {
        return std::string(std::strlen(text), '?');
    }
    std::string result(converted, written);
    g_free(converted);
    return result;
}

MdbCatalogEntry* File::findTable(std::string_view name) const {
    for (const auto& entry : catalog_) {
        if (entry->object_type == MDB_TABLE && sameName(entry->object_name, name)) {
            return entry.get();
        }
    }
    return nullptr;
}

bool File::hasLinkedTable(std::string_view name) const {
    return std::any_of(catalog_.begin(), catalog_.end(), [&](const auto& entry) {
        return entry->object_type == MDB_LINKED_TABLE && sameName(entry->object_name, name);
    });
}

Table File::readTable(MdbCatalogEntry& entry) const {
    const std::string name = entry.object_name;
    const std::string definition = "Die Definition der Tabelle " + quoted(name);
    if (entry.table_pg == 0) {
        throw damaged(definition + " fehlt");
    }
    // libmdb reads a page right behind the end of the file as zeros, without complaint: check
    // the pages of the definition, each naming the next, and the page of the usage map first.
    const MdbFormatConstants& format = *handle_->fmt;
    std::uint32_t page = static_cast<std::uint32_t>(entry.table_pg);
    std::uint32_t usageMap = 0;
    for (std::uint32_t seen = 0; page != 0; ++seen) {
        if (seen == pageCount_) {
            throw damaged(definition + " verweist im Kreis");
        }
        readPage(page, definition);
        if (seen == 0) {
            if (handle_->pg_buf[0] != MDB_PAGE_TABLE) {
                throw damaged(definition + " ist nicht lesbar: Seite " + std::to_string(page) +
                              " hält keine Tabellendefinition");
            }
            usageMap = littleEndian32(handle_->pg_buf + format.tab_usage_map_offset);
            if ((usageMap >> 8) >= pageCount_) {
                throw beyondEnd("Die Seitenliste der Tabelle " + quoted(name), usageMap >> 8);
            }
        }
        page = littleEndian32(handle_->pg_buf + 4);
    }
    checkMapRow(usageMap, "Die Seitenliste der Tabelle " + quoted(name));
    Table table(mdb_read_table(&entry));
    if (!table) {
        throw damaged(definition + " ist nicht lesbar");
    }
    checkUsageMap(*table, name);
    if (table->num_cols == 0 || table->num_cols > MDB_MAX_COLS ||
        mdb_read_columns(table.get()) == nullptr || table->columns->len != table->num_cols) {
        throw damaged("Die Spalten der Tabelle " + quoted(name) + " sind nicht lesbar");
    }
    return table;
}

// A map of pages lies in a row of another page; the number of that page and row name it.
void File::checkMapRow(std::uint32_t pageRow, const std::string& what) const {
    readOtherPage(pageRow >> 8, what);
    if (!findRow(handle_->alt_pg_buf, static_cast<int>(pageRow & 0xFF))) {
        throw damaged(what + " liegt nicht in Zeile " + std::to_string(pageRow & 0xFF) +
                      " der Seite " + std::to_string(pageRow >> 8));
    }
}

// The usage map lists the pages that hold a table's rows: either as a bitmap of pages from a
// first page on, or as a list of pages that hold such bitmaps.
void File::checkUsageMap(const MdbTableDef& table, std::string_view name) const {
    const unsigned char* map = table.usage_map;
    const std::size_t size = table.map_sz;
    const auto outside = [&](std::uint32_t page) {
        return beyondEnd("Ein Teil der Tabelle " + quoted(std::string(name)), page);
    };
    if (map == nullptr || size < 1) {
        throw damaged("Die Tabelle " + quoted(std::string(name)) + " hat keine Seitenliste");
    }
    if (map[0] == 0) {
        if (size < 5) {
            return;
        }
        const std::uint32_t first = littleEndian32(map + 1);
        for (std::size_t bit = 0; bit < (size - 5) * 8; ++bit) {
            if ((map[5 + bit / 8] & (1u << (bit % 8))) != 0) {
                const std::uint64_t page = std::uint64_t{first} + bit;
                if (page >= pageCount_) {
                    throw outside(static_cast<std::uint32_t>(page));
                }
            }
        }
    } else if (map[0] == 1) {
        for (std::size_t at = 1; at + 4 <= size; at += 4) {
            const std::uint32_t page = littleEndian32(map + at);
            if (page >= pageCount_) {
                throw outside(page);
            }
        }
    } else {
        throw damaged("Die Seitenliste der Tabelle " + quoted(std::string(name)) +
                      " hat eine unbekannte Form (" + std::to_string(map[0]) + ")");
    }
}

void File::readPage(std::uint32_t page, const std::string& what) const {
    if (page >= pageCount_) {
        throw beyondEnd(what, page);
    }
    if (mdb_read_pg(handle_.get(), page) != handle_->fmt->pg_size) {
        throw damaged(what + " liegt auf Seite " + std::to_string(page) + ", die nicht lesbar ist");
    }
}

void File::readOtherPage(std::uint32_t page, const std::string& what) const {
    if (page >= pageCount_) {
        throw beyondEnd(what, page);
    }
    if (mdb_read_alt_pg(handle_.get(), page) != handle_->fmt->pg_size) {
        throw damaged(what + " liegt auf Seite " + std::to_string(page) + ", die nicht lesbar ist");
    }
}

std::optional<RowExtent> File::findRow(const unsigned char* buffer, int row) const {
    const int offsets = handle_->fmt->row_count_offset;
    const int pageSize = static_cast<int>(handle_->fmt->pg_size);
    if (row < 0 || offsets + 2 + 2 * (row + 1) > pageSize) {
        return std::nullopt;
    }
    const int start = littleEndian16(buffer + offsets + 2 + 2 * row) & rowOffsetMask;
    const int end =
        row == 0 ? pageSize : littleEndian16(buffer + offsets + 2 * row) & rowOffsetMask;
    if (start > end || end > pageSize) {
        return std::nullopt;
    }
    return RowExtent{start, static_cast<std::size_t>(end - start)};
}

Failure File::beyondEnd(const std::string& what, std::uint32_t page) const {
    return damaged(what + " liegt auf Seite " + std::to_string(page) +
                   " hinter dem Ende der Datei; sie ist zu kurz");
}

Failure File::damaged(const std::string& detail) const {
    return Failure("Die Datenbank " + quoted(path_) + " ist beschädigt: " + detail);
}

} // namespace wfb::mdb
