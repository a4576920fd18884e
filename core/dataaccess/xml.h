// A recordset's rows in ADO's XML persistence format (the "RowsetSchema" of MSPersist), UTF-8.
#pragma once

#include <cstdint>
#include <string>

#include "cursor.h"
#include "rowset.h"

namespace zentra {

struct XmlError {
    std::wstring text;
    std::uint32_t code = 0;
};

// Writes the columns and the visible, not deleted records of `cursor` in their visible order to
// a new file `path`; an existing file is not replaced. On failure nothing is left behind.
bool SaveRowsetXml(const std::wstring& path, Cursor& cursor, XmlError& error);
// Reads a file SaveRowsetXml (or ADO) wrote into `rows`.
bool LoadRowsetXml(const std::wstring& path, RowSet& rows, XmlError& error);

// The description of a column of ADO type `adoType` (its value kind and an ODBC type to match).
// `definedSize`, `precision` and `scale` as ADO gives them (255: not applicable), `attributes`
// the FieldAttributeEnum bits.
void ColumnFromAdoType(ColumnInfo& column, int adoType, long definedSize, int precision, int scale, long attributes);

}  // namespace zentra
