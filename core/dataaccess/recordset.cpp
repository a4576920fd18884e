#include <algorithm>
#include <new>

#include "messages.h"
#include "connection_core.h"
#include "cursor.h"
#include "statement.h"
#include "schema.h"
#include "zentra/dataaccess.h"
#include "zentra/text.h"

namespace zentra {

// ---- CADORecordSet ----

CADORecordSet::CADORecordSet(int mode) : m_nMode(mode) {}

CADORecordSet::CADORecordSet(CADOConnection* connection, int mode) : m_nMode(mode) {
    if (connection) m_pConnection = connection->GetConnection();
}

CADORecordSet::~CADORecordSet() {
    m_pRecordset.reset();
    m_pConnection.reset();
}

void CADORecordSet::Record(const CString& text, std::uint32_t code) {
    m_strLastError = text;
    m_dwLastError = code;
    m_strSqlState.clear();
}

void CADORecordSet::Record(const OdbcError& error) {
    m_strLastError = error.text;
    m_dwLastError = error.code;
    m_strSqlState = error.state;
}

void CADORecordSet::SetConnection(_ConnectionPtr connection) { m_pConnection = std::move(connection); }

void CADORecordSet::Adopt(std::shared_ptr<RowSet> rows) {
    m_pRecordset = std::make_shared<Cursor>(std::move(rows));
    m_nEditStatus = 0;
    m_varSearchPosition.Clear();
    m_varBookmark.Clear();
    EnterRecord();
}

std::shared_ptr<RowSet> CADORecordSet::FetchRows(const std::wstring& sql) {
    if (!m_pConnection) {
        Record(L"", ZE_POINTER);
        return nullptr;
    }
    try {
        auto rows = std::make_shared<RowSet>();
        const bool wide = m_pConnection->caps().wideCalls;
        OdbcError error;
        if (!m_pConnection->Run([&](SQLHSTMT h) { return ExecDirect(h, sql, wide); }, rows.get(), nullptr, this,
                                error)) {
            Record(error);
            return nullptr;
        }
        return rows;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return nullptr;
    }
}

int CADORecordSet::Run(const std::wstring& sql) {
    Close();
    auto rows = FetchRows(sql);
    if (!rows) return 0;
    Adopt(std::move(rows));
    m_pRecordset->source = sql;
    return 1;
}

int CADORecordSet::Open(_ConnectionPtr connection, const wchar_t* source, int option) {
    Close();
    if (source && *source) m_strQuery = source;
    m_strQuery = TrimLeft(m_strQuery);
    if (!m_pConnection) m_pConnection = std::move(connection);
    int ok = 0;
    switch (option) {
    case 0:
    case 1: ok = Run(m_strQuery); break;
    case 2: ok = Run(StatementFor(m_strQuery, adCmdTable)); break;
    case 3: ok = Run(StatementFor(m_strQuery, adCmdStoredProc)); break;
    default: return 0;
    }
    if (ok && m_nFetchSize > 0) m_pRecordset->pageSize = static_cast<long>(m_nFetchSize);
    return ok;
}

int CADORecordSet::Open(const wchar_t* source, int option) { return Open(m_pConnection, source, option); }

int CADORecordSet::Execute(const wchar_t* sql, int* affected) {
    if (!Run(sql ? sql : L"")) return 0;
    if (affected) *affected = static_cast<int>(m_pRecordset->rows->affected);
    return 1;
}

int CADORecordSet::OpenSchema(int schema, _variant_t restrictions, const wchar_t* schemaId) {
    Close();
    if (!m_pConnection) {
        Record(L"", ZE_POINTER);
        return 0;
    }
    if (schemaId && *schemaId) {
        Record(L"Provider-specific schema rowsets are not supported.", ZE_INVALIDARG);
        return 0;
    }
    try {
        auto rows = std::make_shared<RowSet>();
        OdbcError error;
        if (!BuildSchemaRowset(*m_pConnection, schema, restrictions, *rows, this, error)) {
            Record(error);
            return 0;
        }
        Adopt(std::move(rows));
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

void CADORecordSet::Close() {
    m_pRecordset.reset();
    m_nEditStatus = 0;
}

void CADORecordSet::Cancel() {
    if (m_pConnection) m_pConnection->Cancel(this);
}

// A result read from a file has no connection and stays open on its own.
int CADORecordSet::IsOpen() { return m_pRecordset && (!m_pConnection || IsConnectionOpen()) ? 1 : 0; }

int CADORecordSet::IsConnectionOpen() { return m_pConnection && m_pConnection->IsOpen() ? 1 : 0; }

int CADORecordSet::IsEOF() {
    if (!m_pRecordset) return 1;
    return m_pRecordset->position >= static_cast<long>(m_pRecordset->Count()) ? 1 : 0;
}

int CADORecordSet::IsBOF() {
    if (!m_pRecordset) return 0;
    return m_pRecordset->position < 0 || m_pRecordset->LiveCount() == 0 ? 1 : 0;
}

bool CADORecordSet::HasCurrentRow() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return false;
    }
    Cursor& c = *m_pRecordset;
    if (c.editMode == 2) return true;  // the record being added: its values are all pending
    if (!c.OnRecord() || c.rows->IsDeleted(c.CurrentRow())) {
        Record(kNoCurrentRecord, ZE_FAIL);
        return false;
    }
    c.rows->Load(c.CurrentRow());
    return true;
}

bool CADORecordSet::LeaveRecord() {
    if (m_nEditStatus == 0 && (!m_pRecordset || m_pRecordset->editMode == 0)) return true;
    return Update() != 0;
}

void CADORecordSet::EnterRecord() {
    if (m_pRecBinding && m_pRecordset && m_pRecordset->OnRecord() && !m_pRecordset->CurrentDeleted()) FillBinding();
}

void CADORecordSet::MoveFirst() {
    if (!m_pRecordset) return Record(kClosed, ZE_POINTER);
    if (!LeaveRecord()) return;
    m_pRecordset->Settle(0, 1);
    EnterRecord();
}

void CADORecordSet::MoveLast() {
    if (!m_pRecordset) return Record(kClosed, ZE_POINTER);
    if (!LeaveRecord()) return;
    Cursor& c = *m_pRecordset;
    c.Settle(static_cast<long>(c.Count()) - 1, -1);
    if (c.position < 0) c.position = static_cast<long>(c.Count());  // no records: BOF and EOF
    EnterRecord();
}

long CADORecordSet::GetAbsolutePosition() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return -1;
    }
    const Cursor& c = *m_pRecordset;
    const long count = static_cast<long>(c.Count());
    if (c.LiveCount() == 0 || c.position < 0) return adPosBOF;
    if (c.position >= count) return adPosEOF;
    if (!c.rows->AnyDeleted()) return c.position + 1;
    long live = 0;
    for (long i = 0; i <= c.position; ++i) live += !c.rows->IsDeleted(c.RowAt(i));
    return live;
}

