#include "rowset.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "zentra/codepage.h"
#include "zentra/dataaccess.h"
#include "zentra/text.h"
#include "zentra/values.h"

namespace zentra {

namespace {

constexpr std::size_t kBatchBytes = 1u << 20;     // row storage grows in blocks of 1 MiB
constexpr SQLULEN kLongThreshold = 4000;          // larger text/binary columns are read piecewise
constexpr std::size_t kBlockBudget = 256u << 10;  // bytes of bound buffers per fetched block
constexpr std::size_t kMaxBlockRows = 1024;
constexpr long kUnlimited = 2147483647;

std::int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::uint64_t ReadUnsigned(const std::uint8_t* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    return v;
}

std::uint32_t ReadUInt(const std::uint8_t* p, std::size_t n) { return static_cast<std::uint32_t>(ReadUnsigned(p, n)); }

// The integer of `n` little-endian bytes (1 to 8), its sign from the top bit of the last.
std::int64_t ReadSigned(const std::uint8_t* p, std::size_t n) {
    std::uint64_t u = ReadUnsigned(p, n);
    if (n < 8 && (p[n - 1] & 0x80)) u |= ~std::uint64_t{0} << (8 * n);
    return static_cast<std::int64_t>(u);
}

// A date of the years an OLE date holds (0100 to 9999).
bool IsCalendarDate(int year, unsigned month, unsigned day) {
    static constexpr unsigned char kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1u : 0u);
}

bool IsClock(unsigned hour, unsigned minute, unsigned second) { return hour < 24 && minute < 60 && second < 60; }

// The variant of an integer of a column: the column's own width, or a wider one when the value
// does not fit it (SQLite describes expressions by their first value's type, and its columns
// hold any integer), so that no bit is lost.
_variant_t SignedVariant(int adoType, std::int64_t v) {
    if (adoType == adTinyInt && v >= -128 && v <= 127) return _variant_t::I1(static_cast<std::int8_t>(v));
    if ((adoType == adTinyInt || adoType == adSmallInt) && v >= -32768 && v <= 32767)
        return _variant_t::I2(static_cast<std::int16_t>(v));
    if (adoType != adBigInt && v >= std::numeric_limits<std::int32_t>::min() &&
        v <= std::numeric_limits<std::int32_t>::max())
        return _variant_t::I4(static_cast<std::int32_t>(v));
    return _variant_t::I8(v);
}

_variant_t UnsignedVariant(int adoType, std::uint64_t u) {
    if (adoType == adUnsignedTinyInt && u <= 0xFF) return _variant_t::UI1(static_cast<std::uint8_t>(u));
    if ((adoType == adUnsignedTinyInt || adoType == adUnsignedSmallInt) && u <= 0xFFFF)
        return _variant_t::UI2(static_cast<std::uint16_t>(u));
    if (adoType != adUnsignedBigInt && u <= 0xFFFFFFFFu) return _variant_t::UI4(static_cast<std::uint32_t>(u));
    return _variant_t::UI8(u);
}

}  // namespace

DATE MakeOleDate(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    // 1899-12-30 is day 0; days since 1970-01-01 of it: -25569.
    double days =
        static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + 25569);
    double fraction = ((hour * 3600.0 + minute * 60.0 + second) * 1000.0 + millisecond) / 86400000.0;
    // OLE dates before day 0 carry the time of day as a positive fraction below the day.
    return days < 0 ? days - fraction : days + fraction;
}

// ---- column descriptions ----

namespace {

// The kind, type, size and precision of a yes/no or numeric column; false for any other type.
bool DeriveNumber(ColumnInfo& c) {
    switch (c.sqlType) {
    case SQL_BIT:
        c.kind = ValueKind::Bool;
        c.adoType = adBoolean;
        c.definedSize = 2;
        break;
    case SQL_TINYINT:
        c.kind = c.isUnsigned ? ValueKind::UInt : ValueKind::Int;
        c.adoType = c.isUnsigned ? adUnsignedTinyInt : adTinyInt;
        c.definedSize = 1;
        c.precision = 3;
        break;
    case SQL_SMALLINT:
        c.kind = c.isUnsigned ? ValueKind::UInt : ValueKind::Int;
        c.adoType = c.isUnsigned ? adUnsignedSmallInt : adSmallInt;
        c.definedSize = 2;
        c.precision = 5;
        break;
    case SQL_INTEGER:
        c.kind = c.isUnsigned ? ValueKind::UInt : ValueKind::Int;
        c.adoType = c.isUnsigned ? adUnsignedInt : adInteger;
        c.definedSize = 4;
        c.precision = 10;
        break;
    case SQL_BIGINT:
        c.kind = c.isUnsigned ? ValueKind::UInt : ValueKind::Int;
        c.adoType = c.isUnsigned ? adUnsignedBigInt : adBigInt;
        c.definedSize = 8;
        c.precision = c.isUnsigned ? 20 : 19;
        break;
    case SQL_REAL:
        c.kind = ValueKind::Float;
        c.adoType = adSingle;
        c.definedSize = 4;
        c.precision = 7;
        break;
    case SQL_FLOAT:
    case SQL_DOUBLE:
        c.kind = ValueKind::Double;
        c.adoType = adDouble;
        c.definedSize = 8;
        c.precision = 15;
        break;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        c.kind = ValueKind::Decimal;
        c.adoType = adNumeric;
        c.definedSize = 19;
        c.precision = static_cast<int>(std::min<SQLULEN>(c.columnSize, 255));
        c.scale = std::clamp<int>(c.digits, 0, 255);
        break;
    default: return false;
    }
    return true;
}

// The kind, type, size and precision of a date, time or timestamp column; false for any other type.
bool DeriveTemporal(ColumnInfo& c) {
    switch (c.sqlType) {
    case SQL_TYPE_DATE:
    case SQL_DATE:
        c.kind = ValueKind::Date;
        c.adoType = adDBDate;
        c.definedSize = 6;
        c.precision = 10;
        break;
    case SQL_TYPE_TIME:
    case SQL_TIME:
        c.kind = ValueKind::Time;
        c.adoType = adDBTime;
        c.definedSize = 6;
        c.precision = 8;
        break;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        c.kind = ValueKind::Timestamp;
        c.adoType = adDBTimeStamp;
        c.definedSize = 16;
        c.precision = c.digits > 0 ? 20 + c.digits : 19;
        c.scale = std::clamp<int>(c.digits, 0, 255);
        break;
    default: return false;
    }
    return true;
}

// The kind, type and size of a text or binary column, of `size` units; any type left over
// comes as text. `fixed` is cleared for a column of varying length.
void DeriveTextOrBytes(ColumnInfo& c, long size, bool& fixed) {
    switch (c.sqlType) {
    case SQL_GUID:
        c.kind = ValueKind::Text;
        c.adoType = adGUID;
        c.definedSize = 16;
        break;
    case SQL_CHAR:
    case SQL_WCHAR:
        c.kind = ValueKind::Text;
        c.adoType = c.sqlType == SQL_CHAR ? adChar : adWChar;
        c.definedSize = size;
        break;
    case SQL_VARCHAR:
    case SQL_WVARCHAR:
        fixed = false;
        c.kind = ValueKind::Text;
        c.adoType = c.sqlType == SQL_VARCHAR ? adVarChar : adVarWChar;
        c.definedSize = size;
        break;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
        fixed = false;
        c.isLong = true;
        c.kind = ValueKind::Text;
        c.adoType = c.sqlType == SQL_LONGVARCHAR ? adLongVarChar : adLongVarWChar;
        c.definedSize = size > 0 ? size : kUnlimited;
        break;
    case SQL_BINARY:
        c.kind = ValueKind::Bytes;
        c.adoType = adBinary;
        c.definedSize = size;
        break;
    case SQL_VARBINARY:
        fixed = false;
        c.kind = ValueKind::Bytes;
        c.adoType = adVarBinary;
        c.definedSize = size;
        break;
    case SQL_LONGVARBINARY:
        fixed = false;
        c.isLong = true;
        c.kind = ValueKind::Bytes;
        c.adoType = adLongVarBinary;
        c.definedSize = size > 0 ? size : kUnlimited;
        break;
    default:
        // Types without an ADO counterpart (intervals, driver-specific types) come as text.
        fixed = false;
        c.kind = ValueKind::Text;
        c.adoType = adVarWChar;
        c.definedSize = size > 0 ? size : kUnlimited;
        c.isLong = true;
        break;
    }
}

}  // namespace

void DeriveColumn(ColumnInfo& c) {
    const long size = c.columnSize > static_cast<SQLULEN>(kUnlimited) ? kUnlimited : static_cast<long>(c.columnSize);
    bool fixed = true;
    c.precision = 255;
    c.scale = 255;
    c.isLong = false;
    if (!DeriveNumber(c) && !DeriveTemporal(c)) DeriveTextOrBytes(c, size, fixed);
    if ((c.kind == ValueKind::Text || c.kind == ValueKind::Bytes) && c.adoType != adGUID &&
        (c.columnSize == 0 || c.columnSize > kLongThreshold))
        c.isLong = true;
    c.attributes = 0;
    if (c.nullable) c.attributes |= adFldIsNullable | adFldMayBeNull;
    if (fixed) c.attributes |= adFldFixed;
    if (c.isLong) c.attributes |= adFldLong;
}

SQLSMALLINT SqlTypeOfAdo(int adoType, bool& isUnsigned) {
    isUnsigned = adoType == adUnsignedTinyInt || adoType == adUnsignedSmallInt || adoType == adUnsignedInt ||
                 adoType == adUnsignedBigInt;
    switch (adoType) {
    case adTinyInt:
    case adUnsignedTinyInt: return SQL_TINYINT;
    case adSmallInt:
    case adUnsignedSmallInt: return SQL_SMALLINT;
    case adInteger:
    case adUnsignedInt: return SQL_INTEGER;
    case adBigInt:
    case adUnsignedBigInt: return SQL_BIGINT;
    case adSingle: return SQL_REAL;
    case adDouble: return SQL_DOUBLE;
    case adCurrency:
    case adNumeric:
    case adDecimal:
    case adVarNumeric: return SQL_NUMERIC;
    case adBoolean: return SQL_BIT;
    case adDate:
    case adDBTimeStamp: return SQL_TYPE_TIMESTAMP;
    case adDBDate: return SQL_TYPE_DATE;
    case adDBTime: return SQL_TYPE_TIME;
    case adGUID: return SQL_GUID;
    case adChar: return SQL_CHAR;
    case adWChar: return SQL_WCHAR;
    case adVarChar: return SQL_VARCHAR;
    case adLongVarChar: return SQL_LONGVARCHAR;
    case adLongVarWChar: return SQL_WLONGVARCHAR;
    case adBinary: return SQL_BINARY;
    case adVarBinary: return SQL_VARBINARY;
    case adLongVarBinary: return SQL_LONGVARBINARY;
    default: return SQL_WVARCHAR;  // adVarWChar, adBSTR and the rest: text
    }
}

