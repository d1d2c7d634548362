#include "mdbrows.h"

#include <algorithm>
#include <memory>
#include <unordered_set>

namespace wfb::mdb {
namespace {

// Moved rows may have moved again; more steps than this are a damaged file.
constexpr int maxOverflowSteps = 8;

// The head of a Memo value in its row: the length and flags, then where the text lies.
constexpr std::uint32_t memoInRow = 0x80000000;    // the text follows the head
constexpr std::uint32_t memoOnePage = 0x40000000;  // the text is one row of another page
constexpr std::uint32_t memoFlagMask = 0xFF000000; // none of them: a chain of such rows

struct GFree {
    void operator()(char* text) const { g_free(text); }
};

} // namespace

RowScan::RowScan(const File& file, MdbCatalogEntry& entry)
    : file_(file), mdb_(file.handle()), name_(entry.object_name), tablePage_(entry.table_pg),
      table_(file.readTable(entry)), jet3_(file.isJet3()), fields_(table_->num_cols) {
    // libmdb orders the columns by number; the fixed ones take their places in that order.
    const std::size_t countSize = jet3_ ? 1 : 2;
    unsigned int fixed = 0;
    for (guint i = 0; i < table_->columns->len; ++i) {
        const auto& col = *static_cast<const MdbColumn*>(g_ptr_array_index(table_->columns, i));
        Place place{static_cast<unsigned int>(col.col_num), col.is_fixed != 0, col.var_col_num, 0,
                    0};
        if (place.fixed) {
            place.order = fixed++;
            place.offset = countSize + static_cast<std::size_t>(std::max(col.fixed_offset, 0));
            place.size = static_cast<std::size_t>(std::max(col.col_size, 0));
        }
        places_.push_back(place);
    }
}

std::string RowScan::tableLabel() const {
    return quoted(name_);
}

std::string RowScan::part() const {
    return "Ein Teil der Tabelle " + tableLabel();
}

const MdbColumn& RowScan::column(std::size_t index) const {
    return *static_cast<const MdbColumn*>(g_ptr_array_index(table_->columns, index));
}

std::optional<std::size_t> RowScan::findColumn(std::string_view name) const {
    const std::string wanted(name);
    for (std::size_t i = 0; i < columnCount(); ++i) {
        if (g_ascii_strcasecmp(column(i).name, wanted.c_str()) == 0) {
            return i;
        }
    }
    return std::nullopt;
}

Failure RowScan::damagedRow(std::string_view what) const {
    return file_.damaged("Zeile " + std::to_string(row_) + " auf Seite " + std::to_string(page_) +
                         " der Tabelle " + tableLabel() + " " + std::string(what));
}

void RowScan::run(const std::function<void()>& visit) {
    // Each page the map names lies behind the one before, and inside the file: at most as many
    // pages as the file has.
    guint32 page = 0;
    for (;;) {
        const gint32 next = mdb_map_find_next(mdb_, table_->usage_map,
                                              static_cast<unsigned int>(table_->map_sz), page);
        if (next == 0) {
            return;
        }
        if (next < 0 || static_cast<guint32>(next) <= page) {
            throw file_.damaged("Die Seitenliste der Tabelle " + tableLabel() +
                                " ist nicht lesbar");
        }
        page = static_cast<guint32>(next);
        scanPage(page, visit);
    }
}

bool RowScan::isDataPageOfTable() const {
    return mdb_->pg_buf[0] == MDB_PAGE_DATA &&
           static_cast<unsigned long>(littleEndian32(mdb_->pg_buf + 4)) == tablePage_;
}

void RowScan::scanPage(std::uint32_t page, const std::function<void()>& visit) {
    file_.readPage(page, part());
    // The usage map may name pages that are no longer the table's; libmdb passes them over.
    if (!isDataPageOfTable()) {
        return;
    }
    const int offsets = mdb_->fmt->row_count_offset;
    const int rows = littleEndian16(mdb_->pg_buf + offsets);
    if (offsets + 2 + 2 * rows > mdb_->fmt->pg_size) {
        throw file_.damaged("Seite " + std::to_string(page) + " der Tabelle " + tableLabel() +
                            " nennt mehr Zeilen, als sie fassen kann");
    }
    for (int row = 0; row < rows; ++row) {
        page_ = page;
        row_ = row;
        // A deleted row keeps its bytes until the file is compacted; they do not count.
        if ((littleEndian16(mdb_->pg_buf + offsets + 2 + 2 * row) & rowDeleted) != 0) {
            continue;
        }
        int start = 0;
        std::size_t size = 0;
        if (mdb_find_row(mdb_, row, &start, &size) != 0) {
            throw damagedRow("liegt nicht auf ihrer Seite");
        }
        if (size == 0) {
            continue;
        }
        if ((start & rowMoved) != 0) {
            followOverflow(start & rowOffsetMask, size, visit);
            file_.readPage(page, part());
        } else {
            enter(start & rowOffsetMask, size);
            visit();
        }
    }
}

// A moved row: its place holds the row number and the page of its content.
void RowScan::followOverflow(int start, std::size_t size, const std::function<void()>& visit) {
    for (int step = 0; step < maxOverflowSteps; ++step) {
        if (size < 4) {
            throw damagedRow("verweist ins Leere");
        }
        const int targetRow = mdb_->pg_buf[start];
        const std::uint32_t targetPage = littleEndian32(mdb_->pg_buf + start) >> 8;
        file_.readPage(targetPage, part());
        if (!isDataPageOfTable() ||
            targetRow >= littleEndian16(mdb_->pg_buf + mdb_->fmt->row_count_offset) ||
            mdb_find_row(mdb_, targetRow, &start, &size) != 0) {
            throw damagedRow("verweist auf eine Stelle, an der sie nicht liegt");
        }
        page_ = targetPage;
        row_ = targetRow;
        if ((start & rowMoved) == 0) {
            enter(start & rowOffsetMask, size);
            visit();
            return;
        }
        start &= rowOffsetMask;
    }
    throw damagedRow("verweist im Kreis");
}

// A row's column count lies at its start; from its end backwards lie the null mask, the number
// of variable-length values and their offsets (in Jet 3 files with a table of jumps by 256
// bytes in between). All of that must lie inside the row before libmdb reads it.
void RowScan::enter(int start, std::size_t size) {
    start_ = start;
    size_ = size;
    cracked_ = false;
    const unsigned char* row = mdb_->pg_buf + start;
    const std::size_t countSize = jet3_ ? 1 : 2;
    if (size < countSize) {
        throw damagedRow("ist nicht lesbar");
    }
    rowColumns_ = jet3_ ? row[0] : littleEndian16(row);
    const std::size_t maskSize = (rowColumns_ + 7) / 8;
    std::size_t needed = countSize + maskSize;
    rowVariable_ = 0;
    if (table_->num_var_cols > 0) {
        // The number of variable-length values has the size of the column count.
        needed += countSize;
        if (needed <= size) {
            const unsigned char* last = row + size - 1 - maskSize; // the last byte before the mask
            if (jet3_) {
                rowVariable_ = last[0];
                needed += (size - 1) / 256 + rowVariable_ + 1;
            } else {
                rowVariable_ = littleEndian16(last - 1);
                needed += 2 * (std::size_t{rowVariable_} + 1);
            }
        }
    }
    if (needed > size) {
        throw damagedRow("ist nicht lesbar");
    }
    mask_ = row + size - maskSize;
}

RowScan::Bytes RowScan::variableValue(std::size_t column) const {
    if (!cracked_) {
        // A value libmdb leaves out (it stops at the first one out of place) must not keep the
        // place it had in an earlier row.
        for (MdbField& field : fields_) {
            field.start = 0;
            field.siz = -1;
        }
        if (mdb_crack_row(table_.get(), start_, size_, fields_.data()) < 0) {
            throw damagedRow("ist nicht lesbar");
        }
        cracked_ = true;
    }
    const MdbField& field = fields_[column];
    if (field.siz < 0 || field.start < start_ ||
        static_cast<std::size_t>(field.start - start_) + static_cast<std::size_t>(field.siz) >
            size_) {
        throw unreadableValue(column);
    }
    return {mdb_->pg_buf + field.start, static_cast<std::size_t>(field.siz)};
}

Failure RowScan::unreadableValue(std::size_t column) const {
    return damagedRow("hat in der Spalte " + quoted(this->column(column).name) +
                      " einen unlesbaren Wert");
}

std::int32_t RowScan::integerValue(std::size_t column) const {
    const Bytes bytes = value(column);
    const int type = this->column(column).col_type;
    if (type == MDB_INT && bytes.size == 2) {
        return static_cast<std::int16_t>(littleEndian16(bytes.data));
    }
    if (type == MDB_LONGINT && bytes.size == 4) {
        return static_cast<std::int32_t>(littleEndian32(bytes.data));
    }
    throw unreadableValue(column);
}

std::optional<std::string> RowScan::text(std::size_t column) const {
    if (isNull(column)) {
        return std::nullopt;
    }
    const Bytes bytes = value(column);
    if (this->column(column).col_type == MDB_MEMO) {
        return memo(column, bytes);
    }
    return convert(bytes.data, bytes.size);
}

// A Memo value: its text in the row, in one row of another page, or in a chain of rows, each
// beginning with the page and row of the next.
std::string RowScan::memo(std::size_t column, Bytes field) const {
    if (field.size < MDB_MEMO_OVERHEAD) {
        return std::string();
    }
    const std::uint32_t head = littleEndian32(field.data);
    if ((head & memoInRow) != 0) {
        return convert(field.data + MDB_MEMO_OVERHEAD, field.size - MDB_MEMO_OVERHEAD);
    }
    const std::string what = "Ein Text der Spalte " + quoted(this->column(column).name);
    std::uint32_t link = littleEndian32(field.data + 4);
    if ((head & memoOnePage) != 0) {
        const Bytes text = longValuePart(link, what);
        return convert(text.data, text.size);
    }
    if ((head & memoFlagMask) != 0) {
        throw unreadableValue(column);
    }
    // Only as much as is converted is collected; every part adds to it, and none is visited
    // twice.
    const std::size_t wanted = std::min<std::size_t>(head, mdb_->bind_size);
    std::string text;
    std::unordered_set<std::uint32_t> seen;
    while (link != 0 && text.size() < wanted) {
        if (!seen.insert(link).second) {
            throw file_.damaged(what + " verweist im Kreis");
        }
        const Bytes piece = longValuePart(link, what);
        if (piece.size <= 4) {
            throw file_.damaged(what + " hat einen leeren Teil auf Seite " +
                                std::to_string(link >> 8));
        }
        link = littleEndian32(piece.data);
        text.append(reinterpret_cast<const char*>(piece.data) + 4,
                    std::min(piece.size - 4, wanted - text.size()));
    }
    return convert(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// A row of another page that holds (a part of) a long value, read into the second page buffer:
// the row being visited stays where it is.
RowScan::Bytes RowScan::longValuePart(std::uint32_t pageRow, const std::string& what) const {
    const std::uint32_t page = pageRow >> 8;
    file_.readOtherPage(page, what);
    const int row = static_cast<int>(pageRow & 0xFF);
    const std::optional<RowExtent> extent = file_.findRow(mdb_->alt_pg_buf, row);
    if (!extent || row >= littleEndian16(mdb_->alt_pg_buf + mdb_->fmt->row_count_offset)) {
        throw file_.damaged(what + " liegt nicht in Zeile " + std::to_string(pageRow & 0xFF) +
                            " der Seite " + std::to_string(page));
    }
    return {mdb_->alt_pg_buf + extent->start, extent->size};
}

// Text as libmdb converts it (from the file's code page, or from UCS-2, compressed or not),
// into UTF-8. libmdb converts into a buffer of its bind size and is handed no more input than
// fits there whatever the characters: at most three bytes of output for a byte of input.
std::string RowScan::convert(const unsigned char* data, std::size_t size) const {
    const std::size_t fits = (mdb_->bind_size - 1) / 3 & ~std::size_t{1};
    std::unique_ptr<char, GFree> converted(
        mdb_col_to_string(mdb_, const_cast<unsigned char*>(data), 0, MDB_TEXT,
                          static_cast<int>(std::min(size, fits))));
    if (!converted) {
        return std::string();
    }
    return file_.toUtf8(converted.get());
}

} // namespace wfb::mdb
