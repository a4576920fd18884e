// Typed field values, the conversions of variants to typed values and text, long data by chunks
// and the text export of records.
//
// The conversions follow OLE Automation with US-English rules. Where the typed getters and
// VariantToInt / VariantToDouble meet a variant type outside the ones they are made for, they
// convert it as the platform's variant coercion would (numbers of any width, currency, decimals,
// Booleans as -1/0, numeric text), and fail, rather than produce a number out of nothing, for
// what has no numeric form (other text, byte arrays, errors, object references).
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "../platform/fallback.h"
#include "messages.h"
#include "cursor.h"
#include "rowset.h"
#include "zentra/codepage.h"
#include "zentra/dataaccess.h"
#include "zentra/format.h"
#include "zentra/text.h"
#include "zentra/values.h"

namespace zentra {

namespace {

constexpr std::uint32_t kTypeMismatchCode = 0x80020005u;  // DISP_E_TYPEMISMATCH

// The value a by-reference variant refers to; any other variant as it is.
_variant_t Plain(const _variant_t& v) { return (v.vt() & VT_BYREF) ? v.ByValue() : v; }

bool IsNothing(const _variant_t& v) { return v.vt() == VT_EMPTY || v.vt() == VT_NULL; }

// ---- numbers in text ----

// A number read from text: (-1 if negative) * digits * 10^exponent; `digits` has no leading
// zeros and is empty for zero.
struct TextNumber {
    bool negative = false;
    std::string digits;
    long exponent = 0;
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == 0xA0; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Numeric text as US English writes it: blanks around it, a sign in front or behind, or
// parentheses for a negative amount, a leading '$', ',' between the digits of the whole part, a
// '.' before the fraction and an exponent ("1.5E3").
bool ParseNumberText(std::wstring_view s, TextNumber& number) {
    std::size_t i = 0, end = s.size();
    while (i < end && IsBlank(s[i])) ++i;
    while (end > i && IsBlank(s[end - 1])) --end;
    bool parenthesised = false, sign = false, negative = false, dollar = false;
    if (i < end && s[i] == L'(') {
        if (s[end - 1] != L')' || end - i < 2) return false;
        parenthesised = true;
        ++i;
        --end;
    }
    for (int k = 0; k < 2 && i < end; ++k) {
        if (!sign && (s[i] == L'+' || s[i] == L'-')) {
            sign = true;
            negative = s[i++] == L'-';
        } else if (!dollar && s[i] == L'$') {
            dollar = true;
            ++i;
        }
    }
    if (!sign && end > i && (s[end - 1] == L'+' || s[end - 1] == L'-')) {
        sign = true;
        negative = s[--end] == L'-';
    }
    if (parenthesised) {
        if (sign) return false;
        negative = true;
    }
    std::string digits;
    bool any = false, point = false;
    long fraction = 0;
    for (; i < end; ++i) {
        const wchar_t c = s[i];
        if (IsDigit(c)) {
            any = true;
            if (point) ++fraction;
            if (digits.empty() && c == L'0') continue;
            digits.push_back(static_cast<char>(c));
        } else if (c == L',' && !point && any) {
            continue;
        } else if (c == L'.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any) return false;
    long exponent = 0;
    if (i < end && (s[i] == L'e' || s[i] == L'E')) {
        ++i;
        bool expNegative = false;
        if (i < end && (s[i] == L'+' || s[i] == L'-')) expNegative = s[i++] == L'-';
        if (i >= end) return false;
        for (; i < end; ++i) {
            if (!IsDigit(s[i])) return false;
            if (exponent < 100000) exponent = exponent * 10 + (s[i] - L'0');
        }
        if (expNegative) exponent = -exponent;
    }
    if (i != end) return false;
    // Trailing zeros of the digits go into the exponent.
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
        ++exponent;
    }
    number.negative = negative && !digits.empty();
    number.digits = std::move(digits);
    number.exponent = exponent - fraction;
    return true;
}

// Whole numbers are rounded half to even, as the platform's coercion rounds.
enum class Outcome { Ok, Overflow, Mismatch };

Outcome Signed(bool negative, unsigned __int128 magnitude, std::int64_t& out) {
    constexpr unsigned __int128 kMax = static_cast<unsigned __int128>(INT64_MAX);
    if (negative) {
        if (magnitude > kMax + 1) return Outcome::Overflow;
        out = magnitude == kMax + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
    } else {
        if (magnitude > kMax) return Outcome::Overflow;
        out = static_cast<std::int64_t>(magnitude);
    }
    return Outcome::Ok;
}

Outcome RoundText(const TextNumber& n, std::int64_t& out) {
    if (n.digits.empty()) {
        out = 0;
        return Outcome::Ok;
    }
    const long size = static_cast<long>(n.digits.size());
    const long whole = size + n.exponent;  // digits before the point
    if (whole > 20) return Outcome::Overflow;
    unsigned __int128 magnitude = 0;
    for (long k = 0; k < whole; ++k)
        magnitude = magnitude * 10 + static_cast<unsigned>(k < size ? n.digits[static_cast<std::size_t>(k)] - '0' : 0);
    int first = 0;      // the first digit of the fraction
    bool rest = false;  // any nonzero digit after it
    if (whole >= 0 && whole < size) {
        first = n.digits[static_cast<std::size_t>(whole)] - '0';
        rest = whole + 1 < size;  // the digits end in a nonzero digit
    }
    if (first > 5 || (first == 5 && (rest || (magnitude & 1) != 0))) ++magnitude;
    return Signed(n.negative, magnitude, out);
}

Outcome RoundReal(double d, std::int64_t& out) {
    if (!std::isfinite(d) || d >= 9223372036854775808.0 || d < -9223372036854775808.0) return Outcome::Overflow;
    double whole = std::floor(d);
    const double rest = d - whole;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
    if (whole >= 9223372036854775808.0) return Outcome::Overflow;
    out = static_cast<std::int64_t>(whole);
    return Outcome::Ok;
}

// Any variant to a whole number, as the platform coerces it to an integer type.
Outcome ToWhole(const _variant_t& value, std::int64_t& out) {
    const _variant_t v = Plain(value);
    switch (v.vt()) {
    case VT_EMPTY: out = 0; return Outcome::Ok;
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_INT: out = v.intVal(); return Outcome::Ok;
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UINT: out = static_cast<std::int64_t>(v.uintVal()); return Outcome::Ok;
    case VT_UI8: return Signed(false, v.uintVal(), out);
    case VT_BOOL: out = v.boolVal() ? -1 : 0; return Outcome::Ok;
    case VT_R4:
    case VT_R8:
    case VT_DATE: return RoundReal(v.dblVal(), out);
    case VT_CY: {
        const std::int64_t c = v.cyVal().int64;
        std::int64_t q = c / 10000, r = c % 10000;
        const std::int64_t ar = r < 0 ? -r : r;
        if (ar > 5000 || (ar == 5000 && (q & 1) != 0)) q += c < 0 ? -1 : 1;
        out = q;
        return Outcome::Ok;
    }
    case VT_DECIMAL: {
        const DECIMAL d = v.decVal();
        if (d.scale > 28) return Outcome::Mismatch;
        unsigned __int128 m = (static_cast<unsigned __int128>(d.Hi32) << 64) | d.Lo64;
        unsigned __int128 p = 1;
        for (int k = 0; k < d.scale; ++k) p *= 10;
        unsigned __int128 q = m / p, r = m % p;
        if (d.scale > 0 && (r > p / 2 || (r == p / 2 && (q & 1) != 0))) ++q;
        return Signed((d.sign & DECIMAL_NEG) != 0, q, out);
    }
    case VT_BSTR: {
        TextNumber n;
        if (!ParseNumberText(v.bstrVal(), n)) return Outcome::Mismatch;
        return RoundText(n, out);
    }
    default: return Outcome::Mismatch;  // VT_NULL, VT_ERROR, arrays, object references
    }
}

// Any variant to a double where it has a numeric form.
bool ToReal(const _variant_t& value, double& out) {
    const _variant_t v = Plain(value);
    switch (v.vt()) {
    case VT_EMPTY:
    case VT_NULL: out = 0; return true;
    case VT_R4:
    case VT_R8:
    case VT_DATE: out = v.dblVal(); return true;
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_INT: out = static_cast<double>(v.intVal()); return true;
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_UINT: out = static_cast<double>(v.uintVal()); return true;
    case VT_BOOL: out = v.boolVal() ? -1.0 : 0.0; return true;
    case VT_CY: out = static_cast<double>(v.cyVal().int64) / 10000.0; return true;
    // The whole 96-bit mantissa: a decimal read from a numeric column keeps its value.
    case VT_DECIMAL:
        if (v.decVal().scale > 28) return false;
        out = DecimalToDouble(v.decVal());
        return true;
    case VT_BSTR: {
        TextNumber n;
        if (!ParseNumberText(v.bstrVal(), n)) return false;
        if (n.digits.empty()) {
            out = 0;
            return true;
        }
        std::string text = (n.negative ? "-" : "") + n.digits + "e" + std::to_string(n.exponent);
        double d = 0;
        auto res = std::from_chars(text.data(), text.data() + text.size(), d);
        if (res.ec == std::errc::result_out_of_range && static_cast<long>(n.digits.size()) + n.exponent < 0)
            d = 0;  // too small
        else if (res.ec != std::errc() || !std::isfinite(d)) return false;
        out = d;
        return true;
    }
    default: return false;
    }
}

// The text of one byte in the ANSI code page; byte 0 gives the empty text.
CString ByteText(std::uint8_t byte) {
    if (byte == 0) return CString();
    const char c = static_cast<char>(byte);
    return MultiByteToWide(std::string_view(&c, 1), CP_ACP);
}

int ToString(const _variant_t& value, CString& result) {
    const VARTYPE vt = value.vt();
    if (vt & VT_ARRAY) {
        const VARTYPE element = vt & VT_TYPEMASK;
        if (element != VT_I1 && element != VT_UI1) return 0;
        if ((vt & VT_BYREF) ? value.byref() == nullptr : value.parray() == nullptr) return 0;
        result = CSafeArray(value).ToString();
        return 1;
    }
    if (vt == (VT_BYREF | VT_I1)) {
        // A zero-terminated 8-bit text in the ANSI code page, as a CHAR* argument passes it.
        const char* text = static_cast<const char*>(value.byref());
        if (!text) return 0;
        result = MultiByteToWide(std::string_view(text, std::strlen(text)), CP_ACP);
        return 1;
    }
    if (vt & VT_BYREF) {
        if (!value.byref()) return 0;
        const VARTYPE target = vt & VT_TYPEMASK;
        if (target == VT_VARIANT) {
            const auto& inner = *static_cast<const _variant_t*>(value.byref());
            if (inner.vt() == (VT_BYREF | VT_VARIANT)) return 0;  // followed once only
            return ToString(inner, result);
        }
        if (target == VT_EMPTY || target == VT_NULL) return 0;
        const _variant_t plain = value.ByValue();
        if (plain.vt() == VT_EMPTY) return 0;  // a type that cannot be referenced
        return ToString(plain, result);
    }
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL: result.clear(); return 1;
    case VT_I2:
    case VT_UI2:
    case VT_INT: result = IntToStr(static_cast<int>(value.intVal())); return 1;
    case VT_UINT: result = IntToStr(static_cast<unsigned int>(value.uintVal())); return 1;
    case VT_I4: result = LongToStr(static_cast<long>(value.intVal())); return 1;
    case VT_UI4: result = ULongToStr(static_cast<unsigned long>(value.uintVal())); return 1;
    case VT_I8: result = LongLongToStr(value.intVal()); return 1;
    case VT_UI8: result = ULongLongToStr(value.uintVal()); return 1;
    case VT_R4: result = DblToStr(value.fltVal()); return 1;
    case VT_R8: result = DblToStr(value.dblVal()); return 1;
    case VT_DECIMAL: result = DecToStr(value); return 1;
    case VT_CY: result = CurrencyToText(value.cyVal()); return 1;
    case VT_BSTR: result = value.bstrVal(); return 1;
    case VT_BOOL: result = value.boolVal() ? L"1" : L"0"; return 1;
    case VT_I1:
    case VT_UI1: result = ByteText(static_cast<std::uint8_t>(value.intVal())); return 1;
    // Dates have no text form here: whoever shows dates formats them itself.
    case VT_DATE: result.clear(); return 1;
    default: result.clear(); return 0;  // errors, object references and unknown types
    }
}

// 1 read, 0 the value could not be read (recorded by the recordset), -1 not convertible.
template <class Key, class T, class Convert>
int ReadAs(CADORecordSet& rs, Key key, T& value, Convert convert) {
    _variant_t v;
    if (!rs.GetFieldValue(key, v)) return 0;
    return convert(v, value) ? 1 : -1;
}

int LongOrNothing(const _variant_t& v, long& out) {
    if (IsNothing(v)) {
        out = 0;
        return 1;
    }
    return VariantToLong(v, out);
}

int ULongOrNothing(const _variant_t& v, unsigned long& out) {
    if (IsNothing(v)) {
        out = 0;
        return 1;
    }
    return VariantToULong(v, out);
}

int Text(const _variant_t& v, CString& out) { return VariantToString(v, out, 0); }

}  // namespace

// ---- conversions ----

int VariantToBool(const _variant_t& value, bool& result) {
    return OrFallback([&] {
        const _variant_t v = Plain(value);
        if (IsNothing(v)) {
            result = false;
            return 1;
        }
        if (v.vt() != VT_BOOL) return 0;
        result = v.boolVal();
        return 1;
    });
}

int VariantToInt(const _variant_t& value, int& result) {
    const int converted = OrFallback([&] {
        const _variant_t v = Plain(value);
        if (v.vt() == VT_NULL) {
            result = 0;
            return 1;
        }
        if (v.vt() == VT_BOOL) {  // true is 1 here, not -1
            result = v.boolVal() ? 1 : 0;
            return 1;
        }
        std::int64_t whole = 0;
        if (ToWhole(v, whole) == Outcome::Ok && whole >= INT_MIN && whole <= INT_MAX) {
            result = static_cast<int>(whole);
            return 1;
        }
        return 0;
    });
    if (!converted) result = 0;
    return converted;
}

// The platform converts to VT_I4: a 32-bit range, whatever the width of `long`.
int VariantToLong(const _variant_t& value, long& result) {
    const int converted = OrFallback([&] {
        std::int64_t whole = 0;
        if (ToWhole(value, whole) == Outcome::Ok && whole >= INT32_MIN && whole <= INT32_MAX) {
            result = static_cast<long>(whole);
            return 1;
        }
        return 0;
    });
    if (!converted) result = 0;
    return converted;
}

int VariantToULong(const _variant_t& value, unsigned long& result) {
    const int converted = OrFallback([&] {
        const _variant_t v = Plain(value);
        if (v.vt() == VT_BOOL) {  // the platform takes true (-1) as its 32 bits
            result = v.boolVal() ? 0xFFFFFFFFul : 0ul;
            return 1;
        }
        std::int64_t whole = 0;
        if (ToWhole(v, whole) == Outcome::Ok && whole >= 0 && whole <= static_cast<std::int64_t>(UINT32_MAX)) {
            result = static_cast<unsigned long>(whole);
            return 1;
        }
        return 0;
    });
    if (!converted) result = 0;
    return converted;
}

int VariantToDouble(const _variant_t& value, double& result) {
    const int converted = OrFallback([&] {
        double d = 0;
        if (!ToReal(value, d)) return 0;
        result = d;
        return 1;
    });
    if (!converted) result = 0;
    return converted;
}

int VariantToDateTime(const _variant_t& value, COleDateTime& result) {
    return OrFallback([&] {
        const _variant_t v = Plain(value);
        if (IsNothing(v)) {
            result.m_dt = 0;
            result.m_status = COleDateTime::null;
            return 1;
        }
        if (v.vt() != VT_DATE) return 0;
        result.m_dt = v.dblVal();
        result.m_status = COleDateTime::valid;
        return 1;
    });
}

int VariantToCurrency(const _variant_t& value, COleCurrency& result) {
    return OrFallback([&] {
        const _variant_t v = Plain(value);
        if (IsNothing(v)) {
            result.m_cur.int64 = 0;
            result.m_status = COleCurrency::null;
            return 1;
        }
        if (v.vt() != VT_CY) return 0;
        result.m_cur = v.cyVal();
        result.m_status = COleCurrency::valid;
        return 1;
    });
}

// `format` is reserved: every type has one text form.
int VariantToString(const _variant_t& value, CString& result, int /*format*/) {
    const int converted = OrFallback([&] { return ToString(value, result) ? 1 : 0; });
    if (!converted) result.clear();
    return converted;
}

// ---- typed field values ----

int CADORecordSet::TypedResult(int outcome) {
    if (outcome >= 0) return outcome;
    Record(kTypeMismatch, kTypeMismatchCode);
    return 0;
}

int CADORecordSet::GetFieldValue(int index, double& value) {
    return TypedResult(ReadAs(*this, index, value, VariantToDouble));
}
int CADORecordSet::GetFieldValue(const wchar_t* name, double& value) {
    return TypedResult(ReadAs(*this, name, value, VariantToDouble));
}
int CADORecordSet::GetFieldValue(int index, long& value) {
    return TypedResult(ReadAs(*this, index, value, LongOrNothing));
}
int CADORecordSet::GetFieldValue(const wchar_t* name, long& value) {
    return TypedResult(ReadAs(*this, name, value, LongOrNothing));
}
int CADORecordSet::GetFieldValue(int index, unsigned long& value) {
    return TypedResult(ReadAs(*this, index, value, ULongOrNothing));
}
int CADORecordSet::GetFieldValue(const wchar_t* name, unsigned long& value) {
    return TypedResult(ReadAs(*this, name, value, ULongOrNothing));
}
int CADORecordSet::GetFieldValue(int index, int& value) {
    return TypedResult(ReadAs(*this, index, value, VariantToInt));
}
int CADORecordSet::GetFieldValue(const wchar_t* name, int& value) {
    return TypedResult(ReadAs(*this, name, value, VariantToInt));
}
int CADORecordSet::GetFieldValue(int index, bool& value) {
    return TypedResult(ReadAs(*this, index, value, VariantToBool));
}
int CADORecordSet::GetFieldValue(const wchar_t* name, bool& value) {
    return TypedResult(ReadAs(*this, name, value, VariantToBool));
}
int CADORecordSet::GetFieldValue(int index, COleDateTime& value) {
    return TypedResult(ReadAs(*this, index, value, VariantToDateTime));
}
int CADORecordSet::GetFieldValue(const wchar_t* name, COleDateTime& value) {
    return TypedResult(ReadAs(*this, name, value, VariantToDateTime));
}
int CADORecordSet::GetFieldValue(int index, COleCurrency& value) {
    return TypedResult(ReadAs(*this, index, value, VariantToCurrency));
}
int CADORecordSet::GetFieldValue(const wchar_t* name, COleCurrency& value) {
    return TypedResult(ReadAs(*this, name, value, VariantToCurrency));
}
// `format` is reserved (see VariantToString).
int CADORecordSet::GetFieldValue(int index, CString& value, int /*format*/) {
    return TypedResult(ReadAs(*this, index, value, Text));
}
int CADORecordSet::GetFieldValue(const wchar_t* name, CString& value, int /*format*/) {
    return TypedResult(ReadAs(*this, name, value, Text));
}

int CADORecordSet::IsFieldNull(int index) {
    _variant_t v;
    return GetFieldValue(index, v) && v.vt() == VT_NULL ? 1 : 0;
}

int CADORecordSet::IsFieldNull(const wchar_t* name) {
    _variant_t v;
    return GetFieldValue(name, v) && v.vt() == VT_NULL ? 1 : 0;
}

int CADORecordSet::IsFieldEmpty(int index) {
    _variant_t v;
    return GetFieldValue(index, v) && IsNothing(v) ? 1 : 0;
}

int CADORecordSet::IsFieldEmpty(const wchar_t* name) {
    _variant_t v;
    return GetFieldValue(name, v) && IsNothing(v) ? 1 : 0;
}

// ---- long data ----

// The bytes of a text or binary field: binary values as they are, text as UTF-16 code units in
// the machine's byte order. They are copied in pieces of 100 bytes, never more than the
// GetChunkSize bytes that the buffer holds; a value that does not fit fails.
int CADORecordSet::GetChunk(int index, void* buffer) {
    try {
        _variant_t v;
        if (!GetFieldValue(index, v)) return 0;
        const ColumnInfo& column = m_pRecordset->rows->columns[static_cast<std::size_t>(index)];
        if (column.kind != ValueKind::Text && column.kind != ValueKind::Bytes) {
            Record(kIllegalOperation, kIllegalOperationCode);
            return 0;
        }
        std::u16string text;
        const std::uint8_t* data = nullptr;
        std::size_t total = 0;
        if (v.vt() == VT_BSTR) {
            text = WideToUtf16(v.bstrVal());
            data = reinterpret_cast<const std::uint8_t*>(text.data());
            total = text.size() * sizeof(char16_t);
        } else if ((v.vt() & VT_ARRAY) && v.parray()) {
            data = v.parray()->bytes.data();
            total = v.parray()->bytes.size();
        } else if (!IsNothing(v)) {
            return TypedResult(-1);
        }
        if (total == 0) return 1;
        const long room = GetChunkSize(index);
        if (room < 0) return 0;
        if (!buffer) {
            Record(L"", ZE_POINTER);
            return 0;
        }
        const std::size_t limit = std::min(total, static_cast<std::size_t>(room));
        auto* out = static_cast<std::uint8_t*>(buffer);
        for (std::size_t done = 0; done < limit; done += 100)
            std::memcpy(out + done, data + done, std::min<std::size_t>(100, limit - done));
        if (limit < total) {
            Record(Format(L"The value has %I64u bytes; the buffer holds %ld.", static_cast<std::uint64_t>(total), room),
                   ZE_INVALIDARG);
            return 0;
        }
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADORecordSet::GetChunk(const wchar_t* name, void* buffer) {
    long index = FindField(name);
    return index < 0 ? 0 : GetChunk(static_cast<int>(index), buffer);
}

// ---- text export ----

// The records from the current one on, at most `rows` of them (0: GetRecordCount(), below 0:
// all): the values as text, each followed by the column delimiter except the last of a record,
// which is followed by the row delimiter. The position ends after the last record read (EOF
// when every record was read). An empty text on failure (recorded).
CString CADORecordSet::GetString(const wchar_t* columnDelimiter, const wchar_t* rowDelimiter, const wchar_t* nullText,
                                 long rows) {
    if (!m_pRecordset) {
        Record(kClosed, ZE_POINTER);
        return CString();
    }
    if (!HasCurrentRow()) return CString();
    try {
        const std::wstring columnText = columnDelimiter && *columnDelimiter ? columnDelimiter : L"\t";
        const std::wstring rowText = rowDelimiter && *rowDelimiter ? rowDelimiter : L"\r";
        const std::wstring nothing = nullText ? nullText : L"";
        long limit = rows > 0 ? rows : rows == 0 ? static_cast<long>(GetRecordCount()) : LONG_MAX;
        const int columns = static_cast<int>(m_pRecordset->rows->columns.size());
        std::wstring out, text;
        _variant_t v;
        for (long r = 0; r < limit && !IsEOF(); ++r) {
            for (int i = 0; i < columns; ++i) {
                if (i > 0) out += columnText;
                if (!GetFieldValue(i, v)) return CString();
                if (IsNothing(v)) out += nothing;
                else if (VariantToText(v, text)) out += text;
            }
            out += rowText;
            const _RecordsetPtr before = m_pRecordset;
            const long position = m_pRecordset->position;
            MoveNext();
            if (m_pRecordset != before || m_pRecordset->position == position) return CString();  // the move failed
        }
        return out;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return CString();
    }
}

}  // namespace zentra