ColumnInfo SchemaColumn(const wchar_t* name, int adoType) {
    ColumnInfo c;
    c.name = name;
    c.nullable = true;
    c.sqlType = SqlTypeOfAdo(adoType, c.isUnsigned);
    if (c.sqlType == SQL_WVARCHAR) c.columnSize = 128;
    DeriveColumn(c);
    return c;
}

// ---- storage ----

void RowSet::Header(std::size_t length) {
    const bool tagged = pendingTag_ >= 0;
    std::uint64_t v = static_cast<std::uint64_t>(length) + 1 + (tagged ? 1 : 0);
    while (v >= 0x80) {
        pending_.push_back(static_cast<std::uint8_t>(v | 0x80));
        v >>= 7;
    }
    pending_.push_back(static_cast<std::uint8_t>(v));
    if (tagged) pending_.push_back(static_cast<std::uint8_t>(pendingTag_));
    pendingTag_ = -1;
}

void RowSet::AddNull() {
    pendingTag_ = -1;
    pending_.push_back(0);
}

void RowSet::AddInt(std::int64_t value) {
    std::size_t n = 1;
    while (n < 8) {
        std::int64_t lo = -(std::int64_t{1} << (8 * n - 1));
        std::int64_t hi = (std::int64_t{1} << (8 * n - 1)) - 1;
        if (value >= lo && value <= hi) break;
        ++n;
    }
    Header(n);
    std::uint64_t u = static_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < n; ++i) pending_.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
}

void RowSet::AddUInt(std::uint64_t value) {
    std::size_t n = 1;
    while (n < 8 && (value >> (8 * n)) != 0) ++n;
    Header(n);
    for (std::size_t i = 0; i < n; ++i) pending_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void RowSet::AddDouble(double value) {
    Header(sizeof value);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    pending_.insert(pending_.end(), p, p + sizeof value);
}

void RowSet::AddFloat(float value) {
    Header(sizeof value);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    pending_.insert(pending_.end(), p, p + sizeof value);
}

void RowSet::AddBool(bool value) {
    Header(1);
    pending_.push_back(value ? 1 : 0);
}

void RowSet::AddAscii(std::string_view text) {
    Header(text.size());
    pending_.insert(pending_.end(), text.begin(), text.end());
}

void RowSet::AddText(std::wstring_view text) { AddAscii(WideToUtf8(text)); }

std::wstring DecodeNarrow(std::string_view bytes) {
    return IsValidUtf8(bytes) ? Utf8ToWide(bytes) : MultiByteToWide(bytes, CP_ACP);
}

// Text a driver gave as bytes, in UTF-8 (the stored form): as it is when valid UTF-8, else from
// the locale's character set.
static void NarrowToUtf8(std::string_view bytes, std::string& utf8) {
    if (IsValidUtf8(bytes)) utf8.assign(bytes);
    else utf8 = WideToUtf8(MultiByteToWide(bytes, CP_ACP));
}

// UTF-16 units a driver gave, in UTF-8.
static std::string WideToStored(const SQLWCHAR* text, std::size_t units) { return WideToUtf8(FromSqlW(text, units)); }

void RowSet::AddBytes(const void* data, std::size_t length) {
    Header(length);
    const auto* p = static_cast<const std::uint8_t*>(data);
    pending_.insert(pending_.end(), p, p + length);
}

void RowSet::AddDate(const SQL_DATE_STRUCT& d) {
    Header(4);
    std::uint16_t y = static_cast<std::uint16_t>(d.year);
    pending_.insert(pending_.end(), {static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(y >> 8),
                                     static_cast<std::uint8_t>(d.month), static_cast<std::uint8_t>(d.day)});
}

void RowSet::AddTime(const SQL_TIME_STRUCT& t) {
    Header(3);
    pending_.insert(pending_.end(), {static_cast<std::uint8_t>(t.hour), static_cast<std::uint8_t>(t.minute),
                                     static_cast<std::uint8_t>(t.second)});
}

void RowSet::AddTimestamp(const SQL_TIMESTAMP_STRUCT& s) {
    // Seven bytes of fields, and the four of the fraction when there is one.
    const std::uint32_t f = s.fraction;
    Header(f != 0 ? 11 : 7);
    std::uint16_t y = static_cast<std::uint16_t>(s.year);
    pending_.insert(pending_.end(), {static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(y >> 8),
                                     static_cast<std::uint8_t>(s.month), static_cast<std::uint8_t>(s.day),
                                     static_cast<std::uint8_t>(s.hour), static_cast<std::uint8_t>(s.minute),
                                     static_cast<std::uint8_t>(s.second)});
    if (f != 0)
        pending_.insert(pending_.end(), {static_cast<std::uint8_t>(f), static_cast<std::uint8_t>(f >> 8),
                                         static_cast<std::uint8_t>(f >> 16), static_cast<std::uint8_t>(f >> 24)});
}

void RowSet::AddVariant(const _variant_t& v, ValueKind kind) {
    if (v.vt() == VT_EMPTY || v.vt() == VT_NULL) {
        AddNull();
        return;
    }
    switch (kind) {
    case ValueKind::Int: AddInt(v.intVal()); break;
    case ValueKind::UInt: AddUInt(v.uintVal()); break;
    case ValueKind::Bool: AddBool(v.vt() == VT_BOOL ? v.boolVal() : v.intVal() != 0); break;
    default: {
        std::wstring text;
        if (v.vt() == VT_BSTR) text = v.bstrVal();
        else VariantToText(v, text);
        AddText(text);
        break;
    }
    }
}

void RowSet::EndRow() {
    if (batches_.empty() || batches_.back().capacity() - batches_.back().size() < pending_.size()) {
        batches_.emplace_back();
        batches_.back().reserve(std::max(kBatchBytes, pending_.size()));
    }
    auto& batch = batches_.back();
    if (rowCount_ % kRowsPerMark == 0)
        marks_.push_back(
            Place{static_cast<std::uint32_t>(batches_.size() - 1), static_cast<std::uint32_t>(batch.size())});
    batch.insert(batch.end(), pending_.begin(), pending_.end());
    pending_.clear();
    ++rowCount_;
}

void RowSet::Finish() {
    // The last batch keeps its room: copying it to its size would add to the peak, and its unused pages
    // are never touched.
    pending_.shrink_to_fit();
}

std::size_t RowSet::StorageSize() const {
    std::size_t total = marks_.capacity() * sizeof(Place);
    for (const auto& b : batches_) total += b.capacity();
    for (const auto& r : replaced_) total += r.second.capacity();
    return total;
}

namespace {

// The length-and-null header of a stored cell at `p`, read past: 0 for NULL, else its byte count
// plus one.
std::uint64_t ReadHeader(const std::uint8_t*& p) {
    std::uint64_t header = 0;
    for (int shift = 0;; shift += 7) {
        const std::uint8_t b = *p++;
        header |= static_cast<std::uint64_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) return header;
    }
}

}  // namespace

RowSet::Place RowSet::PlaceAt(std::uint32_t batch, const std::uint8_t* end) const {
    const auto offset = static_cast<std::size_t>(end - batches_[batch].data());
    // A row that did not fit in its batch's room starts the next one.
    if (offset == batches_[batch].size() && batch + 1 < batches_.size()) return Place{batch + 1, 0};
    return Place{batch, static_cast<std::uint32_t>(offset)};
}

void RowSet::Load(std::size_t row) {
    if (row == loaded_) return;
    const bool next = loaded_ != static_cast<std::size_t>(-1) && row == loaded_ + 1 && loadedInBatches_;
    cells_.assign(columns.size(), Cell{});
    loaded_ = row;
    loadedInBatches_ = false;
    if (row >= rowCount_) return;
    const std::uint8_t* p = nullptr;
    Place place = next ? nextPlace_ : Place{};
    if (const auto moved = replaced_.find(row); moved != replaced_.end()) {
        p = moved->second.data();
    } else {
        // From the end of the previous row when reading on, else from the row's mark past the
        // rows between.
        if (!next) {
            place = marks_[row / kRowsPerMark];
            for (std::size_t skip = row % kRowsPerMark; skip > 0; --skip) {
                const std::uint8_t* q = batches_[place.batch].data() + place.offset;
                for (std::size_t c = 0; c < columns.size(); ++c) {
                    const std::uint64_t header = ReadHeader(q);
                    if (header != 0) q += header - 1;
                }
                place = PlaceAt(place.batch, q);
            }
        }
        loadedInBatches_ = true;
        p = batches_[place.batch].data() + place.offset;
    }
    for (std::size_t c = 0; c < cells_.size(); ++c) {
        Cell& cell = cells_[c];
        const std::uint64_t header = ReadHeader(p);
        if (header == 0) continue;
        cell.null = false;
        cell.length = static_cast<std::uint32_t>(header - 1);
        cell.data = p;
        p += cell.length;
        if (columns[c].valueTyped && cell.length > 0) {
            cell.tag = cell.data[0];
            ++cell.data;
            --cell.length;
        }
    }
    if (loadedInBatches_) nextPlace_ = PlaceAt(place.batch, p);
}

bool RowSet::IsNull(std::size_t column) const { return column >= cells_.size() || cells_[column].null; }

SQL_TIMESTAMP_STRUCT RowSet::TimestampAt(const Cell& cell) {
    // Seven bytes of fields, then the four of the fraction unless it is zero.
    const std::uint8_t* p = cell.data;
    return SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(ReadUInt(p, 2)),
                                p[2],
                                p[3],
                                p[4],
                                p[5],
                                p[6],
                                cell.length < 11 ? 0u : static_cast<SQLUINTEGER>(ReadUInt(p + 7, 4))};
}

