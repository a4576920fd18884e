#include "zentra/values.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "zentra/format.h"

namespace zentra {

// ---------------------------------------------------------------------------------------------
// CValue

CValue::CValue() = default;

CValue::CValue(const wchar_t* text, int width) { Set(text, width); }

CValue::CValue(std::wstring_view text, int width) { Set(text, width); }

CValue::~CValue() = default;

void CValue::Set(const wchar_t* text, int width) {
    Set(text != nullptr ? std::wstring_view(text) : std::wstring_view(), width);
}

void CValue::Set(std::wstring_view text, int width) {
    // A width below 1 could never make progress through the text.
    m_width = width < 1 ? 1 : width;
    m_lines.clear();
    // The text may be a view of the old one: copy before replacing.
    CString copy(text);
    m_text = std::move(copy);

    const size_t w = static_cast<size_t>(m_width);
    std::wstring_view rest = m_text;
    while (!rest.empty()) {
        std::wstring_view segment;
        const size_t lf = rest.find(L'\n');
        if (lf == std::wstring_view::npos) {
            segment = rest;
            rest = {};
        } else {
            segment = rest.substr(0, lf);
            rest.remove_prefix(lf + 1);
            if (!segment.empty() && segment.back() == L'\r') segment.remove_suffix(1);
        }
        while (!segment.empty()) {
            m_lines.emplace_back(segment.substr(0, w));
            if (segment.size() <= w) break;
            segment.remove_prefix(w);
        }
    }
}

void CValue::SetString(const wchar_t* text) { Set(text, m_width); }

void CValue::SetString(std::wstring_view text) { Set(text, m_width); }

void CValue::SetColumnWidth(int width) { Set(std::wstring_view(m_text), width); }

CString CValue::GetLineSring(int index) const {
    if (index < 0 || index >= GetLineCount()) return CString();
    return m_lines[static_cast<size_t>(index)];
}

// ---------------------------------------------------------------------------------------------
// CValueArray

CValueArray::CValueArray() = default;

CValueArray::~CValueArray() { RemoveAll(); }

CValueArray::CValueArray(CValueArray&& other) noexcept
    : m_values(std::move(other.m_values)), m_lineCount(other.m_lineCount) {
    other.m_values.clear();
    other.m_lineCount = 0;
}

CValueArray& CValueArray::operator=(CValueArray&& other) noexcept {
    if (this != &other) {
        m_values = std::move(other.m_values);
        m_lineCount = other.m_lineCount;
        other.m_values.clear();
        other.m_lineCount = 0;
    }
    return *this;
}

void CValueArray::AddValue(const wchar_t* text, int width) {
    AddValue(text != nullptr ? std::wstring_view(text) : std::wstring_view(), width);
}

void CValueArray::AddValue(std::wstring_view text, int width) {
    auto value = std::make_unique<CValue>(text, width);
    if (value->GetLineCount() > m_lineCount) m_lineCount = value->GetLineCount();
    m_values.push_back(std::move(value));
}

void CValueArray::RemoveAll() {
    m_values.clear();
    m_lineCount = 0;
}

CString CValueArray::GetValueString(int line, int index) const {
    if (index < 0 || index >= GetValueCount()) return CString();
    if (line < 0 || line >= m_lineCount) return CString();
    return m_values[static_cast<size_t>(index)]->GetLineSring(line);
}

int CValueArray::GetValueColumnWidth(int index) const {
    if (index < 0 || index >= GetValueCount()) return 1;
    return m_values[static_cast<size_t>(index)]->GetColumnWidth();
}

// ---------------------------------------------------------------------------------------------
// Numbers

CString IntToStr(int value) { return Format(L"%d", value); }

CString IntToStr(unsigned int value) { return Format(L"%u", value); }

CString LongToStr(long value) { return Format(L"%ld", value); }

CString ULongToStr(unsigned long value) { return Format(L"%lu", value); }

CString LongLongToStr(std::int64_t value) { return Format(L"%I64d", value); }

CString ULongLongToStr(std::uint64_t value) { return Format(L"%I64u", value); }

CString DecToStr(const _variant_t& value) {
    // The conversion without VARIANT_ALPHABOOL: a Boolean is its number, -1 or 0.
    const VARTYPE type = value.vt() & static_cast<VARTYPE>(~VT_BYREF);
    if (type == VT_BOOL && !(value.vt() & VT_BYREF)) return value.boolVal() ? L"-1" : L"0";
    if (type == VT_BOOL && value.byref() != nullptr) return value.ByValue().boolVal() ? L"-1" : L"0";
    CString text;
    if (!VariantToText(value, text)) return CString();
    return text;
}

CString DblToStr(double value) { return DecToStr(_variant_t::R8(value)); }

CString DblToStr(float value) { return DecToStr(_variant_t::R4(value)); }

// ---------------------------------------------------------------------------------------------
// Dates with milliseconds

namespace {

// Half a second and one millisecond in days, at the precision the conversions have always used.
constexpr double kHalfSecondInDays = 5.787037037e-06;
constexpr double kMillisecondInDays = 1.1574074074e-08;
// 0100-01-01, the first day an OLE date can hold.
constexpr double kFirstDayOfCalendar = -657434.0;

// Before 1899-12-30 an OLE date is the whole day minus the time of day, so OLE dates do not grow
// with time there. These map them to and from a time line that does (days since 1899-12-30).
double OleDateToTimeLine(double date) {
    const double whole = std::trunc(date);
    return whole + std::fabs(date - whole);
}

double TimeLineToOleDate(double line) {
    const double whole = std::floor(line);
    const double time = line - whole;
    return whole < 0 ? whole - time : whole + time;
}

}  // namespace

int VariantToSystemTimeWithMilliseconds(double date, SYSTEMTIME& time) {
    double f = date - std::trunc(date);
    f = std::fabs(f - std::trunc(f));
    f *= 24;
    f -= std::trunc(f);
    f *= 60;
    f -= std::trunc(f);
    f *= 60;
    f -= std::trunc(f);
    const double ms = f * 1000 + 0.5;
    // Below 0.5 ms or from 999.5 ms on, the time rounds to a whole second. (A time of .999 s
    // keeps its 999 ms: it must not become the next second, or at 23:59:59.999 the next day.)
    if (ms < 1 || ms >= 1000) {
        // Whole seconds (or as good as): the nearest second without milliseconds. Decided before
        // the half-second shift below, so that the first second of the calendar converts too.
        SYSTEMTIME rounded;
        if (!VariantTimeToSystemTime(date, rounded)) return 0;
        time = rounded;
        return 1;
    }
    // Half a second earlier, the platform's rounding to the nearest second truncates. The shift
    // is made on the time line, so that it goes back in time also before 1899-12-30.
    // In the first half second of the calendar the shift would leave it: its second is the
    // calendar's first.
    SYSTEMTIME truncated;
    const double line = std::max(OleDateToTimeLine(date) - kHalfSecondInDays, kFirstDayOfCalendar);
    if (!VariantTimeToSystemTime(TimeLineToOleDate(line), truncated)) return 0;
    truncated.wMilliseconds = static_cast<std::uint16_t>(std::trunc(ms));
    time = truncated;
    return 1;
}

int SystemTimeToVariantTimeWithMilliseconds(SYSTEMTIME time, double& date) {
    const unsigned ms = time.wMilliseconds;
    if (ms > 999) return 0;
    time.wMilliseconds = 0;
    double whole = 0;
    if (!SystemTimeToVariantTime(time, whole)) return 0;
    const double add = ms * kMillisecondInDays;
    // Before 1899-12-30 the time of day counts away from zero.
    date = whole < 0 ? whole - add : whole + add;
    return 1;
}

// ---------------------------------------------------------------------------------------------
// CSafeArray

CSafeArray::CSafeArray(std::uint32_t count) {
    auto array = std::make_shared<SAFEARRAY>();
    array->elementType = VT_VARIANT;
    array->variants.resize(count);
    m_variant = _variant_t::Array(std::move(array));
}

CSafeArray::CSafeArray(const _variant_t& value) : m_variant(value) {}

CSafeArray::~CSafeArray() { m_variant.Clear(); }

int CSafeArray::SetAt(long index, int value) {
    SAFEARRAY* array = m_variant.vt() == (VT_ARRAY | VT_VARIANT) ? m_variant.parray() : nullptr;
    if (array == nullptr || index < 0 || static_cast<std::uint64_t>(index) >= array->variants.size()) return 0;
    array->variants[static_cast<size_t>(index)] = _variant_t::Int(value);
    return 1;
}

int CSafeArray::SetAt(long index, const wchar_t* text) {
    return SetAt(index, text != nullptr ? std::wstring_view(text) : std::wstring_view());
}

int CSafeArray::SetAt(long index, std::wstring_view text) {
    SAFEARRAY* array = m_variant.vt() == (VT_ARRAY | VT_VARIANT) ? m_variant.parray() : nullptr;
    if (array == nullptr || index < 0 || static_cast<std::uint64_t>(index) >= array->variants.size()) return 0;
    // An empty restriction means no restriction: store nothing rather than an empty string.
    array->variants[static_cast<size_t>(index)] = text.empty() ? _variant_t() : _variant_t::Bstr(text);
    return 1;
}

_variant_t CSafeArray::GetArray() const { return m_variant; }

CString CSafeArray::ToString() const {
    CString text;
    if (!VariantToText(m_variant, text)) return CString();
    return text;
}

// ---------------------------------------------------------------------------------------------
// Type names

namespace {

constexpr int kTypeRows = 40;

// The names for DBMS type 1, by row of the ADO type list.
constexpr const wchar_t* kType1Names[kTypeRows] = {
    L"sql_variant",  // 0 adEmpty
    L"tinyint",      // 1 adTinyInt
    L"smallint",     // 2 adSmallInt
    L"int",          // 3 adInteger
    L"bigint",       // 4 adBigInt
    L"tinyint",      // 5 adUnsignedTinyInt
    L"smallint",     // 6 adUnsignedSmallInt
    L"int",          // 7 adUnsignedInt
    L"bigint",       // 8 adUnsignedBigInt
    L"real",         // 9 adSingle
    L"float",        // 10 adDouble
    L"money",        // 11 adCurrency
    L"decimal",      // 12 adDecimal
    L"numeric",      // 13 adNumeric
    L"bit",          // 14 adBoolean
    L"sql_variant",  // 15 adError
    L"sql_variant",  // 16 adUserDefined
    L"sql_variant",  // 17 adVariant
    L"sql_variant",  // 18 adIDispatch
    L"sql_variant",  // 19 adIUnknown
    L"sql_variant",  // 20 adGUID
    L"datetime",     // 21 adDate
    L"datetime",     // 22 adDBDate
    L"datetime",     // 23 adDBTime
    L"timestamp",    // 24 adDBTimeStamp
    L"nvarchar",     // 25 adBSTR
    L"char",         // 26 adChar
    L"varchar",      // 27 adVarChar
    L"text",         // 28 adLongVarChar
    L"nchar",        // 29 adWChar
    L"nvarchar",     // 30 adVarWChar
    L"ntext",        // 31 adLongVarWChar
    L"binary",       // 32 adBinary
    L"varbinary",    // 33 adVarBinary
    L"image",        // 34 adLongVarBinary
    L"ntext",        // 35 adChapter
    L"datetime",     // 36 adFileTime
    L"sql_variant",  // 37 adPropVariant
    L"numeric",      // 38 adVarNumeric
    L"sql_variant",  // 39 adArray
};

}  // namespace

CString Type2Name(unsigned int dbmsType, unsigned int row) {
    if (row >= static_cast<unsigned>(kTypeRows)) return CString();
    if (dbmsType == 1) return kType1Names[row];
    // The other columns (types 2 to 11, 13 and 14) name only the three integer types.
    const bool hasColumn = (dbmsType >= 2 && dbmsType <= 11) || dbmsType == 13 || dbmsType == 14;
    if (!hasColumn) return CString();
    switch (row) {
    case 1: return L"tinyint";
    case 2: return L"smallint";
    case 3: return L"int";
    default: return CString();
    }
}

}  // namespace zentra
