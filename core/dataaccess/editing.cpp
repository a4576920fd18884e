// Editing a recordset: field values of the record being edited or added, Update and
// CancelUpdate, batch changes, Delete, record binding, Requery and long values in chunks.
//
// Where changes go. The rows of a result come from one table (the driver's base-table
// description of its columns, or the "Unique Table" property); results whose rows are not one
// table row each (DISTINCT, GROUP BY, aggregates, UNION, window functions, joins) are refused.
// A row is found again by the table's primary key (else the driver's best row identifier) plus
// the original values of the changed columns, or, without a key, by all its original values,
// each compared exactly (see update_sql.cpp). Only when the rows that match are copies of each
// other is the statement limited to one of them; otherwise it is undone (a transaction of its
// own, or a savepoint inside the caller's) unless it reached exactly one row. A row that someone
// else changed meanwhile is not found: the update fails with ADO's message and nothing is
// overwritten.
//
// Immediate mode (mode 0): Update and Delete write to the database at once. Batch mode (any other
// mode): Update and Delete change the rows in memory and keep their original values; UpdateBatch
// sends them, in one transaction of its own unless the connection is already in one. When a row
// fails, the own transaction is rolled back and every row keeps its pending change (inside the
// caller's transaction, the rows written so far are done and the failed ones stay pending);
// CancelBatch restores the original values.
#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <new>

#include "messages.h"
#include "connection_core.h"
#include "cursor.h"
#include "update_sql.h"
#include "zentra/codepage.h"
#include "zentra/dataaccess.h"
#include "zentra/format.h"
#include "zentra/text.h"
#include "zentra/values.h"

namespace zentra {

bool IsPending(const RowSet& rows, std::size_t row) {
    const std::uint8_t s = rows.Status(row);
    if ((s & RowSet::Added) && !(s & RowSet::Deleted)) return true;
    return rows.originals.count(row) != 0;
}

struct CADORecordSet::WriteTable {
    std::weak_ptr<RowSet> rows;  // the result it describes
    std::wstring unique;         // the "Unique ..." properties it was found with
    TableTarget target;
    int criteria = kCriteriaChangedColumns;
    // Per row whose stored values were replaced (or added): the values the database holds, as
    // exact as they are known. The other rows are still as fetched.
    std::map<std::size_t, std::vector<_variant_t>> exact;

    // The values of `row` in the database, each time stamp finer than milliseconds as the text
    // of its whole fetched value: what finds the row again exactly.
    std::vector<_variant_t> Exact(RowSet& rowSet, std::size_t row) {
        auto it = exact.find(row);
        if (it != exact.end()) return it->second;
        std::vector<_variant_t> values = rowSet.RowValues(row);
        rowSet.Load(row);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const ColumnInfo& c = rowSet.columns[i];
            SQL_TIMESTAMP_STRUCT ts;
            if (c.kind != ValueKind::Timestamp || c.digits <= 3 || !rowSet.StoredTimestamp(i, ts) || ts.year < 1)
                continue;
            std::wstring fraction = Format(L"%09ld", static_cast<long>(ts.fraction));
            fraction.resize(static_cast<std::size_t>(std::min<int>(c.digits, 9)));
            values[i] = _variant_t::Bstr(Format(L"%04d-%02d-%02d %02d:%02d:%02d.%s", ts.year, ts.month, ts.day, ts.hour,
                                                ts.minute, ts.second, fraction));
        }
        return values;
    }
    // Records that `row` now holds `values` where `write` is set (all of it when `write` is empty).
    void Written(RowSet& rowSet, std::size_t row, const std::vector<_variant_t>& values,
                 const std::vector<bool>& write) {
        std::vector<_variant_t> now = write.empty() ? values : Exact(rowSet, row);
        for (std::size_t i = 0; i < write.size() && i < now.size(); ++i)
            if (write[i]) now[i] = values[i];
        exact[row] = std::move(now);
    }
};