_variant_t RowSet::Value(std::size_t column) const {
    if (IsNull(column)) return _variant_t::Null();
    const Cell& cell = cells_[column];
    const ColumnInfo& c = columns[column];
    const std::uint8_t* p = cell.data;
    switch (cell.tag) {
    case AsText: return _variant_t::Bstr(Utf8ToWide(std::string_view(reinterpret_cast<const char*>(p), cell.length)));
    case AsDouble: {
        double d;
        std::memcpy(&d, p, sizeof d);
        return _variant_t::R8(d);
    }
    case AsInteger: {
        std::int64_t v;
        std::memcpy(&v, p, sizeof v);
        return SignedVariant(adInteger, v);
    }
    default: break;
    }
    switch (c.kind) {
    case ValueKind::Int: return SignedVariant(c.adoType, ReadSigned(p, cell.length));
    case ValueKind::UInt: return UnsignedVariant(c.adoType, ReadUnsigned(p, cell.length));
    case ValueKind::Float: {
        float f;
        std::memcpy(&f, p, sizeof f);
        return _variant_t::R4(f);
    }
    case ValueKind::Double: {
        double d;
        std::memcpy(&d, p, sizeof d);
        return _variant_t::R8(d);
    }
    case ValueKind::Bool: return _variant_t::Bool(p[0] != 0);
    case ValueKind::Decimal: {
        std::wstring text = AsciiToWide(std::string_view(reinterpret_cast<const char*>(p), cell.length));
        DECIMAL dec;
        if (DecimalFromText(text, dec)) return _variant_t::Decimal(dec);
        return _variant_t::Bstr(text);  // beyond 96 bits (or not a number): exact text
    }
    case ValueKind::Text:
        return _variant_t::Bstr(Utf8ToWide(std::string_view(reinterpret_cast<const char*>(p), cell.length)));
    case ValueKind::Bytes: return _variant_t::Bytes(p, cell.length);
    case ValueKind::Date:
        return _variant_t::Date(MakeOleDate(static_cast<std::int16_t>(ReadUInt(p, 2)), p[2], p[3], 0, 0, 0, 0));
    case ValueKind::Time: return _variant_t::Date(MakeOleDate(1899, 12, 30, p[0], p[1], p[2], 0));
    case ValueKind::Timestamp: {
        const SQL_TIMESTAMP_STRUCT ts = TimestampAt(cell);
        return _variant_t::Date(MakeOleDate(ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second,
                                            static_cast<int>(ts.fraction / 1000000u)));
    }
    }
    return _variant_t::Null();
}

namespace {

// Whether `text` is a decimal number written as DecimalToText writes the value DecimalFromText
// reads from it: an optional '-', no leading zeros, at most 28 digits in all. Longer or other
// spellings are left to the conversion.
bool IsDecimalOwnText(std::string_view text) {
    std::size_t i = text.empty() || text[0] != '-' ? 0 : 1;
    const std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    const std::size_t whole = i - start;
    if (whole == 0 || (whole > 1 && text[start] == '0')) return false;
    std::size_t fraction = 0;
    if (i < text.size()) {
        if (text[i] != '.') return false;
        for (++i; i < text.size(); ++i, ++fraction)
            if (text[i] < '0' || text[i] > '9') return false;
        if (fraction == 0) return false;
    }
    return whole + fraction <= 28;
}

}  // namespace

void RowSet::Stored(std::size_t column, StoredField& field) const {
    field.form = StoredField::None;
    if (IsNull(column)) {
        field.form = StoredField::Null;
        return;
    }
    const Cell& cell = cells_[column];
    const ColumnInfo& c = columns[column];
    const std::uint8_t* p = cell.data;
    const std::string_view bytes(reinterpret_cast<const char*>(p), cell.length);
    if (cell.tag == AsText || (cell.tag == AsColumn && c.kind == ValueKind::Text)) {
        field.form = StoredField::Text;
        field.bytes = bytes;
        return;
    }
    if (cell.tag == AsInteger) {
        std::memcpy(&field.integer, p, sizeof field.integer);
        field.form = StoredField::Integer;
        return;
    }
    if (cell.tag != AsColumn) return;
    SYSTEMTIME& t = field.time;
    switch (c.kind) {
    case ValueKind::Int:
        field.integer = ReadSigned(p, cell.length);
        field.form = StoredField::Integer;
        return;
    case ValueKind::UInt:
        field.unsignedInteger = ReadUnsigned(p, cell.length);
        field.form = StoredField::Unsigned;
        return;
    case ValueKind::Decimal:
        if (!IsDecimalOwnText(bytes)) return;
        field.form = StoredField::Decimal;
        field.bytes = ShownDecimalText(bytes);
        return;
    case ValueKind::Date:
        t = SYSTEMTIME{};
        t.wYear = static_cast<std::uint16_t>(ReadUInt(p, 2));
        t.wMonth = p[2];
        t.wDay = p[3];
        if (IsCalendarDate(static_cast<std::int16_t>(t.wYear), t.wMonth, t.wDay)) field.form = StoredField::Date;
        return;
    case ValueKind::Time:
        t = SYSTEMTIME{};
        t.wHour = p[0];
        t.wMinute = p[1];
        t.wSecond = p[2];
        if (IsClock(t.wHour, t.wMinute, t.wSecond)) field.form = StoredField::Time;
        return;
    case ValueKind::Timestamp: {
        const SQL_TIMESTAMP_STRUCT ts = TimestampAt(cell);
        const std::uint32_t milliseconds = ts.fraction / 1000000u;
        if (milliseconds > 999 || !IsCalendarDate(ts.year, ts.month, ts.day) || !IsClock(ts.hour, ts.minute, ts.second))
            return;
        t = SYSTEMTIME{};
        t.wYear = static_cast<std::uint16_t>(ts.year);
        t.wMonth = ts.month;
        t.wDay = ts.day;
        t.wHour = ts.hour;
        t.wMinute = ts.minute;
        t.wSecond = ts.second;
        t.wMilliseconds = static_cast<std::uint16_t>(milliseconds);
        field.form = StoredField::Timestamp;
        return;
    }
    // Kept as floating point or binary, or shown as words: read as a variant.
    case ValueKind::Float:
    case ValueKind::Double:
    case ValueKind::Bool:
    case ValueKind::Text:
    case ValueKind::Bytes: return;
    }
}

bool RowSet::StoredTimestamp(std::size_t column, SQL_TIMESTAMP_STRUCT& out) const {
    if (column >= cells_.size() || columns[column].kind != ValueKind::Timestamp) return false;
    const Cell& cell = cells_[column];
    if (cell.null || (cell.length != 7 && cell.length != 11)) return false;
    out = TimestampAt(cell);
    return true;
}

long RowSet::ActualSize(std::size_t column) const {
    if (IsNull(column)) return 0;
    const Cell& cell = cells_[column];
    const ColumnInfo& c = columns[column];
    if (cell.tag == AsDouble || cell.tag == AsInteger) return 8;
    switch (cell.tag == AsText ? ValueKind::Text : c.kind) {
    case ValueKind::Text: {
        // Characters: every UTF-8 byte that does not continue a sequence starts one.
        long n = 0;
        for (std::uint32_t i = 0; i < cell.length; ++i) n += (cell.data[i] & 0xC0) != 0x80;
        return n;
    }
    case ValueKind::Bytes:
    case ValueKind::Decimal: return static_cast<long>(cell.length);
    default: return c.definedSize;
    }
}

std::wstring RowSet::Text(std::size_t column) const {
    if (IsNull(column)) return std::wstring();
    const Cell& cell = cells_[column];
    if ((columns[column].kind == ValueKind::Text && cell.tag == AsColumn) || cell.tag == AsText)
        return Utf8ToWide(std::string_view(reinterpret_cast<const char*>(cell.data), cell.length));
    if (columns[column].kind == ValueKind::Decimal && cell.tag == AsColumn)
        return AsciiToWide(std::string_view(reinterpret_cast<const char*>(cell.data), cell.length));
    std::wstring text;
    VariantToText(Value(column), text);
    return text;
}

// ---- changing rows ----

namespace {

bool IsIntegerType(VARTYPE t) {
    switch (t) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT: return true;
    default: return false;
    }
}

bool IsUnsignedType(VARTYPE t) { return t == VT_UI1 || t == VT_UI2 || t == VT_UI4 || t == VT_UI8 || t == VT_UINT; }

std::string Narrow(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t ch : text) out.push_back(ch < 0x80 ? static_cast<char>(ch) : '\x7f');
    return out;
}

