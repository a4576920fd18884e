// The result printer: a bordered table or a record list, and the "Query Okay" line.
#include "printer.h"

#include <algorithm>
#include <charconv>

#include "resources.h"
#include "zentra/codepage.h"
#include "zentra/console.h"
#include "zentra/format.h"
#include "zentra/strtable.h"
#include "zentra/values.h"

namespace orva {

using zentra::_variant_t;
using zentra::CADOFieldInfo;
using zentra::CADORecordSet;
using zentra::COutput;

namespace {

constexpr int kAlignLeft = 1;
constexpr int kAlignRight = 2;
constexpr int kAlignCentre = 3;

// Records measured for the column widths: the first and up to 255 more.
constexpr int kMeasuredAfterFirst = 255;

// Characters that take one column each and join no cluster with their neighbours: printable
// Latin and the line breaks the layouts handle.
inline bool IsNarrowChar(wchar_t ch) {
    return (ch >= 0x20 && ch < 0x7F) || (ch >= 0xA0 && ch < 0x300) || ch == L'\n' || ch == L'\r';
}

// True when every character takes exactly one column (characters and columns agree).
bool IsNarrow(std::wstring_view text) {
    for (wchar_t ch : text)
        if (!IsNarrowChar(ch)) return false;
    return true;
}

int Columns(std::wstring_view text) {
    return IsNarrow(text) ? static_cast<int>(text.size()) : zentra::DisplayWidth(text);
}

// The number of characters of the longest start of `text` that fits `width` columns, never
// splitting a grapheme cluster (a wide character, a character with its marks, an emoji sequence).
// At least one cluster is taken from a non-empty text, so that callers always make progress.
// `used` receives the columns taken.
size_t FitPrefix(std::wstring_view text, int width, int& used) {
    used = 0;
    size_t n = 0;
    while (n < text.size()) {
        const size_t end = IsNarrowChar(text[n]) && (n + 1 == text.size() || IsNarrowChar(text[n + 1]))
                               ? n + 1
                               : zentra::NextGraphemeBreak(text, n);
        const int w = end == n + 1 && IsNarrowChar(text[n]) ? 1 : zentra::DisplayWidth(text.substr(n, end - n));
        if (used + w > width && n > 0) break;
        used += w;
        n = end;
        if (used > width) break;  // first cluster wider than the whole cell
    }
    return n;
}

// The start of `text` that fits `width` columns (the whole text when it fits).
std::wstring_view CutToWidth(std::wstring_view text, int width) {
    if (static_cast<int>(text.size()) <= width && IsNarrow(text)) return text;
    if (Columns(text) <= width) return text;
    int used = 0;
    size_t n = FitPrefix(text, width, used);
    // A first character wider than the cell is dropped rather than overflowing it.
    if (used > width) n = 0;
    return text.substr(0, n);
}

void AppendSpaces(CString& out, int count) {
    if (count > 0) out.append(static_cast<size_t>(count), L' ');
}

// A table cell's line: " " + `text` of `columns` display columns, padded to `width` + 1 by
// `alignment` (left, right or centred), without the border after it.
void AppendCellLine(CString& out, std::wstring_view text, int columns, int width, int alignment) {
    const int pad = width - columns;
    if (alignment == kAlignRight) AppendSpaces(out, pad);
    if (alignment == kAlignCentre) AppendSpaces(out, pad / 2);
    out += L' ';
    out += text;
    if (alignment == kAlignLeft) AppendSpaces(out, pad);
    if (alignment == kAlignCentre) AppendSpaces(out, pad - pad / 2);
}

// Writes a table cell's line at `p` as AppendCellLine appends it, for a `text` of one column per
// character that fits `width`; returns the end.
wchar_t* PutCellLine(wchar_t* p, std::wstring_view text, int width, int alignment) {
    const size_t pad = static_cast<size_t>(width) - text.size();
    const size_t before = alignment == kAlignRight ? pad : alignment == kAlignCentre ? pad / 2 : 0;
    p = std::fill_n(p, before, L' ');
    *p++ = L' ';
    p = std::copy(text.begin(), text.end(), p);
    return std::fill_n(p, pad - before, L' ');
}

// Writes `lineCount` lines of a row whose values are plain lines (IsPlainLine), each cut into
// pieces of its column's width, into `text`: "|", then " " + piece + " |" per column and CR LF,
// `lineLength` characters a line, written in place.
void WritePlainLines(CString& text, const std::vector<CString>& values, const std::vector<int>& widths,
                     const std::vector<int>& alignments, size_t lineCount, size_t lineLength) {
    text.resize(lineCount * lineLength);
    wchar_t* p = text.data();
    for (size_t line = 0; line < lineCount; ++line) {
        *p++ = L'|';
        for (size_t i = 0; i < values.size(); ++i) {
            const size_t width = static_cast<size_t>(widths[i]);
            const size_t from = line * width;
            const std::wstring_view piece =
                from < values[i].size() ? std::wstring_view(values[i]).substr(from, width) : std::wstring_view();
            p = PutCellLine(p, piece, widths[i], alignments[i]);
            *p++ = L' ';
            *p++ = L'|';
        }
        *p++ = L'\r';
        *p++ = L'\n';
    }
}

// True when `text` is one line of characters one column wide each: its cell lines are its pieces
// of the column's width.
bool IsPlainLine(std::wstring_view text) {
    for (wchar_t ch : text)
        if (ch == L'\n' || ch == L'\r' || !IsNarrowChar(ch)) return false;
    return true;
}

// `text` of `columns` display columns padded to `width` by `alignment`.
void AppendAligned(CString& out, std::wstring_view text, int columns, int width, int alignment) {
    const int pad = width - columns;
    switch (alignment) {
    case kAlignLeft:
        out += text;
        AppendSpaces(out, pad);
        break;
    case kAlignRight:
        AppendSpaces(out, pad);
        out += text;
        break;
    case kAlignCentre:
        AppendSpaces(out, pad / 2);
        out += text;
        AppendSpaces(out, pad - pad / 2);
        break;
    default: out += text; break;
    }
}

// Whether UTF-8 `bytes` are printable ASCII alone.
bool IsPrintableAscii(std::string_view bytes) {
    bool printable = true;
    for (const char ch : bytes) printable &= static_cast<unsigned char>(ch - 0x20) < 0x5F;
    return printable;
}

bool IsTextType(int adoType) {
    switch (adoType) {
    case zentra::adBSTR:
    case zentra::adChar:
    case zentra::adWChar:
    case zentra::adVarChar:
    case zentra::adVarWChar:
    case zentra::adLongVarChar:
    case zentra::adLongVarWChar: return true;
    default: return false;
    }
}

// Appends ASCII characters, widened one by one in place.
void AppendAscii(CString& out, const char* first, const char* last) {
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(last - first));
    for (wchar_t* p = out.data() + at; first != last; ++first) *p++ = static_cast<wchar_t>(*first);
}

// Appends the decimal digits of `value`, as printf's %d family writes them.
template <class Int>
void AppendInteger(CString& out, Int value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    AppendAscii(out, digits, result.ptr);
}

// Writes `value` with zeros before it up to `width` digits at `p`, as %0*u writes it; returns the
// end of what it wrote (at most ten characters more than `width`).
wchar_t* PutPadded(wchar_t* p, unsigned value, int width) {
    // The fields of dates and times: two digits, and four of a year.
    if (width == 2 && value < 100) {
        p[0] = static_cast<wchar_t>(L'0' + value / 10);
        p[1] = static_cast<wchar_t>(L'0' + value % 10);
        return p + 2;
    }
    if (width == 4 && value < 10000) {
        p[0] = static_cast<wchar_t>(L'0' + value / 1000);
        p[1] = static_cast<wchar_t>(L'0' + value / 100 % 10);
        p[2] = static_cast<wchar_t>(L'0' + value / 10 % 10);
        p[3] = static_cast<wchar_t>(L'0' + value % 10);
        return p + 4;
    }
    wchar_t digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = n; i < width; ++i) *p++ = L'0';
    while (n > 0) *p++ = digits[--n];
    return p;
}