namespace {

bool IsNullish(const _variant_t& v) { return v.vt() == VT_EMPTY || v.vt() == VT_NULL; }

// Converts with the rules of a column of `kind` (and ADO type `adoType`).
bool ConvertAs(ValueKind kind, int adoType, const _variant_t& in, _variant_t& out) {
    RowSet shape;
    ColumnInfo c;
    c.kind = kind;
    c.adoType = adoType;
    c.name = L"value";
    shape.columns.push_back(c);
    std::wstring ignored;
    return shape.Coerce(0, in, out, ignored);
}

// ---- record binding: member <-> variant ----

template <class T>
void PutMember(void* buffer, std::size_t size, T value) {
    if (size >= sizeof value) std::memcpy(buffer, &value, sizeof value);
}

template <class T>
T GetMember(const void* buffer) {
    T value;
    std::memcpy(&value, buffer, sizeof value);
    return value;
}

std::size_t MemberSize(int type) {
    switch (type) {
    case adTinyInt:
    case adUnsignedTinyInt: return 1;
    case adSmallInt:
    case adUnsignedSmallInt:
    case adBoolean: return 2;
    case adInteger:
    case adUnsignedInt:
    case adSingle: return 4;
    case adBigInt:
    case adUnsignedBigInt:
    case adDouble:
    case adCurrency:
    case adDate: return 8;
    case adDecimal: return sizeof(DECIMAL);
    case adVarWChar:
    case adWChar: return sizeof(wchar_t);
    case adVarChar:
    case adChar:
    case adVarBinary:
    case adBinary: return 1;
    default: return 0;
    }
}

// The members of each kind: each writes `value` into the bound member and returns its
// FieldStatusEnum and the length in bytes.

// An integer member holding `low` to `high`.
long FillInteger(const CADORecordBinding::Entry& e, const _variant_t& value, std::int64_t low, std::uint64_t high,
                 bool isSigned, long& length) {
    _variant_t n;
    if (!ConvertAs(isSigned ? ValueKind::Int : ValueKind::UInt, isSigned ? adBigInt : adUnsignedBigInt, value, n)) {
        _variant_t d;
        if (!ConvertAs(ValueKind::Double, adDouble, value, d)) return adFldCantConvertValue;
        return !isSigned && d.dblVal() < 0 ? adFldSignMismatch : adFldDataOverflow;
    }
    if (isSigned) {
        const std::int64_t v = n.intVal();
        if (v < low || (v > 0 && static_cast<std::uint64_t>(v) > high)) return adFldDataOverflow;
        switch (e.type) {
        case adTinyInt: PutMember(e.buffer, e.size, static_cast<std::int8_t>(v)); break;
        case adSmallInt: PutMember(e.buffer, e.size, static_cast<std::int16_t>(v)); break;
        case adInteger: PutMember(e.buffer, e.size, static_cast<std::int32_t>(v)); break;
        default: PutMember(e.buffer, e.size, v); break;
        }
    } else {
        const std::uint64_t v = n.uintVal();
        if (v > high) return adFldDataOverflow;
        switch (e.type) {
        case adUnsignedTinyInt: PutMember(e.buffer, e.size, static_cast<std::uint8_t>(v)); break;
        case adUnsignedSmallInt: PutMember(e.buffer, e.size, static_cast<std::uint16_t>(v)); break;
        case adUnsignedInt: PutMember(e.buffer, e.size, static_cast<std::uint32_t>(v)); break;
        default: PutMember(e.buffer, e.size, v); break;
        }
    }
    length = static_cast<long>(MemberSize(e.type));
    return adFldOK;
}

// A decimal or currency member.
long FillDecimal(const CADORecordBinding::Entry& e, const _variant_t& value, long& length) {
    _variant_t v;
    if (!ConvertAs(ValueKind::Decimal, adNumeric, value, v) || v.vt() != VT_DECIMAL) return adFldDataOverflow;
    if (e.type == adDecimal) {
        PutMember(e.buffer, e.size, v.decVal());
        length = static_cast<long>(MemberSize(e.type));
        return adFldOK;
    }
    // Ten-thousandths, rounded half away from zero.
    const double d = DecimalToDouble(v.decVal()) * 10000.0;
    if (!(d > -9.2e18 && d < 9.2e18)) return adFldDataOverflow;
    DECIMAL dec = v.decVal();
    std::wstring text = DecimalToText(dec);
    // Exact for the usual scales: shift the decimal point four places.
    std::wstring digits = text;
    bool negative = !digits.empty() && digits[0] == L'-';
    if (negative) digits.erase(0, 1);
    std::size_t point = digits.find(L'.');
    std::wstring whole = point == std::wstring::npos ? digits : digits.substr(0, point);
    std::wstring fraction = point == std::wstring::npos ? L"" : digits.substr(point + 1);
    fraction.resize(std::max<std::size_t>(fraction.size(), 5), L'0');
    std::int64_t units = 0;
    for (wchar_t ch : whole + fraction.substr(0, 4)) units = units * 10 + (ch - L'0');
    if (fraction[4] >= L'5') ++units;
    CY cy{negative ? -units : units};
    PutMember(e.buffer, e.size, cy);
    length = static_cast<long>(MemberSize(e.type));
    return adFldOK;
}

// A wide-text member, ended by a NUL.
long FillWideText(const CADORecordBinding::Entry& e, const _variant_t& value, long& length) {
    std::wstring text;
    if (value.vt() == VT_BSTR) text = value.bstrVal();
    else if (!VariantToText(value, text)) return adFldCantConvertValue;
    length = static_cast<long>(text.size() * sizeof(wchar_t));
    const std::size_t room = e.size / sizeof(wchar_t);
    if (room == 0) return adFldTruncated;
    const std::size_t n = std::min(text.size(), room - 1);
    auto* out = static_cast<wchar_t*>(e.buffer);
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), out);
    out[n] = 0;
    return n < text.size() ? adFldTruncated : adFldOK;
}

// A text member in the locale's code page, ended by a NUL; cut at whole characters.
long FillNarrowText(const CADORecordBinding::Entry& e, const _variant_t& value, long& length) {
    std::wstring text;
    if (value.vt() == VT_BSTR) text = value.bstrVal();
    else if (!VariantToText(value, text)) return adFldCantConvertValue;
    std::string bytes = WideToMultiByte(text, CP_ACP);
    length = static_cast<long>(bytes.size());
    if (e.size == 0) return adFldTruncated;
    bool truncated = false;
    if (bytes.size() > e.size - 1) {
        // Whole characters only.
        // Every character takes a byte at least: start from as many as the buffer holds.
        truncated = true;
        std::size_t keep = std::min(text.size(), e.size - 1);
        bytes = WideToMultiByte(std::wstring_view(text).substr(0, keep), CP_ACP);
        while (keep > 0 && bytes.size() > e.size - 1)
            bytes = WideToMultiByte(std::wstring_view(text).substr(0, --keep), CP_ACP);
    }
    std::memcpy(e.buffer, bytes.data(), bytes.size());
    static_cast<char*>(e.buffer)[bytes.size()] = 0;
    return truncated ? adFldTruncated : adFldOK;
}

long FillBytes(const CADORecordBinding::Entry& e, const _variant_t& value, long& length) {
    if (value.vt() != (VT_ARRAY | VT_UI1) && value.vt() != (VT_ARRAY | VT_I1)) return adFldCantConvertValue;
    const auto& bytes = value.parray()->bytes;
    length = static_cast<long>(bytes.size());
    const std::size_t n = std::min(bytes.size(), e.size);
    if (n) std::memcpy(e.buffer, bytes.data(), n);
    return n < bytes.size() ? adFldTruncated : adFldOK;
}