void CADORecordSet::SetAbsolutePosition(int position) {
    if (!m_pRecordset) return Record(kClosed, ZE_POINTER);
    Cursor& c = *m_pRecordset;
    const long live = static_cast<long>(c.LiveCount());
    if (position < 1 || position > live) return Record(kNoCurrentRecord, ZE_INVALIDARG);
    if (!LeaveRecord()) return;
    if (!c.rows->AnyDeleted()) {
        c.position = position - 1;
    } else {
        long seen = 0;
        for (long i = 0, count = static_cast<long>(c.Count()); i < count; ++i)
            if (!c.rows->IsDeleted(c.RowAt(i)) && ++seen == position) {
                c.position = i;
                break;
            }
    }
    EnterRecord();
}

void CADORecordSet::MoveNext() {
    if (!m_pRecordset) return Record(kClosed, ZE_POINTER);
    if (IsEOF()) return Record(kNoCurrentRecord, ZE_FAIL);
    if (!LeaveRecord()) return;
    m_pRecordset->Settle(m_pRecordset->position + 1, 1);
    EnterRecord();
}

void CADORecordSet::MovePrevious() {
    if (!m_pRecordset) return Record(kClosed, ZE_POINTER);
    if (IsBOF()) return Record(kNoCurrentRecord, ZE_FAIL);
    if (!LeaveRecord()) return;
    m_pRecordset->Settle(m_pRecordset->position - 1, -1);
    EnterRecord();
}

