// The variant: one database or display value tagged with its VT_* type code.
//
// The type codes, the 96-bit decimal, the 64-bit currency and the OLE date are those of OLE
// Automation, so that values keep the exact semantics the shell and the data-access layer rely on.
// Arrays are one-dimensional with lower bound 0, of VT_VARIANT or VT_UI1 / VT_I1 elements.
// By-reference variants (VT_BYREF | type) point at a value owned elsewhere; they are read only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zentra {

using VARTYPE = std::uint16_t;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

// OLE Automation's boolean: -1 is true, 0 is false.
using VARIANT_BOOL = std::int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// The error code of an omitted optional argument.
constexpr std::int32_t DISP_E_PARAMNOTFOUND = static_cast<std::int32_t>(0x80020004u);

// 96-bit unsigned mantissa, a power-of-ten scale 0..28 and a sign: value = (-1)^neg * m / 10^scale.
struct DECIMAL {
    std::uint8_t scale = 0;
    std::uint8_t sign = 0;  // DECIMAL_NEG (0x80) when negative
    std::uint32_t Hi32 = 0;
    std::uint64_t Lo64 = 0;
};
constexpr std::uint8_t DECIMAL_NEG = 0x80;

// Currency: a 64-bit integer count of ten-thousandths.
struct CY {
    std::int64_t int64 = 0;
};

// OLE date: days since 1899-12-30 as a double; the fraction is the time of day.
using DATE = double;

struct SYSTEMTIME {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;
    std::uint16_t wDayOfWeek = 0;
    std::uint16_t wDay = 0;
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};

// A date and time as an OLE date with a status.
struct COleDateTime {
    enum DateTimeStatus : std::int32_t { valid = 0, invalid = 1, null = 2 };
    DATE m_dt = 0;
    DateTimeStatus m_status = valid;
};

// An amount of money (currency in ten-thousandths) with a status.
struct COleCurrency {
    enum CurrencyStatus : std::int32_t { valid = 0, invalid = 1, null = 2 };
    CY m_cur{};
    CurrencyStatus m_status = valid;
};

class _variant_t;

// A one-dimensional array with lower bound 0 and a fixed element type: VT_VARIANT (elements are
// variants) or VT_UI1 / VT_I1 (elements are bytes).
struct SAFEARRAY {
    VARTYPE elementType = VT_VARIANT;
    std::vector<_variant_t> variants;  // VT_VARIANT arrays
    std::vector<std::uint8_t> bytes;   // VT_UI1 / VT_I1 arrays
    std::size_t Count() const;
};

class _variant_t {
public:
    _variant_t() = default;  // VT_EMPTY
    _variant_t(const _variant_t& other);
    _variant_t(_variant_t&& other) noexcept;
    _variant_t& operator=(const _variant_t& other);
    _variant_t& operator=(_variant_t&& other) noexcept;
    ~_variant_t();

    // Typed constructors. Integers pick the type code of their C++ type (short VT_I2, int VT_INT
    // when `asInt`, otherwise VT_I4, and so on); use the factories below to be explicit.
    static _variant_t Null();
    static _variant_t Error(std::int32_t code);  // VT_ERROR, e.g. DISP_E_PARAMNOTFOUND
    static _variant_t Bool(bool value);
    static _variant_t I1(std::int8_t value);
    static _variant_t UI1(std::uint8_t value);
    static _variant_t I2(std::int16_t value);
    static _variant_t UI2(std::uint16_t value);
    static _variant_t I4(std::int32_t value);
    static _variant_t UI4(std::uint32_t value);
    static _variant_t Int(std::int32_t value);    // VT_INT
    static _variant_t UInt(std::uint32_t value);  // VT_UINT
    static _variant_t I8(std::int64_t value);
    static _variant_t UI8(std::uint64_t value);
    static _variant_t R4(float value);
    static _variant_t R8(double value);
    static _variant_t Currency(CY value);
    static _variant_t Date(DATE value);
    static _variant_t Decimal(DECIMAL value);
    static _variant_t Bstr(std::wstring_view text);
    static _variant_t Bytes(const void* data, std::size_t length);  // VT_ARRAY | VT_UI1
    static _variant_t Array(std::shared_ptr<SAFEARRAY> array);      // VT_ARRAY | element type
    // A by-reference variant pointing at `target` (not owned; must outlive the variant).
    // `type` is the plain type code of the target. The target is an object of the C++ type that
    // holds such a value: std::int8_t (VT_I1), std::uint8_t (VT_UI1), std::int16_t (VT_I2),
    // std::uint16_t (VT_UI2), std::int32_t (VT_I4, VT_INT, VT_ERROR), std::uint32_t (VT_UI4,
    // VT_UINT), std::int64_t (VT_I8), std::uint64_t (VT_UI8), float (VT_R4), double (VT_R8,
    // VT_DATE), CY, DECIMAL, std::wstring (VT_BSTR), VARIANT_BOOL (VT_BOOL), _variant_t
    // (VT_VARIANT) and SAFEARRAY (any VT_ARRAY | type).
    static _variant_t ByRef(VARTYPE type, void* target);