// A number in plain or exponent notation, whatever the process locale.
bool ParseDouble(std::wstring_view text, double& value) {
    std::string s = Narrow(Trim(std::wstring(text)));
    if (s.empty()) return false;
    const char* first = s.data();
    if (*first == '+') ++first;
    auto [end, ec] = std::from_chars(first, s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size();
}

// A decimal number in plain notation: [sign] digits [. digits] (or . digits).
bool IsPlainNumber(const std::string& s) {
    std::size_t i = 0, digits = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    return digits > 0 && i == s.size();
}

// "YYYY-MM-DD[ HH:MM[:SS[.fff]]]", "HH:MM[:SS[.fff]]" or "M/D/YYYY[ H:MM[:SS][ AM|PM]]".
bool ParseDateText(std::wstring_view input, DATE& date) {
    std::string s = Narrow(Trim(std::wstring(input)));
    int y = 1899, mo = 12, d = 30, h = 0, mi = 0, sec = 0, ms = 0;
    std::size_t pos = 0;
    auto number = [&](int& out, std::size_t maxDigits) {
        std::size_t start = pos;
        out = 0;
        while (pos < s.size() && pos - start < maxDigits && s[pos] >= '0' && s[pos] <= '9')
            out = out * 10 + (s[pos++] - '0');
        return pos > start;
    };
    auto take = [&](char ch) {
        if (pos < s.size() && s[pos] == ch) return ++pos, true;
        return false;
    };
    auto time = [&]() {
        if (!number(h, 2) || !take(':') || !number(mi, 2)) return false;
        if (take(':')) {
            if (!number(sec, 2)) return false;
            if (take('.')) {
                std::size_t start = pos;
                int frac = 0;
                if (!number(frac, 9)) return false;
                std::size_t n = pos - start;
                while (n < 3) frac *= 10, ++n;
                while (n > 3) frac /= 10, --n;
                ms = frac;
            }
        }
        while (pos < s.size() && s[pos] == ' ') ++pos;
        if (pos + 2 <= s.size()) {
            std::string suffix = s.substr(pos, 2);
            for (auto& c : suffix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (suffix == "AM" || suffix == "PM") {
                if (h < 1 || h > 12) return false;
                h = h % 12 + (suffix == "PM" ? 12 : 0);
                pos += 2;
            }
        }
        return true;
    };
    std::size_t colon = s.find(':'), dash = s.find('-', 1), slash = s.find('/');
    if (dash != std::string::npos && (colon == std::string::npos || dash < colon)) {
        if (!number(y, 4) || !take('-') || !number(mo, 2) || !take('-') || !number(d, 2)) return false;
        if (pos < s.size() && (s[pos] == ' ' || s[pos] == 'T')) {
            ++pos;
            if (!time()) return false;
        }
    } else if (slash != std::string::npos) {
        if (!number(mo, 2) || !take('/') || !number(d, 2) || !take('/') || !number(y, 4)) return false;
        if (take(' ') && !time()) return false;
    } else if (!time()) {
        return false;
    }
    if (pos != s.size()) return false;
    SYSTEMTIME st;
    st.wYear = static_cast<std::uint16_t>(y);
    st.wMonth = static_cast<std::uint16_t>(mo);
    st.wDay = static_cast<std::uint16_t>(d);
    st.wHour = static_cast<std::uint16_t>(h);
    st.wMinute = static_cast<std::uint16_t>(mi);
    st.wSecond = static_cast<std::uint16_t>(sec);
    st.wMilliseconds = static_cast<std::uint16_t>(ms);
    if (!IsClock(static_cast<unsigned>(h), static_cast<unsigned>(mi), static_cast<unsigned>(sec))) return false;
    return SystemTimeToVariantTimeWithMilliseconds(st, date) != 0;
}

// The integer a value stands for, as its signed and unsigned forms and its sign: integers and
// booleans as they are, other numbers and text rounded to the nearest whole number.
bool ReadInteger(const _variant_t& in, VARTYPE t, std::int64_t& si, std::uint64_t& ui, bool& negative) {
    if (IsIntegerType(t)) {
        if (IsUnsignedType(t)) ui = in.uintVal();
        else si = in.intVal(), negative = si < 0, ui = static_cast<std::uint64_t>(si);
    } else if (t == VT_BOOL) {
        ui = in.boolVal() ? 1 : 0;
    } else {
        double d = 0;
        if (t == VT_R4 || t == VT_R8 || t == VT_DATE) d = in.dblVal();
        else if (t == VT_CY) d = static_cast<double>(in.cyVal().int64) / 10000.0;
        else if (t == VT_DECIMAL) d = DecimalToDouble(in.decVal());
        else if (t == VT_BSTR) {
            std::string s = Narrow(Trim(in.bstrVal()));
            const char* first = s.data() + (!s.empty() && s[0] == '+');
            std::int64_t whole = 0;
            auto [end, ec] = std::from_chars(first, s.data() + s.size(), whole);
            if (ec == std::errc() && end == s.data() + s.size() && !s.empty()) {
                si = whole, negative = whole < 0, ui = static_cast<std::uint64_t>(whole);
                return true;
            }
            // Beyond the signed range: an unsigned value, kept exact rather than through a double.
            auto [uend, uec] = std::from_chars(first, s.data() + s.size(), ui);
            if (uec == std::errc() && uend == s.data() + s.size() && first != uend) return true;
            ui = 0;
            if (!ParseDouble(in.bstrVal(), d)) return false;
        } else {
            return false;
        }
        d = std::nearbyint(d);
        if (!std::isfinite(d) || d < -9.2233720368547758e18 || d >= 1.8446744073709552e19) return false;
        if (d < 0) si = static_cast<std::int64_t>(d), negative = true, ui = static_cast<std::uint64_t>(si);
        else if (d >= 9.2233720368547758e18) ui = static_cast<std::uint64_t>(d);
        else si = static_cast<std::int64_t>(d), ui = static_cast<std::uint64_t>(si);
    }
    return true;
}

// A value for an integer column, of the column's own width unless the value does not fit it.
bool CoerceInteger(const ColumnInfo& c, const _variant_t& in, VARTYPE t, _variant_t& out, bool fitType) {
    std::int64_t si = 0;
    std::uint64_t ui = 0;
    bool negative = false;
    if (!ReadInteger(in, t, si, ui, negative)) return false;
    if (c.kind == ValueKind::UInt) {
        if (negative) return false;
        // The database checks the range of its own type; the value is kept whole here, as a
        // fetched value wider than its column is.
        out = UnsignedVariant(c.adoType, ui);
        return !fitType || out.vt() == UnsignedVariant(c.adoType, 0).vt();
    }
    if (!negative && ui > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
    const std::int64_t v = negative ? si : static_cast<std::int64_t>(ui);
    out = SignedVariant(c.adoType, v);
    return !fitType || out.vt() == SignedVariant(c.adoType, 0).vt();
}

// A value for a single or double precision column.
bool CoerceFloating(const ColumnInfo& c, const _variant_t& in, VARTYPE t, _variant_t& out) {
    double d = 0;
    if (IsIntegerType(t)) d = IsUnsignedType(t) ? static_cast<double>(in.uintVal()) : static_cast<double>(in.intVal());
    else if (t == VT_R4 || t == VT_R8 || t == VT_DATE) d = in.dblVal();
    else if (t == VT_BOOL) d = in.boolVal() ? 1 : 0;
    else if (t == VT_CY) d = static_cast<double>(in.cyVal().int64) / 10000.0;
    else if (t == VT_DECIMAL) d = DecimalToDouble(in.decVal());
    else if (t != VT_BSTR || !ParseDouble(in.bstrVal(), d)) return false;
    if (c.kind == ValueKind::Float) {
        if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) return false;
        out = _variant_t::R4(static_cast<float>(d));
    } else {
        out = _variant_t::R8(d);
    }
    return true;
}

// A value for a yes/no column.
bool CoerceBool(const _variant_t& in, VARTYPE t, _variant_t& out) {
    if (t == VT_BOOL) out = _variant_t::Bool(in.boolVal());
    else if (IsIntegerType(t)) out = _variant_t::Bool(in.intVal() != 0);
    else if (t == VT_R4 || t == VT_R8) out = _variant_t::Bool(in.dblVal() != 0);
    else if (t == VT_BSTR) {
        std::wstring v = ToLower(Trim(in.bstrVal()));
        if (v == L"1" || v == L"-1" || v == L"true" || v == L"yes") out = _variant_t::Bool(true);
        else if (v == L"0" || v == L"false" || v == L"no") out = _variant_t::Bool(false);
        else return false;
    } else {
        return false;
    }
    return true;
}

// A value for an exact numeric column, kept as its digits.
bool CoerceDecimal(const _variant_t& in, VARTYPE t, _variant_t& out) {
    std::wstring text;
    if (t == VT_DECIMAL) text = DecimalToText(in.decVal());
    else if (IsIntegerType(t)) text = IsUnsignedType(t) ? std::to_wstring(in.uintVal()) : std::to_wstring(in.intVal());
    else if (t == VT_BOOL) text = in.boolVal() ? L"1" : L"0";
    else if (t == VT_CY) text = CurrencyToText(in.cyVal());
    else if (t == VT_R4 || t == VT_R8) {
        const double d = in.dblVal();
        if (!std::isfinite(d)) return false;
        char buffer[400];
        auto [end, ec] = t == VT_R4
                             ? std::to_chars(buffer, buffer + sizeof buffer, in.fltVal(), std::chars_format::fixed)
                             : std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::fixed);
        if (ec != std::errc()) return false;
        text = AsciiToWide(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
    } else if (t == VT_BSTR) {
        text = Trim(in.bstrVal());
        if (!IsPlainNumber(Narrow(text))) return false;
        if (!text.empty() && text[0] == L'+') text.erase(0, 1);
    } else {
        return false;
    }
    DECIMAL dec;
    if (DecimalFromText(text, dec)) out = _variant_t::Decimal(dec);
    else out = _variant_t::Bstr(text);
    return true;
}

// A value for a text column.
bool CoerceText(const _variant_t& in, VARTYPE t, _variant_t& out) {
    if (t == VT_BSTR) {
        out = in;
        return true;
    }
    std::wstring text;
    if (!VariantToText(in, text)) return false;
    out = _variant_t::Bstr(text);
    return true;
}

// A value for a binary column: only bytes.
bool CoerceBytes(const _variant_t& in, VARTYPE t, _variant_t& out) {
    if ((t == (VT_ARRAY | VT_UI1) || t == (VT_ARRAY | VT_I1)) && in.parray()) {
        out = _variant_t::Bytes(in.parray()->bytes.data(), in.parray()->bytes.size());
        return true;
    }
    return false;
}

// A value for a date, time or timestamp column, cut to what the column holds.
bool CoerceTemporal(const ColumnInfo& c, const _variant_t& in, VARTYPE t, _variant_t& out) {
    DATE d = 0;
    if (t == VT_DATE || t == VT_R8 || t == VT_R4) d = in.dblVal();
    else if (t != VT_BSTR || !ParseDateText(in.bstrVal(), d)) return false;
    SYSTEMTIME st;
    if (!VariantToSystemTimeWithMilliseconds(d, st)) return false;
    if (c.kind == ValueKind::Date) d = MakeOleDate(st.wYear, st.wMonth, st.wDay, 0, 0, 0, 0);
    else if (c.kind == ValueKind::Time) d = MakeOleDate(1899, 12, 30, st.wHour, st.wMinute, st.wSecond, 0);
    else d = MakeOleDate(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    out = _variant_t::Date(d);
    return true;
}

}  // namespace

bool RowSet::Coerce(std::size_t column, const _variant_t& input, _variant_t& out, std::wstring& error,
                    bool fitType) const {
    const ColumnInfo& c = columns.at(column);
    const _variant_t in = (input.vt() & VT_BYREF) ? input.ByValue() : input;
    const VARTYPE t = in.vt();
    if (t == VT_EMPTY || t == VT_NULL) {
        out = _variant_t::Null();
        return true;
    }
    bool ok = false;
    switch (c.kind) {
    case ValueKind::Int:
    case ValueKind::UInt: ok = CoerceInteger(c, in, t, out, fitType); break;
    case ValueKind::Float:
    case ValueKind::Double: ok = CoerceFloating(c, in, t, out); break;
    case ValueKind::Bool: ok = CoerceBool(in, t, out); break;
    case ValueKind::Decimal: ok = CoerceDecimal(in, t, out); break;
    case ValueKind::Text: ok = CoerceText(in, t, out); break;
    case ValueKind::Bytes: ok = CoerceBytes(in, t, out); break;
    case ValueKind::Date:
    case ValueKind::Time:
    case ValueKind::Timestamp: ok = CoerceTemporal(c, in, t, out); break;
    }
    if (ok) return true;
    std::wstring text;
    VariantToText(in, text);
    error = L"The value \"" + text + L"\" cannot be stored in the field \"" + c.name + L"\".";
    return false;
}

void RowSet::AddStored(const _variant_t& v, const ColumnInfo& c) {
    if (v.vt() == VT_EMPTY || v.vt() == VT_NULL) return AddNull();
    if (c.valueTyped) Tag(AsColumn);
    switch (c.kind) {
    case ValueKind::Int: return AddInt(v.intVal());
    case ValueKind::UInt: return AddUInt(v.uintVal());
    case ValueKind::Float: return AddFloat(v.fltVal());
    case ValueKind::Double: return AddDouble(v.dblVal());
    case ValueKind::Bool: return AddBool(v.boolVal());
    case ValueKind::Decimal: return AddAscii(Narrow(v.vt() == VT_DECIMAL ? DecimalToText(v.decVal()) : v.bstrVal()));
    case ValueKind::Text: return AddText(v.bstrVal());
    case ValueKind::Bytes: {
        const SAFEARRAY* a = v.parray();
        return a ? AddBytes(a->bytes.data(), a->bytes.size()) : AddBytes(nullptr, 0);
    }
    case ValueKind::Date:
    case ValueKind::Time:
    case ValueKind::Timestamp: {
        SYSTEMTIME st;
        VariantToSystemTimeWithMilliseconds(v.dblVal(), st);
        if (c.kind == ValueKind::Date) {
            SQL_DATE_STRUCT d{static_cast<SQLSMALLINT>(st.wYear), st.wMonth, st.wDay};
            return AddDate(d);
        }
        if (c.kind == ValueKind::Time) {
            SQL_TIME_STRUCT tm{st.wHour, st.wMinute, st.wSecond};
            return AddTime(tm);
        }
        const SQL_TIMESTAMP_STRUCT ts = TimestampOf(st);
        return AddTimestamp(ts);
    }
    }
}

std::vector<_variant_t> RowSet::RowValues(std::size_t row) {
    Load(row);
    std::vector<_variant_t> values;
    values.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) values.push_back(Value(i));
    return values;
}

std::size_t RowSet::AppendRow(const std::vector<_variant_t>& values) {
    pending_.clear();
    for (std::size_t i = 0; i < columns.size(); ++i)
        AddStored(i < values.size() ? values[i] : _variant_t::Null(), columns[i]);
    EndRow();
    if (!status_.empty()) status_.resize(rowCount_, Unchanged);
    return rowCount_ - 1;
}

void RowSet::ReplaceRow(std::size_t row, const std::vector<_variant_t>& values) {
    if (row >= rowCount_) return;
    pending_.clear();
    for (std::size_t i = 0; i < columns.size(); ++i)
        AddStored(i < values.size() ? values[i] : _variant_t::Null(), columns[i]);
    // The row's old bytes stay in their batch, where the rows after it are found by reading past it.
    replaced_[row] = std::move(pending_);
    pending_.clear();
    if (loaded_ == row) loaded_ = static_cast<std::size_t>(-1);
}

void RowSet::SetStatus(std::size_t row, std::uint8_t status) {
    if (status_.size() < rowCount_) status_.resize(rowCount_, Unchanged);
    if (row >= status_.size()) return;
    deletedCount_ -= (status_[row] & Deleted) != 0;
    deletedCount_ += (status & Deleted) != 0;
    status_[row] = status;
}

// ---- fetching ----

namespace {

// Buffers for piecewise reads, allocated once per result.
// The buffers start small and grow to the longest value read: some drivers (SQLite's) fill the
// whole buffer given to SQLGetData, so a large one costs its size on every value.
struct Scratch {
    std::vector<SQLWCHAR> wide = std::vector<SQLWCHAR>(256);
    std::vector<char> narrow = std::vector<char>(256);
    SqlWString wideAll;
    std::string narrowAll;
    std::string text;  // a value's text in UTF-8, its storage kept from value to value
};

// The plain number of a money text as the server writes it ("$1,234.50", "-$0.99", "(12.00)",
// "1.234,50 €"): the separator followed by the last one or two digits is the decimal point,
// other separators group digits. Text with no digit stays as it is.
std::string MoneyDigits(const std::string& text) {
    std::string digits;
    std::size_t decimal = std::string::npos;
    bool negative = text.find('-') != std::string::npos || text.find('(') != std::string::npos;
    std::size_t lastDigit = text.find_last_of("0123456789");
    if (lastDigit == std::string::npos) return text;
    std::size_t separator = text.find_last_of(".,", lastDigit);
    if (separator != std::string::npos && lastDigit - separator <= 2 &&
        text.find_first_not_of("0123456789", separator + 1) > lastDigit)
        decimal = separator;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') digits += text[i];
        else if (i == decimal) digits += '.';
    }
    return (negative ? "-" : "") + digits;
}

// A GUID in the lower-case form that RFC 4122 gives for output (some drivers upper-case it).
std::string LowerGuid(std::string text) {
    for (char& ch : text)
        if (ch >= 'A' && ch <= 'F') ch = static_cast<char>(ch - 'A' + 'a');
    return text;
}

// Reads a value whole with SQLGetData as C type `cType` into `all`, in units of `Unit` (`zero` of
// them kept for a terminating zero); `null` tells a NULL. The first call tells the whole length
// (most drivers do), so the rest comes in one more call: drivers that convert the whole value on
// every call would otherwise take time quadratic in its length.
constexpr std::size_t kLargestReadUnits = 65536;

template <typename Unit, typename Text>
bool ReadWhole(SQLHSTMT stmt, SQLUSMALLINT index, SQLSMALLINT cType, std::size_t zero, std::vector<Unit>& buffer,
               Text& all, bool& null, OdbcError& error) {
    null = false;
    all.clear();
    for (;;) {
        const std::size_t room = buffer.size() - zero;
        SQLLEN ind = 0;
        SQLRETURN rc = Traced("SQLGetData", SQLGetData(stmt, index, cType, buffer.data(),
                                                       static_cast<SQLLEN>(buffer.size() * sizeof(Unit)), &ind));
        if (rc == SQL_NO_DATA) return true;
        if (!Succeeded(rc)) return Check(rc, SQL_HANDLE_STMT, stmt, error);
        if (ind == SQL_NULL_DATA) {
            null = true;
            return true;
        }
        const std::size_t units = ind == SQL_NO_TOTAL ? 0 : static_cast<std::size_t>(ind) / sizeof(Unit);
        if (ind != SQL_NO_TOTAL && units <= room) {
            all.append(buffer.data(), units);
            return true;
        }
        all.append(buffer.data(), room);
        if (ind != SQL_NO_TOTAL) buffer.resize(std::max(buffer.size(), units - room + zero));
        else if (buffer.size() < kLargestReadUnits) buffer.resize(buffer.size() * 2);  // length unknown
    }
}

// Text is fetched as UTF-16 (else as bytes).
bool WideFetch(const DriverCaps& caps) { return caps.wideText && !caps.utf8Text; }

// Reads a numeric (as ASCII) or a binary value whole.
bool GetNarrowValue(SQLHSTMT stmt, const ColumnInfo& c, SQLUSMALLINT index, RowSet& rows, Scratch& scratch,
                    OdbcError& error) {
    const bool text = c.kind != ValueKind::Bytes;
    bool null = false;
    std::string& all = scratch.narrowAll;
    if (!ReadWhole(stmt, index, text ? SQL_C_CHAR : SQL_C_BINARY, text ? 1 : 0, scratch.narrow, all, null, error))
        return false;
    if (null) rows.AddNull();
    else if (c.kind == ValueKind::Decimal) rows.AddAscii(c.money ? MoneyDigits(all) : all);
    else rows.AddBytes(all.data(), all.size());
    return true;
}

// Reads the value of column `index` whole as text, in UTF-8; `null` tells a NULL. A driver
// without wide entry points gives its text in its own bytes, without a conversion to UTF-16.
bool ReadText(SQLHSTMT stmt, const DriverCaps& caps, SQLUSMALLINT index, Scratch& scratch, std::string& utf8,
              bool& null, OdbcError& error) {
    if (WideFetch(caps) && caps.wideCalls) {
        if (!ReadWhole(stmt, index, SQL_C_WCHAR, 1, scratch.wide, scratch.wideAll, null, error)) return false;
        utf8 = WideToStored(scratch.wideAll.data(), scratch.wideAll.size());
        return true;
    }
    if (!ReadWhole(stmt, index, SQL_C_CHAR, 1, scratch.narrow, scratch.narrowAll, null, error)) return false;
    NarrowToUtf8(scratch.narrowAll, utf8);
    return true;
}

// A number written the way a database writes one, parsed whole; false for anything else and for
// values a double cannot hold (a rounded maximum that parses as infinity).
bool ParseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    const char* first = text.data() + (text[0] == '+');
    auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

// "YYYY-MM-DD", "HH:MM:SS[.fraction]" or both with a space or 'T' between, as `kind` holds them,
// for a date that exists; false for anything else.
bool ParseStoredDate(const std::string& text, ValueKind kind, SQL_TIMESTAMP_STRUCT& ts) {
    ts = SQL_TIMESTAMP_STRUCT{};
    std::size_t pos = 0;
    auto digits = [&](std::size_t n, int& out) {
        if (pos + n > text.size()) return false;
        out = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const char ch = text[pos + i];
            if (ch < '0' || ch > '9') return false;
            out = out * 10 + (ch - '0');
        }
        pos += n;
        return true;
    };
    auto take = [&](char ch) { return pos < text.size() && text[pos] == ch ? (++pos, true) : false; };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    if (kind != ValueKind::Time) {
        if (!digits(4, y) || !take('-') || !digits(2, mo) || !take('-') || !digits(2, d)) return false;
        // A variant date holds the years 100 to 9999; an earlier year stays text.
        if (!IsCalendarDate(y, static_cast<unsigned>(mo), static_cast<unsigned>(d))) return false;
        if (pos == text.size()) {
            ts.year = static_cast<SQLSMALLINT>(y), ts.month = static_cast<SQLUSMALLINT>(mo),
            ts.day = static_cast<SQLUSMALLINT>(d);
            return true;
        }
        if (kind == ValueKind::Date || !(take(' ') || take('T'))) return false;
    }
    if (!digits(2, h) || !take(':') || !digits(2, mi) || !take(':') || !digits(2, sec)) return false;
    if (h > 23 || mi > 59 || sec > 59) return false;
    std::uint32_t fraction = 0;
    if (take('.')) {
        std::size_t n = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (n < 9) fraction = fraction * 10 + static_cast<std::uint32_t>(text[pos] - '0');
            ++n, ++pos;
        }
        if (n == 0) return false;
        for (; n < 9; ++n) fraction *= 10;
        // A time keeps no fraction and a date milliseconds only; a value with more stays text
        // rather than lose it.
        if ((kind == ValueKind::Time && fraction != 0) || fraction % 1000000 != 0) return false;
    }
    if (pos != text.size()) return false;
    ts = SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(y),
                              static_cast<SQLUSMALLINT>(mo),
                              static_cast<SQLUSMALLINT>(d),
                              static_cast<SQLUSMALLINT>(h),
                              static_cast<SQLUSMALLINT>(mi),
                              static_cast<SQLUSMALLINT>(sec),
                              fraction};
    return true;
}

