// CADOField: one column of a recordset, read at the recordset's current record.
//
// A field object stays tied to the recordset and the result it came from: once the recordset is
// closed, reopened or requeried, or destroyed, every operation fails with an error instead of
// reading another result. Errors are recorded as "[code] text", the code in upper-case hex.
#include <cstdint>
#include <new>

#include "messages.h"
#include "field_core.h"
#include "rowset.h"
#include "zentra/dataaccess.h"
#include "zentra/format.h"

namespace zentra {

namespace {

constexpr std::uint32_t kTypeMismatchCode = 0x80020005u;  // DISP_E_TYPEMISMATCH
const wchar_t* const kInvalidArgument =
    L"Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";

}  // namespace

CADORecordSet* FieldCore::Owner(std::shared_ptr<Cursor>& result, CString& error, std::uint32_t& code) const {
    if (ownerAlive.expired() || owner == nullptr) {
        error = L"The recordset of this field no longer exists.";
        code = ZE_POINTER;
        return nullptr;
    }
    result = cursor.lock();
    if (!result || owner->GetRecordset() != result) {
        error = L"The recordset of this field was closed or reopened; get the field again.";
        code = ZE_POINTER;
        return nullptr;
    }
    if (column >= result->rows->columns.size()) {
        error = kNoItem;
        code = ZE_INVALIDARG;
        return nullptr;
    }
    return owner;
}

// ---- CADORecordSet::GetField ----

FieldPtr CADORecordSet::GetField(int index) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return nullptr;
    }
    if (index < 0 || index >= static_cast<int>(m_pRecordset->rows->columns.size())) {
        Record(kNoItem, ZE_INVALIDARG);
        return nullptr;
    }
    try {
        auto field = std::make_shared<FieldCore>();
        field->owner = this;
        field->ownerAlive = m_life.token;
        field->cursor = m_pRecordset;
        field->column = static_cast<std::size_t>(index);
        return field;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return nullptr;
    }
}

FieldPtr CADORecordSet::GetField(const wchar_t* name) {
    const long index = FindField(name);
    return index < 0 ? nullptr : GetField(static_cast<int>(index));
}

// ---- CADOField ----

namespace {

// The checks every field operation starts with; records into the field's error members.
struct FieldAccess {
    CADORecordSet* owner = nullptr;
    std::shared_ptr<Cursor> cursor;
    std::size_t column = 0;

    FieldAccess(const FieldPtr& field, CString& errorText, std::uint32_t& errorCode) {
        CString text;
        std::uint32_t code = ZE_POINTER;
        if (!field) text = L"No field is attached.";
        else if ((owner = field->Owner(cursor, text, code)) != nullptr) column = field->column;
        if (!owner) Fail(errorText, errorCode, code, text);
    }
    explicit operator bool() const { return owner != nullptr; }
    const ColumnInfo& Column() const { return cursor->rows->columns[column]; }

    static void Fail(CString& errorText, std::uint32_t& errorCode, std::uint32_t code, const CString& text) {
        errorText = Format(L"[%X] %s", code, text);
        errorCode = code;
    }
    // Takes over the error the owner recorded.
    void Forward(CString& errorText, std::uint32_t& errorCode) const {
        Fail(errorText, errorCode, owner->m_dwLastError, owner->m_strLastError);
    }
};

// The value of the current record as it was read from the database: the saved original of a
// record with changes not yet sent, nothing for a record that is not in the database yet.
bool OriginalValue(const FieldAccess& f, _variant_t& value, CString& errorText, std::uint32_t& errorCode) {
    Cursor& c = *f.cursor;
    if (c.editMode == 2) {
        value = _variant_t::Null();
        return true;
    }
    if (!c.OnRecord()) {
        FieldAccess::Fail(errorText, errorCode, ZE_FAIL, kNoCurrentRecord);
        return false;
    }
    const std::size_t row = c.CurrentRow();
    auto it = c.rows->originals.find(row);
    if (it != c.rows->originals.end() && f.column < it->second.size()) {
        value = it->second[f.column];
        return true;
    }
    if (c.rows->Status(row) & RowSet::Added) {
        value = _variant_t::Null();
        return true;
    }
    c.rows->Load(row);
    value = c.rows->Value(f.column);
    return true;
}

}  // namespace

CString CADOField::GetName() {
    FieldAccess f(m_pField, m_strLastError, m_dwLastError);
    return f ? f.Column().name : CString();
}

// adEmpty when the field is not usable.
int CADOField::GetType() {
    FieldAccess f(m_pField, m_strLastError, m_dwLastError);
    return f ? f.Column().adoType : adEmpty;
}

