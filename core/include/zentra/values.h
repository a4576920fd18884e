// Display values: cells split into lines of a column width, number and date conversions that
// follow US-English rules whatever the process locale, restriction arrays for schema queries and
// the DBMS type-name table.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "zentra/text.h"
#include "zentra/variant.h"

namespace zentra {

// One display value and its split into lines no wider than the column width. Line feeds end a
// line (a carriage return just before one is dropped); blank lines are dropped; longer lines are
// cut every `width` characters. An empty value has no line.
class CValue {
public:
    CValue();  // empty text, width 10
    // A null text counts as the empty text. A width below 1 is taken as 1.
    CValue(const wchar_t* text, int width);
    CValue(std::wstring_view text, int width);
    virtual ~CValue();

    CValue(const CValue&) = default;
    CValue& operator=(const CValue&) = default;

    void Set(const wchar_t* text, int width);
    void Set(std::wstring_view text, int width);
    void SetString(const wchar_t* text);
    void SetString(std::wstring_view text);
    void SetColumnWidth(int width);

    const CString& GetString() const { return m_text; }
    int GetColumnWidth() const { return m_width; }
    int GetLineCount() const { return static_cast<int>(m_lines.size()); }
    // Line `index` (0-based); the empty text when there is no such line.
    CString GetLineSring(int index) const;

private:
    CStringArray m_lines;
    CString m_text;
    int m_width = 10;
};

// The cells of one printed row. Owns its values; it cannot be copied.
class CValueArray {
public:
    CValueArray();
    virtual ~CValueArray();
    CValueArray(const CValueArray&) = delete;
    CValueArray& operator=(const CValueArray&) = delete;
    CValueArray(CValueArray&&) noexcept;
    CValueArray& operator=(CValueArray&&) noexcept;

    void AddValue(const wchar_t* text, int width);
    void AddValue(std::wstring_view text, int width);
    void RemoveAll();

    int GetValueCount() const { return static_cast<int>(m_values.size()); }
    // The largest line count of the values added since the last RemoveAll.
    int GetLineCount() const { return m_lineCount; }
    // Line `line` of value `index`; the empty text for any index or line that does not exist.
    CString GetValueString(int line, int index) const;
    // The column width of value `index`; 1 when there is no such value.
    int GetValueColumnWidth(int index) const;

private:
    std::vector<std::unique_ptr<CValue>> m_values;
    int m_lineCount = 0;
};

// Integers as plain decimal text: no grouping, a leading minus sign for negatives.
CString IntToStr(int value);
CString IntToStr(unsigned int value);
CString LongToStr(long value);
CString ULongToStr(unsigned long value);
CString LongLongToStr(std::int64_t value);
CString ULongLongToStr(std::uint64_t value);

// Any variant as text in locale 1033 (point as decimal separator, no grouping); the empty text
// when the variant has no text form (VT_NULL, VT_ERROR, variant arrays).
CString DecToStr(const _variant_t& value);
// A double with up to 15 significant digits, a float with up to 7 (its own digits, not those of
// the widened double).
CString DblToStr(double value);
CString DblToStr(float value);

// OLE date <-> calendar time keeping the milliseconds. Non-zero on success. For dates before
// 1899-12-30 the time of day counts away from zero, as in every OLE date.
int VariantToSystemTimeWithMilliseconds(double date, SYSTEMTIME& time);
// Fails (0) for a calendar time outside 0100-01-01..9999-12-31, an invalid field or
// milliseconds above 999; `date` is written only on success.
int SystemTimeToVariantTimeWithMilliseconds(SYSTEMTIME time, double& date);

// A one-dimensional array of variants (lower bound 0), wrapped as a VT_ARRAY | VT_VARIANT
// variant, as schema queries take their restrictions; or a copy of an array variant to render
// as text. Copies are deep.
class CSafeArray {
public:
    // `count` elements, all VT_EMPTY.
    explicit CSafeArray(std::uint32_t count);
    // Holds a copy of `value`.
    explicit CSafeArray(const _variant_t& value);
    ~CSafeArray();

    // Stores a VT_INT element. 1 on success, 0 when index is outside the array or the held
    // variant is not a variant array.
    int SetAt(long index, int value);
    // Stores a VT_BSTR copy of text; a null or empty text stores a VT_EMPTY element. 1 or 0 as
    // above.
    int SetAt(long index, const wchar_t* text);
    int SetAt(long index, std::wstring_view text);

    // A copy of the held variant.
    _variant_t GetArray() const;
    // The held variant as text in locale 1033; a byte array gives one character per byte. The
    // empty text when it has no text form.
    CString ToString() const;

private:
    _variant_t m_variant;
};

// The name of the data type at `row` (0..39 of the library's ADO type list) for DBMS type
// `dbmsType`; the empty text when the row or the DBMS type has no entry.
CString Type2Name(unsigned int dbmsType, unsigned int row);

// Display widths and grapheme clusters from Unicode's own data (utf8proc), independent of the
// process locale; the one measure of the printer, the line editor and the front end.
//
// The number of terminal columns a text takes, cluster by cluster: wide and full-width
// characters and emoji presentations 2, combining marks and joined parts 0, control characters 1,
// everything else 1.
int DisplayWidth(std::wstring_view text);
// The width of one character taken alone.
int CharDisplayWidth(wchar_t ch);
// The index just after the grapheme cluster that starts at `from` (a user-perceived character:
// a base with its marks, an emoji ZWJ sequence, a flag); text.size() at the end.
size_t NextGraphemeBreak(std::wstring_view text, size_t from);

}  // namespace zentra
