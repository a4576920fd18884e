// Statement execution and the result printer.
#include "printer.h"

#include <algorithm>

#include "commands.h"
#include "resources.h"
#include "schema.h"
#include "sqltext.h"
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

// String-table texts 38 and 39.
constexpr wchar_t kIds38QueryOkayInSet[] = L"Query Okay, %ld %s in set (%s sec)";
constexpr wchar_t kIds39QueryOkayAffected[] = L"Query Okay, %ld %s affected (%s sec)";

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
        default:
            out += text;
            break;
    }
}

bool IsTextType(int adoType) {
    switch (adoType) {
        case zentra::adBSTR:
        case zentra::adChar:
        case zentra::adWChar:
        case zentra::adVarChar:
        case zentra::adVarWChar:
        case zentra::adLongVarChar:
        case zentra::adLongVarWChar:
            return true;
        default:
            return false;
    }
}

// Date-time text: the date part when year, month and day are set; the time part when hour, minute
// or second is set (with milliseconds when they are set). A time-of-day value (`timeOnly`) carries
// the day 1899-12-30 of every OLE date: it shows its time alone, midnight included.
CString DateText(double date, bool timeOnly) {
    zentra::SYSTEMTIME st;
    if (!zentra::VariantToSystemTimeWithMilliseconds(date, st)) return CString();
    if (timeOnly) {
        CString text = zentra::Format(L"%02d:%02d:%02d", static_cast<int>(st.wHour), static_cast<int>(st.wMinute),
                                      static_cast<int>(st.wSecond));
        if (st.wMilliseconds != 0) text += zentra::Format(L".%03d", static_cast<int>(st.wMilliseconds));
        return text;
    }
    CString text;
    if (st.wYear != 0 && st.wMonth != 0 && st.wDay != 0)
        text = zentra::Format(L"%04d-%02d-%02d", static_cast<int>(st.wYear), static_cast<int>(st.wMonth),
                              static_cast<int>(st.wDay));
    if (st.wHour != 0 || st.wMinute != 0 || st.wSecond != 0) {
        if (!text.empty()) text += L' ';
        text += zentra::Format(L"%02d:%02d:%02d", static_cast<int>(st.wHour), static_cast<int>(st.wMinute),
                               static_cast<int>(st.wSecond));
        if (st.wMilliseconds != 0) text += zentra::Format(L".%03d", static_cast<int>(st.wMilliseconds));
    }
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Statement execution

int ExecuteStatement(zentra::CADOConnection* connection, const CString& statement, CADORecordSet& recordset) {
    ShellState& state = State();
    COutput* out = state.output.get();
    zentra::CTimeStat timer(1);

    // The recordset runs on the shell's current connection (USE may have replaced it).
    if (connection && connection->GetConnection() && recordset.GetConnection() != connection->GetConnection())
        recordset.SetConnection(connection->GetConnection());

    // PostgreSQL's driver spins for ever, deaf to Ctrl+C, on a COPY that streams through the
    // client: refused before it is sent.
    if (state.connectInfo.type == zentra::kDbmsPostgreSql && IsClientCopy(statement)) {
        if (out) out->PrintMessage(IDS_COPY_STREAM_REFUSED);
        if (state.errorBeep) ErrorBeep();
        return 0;
    }
    int affected = 0;
    if (!recordset.Execute(statement.c_str(), &affected)) {
        if (out) out->PrintMessage(L"%s", recordset.GetLastErrorString());
        if (state.errorBeep) ErrorBeep();
        return 0;
    }
    // The time of the statement itself, without the printing.
    const CString elapsed = timer.GetTotalTime();

    if (recordset.GetFieldCount() > 0) {
        CPrintRecords& printer = Printer();
        printer.Attach(&recordset, nullptr);
        printer.PrintResult(state.resultViewType, state.displayRecordNum, state.truncValue, 1);
        const long count = static_cast<long>(recordset.GetRecordCount());
        if (out) out->PrintMessage(kIds38QueryOkayInSet, count, count < 2 ? L"row" : L"rows", elapsed);
    } else {
        const long count = affected;
        if (out) out->PrintMessage(kIds39QueryOkayAffected, count, count < 2 ? L"row" : L"rows", elapsed);
    }
    return 1;
}

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
        case zentra::adVarNumeric:
            return kAlignRight;
        default:
            return kAlignLeft;
    }
}

