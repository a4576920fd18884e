// Schema rowsets (catalogs, tables, columns, procedures, indexes) built from the ODBC catalog
// functions, with OLE DB's column names and restriction order.
#pragma once

#include "connection_core.h"
#include "rowset.h"
#include "zentra/variant.h"

namespace zentra {

bool BuildSchemaRowset(ConnectionCore& core, int schema, const _variant_t& restrictions, RowSet& out, const void* owner,
                       OdbcError& error);

}  // namespace zentra
