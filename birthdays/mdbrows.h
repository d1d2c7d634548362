#pragma once

// The rows of a table, read natively: page by page in the order of the table's usage map, each
// row's layout checked to lie inside it before anything is read from it. Fixed-length values
// (numbers, dates, yes/no) are read straight from the row; libmdb cracks a row only when a
// variable-length value of it is read, and every value is checked to lie inside its row.

#include "mdbfile.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wfb::mdb {

class RowScan {
public:
    // Reads the definition and the columns of the table; throws when the file is damaged.
    RowScan(const File& file, MdbCatalogEntry& entry);

    // The table's name in German quotes, for messages.
    std::string tableLabel() const;

    // The columns in the order of their numbers.
    std::size_t columnCount() const { return places_.size(); }
    const MdbColumn& column(std::size_t index) const;
    // The position of the column of that name, compared without regard to case, or nothing.
    std::optional<std::size_t> findColumn(std::string_view name) const;

    // Calls visit for every row of the table, in the order of its pages, leaving out deleted
    // rows and following moved rows to where their content lies. While visit runs, the values
    // below are those of that row.
    void run(const std::function<void()>& visit);

    // Whether the row has no value in the column (for a yes/no column: whether it holds no).
    bool isNull(std::size_t column) const {
        const Place& place = places_[column];
        // A column added after the row was written has no bit in its null mask and no value.
        if (place.number >= rowColumns_ ||
            (mask_[place.number / 8] & 1u << place.number % 8) == 0) {
            return true;
        }
        return place.fixed ? place.order >= rowColumns_ - rowVariable_
                           : place.order >= rowVariable_;
    }
    // A Date/Time value as Access keeps it: days since 30 December 1899, the time as fraction.
    double dateValue(std::size_t column) const {
        const Bytes bytes = value(column);
        if (bytes.size != 8) {
            throw unreadableValue(column);
        }
        return std::bit_cast<double>(std::uint64_t{littleEndian32(bytes.data)} |
                                     std::uint64_t{littleEndian32(bytes.data + 4)} << 32);
    }
    // An Integer or Long Integer value.
    std::int32_t integerValue(std::size_t column) const;
    // A Text or Memo value in UTF-8, or nothing when the row has none.
    std::optional<std::string> text(std::size_t column) const;

    // The failure for the current row, with what is wrong with it.
    Failure damagedRow(std::string_view what) const;

private:
    // Where a column's value lies in a row: fixed-length values at an offset behind the column
    // count, in every row written since the column was added (the order-th fixed column); a
    // variable-length value wherever the row's order-th offset says.
    struct Place {
        unsigned int number; // its bit in the null mask
        bool fixed;
        unsigned int order;
        std::size_t offset; // fixed: from the start of the row
        std::size_t size;   // fixed
    };

    struct Bytes {
        const unsigned char* data;
        std::size_t size;
    };

    std::string part() const;
    bool isDataPageOfTable() const;
    void scanPage(std::uint32_t page, const std::function<void()>& visit);
    void followOverflow(int start, std::size_t size, const std::function<void()>& visit);
    void enter(int start, std::size_t size);
    // A value of the current row, checked to lie inside it. Variable-length values are where
    // libmdb finds them when it cracks the row, which it does only for a row they are read from.
    Bytes value(std::size_t column) const {
        const Place& place = places_[column];
        if (place.fixed) {
            if (place.offset + place.size > size_) {
                throw unreadableValue(column);
            }
            return {mdb_->pg_buf + start_ + place.offset, place.size};
        }
        return variableValue(column);
    }
    Bytes variableValue(std::size_t column) const;
    Failure unreadableValue(std::size_t column) const;
    std::string memo(std::size_t column, Bytes field) const;
    Bytes longValuePart(std::uint32_t pageRow, const std::string& what) const;
    std::string convert(const unsigned char* data, std::size_t size) const;

    const File& file_;
    MdbHandle* mdb_;
    std::string name_;
    unsigned long tablePage_;
    Table table_;
    bool jet3_;
    std::vector<Place> places_;

    // The row being visited: where it lies, how many columns and variable-length values it has,
    // where its null mask lies, and its values as libmdb cracked them (once asked for).
    std::uint32_t page_ = 0;
    int row_ = 0;
    int start_ = 0;
    std::size_t size_ = 0;
    unsigned int rowColumns_ = 0;
    unsigned int rowVariable_ = 0;
    const unsigned char* mask_ = nullptr;
    mutable std::vector<MdbField> fields_;
    mutable bool cracked_ = false;
};

} // namespace wfb::mdb