int CPrintRecords::GetDisplayWidth(const CADOFieldInfo& info) {
    long w = info.m_lActualSize + 1;
    if (w <= 0) {
        if (info.m_lDefinedSize > 0)
            w = info.m_lDefinedSize;
        else if (info.m_nPrecision + info.m_nNumericScale > 0)
            w = info.m_nPrecision + info.m_nNumericScale;
    }
    switch (info.m_nType) {
        case zentra::adSmallInt:
        case zentra::adInteger:
        case zentra::adTinyInt:
        case zentra::adBigInt:
            w += 1;
            break;
        case zentra::adSingle:
        case zentra::adDouble:
        case zentra::adCurrency:
        case zentra::adDecimal:
        case zentra::adNumeric:
            w += 2;
            break;
        case zentra::adDBDate:
        case zentra::adDBTime:
        case zentra::adDBTimeStamp:
            w += 3;
            break;
        case zentra::adBoolean:
            return 4;
        case zentra::adBinary:
        case zentra::adVarBinary:
        case zentra::adLongVarBinary:
            return 6;
        default:
            break;
    }
    if (w <= 0) return 8;
    if (w < 4) return 4;
    // Sizes beyond an int are far above any column limit.
    return static_cast<int>(std::min<long>(w, 0x7FFFFFFF));
}

