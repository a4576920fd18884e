// Data access: connection, recordset, field description and command, over the ODBC driver
// manager (unixODBC) with its wide-character (UTF-16) interface.
//
// Every operation catches its own failures: it records a cleaned-up message and a code in the
// object's last-error members and reports failure through its return value (1/0 for `int`
// operations, -1 for counts and sizes unless noted). Nothing is thrown and nothing is printed.
//
// Last error code: the native error number of the first diagnostic record the driver gives,
// when it is nonzero; otherwise an HRESULT-like code: E_FAIL (0x80004005) for a driver failure
// without native number, E_POINTER (0x80004003) when there is no open connection or result,
// E_INVALIDARG (0x80070057) for a bad argument or unknown field, E_OUTOFMEMORY (0x8007000E).
// Last error text: the message of every diagnostic record, each with its leading bracketed
// tags ("[unixODBC][Driver Manager]") removed, joined by "\r\n".
//
// A recordset keeps all rows of its result in memory (as a client-side cursor does), so the
// record count, MoveFirst, MoveLast, MovePrevious and Move work on every driver.
//
// Threads: the objects are used on one thread, except Cancel, which may be called from any other
// thread while a statement runs on the connection (or recordset); the running statement then
// fails with the driver's cancel error, and the connection stays usable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "zentra/text.h"
#include "zentra/variant.h"

namespace zentra {

// ---- ADO enumeration values used by the callers ----

enum ConnectModeEnum : int {
    adModeUnknown = 0,
    adModeRead = 1,
    adModeWrite = 2,
    adModeReadWrite = 3,
    adModeShareDenyRead = 4,
    adModeShareDenyWrite = 8,
    adModeShareExclusive = 12,
    adModeShareDenyNone = 16,
};

constexpr long adOptionUnspecified = -1;
constexpr long adPosUnknown = -1;
constexpr long adPosBOF = -2;
constexpr long adPosEOF = -3;
constexpr int adCmdText = 1;
constexpr int adCmdTable = 2;
constexpr int adCmdStoredProc = 4;
constexpr int adExecuteNoRecords = 128;

enum SchemaEnum : int {
    adSchemaCatalogs = 1,
    adSchemaColumns = 4,
    adSchemaIndexes = 12,
    adSchemaProcedures = 16,
    adSchemaTables = 20,
};

enum DataTypeEnum : int {
    adEmpty = 0,
    adSmallInt = 2,
    adInteger = 3,
    adSingle = 4,
    adDouble = 5,
    adCurrency = 6,
    adDate = 7,
    adBSTR = 8,
    adBoolean = 11,
    adVariant = 12,
    adDecimal = 14,
    adTinyInt = 16,
    adUnsignedTinyInt = 17,
    adUnsignedSmallInt = 18,
    adUnsignedInt = 19,
    adBigInt = 20,
    adUnsignedBigInt = 21,
    adGUID = 72,
    adBinary = 128,
    adChar = 129,
    adWChar = 130,
    adNumeric = 131,
    adDBDate = 133,
    adDBTime = 134,
    adDBTimeStamp = 135,
    adVarNumeric = 139,
    adVarChar = 200,
    adLongVarChar = 201,
    adVarWChar = 202,
    adLongVarWChar = 203,
    adVarBinary = 204,
    adLongVarBinary = 205,
};

// Field attribute bits (ADO FieldAttributeEnum).
enum FieldAttributeEnum : long {
    adFldUpdatable = 0x4,
    adFldUnknownUpdatable = 0x8,
    adFldFixed = 0x10,
    adFldIsNullable = 0x20,
    adFldMayBeNull = 0x40,
    adFldLong = 0x80,
};

// Codes recorded for failures that do not come from the driver.
constexpr std::uint32_t ZE_FAIL = 0x80004005u;
constexpr std::uint32_t ZE_POINTER = 0x80004003u;
constexpr std::uint32_t ZE_INVALIDARG = 0x80070057u;
constexpr std::uint32_t ZE_OUTOFMEMORY = 0x8007000Eu;

// Opaque handles shared between the wrappers (the connection's `_Connection`, the recordset's
// `_Recordset`). Their definitions are private to the library.
class ConnectionCore;
class RowSet;
using _ConnectionPtr = std::shared_ptr<ConnectionCore>;
using _RecordsetPtr = std::shared_ptr<RowSet>;

// ---- CADOConnection ----

class CADOConnection {
public:
    CADOConnection();
    virtual ~CADOConnection();
    CADOConnection(const CADOConnection&) = delete;
    CADOConnection& operator=(const CADOConnection&) = delete;

    // Opens `connectionString` (an ODBC connection string) without prompting. A null or empty
    // string uses the stored connection string. User and password, when not empty, are appended
    // as UID and PWD. `mode` is kept but does not restrict access.
    int Open(const wchar_t* connectionString, const wchar_t* user = nullptr, const wchar_t* password = nullptr,
             ConnectModeEnum mode = adModeUnknown, long options = adOptionUnspecified);
    int IsConnect();
    void Close();
    // Runs a statement and discards any rows.
    int Execute(const wchar_t* sql, long options = adCmdText);

