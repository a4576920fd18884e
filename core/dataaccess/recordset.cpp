#include <algorithm>
#include <new>

#include "connection_core.h"
#include "schema.h"
#include "zentra/dataaccess.h"
#include "zentra/text.h"

namespace zentra {

namespace {

const wchar_t* const kNoItem = L"Item cannot be found in the collection corresponding to the requested name or ordinal.";
const wchar_t* const kNoCurrentRecord =
    L"Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current record.";
const wchar_t* const kClosed = L"Operation is not allowed when the object is closed.";

// The statement text for a command or open option: a statement, a table or a stored procedure.
std::wstring StatementFor(const std::wstring& text, int type) {
    switch (type) {
    case adCmdTable: return L"select * from " + text;
    case adCmdStoredProc: return L"{call " + text + L"}";
    default: return text;
    }
}

}  // namespace

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
}

void CADORecordSet::SetConnection(_ConnectionPtr connection) { m_pConnection = std::move(connection); }

int CADORecordSet::Run(const std::wstring& sql) {
    Close();
    if (!m_pConnection) {
        Record(L"", ZE_POINTER);
        return 0;
    }
    try {
        auto rows = std::make_shared<RowSet>();
        SqlWString text = ToSqlW(sql);
        OdbcError error;
        if (!m_pConnection->Run(
                [&](SQLHSTMT h) { return SQLExecDirectW(h, text.data(), static_cast<SQLINTEGER>(text.size())); },
                rows.get(), nullptr, this, error)) {
            Record(error.text, error.code);
            return 0;
        }
        m_pRecordset = std::move(rows);
        m_lPosition = 0;
        return 1;
    } catch (const std::bad_alloc&) {
        Record(L"Out of memory.", ZE_OUTOFMEMORY);
        return 0;
    }
}

int CADORecordSet::Open(_ConnectionPtr connection, const wchar_t* source, int option) {
    Close();
    if (source && *source) m_strQuery = source;
    m_strQuery = TrimLeft(m_strQuery);
    if (!m_pConnection) m_pConnection = std::move(connection);
    switch (option) {
    case 0:
    case 1: return Run(m_strQuery);
    case 2: return Run(StatementFor(m_strQuery, adCmdTable));
    case 3: return Run(StatementFor(m_strQuery, adCmdStoredProc));
    default: return 0;
    }
}

int CADORecordSet::Open(const wchar_t* source, int option) { return Open(m_pConnection, source, option); }

int CADORecordSet::Execute(const wchar_t* sql, int* affected) {
    if (!Run(sql ? sql : L"")) return 0;
    if (affected) *affected = static_cast<int>(m_pRecordset->affected);
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
            Record(error.text, error.code);
            return 0;
        }
        m_pRecordset = std::move(rows);
        m_lPosition = 0;
        return 1;
    } catch (const std::bad_alloc&) {
        Record(L"Out of memory.", ZE_OUTOFMEMORY);
        return 0;
    }
}

void CADORecordSet::Close() {
    m_pRecordset.reset();
    m_lPosition = 0;
}

void CADORecordSet::Cancel() {
    if (m_pConnection) m_pConnection->Cancel(this);
}

int CADORecordSet::IsOpen() { return m_pRecordset && IsConnectionOpen() ? 1 : 0; }

int CADORecordSet::IsConnectionOpen() { return m_pConnection && m_pConnection->IsOpen() ? 1 : 0; }

int CADORecordSet::IsEOF() {
    if (!m_pRecordset) return 1;
    return m_lPosition >= static_cast<long>(m_pRecordset->RowCount()) ? 1 : 0;
}

int CADORecordSet::IsBOF() {
    if (!m_pRecordset) return 0;
    return m_lPosition < 0 || m_pRecordset->RowCount() == 0 ? 1 : 0;
}