// A float, double, boolean or date member.
long FillScalar(const CADORecordBinding::Entry& e, const _variant_t& value, long& length) {
    _variant_t v;
    switch (e.type) {
    case adSingle:
        if (!ConvertAs(ValueKind::Float, adSingle, value, v)) return adFldCantConvertValue;
        PutMember(e.buffer, e.size, v.fltVal());
        break;
    case adDouble:
        if (!ConvertAs(ValueKind::Double, adDouble, value, v)) return adFldCantConvertValue;
        PutMember(e.buffer, e.size, v.dblVal());
        break;
    case adBoolean:
        if (!ConvertAs(ValueKind::Bool, adBoolean, value, v)) return adFldCantConvertValue;
        PutMember(e.buffer, e.size, static_cast<VARIANT_BOOL>(v.boolVal() ? VARIANT_TRUE : VARIANT_FALSE));
        break;
    case adDate:
        if (!ConvertAs(ValueKind::Timestamp, adDBTimeStamp, value, v)) return adFldCantConvertValue;
        PutMember(e.buffer, e.size, v.dblVal());
        break;
    default: return adFldCantConvertValue;
    }
    length = static_cast<long>(MemberSize(e.type));
    return adFldOK;
}

// Writes `value` into the bound member; returns its FieldStatusEnum and the length in bytes.
long FillMember(const CADORecordBinding::Entry& e, const _variant_t& value, long& length) {
    length = 0;
    if (IsNullish(value)) {
        if ((e.type == adVarWChar || e.type == adWChar) && e.size >= sizeof(wchar_t))
            static_cast<wchar_t*>(e.buffer)[0] = 0;
        if ((e.type == adVarChar || e.type == adChar) && e.size >= 1) static_cast<char*>(e.buffer)[0] = 0;
        return adFldNull;
    }
    constexpr auto int32Min = std::numeric_limits<std::int32_t>::min();
    constexpr auto int32Max = std::numeric_limits<std::int32_t>::max();
    constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();
    constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
    switch (e.type) {
    case adTinyInt: return FillInteger(e, value, -128, 127, true, length);
    case adSmallInt: return FillInteger(e, value, -32768, 32767, true, length);
    case adInteger: return FillInteger(e, value, int32Min, int32Max, true, length);
    case adBigInt: return FillInteger(e, value, int64Min, int64Max, true, length);
    case adUnsignedTinyInt: return FillInteger(e, value, 0, 0xFF, false, length);
    case adUnsignedSmallInt: return FillInteger(e, value, 0, 0xFFFF, false, length);
    case adUnsignedInt: return FillInteger(e, value, 0, 0xFFFFFFFFu, false, length);
    case adUnsignedBigInt: return FillInteger(e, value, 0, ~std::uint64_t{0}, false, length);
    case adDecimal:
    case adCurrency: return FillDecimal(e, value, length);
    case adVarWChar:
    case adWChar: return FillWideText(e, value, length);
    case adVarChar:
    case adChar: return FillNarrowText(e, value, length);
    case adVarBinary:
    case adBinary: return FillBytes(e, value, length);
    default: return FillScalar(e, value, length);
    }
}

// The bound member as a variant.
_variant_t ReadMember(const CADORecordBinding::Entry& e) {
    if (e.status && *e.status == adFldNull) return _variant_t::Null();
    const void* p = e.buffer;
    switch (e.type) {
    case adTinyInt: return _variant_t::I1(GetMember<std::int8_t>(p));
    case adSmallInt: return _variant_t::I2(GetMember<std::int16_t>(p));
    case adInteger: return _variant_t::I4(GetMember<std::int32_t>(p));
    case adBigInt: return _variant_t::I8(GetMember<std::int64_t>(p));
    case adUnsignedTinyInt: return _variant_t::UI1(GetMember<std::uint8_t>(p));
    case adUnsignedSmallInt: return _variant_t::UI2(GetMember<std::uint16_t>(p));
    case adUnsignedInt: return _variant_t::UI4(GetMember<std::uint32_t>(p));
    case adUnsignedBigInt: return _variant_t::UI8(GetMember<std::uint64_t>(p));
    case adSingle: return _variant_t::R4(GetMember<float>(p));
    case adDouble: return _variant_t::R8(GetMember<double>(p));
    case adBoolean: return _variant_t::Bool(GetMember<VARIANT_BOOL>(p) != 0);
    case adCurrency: return _variant_t::Currency(GetMember<CY>(p));
    case adDate: return _variant_t::Date(GetMember<double>(p));
    case adDecimal: return _variant_t::Decimal(GetMember<DECIMAL>(p));
    case adVarWChar:
    case adWChar: {
        const auto* text = static_cast<const wchar_t*>(p);
        std::size_t room = e.size / sizeof(wchar_t);
        if (e.length && *e.length >= 0)
            room = std::min<std::size_t>(room, static_cast<std::size_t>(*e.length) / sizeof(wchar_t));
        std::size_t n = 0;
        while (n < room && text[n]) ++n;
        return _variant_t::Bstr(std::wstring_view(text, n));
    }
    case adVarChar:
    case adChar: {
        const auto* text = static_cast<const char*>(p);
        std::size_t room = e.size;
        if (e.length && *e.length >= 0) room = std::min<std::size_t>(room, static_cast<std::size_t>(*e.length));
        std::size_t n = 0;
        while (n < room && text[n]) ++n;
        return _variant_t::Bstr(MultiByteToWide(std::string_view(text, n), CP_ACP));
    }
    case adVarBinary:
    case adBinary: {
        std::size_t n = e.size;
        if (e.length && *e.length >= 0) n = std::min<std::size_t>(n, static_cast<std::size_t>(*e.length));
        return _variant_t::Bytes(p, n);
    }
    default: return _variant_t();
    }
}

