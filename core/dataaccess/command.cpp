// Commands: statements and stored procedures with bound parameters, and the recordset built from
// a command's first result.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "../platform/fallback.h"
#include "messages.h"
#include "connection_core.h"
#include "cursor.h"
#include "parameter_core.h"
#include "statement.h"
#include "zentra/codepage.h"
#include "zentra/dataaccess.h"
#include "zentra/format.h"
#include "zentra/text.h"
#include "zentra/values.h"

namespace zentra {

namespace {

const wchar_t* const kBadArguments =
    L"Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";

// Room for an output value whose parameter has no size (or a smaller one): text in characters,
// binary in bytes. A longer value fails the command.
constexpr std::size_t kOutputRoom = 8000;
// The indicator an output parameter starts with and keeps when the driver gives it no value.
// It must be a valid input indicator (drivers check it even for output parameters), so no
// "data at execution" length; a delivered value always replaces it with a length or null.
constexpr SQLLEN kNotDelivered = SQL_NTS;

bool KnownType(int type) {
    switch (type) {
    case adEmpty:
    case adSmallInt:
    case adInteger:
    case adSingle:
    case adDouble:
    case adCurrency:
    case adDate:
    case adBSTR:
    case adBoolean:
    case adVariant:
    case adDecimal:
    case adTinyInt:
    case adUnsignedTinyInt:
    case adUnsignedSmallInt:
    case adUnsignedInt:
    case adBigInt:
    case adUnsignedBigInt:
    case adGUID:
    case adBinary:
    case adChar:
    case adWChar:
    case adNumeric:
    case adDBDate:
    case adDBTime:
    case adDBTimeStamp:
    case adVarNumeric:
    case adVarChar:
    case adLongVarChar:
    case adVarWChar:
    case adLongVarWChar:
    case adVarBinary:
    case adLongVarBinary: return true;
    default: return false;
    }
}

bool IsOutput(int direction) {
    return direction == adParamOutput || direction == adParamInputOutput || direction == adParamReturnValue;
}

// The type a parameter of type adEmpty or adVariant takes from its value.
int TypeOfValue(const _variant_t& value) {
    switch (value.vt() & ~VT_BYREF) {
    case VT_I1:
    case VT_UI1:
    case VT_I2: return adSmallInt;
    case VT_I4:
    case VT_INT:
    case VT_UI2: return adInteger;
    case VT_UI4:
    case VT_UINT:
    case VT_I8: return adBigInt;
    case VT_UI8: return adUnsignedBigInt;
    case VT_R4: return adSingle;
    case VT_R8: return adDouble;
    case VT_CY: return adCurrency;
    case VT_DECIMAL: return adNumeric;
    case VT_DATE: return adDBTimeStamp;
    case VT_BOOL: return adBoolean;
    case VT_ARRAY | VT_UI1:
    case VT_ARRAY | VT_I1: return adVarBinary;
    default: return adVarWChar;
    }
}

// How a parameter type is bound: the C and SQL types and the stored form its value takes.
struct TypeMap {
    SQLSMALLINT cType;
    SQLSMALLINT sqlType;
    ValueKind kind;
};

TypeMap MapType(int type) {
    switch (type) {
    case adTinyInt: return {SQL_C_STINYINT, SQL_TINYINT, ValueKind::Int};
    case adSmallInt: return {SQL_C_SSHORT, SQL_SMALLINT, ValueKind::Int};
    case adInteger: return {SQL_C_SLONG, SQL_INTEGER, ValueKind::Int};
    case adBigInt: return {SQL_C_SBIGINT, SQL_BIGINT, ValueKind::Int};
    // Unsigned values go to the next wider signed SQL type, which every DBMS has.
    case adUnsignedTinyInt: return {SQL_C_UTINYINT, SQL_SMALLINT, ValueKind::UInt};
    case adUnsignedSmallInt: return {SQL_C_USHORT, SQL_INTEGER, ValueKind::UInt};
    case adUnsignedInt: return {SQL_C_ULONG, SQL_BIGINT, ValueKind::UInt};
    case adUnsignedBigInt: return {SQL_C_UBIGINT, SQL_BIGINT, ValueKind::UInt};
    case adSingle: return {SQL_C_FLOAT, SQL_REAL, ValueKind::Float};
    case adDouble: return {SQL_C_DOUBLE, SQL_DOUBLE, ValueKind::Double};
    case adBoolean: return {SQL_C_BIT, SQL_BIT, ValueKind::Bool};
    // Exact numbers travel as their decimal text, which every driver converts without loss.
    case adCurrency:
    case adDecimal:
    case adNumeric:
    case adVarNumeric: return {SQL_C_CHAR, SQL_NUMERIC, ValueKind::Decimal};
    case adDate:
    case adDBTimeStamp: return {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, ValueKind::Timestamp};
    case adDBDate: return {SQL_C_TYPE_DATE, SQL_TYPE_DATE, ValueKind::Date};
    case adDBTime: return {SQL_C_TYPE_TIME, SQL_TYPE_TIME, ValueKind::Time};
    case adBinary: return {SQL_C_BINARY, SQL_BINARY, ValueKind::Bytes};
    case adVarBinary: return {SQL_C_BINARY, SQL_VARBINARY, ValueKind::Bytes};
    case adLongVarBinary: return {SQL_C_BINARY, SQL_LONGVARBINARY, ValueKind::Bytes};
    case adChar: return {SQL_C_WCHAR, SQL_CHAR, ValueKind::Text};
    case adVarChar: return {SQL_C_WCHAR, SQL_VARCHAR, ValueKind::Text};
    case adLongVarChar: return {SQL_C_WCHAR, SQL_LONGVARCHAR, ValueKind::Text};
    case adWChar: return {SQL_C_WCHAR, SQL_WCHAR, ValueKind::Text};
    case adLongVarWChar: return {SQL_C_WCHAR, SQL_WLONGVARCHAR, ValueKind::Text};
    case adGUID: return {SQL_C_WCHAR, SQL_GUID, ValueKind::Text};
    default: return {SQL_C_WCHAR, SQL_WVARCHAR, ValueKind::Text};  // adBSTR, adVarWChar
    }
}

// What the driver does with parameters beyond the ODBC rules.
struct DriverTraits {
    // Text as SQL_C_WCHAR; ANSI builds (psqlodbca) refuse the conversion and get their text as
    // SQL_C_CHAR bytes in the locale's character set, as the driver manager passes them
    // statement text.
    bool wideText = true;
    // MariaDB Connector/ODBC writes output parameters in their server form whatever the C type
    // asks for: text as UTF-8 bytes even into a SQL_C_WCHAR buffer, dates and times as its own
    // larger structure. Such outputs are bound as SQL_C_CHAR text, which it does write right.
    bool textOutputs = false;
};

DriverTraits ProbeDriver(const ConnectionCore& connection) {
    DriverTraits traits;
    traits.wideText = connection.caps().wideText;
    const std::wstring driver = InfoText(connection.dbc(), SQL_DRIVER_NAME, connection.caps().wideCalls);
    traits.textOutputs = FindNoCase(driver, L"maodbc") != std::wstring::npos;
    return traits;
}

// One bound parameter: its ODBC description, its buffer (8-byte aligned) and its indicator.
struct Binding {
    int type = adVarWChar;  // the effective DataTypeEnum
    TypeMap map{};
    SQLSMALLINT io = SQL_PARAM_INPUT;
    SQLULEN columnSize = 0;
    SQLSMALLINT digits = 0;
    std::vector<std::uint64_t> storage;
    SQLLEN capacity = 0;  // bytes of the buffer
    SQLLEN indicator = 0;

