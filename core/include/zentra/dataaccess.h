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
#include <string_view>
#include <vector>

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

enum AffectEnum : int {
    adAffectCurrent = 1,
    adAffectGroup = 2,
    adAffectAll = 3,
    adAffectAllChapters = 4,
};

enum SearchDirectionEnum : int {
    adSearchBackward = -1,
    adSearchForward = 1,
};

enum ParameterDirectionEnum : int {
    adParamUnknown = 0,
    adParamInput = 1,
    adParamOutput = 2,
    adParamInputOutput = 3,
    adParamReturnValue = 4,
};

enum PersistFormatEnum : int {
    adPersistADTG = 0,
    adPersistXML = 1,
};

// The state of one bound value (ADO FieldStatusEnum).
enum FieldStatusEnum : long {
    adFldOK = 0,
    adFldCantConvertValue = 2,
    adFldNull = 3,
    adFldTruncated = 4,
    adFldSignMismatch = 5,
    adFldDataOverflow = 6,
};

constexpr long adCmdFile = 256;
constexpr int adOpenForwardOnly = 0;
constexpr int adOpenStatic = 3;
constexpr int adLockOptimistic = 3;
constexpr int adLockBatchOptimistic = 4;
constexpr int adLockUnspecified = -1;

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
struct OdbcError;
class Cursor;
struct FieldCore;
struct ParameterCore;
using _ConnectionPtr = std::shared_ptr<ConnectionCore>;
// A result with a reading position: the rows (shared by clones), the visible order after filter
// and sort, the position and the pending edit. Copies of a CADORecordSet share it.
using _RecordsetPtr = std::shared_ptr<Cursor>;
// One column of a recordset, seen at that recordset's current record.
using FieldPtr = std::shared_ptr<FieldCore>;
// One parameter of a command: name, type, direction, size, precision, scale and value.
using _ParameterPtr = std::shared_ptr<ParameterCore>;

class CADOCommand;
class CADORecordBinding;
class RowSet;
using UINT = unsigned int;

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
    std::string m_strSqlState;  // the driver's SQLSTATE behind the last error ("" when none)

private:
    void Record(const CString& text, std::uint32_t code);
    void Record(const OdbcError& error);
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
    int m_nType = -1;  // ADO DataTypeEnum value
    long m_lDefinedSize = 0;
    long m_lActualSize = 0;  // in the current row
    long m_lAttributes = 2;  // FieldAttributeEnum bits
    int m_nNumber1 = 0;
    bool m_bFlag2 = false;
    bool m_bFlag3 = true;
    bool m_bFlag4 = false;
    int m_nNumber2 = 0;
    int m_nPrecision = 0;       // 0-255
    short m_nNumericScale = 0;  // 0-255
    int m_nNumber3 = 1;
};

// A field of the current record in the form the record set keeps it, for readers that show many
// values one after another (the result printer): nothing is converted and nothing allocated.
// `form` is None when the field has no such form (a value changed and not yet sent, a number kept
// as floating point, binary data, a date outside 0100-9999): such a field is read with
// GetFieldValue. The views are valid until the record set moves or changes.
struct StoredField {
    enum Form : std::uint8_t { None, Null, Integer, Unsigned, Text, Decimal, Date, Time, Timestamp };
    Form form = None;
    std::int64_t integer = 0;           // Integer
    std::uint64_t unsignedInteger = 0;  // Unsigned
    // Text: UTF-8 as stored. Decimal: ASCII, the text the value read as a variant converts to
    // (VariantToText: no leading zeros, no zeros ending the fraction).
    std::string_view bytes;
    // Date, Time, Timestamp: the fields (milliseconds from the stored fraction, cut, not rounded).
    SYSTEMTIME time{};
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
    // `mode` nonzero selects batch-optimistic locking: Update and Delete keep their changes in
    // the recordset until UpdateBatch sends them (or CancelBatch drops them); with mode 0
    // (optimistic) every Update and Delete reaches the database at once.
    explicit CADORecordSet(int mode = 1);
    CADORecordSet(CADOConnection* connection, int mode);
    virtual ~CADORecordSet();
    // Copies share the result, its position and its pending changes (as two references to one
    // recordset do); Clone gives an independent position over the same rows.
    CADORecordSet(const CADORecordSet&) = default;
    CADORecordSet& operator=(const CADORecordSet&) = default;

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
    // The stored forms of every field of the current record, one per field; 0 without a current
    // record.
    int GetRecordStored(std::vector<StoredField>& fields);