// UTF-16 code units appended to `text`; a surrogate pair split between two chunks is joined.
void AppendUtf16(std::wstring& text, const unsigned char* data, std::size_t units) {
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t u = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        if (u >= 0xDC00 && u <= 0xDFFF && !text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) {
            const wchar_t high = text.back();
            text.back() = static_cast<wchar_t>(0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
        } else {
            text.push_back(static_cast<wchar_t>(u));
        }
    }
}

}  // namespace

// ---- the pending edit ----

bool CADORecordSet::BeginEdit() {
    Cursor& c = *m_pRecordset;
    const std::size_t n = c.rows->columns.size();
    if (c.editMode == 0) {
        if (m_nEditStatus == 2) {
            if (!c.OnRecord() || c.CurrentDeleted()) {
                Record(kNoCurrentRecord, ZE_FAIL);
                return false;
            }
            c.editMode = 1;
        } else {
            c.editMode = 2;
        }
        c.editValues.assign(n, _variant_t());
        c.editChanged.assign(n, false);
    }
    if (c.editValues.size() != n) c.editValues.resize(n);
    if (c.editChanged.size() != n) c.editChanged.resize(n, false);
    m_nEditStatus = c.editMode == 2 ? 1 : 2;
    return true;
}

int CADORecordSet::SetPending(long index, const _variant_t& value) {
    Cursor& c = *m_pRecordset;
    if (index < 0 || index >= static_cast<long>(c.rows->columns.size())) {
        Record(kNoItem, ZE_INVALIDARG);
        return 0;
    }
    const std::size_t i = static_cast<std::size_t>(index);
    _variant_t stored;
    std::wstring error;
    if (!c.rows->Coerce(i, value, stored, error)) {
        Record(error, ZE_INVALIDARG);
        return 0;
    }
    c.editValues[i] = std::move(stored);
    c.editChanged[i] = true;
    return 1;
}

