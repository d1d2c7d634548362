#pragma once

// The rows of a table, read natively with libmdb's primitives: page by page in the order of the
// table's usage map, every row checked to lie where libmdb will look before libmdb cracks it,
// every value checked to lie inside its row before it is read.

#include "mdbfile.h"

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
    std::size_t columnCount() const { return fields_.size(); }
    const MdbColumn& column(std::size_t index) const;
    // The position of the column of that name, compared without regard to case, or nothing.
    std::optional<std::size_t> findColumn(std::string_view name) const;

    // Calls visit for every row of the table, in the order of its pages, leaving out deleted
    // rows and following moved rows to where their content lies. While visit runs, the values
    // below are those of that row.
    void run(const std::function<void()>& visit);

    // Whether the row has no value in the column (for a yes/no column: whether it holds no).
    bool isNull(std::size_t column) const;
    // A Date/Time value as Access keeps it: days since 30 December 1899, the time as fraction.
    double dateValue(std::size_t column) const;
    // An Integer or Long Integer value.
    std::int32_t integerValue(std::size_t column) const;
    // A Text or Memo value in UTF-8, or nothing when the row has none.
    std::optional<std::string> text(std::size_t column) const;

    // The failure for the current row, with what is wrong with it.
    Failure damagedRow(std::string_view what) const;

private:
    struct Bytes {
        const unsigned char* data;
        std::size_t size;
    };

    std::string part() const;
    bool isDataPageOfTable() const;
    void scanPage(std::uint32_t page, const std::function<void()>& visit);
    void followOverflow(int start, std::size_t size, const std::function<void()>& visit);
    void crack(int start, std::size_t size);
    Bytes value(std::size_t column) const;
    Failure unreadableValue(std::size_t column) const;
    std::string memo(std::size_t column, Bytes field) const;
    Bytes longValuePart(std::uint32_t pageRow, const std::string& what) const;
    std::string convert(const unsigned char* data, std::size_t size) const;

    const File& file_;
    MdbHandle* mdb_;
    std::string name_;
    unsigned long tablePage_;
    Table table_;
    std::vector<MdbField> fields_;

    // The row being visited: where it lies and how many columns it has.
    std::uint32_t page_ = 0;
    int row_ = 0;
    int start_ = 0;
    std::size_t size_ = 0;
    unsigned int rowColumns_ = 0;
};

} // namespace wfb::mdb
