// Searching, bookmarks, filter and sort, clones and XML persistence of a recordset.
#include <cmath>
#include <new>

#include "messages.h"
#include "criteria.h"
#include "cursor.h"
#include "xml.h"
#include "zentra/dataaccess.h"

namespace zentra {

namespace {

const wchar_t* const kBadBookmark =
    L"The bookmarked record is no longer available: it was deleted or is hidden by the filter.";

// The row a bookmark names, or -1 when the variant is not a bookmark of a row in `rows`.
long BookmarkRow(const _variant_t& bookmark, const RowSet& rows) {
    if (bookmark.vt() != VT_R8) return -1;
    const double d = bookmark.dblVal();
    if (!(d >= 1) || d != std::floor(d) || d > static_cast<double>(rows.RowCount())) return -1;
    return static_cast<long>(d) - 1;
}

}  // namespace

// ---- searching ----

int CADORecordSet::Search(const CString& criteria, int direction, bool next) {
    try {
        if (!m_pRecordset) {
            Record(kClosed, ZE_POINTER);
            return 0;
        }
        Criteria parsed;
        CriteriaError error;
        if (!parsed.ParseFind(criteria, *m_pRecordset->rows, error)) {
            Record(error.text, error.code);
            return 0;
        }
        // Searching moves the position: a pending edit is saved first, as any move does.
        if (!LeaveRecord()) return 0;
        Cursor& c = *m_pRecordset;
        const long count = static_cast<long>(c.Count());
        long start = c.position;
        if (next) {
            // From the record the last search found (skipping it), else from the current one.
            if (!m_varSearchPosition.IsEmpty()) {
                const long row = BookmarkRow(m_varSearchPosition, *c.rows);
                const long index = row < 0 ? -1 : c.IndexOf(static_cast<std::size_t>(row));
                if (index < 0) {
                    Record(kBadBookmark, ZE_INVALIDARG);
                    return 0;
                }
                start = index;
            }
            if ((direction > 0 && start >= count) || (direction < 0 && start < 0)) return 0;
            start += direction;
        } else {
            if ((direction > 0 && start >= count) || (direction < 0 && start < 0)) return 0;
        }
        if (start < 0 && direction > 0) start = 0;
        if (start >= count && direction < 0) start = count - 1;
        for (long i = start; i >= 0 && i < count; i += direction) {
            const std::size_t row = c.RowAt(i);
            if (c.rows->IsDeleted(row) || !parsed.Matches(*c.rows, row)) continue;
            c.position = i;
            EnterRecord();
            m_varSearchPosition = _variant_t::R8(static_cast<double>(row) + 1);
            return 1;
        }
        c.position = direction > 0 ? count : -1;
        m_varSearchPosition.Clear();
        return 0;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::Find(const wchar_t* criteria, int direction) {
    m_strFind = criteria ? criteria : L"";
    m_nSearchDirection = direction;
    if (direction != adSearchForward && direction != adSearchBackward) {
        m_nSearchDirection = adSearchForward;
        Record(kBadCriteria, ZE_INVALIDARG);
        return 0;
    }
    return Search(m_strFind, direction, false);
}

int CADORecordSet::FindFirst(const wchar_t* criteria) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    if (!LeaveRecord()) return 0;
    MoveFirst();
    return Find(criteria, adSearchForward);
}

int CADORecordSet::FindNext() {
    if (m_strFind.empty()) {
        Record(kBadCriteria, ZE_INVALIDARG);
        return 0;
    }
    return Search(m_strFind, m_nSearchDirection, true);
}

// ---- bookmarks ----

_variant_t CADORecordSet::GetCurrentBookmark() {
    if (!m_pRecordset || !m_pRecordset->OnRecord() || m_pRecordset->CurrentDeleted()) return _variant_t();
    return _variant_t::R8(static_cast<double>(m_pRecordset->CurrentRow()) + 1);
}

void CADORecordSet::GetBookmark() {
    if (!m_pRecordset) return Record(kClosed, ZE_POINTER);
    _variant_t bookmark = GetCurrentBookmark();
    if (bookmark.IsEmpty()) return Record(kNoCurrentRecord, ZE_FAIL);
    m_varBookmark = bookmark;
}

int CADORecordSet::SetBookmark() {
    if (m_varBookmark.IsEmpty()) return 0;
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    Cursor& c = *m_pRecordset;
    const long row = BookmarkRow(m_varBookmark, *c.rows);
    const long index = row < 0 ? -1 : c.IndexOf(static_cast<std::size_t>(row));
    if (index < 0 || c.rows->IsDeleted(static_cast<std::size_t>(row))) {
        Record(kBadBookmark, ZE_INVALIDARG);
        return 0;
    }
    if (!LeaveRecord()) return 0;
    c.position = index;
    EnterRecord();
    return 1;
}

// ---- filter and sort ----

int CADORecordSet::ApplyView(const CString& filter, const CString& sort) {
    try {
        if (!m_pRecordset) {
            Record(kClosed, ZE_POINTER);
            return 0;
        }
        Cursor& c = *m_pRecordset;
        RowSet& rows = *c.rows;
        Criteria criteria;
        std::vector<SortKey> keys;
        CriteriaError error;
        const bool haveFilter = !Trim(filter).empty(), haveSort = !Trim(sort).empty();
        if ((haveFilter && !criteria.ParseFilter(filter, rows, error)) ||
            (haveSort && !ParseSort(sort, rows, keys, error))) {
            Record(error.text, error.code);
            return 0;
        }
        if (!LeaveRecord()) return 0;
        std::vector<std::size_t> view;
        if (haveFilter || haveSort) {
            view.reserve(rows.RowCount());
            for (std::size_t row = 0, count = rows.RowCount(); row < count; ++row)
                if (!haveFilter || criteria.Matches(rows, row)) view.push_back(row);
            SortRows(rows, view, keys);
        }
        c.view = std::move(view);
        c.hasView = haveFilter || haveSort;
        c.filter = haveFilter ? filter : CString();
        c.sort = haveSort ? sort : CString();
        c.Settle(0, 1);
        EnterRecord();
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::SetFilter(const wchar_t* filter) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    return ApplyView(filter ? filter : L"", m_pRecordset->sort);
}

int CADORecordSet::SetSort(const wchar_t* sort) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    return ApplyView(m_pRecordset->filter, sort ? sort : L"");
}

// ---- clones ----

int CADORecordSet::Clone(CADORecordSet& other) {
    try {
        if (!m_pRecordset) {
            Record(kClosed, ZE_POINTER);
            return 0;
        }
        const Cursor& c = *m_pRecordset;
        auto clone = std::make_shared<Cursor>(c.rows);
        clone->source = c.source;
        clone->properties = c.properties;
        clone->view = c.view;
        clone->hasView = c.hasView;
        clone->filter = c.filter;
        clone->sort = c.sort;
        clone->pageSize = c.pageSize;
        clone->Settle(0, 1);
        // The other recordset gives up its own result, as Close does (a pending edit there is dropped).
        other.m_pRecordset = std::move(clone);
        other.m_pConnection = m_pConnection;
        other.m_strQuery = m_strQuery;
        other.m_nMode = m_nMode;
        other.m_nEditStatus = 0;
        other.m_strFind.clear();
        other.m_nSearchDirection = adSearchForward;
        other.m_varSearchPosition.Clear();
        other.m_varBookmark.Clear();
        other.EnterRecord();
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

// ---- XML persistence ----

int CADORecordSet::SaveAsXML(const wchar_t* path) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    if (!path || !*path) {
        Record(kBadCriteria, ZE_INVALIDARG);
        return 0;
    }
    // The file holds rows, not changes: pending ones would be saved as if they were the table's.
    for (std::size_t row = 0, n = m_pRecordset->rows->RowCount(); row < n; ++row)
        if (IsPending(*m_pRecordset->rows, row)) {
            Record(kChangesNotSent, ZE_FAIL);
            return 0;
        }
    try {
        XmlError error;
        if (!SaveRowsetXml(path, *m_pRecordset, error)) {
            Record(error.text, error.code);
            return 0;
        }
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::OpenXML(const wchar_t* path) {
    Close();
    if (!path || !*path) {
        Record(kBadCriteria, ZE_INVALIDARG);
        return 0;
    }
    try {
        auto rows = std::make_shared<RowSet>();
        XmlError error;
        if (!LoadRowsetXml(path, *rows, error)) {
            Record(error.text, error.code);
            return 0;
        }
        // A recordset read from a file stands alone: it has no connection and no statement.
        m_pConnection.reset();
        m_strQuery.clear();
        m_strFind.clear();
        m_nSearchDirection = adSearchForward;
        Adopt(std::move(rows));
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

}  // namespace zentra