int CADORecordSet::StoreField(long index, const _variant_t& value) {
    if (m_nEditStatus == 0) return 0;  // not editing: nothing is stored, nothing recorded
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    try {
        if (!BeginEdit()) return 0;
        return SetPending(index, value);
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::StoreField(const wchar_t* name, const _variant_t& value) {
    if (m_nEditStatus == 0) return 0;
    long index = FindField(name);
    return index < 0 ? 0 : StoreField(index, value);
}

void CADORecordSet::DropEdit() {
    if (!m_pRecordset) return;
    Cursor& c = *m_pRecordset;
    c.editMode = 0;
    c.editValues.clear();
    c.editChanged.clear();
}

_variant_t CADORecordSet::ShownValue(std::size_t i) {
    Cursor& c = *m_pRecordset;
    if (c.EditChanged(i)) return c.editValues[i];
    if (c.editMode == 2) return _variant_t::Null();
    c.rows->Load(c.CurrentRow());
    return c.rows->Value(i);
}

CADORecordSet::WriteTable* CADORecordSet::Target(bool database) {
    Cursor& c = *m_pRecordset;
    auto property = [&](const wchar_t* name) {
        std::wstring text;
        auto it = c.properties.find(name);
        if (it != c.properties.end() && !IsNullish(it->second)) VariantToText(it->second, text);
        return text;
    };
    const std::wstring catalog = property(L"unique catalog"), schema = property(L"unique schema"),
                       table = property(L"unique table");
    const std::wstring unique = catalog + L'\n' + schema + L'\n' + table;
    if (!m_pWriteTable || m_pWriteTable->rows.lock() != c.rows) {
        auto target = std::make_shared<WriteTable>();
        target->rows = c.rows;
        target->unique = unique;
        DescribeTarget(c.rows->columns, catalog, schema, table, c.source, target->target);
        m_pWriteTable = std::move(target);
    } else if (m_pWriteTable->unique != unique) {
        // Another table of the same rows: what is known of their stored values stays.
        m_pWriteTable->unique = unique;
        DescribeTarget(c.rows->columns, catalog, schema, table, c.source, m_pWriteTable->target);
    }
    std::wstring criteriaText = property(L"update criteria");
    m_pWriteTable->criteria = criteriaText == L"0"   ? kCriteriaKey
                              : criteriaText == L"1" ? kCriteriaAllColumns
                                                     : kCriteriaChangedColumns;
    TableTarget& t = m_pWriteTable->target;
    if (!t.refusal.empty()) {
        Record(t.refusal, ZE_FAIL);
        return nullptr;
    }
    if (database && !t.resolved) {
        if (!m_pConnection || !m_pConnection->IsOpen()) {
            Record(kNotOpen, ZE_POINTER);
            return nullptr;
        }
        OdbcError error;
        if (!ResolveTarget(*m_pConnection, t, this, error)) {
            Record(error);
            return nullptr;
        }
    }
    return m_pWriteTable.get();
}

bool CADORecordSet::SaveEdit() {
    Cursor& c = *m_pRecordset;
    RowSet& rows = *c.rows;
    const std::size_t n = rows.columns.size();
    if (c.editMode == 0) return true;
    const bool adding = c.editMode == 2;
    if (!adding && (!c.OnRecord() || c.CurrentDeleted())) {
        Record(kNoCurrentRecord, ZE_FAIL);
        return false;
    }
    const std::size_t row = adding ? 0 : c.CurrentRow();
    std::vector<_variant_t> before = adding ? std::vector<_variant_t>(n, _variant_t::Null()) : rows.RowValues(row);
    std::vector<_variant_t> after = before;
    std::vector<bool> write(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        if (i >= c.editChanged.size() || !c.editChanged[i]) continue;
        after[i] = c.editValues[i];
        write[i] = adding || !(after[i] == before[i]);
    }
    if (!adding && std::none_of(write.begin(), write.end(), [](bool b) { return b; })) {
        DropEdit();
        return true;  // nothing changed
    }
    // Only columns of the table can take a value.
    WriteTable* table = Target(m_nMode == 0);
    if (!table) return false;
    const TableTarget& t = table->target;
    for (std::size_t i = 0; i < n; ++i)
        if (write[i] && t.base[i].empty()) {
            Record(Format(L"The field \"%s\" cannot be updated: it is not a column of the table \"%s\".",
                          rows.columns[i].name, t.table),
                   ZE_FAIL);
            return false;
        }

    const std::vector<_variant_t> stored = adding ? before : table->Exact(rows, row);
    if (m_nMode == 0) {
        bool conflict = false;
        OdbcError error;
        if (!WriteRow(*m_pConnection, rows.columns, t, adding ? RowWrite::Insert : RowWrite::Update, stored, after,
                      write, table->criteria, this, conflict, error)) {
            Record(error);
            return false;
        }
    }
    if (adding) {
        const std::size_t added = rows.AppendRow(after);
        table->Written(rows, added, after, {});
        if (m_nMode != 0) rows.SetStatus(added, RowSet::Added);
        if (c.hasView) c.view.push_back(added);
        DropEdit();
        c.position = c.IndexOf(added);
    } else {
        if (m_nMode != 0 && !(rows.Status(row) & RowSet::Added)) {
            if (!rows.originals.count(row)) rows.originals[row] = before;
            rows.SetStatus(row, rows.Status(row) | RowSet::Modified);
        }
        if (m_nMode == 0) table->Written(rows, row, after, write);
        else table->exact.emplace(row, stored);  // the database's values until the batch is sent
        rows.ReplaceRow(row, after);
        DropEdit();
    }
    return true;
}

// ---- typed values ----

int CADORecordSet::SetFieldValue(int index, const CString& value) { return StoreField(index, _variant_t::Bstr(value)); }
int CADORecordSet::SetFieldValue(const wchar_t* name, const CString& value) {
    return StoreField(name, _variant_t::Bstr(value));
}
int CADORecordSet::SetFieldValue(int index, const wchar_t* value) {
    return StoreField(index, _variant_t::Bstr(value ? value : L""));
}
int CADORecordSet::SetFieldValue(const wchar_t* name, const wchar_t* value) {
    return StoreField(name, _variant_t::Bstr(value ? value : L""));
}

namespace {
// An int as a 16-bit variant when it fits; a larger one keeps its value as a 32-bit variant.
_variant_t IntVariant(int value) {
    if (value >= -32768 && value <= 32767) return _variant_t::I2(static_cast<std::int16_t>(value));
    return _variant_t::I4(static_cast<std::int32_t>(value));
}
}  // namespace

int CADORecordSet::SetFieldValue(int index, int value) { return StoreField(index, IntVariant(value)); }
int CADORecordSet::SetFieldValue(const wchar_t* name, int value) { return StoreField(name, IntVariant(value)); }
int CADORecordSet::SetFieldValue(int index, long value) {
    return StoreField(index, _variant_t::I4(static_cast<std::int32_t>(value)));
}
int CADORecordSet::SetFieldValue(const wchar_t* name, long value) {
    return StoreField(name, _variant_t::I4(static_cast<std::int32_t>(value)));
}
int CADORecordSet::SetFieldValue(int index, unsigned long value) {
    return StoreField(index, _variant_t::UI4(static_cast<std::uint32_t>(value)));
}
int CADORecordSet::SetFieldValue(const wchar_t* name, unsigned long value) {
    return StoreField(name, _variant_t::UI4(static_cast<std::uint32_t>(value)));
}
int CADORecordSet::SetFieldValue(int index, double value) { return StoreField(index, _variant_t::R8(value)); }
int CADORecordSet::SetFieldValue(const wchar_t* name, double value) { return StoreField(name, _variant_t::R8(value)); }

namespace {
_variant_t DateVariant(const COleDateTime& value) {
    return value.m_status == COleDateTime::null ? _variant_t::Null() : _variant_t::Date(value.m_dt);
}
_variant_t CurrencyVariant(const COleCurrency& value) {
    return value.m_status == COleCurrency::null ? _variant_t::Null() : _variant_t::Currency(value.m_cur);
}
}  // namespace

int CADORecordSet::SetFieldValue(int index, COleDateTime value) { return StoreField(index, DateVariant(value)); }
int CADORecordSet::SetFieldValue(const wchar_t* name, COleDateTime value) {
    return StoreField(name, DateVariant(value));
}
int CADORecordSet::SetFieldValue(int index, bool value) { return StoreField(index, _variant_t::Bool(value)); }
int CADORecordSet::SetFieldValue(const wchar_t* name, bool value) { return StoreField(name, _variant_t::Bool(value)); }
int CADORecordSet::SetFieldValue(int index, COleCurrency value) { return StoreField(index, CurrencyVariant(value)); }
int CADORecordSet::SetFieldValue(const wchar_t* name, COleCurrency value) {
    return StoreField(name, CurrencyVariant(value));
}
int CADORecordSet::SetFieldValue(int index, const _variant_t& value) { return StoreField(index, value); }
int CADORecordSet::SetFieldValue(const wchar_t* name, const _variant_t& value) { return StoreField(name, value); }
int CADORecordSet::SetFieldEmpty(int index) { return StoreField(index, _variant_t()); }
int CADORecordSet::SetFieldEmpty(const wchar_t* name) { return StoreField(name, _variant_t()); }

// ---- editing ----

int CADORecordSet::Edit() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    Cursor& c = *m_pRecordset;
    if (c.editMode == 2) {  // the record being added stays the one edited
        m_nEditStatus = 1;
        return 1;
    }
    if (c.editMode == 0 && (!c.OnRecord() || c.CurrentDeleted())) {
        Record(kNoCurrentRecord, ZE_FAIL);
        return 0;
    }
    try {
        m_nEditStatus = 2;
        return BeginEdit() ? 1 : 0;
    } catch (...) {
        m_nEditStatus = 0;
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::CanUpdate() { return 1; }

int CADORecordSet::AddNew(const _variant_t& fields, const _variant_t& values) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    // A pending edit is saved first, as leaving its record does.
    if (!LeaveRecord()) return 0;
    m_nEditStatus = 0;
    try {
        DropEdit();
        m_nEditStatus = 1;
        BeginEdit();
        auto omitted = [](const _variant_t& v) {
            return v.vt() == VT_EMPTY || (v.vt() == VT_ERROR && v.scode() == DISP_E_PARAMNOTFOUND);
        };
        auto fieldIndex = [&](const _variant_t& key) -> long {
            const _variant_t k = (key.vt() & VT_BYREF) ? key.ByValue() : key;
            if (k.vt() == VT_BSTR) return FindField(k.bstrVal().c_str());
            _variant_t n;
            if (ConvertAs(ValueKind::Int, adBigInt, k, n) && n.intVal() >= 0 &&
                n.intVal() < static_cast<std::int64_t>(m_pRecordset->rows->columns.size()))
                return static_cast<long>(n.intVal());
            Record(kNoItem, ZE_INVALIDARG);
            return -1;
        };
        bool ok = true;
        if (omitted(fields)) {
            if (!omitted(values)) {
                Record(L"Values were given without the fields they belong to.", ZE_INVALIDARG);
                ok = false;
            }
        } else if (fields.vt() & VT_ARRAY) {
            const SAFEARRAY* names = fields.parray();
            const SAFEARRAY* items = (values.vt() & VT_ARRAY) ? values.parray() : nullptr;
            if (!names || names->elementType != VT_VARIANT || !items || items->elementType != VT_VARIANT ||
                names->variants.size() != items->variants.size()) {
                Record(L"The fields and the values must be arrays of variants of the same length.", ZE_INVALIDARG);
                ok = false;
            }
            for (std::size_t k = 0; ok && names && k < names->variants.size(); ++k) {
                long index = fieldIndex(names->variants[k]);
                ok = index >= 0 && SetPending(index, items->variants[k]);
            }
        } else {
            long index = fieldIndex(fields);
            ok = index >= 0 && SetPending(index, values);
        }
        if (!ok) {
            DropEdit();
            m_nEditStatus = 0;
            return 0;
        }
        return 1;
    } catch (...) {
        DropEdit();
        m_nEditStatus = 0;
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::AddNew(CADORecordBinding& binding) {
    if (!AddNew()) return 0;
    try {
        for (const auto& e : binding.GetBindingEntries()) {
            if (!e.modify) continue;
            if (!e.buffer || MemberSize(e.type) == 0 || e.ordinal < 1) {
                Record(L"A bound member has no buffer or an unknown type.", ZE_INVALIDARG);
                DropEdit();
                m_nEditStatus = 0;
                return 0;
            }
            if (!SetPending(e.ordinal - 1, ReadMember(e))) {
                DropEdit();
                m_nEditStatus = 0;
                return 0;
            }
        }
    } catch (...) {
        DropEdit();
        m_nEditStatus = 0;
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
    return Update();
}

int CADORecordSet::Update() {
    if (m_nEditStatus == 0 && (!m_pRecordset || m_pRecordset->editMode == 0)) return 1;
    if (!m_pRecordset) {
        m_nEditStatus = 0;
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    bool ok = false;
    try {
        ok = SaveEdit();
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
    }
    if (!ok) DropEdit();  // a failed save cancels the edit, as CancelUpdate does
    m_nEditStatus = 0;
    EnterRecord();
    return ok ? 1 : 0;
}

int CADORecordSet::CancelUpdate() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    DropEdit();
    m_nEditStatus = 0;
    EnterRecord();
    return 1;
}

std::vector<std::size_t> CADORecordSet::RowsIn(AffectEnum affect) {
    Cursor& c = *m_pRecordset;
    std::vector<std::size_t> list;
    if (affect == adAffectCurrent) {
        if (c.OnRecord()) list.push_back(c.CurrentRow());
    } else if (affect == adAffectGroup) {
        for (std::size_t i = 0, n = c.Count(); i < n; ++i) list.push_back(c.RowAt(static_cast<long>(i)));
        std::sort(list.begin(), list.end());
    } else {
        for (std::size_t i = 0, n = c.rows->RowCount(); i < n; ++i) list.push_back(i);
    }
    return list;
}

namespace {

// Opens what undoes a batch that fails part way: a transaction of the batch's own, or a savepoint
// inside the caller's transaction. False with the error to record.
bool BeginBatch(ConnectionCore& conn, bool own, const void* owner, OdbcError& error) {
    if (!own) {
        if (RunStatement(conn, L"SAVEPOINT orvanta_batch", owner, error)) return true;
        error.Set(Format(L"The changes cannot be made undoable inside the transaction, so they were not sent: %s",
                         error.text),
                  ZE_FAIL);
        return false;
    }
    SQLHDBC dbc = conn.dbc();
    if (!Check(Traced("SQLSetConnectAttrW", SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT,
                                                               reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)),
               SQL_HANDLE_DBC, dbc, error))
        return false;
    conn.inTransaction = true;
    return true;
}

// Ends the batch's own transaction (commit or roll back) and returns to autocommit.
bool EndOwnBatch(ConnectionCore& conn, bool commit, OdbcError& error) {
    SQLHDBC dbc = conn.dbc();
    OdbcError ignored;
    bool ok = Check(Traced("SQLEndTran", SQLEndTran(SQL_HANDLE_DBC, dbc, commit ? SQL_COMMIT : SQL_ROLLBACK)),
                    SQL_HANDLE_DBC, dbc, error);
    if (!ok && commit) Traced("SQLEndTran", SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK));
    Check(Traced("SQLSetConnectAttrW",
                 SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0)),
          SQL_HANDLE_DBC, dbc, ignored);
    conn.inTransaction = false;
    return ok;
}

// What a pending row needs: an insert of its values that are not NULL, a delete, or an update of
// the values that differ from those read.
RowWrite PlanWrite(RowSet& rows, std::size_t row, const TableTarget& t, const std::vector<_variant_t>& values,
                   std::vector<bool>& write) {
    const std::uint8_t status = rows.Status(row);
    const std::size_t n = rows.columns.size();
    write.assign(n, false);
    if (status & RowSet::Added) {
        for (std::size_t i = 0; i < n; ++i) write[i] = !IsNullish(values[i]) && !t.base[i].empty();
        return RowWrite::Insert;
    }
    if (status & RowSet::Deleted) return RowWrite::Delete;
    const std::vector<_variant_t>& was = rows.originals[row];
    for (std::size_t i = 0; i < n; ++i) write[i] = i >= was.size() || !(values[i] == was[i]);
    return RowWrite::Update;
}

}  // namespace

bool CADORecordSet::SendPending(AffectEnum affect) {
    Cursor& c = *m_pRecordset;
    RowSet& rows = *c.rows;
    std::vector<std::size_t> pending;
    for (std::size_t row : RowsIn(affect))
        if (IsPending(rows, row)) pending.push_back(row);
    if (pending.empty()) return true;
    WriteTable* table = Target(true);
    if (!table) return false;
    const TableTarget& t = table->target;
    ConnectionCore& conn = *m_pConnection;
    OdbcError error;
    const bool own = !conn.inTransaction;
    if (!BeginBatch(conn, own, this, error)) {
        Record(error);
        return false;
    }

    struct Done {
        std::size_t row;
        std::vector<_variant_t> values;  // inserted rows: as the database gave them
    };
    std::vector<Done> done;
    bool failed = false;
    OdbcError firstError;
    const std::size_t n = rows.columns.size();
    for (std::size_t row : pending) {
        std::vector<_variant_t> values = rows.RowValues(row);
        std::vector<bool> write;
        const RowWrite kind = PlanWrite(rows, row, t, values, write);
        const std::vector<_variant_t> original =
            kind == RowWrite::Insert ? std::vector<_variant_t>() : table->Exact(rows, row);
        bool conflict = false;
        if (WriteRow(conn, rows.columns, t, kind, original, values, write, table->criteria, this, conflict, error)) {
            done.push_back({row, std::move(values)});
            continue;
        }
        if (!failed) firstError = error;
        failed = true;
        break;  // the whole batch is undone
    }
    if (!own) {
        OdbcError ignored;
        if (failed && RunStatement(conn, L"ROLLBACK TO SAVEPOINT orvanta_batch", this, ignored)) done.clear();
        RunStatement(conn, L"RELEASE SAVEPOINT orvanta_batch", this, ignored);
    }
    if (own) {
        if (failed) {
            EndOwnBatch(conn, false, error);
            Record(firstError.text, firstError.code);
            return false;
        }
        if (!EndOwnBatch(conn, true, error)) {
            Record(error);
            return false;
        }
    }
    for (Done& d : done) {
        const std::uint8_t status = rows.Status(d.row);
        if (status & RowSet::Added) {
            rows.ReplaceRow(d.row, d.values);
            table->Written(rows, d.row, d.values, {});
            rows.SetStatus(d.row, RowSet::Unchanged);
        } else {
            if (!(status & RowSet::Deleted)) {
                const std::vector<_variant_t>& was = rows.originals[d.row];
                std::vector<bool> changed(n, false);
                for (std::size_t i = 0; i < n && i < was.size(); ++i) changed[i] = !(d.values[i] == was[i]);
                table->Written(rows, d.row, d.values, changed);
            }
            rows.SetStatus(d.row, (status & RowSet::Deleted) ? RowSet::Deleted : RowSet::Unchanged);
            rows.originals.erase(d.row);
        }
    }
    if (failed) Record(firstError.text, firstError.code);
    return !failed;
}

int CADORecordSet::UpdateBatch(AffectEnum affect) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    // The record being edited goes into the batch first.
    if ((m_nEditStatus != 0 || m_pRecordset->editMode != 0) && !Update()) return 0;
    m_nEditStatus = 0;
    bool ok = false;
    try {
        ok = SendPending(affect);
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
    }
    EnterRecord();
    return ok ? 1 : 0;
}

int CADORecordSet::CancelBatch(AffectEnum affect) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    DropEdit();
    m_nEditStatus = 0;
    try {
        Cursor& c = *m_pRecordset;
        RowSet& rows = *c.rows;
        for (std::size_t row : RowsIn(affect)) {
            if (!IsPending(rows, row)) continue;
            const std::uint8_t status = rows.Status(row);
            if (status & RowSet::Added) {
                rows.SetStatus(row, RowSet::Deleted);  // never reached the database: gone
                rows.originals.erase(row);
                continue;
            }
            rows.ReplaceRow(row, rows.originals[row]);
            rows.originals.erase(row);
            rows.SetStatus(row, RowSet::Unchanged);
        }
        if (c.OnRecord() && c.CurrentDeleted()) c.Settle(c.position, 1);
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
    EnterRecord();
    return 1;
}

int CADORecordSet::Delete() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    Cursor& c = *m_pRecordset;
    if (c.editMode == 2) {  // the record being added is dropped
        DropEdit();
        m_nEditStatus = 0;
        return 1;
    }
    if (!c.OnRecord() || c.CurrentDeleted()) {
        Record(kNoCurrentRecord, ZE_FAIL);
        return 0;
    }
    try {
        RowSet& rows = *c.rows;
        const std::size_t row = c.CurrentRow();
        const std::uint8_t status = rows.Status(row);
        if (m_nMode == 0) {
            WriteTable* table = Target(true);
            if (!table) return 0;
            std::vector<_variant_t> original = table->Exact(rows, row);
            std::vector<_variant_t> none;
            bool conflict = false;
            OdbcError error;
            if (!WriteRow(*m_pConnection, rows.columns, table->target, RowWrite::Delete, original, none,
                          std::vector<bool>(rows.columns.size(), false), table->criteria, this, conflict, error)) {
                Record(error);
                return 0;
            }
            rows.originals.erase(row);
            rows.SetStatus(row, RowSet::Deleted);
        } else if (status & RowSet::Added) {
            rows.SetStatus(row, RowSet::Deleted);  // never reached the database: nothing to send
        } else {
            if (!Target(false)) return 0;
            if (!rows.originals.count(row)) rows.originals[row] = rows.RowValues(row);
            rows.SetStatus(row, status | RowSet::Deleted);
        }
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
    DropEdit();
    m_nEditStatus = 0;
    return 1;
}

int CADORecordSet::DeleteAll() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    MoveFirst();
    while (!IsEOF()) {
        if (!Delete()) return 0;
        MoveNext();
    }
    return 1;
}

