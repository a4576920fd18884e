// Paging, field descriptions and the properties of recordsets and fields.
//
// Recordset properties (names case-insensitive):
//   "Unique Table", "Unique Schema", "Unique Catalog"  text, settable: the base table whose rows
//       the changes of a join reach (kept in the result's properties as "unique table", ...;
//       empty until set)
//   "Update Criteria"   number, settable: which values locate a row that is changed in the
//       database: 0 the key columns, 1 all columns, 2 the changed columns (the default)
//   "Maximum Rows"      number, read-only, 0: every row of a result is read
//   "Asynchronous Rowset Processing"  number, read-only, 0: the rows arrive before Open returns
//   "Bookmarkable"      Boolean, read-only, true
//   "Server Cursor"     Boolean, read-only, false: the rows are held by the client
//   "Updatability"      number, read-only, 7: rows can be changed, deleted and inserted
// Field properties:
//   "BASECATALOGNAME", "BASESCHEMANAME", "BASETABLENAME", "BASECOLUMNNAME"  text, read-only:
//       where the column comes from ("" where not known, e.g. an expression)
//   "ISAUTOINCREMENT"   Boolean, read-only
//   "Optimize"          Boolean, settable, false by default
// The text forms give numbers in decimal and Booleans as "True" / "False" and take the same
// (or any number, nonzero for true); the int forms give and take Booleans as -1 / 0 (any nonzero
// value sets true) and numbers as they are; a text property has no int form.
#include <algorithm>
#include <new>
#include <string>

#include "messages.h"
#include "cursor.h"
#include "field_core.h"
#include "rowset.h"
#include "zentra/dataaccess.h"
#include "zentra/text.h"

namespace zentra {

namespace {

const wchar_t* const kInvalidArgument =
    L"Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";
constexpr std::uint32_t kNotCapableCode = 0x800A0CB3u;  // adErrFeatureNotAvailable
const wchar_t* const kNotCapable = L"Object or provider is not capable of performing requested operation.";
const wchar_t* const kNotBoolean = L"The property is not a Boolean.";

enum class Kind { Text, Boolean, Number };

struct Property {
    const wchar_t* name;
    Kind kind;
    bool settable;
    long low, high;  // the range of a settable number
    long number;     // the value of a number or Boolean that was not set
};

const Property kRecordsetProperties[] = {
    {L"Unique Table", Kind::Text, true, 0, 0, 0},     {L"Unique Schema", Kind::Text, true, 0, 0, 0},
    {L"Unique Catalog", Kind::Text, true, 0, 0, 0},   {L"Update Criteria", Kind::Number, true, 0, 2, 2},
    {L"Maximum Rows", Kind::Number, false, 0, 0, 0},  {L"Asynchronous Rowset Processing", Kind::Number, false, 0, 0, 0},
    {L"Bookmarkable", Kind::Boolean, false, 0, 0, 1}, {L"Server Cursor", Kind::Boolean, false, 0, 0, 0},
    {L"Updatability", Kind::Number, false, 0, 0, 7},
};

enum class FieldProperty { BaseCatalog, BaseSchema, BaseTable, BaseColumn, AutoIncrement, Optimize };

struct FieldPropertyName {
    const wchar_t* name;
    FieldProperty id;
};

const FieldPropertyName kFieldProperties[] = {
    {L"BASECATALOGNAME", FieldProperty::BaseCatalog},   {L"BASESCHEMANAME", FieldProperty::BaseSchema},
    {L"BASETABLENAME", FieldProperty::BaseTable},       {L"BASECOLUMNNAME", FieldProperty::BaseColumn},
    {L"ISAUTOINCREMENT", FieldProperty::AutoIncrement}, {L"Optimize", FieldProperty::Optimize},
};

const Property* FindProperty(const wchar_t* name) {
    if (!name) return nullptr;
    for (const auto& p : kRecordsetProperties)
        if (EqualsNoCase(name, p.name)) return &p;
    return nullptr;
}

const FieldPropertyName* FindFieldProperty(const wchar_t* name) {
    if (!name) return nullptr;
    for (const auto& p : kFieldProperties)
        if (EqualsNoCase(name, p.name)) return &p;
    return nullptr;
}

// Where a field's Optimize setting is kept among the result's properties.
std::wstring OptimizeKey(std::size_t column) { return L"optimize:" + std::to_wstring(column); }

// `value` in the form of a property of kind `kind`; false when it has none.
bool Coerce(Kind kind, const _variant_t& value, _variant_t& out) {
    switch (kind) {
    case Kind::Text:
        if (value.vt() != VT_BSTR) return false;
        out = value;
        return true;
    case Kind::Boolean: {
        if (value.vt() == VT_BOOL) {
            out = value;
            return true;
        }
        if (value.vt() == VT_BSTR) {
            const std::wstring text = Trim(value.bstrVal());
            if (EqualsNoCase(text, L"true") || EqualsNoCase(text, L"false")) {
                out = _variant_t::Bool(EqualsNoCase(text, L"true"));
                return true;
            }
        }
        long number = 0;
        if (!VariantToLong(value, number)) return false;
        out = _variant_t::Bool(number != 0);
        return true;
    }
    case Kind::Number: {
        long number = 0;
        if (value.vt() == VT_BOOL || !VariantToLong(value, number)) return false;
        out = _variant_t::I4(static_cast<std::int32_t>(number));
        return true;
    }
    }
    return false;
}

int TextOf(const _variant_t& value, CString& text) {
    if (value.vt() == VT_BSTR) {
        text = value.bstrVal();
        return 1;
    }
    return VariantToText(value, text) ? 1 : 0;
}

}  // namespace

// ---- paging ----
// Pages hold PageSize live records each, numbered from 1; off the records the page is adPosBOF
// or adPosEOF, as the position is.

long CADORecordSet::GetAbsolutePage() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return -1;
    }
    const long position = GetAbsolutePosition();
    if (position < 1) return position;
    return (position - 1) / std::max(1L, m_pRecordset->pageSize) + 1;
}