    // ---- typed values (1 success, 0 failure) ----
    int GetFieldValue(int index, double& value);
    int GetFieldValue(const wchar_t* name, double& value);
    int GetFieldValue(int index, long& value);
    int GetFieldValue(const wchar_t* name, long& value);
    int GetFieldValue(int index, unsigned long& value);
    int GetFieldValue(const wchar_t* name, unsigned long& value);
    int GetFieldValue(int index, int& value);
    int GetFieldValue(const wchar_t* name, int& value);
    int GetFieldValue(int index, bool& value);
    int GetFieldValue(const wchar_t* name, bool& value);
    int GetFieldValue(int index, COleDateTime& value);
    int GetFieldValue(const wchar_t* name, COleDateTime& value);
    int GetFieldValue(int index, COleCurrency& value);
    int GetFieldValue(const wchar_t* name, COleCurrency& value);
    int GetFieldValue(int index, CString& value, int format = 0);
    int GetFieldValue(const wchar_t* name, CString& value, int format = 0);

    // Values can be stored only during Edit or AddNew; otherwise 0 and nothing is stored. A value
    // the column cannot hold (text in a number column that is not a number, ...) fails with an
    // error and leaves the field as it was.
    int SetFieldValue(int index, const CString& value);
    int SetFieldValue(const wchar_t* name, const CString& value);
    int SetFieldValue(int index, const wchar_t* value);
    int SetFieldValue(const wchar_t* name, const wchar_t* value);
    int SetFieldValue(int index, int value);
    int SetFieldValue(const wchar_t* name, int value);
    int SetFieldValue(int index, long value);
    int SetFieldValue(const wchar_t* name, long value);
    int SetFieldValue(int index, unsigned long value);
    int SetFieldValue(const wchar_t* name, unsigned long value);
    int SetFieldValue(int index, double value);
    int SetFieldValue(const wchar_t* name, double value);
    int SetFieldValue(int index, COleDateTime value);
    int SetFieldValue(const wchar_t* name, COleDateTime value);
    int SetFieldValue(int index, bool value);
    int SetFieldValue(const wchar_t* name, bool value);
    int SetFieldValue(int index, COleCurrency value);
    int SetFieldValue(const wchar_t* name, COleCurrency value);
    int SetFieldValue(int index, const _variant_t& value);
    int SetFieldValue(const wchar_t* name, const _variant_t& value);
    int SetFieldEmpty(int index);
    int SetFieldEmpty(const wchar_t* name);

    int IsFieldNull(int index);
    int IsFieldNull(const wchar_t* name);
    int IsFieldEmpty(int index);
    int IsFieldEmpty(const wchar_t* name);

    // ---- editing ----
    int Edit();
    int CanUpdate();
    int AddNew(const _variant_t& fields = _variant_t(), const _variant_t& values = _variant_t());
    int AddNew(CADORecordBinding& binding);
    int Update();
    int CancelUpdate();
    int UpdateBatch(AffectEnum affect = adAffectAll);
    int CancelBatch(AffectEnum affect = adAffectAll);
    int Delete();
    int DeleteAll();
    int RecordBinding(CADORecordBinding& binding);
    int Requery();
    // 0 none, 1 a new record is being added, 2 the current record is being edited.
    int GetEditMode() const { return m_nEditStatus; }

    // ---- searching and bookmarks ----
    // Criteria: "column op value" with op one of = <> < > <= >= LIKE; the value a number, a text
    // in single quotes, a date in '...' or #...#; LIKE takes * or % as wildcards at the ends.
    int Find(const wchar_t* criteria, int direction = adSearchForward);
    int FindFirst(const wchar_t* criteria);
    int FindNext();
    void GetBookmark();
    int SetBookmark();
    // The current record's bookmark (VT_R8); VT_EMPTY off the rows.
    _variant_t GetCurrentBookmark();
    int SetFilter(const wchar_t* filter);
    int SetSort(const wchar_t* sort);
    int Clone(CADORecordSet& other);

    // ---- paging ----
    long GetAbsolutePage();
    int SetAbsolutePage(int page);
    long GetPageCount();
    long GetPageSize();
    int SetPageSize(int size);
    void SetFetchLimit(unsigned limit) { m_nFetchLimit = limit; }
    unsigned GetFetchLimit() const { return m_nFetchLimit; }

