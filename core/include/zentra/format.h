// printf-style formatting of wide text with type-checked arguments.
//
// Formats keep the spelling of the program's texts: "%s" takes a wide string, "%d", "%ld", "%u",
// "%lu", "%I64d", "%03d", "%02X", "%.3f", "%%" and the usual flags, width and precision. The
// arguments are captured with their C++ types, so a type that cannot be formatted does not compile
// and a conversion never reads past the arguments given: a missing argument formats as nothing.
// Numbers are always written with US-English rules (a point as decimal separator, no grouping).
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

namespace zentra {

class FormatArg {
public:
    enum class Kind { None, Signed, Unsigned, Float, Text, Char };

    FormatArg() = default;

    template <std::integral T>
    FormatArg(T value) {  // NOLINT(google-explicit-constructor)
        if constexpr (std::is_same_v<T, wchar_t> || std::is_same_v<T, char> || std::is_same_v<T, char16_t> ||
                      std::is_same_v<T, char32_t>) {
            kind_ = Kind::Char;
            u_ = static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<T>>(value));
        } else if constexpr (std::is_same_v<T, bool>) {
            kind_ = Kind::Signed;
            i_ = value ? 1 : 0;
            bytes_ = sizeof(int);
        } else if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::Signed;
            i_ = value;
            bytes_ = sizeof(T);
        } else {
            kind_ = Kind::Unsigned;
            u_ = value;
            bytes_ = sizeof(T);
        }
    }

    template <std::floating_point T>
    FormatArg(T value) : kind_(Kind::Float), d_(static_cast<double>(value)) {}  // NOLINT

    FormatArg(const wchar_t* text)  // NOLINT
        : kind_(Kind::Text), text_(text ? text : L""), null_(text == nullptr) {}
    FormatArg(wchar_t* text) : FormatArg(static_cast<const wchar_t*>(text)) {}  // NOLINT
    FormatArg(const std::wstring& text) : kind_(Kind::Text), text_(text) {}     // NOLINT
    FormatArg(std::wstring_view text) : kind_(Kind::Text), text_(text) {}       // NOLINT

    // Narrow text and raw pointers are not formattable: convert them first.
    FormatArg(const char*) = delete;
    FormatArg(const std::string&) = delete;
    FormatArg(const void*) = delete;

    Kind kind() const { return kind_; }
    std::int64_t AsSigned() const;
    std::uint64_t AsUnsigned() const;
    double AsDouble() const;
    std::wstring_view text() const { return text_; }
    bool IsNullText() const { return null_; }
    int bytes() const { return bytes_; }

private:
    Kind kind_ = Kind::None;
    std::int64_t i_ = 0;
    std::uint64_t u_ = 0;
    double d_ = 0;
    std::wstring_view text_;
    bool null_ = false;
    int bytes_ = 8;
};

// Formats with an argument list that was captured by the caller.
std::wstring FormatList(std::wstring_view format, const FormatArg* args, size_t count);

template <class... Args>
std::wstring Format(std::wstring_view format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return FormatList(format, nullptr, 0);
    } else {
        const FormatArg list[] = {FormatArg(args)...};
        return FormatList(format, list, sizeof...(Args));
    }
}

}  // namespace zentra
