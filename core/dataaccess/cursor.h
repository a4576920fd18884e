// A recordset's result as its readers see it: the rows (shared by clones), the visible order
// after a filter or sort, the reading position and the pending edit of the current record.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "rowset.h"
#include "zentra/variant.h"

namespace zentra {

class Cursor {
public:
    explicit Cursor(std::shared_ptr<RowSet> rowSet) : rows(std::move(rowSet)) {}

    std::shared_ptr<RowSet> rows;
    // The statement that produced the rows ("" for schema rowsets and files), for Requery.
    std::wstring source;
    // Recordset properties that were set (keyed by lower-case name), e.g. "unique table".
    std::map<std::wstring, _variant_t> properties;

    // The visible records in order: `view` holds row ids when `hasView`, otherwise every row of
    // `rows` is visible in its stored order. Deleted rows may stay in the view; navigation skips
    // them.
    std::vector<std::size_t> view;
    bool hasView = false;
    std::wstring filter;  // as given to SetFilter ("" none)
    std::wstring sort;    // as given to SetSort ("" none)

    // Index into the visible records: -1 before the first (BOF), Count() after the last (EOF).
    long position = 0;
    long pageSize = 10;

    // The pending edit of the current record (or of the record being added): one value per
    // column and whether it was set.
    int editMode = 0;  // 0 none, 1 editing the current record, 2 adding a record
    std::vector<_variant_t> editValues;
    std::vector<bool> editChanged;
    // Whether column `i` has a value set by the pending edit.
    bool EditChanged(std::size_t i) const { return editMode != 0 && i < editChanged.size() && editChanged[i]; }

    std::size_t Count() const { return hasView ? view.size() : rows->RowCount(); }
    std::size_t RowAt(long index) const {
        return hasView ? view[static_cast<std::size_t>(index)] : static_cast<std::size_t>(index);
    }
    bool OnRecord() const { return position >= 0 && position < static_cast<long>(Count()); }
    // The row id of the current record; only when OnRecord().
    std::size_t CurrentRow() const { return RowAt(position); }
    bool CurrentDeleted() const { return OnRecord() && rows->IsDeleted(CurrentRow()); }
    // Visible records that are not deleted.
    std::size_t LiveCount() const;
    // The visible index of row `row`, -1 when it is not visible.
    long IndexOf(std::size_t row) const;
    // Moves to the first live record at or after `index` (step 1) or at or before it (step -1);
    // ends at Count() or -1 when there is none.
    void Settle(long index, int step);
    // Makes the view explicit (every row in stored order) so it can be reordered or shrunk.
    void MaterializeView();
};

// A pending change of a row not yet sent: an added row, or one with its original values kept.
bool IsPending(const RowSet& rows, std::size_t row);

}  // namespace zentra