    long BeginTrans();  // the new nesting level (1), -1 on failure (also when one is open)
    void CommitTrans();
    void RollbackTrans();
    // Cancels the statement running on this connection (from any thread); no-op when idle.
    void Cancel();
    // 1 while a statement runs on this connection, else 0 (from any thread).
    int IsExecuting();

    void SetConnectionTimeout(long seconds);
    long GetConnectionTimeout();
    void SetConectionString(const wchar_t* connectionString);
    const wchar_t* GetConectionString();

    // Provider properties. Text: "DBMS Name", "DBMS Version", "Driver Name", "Driver Version",
    // "Server Name", "Data Source Name", "User Name", "Current Catalog". Boolean (int, -1/0):
    // "Read-Only Data Source", "Accessible Procedures", "Accessible Tables". Other names fail.
    int GetProperties(const wchar_t* name, CString& value);
    int GetProperties(const wchar_t* name, int& value);
    int GetProperties(const wchar_t* name, long& value);
    // Only "Current Catalog" (text) can be set; other names fail.
    int SetProperties(const wchar_t* name, const wchar_t* value);
    int SetProperties(const wchar_t* name, int value);
    int SetProperties(const wchar_t* name, long value);

    _ConnectionPtr GetConnection() const { return m_pConnection; }

    CString GetLastErrorString() const { return m_strLastError; }
    unsigned long GetLastError() const { return m_dwLastError; }

    CString m_strLastError;
    std::uint32_t m_dwLastError = 0;

private:
    void Record(const CString& text, std::uint32_t code);
    int GetInfoText(const wchar_t* name, CString& value);
    // Commits or rolls back the open transaction and returns to auto-commit.
    void EndTrans(bool commit);

    _ConnectionPtr m_pConnection;
    CString m_strConnectionString;
    long m_lConnectionTimeout = 15;
    ConnectModeEnum m_mode = adModeUnknown;
};

// ---- CADOFieldInfo: the description of one column ----

class CADOFieldInfo {
public:
    CADOFieldInfo() = default;
    CADOFieldInfo(const CADOFieldInfo&) = default;
    CADOFieldInfo& operator=(const CADOFieldInfo&) = default;
    virtual ~CADOFieldInfo() = default;

    CString m_strName;         // field name
    CString m_strDisplayName;  // display name (the printer may put a caption here)
    CString m_strText3;        // free for the users of the record
    CString m_strText4;
    bool m_bFlag1 = false;
    int m_nType = -1;          // ADO DataTypeEnum value
    long m_lDefinedSize = 0;
    long m_lActualSize = 0;    // in the current row
    long m_lAttributes = 2;    // FieldAttributeEnum bits
    int m_nNumber1 = 0;
    bool m_bFlag2 = false;
    bool m_bFlag3 = true;
    bool m_bFlag4 = false;
    int m_nNumber2 = 0;
    int m_nPrecision = 0;      // 0-255
    short m_nNumericScale = 0; // 0-255
    int m_nNumber3 = 1;
};

// ---- CADORecordSet ----
//
// Field sizes: DefinedSize is the column size in characters for text, in bytes for binary, and
// the binary size of the value for fixed-size types (ADO's sizes: smallint 2, integer 4,
// bigint 8, single 4, double 8, boolean 2, date 6, time 6, timestamp 16, numeric 19). ActualSize
// is the length of the current value: characters for text, bytes for binary, the digits and
// signs of its text form for numeric, the binary size for other fixed-size types, 0 for NULL.
//
// Values: integers as VT_I1/VT_UI1/VT_I2/VT_UI2/VT_I4/VT_UI4/VT_I8/VT_UI8 by column type,
// single and double as VT_R4/VT_R8, numeric as VT_DECIMAL (as exact VT_BSTR text when it does
// not fit 96 bits and 28 decimals), dates, times and timestamps as VT_DATE with milliseconds,
// text as VT_BSTR, binary as VT_ARRAY|VT_UI1, booleans as VT_BOOL, NULL as VT_NULL.

class CADORecordSet {
public:
    explicit CADORecordSet(int mode = 1);
    CADORecordSet(CADOConnection* connection, int mode);
    virtual ~CADORecordSet();
    CADORecordSet(const CADORecordSet&) = delete;
    CADORecordSet& operator=(const CADORecordSet&) = delete;

    void SetConnection(_ConnectionPtr connection);