long CADOField::GetActualSize() {
    FieldAccess f(m_pField, m_strLastError, m_dwLastError);
    if (!f) return -1;
    CADOFieldInfo info;
    if (!f.owner->GetFieldInfo(static_cast<long>(f.column), &info)) {
        f.Forward(m_strLastError, m_dwLastError);
        return -1;
    }
    if (info.m_lActualSize < 0) FieldAccess::Fail(m_strLastError, m_dwLastError, ZE_FAIL, kNoCurrentRecord);
    return info.m_lActualSize;
}

long CADOField::GetDefinedSize() {
    FieldAccess f(m_pField, m_strLastError, m_dwLastError);
    return f ? f.Column().definedSize : -1;
}

long CADOField::GetAttributes() {
    FieldAccess f(m_pField, m_strLastError, m_dwLastError);
    return f ? f.Column().attributes : -1;
}

CString CADOField::GetOriginalVal() {
    try {
        FieldAccess f(m_pField, m_strLastError, m_dwLastError);
        _variant_t v;
        CString text;
        if (!f || !OriginalValue(f, v, m_strLastError, m_dwLastError)) return CString();
        VariantToString(v, text, 0);
        return text;
    } catch (...) {
        RecordException([&](const wchar_t* text, std::uint32_t code) {
            FieldAccess::Fail(m_strLastError, m_dwLastError, code, text);
        });
        return CString();
    }
}

// The rows of a result are read once and kept: the value last seen in the database is the one
// that was read, whatever the record's pending changes.
CString CADOField::GetUnderlyingValue() { return GetOriginalVal(); }

namespace {

// Reads the field's value (the pending one while the record is edited); 0 and recorded on
// failure.
int ReadValue(const FieldPtr& field, _variant_t& value, CString& errorText, std::uint32_t& errorCode) {
    FieldAccess f(field, errorText, errorCode);
    if (!f) return 0;
    if (!f.owner->GetFieldValue(static_cast<int>(f.column), value)) {
        f.Forward(errorText, errorCode);
        return 0;
    }
    return 1;
}

// Reads the value when it has exactly type `vt` (or `vt2`), else records a type mismatch.
template <class Take>
int ReadExact(const FieldPtr& field, VARTYPE vt, VARTYPE vt2, CString& errorText, std::uint32_t& errorCode, Take take) {
    try {
        _variant_t v;
        if (!ReadValue(field, v, errorText, errorCode)) return 0;
        if (v.vt() != vt && v.vt() != vt2) {
            FieldAccess::Fail(errorText, errorCode, kTypeMismatchCode, kTypeMismatch);
            return 0;
        }
        take(v);
        return 1;
    } catch (...) {
        RecordException(
            [&](const wchar_t* text, std::uint32_t code) { FieldAccess::Fail(errorText, errorCode, code, text); });
        return 0;
    }
}

// Stores `value` through the owner, which accepts values only during Edit or AddNew.
int WriteValue(const FieldPtr& field, const _variant_t& value, CString& errorText, std::uint32_t& errorCode) {
    FieldAccess f(field, errorText, errorCode);
    if (!f) return 0;
    if (f.owner->GetEditMode() == 0) {
        FieldAccess::Fail(errorText, errorCode, kIllegalOperationCode, kIllegalOperation);
        return 0;
    }
    if (!f.owner->SetFieldValue(static_cast<int>(f.column), value)) {
        f.Forward(errorText, errorCode);
        return 0;
    }
    return 1;
}

}  // namespace

// -1 for true, as a VARIANT_BOOL holds it.
int CADOField::GetValue(int& value) {
    return ReadExact(m_pField, VT_I2, VT_BOOL, m_strLastError, m_dwLastError,
                     [&](const _variant_t& v) { value = static_cast<int>(v.intVal()); });
}

int CADOField::GetValue(long& value) {
    return ReadExact(m_pField, VT_I4, VT_I4, m_strLastError, m_dwLastError,
                     [&](const _variant_t& v) { value = static_cast<long>(v.intVal()); });
}

int CADOField::GetValue(float& value) {
    return ReadExact(m_pField, VT_R4, VT_R4, m_strLastError, m_dwLastError,
                     [&](const _variant_t& v) { value = v.fltVal(); });
}

int CADOField::GetValue(double& value) {
    return ReadExact(m_pField, VT_R8, VT_R8, m_strLastError, m_dwLastError,
                     [&](const _variant_t& v) { value = v.dblVal(); });
}

int CADOField::GetValue(CString& value) {
    return ReadExact(m_pField, VT_BSTR, VT_BSTR, m_strLastError, m_dwLastError,
                     [&](const _variant_t& v) { value = v.bstrVal(); });
}

int CADOField::GetValue(COleDateTime& value) {
    return ReadExact(m_pField, VT_DATE, VT_DATE, m_strLastError, m_dwLastError, [&](const _variant_t& v) {
        value.m_dt = v.dblVal();
        value.m_status = COleDateTime::valid;
    });
}