// "hh:mm:ss", with ".mmm" when the milliseconds are set.
wchar_t* PutClock(wchar_t* p, const zentra::SYSTEMTIME& st) {
    p = PutPadded(p, st.wHour, 2);
    *p++ = L':';
    p = PutPadded(p, st.wMinute, 2);
    *p++ = L':';
    p = PutPadded(p, st.wSecond, 2);
    if (st.wMilliseconds != 0) {
        *p++ = L'.';
        p = PutPadded(p, st.wMilliseconds, 3);
    }
    return p;
}

// Date-time text: the date part when year, month and day are set; the time part when hour, minute
// or second is set (with milliseconds when they are set). A time-of-day value (`timeOnly`) carries
// the day 1899-12-30 of every OLE date: it shows its time alone, midnight included.
void AppendDateText(CString& out, const zentra::SYSTEMTIME& st, bool timeOnly) {
    wchar_t text[96];  // seven fields of at most five digits and their separators
    wchar_t* p = text;
    if (timeOnly) {
        p = PutClock(p, st);
    } else {
        if (st.wYear != 0 && st.wMonth != 0 && st.wDay != 0) {
            p = PutPadded(p, st.wYear, 4);
            *p++ = L'-';
            p = PutPadded(p, st.wMonth, 2);
            *p++ = L'-';
            p = PutPadded(p, st.wDay, 2);
        }
        if (st.wHour != 0 || st.wMinute != 0 || st.wSecond != 0) {
            if (p != text) *p++ = L' ';
            p = PutClock(p, st);
        }
    }
    out.append(text, p);
}