    void* data() { return storage.data(); }
    // `bytes` usable bytes, and some slack behind them for drivers that write a little more
    // than they are told to (a wrong structure size must not damage the heap).
    void Reserve(std::size_t bytes) {
        storage.assign((bytes + 64) / 8 + 1, 0);
        capacity = static_cast<SQLLEN>(bytes);
    }
    void Put(const void* bytes, std::size_t length, std::size_t room) {
        Reserve(std::max(length, room));
        if (length) std::memcpy(data(), bytes, length);
        indicator = static_cast<SQLLEN>(length);
    }
};

template <class T>
void PutValue(Binding& b, T value) {
    b.Put(&value, sizeof value, sizeof value);
}

// Digits in all and after the point of a plain decimal text.
void DecimalDigits(const std::wstring& text, SQLULEN& precision, SQLSMALLINT& scale) {
    std::size_t all = 0, after = 0;
    bool point = false;
    for (wchar_t ch : text) {
        if (ch == L'.') point = true;
        else if (ch >= L'0' && ch <= L'9') ++all, after += point;
    }
    precision = std::max<SQLULEN>(all, 1);
    scale = static_cast<SQLSMALLINT>(after);
}

// The buffer of each kind of parameter (`null`: no value goes in; `out`: the driver writes one back).
void PrepareInteger(Binding& b, const _variant_t& v, bool null) {
    switch (b.map.cType) {
    case SQL_C_STINYINT: PutValue(b, static_cast<std::int8_t>(null ? 0 : v.intVal())); break;
    case SQL_C_SSHORT: PutValue(b, static_cast<std::int16_t>(null ? 0 : v.intVal())); break;
    case SQL_C_SLONG: PutValue(b, static_cast<std::int32_t>(null ? 0 : v.intVal())); break;
    case SQL_C_SBIGINT: PutValue(b, static_cast<std::int64_t>(null ? 0 : v.intVal())); break;
    case SQL_C_UTINYINT: PutValue(b, static_cast<std::uint8_t>(null ? 0 : v.uintVal())); break;
    case SQL_C_USHORT: PutValue(b, static_cast<std::uint16_t>(null ? 0 : v.uintVal())); break;
    case SQL_C_ULONG: PutValue(b, static_cast<std::uint32_t>(null ? 0 : v.uintVal())); break;
    default: PutValue(b, static_cast<std::uint64_t>(null ? 0 : v.uintVal())); break;
    }
}

void PrepareDecimal(Binding& b, const ParameterCore& p, const _variant_t& v, bool null, bool out) {
    std::wstring text;
    if (!null) text = v.vt() == VT_DECIMAL ? DecimalToText(v.decVal()) : v.bstrVal();
    std::string ascii = WideToAscii(text);
    b.Put(ascii.data(), ascii.size(), out ? 130 : ascii.size() + 1);
    DecimalDigits(text, b.columnSize, b.digits);
    if (p.precision > 0) b.columnSize = static_cast<SQLULEN>(p.precision);
    if (p.scale > 0) b.digits = static_cast<SQLSMALLINT>(p.scale);
    if (b.type == adCurrency) b.columnSize = 19, b.digits = 4;
    if (null && p.precision <= 0) b.columnSize = 38;
}

void PrepareText(Binding& b, const _variant_t& v, bool null, bool out, std::size_t size, const DriverTraits& traits) {
    const std::wstring text = null ? std::wstring() : v.bstrVal();
    const std::size_t room = out ? std::max(size, kOutputRoom) : 0;
    if (traits.wideText && !(out && traits.textOutputs)) {
        SqlWString wide = ToSqlW(text);
        wide.push_back(0);
        b.Put(wide.data(), (wide.size() - 1) * sizeof(SQLWCHAR),
              (std::max(room, wide.size() - 1) + 1) * sizeof(SQLWCHAR));
        b.columnSize = std::max<SQLULEN>({size, wide.size() - 1, 1});
        return;
    }
    b.map.cType = SQL_C_CHAR;
    std::string narrow = WideToMultiByte(text, CP_ACP);
    // Up to four bytes a character in the output room.
    b.Put(narrow.c_str(), narrow.size(), std::max(room * 4, narrow.size()) + 1);
    b.columnSize = std::max<SQLULEN>({size, text.size(), 1});
}

void PrepareBytes(Binding& b, const _variant_t& v, bool null, bool out, std::size_t size) {
    const SAFEARRAY* array = null ? nullptr : v.parray();
    const std::size_t length = array ? array->bytes.size() : 0;
    b.Put(array && length ? array->bytes.data() : nullptr, length,
          std::max(length, out ? std::max(size, kOutputRoom) : 0));
    b.columnSize = std::max<SQLULEN>({size, length, 1});
}

void PrepareTemporal(Binding& b, const _variant_t& v, bool null, bool out, const DriverTraits& traits) {
    SYSTEMTIME st;
    if (null || !VariantToSystemTimeWithMilliseconds(v.dblVal(), st)) st = SYSTEMTIME{1899, 12, 0, 30, 0, 0, 0, 0};
    if (out && traits.textOutputs) {
        std::wstring text = b.map.kind == ValueKind::Date ? Format(L"%04d-%02d-%02d", st.wYear, st.wMonth, st.wDay)
                            : b.map.kind == ValueKind::Time
                                ? Format(L"%02d:%02d:%02d", st.wHour, st.wMinute, st.wSecond)
                                : Format(L"%04d-%02d-%02d %02d:%02d:%02d.%03d", st.wYear, st.wMonth, st.wDay, st.wHour,
                                         st.wMinute, st.wSecond, st.wMilliseconds);
        std::string ascii = WideToAscii(text);
        b.map.cType = SQL_C_CHAR;
        b.Put(ascii.c_str(), ascii.size(), 64);
        b.columnSize = b.map.kind == ValueKind::Date ? 10 : b.map.kind == ValueKind::Time ? 8 : 23;
        b.digits = b.map.kind == ValueKind::Timestamp ? 3 : 0;
    } else if (b.map.kind == ValueKind::Date) {
        SQL_DATE_STRUCT d{static_cast<SQLSMALLINT>(st.wYear), st.wMonth, st.wDay};
        PutValue(b, d);
        b.columnSize = 10;
    } else if (b.map.kind == ValueKind::Time) {
        SQL_TIME_STRUCT t{st.wHour, st.wMinute, st.wSecond};
        PutValue(b, t);
        b.columnSize = 8;
    } else {
        const SQL_TIMESTAMP_STRUCT s = TimestampOf(st);
        PutValue(b, s);
        b.columnSize = 23;
        b.digits = 3;
    }
}

// Fills `b` for parameter `p` from its (already converted) value `v`.
void Prepare(Binding& b, const ParameterCore& p, const _variant_t& v, const DriverTraits& traits) {
    const bool out = IsOutput(p.direction);
    const bool in = p.direction != adParamOutput && p.direction != adParamReturnValue;
    const bool null = !in || v.vt() == VT_NULL || v.vt() == VT_EMPTY;
    const std::size_t size = p.size > 0 ? static_cast<std::size_t>(p.size) : 0;
    b.columnSize = 0;
    b.digits = 0;
    switch (b.map.kind) {
    case ValueKind::Int:
    case ValueKind::UInt: PrepareInteger(b, v, null); break;
    case ValueKind::Float: PutValue(b, null ? 0.0f : v.fltVal()); break;
    case ValueKind::Double: PutValue(b, null ? 0.0 : v.dblVal()); break;
    case ValueKind::Bool: PutValue(b, static_cast<unsigned char>(!null && v.boolVal() ? 1 : 0)); break;
    case ValueKind::Decimal: PrepareDecimal(b, p, v, null, out); break;
    case ValueKind::Text: PrepareText(b, v, null, out, size, traits); break;
    case ValueKind::Bytes: PrepareBytes(b, v, null, out, size); break;
    case ValueKind::Date:
    case ValueKind::Time:
    case ValueKind::Timestamp: PrepareTemporal(b, v, null, out, traits); break;
    }
    if (null) b.indicator = in ? SQL_NULL_DATA : kNotDelivered;
}

// A plain decimal text as currency (ten-thousandths, further decimals rounded half away from
// zero); false when it does not fit 64 bits.
bool CurrencyFromText(const std::wstring& text, CY& amount) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == L'-';
    if (!text.empty() && (text[0] == L'-' || text[0] == L'+')) ++i;
    unsigned __int128 units = 0;
    int decimals = -1;  // digits seen after the point, -1 before it
    bool roundUp = false;
    for (; i < text.size(); ++i) {
        const wchar_t ch = text[i];
        if (ch == L'.' && decimals < 0) {
            decimals = 0;
            continue;
        }
        if (ch < L'0' || ch > L'9') return false;
        if (decimals >= 4) {
            if (decimals == 4) roundUp = ch >= L'5';
            ++decimals;
            continue;
        }
        units = units * 10 + static_cast<unsigned>(ch - L'0');
        if (decimals >= 0) ++decimals;
        if (units > (static_cast<unsigned __int128>(1) << 64)) return false;
    }
    for (int d = std::max(decimals, 0); d < 4; ++d) units *= 10;
    units += roundUp ? 1 : 0;
    const unsigned __int128 limit = static_cast<unsigned __int128>(INT64_MAX) + (negative ? 1 : 0);
    if (units > limit) return false;
    amount.int64 =
        negative ? static_cast<std::int64_t>(-static_cast<__int128>(units)) : static_cast<std::int64_t>(units);
    return true;
}

// The text an output parameter bound as SQL_C_CHAR left: numbers as decimal text, dates and times
// as text, text from an ANSI driver. False (with `error`) when the text is not a value of its type.
bool CollectNarrow(const Binding& b, const RowSet& convert, std::size_t column, std::string_view narrow,
                   _variant_t& value, std::wstring& error) {
    if (b.map.kind == ValueKind::Text) {
        value = _variant_t::Bstr(DecodeNarrow(narrow));
        return true;
    }
    if (b.map.kind != ValueKind::Decimal) {  // dates and times as text
        std::wstring problem;
        if (!convert.Coerce(column, _variant_t::Bstr(Trim(AsciiToWide(narrow))), value, problem)) {
            error = problem;
            return false;
        }
        return true;
    }
    std::wstring text = Trim(AsciiToWide(narrow));
    DECIMAL dec;
    if (!DecimalFromText(text, dec)) {
        value = _variant_t::Bstr(text);
    } else if (b.type == adCurrency) {
        CY amount;
        if (CurrencyFromText(text, amount)) value = _variant_t::Currency(amount);
        else value = _variant_t::Decimal(dec);  // beyond the currency range: keep every digit
    } else {
        value = _variant_t::Decimal(dec);
    }
    return true;
}

// The value the driver left in the buffer of output parameter `b` (column `column` of `convert`
// describes it). False (with `error`) when it did not fit the buffer; the part that fitted is kept.
bool Collect(Binding& b, const RowSet& convert, std::size_t column, _variant_t& value, std::wstring& error) {
    if (b.indicator == kNotDelivered) return true;  // the driver gave no value: unchanged
    if (b.indicator == SQL_NULL_DATA) {
        value = _variant_t::Null();
        return true;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(b.data());
    auto read = [&](auto sample) {
        decltype(sample) x;
        std::memcpy(&x, bytes, sizeof x);
        return x;
    };
    const bool variable = b.map.cType == SQL_C_CHAR || b.map.cType == SQL_C_WCHAR || b.map.cType == SQL_C_BINARY;
    // Text buffers keep room for the terminating zero.
    const SQLLEN room = b.map.kind == ValueKind::Bytes ? b.capacity
                        : b.map.cType == SQL_C_WCHAR   ? b.capacity - static_cast<SQLLEN>(sizeof(SQLWCHAR))
                                                       : b.capacity - 1;
    bool truncated = variable && (b.indicator == SQL_NO_TOTAL || b.indicator > room);
    const std::size_t length =
        variable ? static_cast<std::size_t>(truncated ? room : std::max<SQLLEN>(b.indicator, 0)) : 0;
    switch (b.map.cType) {
    case SQL_C_STINYINT: value = _variant_t::I1(read(std::int8_t{})); break;
    case SQL_C_SSHORT: value = _variant_t::I2(read(std::int16_t{})); break;
    case SQL_C_SLONG: value = _variant_t::I4(read(std::int32_t{})); break;
    case SQL_C_SBIGINT: value = _variant_t::I8(read(std::int64_t{})); break;
    case SQL_C_UTINYINT: value = _variant_t::UI1(read(std::uint8_t{})); break;
    case SQL_C_USHORT: value = _variant_t::UI2(read(std::uint16_t{})); break;
    case SQL_C_ULONG: value = _variant_t::UI4(read(std::uint32_t{})); break;
    case SQL_C_UBIGINT: value = _variant_t::UI8(read(std::uint64_t{})); break;
    case SQL_C_FLOAT: value = _variant_t::R4(read(float{})); break;
    case SQL_C_DOUBLE: value = _variant_t::R8(read(double{})); break;
    case SQL_C_BIT: value = _variant_t::Bool(read(static_cast<unsigned char>(0)) != 0); break;
    case SQL_C_TYPE_DATE: {
        auto d = read(SQL_DATE_STRUCT{});
        value = _variant_t::Date(MakeOleDate(d.year, d.month, d.day, 0, 0, 0, 0));
        break;
    }
    case SQL_C_TYPE_TIME: {
        auto t = read(SQL_TIME_STRUCT{});
        value = _variant_t::Date(MakeOleDate(1899, 12, 30, t.hour, t.minute, t.second, 0));
        break;
    }
    case SQL_C_TYPE_TIMESTAMP: {
        auto s = read(SQL_TIMESTAMP_STRUCT{});
        value = _variant_t::Date(
            MakeOleDate(s.year, s.month, s.day, s.hour, s.minute, s.second, static_cast<int>(s.fraction / 1000000u)));
        break;
    }
    case SQL_C_BINARY: value = _variant_t::Bytes(bytes, length); break;
    case SQL_C_WCHAR:
        value = _variant_t::Bstr(FromSqlW(reinterpret_cast<const SQLWCHAR*>(bytes), length / sizeof(SQLWCHAR)));
        break;
    default:  // SQL_C_CHAR: numbers as decimal text, text from an ANSI driver
        if (!CollectNarrow(b, convert, column, std::string_view(reinterpret_cast<const char*>(bytes), length), value,
                           error))
            return false;
        break;
    }
    if (truncated) {
        error = L"The value of an output parameter is longer than its size.";
        return false;
    }
    return true;
}

// Cancels a statement whose driver does not apply the query timeout itself, once the timeout
// has passed; the destructor ends the wait.
class Watchdog {
public:
    Watchdog() = default;
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    // Without a thread to spare the statement runs without the timeout.
    void Start(long seconds, ConnectionCore& core, const void* owner) noexcept {
        try {
            thread_ = std::thread([this, seconds, &core, owner] {
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    if (wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) return;
                    fired_ = true;
                }
                core.Cancel(owner);
            });
        } catch (const std::exception&) {
        }
    }
    bool Fired() {
        std::lock_guard<std::mutex> lock(mutex_);
        return fired_;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    bool fired_ = false;
    std::thread thread_;
};

// The statement a command runs: stored procedures become an ODBC call with one marker per
// parameter ("{? = call name(?, ...)}" when the first parameter is the return value).
std::wstring CommandStatement(const std::wstring& text, int type, const std::vector<_ParameterPtr>& parameters) {
    if (type != adCmdStoredProc) return StatementFor(text, type);
    std::wstring name = Trim(text);
    if (!name.empty() && name[0] == L'{') return name;  // already an ODBC call
    const bool returns = !parameters.empty() && parameters[0]->direction == adParamReturnValue;
    std::wstring call = returns ? L"{? = call " : L"{call ";
    call += name;
    if (name.find(L'(') == std::wstring::npos) {
        const std::size_t markers = parameters.size() - (returns ? 1 : 0);
        call += L'(';
        for (std::size_t i = 0; i < markers; ++i) call += i ? L", ?" : L"?";
        call += L')';
    }
    return call + L'}';
}

_variant_t DateVariant(const COleDateTime& value) {
    return value.m_status == COleDateTime::null ? _variant_t::Null() : _variant_t::Date(value.m_dt);
}

// `long` values as ADO's 32-bit long when they fit.
_variant_t LongVariant(long value) {
    if (value >= INT32_MIN && value <= INT32_MAX) return _variant_t::I4(static_cast<std::int32_t>(value));
    return _variant_t::I8(value);
}

}  // namespace

// ---- CADOParameter ----

CADOParameter::CADOParameter(int type, long size, int direction, CString name) {
    m_pParameter = OrFallback([&] {
        auto parameter = std::make_shared<ParameterCore>();
        parameter->name = std::move(name);
        parameter->type = type;
        parameter->direction = direction;
        parameter->size = size;
        return parameter;
    });
}

int CADOParameter::SetValue(const _variant_t& value) {
    if (!m_pParameter) return 0;
    return OrFallback([&] {
        m_pParameter->value = (value.vt() & VT_BYREF) ? value.ByValue() : value;
        return 1;
    });
}

int CADOParameter::GetValue(_variant_t& value) {
    if (!m_pParameter) return 0;
    return OrFallback([&] {
        value = m_pParameter->value;
        return 1;
    });
}

void CADOParameter::SetPrecision(int precision) {
    if (m_pParameter) m_pParameter->precision = precision;
}

void CADOParameter::SetScale(int scale) {
    if (m_pParameter) m_pParameter->scale = scale;
}

CString CADOParameter::GetName() const { return m_pParameter ? m_pParameter->name : CString(); }

// ---- CADOCommand ----

CADOCommand::CADOCommand(CADOConnection* connection, CString text, int type)
    : m_nType(type), m_strText(std::move(text)) {
    if (connection) m_pConnection = connection->GetConnection();
}

CADOCommand::~CADOCommand() = default;

void CADOCommand::Record(const CString& text, std::uint32_t code) {
    m_strLastError = text;
    m_dwLastError = code;
    m_strSqlState.clear();
}

void CADOCommand::Record(const OdbcError& error) {
    m_strLastError = error.text;
    m_dwLastError = error.code;
    m_strSqlState = error.state;
}

void CADOCommand::SetConnection(CADOConnection* connection) {
    m_pConnection = connection ? connection->GetConnection() : nullptr;
}

void CADOCommand::SetTimeout(long seconds) { m_lTimeout = seconds; }

namespace {

// Each parameter's value converted to its type, and its buffer. False (with the refusal) when a
// value does not fit its parameter.
bool ConvertParameters(const std::vector<_ParameterPtr>& parameters, const DriverTraits& traits, RowSet& convert,
                       std::vector<Binding>& bindings, std::wstring& refusal) {
    bindings.resize(parameters.size());
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const ParameterCore& p = *parameters[i];
        Binding& b = bindings[i];
        b.type = p.type == adEmpty || p.type == adVariant ? TypeOfValue(p.value) : p.type;
        b.map = MapType(b.type);
        b.io = p.direction == adParamInputOutput ? SQL_PARAM_INPUT_OUTPUT
               : IsOutput(p.direction)           ? SQL_PARAM_OUTPUT
                                                 : SQL_PARAM_INPUT;
        ColumnInfo column;
        column.name = p.name;
        column.kind = b.map.kind;
        column.adoType = b.type;
        convert.columns.push_back(column);
        _variant_t value;
        std::wstring error;
        if (b.io != SQL_PARAM_OUTPUT && !convert.Coerce(i, p.value, value, error, true)) {
            std::wstring text;
            VariantToText(p.value.vt() & VT_BYREF ? p.value.ByValue() : p.value, text);
            refusal = Format(L"The value \"%s\" cannot be converted to the type of parameter \"%s\".", text, p.name);
            return false;
        }
        Prepare(b, p, value, traits);
    }
    return true;
}

// The statement's query timeout. A driver that cannot time out a statement keeps its own value
// (usually 0, with "option value changed"); the watchdog then cancels it.
void ApplyTimeout(SQLHSTMT h, long timeout, Watchdog& watchdog, ConnectionCore& core, const void* owner) {
    Traced("SQLSetStmtAttrW",
           SQLSetStmtAttrW(h, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout)), 0));
    SQLULEN applied = 0;
    if (!Succeeded(
            Traced("SQLGetStmtAttrW", SQLGetStmtAttrW(h, SQL_ATTR_QUERY_TIMEOUT, &applied, sizeof applied, nullptr))) ||
        applied != static_cast<SQLULEN>(timeout))
        watchdog.Start(timeout, core, owner);
}