// Stores `text`, the database's text for a value of a value-typed column, in the column's form
// when that form holds it exactly, else as a double, an integer or the text.
// An integer or a bit in its column's form; false when the text is neither.
// `databaseTyped`: the database types values (DriverCaps::valueTyped), whose texts are its own.
bool StoreIntegerOrBit(const ColumnInfo& c, const std::string& text, bool integer, std::int64_t whole,
                       bool databaseTyped, RowSet& rows) {
    // A string of several bits ("00101") keeps its digits as text.
    if (c.kind == ValueKind::Bool && text.size() > 1 && text.find_first_not_of("01") == std::string::npos) {
        rows.Tag(RowSet::AsText);
        rows.AddAscii(text);
        return true;
    }
    // MariaDB's driver writes a bit as its byte, 0 or 1 (a NUL ends the text at once). A database
    // that types its values (SQLite) holds an empty text as such.
    if (c.kind == ValueKind::Bool && !databaseTyped &&
        (text.empty() || text == std::string(1, '\0') || text == "\x01")) {
        rows.Tag(RowSet::AsColumn);
        rows.AddBool(text == "\x01");
        return true;
    }
    if (integer && (c.kind == ValueKind::Int || whole == 0 || whole == 1)) {
        rows.Tag(RowSet::AsColumn);
        if (c.kind == ValueKind::Int) rows.AddInt(whole);
        else rows.AddBool(whole != 0);
        return true;
    }
    return false;
}