void AppendDateText(CString& out, double date, bool timeOnly) {
    zentra::SYSTEMTIME st;
    if (zentra::VariantToSystemTimeWithMilliseconds(date, st)) AppendDateText(out, st, timeOnly);
}

// Appends the text of a value in its stored form, as AppendValue writes the value read as a
// variant; false, with nothing appended, for a form it does not take.
bool AppendStoredForm(CString& out, const zentra::StoredField& field, bool timeOnly) {
    switch (field.form) {
    case zentra::StoredField::Null: out += L"NULL"; return true;
    case zentra::StoredField::Integer: AppendInteger(out, field.integer); return true;
    case zentra::StoredField::Unsigned: AppendInteger(out, field.unsignedInteger); return true;
    case zentra::StoredField::Text: zentra::AppendUtf8ToWide(out, field.bytes); return true;
    case zentra::StoredField::Decimal:
        AppendAscii(out, field.bytes.data(), field.bytes.data() + field.bytes.size());
        return true;
    case zentra::StoredField::Date:
    case zentra::StoredField::Timestamp: AppendDateText(out, field.time, false); return true;
    case zentra::StoredField::Time:
        if (timeOnly) {
            AppendDateText(out, field.time, true);
        } else {
            // A time read as a date: the day 0 of OLE dates with the time of day.
            zentra::SYSTEMTIME st = field.time;
            st.wYear = 1899, st.wMonth = 12, st.wDay = 30;
            AppendDateText(out, st, false);
        }
        return true;
    default: return false;
    }
}

}  // namespace

void PrintQueryOkay(COutput& out, QueryOkay kind, long count, const CString& elapsed) {
    out.PrintMessage(kind == QueryOkay::InSet ? IDS_ROWS_IN_SET : IDS_ROWS_AFFECTED, count,
                     count < 2 ? L"row" : L"rows", elapsed);
}

PrintOptions CurrentPrintOptions() { return State().print; }

// ---------------------------------------------------------------------------------------------
// CPrintRecords

CPrintRecords::CPrintRecords(COutput* output, CADORecordSet* recordset, const FieldMapArray* fieldMap)
    : output_(output), recordset_(recordset), fieldMap_(fieldMap) {}

CPrintRecords::~CPrintRecords() = default;