SQLRETURN BindParameters(SQLHSTMT h, std::vector<Binding>& bindings) {
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        Binding& b = bindings[i];
        SQLRETURN rc = Traced("SQLBindParameter",
                              SQLBindParameter(h, static_cast<SQLUSMALLINT>(i + 1), b.io, b.map.cType, b.map.sqlType,
                                               b.columnSize, b.digits, b.data(), b.capacity, &b.indicator));
        if (!Succeeded(rc)) return rc;
    }
    return SQL_SUCCESS;
}

}  // namespace

int CADOCommand::Run(RowSet* rows, const void* owner, std::wstring* statement) {
    if (!m_pConnection) {
        Record(L"", ZE_POINTER);
        return 0;
    }
    try {
        const std::wstring sql = CommandStatement(m_strText, m_nType, m_parameters);
        if (statement) *statement = sql;
        const DriverTraits traits =
            m_pConnection->IsOpen() && !m_parameters.empty() ? ProbeDriver(*m_pConnection) : DriverTraits();

        // Convert every input value to its parameter's type first: a value that does not fit
        // fails the command before anything runs.
        RowSet convert;
        std::vector<Binding> bindings;
        std::wstring refusal;
        if (!ConvertParameters(m_parameters, traits, convert, bindings, refusal)) {
            Record(refusal, ZE_INVALIDARG);
            return 0;
        }

        const bool wide = m_pConnection->caps().wideCalls;
        OdbcError error;
        long affected = -1;
        const long timeout = m_lTimeout;
        ConnectionCore& core = *m_pConnection;
        Watchdog watchdog;
        // A ';' inside the text (a BEGIN ... END body: the connection runs one statement per
        // text) would make a splitting driver look for results that do not exist.
        const std::size_t lastCode = sql.find_last_not_of(L" \t\r\n;");
        const bool oneResult =
            core.caps().splitsAtSemicolons && lastCode != std::wstring::npos && sql.find(L';') < lastCode;
        bool ok = m_pConnection->Run(
            [&](SQLHSTMT h) {
                if (timeout > 0) ApplyTimeout(h, timeout, watchdog, core, owner);
                if (SQLRETURN rc = BindParameters(h, bindings); !Succeeded(rc)) return rc;
                return ExecDirect(h, sql, wide);
            },
            rows, &affected, owner, error, oneResult);
        if (!ok) {
            if (watchdog.Fired()) Record(L"Query timeout expired", ZE_FAIL);
            else Record(error);
            return 0;
        }
        m_nRecordsAffected = static_cast<int>(affected);
        // The statement has finished: output values are in their buffers.
        int result = 1;
        for (std::size_t i = 0; i < bindings.size(); ++i) {
            if (bindings[i].io == SQL_PARAM_INPUT) continue;
            std::wstring problem;
            if (!Collect(bindings[i], convert, i, m_parameters[i]->value, problem)) {
                Record(Format(L"%s (parameter \"%s\")", problem, m_parameters[i]->name), ZE_FAIL);
                result = 0;
            }
        }
        return result;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADOCommand::Execute(int /*options*/) {
    m_nRecordsAffected = 0;
    return Run(nullptr, this, nullptr);
}

void CADOCommand::Cancel() {
    if (m_pConnection) m_pConnection->Cancel(this);
}

// ---- parameters ----

int CADOCommand::AddParameter(CString name, int type, int direction, long size, _variant_t value, int precision,
                              int scale) {
    if (!KnownType(type) || direction < adParamUnknown || direction > adParamReturnValue || size < 0) {
        Record(kBadArguments, ZE_INVALIDARG);
        return 0;
    }
    try {
        auto p = std::make_shared<ParameterCore>();
        p->name = std::move(name);
        p->type = type;
        p->direction = direction;
        p->size = size;
        p->value = (value.vt() & VT_BYREF) ? value.ByValue() : std::move(value);
        if (precision > 0) p->precision = precision;
        if (scale > 0) p->scale = scale;
        m_parameters.push_back(std::move(p));
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADOCommand::AddParameter(CString name, int type, int direction, long size, int value) {
    return AddParameter(std::move(name), type, direction, size, _variant_t::I4(value));
}

int CADOCommand::AddParameter(CString name, int type, int direction, long size, long value) {
    return AddParameter(std::move(name), type, direction, size, LongVariant(value));
}

int CADOCommand::AddParameter(CString name, int type, int direction, long size, double value, int precision,
                              int scale) {
    return AddParameter(std::move(name), type, direction, size, _variant_t::R8(value), precision, scale);
}

int CADOCommand::AddParameter(CString name, int type, int direction, long size, const wchar_t* value) {
    return AddParameter(std::move(name), type, direction, size, value ? _variant_t::Bstr(value) : _variant_t::Null());
}

int CADOCommand::AddParameter(CString name, int type, int direction, long size, COleDateTime value) {
    if (value.m_status == COleDateTime::invalid) {
        Record(kBadArguments, ZE_INVALIDARG);
        return 0;
    }
    return AddParameter(std::move(name), type, direction, size, DateVariant(value));
}

int CADOCommand::AddParameter(CADOParameter* parameter) {
    if (!parameter) {
        Record(L"", ZE_POINTER);
        return 0;
    }
    return AddParameter(parameter->GetParameter());
}

int CADOCommand::AddParameter(_ParameterPtr parameter) {
    if (!parameter) {
        Record(L"", ZE_POINTER);
        return 0;
    }
    if (!KnownType(parameter->type) || parameter->direction < adParamUnknown ||
        parameter->direction > adParamReturnValue || parameter->size < 0) {
        Record(kBadArguments, ZE_INVALIDARG);
        return 0;
    }
    try {
        m_parameters.push_back(std::move(parameter));
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADOCommand::AddEmptyParameter(CString name, int direction) {
    return AddParameter(std::move(name), adChar, direction, 1, _variant_t::Bstr(L""));
}

int CADOCommand::AddNullParameter(CString name, int direction) {
    return AddParameter(std::move(name), adVarChar, direction, 17, _variant_t::Null());
}

long CADOCommand::FindParameter(const wchar_t* name) {
    if (name)
        for (std::size_t i = 0; i < m_parameters.size(); ++i)
            if (EqualsNoCase(m_parameters[i]->name, name)) return static_cast<long>(i);
    Record(kNoItem, ZE_INVALIDARG);
    return -1;
}

int CADOCommand::SetParameterValue(int index, const _variant_t& value) {
    if (index < 0 || index >= static_cast<int>(m_parameters.size())) {
        Record(kNoItem, ZE_INVALIDARG);
        return 0;
    }
    try {
        m_parameters[static_cast<std::size_t>(index)]->value = (value.vt() & VT_BYREF) ? value.ByValue() : value;
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADOCommand::SetParameterValue(const wchar_t* name, const _variant_t& value) {
    long index = FindParameter(name);
    return index < 0 ? 0 : SetParameterValue(static_cast<int>(index), value);
}

int CADOCommand::SetParameterValue(const wchar_t* name, int value) {
    return SetParameterValue(name, _variant_t::I4(value));
}

int CADOCommand::SetParameterValue(const wchar_t* name, long value) {
    return SetParameterValue(name, LongVariant(value));
}

int CADOCommand::SetParameterValue(const wchar_t* name, double value) {
    return SetParameterValue(name, _variant_t::R8(value));
}

int CADOCommand::SetParameterValue(const wchar_t* name, const wchar_t* value) {
    return SetParameterValue(name, value ? _variant_t::Bstr(value) : _variant_t::Null());
}

int CADOCommand::SetParameterValue(const wchar_t* name, COleDateTime value) {
    if (value.m_status == COleDateTime::invalid) {
        Record(kBadArguments, ZE_INVALIDARG);
        return 0;
    }
    return SetParameterValue(name, DateVariant(value));
}

int CADOCommand::GetParameterValue(int index, _variant_t& value) {
    if (index < 0 || index >= static_cast<int>(m_parameters.size())) {
        Record(kNoItem, ZE_INVALIDARG);
        return 0;
    }
    try {
        value = m_parameters[static_cast<std::size_t>(index)]->value;
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADOCommand::GetParameterValue(const wchar_t* name, _variant_t& value) {
    long index = FindParameter(name);
    return index < 0 ? 0 : GetParameterValue(static_cast<int>(index), value);
}

long CADOCommand::GetParameterCount() { return static_cast<long>(m_parameters.size()); }

_ParameterPtr CADOCommand::GetParameter(int index) {
    if (index < 0 || index >= static_cast<int>(m_parameters.size())) {
        Record(kNoItem, ZE_INVALIDARG);
        return nullptr;
    }
    return m_parameters[static_cast<std::size_t>(index)];
}

_ParameterPtr CADOCommand::GetParameter(const wchar_t* name) {
    long index = FindParameter(name);
    return index < 0 ? nullptr : m_parameters[static_cast<std::size_t>(index)];
}

// ---- CADORecordSet::Execute(CADOCommand*) ----

int CADORecordSet::Execute(CADOCommand* command, int* affected) {
    Close();
    if (!command) {
        Record(L"", ZE_POINTER);
        return 0;
    }
    if (command->m_pConnection) m_pConnection = command->m_pConnection;
    try {
        auto rows = std::make_shared<RowSet>();
        std::wstring statement;
        command->m_nRecordsAffected = 0;
        if (!command->Run(rows.get(), this, &statement)) {
            Record(command->m_strLastError, command->m_dwLastError);
            return 0;
        }
        Adopt(std::move(rows));
        // Requery runs the statement again; one with parameter markers needs its command.
        if (command->m_parameters.empty()) m_pRecordset->source = statement;
        if (affected) *affected = static_cast<int>(m_pRecordset->rows->affected);
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

}  // namespace zentra
