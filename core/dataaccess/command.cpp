// PLACEHOLDER until implemented
#include "zentra/dataaccess.h"
#include "connection_core.h"
#include "statement.h"

namespace zentra {

int CADORecordSet::Execute(CADOCommand*, int*) { return 0; }
int CADOParameter::SetValue(const _variant_t&) { return 0; }
int CADOParameter::GetValue(_variant_t&) { return 0; }
void CADOParameter::SetPrecision(int) {}
void CADOParameter::SetScale(int) {}
CString CADOParameter::GetName() const { return {}; }
int CADOCommand::AddParameter(CString, int, int, long, _variant_t, int, int) { return 0; }
int CADOCommand::AddParameter(CString, int, int, long, int) { return 0; }
int CADOCommand::AddParameter(CString, int, int, long, long) { return 0; }
int CADOCommand::AddParameter(CString, int, int, long, double, int, int) { return 0; }
int CADOCommand::AddParameter(CString, int, int, long, const wchar_t*) { return 0; }
int CADOCommand::AddParameter(CString, int, int, long, COleDateTime) { return 0; }
int CADOCommand::AddParameter(CADOParameter*) { return 0; }
int CADOCommand::AddParameter(_ParameterPtr) { return 0; }
int CADOCommand::AddEmptyParameter(CString, int) { return 0; }
int CADOCommand::AddNullParameter(CString, int) { return 0; }
int CADOCommand::SetParameterValue(int, const _variant_t&) { return 0; }
int CADOCommand::SetParameterValue(const wchar_t*, const _variant_t&) { return 0; }
int CADOCommand::SetParameterValue(const wchar_t*, int) { return 0; }
int CADOCommand::SetParameterValue(const wchar_t*, long) { return 0; }
int CADOCommand::SetParameterValue(const wchar_t*, double) { return 0; }
int CADOCommand::SetParameterValue(const wchar_t*, const wchar_t*) { return 0; }
int CADOCommand::SetParameterValue(const wchar_t*, COleDateTime) { return 0; }
int CADOCommand::GetParameterValue(int, _variant_t&) { return 0; }
int CADOCommand::GetParameterValue(const wchar_t*, _variant_t&) { return 0; }
long CADOCommand::GetParameterCount() { return -1; }
_ParameterPtr CADOCommand::GetParameter(int) { return {}; }
_ParameterPtr CADOCommand::GetParameter(const wchar_t*) { return {}; }
void CADOCommand::SetTimeout(long) {}

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
namespace zentra { CADOParameter::CADOParameter(int, long, int, CString) {} }