void CPrintRecords::Attach(CADORecordSet* recordset, const FieldMapArray* fieldMap) {
    recordset_ = recordset;
    fieldMap_ = fieldMap;
}

int CPrintRecords::GetAlignment(int adoType) {
    switch (adoType) {
    case zentra::adSmallInt:
    case zentra::adInteger:
    case zentra::adSingle:
    case zentra::adDouble:
    case zentra::adCurrency:
    case zentra::adDecimal:
    case zentra::adTinyInt:
    case zentra::adUnsignedTinyInt:
    case zentra::adUnsignedSmallInt:
    case zentra::adUnsignedInt:
    case zentra::adBigInt:
    case zentra::adUnsignedBigInt:
    case zentra::adNumeric:
    case zentra::adVarNumeric: return kAlignRight;
    default: return kAlignLeft;
    }
}

int CPrintRecords::GetDisplayWidth(const CADOFieldInfo& info) {
    long w = info.m_lActualSize + 1;
    if (w <= 0) {
        if (info.m_lDefinedSize > 0) w = info.m_lDefinedSize;
        else if (info.m_nPrecision + info.m_nNumericScale > 0) w = info.m_nPrecision + info.m_nNumericScale;
    }
    switch (info.m_nType) {
    case zentra::adSmallInt:
    case zentra::adInteger:
    case zentra::adTinyInt:
    case zentra::adBigInt: w += 1; break;
    case zentra::adSingle:
    case zentra::adDouble:
    case zentra::adCurrency:
    case zentra::adDecimal:
    case zentra::adNumeric: w += 2; break;
    case zentra::adDBDate:
    case zentra::adDBTime:
    case zentra::adDBTimeStamp: w += 3; break;
    case zentra::adBoolean: return 4;
    case zentra::adBinary:
    case zentra::adVarBinary:
    case zentra::adLongVarBinary: return 6;
    default: break;
    }
    if (w <= 0) return 8;
    if (w < 4) return 4;
    // Sizes beyond an int are far above any column limit.
    return static_cast<int>(std::min<long>(w, 0x7FFFFFFF));
}

CString CPrintRecords::FormatValue(const _variant_t& value) {
    CString text;
    AppendValue(text, value);
    return text;
}

void CPrintRecords::AppendValue(CString& out, const _variant_t& value) {
    const zentra::VARTYPE vt = value.vt();
    if (vt & zentra::VT_BYREF) {
        const zentra::VARTYPE plain = vt & ~zentra::VT_BYREF;
        if (plain == zentra::VT_EMPTY || plain == zentra::VT_NULL) return;
        if (plain == zentra::VT_BOOL && value.byref()) {
            out += *static_cast<const zentra::VARIANT_BOOL*>(value.byref()) == zentra::VARIANT_TRUE ? L"YES" : L"NO";
            return;
        }
        const _variant_t plainValue = value.ByValue();
        // A reference that cannot be followed (null, or to a type without a value) has no text.
        if (plainValue.vt() & zentra::VT_BYREF) out += L"<LOB>";
        else if (plainValue.vt() != zentra::VT_EMPTY) AppendValue(out, plainValue);
        return;
    }
    switch (vt) {
    case zentra::VT_EMPTY:
    case zentra::VT_NULL: break;
    case zentra::VT_I1:
    case zentra::VT_UI1:
    case zentra::VT_I2:
    case zentra::VT_UI2:
    case zentra::VT_INT: AppendInteger(out, static_cast<int>(value.intVal())); break;
    case zentra::VT_UINT: AppendInteger(out, static_cast<unsigned int>(value.uintVal())); break;
    case zentra::VT_I4: AppendInteger(out, static_cast<std::int32_t>(value.intVal())); break;
    case zentra::VT_UI4: AppendInteger(out, static_cast<std::uint32_t>(value.uintVal())); break;
    case zentra::VT_I8: AppendInteger(out, value.intVal()); break;
    case zentra::VT_UI8: AppendInteger(out, value.uintVal()); break;
    case zentra::VT_R4: out += zentra::DblToStr(value.fltVal()); break;
    case zentra::VT_R8: out += zentra::DblToStr(value.dblVal()); break;
    case zentra::VT_DECIMAL: out += zentra::DecToStr(value); break;
    case zentra::VT_CY: out += zentra::CurrencyToText(value.cyVal()); break;
    case zentra::VT_BSTR: out += value.bstrVal(); break;
    case zentra::VT_BOOL: out += value.intVal() == zentra::VARIANT_TRUE ? L"YES" : L"NO"; break;
    case zentra::VT_DATE: AppendDateText(out, value.dblVal(), false); break;
    case zentra::VT_ARRAY | zentra::VT_I1:
    case zentra::VT_ARRAY | zentra::VT_UI1: out += zentra::CSafeArray(value).ToString(); break;
    default: out += L"<LOB>"; break;
    }
}