    VARTYPE vt() const { return vt_; }
    bool IsEmpty() const { return vt_ == VT_EMPTY; }
    bool IsNull() const { return vt_ == VT_NULL; }
    void Clear();

    // Raw accessors: valid only for the matching type code (by value).
    bool boolVal() const { return i64_ != 0; }
    std::int64_t intVal() const { return i64_; }  // every signed or unsigned integer type
    std::uint64_t uintVal() const { return static_cast<std::uint64_t>(i64_); }
    double dblVal() const { return dbl_; }  // VT_R4, VT_R8, VT_DATE
    float fltVal() const { return static_cast<float>(dbl_); }
    CY cyVal() const { return CY{i64_}; }
    DECIMAL decVal() const { return dec_; }
    const std::wstring& bstrVal() const { return text_; }
    std::int32_t scode() const { return static_cast<std::int32_t>(i64_); }
    const SAFEARRAY* parray() const { return array_.get(); }
    SAFEARRAY* parray() { return array_.get(); }
    void* byref() const { return ref_; }

    // For a by-reference variant, a by-value copy of the value it refers to (VT_EMPTY when the
    // reference is null or of a type that cannot be held); otherwise a copy of this variant.
    _variant_t ByValue() const;

    // Structural equality: same type code and the same stored value (decimals compare their
    // scale, sign and mantissa; by-reference variants compare their targets' addresses; arrays
    // compare element by element).
    bool operator==(const _variant_t& other) const;

private:
    VARTYPE vt_ = VT_EMPTY;
    std::int64_t i64_ = 0;
    double dbl_ = 0;
    DECIMAL dec_{};
    std::wstring text_;
    std::shared_ptr<SAFEARRAY> array_;  // deep-copied on copy: a copy never shares its elements
    void* ref_ = nullptr;
};

// ---- Conversions with US-English rules (locale 1033), whatever the process locale. ----

// Any variant to text, as VariantChangeTypeEx(VT_BSTR, 1033) renders it; false when the type
// cannot be converted. Byte arrays become one character per byte (the bytes as they are).
bool VariantToText(const _variant_t& value, std::wstring& text);

// OLE date <-> calendar time (whole seconds, rounded to the nearest second like the platform).
bool VariantTimeToSystemTime(DATE date, SYSTEMTIME& time);
bool SystemTimeToVariantTime(const SYSTEMTIME& time, DATE& date);

// Decimal helpers. Text is plain decimal notation ("-123.4500"); a text that does not fit 96 bits
// or 28 decimals fails.
bool DecimalFromText(std::wstring_view text, DECIMAL& value);
std::wstring DecimalToText(const DECIMAL& value);
// A decimal's text as DecimalToText writes it, as values show it: without the zeros that end the
// fraction (nor a point left alone), and "-0" as "0".
template <class Char>
std::basic_string_view<Char> ShownDecimalText(std::basic_string_view<Char> text) {
    if (text.find(Char('.')) != std::basic_string_view<Char>::npos) {
        while (text.back() == Char('0')) text.remove_suffix(1);
        if (text.back() == Char('.')) text.remove_suffix(1);
    }
    if (text.size() == 2 && text[0] == Char('-') && text[1] == Char('0')) text.remove_prefix(1);
    return text;
}
double DecimalToDouble(const DECIMAL& value);

// Currency as text in locale 1033 with flags 0 ("12.5", "-0.0001", no grouping).
std::wstring CurrencyToText(CY value);

}  // namespace zentra
