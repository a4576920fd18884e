// The filter, find and sort criteria. Properties: criteria that read as a find also read as a
// filter and pick the same rows; a filter in parentheses picks the same rows as without; a sort
// that reads orders every row exactly once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dataaccess/criteria.h"
#include "dataaccess/xml.h"
#include "zentra/codepage.h"

using namespace zentra;

namespace {

std::unique_ptr<RowSet> Rows() {
    auto rows = std::make_unique<RowSet>();
    const struct {
        const wchar_t* name;
        int adoType;
        long size;
    } columns[] = {{L"id", 3, 4}, {L"name", 202, 40}, {L"amount", 5, 8}, {L"born", 135, 16}, {L"ok", 11, 2}};
    for (const auto& c : columns) {
        ColumnInfo info;
        info.name = c.name;
        ColumnFromAdoType(info, c.adoType, c.size, 255, 255, 0x20 /* may be NULL */);
        rows->columns.push_back(info);
    }
    const wchar_t* names[] = {L"Ann", L"bob", L"O'Brien", L"", L"zoë"};
    for (int r = 0; r < 5; ++r) {
        if (r == 3) rows->AddNull();
        else rows->AddInt(r * 7 - 3);
        rows->AddText(names[r]);
        if (r == 1) rows->AddNull();
        else rows->AddDouble(r * 2.5 - 1);
        rows->AddTimestamp(SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(1990 + r), 1, 15, 12, 0, 0, 0});
        rows->AddBool(r % 2 == 0);
        rows->EndRow();
    }
    rows->Finish();
    return rows;
}

std::vector<bool> Picks(const Criteria& criteria, RowSet& rows) {
    std::vector<bool> picked;
    for (std::size_t r = 0; r < rows.RowCount(); ++r) picked.push_back(criteria.Matches(rows, r));
    return picked;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::unique_ptr<RowSet> rows = Rows();
    const std::wstring text = Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
    CriteriaError error;

    Criteria find, filter, grouped;
    const bool asFind = find.ParseFind(text, *rows, error);
    const bool asFilter = filter.ParseFilter(text, *rows, error);
    if (asFind && !asFilter) std::abort();
    if (asFilter) {
        const std::vector<bool> picked = Picks(filter, *rows);
        if (asFind && Picks(find, *rows) != picked) std::abort();
        const bool blank = text.find_first_not_of(L" \t\r\n") == std::wstring::npos;
        if (!blank) {
            if (!grouped.ParseFilter(L"(" + text + L")", *rows, error)) std::abort();
            if (Picks(grouped, *rows) != picked) std::abort();
        }
    }

    std::vector<SortKey> keys;
    if (ParseSort(text, *rows, keys, error)) {
        std::vector<std::size_t> view{4, 2, 0, 3, 1};
        SortRows(*rows, view, keys);
        std::vector<bool> seen(5);
        for (std::size_t r : view) {
            if (r >= 5 || seen[r]) std::abort();
            seen[r] = true;
        }
        if (view.size() != 5) std::abort();
    }
    return 0;
}