CString CPrintRecords::MakeSeparator(const std::vector<int>& widths) {
    CString line = L"+";
    for (int w : widths) {
        line.append(static_cast<size_t>(std::max(w + 2, 0)), L'-');
        line += L'+';
    }
    return line;
}

void CPrintRecords::PrintCell(CString& out, std::wstring_view text, int width, int alignment, int truncate) {
    if (alignment < kAlignLeft || alignment > kAlignCentre) {
        out += text;
        return;
    }
    int columns = IsNarrow(text) ? static_cast<int>(text.size()) : Columns(text);
    while (columns > width) {
        int used = 0;
        const size_t n = FitPrefix(text, width, used);
        AppendAligned(out, text.substr(0, n), used, width, alignment);
        if (truncate) return;
        out += L"\r\n";
        text.remove_prefix(n);
        columns -= used;
    }
    AppendAligned(out, text, columns, width, alignment);
}

// ---------------------------------------------------------------------------------------------
// CRowCells

void CRowCells::RemoveAll() {
    text_.clear();
    lines_.clear();
    cells_.clear();
    lineCount_ = 0;
}

void CRowCells::AddValue(std::wstring_view text, int width) {
    const size_t base = text_.size();
    text_ += text;
    Cell cell{lines_.size(), 0};
    const bool narrow = IsNarrow(text);
    size_t pos = 0;
    while (pos < text.size()) {
        // The segment up to the next line feed, without one carriage return before it.
        size_t end = text.find(L'\n', pos);
        size_t next;
        if (end == std::wstring_view::npos) {
            end = text.size();
            next = end;
        } else {
            next = end + 1;
            if (end > pos && text[end - 1] == L'\r') --end;
        }
        while (pos < end) {
            std::wstring_view segment = text.substr(pos, end - pos);
            size_t n;
            int used;
            if (narrow) {
                n = std::min(segment.size(), static_cast<size_t>(std::max(width, 1)));
                used = static_cast<int>(n);
            } else {
                n = FitPrefix(segment, width, used);
            }
            lines_.push_back(Piece{base + pos, n, used});
            ++cell.count;
            pos += n;
        }
        pos = next;
    }
    cells_.push_back(cell);
    lineCount_ = std::max(lineCount_, cell.count);
}

std::wstring_view CRowCells::GetValueString(int line, int index, int& columns) const {
    columns = 0;
    if (index < 0 || index >= static_cast<int>(cells_.size())) return {};
    const Cell& cell = cells_[static_cast<size_t>(index)];
    if (line < 0 || line >= cell.count) return {};
    const Piece& piece = lines_[cell.first + static_cast<size_t>(line)];
    columns = piece.columns;
    return std::wstring_view(text_).substr(piece.start, piece.length);
}

// ---------------------------------------------------------------------------------------------
// Rows and values