CString CPrintRecords::FormatValue(const _variant_t& value) {
    const zentra::VARTYPE vt = value.vt();
    if (vt & zentra::VT_BYREF) {
        const zentra::VARTYPE plain = vt & ~zentra::VT_BYREF;
        if (plain == zentra::VT_EMPTY || plain == zentra::VT_NULL) return CString();
        if (plain == zentra::VT_BOOL && value.byref())
            return *static_cast<const zentra::VARIANT_BOOL*>(value.byref()) == zentra::VARIANT_TRUE ? L"YES" : L"NO";
        const _variant_t plainValue = value.ByValue();
        // A reference that cannot be followed (null, or to a type without a value) has no text.
        if (plainValue.vt() & zentra::VT_BYREF) return L"<LOB>";
        if (plainValue.vt() == zentra::VT_EMPTY) return CString();
        return FormatValue(plainValue);
    }
    switch (vt) {
        case zentra::VT_EMPTY:
        case zentra::VT_NULL:
            return CString();
        case zentra::VT_I1:
        case zentra::VT_UI1:
        case zentra::VT_I2:
        case zentra::VT_UI2:
        case zentra::VT_INT:
            return zentra::IntToStr(static_cast<int>(value.intVal()));
        case zentra::VT_UINT:
            return zentra::IntToStr(static_cast<unsigned int>(value.uintVal()));
        case zentra::VT_I4:
            return zentra::LongToStr(static_cast<long>(static_cast<std::int32_t>(value.intVal())));
        case zentra::VT_UI4:
            return zentra::ULongToStr(static_cast<unsigned long>(static_cast<std::uint32_t>(value.uintVal())));
        case zentra::VT_I8:
            return zentra::LongLongToStr(value.intVal());
        case zentra::VT_UI8:
            return zentra::ULongLongToStr(value.uintVal());
        case zentra::VT_R4:
            return zentra::DblToStr(value.fltVal());
        case zentra::VT_R8:
            return zentra::DblToStr(value.dblVal());
        case zentra::VT_DECIMAL:
            return zentra::DecToStr(value);
        case zentra::VT_CY:
            return zentra::CurrencyToText(value.cyVal());
        case zentra::VT_BSTR:
            return value.bstrVal();
        case zentra::VT_BOOL:
            return value.intVal() == zentra::VARIANT_TRUE ? L"YES" : L"NO";
        case zentra::VT_DATE:
            return DateText(value.dblVal(), false);
        case zentra::VT_ARRAY | zentra::VT_I1:
        case zentra::VT_ARRAY | zentra::VT_UI1:
            return zentra::CSafeArray(value).ToString();
        default:
            return L"<LOB>";
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
                const int pad = width - columns;
                if (alignment == kAlignRight) AppendSpaces(out, pad);
                if (alignment == kAlignCentre) AppendSpaces(out, pad / 2);
                out += L' ';
                out += text;
                if (alignment == kAlignLeft) AppendSpaces(out, pad);
                if (alignment == kAlignCentre) AppendSpaces(out, pad - pad / 2);
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

void CPrintRecords::ValueText(CADORecordSet& rs, const Column& column, long position, int fetchByIndex,
                              _variant_t& value, CString& text) {
    RawValueText(rs, column, position, fetchByIndex, value, text);
    zentra::EscapeControls(text);
}

void CPrintRecords::RawValueText(CADORecordSet& rs, const Column& column, long position, int fetchByIndex,
                                 _variant_t& value, CString& text) {
    const CADOFieldInfo& info = column.info;
    const int index = static_cast<int>(position);
    const wchar_t* name = info.m_strName.c_str();
    value.Clear();
    if (fetchByIndex)
        rs.GetFieldValue(index, value);
    else
        rs.GetFieldValue(name, value);

    switch (info.m_nType) {
        case zentra::adLongVarChar:
        case zentra::adLongVarWChar:
            // A NULL long text prints NULL like any other NULL, not as an empty text.
            if (value.vt() == zentra::VT_NULL) {
                text = L"NULL";
            } else if (value.vt() == zentra::VT_BSTR) {
                text = value.bstrVal();
            } else {
                text.clear();
                if (fetchByIndex)
                    rs.GetChunk(index, text);
                else
                    rs.GetChunk(name, text);
            }
            return;
        case zentra::adLongVarBinary:
            text = value.vt() == zentra::VT_NULL ? L"NULL" : L"<BLOB>";
            return;
        case zentra::adDBTime:
            if (value.vt() == zentra::VT_DATE) {
                text = DateText(value.dblVal(), true);
                return;
            }
            break;
        default:
            break;
    }
    switch (value.vt()) {
        case zentra::VT_NULL:
            text = L"NULL";
            break;
        case zentra::VT_BOOL:
            text = value.intVal() == zentra::VARIANT_TRUE ? L"YES" : L"NO";
            break;
        case zentra::VT_BSTR:
            text = value.bstrVal();
            break;
        default:
            text = FormatValue(value);
            break;
    }
}

bool CPrintRecords::BuildColumns(CADORecordSet& rs, std::vector<Column>& columns) const {
    columns.clear();
    if (fieldMap_ && !fieldMap_->empty()) {
        for (const FIELD_MAP& entry : *fieldMap_) {
            Column column;
            // A map entry naming no field of the result is left out.
            if (!rs.GetFieldInfo(entry.strField.c_str(), &column.info)) continue;
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

void CPrintRecords::MeasureColumns(CADORecordSet& rs, std::vector<Column>& columns, int fetchByIndex) const {
    // Text columns are measured in display columns as well, so that wide characters get their room.
    _variant_t value;
    auto measureText = [&](size_t position) {
        Column& column = columns[position];
        if (!IsTextType(column.info.m_nType)) return;
        if (fetchByIndex)
            rs.GetFieldValue(static_cast<int>(position), value);
        else
            rs.GetFieldValue(column.info.m_strName.c_str(), value);
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
            // By position when it is known: a result may hold two columns of the same name.
            const long size = column.index >= 0 ? rs.GetFieldActualSize(column.index)
                                                : rs.GetFieldActualSize(column.info.m_strName.c_str());
            if (size > column.info.m_lActualSize) column.info.m_lActualSize = size;
            measureText(i);
        }
        ++measured;
        if (measured < kMeasuredAfterFirst)
            rs.MoveNext();
        else
            rs.MoveLast();
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

void CPrintRecords::PrintResult(int listLayout, int showIndex, int truncate, int fetchByIndex) {
    COutput* out = output_.load();
    CADORecordSet* rs = recordset_;
    if (!out || !rs || !out->IsEnable()) return;

    zentra::COutputBuffer buffer(*out);
    std::vector<Column> columns;
    const bool any = BuildColumns(*rs, columns);
    MeasureColumns(*rs, columns, fetchByIndex);
    if (!any) return;

    stopFlag.store(0);
    if (listLayout)
        PrintList(*out, *rs, columns, fetchByIndex);
    else
        PrintTable(*out, *rs, columns, showIndex, truncate, fetchByIndex);

    if (stopFlag.load() == 1) out->PrintMessage(L"\r\n%s", zentra::LoadString(IDS_ABORTED));
    stopFlag.store(1);
}

void CPrintRecords::PrintTable(COutput& out, CADORecordSet& rs, std::vector<Column>& columns, int showIndex,
                               int truncate, int fetchByIndex) {
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

    // One set of cells, one value and one text for every row.
    _variant_t scratch;
    CString value;
    long count = 0;
    while (stopFlag.load() == 0) {
        ++count;
        cells.RemoveAll();
        if (showIndex) cells.AddValue(zentra::Format(L"%ld", count), widths.front());
        for (size_t i = 0; i < columns.size(); ++i) {
            const Column& column = columns[i];
            ValueText(rs, column, static_cast<long>(i), fetchByIndex, scratch, value);
            cells.AddValue(truncate ? CutToWidth(value, column.width) : std::wstring_view(value), column.width);
        }
        text.clear();
        PrintRowLines(text, cells, widths, alignments, truncate);
        out.Write(text);
        rs.MoveNext();
        if (rs.IsEOF()) break;
    }
    out.Write(separator);
}

void CPrintRecords::PrintList(COutput& out, CADORecordSet& rs, const std::vector<Column>& columns, int fetchByIndex) {
    if (rs.IsEOF()) return;

    int nameWidth = 0;
    for (const Column& column : columns) nameWidth = std::max(nameWidth, Columns(column.info.m_strDisplayName));

    _variant_t scratch;
    CString value;
    CString text;
    long count = 0;
    while (stopFlag.load() == 0) {
        ++count;
        out.Write(zentra::Format(L"*************************** %ld. row ***************************\r\n", count));
        for (size_t i = 0; i < columns.size() && stopFlag.load() == 0; ++i) {
            const Column& column = columns[i];
            text.clear();
            PrintCell(text, column.info.m_strDisplayName, nameWidth, kAlignRight, 1);
            text += L": ";
            ValueText(rs, column, static_cast<long>(i), fetchByIndex, scratch, value);
            text += value;
            text += L"\r\n";
            out.Write(text);
        }
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