// ---- record binding ----

int CADORecordSet::RecordBinding(CADORecordBinding& binding) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    try {
        const long count = static_cast<long>(m_pRecordset->rows->columns.size());
        for (const auto& e : binding.GetBindingEntries()) {
            if (e.ordinal < 1 || e.ordinal > count) {
                Record(kNoItem, ZE_INVALIDARG);
                return 0;
            }
            if (!e.buffer || MemberSize(e.type) == 0 || e.size < MemberSize(e.type)) {
                Record(Format(L"The member bound to field %ld has no buffer, an unknown type or too small a size.",
                              e.ordinal),
                       ZE_INVALIDARG);
                return 0;
            }
        }
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
    m_pRecBinding = &binding;
    EnterRecord();
    return 1;
}

void CADORecordSet::FillBinding() {
    if (!m_pRecBinding || !m_pRecordset) return;
    Cursor& c = *m_pRecordset;
    if (c.editMode != 2 && (!c.OnRecord() || c.CurrentDeleted())) return;
    try {
        const long count = static_cast<long>(c.rows->columns.size());
        for (const auto& e : m_pRecBinding->GetBindingEntries()) {
            if (e.ordinal < 1 || e.ordinal > count || !e.buffer) continue;
            long length = 0;
            long status = FillMember(e, ShownValue(static_cast<std::size_t>(e.ordinal - 1)), length);
            if (e.status) *e.status = status;
            if (e.length) *e.length = length;
        }
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
    }
}