// A date, time or timestamp in its column's form; false when the text is none.
bool StoreTemporalText(const ColumnInfo& c, const std::string& text, RowSet& rows) {
    SQL_TIMESTAMP_STRUCT ts{};
    if (ParseStoredDate(text, c.kind, ts)) {
        rows.Tag(RowSet::AsColumn);
        if (c.kind == ValueKind::Date) rows.AddDate(SQL_DATE_STRUCT{ts.year, ts.month, ts.day});
        else if (c.kind == ValueKind::Time) rows.AddTime(SQL_TIME_STRUCT{ts.hour, ts.minute, ts.second});
        else rows.AddTimestamp(ts);
        return true;
    }
    return false;
}

// The value in its column's form; false when the text is not in that form.
bool StoreInColumnForm(const ColumnInfo& c, const std::string& text, bool integer, std::int64_t whole,
                       bool databaseTyped, RowSet& rows) {
    double number = 0;
    switch (c.kind) {
    case ValueKind::Text:
        rows.Tag(RowSet::AsColumn);
        rows.AddAscii(text);
        return true;
    case ValueKind::Int:
    case ValueKind::Bool: return StoreIntegerOrBit(c, text, integer, whole, databaseTyped, rows);
    case ValueKind::UInt:
        if (integer && whole >= 0) {
            rows.Tag(RowSet::AsColumn);
            rows.AddUInt(static_cast<std::uint64_t>(whole));
            return true;
        }
        return false;
    case ValueKind::Float:
    case ValueKind::Double:
        // An integer of more than 15 digits is kept as an integer (SQLite writes its integers
        // without a point): a double shows 15 digits.
        if (integer && (whole >= 1000000000000000 || whole <= -1000000000000000)) return false;
        if (ParseNumber(text, number)) {
            rows.Tag(RowSet::AsDouble);  // every digit, also in a single-precision column
            rows.AddDouble(number);
            return true;
        }
        return false;
    case ValueKind::Decimal:
        if (ParseNumber(text, number) && text.find_first_of("eE") == std::string::npos) {
            rows.Tag(RowSet::AsColumn);
            rows.AddAscii(text[0] == '+' ? text.substr(1) : text);
            return true;
        }
        return false;
    case ValueKind::Date:
    case ValueKind::Time:
    case ValueKind::Timestamp: return StoreTemporalText(c, text, rows);
    case ValueKind::Bytes: return false;
    }
    return false;
}

void StoreTyped(const DriverCaps& caps, const ColumnInfo& c, const std::string& text, RowSet& rows) {
    std::int64_t whole = 0;
    const bool integer = !text.empty() && [&] {
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), whole);
        return ec == std::errc() && end == text.data() + text.size();
    }();
    if (StoreInColumnForm(c, text, integer, whole, caps.valueTyped, rows)) return;
    // Not in the column's form: an integer, a number, or the text itself.
    double number = 0;
    if (integer) {
        rows.Tag(RowSet::AsInteger);
        std::uint8_t bytes[8];
        std::memcpy(bytes, &whole, sizeof whole);
        rows.AddBytes(bytes, sizeof bytes);
    } else if (ParseNumber(text, number) && text.find_first_not_of("+-0123456789.eE") == std::string::npos) {
        rows.Tag(RowSet::AsDouble);
        rows.AddDouble(number);
    } else {
        rows.Tag(RowSet::AsText);
        rows.AddAscii(text);
    }
}

bool GetTypedValue(SQLHSTMT stmt, const DriverCaps& caps, const ColumnInfo& c, SQLUSMALLINT index, RowSet& rows,
                   Scratch& scratch, OdbcError& error) {
    std::string& text = scratch.text;
    bool null = false;
    if (!ReadText(stmt, caps, index, scratch, text, null, error)) return false;
    if (null) rows.AddNull();
    else StoreTyped(caps, c, text, rows);
    return true;
}

// Reads the whole value of column `index` (from 1) of the current row with SQLGetData and stores it.
bool GetWholeValue(SQLHSTMT stmt, const DriverCaps& caps, const ColumnInfo& c, SQLUSMALLINT index, RowSet& rows,
                   Scratch& scratch, OdbcError& error) {
    SQLLEN ind = 0;
    SQLRETURN rc;
    auto fail = [&]() { return Check(rc, SQL_HANDLE_STMT, stmt, error); };
    switch (c.kind) {
    case ValueKind::Int:
    case ValueKind::UInt: {
        std::int64_t v = 0;
        rc = Traced("SQLGetData", SQLGetData(stmt, index, c.kind == ValueKind::Int ? SQL_C_SBIGINT : SQL_C_UBIGINT, &v,
                                             sizeof v, &ind));
        if (!Succeeded(rc)) return fail();
        if (ind == SQL_NULL_DATA) rows.AddNull();
        else if (c.kind == ValueKind::Int) rows.AddInt(v);
        else rows.AddUInt(static_cast<std::uint64_t>(v));
        return true;
    }
    case ValueKind::Float: {
        float v = 0;
        rc = Traced("SQLGetData", SQLGetData(stmt, index, SQL_C_FLOAT, &v, sizeof v, &ind));
        if (!Succeeded(rc)) return fail();
        if (ind == SQL_NULL_DATA) rows.AddNull();
        else rows.AddFloat(v);
        return true;
    }
    case ValueKind::Double: {
        double v = 0;
        rc = Traced("SQLGetData", SQLGetData(stmt, index, SQL_C_DOUBLE, &v, sizeof v, &ind));
        if (!Succeeded(rc)) return fail();
        if (ind == SQL_NULL_DATA) rows.AddNull();
        else rows.AddDouble(v);
        return true;
    }
    case ValueKind::Bool: {
        unsigned char v = 0;
        rc = Traced("SQLGetData", SQLGetData(stmt, index, SQL_C_BIT, &v, sizeof v, &ind));
        if (!Succeeded(rc)) return fail();
        if (ind == SQL_NULL_DATA) rows.AddNull();
        else rows.AddBool(v != 0);
        return true;
    }
    case ValueKind::Date: {
        SQL_DATE_STRUCT v{};
        rc = Traced("SQLGetData", SQLGetData(stmt, index, SQL_C_TYPE_DATE, &v, sizeof v, &ind));
        if (!Succeeded(rc)) return fail();
        if (ind == SQL_NULL_DATA) rows.AddNull();
        else rows.AddDate(v);
        return true;
    }
    case ValueKind::Time: {
        SQL_TIME_STRUCT v{};
        rc = Traced("SQLGetData", SQLGetData(stmt, index, SQL_C_TYPE_TIME, &v, sizeof v, &ind));
        if (!Succeeded(rc)) return fail();
        if (ind == SQL_NULL_DATA) rows.AddNull();
        else rows.AddTime(v);
        return true;
    }
    case ValueKind::Timestamp: {
        SQL_TIMESTAMP_STRUCT v{};
        rc = Traced("SQLGetData", SQLGetData(stmt, index, SQL_C_TYPE_TIMESTAMP, &v, sizeof v, &ind));
        if (!Succeeded(rc)) return fail();
        if (ind == SQL_NULL_DATA) rows.AddNull();
        else rows.AddTimestamp(v);
        return true;
    }
    case ValueKind::Text: {
        std::string& text = scratch.text;
        bool null = false;
        if (!ReadText(stmt, caps, index, scratch, text, null, error)) return false;
        if (null) rows.AddNull();
        else rows.AddAscii(c.sqlType == SQL_GUID ? LowerGuid(text) : text);
        return true;
    }
    case ValueKind::Decimal:
    case ValueKind::Bytes: return GetNarrowValue(stmt, c, index, rows, scratch, error);
    }
    return true;
}
struct BoundColumn {
    SQLSMALLINT cType = SQL_C_CHAR;
    std::size_t element = 0;
    std::vector<std::uint8_t> buffer;
    std::vector<SQLLEN> indicators;
};

