// The statement text that a command type stands for.
#pragma once

#include <string>

#include "zentra/dataaccess.h"

namespace zentra {

// adCmdTable: "select * from" the table; adCmdStoredProc: an ODBC call of the procedure;
// otherwise the text itself.
inline std::wstring StatementFor(const std::wstring& text, int type) {
    switch (type) {
    case adCmdTable: return L"select * from " + text;
    case adCmdStoredProc: return L"{call " + text + L"}";
    default: return text;
    }
}

}  // namespace zentra