    // ---- properties ----
    int GetFieldPrecision(const wchar_t* name, long& precision);
    int GetFieldNumScale(const wchar_t* name, long& scale);
    int GetFieldAttributes(const wchar_t* name, long& attributes);
    int GetFieldProperties(const wchar_t* field, const wchar_t* property, CString& value);
    int GetFieldProperties(const wchar_t* field, const wchar_t* property, int& value);
    int SetFieldProperties(const wchar_t* field, const wchar_t* property, const wchar_t* value);
    int SetFieldProperties(const wchar_t* field, const wchar_t* property, int value);
    int GetProperties(const wchar_t* name, CString& value);
    int GetProperties(const wchar_t* name, int& value);
    int SetProperties(const wchar_t* name, const wchar_t* value);
    int SetProperties(const wchar_t* name, int value);

    // The field object of column `index` / `name` (null on failure); it reads this recordset's
    // current record and must not outlive the recordset's result.
    FieldPtr GetField(int index);
    FieldPtr GetField(const wchar_t* name);

    // ---- long data ----
    // Copies the field's bytes (text as UTF-16 code units) into `buffer`, which must hold
    // GetChunkSize bytes.
    int GetChunk(int index, void* buffer);
    int GetChunk(const wchar_t* name, void* buffer);
    int AppendChunk(int index, const void* data, UINT length);
    int AppendChunk(const wchar_t* name, const void* data, UINT length);

    // ---- text export and persistence ----
    CString GetString(const wchar_t* columnDelimiter, const wchar_t* rowDelimiter, const wchar_t* nullText,
                      long rows = 0);
    int SaveAsXML(const wchar_t* path);
    int OpenXML(const wchar_t* path);
    int Execute(CADOCommand* command, int* affected);

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
    std::string m_strSqlState;  // the driver's SQLSTATE behind the last error ("" when none)

private:
    friend class CADOCommand;
    void Record(const CString& text, std::uint32_t code);
    void Record(const OdbcError& error);
    int Run(const std::wstring& sql);
    // Runs `sql` on the connection and gives its rows; null (recorded) when it fails.
    std::shared_ptr<RowSet> FetchRows(const std::wstring& sql);
    // Makes `rows` the recordset's result, positioned on the first record.
    void Adopt(std::shared_ptr<RowSet> rows);
    long FindField(const wchar_t* name);
    bool HasCurrentRow();
    // Reads column `index` of the current row with `read`, recording what goes wrong.
    template <class T, class Read>
    int ReadCurrent(int index, T& out, Read read);
    // Called before the position changes: a pending Edit or AddNew is saved first, as leaving
    // a record does. False (and recorded) when that save fails; the move then does not happen.
    bool LeaveRecord();
    // Called after the position changed: refreshes the bound record.
    void EnterRecord();
    // Writes the current record's values into the bound record (editing.cpp).
    void FillBinding();

    // ---- private helpers of the editing code ----
    struct WriteTable;
    // Where the changes of the current result are written (found on first use).
    std::shared_ptr<WriteTable> m_pWriteTable;
    bool BeginEdit();                                     // the cursor's edit follows the edit state
    int SetPending(long index, const _variant_t& value);  // checked against the column, then kept
    int StoreField(long index, const _variant_t& value);  // SetFieldValue by position
    int StoreField(const wchar_t* name, const _variant_t& value);
    void DropEdit();
    bool SaveEdit();                      // the pending Edit or AddNew into the rows
    bool SendPending(AffectEnum affect);  // UpdateBatch's writes
    std::vector<std::size_t> RowsIn(AffectEnum affect);
    WriteTable* Target(bool database);  // null (and recorded) when the result can't be written
    _variant_t ShownValue(std::size_t index);
    // ---- private helpers of the searching code ----
    // Find (next false) and FindNext (next true): searches the visible records in `direction`.
    int Search(const CString& criteria, int direction, bool next);
    // Makes the visible order the rows that meet `filter`, ordered by `sort`, and moves to the
    // first record; on a bad filter or sort nothing changes.
    int ApplyView(const CString& filter, const CString& sort);
    // ---- private helpers of the value and property code ----
    // Lets the field objects of GetField tell whether this recordset still exists: each object
    // has a token of its own (a copy gets a new one), released when the object goes.
    struct LifeToken {
        std::shared_ptr<int> token = std::make_shared<int>(0);
        LifeToken() = default;
        LifeToken(const LifeToken&) : token(std::make_shared<int>(0)) {}
        LifeToken& operator=(const LifeToken&) { return *this; }
    };
    LifeToken m_life;
    // The result of a typed read from its outcome (1 read, 0 failed and recorded, -1 the value
    // has no form of the requested type, recorded here as "Type mismatch.").
    int TypedResult(int outcome);
    // Property access of the recordset and of column `column`: 1, or 0 with the error recorded.
    int ReadProperty(const wchar_t* name, _variant_t& value);
    int WriteProperty(const wchar_t* name, const _variant_t& value);
    int ReadFieldProperty(long column, const wchar_t* property, _variant_t& value);
    int WriteFieldProperty(long column, const wchar_t* property, const _variant_t& value);