// ---- requery ----

int CADORecordSet::Requery() {
    if (!IsOpen()) return 1;
    Cursor& c = *m_pRecordset;
    if (c.editMode != 0 || m_nEditStatus != 0) {
        Record(L"The current record is being edited or added: call Update or CancelUpdate first.", ZE_FAIL);
        return 0;
    }
    for (std::size_t row = 0, n = c.rows->RowCount(); row < n; ++row)
        if (IsPending(*c.rows, row)) {
            Record(kChangesNotSent, ZE_FAIL);
            return 0;
        }
    if (c.source.empty()) {
        Record(L"The recordset has no statement to run again.", ZE_FAIL);
        return 0;
    }
    auto rows = FetchRows(c.source);
    if (!rows) return 0;
    try {
        c.rows = std::move(rows);
        c.view.clear();
        c.hasView = false;
        c.Settle(0, 1);
        m_varSearchPosition.Clear();
        m_varBookmark.Clear();
        // The filter and sort apply to the new rows.
        if (!c.filter.empty() || !c.sort.empty()) {
            const std::wstring filter = c.filter, sort = c.sort;
            if (!ApplyView(filter, sort)) return 0;
        }
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
    EnterRecord();
    return 1;
}

// ---- long values ----

int CADORecordSet::AppendChunk(int index, const void* data, UINT length) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    if (m_nEditStatus == 0 && m_pRecordset->editMode == 0) {
        Record(L"AppendChunk needs a record being edited or added: call Edit or AddNew first.", ZE_FAIL);
        return 0;
    }
    Cursor& c = *m_pRecordset;
    if (index < 0 || index >= static_cast<int>(c.rows->columns.size())) {
        Record(kNoItem, ZE_INVALIDARG);
        return 0;
    }
    if (!data && length > 0) {
        Record(L"", ZE_POINTER);
        return 0;
    }
    try {
        if (!BeginEdit()) return 0;
        const std::size_t i = static_cast<std::size_t>(index);
        const ColumnInfo& col = c.rows->columns[i];
        // The first chunk of an edit replaces the value; the next ones add to it.
        const bool first = !c.editChanged[i];
        const _variant_t& pending = c.editValues[i];
        const auto* bytes = static_cast<const unsigned char*>(data);
        if (col.kind == ValueKind::Bytes) {
            std::vector<std::uint8_t> all;
            if (!first && pending.vt() == (VT_ARRAY | VT_UI1) && pending.parray()) all = pending.parray()->bytes;
            all.insert(all.end(), bytes, bytes + length);
            return SetPending(index, _variant_t::Bytes(all.data(), all.size()));
        }
        if (col.kind == ValueKind::Text) {
            if (length % 2 != 0) {
                Record(L"Text chunks are UTF-16 code units: the length must be even.", ZE_INVALIDARG);
                return 0;
            }
            std::wstring text;
            if (!first && pending.vt() == VT_BSTR) text = pending.bstrVal();
            AppendUtf16(text, bytes, length / 2);
            return SetPending(index, _variant_t::Bstr(text));
        }
        Record(Format(L"The field \"%s\" takes no chunks: only text and binary fields do.", col.name), ZE_INVALIDARG);
        return 0;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::AppendChunk(const wchar_t* name, const void* data, UINT length) {
    long index = FindField(name);
    return index < 0 ? 0 : AppendChunk(static_cast<int>(index), data, length);
}

}  // namespace zentra