int CADOField::GetValue(_variant_t& value) {
    try {
        _variant_t v;
        if (!ReadValue(m_pField, v, m_strLastError, m_dwLastError)) return 0;
        value = std::move(v);
        return 1;
    } catch (...) {
        RecordException([&](const wchar_t* text, std::uint32_t code) {
            FieldAccess::Fail(m_strLastError, m_dwLastError, code, text);
        });
        return 0;
    }
}

// An int is passed as a 16-bit VT_I2 when it fits one; a larger value goes as VT_I4 rather than
// losing its upper bits.
int CADOField::SetValue(int value) {
    const _variant_t v = value >= INT16_MIN && value <= INT16_MAX ? _variant_t::I2(static_cast<std::int16_t>(value))
                                                                  : _variant_t::I4(value);
    return WriteValue(m_pField, v, m_strLastError, m_dwLastError);
}

// VT_I4 holds 32 bits; a long beyond them cannot be stored and fails.
int CADOField::SetValue(long value) {
    if (value < INT32_MIN || value > INT32_MAX) {
        FieldAccess f(m_pField, m_strLastError, m_dwLastError);
        if (f) FieldAccess::Fail(m_strLastError, m_dwLastError, kInvalidArgumentCode, kInvalidArgument);
        return 0;
    }
    return WriteValue(m_pField, _variant_t::I4(static_cast<std::int32_t>(value)), m_strLastError, m_dwLastError);
}

int CADOField::SetValue(float value) {
    return WriteValue(m_pField, _variant_t::R4(value), m_strLastError, m_dwLastError);
}

int CADOField::SetValue(double value) {
    return WriteValue(m_pField, _variant_t::R8(value), m_strLastError, m_dwLastError);
}

int CADOField::SetValue(const CString& value) {
    try {
        return WriteValue(m_pField, _variant_t::Bstr(value), m_strLastError, m_dwLastError);
    } catch (...) {
        RecordException([&](const wchar_t* text, std::uint32_t code) {
            FieldAccess::Fail(m_strLastError, m_dwLastError, code, text);
        });
        return 0;
    }
}

int CADOField::SetValue(bool value) {
    return WriteValue(m_pField, _variant_t::Bool(value), m_strLastError, m_dwLastError);
}

// A null date stores NULL.
int CADOField::SetValue(COleDateTime value) {
    const _variant_t v = value.m_status == COleDateTime::null ? _variant_t::Null() : _variant_t::Date(value.m_dt);
    if (value.m_status == COleDateTime::invalid) {
        FieldAccess f(m_pField, m_strLastError, m_dwLastError);
        if (f) FieldAccess::Fail(m_strLastError, m_dwLastError, kTypeMismatchCode, kTypeMismatch);
        return 0;
    }
    return WriteValue(m_pField, v, m_strLastError, m_dwLastError);
}

int CADOField::SetValue(const _variant_t& value) { return WriteValue(m_pField, value, m_strLastError, m_dwLastError); }

// Boolean properties as true / false.
int CADOField::GetProperties(const wchar_t* name, bool& value) {
    try {
        FieldAccess f(m_pField, m_strLastError, m_dwLastError);
        if (!f) return 0;
        _variant_t v;
        CString text;
        std::uint32_t code = 0;
        if (!ReadFieldPropertyOf(*f.cursor, f.column, name, v, text, code)) {
            FieldAccess::Fail(m_strLastError, m_dwLastError, code, text);
            return 0;
        }
        if (v.vt() != VT_BOOL) {
            FieldAccess::Fail(m_strLastError, m_dwLastError, kTypeMismatchCode, kTypeMismatch);
            return 0;
        }
        value = v.boolVal();
        return 1;
    } catch (...) {
        RecordException([&](const wchar_t* text, std::uint32_t code) {
            FieldAccess::Fail(m_strLastError, m_dwLastError, code, text);
        });
        return 0;
    }
}

// Every property as text; Booleans as "True" / "False".
int CADOField::GetProperties(const wchar_t* name, CString& value) {
    try {
        FieldAccess f(m_pField, m_strLastError, m_dwLastError);
        if (!f) return 0;
        _variant_t v;
        CString text;
        std::uint32_t code = 0;
        if (!ReadFieldPropertyOf(*f.cursor, f.column, name, v, text, code)) {
            FieldAccess::Fail(m_strLastError, m_dwLastError, code, text);
            return 0;
        }
        if (v.vt() == VT_BSTR) value = v.bstrVal();
        else if (!VariantToText(v, value)) value.clear();
        return 1;
    } catch (...) {
        RecordException([&](const wchar_t* text, std::uint32_t code) {
            FieldAccess::Fail(m_strLastError, m_dwLastError, code, text);
        });
        return 0;
    }
}

}  // namespace zentra