    _RecordsetPtr m_pRecordset;
    _ConnectionPtr m_pConnection;
    CString m_strQuery;
    int m_nMode = 1;
    unsigned m_nFetchSize = 0;
    int m_nCacheSize = 1;
    int m_nSearchDirection = adSearchForward;
    CString m_strFind;
    _variant_t m_varSearchPosition;
    _variant_t m_varBookmark;
    int m_nEditStatus = 0;
    CADORecordBinding* m_pRecBinding = nullptr;
    unsigned m_nFetchLimit = 0;
};

// ---- CADORecordBinding: a C++ record whose members are bound to fields ----
//
// A derived class lists its bound members. After RecordBinding, every move of the recordset
// fills the members from the current record; AddNew(binding) adds a record from the members.
class CADORecordBinding {
public:
    struct Entry {
        long ordinal = 0;    // field position from 1
        int type = adEmpty;  // the member's C type: adTinyInt .. adUnsignedBigInt, adSingle,
                             // adDouble, adBoolean (VARIANT_BOOL), adCurrency (CY), adDate (DATE),
                             // adDecimal (DECIMAL), adVarWChar / adWChar (wchar_t[], zero-ended),
                             // adVarChar / adChar (char[] in the ANSI code page, zero-ended),
                             // adVarBinary / adBinary (bytes)
        void* buffer = nullptr;
        std::size_t size = 0;    // bytes the buffer holds
        long* length = nullptr;  // optional: the value's length in bytes
        long* status = nullptr;  // optional: FieldStatusEnum of the value
        bool modify = true;      // AddNew and Update write this member back
    };
    virtual ~CADORecordBinding() = default;
    virtual std::vector<Entry> GetBindingEntries() = 0;
};

// ---- CADOField: one field of a recordset ----

class CADOField {
public:
    CADOField() = default;
    virtual ~CADOField() = default;
    CADOField(const CADOField&) = default;
    CADOField& operator=(const CADOField&) = default;

    void Attach(FieldPtr field) { m_pField = std::move(field); }
    FieldPtr GetFieldPtr() const { return m_pField; }

    CString GetName();
    int GetType();
    long GetActualSize();
    long GetDefinedSize();
    long GetAttributes();
    CString GetOriginalVal();
    CString GetUnderlyingValue();

    int GetValue(int& value);
    int GetValue(long& value);
    int GetValue(float& value);
    int GetValue(double& value);
    int GetValue(CString& value);
    int GetValue(COleDateTime& value);
    int GetValue(_variant_t& value);
    int SetValue(int value);
    int SetValue(long value);
    int SetValue(float value);
    int SetValue(double value);
    int SetValue(const CString& value);
    int SetValue(bool value);
    int SetValue(COleDateTime value);
    int SetValue(const _variant_t& value);

    int GetProperties(const wchar_t* name, bool& value);
    int GetProperties(const wchar_t* name, CString& value);

    CString GetLastErrorString() const { return m_strLastError; }
    unsigned long GetLastError() const { return m_dwLastError; }

    CString m_strLastError;
    std::uint32_t m_dwLastError = 0;

private:
    FieldPtr m_pField;
};

// ---- CADOParameter: a parameter built before it is appended to a command ----

class CADOParameter {
public:
    CADOParameter(int type, long size = 0, int direction = adParamInput, CString name = CString());
    virtual ~CADOParameter() = default;

    int SetValue(const _variant_t& value);
    int GetValue(_variant_t& value);
    void SetPrecision(int precision);
    void SetScale(int scale);
    CString GetName() const;
    _ParameterPtr GetParameter() const { return m_pParameter; }

private:
    _ParameterPtr m_pParameter;
};

// ---- CADOCommand: a statement or stored procedure with parameters ----

class CADOCommand {
public:
    CADOCommand(CADOConnection* connection, CString text = CString(), int type = adCmdText);
    virtual ~CADOCommand();
    CADOCommand(const CADOCommand&) = default;
    CADOCommand& operator=(const CADOCommand&) = default;