bool IsVariable(const ColumnInfo& c) {
    return c.valueTyped || c.kind == ValueKind::Text || c.kind == ValueKind::Bytes || c.kind == ValueKind::Decimal;
}

void PlanBinding(const DriverCaps& caps, const ColumnInfo& c, BoundColumn& b) {
    // Value-typed columns come as text: room for any date, time or interval a server writes.
    const ValueKind kind = c.valueTyped ? ValueKind::Text : c.kind;
    switch (kind) {
    case ValueKind::Int:
        b.cType = SQL_C_SBIGINT;
        b.element = 8;
        break;
    case ValueKind::UInt:
        b.cType = SQL_C_UBIGINT;
        b.element = 8;
        break;
    // Single precision travels as SQL_C_DOUBLE (exact): some drivers (MariaDB's) step through
    // SQL_C_FLOAT arrays by eight bytes and would write past a four-byte array.
    case ValueKind::Float:
        b.cType = SQL_C_DOUBLE;
        b.element = sizeof(double);
        break;
    case ValueKind::Double:
        b.cType = SQL_C_DOUBLE;
        b.element = sizeof(double);
        break;
    case ValueKind::Bool:
        b.cType = SQL_C_BIT;
        b.element = 1;
        break;
    case ValueKind::Date:
        b.cType = SQL_C_TYPE_DATE;
        b.element = sizeof(SQL_DATE_STRUCT);
        break;
    case ValueKind::Time:
        b.cType = SQL_C_TYPE_TIME;
        b.element = sizeof(SQL_TIME_STRUCT);
        break;
    case ValueKind::Timestamp:
        b.cType = SQL_C_TYPE_TIMESTAMP;
        b.element = sizeof(SQL_TIMESTAMP_STRUCT);
        break;
    case ValueKind::Decimal:
        b.cType = SQL_C_CHAR;
        b.element = std::max<std::size_t>(static_cast<std::size_t>(c.columnSize) + 4, 48);
        break;
    case ValueKind::Text:
        if (!WideFetch(caps)) {
            // Up to four bytes per character, and the terminating zero.
            b.cType = SQL_C_CHAR;
            b.element = std::max<std::size_t>(static_cast<std::size_t>(c.columnSize), 38) * 4 + 1;
            break;
        }
        // Room for every character as a surrogate pair, and the terminating zero.
        b.cType = SQL_C_WCHAR;
        b.element = (std::max<std::size_t>(static_cast<std::size_t>(c.columnSize), 38) * 2 + 1) * sizeof(SQLWCHAR);
        break;
    case ValueKind::Bytes:
        b.cType = SQL_C_BINARY;
        b.element = std::max<std::size_t>(static_cast<std::size_t>(c.columnSize), 1);
        break;
    }
    // Column-wise binding steps through fixed-size types by their own size, whatever the buffer
    // length says; only the variable-length buffers may be padded.
    if (IsVariable(c)) b.element = (b.element + 7) & ~std::size_t{7};
}

// The text of a bound text buffer of `ind` bytes, in UTF-8.
std::string BoundText(const DriverCaps& caps, const std::uint8_t* p, SQLLEN ind) {
    if (WideFetch(caps))
        return WideToStored(reinterpret_cast<const SQLWCHAR*>(p), static_cast<std::size_t>(ind) / sizeof(SQLWCHAR));
    std::string utf8;
    NarrowToUtf8(std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(ind)), utf8);
    return utf8;
}

// Whether the bound buffer of `b` cut a value of `ind` bytes short.
bool BoundValueTruncated(const DriverCaps& caps, const ColumnInfo& c, const BoundColumn& b, SQLLEN ind) {
    if (c.valueTyped && WideFetch(caps))
        return ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) > b.element - sizeof(SQLWCHAR);
    if (c.valueTyped) return ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) >= b.element;
    if (c.kind == ValueKind::Text && WideFetch(caps))
        return ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) > b.element - sizeof(SQLWCHAR);
    if (c.kind == ValueKind::Text || c.kind == ValueKind::Decimal)
        return ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) >= b.element;
    if (c.kind == ValueKind::Bytes) return ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) > b.element;
    return false;
}

// The value of type T at `p`, which need not be aligned for it.
template <class T>
T ReadBound(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Stores a value that fitted its bound buffer: `ind` bytes at `p`.
void StoreBoundValue(const DriverCaps& caps, const ColumnInfo& c, const std::uint8_t* p, SQLLEN ind, RowSet& rows) {
    if (c.valueTyped) {
        StoreTyped(caps, c, BoundText(caps, p, ind), rows);
        return;
    }
    switch (c.kind) {
    case ValueKind::Int: rows.AddInt(ReadBound<std::int64_t>(p)); break;
    case ValueKind::UInt: rows.AddUInt(ReadBound<std::uint64_t>(p)); break;
    case ValueKind::Float: rows.AddFloat(static_cast<float>(ReadBound<double>(p))); break;
    case ValueKind::Double: rows.AddDouble(ReadBound<double>(p)); break;
    case ValueKind::Bool: rows.AddBool(p[0] != 0); break;
    case ValueKind::Date: rows.AddDate(ReadBound<SQL_DATE_STRUCT>(p)); break;
    case ValueKind::Time: rows.AddTime(ReadBound<SQL_TIME_STRUCT>(p)); break;
    case ValueKind::Timestamp: rows.AddTimestamp(ReadBound<SQL_TIMESTAMP_STRUCT>(p)); break;
    case ValueKind::Decimal: {
        const std::string text(reinterpret_cast<const char*>(p), static_cast<std::size_t>(ind));
        rows.AddAscii(c.money ? MoneyDigits(text) : text);
        break;
    }
    case ValueKind::Text: {
        const std::string text = BoundText(caps, p, ind);
        rows.AddAscii(c.sqlType == SQL_GUID ? LowerGuid(text) : text);
        break;
    }
    case ValueKind::Bytes: rows.AddBytes(p, static_cast<std::size_t>(ind)); break;
    }
}

// Stores row `r` of the bound block; a value the buffer truncated is read again in full.
bool StoreBoundRow(SQLHSTMT stmt, const DriverCaps& caps, const std::vector<ColumnInfo>& columns,
                   std::vector<BoundColumn>& bound, std::size_t r, RowSet& rows, Scratch& scratch, OdbcError& error) {
    bool positioned = false;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnInfo& c = columns[i];
        BoundColumn& b = bound[i];
        SQLLEN ind = b.indicators[r];
        const std::uint8_t* p = b.buffer.data() + r * b.element;
        if (ind == SQL_NULL_DATA) {
            rows.AddNull();
            continue;
        }
        if (BoundValueTruncated(caps, c, b, ind)) {
            if (!positioned) {
                if (!Check(Traced("SQLSetPos",
                                  SQLSetPos(stmt, static_cast<SQLSETPOSIROW>(r + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE)),
                           SQL_HANDLE_STMT, stmt, error))
                    return false;
                positioned = true;
            }
            const SQLUSMALLINT index = static_cast<SQLUSMALLINT>(i + 1);
            if (!(c.valueTyped ? GetTypedValue(stmt, caps, c, index, rows, scratch, error)
                               : GetWholeValue(stmt, caps, c, index, rows, scratch, error)))
                return false;
            continue;
        }
        StoreBoundValue(caps, c, p, ind, rows);
    }
    rows.EndRow();
    return true;
}

const std::wstring kCancelled = L"Operation cancelled.";

// Where column `index` comes from, for the statements that write rows back: one
// SQLColAttribute call per attribute. A driver that does not know an attribute leaves it empty.
void DescribeBase(SQLHSTMT stmt, SQLUSMALLINT index, bool wide, ColumnInfo& c) {
    auto text = [&](SQLUSMALLINT field, std::wstring& out) {
        SQLWCHAR buffer[512] = {};  // also holds the narrow form
        SQLSMALLINT length = 0;
        if (!Succeeded(wide ? Traced("SQLColAttributeW",
                                     SQLColAttributeW(stmt, index, field, buffer, sizeof buffer, &length, nullptr))
                            : Traced("SQLColAttribute",
                                     SQLColAttribute(stmt, index, field, buffer, sizeof buffer, &length, nullptr))))
            return;
        const std::size_t n = static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0));
        out = wide ? FromDriver(buffer, n / sizeof(SQLWCHAR), 511, true)
                   : FromDriver(buffer, n, sizeof buffer - 1, false);
    };
    text(SQL_DESC_BASE_TABLE_NAME, c.baseTable);
    text(SQL_DESC_BASE_COLUMN_NAME, c.baseColumn);
    text(SQL_DESC_SCHEMA_NAME, c.baseSchema);
    text(SQL_DESC_CATALOG_NAME, c.baseCatalog);
    SQLLEN autoUnique = SQL_FALSE;
    if (Succeeded(Traced("SQLColAttributeW",
                         SQLColAttributeW(stmt, index, SQL_DESC_AUTO_UNIQUE_VALUE, nullptr, 0, nullptr, &autoUnique))))
        c.autoIncrement = autoUnique == SQL_TRUE;
}

}  // namespace