void CPrintRecords::PrintRowLines(CString& out, const CRowCells& cells, const std::vector<int>& widths,
                                  const std::vector<int>& alignments, int truncate) {
    const int lineCount = truncate ? std::min(cells.GetLineCount(), 1) : cells.GetLineCount();
    const int count = static_cast<int>(std::min(widths.size(), static_cast<size_t>(cells.GetValueCount())));
    CString cell;
    for (int line = 0; line < lineCount; ++line) {
        out += L'|';
        for (int i = 0; i < count; ++i) {
            // The cell is printed as " " + its line in a cell one column wider.
            const int width = widths[static_cast<size_t>(i)];
            const int alignment = alignments[static_cast<size_t>(i)];
            int columns = 0;
            const std::wstring_view text = cells.GetValueString(line, i, columns);
            if (columns <= width && alignment >= kAlignLeft && alignment <= kAlignCentre) {
                AppendCellLine(out, text, columns, width, alignment);
            } else {
                cell.assign(1, L' ');
                cell += text;
                PrintCell(out, cell, width + 1, alignment, truncate);
            }
            out += L" |";
        }
        out += L"\r\n";
    }
}

bool CPrintRecords::ValueText(CADORecordSet& rs, const Column& column, const std::vector<zentra::StoredField>& stored,
                              _variant_t& value, CString& text) {
    const size_t index = static_cast<size_t>(column.index);
    const int adoType = column.info.m_nType;
    if (index < stored.size() && AppendStored(text, stored[index], adoType)) {
        // Numbers, dates and times are digits, signs and separators: only a text may hold control
        // characters, and a text of printable ASCII holds none.
        const zentra::StoredField& field = stored[index];
        if (field.form != zentra::StoredField::Text || IsPrintableAscii(field.bytes)) return true;
        zentra::EscapeControls(text);
        return false;
    }
    VariantText(rs, column.index, adoType, value, text);
    zentra::EscapeControls(text);
    return false;
}

bool CPrintRecords::AppendStored(CString& text, const zentra::StoredField& field, int adoType) {
    text.clear();
    // Binary data shows as a word, never its bytes.
    return adoType != zentra::adLongVarBinary && AppendStoredForm(text, field, adoType == zentra::adDBTime);
}

bool CPrintRecords::StoredText(CADORecordSet& rs, long index, int adoType, CString& text) {
    std::vector<zentra::StoredField> fields;
    return rs.GetRecordStored(fields) && index >= 0 && static_cast<size_t>(index) < fields.size() &&
           AppendStored(text, fields[static_cast<size_t>(index)], adoType);
}

void CPrintRecords::VariantText(CADORecordSet& rs, long column, int adoType, _variant_t& value, CString& text) {
    const int index = static_cast<int>(column);
    value.Clear();
    rs.GetFieldValue(index, value);

    switch (adoType) {
    case zentra::adLongVarChar:
    case zentra::adLongVarWChar:
        // A NULL long text prints NULL like any other NULL, not as an empty text.
        if (value.vt() == zentra::VT_NULL) {
            text = L"NULL";
        } else if (value.vt() == zentra::VT_BSTR) {
            text = value.bstrVal();
        } else {
            text.clear();
            rs.GetChunk(index, text);
        }
        return;
    case zentra::adLongVarBinary: text = value.vt() == zentra::VT_NULL ? L"NULL" : L"<BLOB>"; return;
    case zentra::adDBTime:
        if (value.vt() == zentra::VT_DATE) {
            text.clear();
            AppendDateText(text, value.dblVal(), true);
            return;
        }
        break;
    default: break;
    }
    switch (value.vt()) {
    case zentra::VT_NULL: text = L"NULL"; break;
    case zentra::VT_BSTR: text = value.bstrVal(); break;
    default:
        // Written into the text's own storage, kept from value to value.
        text.clear();
        AppendValue(text, value);
        break;
    }
}

bool CPrintRecords::BuildColumns(CADORecordSet& rs, std::vector<Column>& columns) const {
    columns.clear();
    if (fieldMap_ && !fieldMap_->empty()) {
        const long count = rs.GetFieldCount();
        for (const FIELD_MAP& entry : *fieldMap_) {
            Column column;
            // The first field of that name (in any case); a map entry naming no field of the
            // result is left out.
            for (long i = 0; i < count && column.index < 0; ++i)
                if (rs.GetFieldInfo(i, &column.info) && zentra::EqualsNoCase(column.info.m_strName, entry.strField))
                    column.index = i;
            if (column.index < 0) continue;
            column.info.m_strDisplayName = entry.strCaption;
            columns.push_back(std::move(column));
        }
    } else {
        const long count = rs.GetFieldCount();
        for (long i = 0; i < count; ++i) {
            Column column;
            if (!rs.GetFieldInfo(i, &column.info)) continue;
            column.index = i;
            // A column name is shown like a value: its control characters as escapes.
            zentra::EscapeControls(column.info.m_strDisplayName);
            columns.push_back(std::move(column));
        }
    }
    return !columns.empty();
}