    void SetText(CString text) { m_strText = std::move(text); }
    void SetType(int type) { m_nType = type; }
    CString GetText() const { return m_strText; }
    int GetType() const { return m_nType; }
    void SetConnection(CADOConnection* connection);
    _ConnectionPtr GetConnection() const { return m_pConnection; }
    // Seconds a statement may run before it is cancelled ("Query timeout expired"); 0, the
    // default, sets no limit.
    void SetTimeout(long seconds);
    // Runs the text (type adCmdText: a statement; adCmdTable: "select * from" the text;
    // adCmdStoredProc: a call of the procedure) with the parameters bound; any rows are
    // discarded. Output and return-value parameters receive their values.
    int Execute(int options = adCmdText | adExecuteNoRecords);
    int GetRecordsAffected() const { return m_nRecordsAffected; }
    void Cancel();

    // ---- parameters (1 success, 0 failure) ----
    int AddParameter(CString name, int type, int direction, long size, _variant_t value, int precision = 0,
                     int scale = 0);
    int AddParameter(CString name, int type, int direction, long size, int value);
    int AddParameter(CString name, int type, int direction, long size, long value);
    int AddParameter(CString name, int type, int direction, long size, double value, int precision = 0, int scale = 0);
    int AddParameter(CString name, int type, int direction, long size, const wchar_t* value);
    int AddParameter(CString name, int type, int direction, long size, COleDateTime value);
    int AddParameter(CADOParameter* parameter);
    int AddParameter(_ParameterPtr parameter);
    int AddEmptyParameter(CString name, int direction);
    int AddNullParameter(CString name, int direction);
    int SetParameterValue(int index, const _variant_t& value);
    int SetParameterValue(const wchar_t* name, const _variant_t& value);
    int SetParameterValue(const wchar_t* name, int value);
    int SetParameterValue(const wchar_t* name, long value);
    int SetParameterValue(const wchar_t* name, double value);
    int SetParameterValue(const wchar_t* name, const wchar_t* value);
    int SetParameterValue(const wchar_t* name, COleDateTime value);
    int GetParameterValue(int index, _variant_t& value);
    int GetParameterValue(const wchar_t* name, _variant_t& value);
    long GetParameterCount();
    _ParameterPtr GetParameter(int index);
    _ParameterPtr GetParameter(const wchar_t* name);

    CString GetLastErrorString() const { return m_strLastError; }
    unsigned long GetLastError() const { return m_dwLastError; }

    CString m_strLastError;
    std::uint32_t m_dwLastError = 0;
    std::string m_strSqlState;  // the driver's SQLSTATE behind the last error ("" when none)

private:
    friend class CADORecordSet;
    // ---- private helpers of the command code ----
    void Record(const CString& text, std::uint32_t code);
    void Record(const OdbcError& error);
    // The index of the parameter named `name` (case-insensitive), -1 (recorded) when none.
    long FindParameter(const wchar_t* name);
    // Runs the command with its parameters bound: the first result with columns goes to `rows`
    // (all results are discarded without), then output parameters receive their values.
    // `owner` identifies the caller for Cancel; `statement` receives the text that was run.
    int Run(RowSet* rows, const void* owner, std::wstring* statement);

    _ConnectionPtr m_pConnection;
    int m_nType = adCmdText;
    int m_nRecordsAffected = 0;
    CString m_strText;
    // No limit until SetTimeout: statements of scripts may run as long as they need.
    long m_lTimeout = 0;
    std::vector<_ParameterPtr> m_parameters;
};

// ---- conversions of variants to typed values (1 success, 0 failure) ----

int VariantToBool(const _variant_t& value, bool& result);
int VariantToInt(const _variant_t& value, int& result);
// A value that cannot be converted fails with 0 (nothing is thrown across the library).
int VariantToLong(const _variant_t& value, long& result);
int VariantToULong(const _variant_t& value, unsigned long& result);
int VariantToDouble(const _variant_t& value, double& result);
int VariantToDateTime(const _variant_t& value, COleDateTime& result);
int VariantToCurrency(const _variant_t& value, COleCurrency& result);
// The text form of a variant; `format` is not used.
int VariantToString(const _variant_t& value, CString& result, int format = 0);

// Removes the bracketed tags that drivers put in front of a message: while the text is at least
// two characters long and starts with '[', drops everything up to the first ']' and trims blanks
// at both ends; a text with no ']' stays as it is.
CString TrimErrorTags(const CString& text);

}  // namespace zentra
