// The result printer: a bordered table or a vertical record list of an open recordset.
//
// Widths in the table layout are display columns: East Asian wide characters take two, combining
// marks none, so a table of Chinese or Japanese text stays aligned. A cell line never splits a
// wide character and never takes more columns than its column's width.
//
// A printout is written through the output's buffering (COutput::BeginBuffer): the console and the
// spool file receive exactly the bytes of the separate prints, grouped into fewer writes; the
// buffer is flushed at least every 50 ms and when the printout ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <vector>

#include "state.h"
#include "zentra/dataaccess.h"

namespace zentra {
class COutput;
}  // namespace zentra

namespace orva {

// The cells of one printed table row, each split into lines no wider than its column in display
// columns, by the rules of zentra::CValue: a line feed ends a line (a carriage return before it is
// dropped), blank lines are dropped, longer lines are cut where the next character would not fit,
// never inside a wide character. The storage is kept from row to row.
class CRowCells {
public:
    void RemoveAll();
    void AddValue(std::wstring_view text, int width);
    int GetValueCount() const { return static_cast<int>(cells_.size()); }
    // The largest line count of the values added since the last RemoveAll.
    int GetLineCount() const { return lineCount_; }
    // Line `line` of value `index` and its display columns; empty when there is no such line.
    std::wstring_view GetValueString(int line, int index, int& columns) const;

private:
    struct Piece {
        size_t start;
        size_t length;
        int columns;
    };
    struct Cell {
        size_t first;
        int count;
    };
    CString text_;
    std::vector<Piece> lines_;
    std::vector<Cell> cells_;
    int lineCount_ = 0;
};

// A column to print: its name in the recordset and the heading to print.
class FIELD_MAP {
public:
    FIELD_MAP() = default;
    FIELD_MAP(CString field, CString caption) : strField(std::move(field)), strCaption(std::move(caption)) {}
    virtual ~FIELD_MAP() = default;
    FIELD_MAP(const FIELD_MAP&) = default;
    FIELD_MAP& operator=(const FIELD_MAP&) = default;

    CString strField;
    CString strCaption;
};

using FieldMapArray = std::vector<FIELD_MAP>;

class CPrintRecords {
public:
    explicit CPrintRecords(zentra::COutput* output, zentra::CADORecordSet* recordset = nullptr,
                           const FieldMapArray* fieldMap = nullptr);
    virtual ~CPrintRecords();
    CPrintRecords(const CPrintRecords&) = delete;
    CPrintRecords& operator=(const CPrintRecords&) = delete;

    void Attach(zentra::CADORecordSet* recordset, const FieldMapArray* fieldMap);
    // Prints the attached recordset from its current position. Values are read by each column's
    // own position in the recordset (a field map entry: the first field of its name).
    void PrintResult(const PrintOptions& options);
    // 1 while a printout runs.
    int IsPrinting() const { return stopFlag.load() == 0 ? 1 : 0; }
    // Requests the running printout to stop (from any thread).
    void Stop() { stopFlag.store(1); }

    // Where the printer writes (may be changed between printouts; read and written atomically).
    void SetOutput(zentra::COutput* output) { output_.store(output); }
    zentra::COutput* GetOutput() const { return output_.load(); }

    // Texts of values, as printed (exposed for the schema commands and the tests).
    static CString FormatValue(const zentra::_variant_t& value);
    // The same appended to `out`.
    static void AppendValue(CString& out, const zentra::_variant_t& value);
    // The text of field `index` of the record set's current record (of ADO type `adoType`) as
    // printed, before control characters become escapes: read in its stored form, without a
    // variant; false when the field has no such form.
    static bool StoredText(zentra::CADORecordSet& rs, long index, int adoType, CString& text);
    // The same read as a variant (`value` is scratch space); every field has this text.
    static void VariantText(zentra::CADORecordSet& rs, long index, int adoType, zentra::_variant_t& value,
                            CString& text);
    static int GetDisplayWidth(const zentra::CADOFieldInfo& info);
    static int GetAlignment(int adoType);

    // Appends `text` laid out in a cell of `width` display columns with `alignment` (1 left,
    // 2 right, 3 centred; any other code: the text as it is). A text wider than the cell is cut
    // at the width (truncate) or continued on further lines of the same width.
    static void PrintCell(CString& out, std::wstring_view text, int width, int alignment, int truncate);
    // "+" and, for each width, width + 2 dashes and "+".
    static CString MakeSeparator(const std::vector<int>& widths);

private:
    // One printed column.
    struct Column {
        zentra::CADOFieldInfo info;
        long index = -1;  // position in the recordset
        int width = 0;    // table cell width in display columns
        int alignment = 1;
    };

    bool BuildColumns(zentra::CADORecordSet& rs, std::vector<Column>& columns) const;
    void MeasureColumns(zentra::CADORecordSet& rs, std::vector<Column>& columns) const;
    void PrintTable(zentra::COutput& out, zentra::CADORecordSet& rs, std::vector<Column>& columns,
                    const PrintOptions& options);
    void PrintList(zentra::COutput& out, zentra::CADORecordSet& rs, const std::vector<Column>& columns);
    // Appends the lines of one row (nothing when no cell has a line).
    static void PrintRowLines(CString& out, const CRowCells& cells, const std::vector<int>& widths,
                              const std::vector<int>& alignments, int truncate);
    // The text of a field of ADO type `adoType` from its stored form into `text` (cleared first),
    // before the escapes; false when the field has no such form or is not shown by its value.
    static bool AppendStored(CString& text, const zentra::StoredField& field, int adoType);
    // The text of a value as printed (control characters as escapes), into `text`: from its
    // stored form in `stored` (the record's, from GetRecordStored) where it has one, else read as
    // a variant into `value`, which is scratch space. True when the text is known to be one line
    // of characters one column wide (a number, a date, NULL, printable ASCII).
    static bool ValueText(zentra::CADORecordSet& rs, const Column& column,
                          const std::vector<zentra::StoredField>& stored, zentra::_variant_t& value, CString& text);
    std::atomic<zentra::COutput*> output_;
    zentra::CADORecordSet* recordset_;
    const FieldMapArray* fieldMap_;
    std::atomic<std::int32_t> stopFlag{1};
    int maxColumnWidth_ = 30;
};

// The shell's one printer, bound to the shell's current output (State().output).
CPrintRecords& Printer();

// The printer options of the shell's settings (SET TABLE, SET TRUNCATE, SET INDEX).
PrintOptions CurrentPrintOptions();

// The "Query Okay" line after a statement that took `elapsed` seconds: `count` rows in set
// (a result) or affected (a change).
enum class QueryOkay { InSet, Affected };
void PrintQueryOkay(zentra::COutput& out, QueryOkay kind, long count, const CString& elapsed);

}  // namespace orva