    // option 0 or 1: `source` is a statement; 2: a table name; 3: a stored procedure name.
    // Other options return 0 and leave the recordset closed.
    int Open(_ConnectionPtr connection, const wchar_t* source, int option);
    int Open(const wchar_t* source, int option);
    // Runs `sql`; the first result that has columns becomes the rows (a statement without rows
    // leaves an open recordset with no fields). `affected` (may be null) receives the number of
    // rows changed, -1 when the driver does not know it.
    int Execute(const wchar_t* sql, int* affected);
    // Schema rowsets: adSchemaCatalogs, adSchemaTables, adSchemaColumns, adSchemaProcedures and
    // adSchemaIndexes, with OLE DB's column names and restriction order. `restrictions` is a
    // VT_ARRAY|VT_VARIANT array (elements VT_EMPTY/VT_NULL or an empty text: no restriction), or
    // VT_EMPTY / VT_ERROR for none. The schema id is not used (must be null or empty).
    int OpenSchema(int schema, _variant_t restrictions = _variant_t(), const wchar_t* schemaId = nullptr);
    void Close();
    // Cancels this recordset's running statement (from any thread); no-op when idle.
    void Cancel();

    int IsOpen();
    int IsConnectionOpen();
    int IsEOF();
    int IsEof() { return IsEOF(); }
    int IsBOF();
    int IsBof() { return IsBOF(); }

    void MoveFirst();
    void MoveNext();
    void MovePrevious();
    void MoveLast();
    void Move(long n);

    // The current record's position from 1; adPosBOF or adPosEOF off the rows, -1 on failure.
    long GetAbsolutePosition();
    // Makes record `position` (from 1) the current one; out of range is recorded as an error.
    void SetAbsolutePosition(int position);

    unsigned long GetRecordCount();
    long GetFieldCount();
    int GetFieldInfo(long index, CADOFieldInfo* info);
    int GetFieldInfo(const wchar_t* name, CADOFieldInfo* info);
    long GetFieldActualSize(long index);
    long GetFieldActualSize(const wchar_t* name);
    long GetChunkSize(long index);
    long GetChunkSize(const wchar_t* name);
    int GetFieldValue(int index, _variant_t& value);
    int GetFieldValue(const wchar_t* name, _variant_t& value);
    int GetChunk(int index, CString& text);
    int GetChunk(const wchar_t* name, CString& text);

    void SetFetchSize(unsigned size) { m_nFetchSize = size; }
    unsigned GetFetchSize() const { return m_nFetchSize; }
    void SetCacheSize(int size);  // capped at 1,000
    int GetCacheSize() const { return m_nCacheSize; }

    CString GetQuery() const { return m_strQuery; }
    void SetQuery(const wchar_t* query) { m_strQuery = query ? query : L""; }

    CString GetLastErrorString() const { return m_strLastError; }
    unsigned long GetLastError() const { return m_dwLastError; }
    _RecordsetPtr GetRecordset() const { return m_pRecordset; }
    _ConnectionPtr GetConnection() const { return m_pConnection; }
    _ConnectionPtr GetActiveConnection() const { return m_pConnection; }

    // Bytes of memory the rows of the current result occupy (for diagnostics).
    std::size_t GetStorageSize() const;

    CString m_strLastError;
    std::uint32_t m_dwLastError = 0;

private:
    void Record(const CString& text, std::uint32_t code);
    int Run(const std::wstring& sql);
    long FindField(const wchar_t* name);
    bool HasCurrentRow();
    // Reads column `index` of the current row with `read`, recording what goes wrong.
    template <class T, class Read>
    int ReadCurrent(int index, T& out, Read read);

    _RecordsetPtr m_pRecordset;
    _ConnectionPtr m_pConnection;
    CString m_strQuery;
    int m_nMode = 1;
    unsigned m_nFetchSize = 0;
    int m_nCacheSize = 1;
    long m_lPosition = 0;  // -1 BOF, count EOF
};

// ---- CADOCommand: runs statements that return no rows ----

class CADOCommand {
public:
    CADOCommand(CADOConnection* connection, CString text = CString(), int type = adCmdText);
    virtual ~CADOCommand();

    void SetText(CString text) { m_strText = std::move(text); }
    void SetType(int type) { m_nType = type; }
    CString GetText() const { return m_strText; }
    int GetType() const { return m_nType; }
    void SetConnection(CADOConnection* connection);
    // Runs the text (type adCmdText: a statement; adCmdTable: "select * from" the text;
    // adCmdStoredProc: a call of the procedure); any rows are discarded.
    int Execute(int options = adCmdText | adExecuteNoRecords);
    int GetRecordsAffected() const { return m_nRecordsAffected; }
    void Cancel();

    CString GetLastErrorString() const { return m_strLastError; }
    unsigned long GetLastError() const { return m_dwLastError; }

    CString m_strLastError;
    std::uint32_t m_dwLastError = 0;

private:
    _ConnectionPtr m_pConnection;
    int m_nType = adCmdText;
    int m_nRecordsAffected = 0;
    CString m_strText;
};

// Removes the bracketed tags that drivers put in front of a message: while the text is at least
// two characters long and starts with '[', drops everything up to the first ']' and trims blanks
// at both ends; a text with no ']' stays as it is.
CString TrimErrorTags(const CString& text);

}  // namespace zentra