int CADORecordSet::SetAbsolutePage(int page) {
    const long pages = GetPageCount();
    if (pages < 0) return 0;
    if (page < 1 || page > pages) {
        Record(kInvalidArgument, kInvalidArgumentCode);
        return 0;
    }
    const long target = (page - 1) * std::max(1L, m_pRecordset->pageSize) + 1;
    SetAbsolutePosition(static_cast<int>(target));
    return GetAbsolutePosition() == target ? 1 : 0;  // a pending change that could not be saved stays
}

long CADORecordSet::GetPageCount() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return -1;
    }
    const long size = std::max(1L, m_pRecordset->pageSize);
    const long live = static_cast<long>(m_pRecordset->LiveCount());
    return (live + size - 1) / size;
}

long CADORecordSet::GetPageSize() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return -1;
    }
    return m_pRecordset->pageSize;
}

int CADORecordSet::SetPageSize(int size) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    if (size < 1) {
        Record(kInvalidArgument, kInvalidArgumentCode);
        return 0;
    }
    m_pRecordset->pageSize = size;
    return 1;
}

// ---- field descriptions ----

int CADORecordSet::GetFieldPrecision(const wchar_t* name, long& precision) {
    const long index = FindField(name);
    if (index < 0) return 0;
    precision = m_pRecordset->rows->columns[static_cast<std::size_t>(index)].precision;
    return 1;
}

int CADORecordSet::GetFieldNumScale(const wchar_t* name, long& scale) {
    const long index = FindField(name);
    if (index < 0) return 0;
    scale = m_pRecordset->rows->columns[static_cast<std::size_t>(index)].scale;
    return 1;
}

int CADORecordSet::GetFieldAttributes(const wchar_t* name, long& attributes) {
    const long index = FindField(name);
    if (index < 0) return 0;
    attributes = m_pRecordset->rows->columns[static_cast<std::size_t>(index)].attributes;
    return 1;
}

// ---- recordset properties ----

int CADORecordSet::ReadProperty(const wchar_t* name, _variant_t& value) {
    const Property* p = FindProperty(name);
    if (!p) {
        Record(kNoItem, ZE_INVALIDARG);
        return 0;
    }
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    if (p->settable) {
        auto it = m_pRecordset->properties.find(ToLower(p->name));
        if (it != m_pRecordset->properties.end()) {
            value = it->second;
            return 1;
        }
    }
    switch (p->kind) {
    case Kind::Text: value = _variant_t::Bstr(L""); break;
    case Kind::Boolean: value = _variant_t::Bool(p->number != 0); break;
    case Kind::Number: value = _variant_t::I4(static_cast<std::int32_t>(p->number)); break;
    }
    return 1;
}

int CADORecordSet::WriteProperty(const wchar_t* name, const _variant_t& value) {
    const Property* p = FindProperty(name);
    if (!p) {
        Record(kNoItem, ZE_INVALIDARG);
        return 0;
    }
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    if (!p->settable) {
        Record(kNotCapable, kNotCapableCode);
        return 0;
    }
    _variant_t stored;
    if (!Coerce(p->kind, value, stored)) {
        Record(p->kind == Kind::Text ? kNotBoolean : kInvalidArgument,
               p->kind == Kind::Text ? ZE_INVALIDARG : kInvalidArgumentCode);
        return 0;
    }
    if (p->kind == Kind::Number && (stored.intVal() < p->low || stored.intVal() > p->high)) {
        Record(kInvalidArgument, kInvalidArgumentCode);
        return 0;
    }
    m_pRecordset->properties[ToLower(p->name)] = stored;
    return 1;
}

