#include "zentra/variant.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace zentra {

using uint128 = unsigned __int128;

namespace {

// Largest 96-bit mantissa of a decimal.
constexpr uint128 kDecimalMax = (uint128{1} << 96) - 1;
constexpr int kDecimalMaxScale = 28;

// Range of OLE dates: 0100-01-01 to 9999-12-31 (whole days from 1899-12-30).
constexpr double kDateMinDay = -657434.0;
constexpr double kDateMaxDay = 2958465.0;

// Days from 1899-12-30 to 1970-01-01.
constexpr std::int64_t kOleEpochToUnix = 25569;

template <class T>
std::wstring IntegerText(T value) {
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::wstring(buf, res.ptr);
}

std::wstring Uint128Text(uint128 value) {
    if (value == 0) return L"0";
    wchar_t buf[48];
    int pos = 48;
    while (value != 0) {
        buf[--pos] = static_cast<wchar_t>(L'0' + static_cast<int>(value % 10));
        value /= 10;
    }
    return std::wstring(buf + pos, buf + 48);
}

uint128 Mantissa(const DECIMAL& d) { return (uint128{d.Hi32} << 64) | d.Lo64; }

// Real numbers as OLE renders them: "%.15G" for doubles, "%.7G" for floats, with a point as
// decimal separator and never a negative zero.
template <class T>
std::wstring RealText(T value, int digits) {
    if (std::isnan(value)) return L"NaN";
    if (std::isinf(value)) return value < 0 ? L"-Infinity" : L"Infinity";
    if (value == 0) return L"0";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, digits);
    std::wstring text;
    text.reserve(static_cast<size_t>(res.ptr - buf));
    for (const char* p = buf; p != res.ptr; ++p) text.push_back(*p == 'e' ? L'E' : static_cast<wchar_t>(*p));
    return text;
}

// Civil date from a day count relative to 1970-01-01 (proleptic Gregorian).
void CivilFromDays(std::int64_t z, int& year, unsigned& month, unsigned& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(y + (month <= 2 ? 1 : 0));
}

// Day count relative to 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, unsigned month, unsigned day) {
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(int year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && IsLeapYear(year)) return 29;
    return kDays[month - 1];
}

// "M/d/yyyy", "h:mm:ss tt" or both, as en-US renders an OLE date. A date whose whole-day part
// is 0 shows only its time, one without a time of day only its date.
bool DateText(DATE date, std::wstring& text) {
    SYSTEMTIME st;
    if (!VariantTimeToSystemTime(date, st)) return false;
    const double whole = std::trunc(date);
    const double partial = date - whole;
    const bool timeOnly = whole == 0.0;
    const bool dateOnly = !timeOnly && partial > -1e-12 && partial < 1e-12;
    text.clear();
    if (!timeOnly) {
        text += IntegerText(st.wMonth);
        text += L'/';
        text += IntegerText(st.wDay);
        text += L'/';
        std::wstring year = IntegerText(st.wYear);
        if (year.size() < 4) text.append(4 - year.size(), L'0');
        text += year;
    }
    if (!dateOnly) {
        if (!text.empty()) text += L' ';
        const unsigned hour12 = st.wHour % 12 == 0 ? 12u : st.wHour % 12u;
        text += IntegerText(hour12);
        text += L':';
        if (st.wMinute < 10) text += L'0';
        text += IntegerText(st.wMinute);
        text += L':';
        if (st.wSecond < 10) text += L'0';
        text += IntegerText(st.wSecond);
        text += st.wHour < 12 ? L" AM" : L" PM";
    }
    return true;
}

bool ByteArrayText(const SAFEARRAY& array, std::wstring& text) {
    text.clear();
    text.reserve(array.bytes.size());
    for (std::uint8_t b : array.bytes) text.push_back(static_cast<wchar_t>(b));
    return true;
}