void CPrintRecords::MeasureColumns(CADORecordSet& rs, std::vector<Column>& columns) const {
    // Text columns are measured in display columns as well, so that wide characters get their room.
    _variant_t value;
    auto measureText = [&](size_t position) {
        Column& column = columns[position];
        if (!IsTextType(column.info.m_nType)) return;
        rs.GetFieldValue(static_cast<int>(column.index), value);
        if (value.vt() != zentra::VT_BSTR) return;
        CString text = value.bstrVal();
        // Measured as shown: control characters as their escapes.
        zentra::EscapeControls(text);
        if (IsNarrow(text) && text.size() == value.bstrVal().size()) return;  // its actual size is its width
        const long width = Columns(text);
        if (width > column.info.m_lActualSize) column.info.m_lActualSize = width;
    };

    // The printout starts where the recordset stands (a caller may have skipped rows), so the
    // scan returns there rather than to the first record.
    const long start = rs.GetAbsolutePosition();
    if (!rs.IsEOF())
        for (size_t i = 0; i < columns.size(); ++i) measureText(i);
    rs.MoveNext();
    for (int measured = 0; !rs.IsEOF() && measured < kMeasuredAfterFirst;) {
        for (size_t i = 0; i < columns.size(); ++i) {
            Column& column = columns[i];
            // By position: a result may hold two columns of the same name.
            const long size = rs.GetFieldActualSize(column.index);
            if (size > column.info.m_lActualSize) column.info.m_lActualSize = size;
            measureText(i);
        }
        ++measured;
        if (measured < kMeasuredAfterFirst) rs.MoveNext();
        else rs.MoveLast();
    }
    if (start >= 1) {
        rs.SetAbsolutePosition(static_cast<int>(start));
    } else if (start == zentra::adPosEOF) {
        rs.MoveLast();  // nothing left to print: stay at the end
        rs.MoveNext();
    } else {
        rs.MoveFirst();
    }
}

void CPrintRecords::PrintResult(const PrintOptions& options) {
    COutput* out = output_.load();
    CADORecordSet* rs = recordset_;
    if (!out || !rs || !out->IsEnable()) return;

    zentra::COutputBuffer buffer(*out);
    std::vector<Column> columns;
    const bool any = BuildColumns(*rs, columns);
    MeasureColumns(*rs, columns);
    if (!any) return;

    stopFlag.store(0);
    switch (options.layout) {
    case PrintLayout::List: PrintList(*out, *rs, columns); break;
    case PrintLayout::Table: PrintTable(*out, *rs, columns, options); break;
    }

    if (stopFlag.load() == 1) out->PrintMessage(L"\r\n%s", zentra::LoadString(IDS_ABORTED));
    stopFlag.store(1);
}