int CADORecordSet::GetProperties(const wchar_t* name, CString& value) {
    try {
        _variant_t v;
        if (!ReadProperty(name, v)) return 0;
        return TextOf(v, value);
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::GetProperties(const wchar_t* name, int& value) {
    try {
        _variant_t v;
        if (!ReadProperty(name, v)) return 0;
        if (v.vt() == VT_BOOL) value = v.boolVal() ? -1 : 0;
        else if (v.vt() == VT_I4) value = static_cast<int>(v.intVal());
        else {
            Record(kNotBoolean, ZE_INVALIDARG);
            return 0;
        }
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::SetProperties(const wchar_t* name, const wchar_t* value) {
    try {
        return WriteProperty(name, _variant_t::Bstr(value ? value : L""));
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::SetProperties(const wchar_t* name, int value) {
    try {
        return WriteProperty(name, _variant_t::I4(value));
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

// ---- field properties ----

int ReadFieldPropertyOf(Cursor& cursor, std::size_t column, const wchar_t* name, _variant_t& value, CString& error,
                        std::uint32_t& code) {
    const FieldPropertyName* p = FindFieldProperty(name);
    if (!p || column >= cursor.rows->columns.size()) {
        error = kNoItem;
        code = ZE_INVALIDARG;
        return 0;
    }
    const ColumnInfo& c = cursor.rows->columns[column];
    switch (p->id) {
    case FieldProperty::BaseCatalog: value = _variant_t::Bstr(c.baseCatalog); break;
    case FieldProperty::BaseSchema: value = _variant_t::Bstr(c.baseSchema); break;
    case FieldProperty::BaseTable: value = _variant_t::Bstr(c.baseTable); break;
    case FieldProperty::BaseColumn: value = _variant_t::Bstr(c.baseColumn); break;
    case FieldProperty::AutoIncrement: value = _variant_t::Bool(c.autoIncrement); break;
    case FieldProperty::Optimize: {
        auto it = cursor.properties.find(OptimizeKey(column));
        value = it != cursor.properties.end() ? it->second : _variant_t::Bool(false);
        break;
    }
    }
    return 1;
}

int CADORecordSet::ReadFieldProperty(long column, const wchar_t* property, _variant_t& value) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    CString error;
    std::uint32_t code = 0;
    if (column < 0 ||
        !ReadFieldPropertyOf(*m_pRecordset, static_cast<std::size_t>(column), property, value, error, code)) {
        Record(column < 0 ? CString(kNoItem) : error, column < 0 ? ZE_INVALIDARG : code);
        return 0;
    }
    return 1;
}

int CADORecordSet::WriteFieldProperty(long column, const wchar_t* property, const _variant_t& value) {
    _variant_t current;
    if (!ReadFieldProperty(column, property, current)) return 0;  // unknown, closed or no such column
    if (FindFieldProperty(property)->id != FieldProperty::Optimize) {
        Record(kNotCapable, kNotCapableCode);
        return 0;
    }
    _variant_t stored;
    if (!Coerce(Kind::Boolean, value, stored)) {
        Record(kInvalidArgument, kInvalidArgumentCode);
        return 0;
    }
    m_pRecordset->properties[OptimizeKey(static_cast<std::size_t>(column))] = stored;
    return 1;
}

int CADORecordSet::GetFieldProperties(const wchar_t* field, const wchar_t* property, CString& value) {
    try {
        const long index = FindField(field);
        _variant_t v;
        if (index < 0 || !ReadFieldProperty(index, property, v)) return 0;
        return TextOf(v, value);
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::GetFieldProperties(const wchar_t* field, const wchar_t* property, int& value) {
    try {
        const long index = FindField(field);
        _variant_t v;
        if (index < 0 || !ReadFieldProperty(index, property, v)) return 0;
        if (v.vt() != VT_BOOL) {
            Record(kNotBoolean, ZE_INVALIDARG);
            return 0;
        }
        value = v.boolVal() ? -1 : 0;
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::SetFieldProperties(const wchar_t* field, const wchar_t* property, const wchar_t* value) {
    try {
        const long index = FindField(field);
        return index < 0 ? 0 : WriteFieldProperty(index, property, _variant_t::Bstr(value ? value : L""));
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::SetFieldProperties(const wchar_t* field, const wchar_t* property, int value) {
    try {
        const long index = FindField(field);
        return index < 0 ? 0 : WriteFieldProperty(index, property, _variant_t::I4(value));
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

}  // namespace zentra