// Text of a variant that holds its value (not by reference).
bool ValueText(const _variant_t& v, std::wstring& text) {
    const VARTYPE vt = v.vt();
    if (vt & VT_ARRAY) {
        const VARTYPE element = vt & VT_TYPEMASK;
        if ((element == VT_UI1 || element == VT_I1) && v.parray() != nullptr) return ByteArrayText(*v.parray(), text);
        return false;
    }
    switch (vt) {
    case VT_EMPTY: text.clear(); return true;
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_INT: text = IntegerText(v.intVal()); return true;
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_UINT: text = IntegerText(v.uintVal()); return true;
    case VT_R4: text = RealText(v.fltVal(), 7); return true;
    case VT_R8: text = RealText(v.dblVal(), 15); return true;
    case VT_CY: text = CurrencyToText(v.cyVal()); return true;
    case VT_DATE: return DateText(v.dblVal(), text);
    case VT_BSTR: text = v.bstrVal(); return true;
    case VT_BOOL: text = v.boolVal() ? L"True" : L"False"; return true;
    case VT_DECIMAL: {
        const DECIMAL d = v.decVal();
        if (d.scale > kDecimalMaxScale) return false;
        const std::wstring digits = DecimalToText(d);
        text = ShownDecimalText(std::wstring_view(digits));
        return true;
    }
    default: return false;  // VT_NULL, VT_ERROR, VT_VARIANT and unknown codes
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// SAFEARRAY and _variant_t

std::size_t SAFEARRAY::Count() const { return elementType == VT_VARIANT ? variants.size() : bytes.size(); }

_variant_t::_variant_t(const _variant_t& other)
    : vt_(other.vt_),
      i64_(other.i64_),
      dbl_(other.dbl_),
      dec_(other.dec_),
      text_(other.text_),
      array_(other.array_ ? std::make_shared<SAFEARRAY>(*other.array_) : nullptr),
      ref_(other.ref_) {}

_variant_t::_variant_t(_variant_t&& other) noexcept
    : vt_(other.vt_),
      i64_(other.i64_),
      dbl_(other.dbl_),
      dec_(other.dec_),
      text_(std::move(other.text_)),
      array_(std::move(other.array_)),
      ref_(other.ref_) {
    other.Clear();
}

_variant_t& _variant_t::operator=(const _variant_t& other) {
    if (this != &other) {
        _variant_t copy(other);
        *this = std::move(copy);
    }
    return *this;
}

_variant_t& _variant_t::operator=(_variant_t&& other) noexcept {
    if (this != &other) {
        vt_ = other.vt_;
        i64_ = other.i64_;
        dbl_ = other.dbl_;
        dec_ = other.dec_;
        text_ = std::move(other.text_);
        array_ = std::move(other.array_);
        ref_ = other.ref_;
        other.Clear();
    }
    return *this;
}

_variant_t::~_variant_t() = default;

void _variant_t::Clear() {
    vt_ = VT_EMPTY;
    i64_ = 0;
    dbl_ = 0;
    dec_ = DECIMAL{};
    text_.clear();
    array_.reset();
    ref_ = nullptr;
}

_variant_t _variant_t::Null() {
    _variant_t v;
    v.vt_ = VT_NULL;
    return v;
}

_variant_t _variant_t::Error(std::int32_t code) {
    _variant_t v;
    v.vt_ = VT_ERROR;
    v.i64_ = code;
    return v;
}

_variant_t _variant_t::Bool(bool value) {
    _variant_t v;
    v.vt_ = VT_BOOL;
    v.i64_ = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

#define ZENTRA_INTEGER_FACTORY(name, type, code)   \
    _variant_t _variant_t::name(type value) {      \
        _variant_t v;                              \
        v.vt_ = code;                              \
        v.i64_ = static_cast<std::int64_t>(value); \
        return v;                                  \
    }

ZENTRA_INTEGER_FACTORY(I1, std::int8_t, VT_I1)
ZENTRA_INTEGER_FACTORY(UI1, std::uint8_t, VT_UI1)
ZENTRA_INTEGER_FACTORY(I2, std::int16_t, VT_I2)
ZENTRA_INTEGER_FACTORY(UI2, std::uint16_t, VT_UI2)
ZENTRA_INTEGER_FACTORY(I4, std::int32_t, VT_I4)
ZENTRA_INTEGER_FACTORY(UI4, std::uint32_t, VT_UI4)
ZENTRA_INTEGER_FACTORY(Int, std::int32_t, VT_INT)
ZENTRA_INTEGER_FACTORY(UInt, std::uint32_t, VT_UINT)
ZENTRA_INTEGER_FACTORY(I8, std::int64_t, VT_I8)
ZENTRA_INTEGER_FACTORY(UI8, std::uint64_t, VT_UI8)

#undef ZENTRA_INTEGER_FACTORY

_variant_t _variant_t::R4(float value) {
    _variant_t v;
    v.vt_ = VT_R4;
    v.dbl_ = value;
    return v;
}

_variant_t _variant_t::R8(double value) {
    _variant_t v;
    v.vt_ = VT_R8;
    v.dbl_ = value;
    return v;
}

_variant_t _variant_t::Currency(CY value) {
    _variant_t v;
    v.vt_ = VT_CY;
    v.i64_ = value.int64;
    return v;
}

_variant_t _variant_t::Date(DATE value) {
    _variant_t v;
    v.vt_ = VT_DATE;
    v.dbl_ = value;
    return v;
}

_variant_t _variant_t::Decimal(DECIMAL value) {
    _variant_t v;
    v.vt_ = VT_DECIMAL;
    v.dec_ = value;
    return v;
}

_variant_t _variant_t::Bstr(std::wstring_view text) {
    _variant_t v;
    v.vt_ = VT_BSTR;
    v.text_.assign(text);
    return v;
}

_variant_t _variant_t::Bytes(const void* data, std::size_t length) {
    _variant_t v;
    v.vt_ = VT_ARRAY | VT_UI1;
    v.array_ = std::make_shared<SAFEARRAY>();
    v.array_->elementType = VT_UI1;
    if (data != nullptr && length > 0) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        v.array_->bytes.assign(p, p + length);
    }
    return v;
}

_variant_t _variant_t::Array(std::shared_ptr<SAFEARRAY> array) {
    _variant_t v;
    if (!array) {
        array = std::make_shared<SAFEARRAY>();
        array->elementType = VT_VARIANT;
    }
    v.vt_ = static_cast<VARTYPE>(VT_ARRAY | (array->elementType & VT_TYPEMASK));
    v.array_ = std::move(array);
    return v;
}

_variant_t _variant_t::ByRef(VARTYPE type, void* target) {
    _variant_t v;
    v.vt_ = static_cast<VARTYPE>(VT_BYREF | (type & (VT_TYPEMASK | VT_ARRAY)));
    v.ref_ = target;
    return v;
}

_variant_t _variant_t::ByValue() const {
    if (!(vt_ & VT_BYREF)) return *this;
    if (ref_ == nullptr) return _variant_t();
    const VARTYPE type = vt_ & static_cast<VARTYPE>(~VT_BYREF);
    if (type & VT_ARRAY) {
        auto copy = std::make_shared<SAFEARRAY>(*static_cast<const SAFEARRAY*>(ref_));
        _variant_t v;
        v.vt_ = type;
        v.array_ = std::move(copy);
        return v;
    }
    switch (type) {
    case VT_I1: return I1(*static_cast<const std::int8_t*>(ref_));
    case VT_UI1: return UI1(*static_cast<const std::uint8_t*>(ref_));
    case VT_I2: return I2(*static_cast<const std::int16_t*>(ref_));
    case VT_UI2: return UI2(*static_cast<const std::uint16_t*>(ref_));
    case VT_I4: return I4(*static_cast<const std::int32_t*>(ref_));
    case VT_UI4: return UI4(*static_cast<const std::uint32_t*>(ref_));
    case VT_INT: return Int(*static_cast<const std::int32_t*>(ref_));
    case VT_UINT: return UInt(*static_cast<const std::uint32_t*>(ref_));
    case VT_I8: return I8(*static_cast<const std::int64_t*>(ref_));
    case VT_UI8: return UI8(*static_cast<const std::uint64_t*>(ref_));
    case VT_ERROR: return Error(*static_cast<const std::int32_t*>(ref_));
    case VT_R4: return R4(*static_cast<const float*>(ref_));
    case VT_R8: return R8(*static_cast<const double*>(ref_));
    case VT_DATE: return Date(*static_cast<const double*>(ref_));
    case VT_CY: return Currency(*static_cast<const CY*>(ref_));
    case VT_DECIMAL: return Decimal(*static_cast<const DECIMAL*>(ref_));
    case VT_BSTR: return Bstr(*static_cast<const std::wstring*>(ref_));
    case VT_BOOL: return Bool(*static_cast<const VARIANT_BOOL*>(ref_) != VARIANT_FALSE);
    case VT_VARIANT: {
        const auto& target = *static_cast<const _variant_t*>(ref_);
        // A variant that refers to another reference is followed once more at most.
        if (target.vt_ & VT_BYREF) {
            if (target.vt_ == (VT_BYREF | VT_VARIANT)) return _variant_t();
            return target.ByValue();
        }
        return target;
    }
    default: return _variant_t();
    }
}

bool _variant_t::operator==(const _variant_t& other) const {
    if (vt_ != other.vt_) return false;
    if (vt_ & VT_BYREF) return ref_ == other.ref_;
    if (vt_ & VT_ARRAY) {
        if (!array_ || !other.array_) return array_ == other.array_;
        return array_->elementType == other.array_->elementType && array_->variants == other.array_->variants &&
               array_->bytes == other.array_->bytes;
    }
    switch (vt_) {
    case VT_EMPTY:
    case VT_NULL: return true;
    case VT_R4:
    case VT_R8:
    case VT_DATE: return dbl_ == other.dbl_;
    case VT_DECIMAL:
        return dec_.scale == other.dec_.scale && dec_.sign == other.dec_.sign && dec_.Hi32 == other.dec_.Hi32 &&
               dec_.Lo64 == other.dec_.Lo64;
    case VT_BSTR: return text_ == other.text_;
    case VT_BOOL: return (i64_ != 0) == (other.i64_ != 0);
    default: return i64_ == other.i64_;
    }
}

// ---------------------------------------------------------------------------------------------
// Conversions

bool VariantToText(const _variant_t& value, std::wstring& text) {
    if (value.vt() & VT_BYREF) {
        if (value.byref() == nullptr) return false;
        const VARTYPE type = value.vt() & static_cast<VARTYPE>(~VT_BYREF);
        if (type & VT_ARRAY) {
            const auto* array = static_cast<const SAFEARRAY*>(value.byref());
            const VARTYPE element = type & VT_TYPEMASK;
            if (element == VT_UI1 || element == VT_I1) return ByteArrayText(*array, text);
            return false;
        }
        if (type == VT_EMPTY || type == VT_NULL) return false;
        const _variant_t plain = value.ByValue();
        if (type == VT_VARIANT) {
            const auto& target = *static_cast<const _variant_t*>(value.byref());
            if (target.vt() == (VT_BYREF | VT_VARIANT)) return false;
            return VariantToText(target, text);
        }
        if (plain.vt() == VT_EMPTY) return false;  // a type that cannot be referenced
        return ValueText(plain, text);
    }
    return ValueText(value, text);
}

bool VariantTimeToSystemTime(DATE date, SYSTEMTIME& time) {
    if (!std::isfinite(date) || date <= kDateMinDay - 1.0 || date >= kDateMaxDay + 1.0) return false;
    const double whole = std::trunc(date);
    // The time of day is the distance of the date from its whole day, in either direction.
    const double seconds = std::fabs(date - whole) * 86400.0;
    std::int64_t secs = static_cast<std::int64_t>(std::floor(seconds + 0.5));
    std::int64_t day = static_cast<std::int64_t>(whole);
    if (secs >= 86400) {
        secs -= 86400;
        ++day;
    }
    int year;
    unsigned month, mday;
    CivilFromDays(day - kOleEpochToUnix, year, month, mday);
    if (year < 100 || year > 9999) return false;
    time.wYear = static_cast<std::uint16_t>(year);
    time.wMonth = static_cast<std::uint16_t>(month);
    time.wDay = static_cast<std::uint16_t>(mday);
    // 1899-12-30 was a Saturday (6).
    time.wDayOfWeek = static_cast<std::uint16_t>(((day + 6) % 7 + 7) % 7);
    time.wHour = static_cast<std::uint16_t>(secs / 3600);
    time.wMinute = static_cast<std::uint16_t>(secs / 60 % 60);
    time.wSecond = static_cast<std::uint16_t>(secs % 60);
    time.wMilliseconds = 0;
    return true;
}

bool SystemTimeToVariantTime(const SYSTEMTIME& time, DATE& date) {
    if (time.wYear < 100 || time.wYear > 9999) return false;
    if (time.wMonth < 1 || time.wMonth > 12) return false;
    if (time.wDay < 1 || time.wDay > DaysInMonth(time.wYear, time.wMonth)) return false;
    if (time.wHour > 23 || time.wMinute > 59 || time.wSecond > 59) return false;
    const std::int64_t day = DaysFromCivil(time.wYear, time.wMonth, time.wDay) + kOleEpochToUnix;
    const double fraction = (time.wHour * 3600.0 + time.wMinute * 60.0 + time.wSecond) / 86400.0;
    // Before 1899-12-30 the time of day counts away from zero.
    date = day < 0 ? static_cast<double>(day) - fraction : static_cast<double>(day) + fraction;
    return true;
}

bool DecimalFromText(std::wstring_view text, DECIMAL& value) {
    // Blanks around the number are allowed.
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';

    // Collect the significant digits and the position of the point.
    std::wstring digits;
    int fractionDigits = 0;
    bool point = false;
    bool anyDigit = false;
    for (; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c >= L'0' && c <= L'9') {
            anyDigit = true;
            if (point) ++fractionDigits;
            if (digits.empty() && c == L'0') continue;  // leading zeros carry nothing
            digits.push_back(c);
        } else if (c == L'.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!anyDigit) return false;
    long exponent = 0;
    if (i < text.size() && (text[i] == L'e' || text[i] == L'E')) {
        ++i;
        bool expNegative = false;
        if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) expNegative = text[i++] == L'-';
        if (i >= text.size()) return false;
        for (; i < text.size(); ++i) {
            if (text[i] < L'0' || text[i] > L'9') return false;
            exponent = exponent * 10 + (text[i] - L'0');
            if (exponent > 1000) return false;
        }
        if (expNegative) exponent = -exponent;
    }
    if (i != text.size()) return false;

    // digits (without leading zeros) times 10^-scale.
    long scale = fractionDigits - exponent;
    // Zeros needed on the right for a negative scale.
    if (scale < 0) {
        if (!digits.empty()) digits.append(static_cast<size_t>(-scale), L'0');
        scale = 0;
    }
    // The mantissa must fit 96 bits and the scale 28: drop zeros that end the fraction until
    // both hold. Other digits are never rounded away.
    auto fits = [&]() {
        if (scale > kDecimalMaxScale) return false;
        if (digits.size() < 29) return true;
        if (digits.size() > 29) return false;
        return digits <= std::wstring(L"79228162514264337593543950335");
    };
    while (!fits() && scale > 0 && !digits.empty() && digits.back() == L'0') {
        digits.pop_back();
        --scale;
    }
    if (digits.empty() && scale > kDecimalMaxScale) scale = kDecimalMaxScale;
    if (!fits()) return false;
    uint128 m = 0;
    for (wchar_t c : digits) m = m * 10 + static_cast<unsigned>(c - L'0');
    if (m > kDecimalMax) return false;
    value.scale = static_cast<std::uint8_t>(scale);
    value.sign = negative ? DECIMAL_NEG : 0;
    value.Hi32 = static_cast<std::uint32_t>(m >> 64);
    value.Lo64 = static_cast<std::uint64_t>(m);
    return true;
}

std::wstring DecimalToText(const DECIMAL& value) {
    std::wstring digits = Uint128Text(Mantissa(value));
    const size_t scale = value.scale;
    if (scale > 0) {
        if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), L'0');
        digits.insert(digits.size() - scale, 1, L'.');
    }
    if (value.sign & DECIMAL_NEG) digits.insert(0, 1, L'-');
    return digits;
}

