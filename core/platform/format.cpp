#include "zentra/format.h"

#include <charconv>
#include <cmath>

namespace zentra {

std::int64_t FormatArg::AsSigned() const {
    switch (kind_) {
    case Kind::Signed: return i_;
    case Kind::Unsigned:
    case Kind::Char: {
        // Reinterpret the value's own width as signed, as printf does for "%d" with an
        // unsigned argument.
        if (bytes_ >= 8) return static_cast<std::int64_t>(u_);
        std::uint64_t mask = (std::uint64_t{1} << (bytes_ * 8)) - 1;
        std::uint64_t v = u_ & mask;
        std::uint64_t sign = std::uint64_t{1} << (bytes_ * 8 - 1);
        return (v & sign) ? static_cast<std::int64_t>(v | ~mask) : static_cast<std::int64_t>(v);
    }
    case Kind::Float: return static_cast<std::int64_t>(d_);
    default: return 0;
    }
}

std::uint64_t FormatArg::AsUnsigned() const {
    switch (kind_) {
    case Kind::Unsigned:
    case Kind::Char: return u_;
    case Kind::Signed: {
        if (bytes_ >= 8) return static_cast<std::uint64_t>(i_);
        std::uint64_t mask = (std::uint64_t{1} << (bytes_ * 8)) - 1;
        return static_cast<std::uint64_t>(i_) & mask;
    }
    case Kind::Float: return static_cast<std::uint64_t>(d_);
    default: return 0;
    }
}

double FormatArg::AsDouble() const {
    switch (kind_) {
    case Kind::Float: return d_;
    case Kind::Signed: return static_cast<double>(i_);
    case Kind::Unsigned:
    case Kind::Char: return static_cast<double>(u_);
    default: return 0;
    }
}

namespace {

struct Spec {
    bool left = false, plus = false, space = false, zero = false, alt = false;
    int width = 0;
    int precision = -1;
    int lengthBits = 0;  // 8 for hh, 16 for h, 0 when not given
    wchar_t conv = 0;
};

void Pad(std::wstring& out, std::wstring_view body, const Spec& spec, bool numeric) {
    int len = static_cast<int>(body.size());
    if (spec.width <= len) {
        out.append(body);
        return;
    }
    size_t fill = static_cast<size_t>(spec.width - len);
    if (spec.left) {
        out.append(body);
        out.append(fill, L' ');
    } else if (spec.zero && numeric) {
        // Zeros go after a sign or a 0x prefix.
        size_t prefix = 0;
        if (!body.empty() && (body[0] == L'-' || body[0] == L'+' || body[0] == L' ')) prefix = 1;
        if (body.size() >= prefix + 2 && body[prefix] == L'0' && (body[prefix + 1] == L'x' || body[prefix + 1] == L'X'))
            prefix += 2;
        out.append(body.substr(0, prefix));
        out.append(fill, L'0');
        out.append(body.substr(prefix));
    } else {
        out.append(fill, L' ');
        out.append(body);
    }
}

std::wstring Digits(std::uint64_t v, int base, bool upper) {
    const wchar_t* set = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    wchar_t buf[72];
    int n = 0;
    do {
        buf[n++] = set[v % static_cast<unsigned>(base)];
        v /= static_cast<unsigned>(base);
    } while (v != 0);
    std::wstring s;
    s.reserve(static_cast<size_t>(n));
    while (n > 0) s.push_back(buf[--n]);
    return s;
}

void FormatInteger(std::wstring& out, const FormatArg& arg, Spec spec) {
    bool negative = false;
    std::uint64_t magnitude = 0;
    int base = 10;
    bool upper = false;
    switch (spec.conv) {
    case L'd':
    case L'i': {
        std::int64_t v = arg.AsSigned();
        if (spec.lengthBits == 16) v = static_cast<std::int16_t>(v);
        if (spec.lengthBits == 8) v = static_cast<std::int8_t>(v);
        negative = v < 0;
        magnitude = negative ? (~static_cast<std::uint64_t>(v) + 1) : static_cast<std::uint64_t>(v);
        break;
    }
    default: {
        std::uint64_t v = arg.AsUnsigned();
        if (spec.lengthBits == 16) v = static_cast<std::uint16_t>(v);
        if (spec.lengthBits == 8) v = static_cast<std::uint8_t>(v);
        magnitude = v;
        if (spec.conv == L'x') base = 16;
        if (spec.conv == L'X') base = 16, upper = true;
        if (spec.conv == L'o') base = 8;
        break;
    }
    }
    std::wstring digits = (spec.precision == 0 && magnitude == 0) ? std::wstring() : Digits(magnitude, base, upper);
    if (spec.precision > static_cast<int>(digits.size()))
        digits.insert(0, static_cast<size_t>(spec.precision) - digits.size(), L'0');
    std::wstring body;
    if (negative) body = L"-";
    else if (spec.plus && (spec.conv == L'd' || spec.conv == L'i')) body = L"+";
    else if (spec.space && (spec.conv == L'd' || spec.conv == L'i')) body = L" ";
    if (spec.alt && magnitude != 0) {
        if (base == 16) body += upper ? L"0X" : L"0x";
        if (base == 8 && (digits.empty() || digits[0] != L'0')) body += L"0";
    }
    body += digits;
    if (spec.precision >= 0) spec.zero = false;
    Pad(out, body, spec, true);
}

void FormatFloat(std::wstring& out, double v, Spec spec) {
    std::wstring body;
    if (std::isnan(v) || std::isinf(v)) {
        bool upper = spec.conv == L'F' || spec.conv == L'E' || spec.conv == L'G';
        if (std::isnan(v)) body = upper ? L"NAN" : L"nan";
        else body = std::wstring(v < 0 ? L"-" : (spec.plus ? L"+" : L"")) + (upper ? L"INF" : L"inf");
        spec.zero = false;
        Pad(out, body, spec, true);
        return;
    }
    int precision = spec.precision < 0 ? 6 : spec.precision;
    std::chars_format fmt = std::chars_format::fixed;
    wchar_t c = spec.conv;
    if (c == L'e' || c == L'E') fmt = std::chars_format::scientific;
    if (c == L'g' || c == L'G') {
        fmt = std::chars_format::general;
        if (precision == 0) precision = 1;
    }
    char buf[512];
    auto res = std::to_chars(buf, buf + sizeof buf, v, fmt, precision);
    std::string text = res.ec == std::errc() ? std::string(buf, res.ptr) : std::string("0");
    if (fmt == std::chars_format::general && spec.alt == false) {
        // to_chars already drops trailing zeros for the general form.
    }
    // printf writes at least two exponent digits, as to_chars does.
    for (char& ch : text)
        if (ch == 'e' && (c == L'E' || c == L'G')) ch = 'E';
    if (!text.empty() && text[0] != '-') {
        if (spec.plus) body = L"+";
        else if (spec.space) body = L" ";
    }
    for (char ch : text) body.push_back(static_cast<wchar_t>(ch));
    Pad(out, body, spec, true);
}

// The arguments, taken in turn.
class ArgCursor {
public:
    ArgCursor(const FormatArg* args, size_t count) : args_(args), count_(count) {}
    const FormatArg* Take() { return next_ < count_ ? &args_[next_++] : nullptr; }

private:
    const FormatArg* args_;
    size_t count_;
    size_t next_ = 0;
};

// A width or precision written as digits, at most 4096.
int Number(std::wstring_view format, size_t& i, int value) {
    while (i < format.size() && format[i] >= L'0' && format[i] <= L'9') {
        if (value < 4096) value = value * 10 + (format[i] - L'0');
        ++i;
    }
    return value > 4096 ? 4096 : value;
}

// The flags, width, precision and length of the conversion at `i` (after its '%'); `i` ends at
// the conversion character.
void ParseSpec(std::wstring_view format, size_t& i, Spec& spec, ArgCursor& args) {
    const size_t n = format.size();
    for (; i < n; ++i) {
        wchar_t f = format[i];
        if (f == L'-') spec.left = true;
        else if (f == L'+') spec.plus = true;
        else if (f == L' ') spec.space = true;
        else if (f == L'0') spec.zero = true;
        else if (f == L'#') spec.alt = true;
        else break;
    }
    if (i < n && format[i] == L'*') {
        const FormatArg* w = args.Take();
        long long width = w ? w->AsSigned() : 0;
        if (width < 0) spec.left = true, width = -width;
        spec.width = static_cast<int>(width > 4096 ? 4096 : width);
        ++i;
    } else {
        spec.width = Number(format, i, spec.width);
    }
    if (i < n && format[i] == L'.') {
        ++i;
        spec.precision = 0;
        if (i < n && format[i] == L'*') {
            const FormatArg* p = args.Take();
            long long precision = p ? p->AsSigned() : 0;
            spec.precision = precision < 0 ? -1 : static_cast<int>(precision > 4096 ? 4096 : precision);
            ++i;
        } else {
            spec.precision = Number(format, i, spec.precision);
        }
    }
    // Length modifiers: the arguments carry their own sizes, so only h and hh narrow.
    while (i < n) {
        wchar_t m = format[i];
        if (m == L'h') {
            spec.lengthBits = spec.lengthBits == 16 ? 8 : 16;
            ++i;
        } else if (m == L'l' || m == L'L' || m == L'q' || m == L'j' || m == L'z' || m == L't' || m == L'w') {
            ++i;
        } else if (m == L'I') {
            ++i;
            if (i + 1 < n &&
                ((format[i] == L'6' && format[i + 1] == L'4') || (format[i] == L'3' && format[i + 1] == L'2')))
                i += 2;
        } else {
            break;
        }
    }
}

// One conversion of each kind: d i u x X o, f F e E g G, c C, and s S.
void ConvertInteger(std::wstring& out, const FormatArg& a, const Spec& spec) {
    if (a.kind() == FormatArg::Kind::Text) {
        Pad(out, a.text(), spec, false);
    } else if (a.kind() == FormatArg::Kind::Float) {
        FormatArg whole(static_cast<long long>(a.AsDouble()));
        FormatInteger(out, whole, spec);
    } else {
        FormatInteger(out, a, spec);
    }
}

void ConvertFloat(std::wstring& out, const FormatArg& a, const Spec& spec) {
    if (a.kind() == FormatArg::Kind::Text) Pad(out, a.text(), spec, false);
    else FormatFloat(out, a.AsDouble(), spec);
}

void ConvertChar(std::wstring& out, const FormatArg& a, const Spec& spec) {
    wchar_t c = static_cast<wchar_t>(a.AsUnsigned());
    if (a.kind() == FormatArg::Kind::Text) c = a.text().empty() ? 0 : a.text()[0];
    if (c == 0) return;
    std::wstring one(1, c);
    Pad(out, one, spec, false);
}

void ConvertText(std::wstring& out, const FormatArg& a, const Spec& spec) {
    if (a.kind() == FormatArg::Kind::Text) {
        std::wstring_view text = a.IsNullText() ? std::wstring_view(L"(null)") : a.text();
        if (spec.precision >= 0 && static_cast<size_t>(spec.precision) < text.size())
            text = text.substr(0, static_cast<size_t>(spec.precision));
        Pad(out, text, spec, false);
    } else if (a.kind() == FormatArg::Kind::Float) {
        Spec g = spec;
        g.conv = L'g';
        g.precision = 15;
        FormatFloat(out, a.AsDouble(), g);
    } else if (a.kind() == FormatArg::Kind::Char) {
        std::wstring one(1, static_cast<wchar_t>(a.AsUnsigned()));
        Pad(out, one, spec, false);
    } else {
        Spec d = spec;
        d.conv = a.kind() == FormatArg::Kind::Unsigned ? L'u' : L'd';
        d.precision = -1;
        FormatInteger(out, a, d);
    }
}

// The converter of a conversion character; null for one we do not know.
using Converter = void (*)(std::wstring&, const FormatArg&, const Spec&);
Converter ConverterOf(wchar_t conv) {
    switch (conv) {
    case L'd':
    case L'i':
    case L'u':
    case L'x':
    case L'X':
    case L'o': return ConvertInteger;
    case L'f':
    case L'F':
    case L'e':
    case L'E':
    case L'g':
    case L'G': return ConvertFloat;
    case L'c':
    case L'C': return ConvertChar;
    case L's':
    case L'S': return ConvertText;
    default: return nullptr;
    }
}

}  // namespace

std::wstring FormatList(std::wstring_view format, const FormatArg* args, size_t count) {
    std::wstring out;
    out.reserve(format.size() + 16 * count);
    ArgCursor cursor(args, count);
    size_t i = 0;
    const size_t n = format.size();
    while (i < n) {
        if (format[i] != L'%') {
            size_t stop = format.find(L'%', i);
            if (stop == std::wstring_view::npos) stop = n;
            out.append(format.substr(i, stop - i));
            i = stop;
            continue;
        }
        size_t start = i++;
        if (i < n && format[i] == L'%') {
            out.push_back(L'%');
            ++i;
            continue;
        }
        Spec spec;
        ParseSpec(format, i, spec, cursor);
        if (i >= n) {
            out.append(format.substr(start));  // an incomplete conversion is kept as text
            break;
        }
        spec.conv = format[i++];
        const Converter convert = ConverterOf(spec.conv);
        if (!convert) {
            // Not a conversion we know: keep the text as written.
            out.append(format.substr(start, i - start));
            continue;
        }
        if (const FormatArg* a = cursor.Take()) convert(out, *a, spec);
    }
    return out;
}

}  // namespace zentra