bool ProbeUtf8Text(SQLHDBC dbc, const DbmsDialect& dialect, bool wideCalls) {
    if (!dialect.textCharsetQuery) return false;
    StmtHandle stmt;
    OdbcError error;
    if (!stmt.Alloc(dbc, error) || !Succeeded(ExecDirect(stmt.get(), dialect.textCharsetQuery, wideCalls)) ||
        !Succeeded(Traced("SQLFetch", SQLFetch(stmt.get()))))
        return false;
    char name[64] = {};
    SQLLEN ind = 0;
    if (!Succeeded(Traced("SQLGetData", SQLGetData(stmt.get(), 1, SQL_C_CHAR, name, sizeof name, &ind))) ||
        ind == SQL_NULL_DATA)
        return false;
    // utf8mb4, utf8mb3, utf8 (MySQL's names), any letter case.
    const std::string_view charset(name);
    return charset.size() >= 4 && (charset[0] | 0x20) == 'u' && (charset[1] | 0x20) == 't' &&
           (charset[2] | 0x20) == 'f' && charset[3] == '8';
}

namespace {

// Describes result column `i`: its name and type, what it maps to, where it comes from,
// and whether its values are read as the server's text.
bool DescribeColumn(SQLHSTMT stmt, const DriverCaps& caps, SQLUSMALLINT i, ColumnInfo& c, OdbcError& error) {
    SQLWCHAR name[1024] = {};  // also holds the narrow form
    SQLSMALLINT nameLength = 0, nullable = SQL_NULLABLE_UNKNOWN;
    if (!Check(caps.wideCalls ? Traced("SQLDescribeColW", SQLDescribeColW(stmt, i, name, 1024, &nameLength, &c.sqlType,
                                                                          &c.columnSize, &c.digits, &nullable))
                              : Traced("SQLDescribeCol",
                                       SQLDescribeCol(stmt, i, reinterpret_cast<SQLCHAR*>(name), sizeof name,
                                                      &nameLength, &c.sqlType, &c.columnSize, &c.digits, &nullable)),
               SQL_HANDLE_STMT, stmt, error))
        return false;
    const std::size_t nameUnits = static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0));
    c.name =
        caps.wideCalls ? FromDriver(name, nameUnits, 1023, true) : FromDriver(name, nameUnits, sizeof name - 1, false);
    c.nullable = nullable != SQL_NO_NULLS;
    SQLLEN isUnsigned = SQL_FALSE;
    if (Succeeded(
            Traced("SQLColAttributeW", SQLColAttributeW(stmt, i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned))))
        c.isUnsigned = isUnsigned == SQL_TRUE;
    DescribeBase(stmt, i, caps.wideCalls, c);
    DeriveColumn(c);
    if (c.kind == ValueKind::Double || c.kind == ValueKind::Float) {
        SQLCHAR typeName[64] = {};
        SQLSMALLINT typeLength = 0;
        if (Succeeded(Traced("SQLColAttribute", SQLColAttribute(stmt, i, SQL_DESC_TYPE_NAME, typeName, sizeof typeName,
                                                                &typeLength, nullptr))) &&
            EqualsNoCase(AsciiToWide(reinterpret_cast<const char*>(typeName)), L"money")) {
            c.money = true;
            c.kind = ValueKind::Decimal;
            c.adoType = adNumeric;
            c.precision = 38;
            c.scale = 2;
            c.columnSize = 40;
        }
    }
    // Dates and times come as the server's text too: a value outside the ODBC structures
    // (a duration beyond 24 hours, a year beyond 9999 or before 1, infinity, a zero date,
    // a fraction of a TIME) then arrives as that text, never as another date, and costs no row.
    // So do bits: PostgreSQL's driver describes a BIT(5) as a single bit, and its digits
    // must not collapse into YES.
    c.valueTyped = (caps.valueTyped && c.kind != ValueKind::Bytes) || c.kind == ValueKind::Date ||
                   c.kind == ValueKind::Time || c.kind == ValueKind::Timestamp || c.kind == ValueKind::Bool;
    return true;
}

// Row by row, every value read whole with SQLGetData.
bool FetchRowByRow(SQLHSTMT stmt, const DriverCaps& caps, RowSet& rows, const std::atomic<bool>& cancelled,
                   OdbcError& error) {
    const auto& columns = rows.columns;
    Scratch scratch;
    for (;;) {
        if (cancelled.load()) {
            error.Set(kCancelled, ZE_FAIL);
            return false;
        }
        SQLRETURN rc = Traced("SQLFetch", SQLFetch(stmt));
        if (rc == SQL_NO_DATA) break;
        if (!Check(rc, SQL_HANDLE_STMT, stmt, error)) return false;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const ColumnInfo& c = columns[i];
            const SQLUSMALLINT index = static_cast<SQLUSMALLINT>(i + 1);
            if (!(c.valueTyped ? GetTypedValue(stmt, caps, c, index, rows, scratch, error)
                               : GetWholeValue(stmt, caps, c, index, rows, scratch, error)))
                return false;
        }
        rows.EndRow();
    }
    rows.Finish();
    return true;
}

// How many rows one block holds: what fits the budget, or what the driver settled on.
SQLULEN SetBlockSize(SQLHSTMT stmt, const std::vector<BoundColumn>& bound) {
    std::size_t rowBytes = 0;
    for (const BoundColumn& b : bound) rowBytes += b.element + sizeof(SQLLEN);
    SQLULEN blockRows = std::clamp<std::size_t>(kBlockBudget / std::max<std::size_t>(rowBytes, 1), 1, kMaxBlockRows);
    if (!Succeeded(Traced("SQLSetStmtAttr", SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE,
                                                           reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0))) ||
        !Succeeded(Traced("SQLSetStmtAttr",
                          SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(blockRows), 0)))) {
        blockRows = 1;
        Traced("SQLSetStmtAttr",
               SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0));
    }
    // The driver may have chosen another size.
    SQLULEN actual = 0;
    if (Succeeded(Traced("SQLGetStmtAttr", SQLGetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, &actual, 0, nullptr))) &&
        actual > 0)
        blockRows = actual;
    return blockRows;
}

// Sizes each column's buffers for `blockRows` rows and binds them.
bool BindBlockColumns(SQLHSTMT stmt, std::vector<BoundColumn>& bound, SQLULEN blockRows, OdbcError& error) {
    for (std::size_t i = 0; i < bound.size(); ++i) {
        BoundColumn& b = bound[i];
        b.buffer.assign(b.element * blockRows, 0);
        b.indicators.assign(blockRows, 0);
        if (!Check(Traced("SQLBindCol", SQLBindCol(stmt, static_cast<SQLUSMALLINT>(i + 1), b.cType, b.buffer.data(),
                                                   static_cast<SQLLEN>(b.element), b.indicators.data())),
                   SQL_HANDLE_STMT, stmt, error))
            return false;
    }
    return true;
}

// Blocks of rows into column-wise bound arrays.
bool FetchBlocks(SQLHSTMT stmt, const DriverCaps& caps, RowSet& rows, const std::atomic<bool>& cancelled,
                 OdbcError& error) {
    const auto& columns = rows.columns;
    Scratch scratch;
    std::vector<BoundColumn> bound(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) PlanBinding(caps, columns[i], bound[i]);
    const SQLULEN blockRows = SetBlockSize(stmt, bound);
    SQLULEN fetched = 0;
    std::vector<SQLUSMALLINT> status(blockRows, SQL_ROW_NOROW);
    // The buffers die with this function: on every way out (an exception included) they are
    // unbound and the status arrays detached before they go.
    struct Unbind {
        SQLHSTMT stmt;
        ~Unbind() {
            Traced("SQLFreeStmt", SQLFreeStmt(stmt, SQL_UNBIND));
            Traced("SQLSetStmtAttr", SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0));
            Traced("SQLSetStmtAttr", SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0));
            Traced("SQLSetStmtAttr",
                   SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0));
        }
    } unbind{stmt};
    if (!Check(Traced("SQLSetStmtAttr", SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0)), SQL_HANDLE_STMT,
               stmt, error) ||
        !Check(Traced("SQLSetStmtAttr", SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0)),
               SQL_HANDLE_STMT, stmt, error))
        return false;
    if (!BindBlockColumns(stmt, bound, blockRows, error)) return false;
    bool ok = true;
    for (;;) {
        if (cancelled.load()) {
            error.Set(kCancelled, ZE_FAIL);
            ok = false;
            break;
        }
        fetched = 0;
        SQLRETURN rc = Traced("SQLFetchScroll", SQLFetchScroll(stmt, SQL_FETCH_NEXT, 0));
        if (rc == SQL_NO_DATA) break;
        if (!Check(rc, SQL_HANDLE_STMT, stmt, error)) {
            ok = false;
            break;
        }
        for (std::size_t r = 0; r < fetched && ok; ++r) {
            if (status[r] == SQL_ROW_NOROW) continue;
            if (status[r] == SQL_ROW_ERROR) {
                ReadDiagnostics(SQL_HANDLE_STMT, stmt, error, L"A row could not be fetched.");
                ok = false;
                break;
            }
            ok = StoreBoundRow(stmt, caps, columns, bound, r, rows, scratch, error);
        }
        if (!ok) break;
    }
    rows.Finish();
    return ok;
}

}  // namespace

bool FetchResult(SQLHSTMT stmt, const DriverCaps& caps, RowSet& rows, const std::atomic<bool>& cancelled,
                 OdbcError& error) {
    SQLSMALLINT count = 0;
    if (!Check(Traced("SQLNumResultCols", SQLNumResultCols(stmt, &count)), SQL_HANDLE_STMT, stmt, error)) return false;
    rows.columns.clear();
    rows.columns.reserve(static_cast<std::size_t>(std::max<SQLSMALLINT>(count, 0)));
    bool anyLong = false, anyVariable = false;
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
        ColumnInfo c;
        if (!DescribeColumn(stmt, caps, i, c, error)) return false;
        anyLong = anyLong || c.isLong;
        anyVariable = anyVariable || IsVariable(c);
        rows.columns.push_back(std::move(c));
    }
    const bool block =
        count > 0 && !caps.valueTyped && !anyLong && (!anyVariable || (caps.getDataBlock && caps.getDataBound));
    return block ? FetchBlocks(stmt, caps, rows, cancelled, error) : FetchRowByRow(stmt, caps, rows, cancelled, error);
}

}  // namespace zentra