bool CADORecordSet::HasCurrentRow() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return false;
    }
    if (m_lPosition < 0 || m_lPosition >= static_cast<long>(m_pRecordset->RowCount())) {
        Record(kNoCurrentRecord, ZE_FAIL);
        return false;
    }
    m_pRecordset->Load(static_cast<std::size_t>(m_lPosition));
    return true;
}

void CADORecordSet::MoveFirst() {
    if (!m_pRecordset) return Record(kClosed, ZE_POINTER);
    m_lPosition = 0;
}

void CADORecordSet::MoveLast() {
    if (!m_pRecordset) return Record(kClosed, ZE_POINTER);
    long count = static_cast<long>(m_pRecordset->RowCount());
    m_lPosition = count > 0 ? count - 1 : 0;
}

long CADORecordSet::GetAbsolutePosition() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return -1;
    }
    const long count = static_cast<long>(m_pRecordset->RowCount());
    if (count == 0 || m_lPosition < 0) return adPosBOF;
    if (m_lPosition >= count) return adPosEOF;
    return m_lPosition + 1;
}

void CADORecordSet::SetAbsolutePosition(int position) {
    if (!m_pRecordset) return Record(kClosed, ZE_POINTER);
    const long count = static_cast<long>(m_pRecordset->RowCount());
    if (position < 1 || position > count) return Record(kNoCurrentRecord, ZE_INVALIDARG);
    m_lPosition = position - 1;
}

void CADORecordSet::MoveNext() {
    if (!m_pRecordset) return Record(kClosed, ZE_POINTER);
    if (IsEOF()) return Record(kNoCurrentRecord, ZE_FAIL);
    ++m_lPosition;
}

void CADORecordSet::MovePrevious() {
    if (!m_pRecordset) return Record(kClosed, ZE_POINTER);
    if (IsBOF()) return Record(kNoCurrentRecord, ZE_FAIL);
    --m_lPosition;
}

void CADORecordSet::Move(long n) {
    if (!m_pRecordset) return Record(kClosed, ZE_POINTER);
    long count = static_cast<long>(m_pRecordset->RowCount());
    if (n == 0) return;
    if ((n > 0 && IsEOF()) || (n < 0 && IsBOF())) return Record(kNoCurrentRecord, ZE_FAIL);
    long target = m_lPosition + n;
    m_lPosition = std::clamp(target, -1L, count);
}

unsigned long CADORecordSet::GetRecordCount() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    // The rows are all in memory: the count is known and the position stays where it is.
    return static_cast<unsigned long>(m_pRecordset->RowCount());
}

long CADORecordSet::GetFieldCount() {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return -1;
    }
    return static_cast<long>(m_pRecordset->columns.size());
}

long CADORecordSet::FindField(const wchar_t* name) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return -1;
    }
    if (name) {
        const auto& columns = m_pRecordset->columns;
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (EqualsNoCase(columns[i].name, name)) return static_cast<long>(i);
    }
    Record(kNoItem, ZE_INVALIDARG);
    return -1;
}

int CADORecordSet::GetFieldInfo(long index, CADOFieldInfo* info) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return 0;
    }
    if (index < 0 || index >= static_cast<long>(m_pRecordset->columns.size())) {
        Record(kNoItem, ZE_INVALIDARG);
        return 0;
    }
    if (!info) {
        Record(L"", ZE_POINTER);
        return 0;
    }
    const ColumnInfo& c = m_pRecordset->columns[static_cast<std::size_t>(index)];
    info->m_strName = c.name;
    info->m_strDisplayName = c.name;
    info->m_nType = c.adoType;
    info->m_lDefinedSize = c.definedSize;
    info->m_lAttributes = c.attributes;
    info->m_nPrecision = c.precision;
    info->m_nNumericScale = static_cast<short>(c.scale);
    long position = m_lPosition;
    if (position >= 0 && position < static_cast<long>(m_pRecordset->RowCount())) {
        m_pRecordset->Load(static_cast<std::size_t>(position));
        info->m_lActualSize = m_pRecordset->ActualSize(static_cast<std::size_t>(index));
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
    if (!HasCurrentRow()) return 0;
    if (index < 0 || index >= static_cast<long>(m_pRecordset->columns.size())) {
        Record(kNoItem, ZE_INVALIDARG);
        return 0;
    }
    return m_pRecordset->ActualSize(static_cast<std::size_t>(index));
}

