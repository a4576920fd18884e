// The recordset XML reader. Property: a file that opens saves, and the saved file opens to the
// same columns and the same values.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "dataaccess/cursor.h"
#include "dataaccess/xml.h"
#include "zentra/codepage.h"

using namespace zentra;

namespace {

std::wstring TempPath(const char* what) {
    return Utf8ToWide("/tmp/orvanta-fuzz-" + std::to_string(getpid()) + "-" + what + ".xml");
}

bool SameColumns(const RowSet& a, const RowSet& b) {
    if (a.columns.size() != b.columns.size()) return false;
    for (std::size_t i = 0; i < a.columns.size(); ++i) {
        const ColumnInfo &x = a.columns[i], &y = b.columns[i];
        if (x.name != y.name || x.adoType != y.adoType || x.kind != y.kind || x.nullable != y.nullable) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring in = TempPath("in"), out = TempPath("out");
    const std::string inBytes = WideToUtf8(in);
    FILE* f = std::fopen(inBytes.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    auto first = std::make_shared<RowSet>();
    XmlError error;
    const bool opened = LoadRowsetXml(in, *first, error);
    ::unlink(inBytes.c_str());
    if (!opened) return 0;

    Cursor cursor(first);
    ::unlink(WideToUtf8(out).c_str());
    if (!SaveRowsetXml(out, cursor, error)) std::abort();
    RowSet second;
    const bool reopened = LoadRowsetXml(out, second, error);
    ::unlink(WideToUtf8(out).c_str());
    if (!reopened || !SameColumns(*first, second) || first->RowCount() != second.RowCount()) std::abort();
    for (std::size_t r = 0; r < first->RowCount(); ++r)
        if (first->RowValues(r) != second.RowValues(r)) std::abort();
    return 0;
}