double DecimalToDouble(const DECIMAL& value) {
    // Through the exact text, so that the result is the double nearest to the decimal.
    const std::wstring text = DecimalToText(value);
    std::string narrow(text.begin(), text.end());
    double result = 0;
    auto res = std::from_chars(narrow.data(), narrow.data() + narrow.size(), result);
    if (res.ec != std::errc()) {
        // Only a scale beyond any double's range can get here.
        const uint128 m = Mantissa(value);
        result = static_cast<double>(m) / std::pow(10.0, value.scale);
        if (value.sign & DECIMAL_NEG) result = -result;
    }
    return result;
}

std::wstring CurrencyToText(CY value) {
    const bool negative = value.int64 < 0;
    const std::uint64_t magnitude =
        negative ? ~static_cast<std::uint64_t>(value.int64) + 1 : static_cast<std::uint64_t>(value.int64);
    std::wstring text = IntegerText(magnitude / 10000);
    std::uint64_t fraction = magnitude % 10000;
    if (fraction != 0) {
        wchar_t buf[5] = {};
        for (int k = 3; k >= 0; --k) {
            buf[k] = static_cast<wchar_t>(L'0' + fraction % 10);
            fraction /= 10;
        }
        int len = 4;
        while (buf[len - 1] == L'0') --len;
        text += L'.';
        text.append(buf, static_cast<size_t>(len));
    }
    if (negative) text.insert(0, 1, L'-');
    return text;
}

}  // namespace zentra