void CADORecordSet::Move(long n) {
    if (!m_pRecordset) return Record(kClosed, ZE_POINTER);
    Cursor& c = *m_pRecordset;
    const long count = static_cast<long>(c.Count());
    if (n == 0) return;
    if ((n > 0 && IsEOF()) || (n < 0 && IsBOF())) return Record(kNoCurrentRecord, ZE_FAIL);
    if (!LeaveRecord()) return;
    if (!c.rows->AnyDeleted()) {
        c.position = std::clamp(c.position + n, -1L, count);
    } else {
        const int step = n > 0 ? 1 : -1;
        for (long left = n > 0 ? n : -n; left > 0 && c.position >= 0 && c.position < count; --left)
            c.Settle(c.position + step, step);
    }
    EnterRecord();
}

unsigned long CADORecordSet::GetRecordCount() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    // The rows are all in memory: the count is known and the position stays where it is.
    return static_cast<unsigned long>(m_pRecordset->LiveCount());
}

long CADORecordSet::GetFieldCount() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return -1;
    }
    return static_cast<long>(m_pRecordset->rows->columns.size());
}

long CADORecordSet::FindField(const wchar_t* name) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return -1;
    }
    if (name) {
        const auto& columns = m_pRecordset->rows->columns;
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (EqualsNoCase(columns[i].name, name)) return static_cast<long>(i);
    }
    Record(kNoItem, ZE_INVALIDARG);
    return -1;
}

namespace {

// The actual size of a value that is not stored yet (a pending edit), as the stored form
// would give it.
long PendingSize(const ColumnInfo& c, const _variant_t& v) {
    if (v.vt() == VT_EMPTY || v.vt() == VT_NULL) return 0;
    switch (c.kind) {
    case ValueKind::Text: return v.vt() == VT_BSTR ? static_cast<long>(v.bstrVal().size()) : 0;
    case ValueKind::Bytes: return v.parray() ? static_cast<long>(v.parray()->bytes.size()) : 0;
    case ValueKind::Decimal: {
        std::wstring text;
        VariantToText(v, text);
        return static_cast<long>(text.size());
    }
    default: return c.definedSize;
    }
}

}  // namespace

int CADORecordSet::GetFieldInfo(long index, CADOFieldInfo* info) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    Cursor& cur = *m_pRecordset;
    if (index < 0 || index >= static_cast<long>(cur.rows->columns.size())) {
        Record(kNoItem, ZE_INVALIDARG);
        return 0;
    }
    if (!info) {
        Record(L"", ZE_POINTER);
        return 0;
    }
    const std::size_t i = static_cast<std::size_t>(index);
    const ColumnInfo& c = cur.rows->columns[i];
    info->m_strName = c.name;
    info->m_strDisplayName = c.name;
    info->m_nType = c.adoType;
    info->m_lDefinedSize = c.definedSize;
    info->m_lAttributes = c.attributes;
    info->m_nPrecision = c.precision;
    info->m_nNumericScale = static_cast<short>(c.scale);
    if (cur.EditChanged(i)) {
        info->m_lActualSize = PendingSize(c, cur.editValues[i]);
    } else if (cur.editMode == 2) {
        info->m_lActualSize = 0;
    } else if (cur.OnRecord() && !cur.CurrentDeleted()) {
        cur.rows->Load(cur.CurrentRow());
        info->m_lActualSize = cur.rows->ActualSize(i);
    } else {
        info->m_lActualSize = -1;
    }
    return 1;
}

int CADORecordSet::GetFieldInfo(const wchar_t* name, CADOFieldInfo* info) {
    long index = FindField(name);
    return index < 0 ? 0 : GetFieldInfo(index, info);
}

