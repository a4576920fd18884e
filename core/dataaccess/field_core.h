// What a FieldPtr refers to: one column of one recordset's result, read at that recordset's
// current record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "cursor.h"
#include "zentra/dataaccess.h"

namespace zentra {

struct FieldCore {
    // The recordset that made the field. Only used while `ownerAlive` has not expired.
    CADORecordSet* owner = nullptr;
    std::weak_ptr<int> ownerAlive;
    // The result the field was made from: the field works only while the owner still has it
    // (a Close, a new Open or a Requery gives the owner another one).
    std::weak_ptr<Cursor> cursor;
    std::size_t column = 0;

    // The owner and the result when the field is still valid; otherwise null, with the reason in
    // `error` and `code`.
    CADORecordSet* Owner(std::shared_ptr<Cursor>& result, CString& error, std::uint32_t& code) const;
};

// Reads field property `name` of column `column` of `cursor` (the names and kinds are listed in
// properties.cpp): 1, or 0 with the error in `error` and `code`.
int ReadFieldPropertyOf(Cursor& cursor, std::size_t column, const wchar_t* name, _variant_t& value, CString& error,
                        std::uint32_t& code);

}  // namespace zentra
