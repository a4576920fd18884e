// Search criteria, filters and sort orders over the rows of a result, in ADO's notation:
//   criterion:  column op value      op: = <> < > <= >= LIKE, or "column IS [NOT] NULL"
//   value:      a number, 'text' (a quote inside doubled), #date# or 'date', TRUE / FALSE, NULL
//   filter:     criteria joined by AND / OR, grouped with parentheses
//   sort:       column [ASC|DESC], column [ASC|DESC] ...
// Column names may be written in [brackets]. Values compare by the column's type: numbers by
// value, text without regard to case, dates as dates; a NULL value meets only "= NULL" and
// "IS NULL". LIKE takes * or % as wildcards at the end of the pattern or at both ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rowset.h"

namespace zentra {

// The message ADO gives for criteria it cannot read.
extern const wchar_t* const kBadCriteria;

// A failure while reading criteria or a sort: the message and the code to record.
struct CriteriaError {
    std::wstring text;
    std::uint32_t code = 0;
};

class Criteria {
public:
    Criteria();
    ~Criteria();
    Criteria(Criteria&&) noexcept;
    Criteria& operator=(Criteria&&) noexcept;

    // Find criteria: exactly one comparison.
    bool ParseFind(std::wstring_view text, const RowSet& rows, CriteriaError& error);
    // A filter: comparisons joined by AND and OR (AND binds tighter), with parentheses.
    bool ParseFilter(std::wstring_view text, const RowSet& rows, CriteriaError& error);
    // Whether row `row` meets the criteria (loads the row into `rows`).
    bool Matches(RowSet& rows, std::size_t row) const;

    struct Node;

private:
    std::unique_ptr<Node> root_;
};

struct SortKey {
    std::size_t column = 0;
    bool descending = false;
};

// Reads "column [ASC|DESC], ..." ("" gives no keys).
bool ParseSort(std::wstring_view text, const RowSet& rows, std::vector<SortKey>& keys, CriteriaError& error);
// Orders `view` (row ids) by `keys`, keeping the given order among equal rows. NULL comes
// before every value in ascending order.
void SortRows(RowSet& rows, std::vector<std::size_t>& view, const std::vector<SortKey>& keys);

}  // namespace zentra