long CADORecordSet::GetFieldActualSize(long index) {
    long size = 0;
    return ReadCurrent(static_cast<int>(index), size,
                       [this](std::size_t i) {
                           const Cursor& c = *m_pRecordset;
                           if (c.EditChanged(i)) return PendingSize(c.rows->columns[i], c.editValues[i]);
                           if (c.editMode == 2) return 0L;
                           return c.rows->ActualSize(i);
                       })
               ? size
               : 0;
}

long CADORecordSet::GetFieldActualSize(const wchar_t* name) {
    long index = FindField(name);
    return index < 0 ? 0 : GetFieldActualSize(index);
}

// Bytes that a text takes as UTF-16 code units, the form GetChunk copies text in.
static long Utf16Bytes(const std::wstring& text) {
    long units = 0;
    for (wchar_t ch : text) units += static_cast<std::uint32_t>(ch) > 0xFFFF ? 2 : 1;
    return units * 2;
}

// The size of the buffer that GetChunk fills: bytes for binary values, UTF-16 bytes for text.
long CADORecordSet::GetChunkSize(long index) {
    long size = 0;
    return ReadCurrent(static_cast<int>(index), size,
                       [this](std::size_t i) {
                           const Cursor& c = *m_pRecordset;
                           const ColumnInfo& column = c.rows->columns[i];
                           const bool pending = c.EditChanged(i);
                           if (column.kind == ValueKind::Text) {
                               if (pending)
                                   return c.editValues[i].vt() == VT_BSTR ? Utf16Bytes(c.editValues[i].bstrVal()) : 0L;
                               if (c.editMode == 2) return 0L;
                               return Utf16Bytes(c.rows->Text(i));
                           }
                           if (pending) return PendingSize(column, c.editValues[i]);
                           if (c.editMode == 2) return 0L;
                           return c.rows->ActualSize(i);
                       })
               ? size
               : -1;
}

long CADORecordSet::GetChunkSize(const wchar_t* name) {
    long index = FindField(name);
    return index < 0 ? -1 : GetChunkSize(index);
}

template <class T, class Read>
int CADORecordSet::ReadCurrent(int index, T& out, Read read) {
    if (!HasCurrentRow()) return 0;
    if (index < 0 || index >= static_cast<int>(m_pRecordset->rows->columns.size())) {
        Record(kNoItem, ZE_INVALIDARG);
        return 0;
    }
    try {
        out = read(static_cast<std::size_t>(index));
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::GetFieldValue(int index, _variant_t& value) {
    return ReadCurrent(index, value, [this](std::size_t i) {
        const Cursor& c = *m_pRecordset;
        if (c.EditChanged(i)) return c.editValues[i];
        if (c.editMode == 2) return _variant_t::Null();
        return c.rows->Value(i);
    });
}

int CADORecordSet::GetFieldValue(const wchar_t* name, _variant_t& value) {
    long index = FindField(name);
    return index < 0 ? 0 : GetFieldValue(static_cast<int>(index), value);
}

int CADORecordSet::GetRecordStored(std::vector<StoredField>& fields) {
    if (!HasCurrentRow()) {
        fields.clear();
        return 0;
    }
    const Cursor& c = *m_pRecordset;
    fields.resize(c.rows->columns.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
        // A value being edited is read as a variant.
        if (c.editMode == 2 || c.EditChanged(i)) fields[i].form = StoredField::None;
        else c.rows->Stored(i, fields[i]);
    }
    return 1;
}

int CADORecordSet::GetChunk(int index, CString& text) {
    return ReadCurrent(index, text, [this](std::size_t i) {
        const Cursor& c = *m_pRecordset;
        if (c.EditChanged(i) || c.editMode == 2) {
            std::wstring out;
            if (c.EditChanged(i)) VariantToText(c.editValues[i], out);
            return out;
        }
        return c.rows->Text(i);
    });
}

int CADORecordSet::GetChunk(const wchar_t* name, CString& text) {
    long index = FindField(name);
    return index < 0 ? 0 : GetChunk(static_cast<int>(index), text);
}

void CADORecordSet::SetCacheSize(int size) { m_nCacheSize = std::min(size, 1000); }

std::size_t CADORecordSet::GetStorageSize() const { return m_pRecordset ? m_pRecordset->rows->StorageSize() : 0; }

}  // namespace zentra