void CPrintRecords::PrintTable(COutput& out, CADORecordSet& rs, std::vector<Column>& columns,
                               const PrintOptions& options) {
    const bool showIndex = options.showIndex;
    const int truncate = options.truncate ? 1 : 0;
    if (rs.IsEOF()) return;

    std::vector<int> widths;
    std::vector<int> alignments;
    CRowCells cells;
    if (showIndex) {
        widths.push_back(static_cast<int>(zentra::Format(L"%ld", static_cast<long>(rs.GetRecordCount())).size()));
        alignments.push_back(kAlignRight);
        cells.AddValue(L"", widths.back());
    }
    for (Column& column : columns) {
        column.width = std::min(GetDisplayWidth(column.info), maxColumnWidth_);
        column.alignment = GetAlignment(column.info.m_nType);
        const CString& heading =
            column.info.m_strDisplayName.empty() ? column.info.m_strName : column.info.m_strDisplayName;
        widths.push_back(column.width);
        alignments.push_back(column.alignment);
        cells.AddValue(CutToWidth(heading, column.width), column.width);
    }

    const CString separator = MakeSeparator(widths) + L"\r\n";
    CString text = separator;
    PrintRowLines(text, cells, widths, alignments, 1);
    text += separator;
    out.Write(text);

    size_t lineLength = 3;
    for (int width : widths) lineLength += static_cast<size_t>(std::max(width, 0)) + 3;
    // One value per cell and one text for every row, their storage kept from row to row.
    _variant_t scratch;
    std::vector<zentra::StoredField> stored;
    std::vector<CString> values(widths.size());
    // Per value: whether it is known to be a plain line without looking (the row number is).
    std::vector<char> knownPlain(widths.size(), 1);
    const size_t first = showIndex ? 1 : 0;
    long count = 0;
    while (stopFlag.load() == 0) {
        ++count;
        if (showIndex) {
            values.front().clear();
            AppendInteger(values.front(), count);
        }
        rs.GetRecordStored(stored);
        for (size_t i = 0; i < columns.size(); ++i)
            knownPlain[first + i] = ValueText(rs, columns[i], stored, scratch, values[first + i]);
        // A row of plain one-line texts is cut into pieces of the column widths here; any other
        // goes through the cell splitter. (A row of empty texts prints no line at all.)
        bool plain = true;
        size_t lineCount = 0;
        for (size_t i = 0; i < values.size() && plain; ++i) {
            plain = widths[i] >= 1 && (knownPlain[i] || IsPlainLine(values[i]));
            const size_t width = static_cast<size_t>(std::max(widths[i], 1));
            lineCount = std::max(lineCount, (values[i].size() + width - 1) / width);
        }
        if (truncate) lineCount = std::min<size_t>(lineCount, 1);
        text.clear();
        if (plain) {
            WritePlainLines(text, values, widths, alignments, lineCount, lineLength);
        } else {
            cells.RemoveAll();
            for (size_t i = 0; i < values.size(); ++i)
                cells.AddValue(truncate ? CutToWidth(values[i], widths[i]) : std::wstring_view(values[i]), widths[i]);
            PrintRowLines(text, cells, widths, alignments, truncate);
        }
        out.Write(text);
        rs.MoveNext();
        if (rs.IsEOF()) break;
    }
    out.Write(separator);
}

void CPrintRecords::PrintList(COutput& out, CADORecordSet& rs, const std::vector<Column>& columns) {
    if (rs.IsEOF()) return;

    int nameWidth = 0;
    for (const Column& column : columns) nameWidth = std::max(nameWidth, Columns(column.info.m_strDisplayName));
    // Each column's line starts with its name right-aligned and ": ", made once.
    std::vector<CString> names(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
        PrintCell(names[i], columns[i].info.m_strDisplayName, nameWidth, kAlignRight, 1);
        names[i] += L": ";
    }

    _variant_t scratch;
    std::vector<zentra::StoredField> stored;
    CString value;
    CString text;
    long count = 0;
    while (stopFlag.load() == 0) {
        ++count;
        text.assign(L"*************************** ");
        AppendInteger(text, count);
        text += L". row ***************************\r\n";
        rs.GetRecordStored(stored);
        for (size_t i = 0; i < columns.size() && stopFlag.load() == 0; ++i) {
            text += names[i];
            ValueText(rs, columns[i], stored, scratch, value);
            text += value;
            text += L"\r\n";
        }
        out.Write(text);
        rs.MoveNext();
        if (rs.IsEOF()) break;
    }
}

CPrintRecords& Printer() {
    static CPrintRecords printer(State().output.get());
    // Follow the shell's output should it have been replaced.
    COutput* current = State().output.get();
    if (printer.GetOutput() != current) printer.SetOutput(current);
    return printer;
}

}  // namespace orva