long CADORecordSet::GetFieldActualSize(const wchar_t* name) {
    long index = FindField(name);
    return index < 0 ? 0 : GetFieldActualSize(index);
}

long CADORecordSet::GetChunkSize(long index) {
    if (!HasCurrentRow()) return -1;
    if (index < 0 || index >= static_cast<long>(m_pRecordset->columns.size())) {
        Record(kNoItem, ZE_INVALIDARG);
        return -1;
    }
    return m_pRecordset->ActualSize(static_cast<std::size_t>(index));
}

long CADORecordSet::GetChunkSize(const wchar_t* name) {
    long index = FindField(name);
    return index < 0 ? -1 : GetChunkSize(index);
}

template <class T, class Read>
int CADORecordSet::ReadCurrent(int index, T& out, Read read) {
    if (!HasCurrentRow()) return 0;
    if (index < 0 || index >= static_cast<int>(m_pRecordset->columns.size())) {
        Record(kNoItem, ZE_INVALIDARG);
        return 0;
    }
    try {
        out = read(static_cast<std::size_t>(index));
        return 1;
    } catch (const std::bad_alloc&) {
        Record(L"Out of memory.", ZE_OUTOFMEMORY);
        return 0;
    }
}

int CADORecordSet::GetFieldValue(int index, _variant_t& value) {
    return ReadCurrent(index, value, [this](std::size_t i) { return m_pRecordset->Value(i); });
}

int CADORecordSet::GetFieldValue(const wchar_t* name, _variant_t& value) {
    long index = FindField(name);
    return index < 0 ? 0 : GetFieldValue(static_cast<int>(index), value);
}

int CADORecordSet::GetChunk(int index, CString& text) {
    return ReadCurrent(index, text, [this](std::size_t i) { return m_pRecordset->Text(i); });
}

int CADORecordSet::GetChunk(const wchar_t* name, CString& text) {
    long index = FindField(name);
    return index < 0 ? 0 : GetChunk(static_cast<int>(index), text);
}

void CADORecordSet::SetCacheSize(int size) { m_nCacheSize = std::min(size, 1000); }

std::size_t CADORecordSet::GetStorageSize() const { return m_pRecordset ? m_pRecordset->StorageSize() : 0; }

// ---- CADOCommand ----

CADOCommand::CADOCommand(CADOConnection* connection, CString text, int type)
    : m_nType(type), m_strText(std::move(text)) {
    if (connection) m_pConnection = connection->GetConnection();
}

CADOCommand::~CADOCommand() = default;

void CADOCommand::SetConnection(CADOConnection* connection) {
    m_pConnection = connection ? connection->GetConnection() : nullptr;
}

int CADOCommand::Execute(int /*options*/) {
    m_nRecordsAffected = 0;
    if (!m_pConnection) {
        m_strLastError.clear();
        m_dwLastError = ZE_POINTER;
        return 0;
    }
    try {
        SqlWString text = ToSqlW(StatementFor(m_strText, m_nType));
        OdbcError error;
        long affected = -1;
        if (!m_pConnection->Run(
                [&](SQLHSTMT h) { return SQLExecDirectW(h, text.data(), static_cast<SQLINTEGER>(text.size())); },
                nullptr, &affected, this, error)) {
            m_strLastError = error.text;
            m_dwLastError = error.code;
            return 0;
        }
        m_nRecordsAffected = static_cast<int>(affected);
        return 1;
    } catch (const std::bad_alloc&) {
        m_strLastError = L"Out of memory.";
        m_dwLastError = ZE_OUTOFMEMORY;
        return 0;
    }
}

void CADOCommand::Cancel() {
    if (m_pConnection) m_pConnection->Cancel(this);
}

}  // namespace zentra
