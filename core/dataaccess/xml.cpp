#include "xml.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/xmlerror.h>
#include <libxml/parser.h>
#include <libxml/xmlwriter.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <optional>
#include <system_error>
#include <unordered_map>

#include "zentra/unique_fd.h"
#include "zentra/codepage.h"
#include "zentra/dataaccess.h"
#include "zentra/format.h"
#include "zentra/text.h"
#include "zentra/values.h"

namespace zentra {

namespace {

constexpr const char* kNsSchema = "uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882";
constexpr const char* kNsDataType = "uuid:C2F41010-65B3-11d1-A29F-00AA00C14882";
constexpr const char* kNsRowset = "urn:schemas-microsoft-com:rowset";
constexpr const char* kNsRow = "#RowsetSchema";
const wchar_t* const kBadXml = L"Recordset cannot be created. Source XML is incomplete or invalid.";
constexpr long kUnlimited = 2147483647;

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }
const char* C(const xmlChar* text) { return reinterpret_cast<const char*>(text); }

std::string NativePath(const std::wstring& path) { return WideToMultiByte(path, CP_ACP); }

std::wstring ErrnoText(int error) { return MultiByteToWide(std::generic_category().message(error), CP_ACP); }

// Keeps libxml2 from printing: while it lives, the thread's error handlers record the first
// message instead.
class XmlErrors {
public:
    XmlErrors()
        : genericContext_(xmlGenericErrorContext),
          generic_(xmlGenericError),
          structuredContext_(xmlStructuredErrorContext),
          structured_(xmlStructuredError) {
        xmlSetGenericErrorFunc(this, &XmlErrors::Generic);
        xmlSetStructuredErrorFunc(this, &XmlErrors::Structured);
    }
    ~XmlErrors() {
        xmlSetGenericErrorFunc(genericContext_, generic_);
        xmlSetStructuredErrorFunc(structuredContext_, structured_);
    }
    XmlErrors(const XmlErrors&) = delete;
    XmlErrors& operator=(const XmlErrors&) = delete;

    static void Structured(void* self, xmlErrorPtr error) {
        auto* me = static_cast<XmlErrors*>(self);
        if (!error || error->level < XML_ERR_ERROR || !me->message.empty()) return;
        std::string text = error->message ? error->message : "unknown error";
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        me->message = Utf8ToWide(text);
        me->line = error->line;
    }
    static void Generic(void*, const char*, ...) {}

    std::wstring message;
    int line = 0;

private:
    void* genericContext_;
    xmlGenericErrorFunc generic_;
    void* structuredContext_;
    xmlStructuredErrorFunc structured_;
};

// ---- ADO types and their XML names ----

struct XmlType {
    const char* type;    // dt:type
    const char* dbtype;  // rs:dbtype, or null
};

XmlType XmlTypeOf(int adoType) {
    switch (adoType) {
    case adTinyInt: return {"i1", nullptr};
    case adUnsignedTinyInt: return {"ui1", nullptr};
    case adSmallInt: return {"i2", nullptr};
    case adUnsignedSmallInt: return {"ui2", nullptr};
    case adInteger: return {"int", nullptr};
    case adUnsignedInt: return {"ui4", nullptr};
    case adBigInt: return {"i8", nullptr};
    case adUnsignedBigInt: return {"ui8", nullptr};
    case adSingle: return {"r4", nullptr};
    case adDouble: return {"float", nullptr};
    case adCurrency: return {"number", "currency"};
    case adNumeric: return {"number", "numeric"};
    case adDecimal: return {"number", "decimal"};
    case adVarNumeric: return {"number", "varnumeric"};
    case adBoolean: return {"boolean", nullptr};
    case adDate: return {"dateTime", "variantdate"};
    case adDBTimeStamp: return {"dateTime", "timestamp"};
    case adDBDate: return {"date", nullptr};
    case adDBTime: return {"time", nullptr};
    case adGUID: return {"uuid", nullptr};
    case adChar:
    case adVarChar:
    case adLongVarChar: return {"string", "str"};
    case adBSTR: return {"string", "bstr"};
    case adBinary:
    case adVarBinary:
    case adLongVarBinary: return {"bin.hex", nullptr};
    default: return {"string", nullptr};
    }
}

int AdoTypeOf(std::string_view type, std::string_view dbtype, bool fixed, bool isLong) {
    if (type == "i1") return adTinyInt;
    if (type == "ui1") return adUnsignedTinyInt;
    if (type == "i2") return adSmallInt;
    if (type == "ui2") return adUnsignedSmallInt;
    if (type == "int" || type == "i4") return adInteger;
    if (type == "ui4") return adUnsignedInt;
    if (type == "i8") return adBigInt;
    if (type == "ui8") return adUnsignedBigInt;
    if (type == "r4") return adSingle;
    if (type == "float" || type == "r8") return adDouble;
    if (type == "fixed.14.4") return adCurrency;
    if (type == "number") {
        if (dbtype == "currency") return adCurrency;
        if (dbtype == "decimal") return adDecimal;
        if (dbtype == "varnumeric") return adVarNumeric;
        return adNumeric;
    }
    if (type == "boolean") return adBoolean;
    if (type == "dateTime" || type == "dateTime.tz") return dbtype == "variantdate" ? adDate : adDBTimeStamp;
    if (type == "date") return adDBDate;
    if (type == "time" || type == "time.tz") return adDBTime;
    if (type == "uuid") return adGUID;
    if (type == "bin.hex") return fixed ? adBinary : isLong ? adLongVarBinary : adVarBinary;
    if (dbtype == "str") return fixed ? adChar : isLong ? adLongVarChar : adVarChar;
    if (dbtype == "bstr") return adBSTR;
    // "string", "char" and types without a counterpart: the values are kept as text.
    return fixed ? adWChar : isLong ? adLongVarWChar : adVarWChar;
}

// ---- writing ----

// An attribute value with the characters XML treats specially escaped; false when the text
// holds a character XML 1.0 cannot carry at all.
bool EscapeAttribute(std::wstring_view text, std::wstring& out, wchar_t& bad) {
    out.clear();
    out.reserve(text.size());
    for (wchar_t ch : text) {
        switch (ch) {
        case L'&': out += L"&amp;"; continue;
        case L'<': out += L"&lt;"; continue;
        case L'>': out += L"&gt;"; continue;
        case L'"': out += L"&quot;"; continue;
        case L'\t': out += L"&#9;"; continue;
        case L'\n': out += L"&#10;"; continue;
        case L'\r': out += L"&#13;"; continue;
        default: break;
        }
        const auto code = static_cast<std::uint32_t>(ch);
        if (code < 0x20 || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE || code == 0xFFFF || code > 0x10FFFF) {
            bad = ch;
            return false;
        }
        out.push_back(ch);
    }
    return true;
}

class Writer {
public:
    explicit Writer(xmlTextWriterPtr w) : w_(w) {}
    ~Writer() {
        if (w_) xmlFreeTextWriter(w_);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    bool ok() const { return ok_; }
    void Start(const char* name) { ok_ = ok_ && xmlTextWriterStartElement(w_, X(name)) >= 0; }
    void End() { ok_ = ok_ && xmlTextWriterEndElement(w_) >= 0; }
    // `escaped` must come from EscapeAttribute.
    void AttributeRaw(const char* name, const std::wstring& escaped) {
        if (!ok_) return;
        const std::string utf8 = WideToUtf8(escaped);
        ok_ = xmlTextWriterStartAttribute(w_, X(name)) >= 0 && xmlTextWriterWriteRaw(w_, X(utf8.c_str())) >= 0 &&
              xmlTextWriterEndAttribute(w_) >= 0;
    }
    // Text known to need no escaping (numbers, names of types, URIs).
    void Attribute(const char* name, const std::string& value) {
        ok_ = ok_ && xmlTextWriterWriteAttribute(w_, X(name), X(value.c_str())) >= 0;
    }
    bool Finish() {
        ok_ = ok_ && xmlTextWriterEndDocument(w_) >= 0 && xmlTextWriterFlush(w_) >= 0;
        xmlFreeTextWriter(w_);
        w_ = nullptr;
        return ok_;
    }
    xmlTextWriterPtr get() { return w_; }

private:
    xmlTextWriterPtr w_;
    bool ok_ = true;
};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

bool IsNumberKind(ValueKind kind) {
    return kind == ValueKind::Int || kind == ValueKind::UInt || kind == ValueKind::Float || kind == ValueKind::Double;
}

// Whether a value of type `vt` is a number of the column's kind. A database that types values
// rather than columns (SQLite) may hold a text or another number in a numeric column; such a
// value is written and read back as its own text, never read through the column's kind.
bool HoldsColumnNumber(ValueKind kind, VARTYPE vt) {
    switch (kind) {
    case ValueKind::Int:
    case ValueKind::UInt:
        return vt == VT_I1 || vt == VT_UI1 || vt == VT_I2 || vt == VT_UI2 || vt == VT_I4 || vt == VT_UI4 ||
               vt == VT_I8 || vt == VT_UI8 || vt == VT_INT || vt == VT_UINT;
    case ValueKind::Float: return vt == VT_R4;
    case ValueKind::Double: return vt == VT_R8;
    default: return true;
    }
}

template <class T>
std::wstring ShortestReal(T value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc()) return L"0";
    return AsciiToWide(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

// The value of column `col` of the loaded row in the text form of the XML format; the empty
// text for a date that has no calendar form.
std::wstring XmlValue(const RowSet& rows, std::size_t col) {
    const ColumnInfo& c = rows.columns[col];
    if (!HoldsColumnNumber(c.kind, rows.Value(col).vt())) return rows.Text(col);
    switch (c.kind) {
    case ValueKind::Int: return std::to_wstring(rows.Value(col).intVal());
    case ValueKind::UInt: return std::to_wstring(rows.Value(col).uintVal());
    case ValueKind::Float: return ShortestReal(rows.Value(col).fltVal());
    case ValueKind::Double: return ShortestReal(rows.Value(col).dblVal());
    case ValueKind::Bool: return rows.Value(col).boolVal() ? L"True" : L"False";
    case ValueKind::Decimal:
    case ValueKind::Text: return rows.Text(col);
    case ValueKind::Bytes: {
        const _variant_t v = rows.Value(col);
        return v.parray() ? AsciiToWide(Hex(v.parray()->bytes)) : std::wstring();
    }
    case ValueKind::Date:
    case ValueKind::Time:
    case ValueKind::Timestamp: {
        SYSTEMTIME st;
        if (!VariantToSystemTimeWithMilliseconds(rows.Value(col).dblVal(), st)) return std::wstring();
        if (c.kind == ValueKind::Date) return Format(L"%04d-%02d-%02d", st.wYear, st.wMonth, st.wDay);
        if (c.kind == ValueKind::Time) return Format(L"%02d:%02d:%02d", st.wHour, st.wMinute, st.wSecond);
        std::wstring text =
            Format(L"%04d-%02d-%02dT%02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
        if (st.wMilliseconds) text += Format(L".%03d", st.wMilliseconds);
        return text;
    }
    }
    return std::wstring();
}

// A number of the form XmlValue writes, read exactly into a variant of the column's width (a text
// would go through a double on its way: 64-bit integers would lose digits, the largest REAL
// would overflow). False for anything else.
bool ExactNumber(ValueKind kind, std::string_view text, _variant_t& out) {
    const char* first = text.data();
    const char* last = first + text.size();
    auto whole = [&](auto& value) {
        auto [end, ec] = std::from_chars(first, last, value);
        return ec == std::errc() && end == last && first != last;
    };
    switch (kind) {
    case ValueKind::Int: {
        std::int64_t v;
        if (!whole(v)) return false;
        out = _variant_t::I8(v);
        return true;
    }
    case ValueKind::UInt: {
        std::uint64_t v;
        if (!whole(v)) return false;
        out = _variant_t::UI8(v);
        return true;
    }
    case ValueKind::Float: {
        float v;
        if (!whole(v)) return false;
        out = _variant_t::R4(v);
        return true;
    }
    case ValueKind::Double: {
        double v;
        if (!whole(v)) return false;
        out = _variant_t::R8(v);
        return true;
    }
    default: return false;
    }
}

// Whether `text` is a whole number in the form XmlValue writes that is too large for `kind`.
bool BeyondItsKind(ValueKind kind, std::string_view text) {
    const char* first = text.data();
    const char* last = first + text.size();
    std::from_chars_result r{};
    if (kind == ValueKind::Int || kind == ValueKind::UInt) {
        std::uint64_t v;
        r = std::from_chars(first + (first != last && *first == '-'), last, v);
    } else {
        double v;
        r = std::from_chars(first, last, v);
    }
    return first != last && r.ptr == last && r.ec == std::errc::result_out_of_range;
}

bool IsXmlName(const std::wstring& name) {
    if (name.empty() || name.size() > 255) return false;
    const std::string utf8 = WideToUtf8(name);
    if (xmlValidateNCName(X(utf8.c_str()), 0) != 0) return false;
    // Names starting with "xml" are reserved; "xmlns" would declare a namespace.
    return !(name.size() >= 3 && EqualsNoCase(name.substr(0, 3), L"xml"));
}

// The attribute names of the columns in the rows: the column name where it is a plain XML name
// and unique, else "c<ordinal>" (the real name then goes in rs:name).
std::vector<std::wstring> AttributeNames(const std::vector<ColumnInfo>& columns) {
    std::vector<std::wstring> names(columns.size());
    std::vector<bool> plain(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        plain[i] = IsXmlName(columns[i].name);
        for (std::size_t j = 0; j < i && plain[i]; ++j)
            if (plain[j] && names[j] == columns[i].name) plain[i] = false;
        if (plain[i]) names[i] = columns[i].name;
    }
    auto taken = [&](const std::wstring& name) { return std::find(names.begin(), names.end(), name) != names.end(); };
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (plain[i]) continue;
        std::wstring name = L"c" + std::to_wstring(i);
        while (taken(name)) name += L"_";
        names[i] = name;
    }
    return names;
}

// The refusal for a character XML cannot hold, in the `where` of the file.
bool BadCharacter(XmlError& error, wchar_t bad, const std::wstring& where) {
    error.text = Format(L"The %s contains a character that XML cannot hold (code %d).", where, static_cast<int>(bad));
    error.code = ZE_FAIL;
    return false;
}

// The s:AttributeType of column `i` (its XML name `name`) and its s:datatype.
bool WriteColumnType(Writer& w, const ColumnInfo& c, std::size_t i, const std::wstring& name, XmlError& error) {
    std::wstring escaped;
    wchar_t bad = 0;
    w.Start("s:AttributeType");
    w.AttributeRaw("name", name);  // an XML name: nothing to escape
    if (name != c.name) {
        if (!EscapeAttribute(c.name, escaped, bad))
            return BadCharacter(error, bad, Format(L"name of field %d", static_cast<int>(i + 1)));
        w.AttributeRaw("rs:name", escaped);
    }
    w.Attribute("rs:number", std::to_string(i + 1));
    if (c.attributes & adFldIsNullable) w.Attribute("rs:nullable", "true");
    if (c.attributes & adFldUpdatable) w.Attribute("rs:write", "true");
    if (c.attributes & adFldUnknownUpdatable) w.Attribute("rs:writeunknown", "true");
    const std::pair<const char*, const std::wstring*> bases[] = {{"rs:basecatalog", &c.baseCatalog},
                                                                 {"rs:baseschema", &c.baseSchema},
                                                                 {"rs:basetable", &c.baseTable},
                                                                 {"rs:basecolumn", &c.baseColumn}};
    for (const auto& [attribute, value] : bases) {
        if (value->empty()) continue;
        if (!EscapeAttribute(*value, escaped, bad))
            return BadCharacter(error, bad, Format(L"description of field \"%s\"", c.name));
        w.AttributeRaw(attribute, escaped);
    }
    if (c.autoIncrement) w.Attribute("rs:autoincrement", "true");
    const XmlType type = XmlTypeOf(c.adoType);
    w.Start("s:datatype");
    w.Attribute("dt:type", type.type);
    if (type.dbtype) w.Attribute("rs:dbtype", type.dbtype);
    if (c.definedSize > 0) w.Attribute("dt:maxLength", std::to_string(c.definedSize));
    if (c.scale != 255) w.Attribute("rs:scale", std::to_string(c.scale));
    if (c.precision != 255) w.Attribute("rs:precision", std::to_string(c.precision));
    if (c.attributes & adFldFixed) w.Attribute("rs:fixedlength", "true");
    if (!(c.attributes & adFldMayBeNull)) w.Attribute("rs:maybenull", "false");
    if (c.attributes & adFldLong) w.Attribute("rs:long", "true");
    w.End();
    w.End();
    return true;
}

// The z:row elements of the records in the cursor's order (deleted ones left out).
bool WriteRows(Writer& w, Cursor& cursor, const std::vector<std::wstring>& names, XmlError& error) {
    RowSet& rows = *cursor.rows;
    const auto& columns = rows.columns;
    std::wstring escaped;
    wchar_t bad = 0;
    std::vector<std::string> attributeNames;
    for (const auto& name : names) attributeNames.push_back(WideToUtf8(name));
    for (std::size_t i = 0, count = cursor.Count(); i < count && w.ok(); ++i) {
        const std::size_t row = cursor.RowAt(static_cast<long>(i));
        if (rows.IsDeleted(row)) continue;
        rows.Load(row);
        w.Start("z:row");
        for (std::size_t col = 0; col < columns.size(); ++col) {
            if (rows.IsNull(col)) continue;  // NULL: the attribute is left out
            const std::wstring value = XmlValue(rows, col);
            const ValueKind kind = columns[col].kind;
            if (value.empty() && (kind == ValueKind::Date || kind == ValueKind::Time || kind == ValueKind::Timestamp)) {
                error.text = Format(L"The date in field \"%s\" of record %d cannot be written.", columns[col].name,
                                    static_cast<int>(i + 1));
                error.code = ZE_FAIL;
                return false;
            }
            if (!EscapeAttribute(value, escaped, bad))
                return BadCharacter(
                    error, bad,
                    Format(L"value of field \"%s\" in record %d", columns[col].name, static_cast<int>(i + 1)));
            w.AttributeRaw(attributeNames[col].c_str(), escaped);
        }
        w.End();
    }
    return true;
}

}  // namespace

bool SaveRowsetXml(const std::wstring& path, Cursor& cursor, XmlError& error) {
    xmlInitParser();
    RowSet& rows = *cursor.rows;
    const auto& columns = rows.columns;
    const std::string native = NativePath(path);
    UniqueFd fd(::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.Get() < 0) {
        const int e = errno;
        error.text = e == EEXIST ? Format(L"The file \"%s\" already exists.", path)
                                 : Format(L"The file \"%s\" cannot be created: %s", path, ErrnoText(e));
        error.code = ZE_FAIL;
        return false;
    }
    // From here on a failure removes the file this call created.
    struct Remover {
        const std::string& path;
        bool keep = false;
        ~Remover() {
            if (!keep) ::unlink(path.c_str());
        }
    } remover{native};

    XmlErrors errors;
    xmlOutputBufferPtr out = xmlOutputBufferCreateFd(fd.Get(), nullptr);
    xmlTextWriterPtr raw = out ? xmlNewTextWriter(out) : nullptr;
    if (!raw) {
        if (out) xmlOutputBufferClose(out);
        error.text = L"Out of memory.";
        error.code = ZE_OUTOFMEMORY;
        return false;
    }
    Writer w(raw);
    xmlTextWriterSetIndent(w.get(), 1);
    xmlTextWriterSetIndentString(w.get(), X("\t"));

    if (xmlTextWriterStartDocument(w.get(), nullptr, "UTF-8", nullptr) < 0) w.End();
    w.Start("xml");
    w.Attribute("xmlns:s", kNsSchema);
    w.Attribute("xmlns:dt", kNsDataType);
    w.Attribute("xmlns:rs", kNsRowset);
    w.Attribute("xmlns:z", kNsRow);
    w.Start("s:Schema");
    w.Attribute("id", "RowsetSchema");
    w.Start("s:ElementType");
    w.Attribute("name", "row");
    w.Attribute("content", "eltOnly");
    const std::vector<std::wstring> names = AttributeNames(columns);
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (!WriteColumnType(w, columns[i], i, names[i], error)) return false;
    w.Start("s:extends");
    w.Attribute("type", "rs:rowbase");
    w.End();
    w.End();  // s:ElementType
    w.End();  // s:Schema
    w.Start("rs:data");
    if (!WriteRows(w, cursor, names, error)) return false;
    w.End();  // rs:data
    w.End();  // xml
    const bool written = w.Finish();
    const int writeErrno = errno;
    if (!fd.Close() || !written) {
        error.text = Format(L"The file \"%s\" cannot be written: %s", path,
                            !errors.message.empty() ? errors.message : ErrnoText(writeErrno));
        error.code = ZE_FAIL;
        return false;
    }
    remover.keep = true;
    return true;
}

// ---- reading ----

void ColumnFromAdoType(ColumnInfo& c, int adoType, long definedSize, int precision, int scale, long attributes) {
    c.isUnsigned = false;
    c.columnSize = definedSize > 0 ? static_cast<SQLULEN>(definedSize) : 0;
    c.digits = 0;
    c.sqlType = SqlTypeOfAdo(adoType, c.isUnsigned);
    switch (adoType) {
    case adCurrency:
    case adNumeric:
    case adDecimal:
    case adVarNumeric:
        c.columnSize = static_cast<SQLULEN>(precision >= 0 && precision != 255 ? precision
                                            : adoType == adCurrency            ? 19
                                                                               : 38);
        c.digits = static_cast<SQLSMALLINT>(scale >= 0 && scale != 255 ? scale : adoType == adCurrency ? 4 : 0);
        break;
    case adDate:
    case adDBTimeStamp: c.digits = static_cast<SQLSMALLINT>(scale >= 0 && scale != 255 ? scale : 0); break;
    default: break;
    }
    c.nullable = (attributes & (adFldIsNullable | adFldMayBeNull)) != 0;
    DeriveColumn(c);
    // The file's own description wins over the derived one.
    c.adoType = adoType;
    if (definedSize > 0) c.definedSize = definedSize;
    c.precision = precision;
    c.scale = scale;
    c.attributes = attributes;
    c.isLong = (attributes & adFldLong) != 0;
}

namespace {

struct ColumnDef {
    std::string attribute;  // the attribute name in z:row
    std::wstring name;
    long number = 0;
    bool nullable = false, write = false, writeUnknown = false, autoIncrement = false;
    std::wstring baseCatalog, baseSchema, baseTable, baseColumn;
    std::string type = "string", dbtype;
    long maxLength = 0;
    int precision = 255, scale = 255;
    bool fixed = false, isLong = false, maybeNull = true;
};

bool ParseLong(const std::string& text, long& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool FromHex(std::string_view text, std::vector<std::uint8_t>& bytes) {
    if (text.size() % 2) return false;
    auto digit = [](char ch) {
        return ch >= '0' && ch <= '9'   ? ch - '0'
               : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
               : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                        : -1;
    };
    bytes.resize(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int hi = digit(text[2 * i]), lo = digit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return true;
}

// Looks at what comes before the root element: the file must be UTF-8 (or ASCII) and must not
// declare a document type, whose entities could expand without bound. False with the reason.
bool CheckProlog(int fd, std::wstring& reason) {
    constexpr std::size_t kLimit = 65536;
    std::string head(kLimit, '\0');
    const ssize_t n = ::pread(fd, head.data(), head.size(), 0);
    if (n < 0) {
        reason = ErrnoText(errno);
        return false;
    }
    head.resize(static_cast<std::size_t>(n));
    std::string_view s = head;
    if (s.size() >= 2 && ((s[0] == '\xFE' && s[1] == '\xFF') || (s[0] == '\xFF' && s[1] == '\xFE'))) {
        reason = L"The file is not in UTF-8.";
        return false;
    }
    if (s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
    for (;;) {
        while (!s.empty() && (s[0] == ' ' || s[0] == '\t' || s[0] == '\r' || s[0] == '\n')) s.remove_prefix(1);
        std::string_view end;
        if (s.substr(0, 2) == "<?") end = "?>";
        else if (s.substr(0, 4) == "<!--") end = "-->";
        else break;
        const std::size_t at = s.find(end, 2);
        if (at == std::string_view::npos) {
            if (static_cast<std::size_t>(n) == kLimit) {
                reason = L"The file starts with too long a prolog.";
                return false;
            }
            return true;  // cut short: the parser reports it
        }
        s.remove_prefix(at + end.size());
    }
    if (s.substr(0, 9) == "<!DOCTYPE") {
        reason = L"Document type declarations are not accepted.";
        return false;
    }
    if (!s.empty() && s[0] == '\0') {
        reason = L"The file is not in UTF-8.";
        return false;
    }
    return true;
}

// The state of one read: SAX events arrive in document order and fill `rows`.
class Loader {
public:
    explicit Loader(RowSet& rows) : rows_(rows) {}

    xmlParserCtxtPtr ctxt = nullptr;
    std::wstring failure;  // our own reason to stop
    std::wstring parserMessage;
    int parserLine = 0;
    bool complete() const { return sawRoot_ && sawSchema_ && sawData_; }

    static void Start(void* self, const xmlChar* local, const xmlChar*, const xmlChar* uri, int, const xmlChar**,
                      int count, int, const xmlChar** attributes) {
        auto* me = static_cast<Loader*>(self);
        if (me->failure.empty()) me->StartElement(C(local), uri ? C(uri) : nullptr, count, attributes);
        if (!me->failure.empty()) xmlStopParser(me->ctxt);
        ++me->depth_;
    }
    static void End(void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
        auto* me = static_cast<Loader*>(self);
        const int depth = --me->depth_;
        if (depth == me->skipDepth_) me->skipDepth_ = -1;
        if (depth == me->rowTypeDepth_) me->rowTypeDepth_ = -1;
        if (depth == me->dataDepth_) me->dataDepth_ = -1;
    }
    static void Subset(void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
        auto* me = static_cast<Loader*>(self);
        me->Fail(L"Document type declarations are not accepted.");
        xmlStopParser(me->ctxt);
    }
    static void Error(void* self, xmlErrorPtr error) {
        auto* me = static_cast<Loader*>(self);
        if (!error || error->level < XML_ERR_ERROR || !me->parserMessage.empty()) return;
        std::string text = error->message ? error->message : "unknown error";
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        me->parserMessage = Utf8ToWide(text);
        me->parserLine = error->line;
    }

private:
    struct Attr {
        std::string_view local;
        const char* uri;
        std::string_view value;
    };

    bool Fail(const std::wstring& reason) {
        if (failure.empty()) failure = reason;
        return false;
    }

    static bool Is(std::string_view local, const char* uri, const char* wantUri, const char* wantLocal) {
        return local == wantLocal && (wantUri ? uri && std::string_view(uri) == wantUri : !uri);
    }

    std::optional<std::string> Find(const std::vector<Attr>& attrs, const char* local, const char* uri) const {
        for (const Attr& a : attrs)
            if (Is(a.local, a.uri, uri, local)) return std::string(a.value);
        return std::nullopt;
    }
    bool Flag(const std::vector<Attr>& attrs, const char* local, const char* uri, bool otherwise) const {
        auto v = Find(attrs, local, uri);
        if (!v) return otherwise;
        return *v == "true" || *v == "1" || *v == "True" || *v == "-1";
    }

    void StartElement(std::string_view local, const char* uri, int count, const xmlChar** raw) {
        attrs_.clear();
        for (int i = 0; i < count; ++i) {
            const xmlChar** a = raw + 5 * i;
            attrs_.push_back(
                {C(a[0]), a[2] ? C(a[2]) : nullptr, std::string_view(C(a[3]), static_cast<std::size_t>(a[4] - a[3]))});
        }
        if (!sawRoot_) {
            if (depth_ != 0 || !Is(local, uri, nullptr, "xml"))
                return void(Fail(L"The document is not a saved recordset."));
            sawRoot_ = true;
            return;
        }
        if (Is(local, uri, kNsSchema, "Schema")) {
            if (sawSchema_) return void(Fail(L"The file holds more than one schema."));
            sawSchema_ = true;
        } else if (Is(local, uri, kNsSchema, "ElementType")) {
            if (Find(attrs_, "name", nullptr).value_or("") == "row" && !columnsReady_) rowTypeDepth_ = depth_;
        } else if (Is(local, uri, kNsSchema, "AttributeType") && rowTypeDepth_ >= 0) {
            ColumnDef d;
            auto name = Find(attrs_, "name", nullptr);
            if (!name || name->empty()) return void(Fail(L"A field has no name."));
            d.attribute = *name;
            auto realName = Find(attrs_, "name", kNsRowset);
            d.name = Utf8ToWide(realName ? *realName : *name);
            if (auto number = Find(attrs_, "number", kNsRowset); number && !ParseLong(*number, d.number))
                return void(Fail(Format(L"The number of field \"%s\" is not a number.", d.name)));
            d.nullable = Flag(attrs_, "nullable", kNsRowset, false);
            d.write = Flag(attrs_, "write", kNsRowset, false);
            d.writeUnknown = Flag(attrs_, "writeunknown", kNsRowset, false);
            d.autoIncrement = Flag(attrs_, "autoincrement", kNsRowset, false);
            d.baseCatalog = Utf8ToWide(Find(attrs_, "basecatalog", kNsRowset).value_or(""));
            d.baseSchema = Utf8ToWide(Find(attrs_, "baseschema", kNsRowset).value_or(""));
            d.baseTable = Utf8ToWide(Find(attrs_, "basetable", kNsRowset).value_or(""));
            d.baseColumn = Utf8ToWide(Find(attrs_, "basecolumn", kNsRowset).value_or(""));
            if (auto t = Find(attrs_, "type", kNsDataType)) d.type = *t;
            defs_.push_back(std::move(d));
        } else if (Is(local, uri, kNsSchema, "datatype") && rowTypeDepth_ >= 0 && !defs_.empty()) {
            ColumnDef& d = defs_.back();
            if (auto t = Find(attrs_, "type", kNsDataType)) d.type = *t;
            d.dbtype = Find(attrs_, "dbtype", kNsRowset).value_or("");
            long number = 0;
            if (auto v = Find(attrs_, "maxLength", kNsDataType)) {
                if (!ParseLong(*v, number) || number < 0)
                    return void(Fail(Format(L"The size of field \"%s\" is not a number.", d.name)));
                d.maxLength = number;
            }
            if (auto v = Find(attrs_, "precision", kNsRowset)) {
                if (!ParseLong(*v, number) || number < 0 || number > 255)
                    return void(Fail(Format(L"The precision of field \"%s\" is out of range.", d.name)));
                d.precision = static_cast<int>(number);
            }
            if (auto v = Find(attrs_, "scale", kNsRowset)) {
                if (!ParseLong(*v, number) || number < 0 || number > 255)
                    return void(Fail(Format(L"The scale of field \"%s\" is out of range.", d.name)));
                d.scale = static_cast<int>(number);
            }
            d.fixed = Flag(attrs_, "fixedlength", kNsRowset, false);
            d.isLong = Flag(attrs_, "long", kNsRowset, false);
            d.maybeNull = Flag(attrs_, "maybenull", kNsRowset, true);
        } else if (Is(local, uri, kNsRowset, "data")) {
            if (!sawSchema_ || sawData_) return void(Fail(L"The rows do not follow a schema."));
            sawData_ = true;
            if (!columnsReady_ && !FinishColumns()) return;
            dataDepth_ = depth_;
        } else if ((Is(local, uri, kNsRowset, "delete") || Is(local, uri, kNsRowset, "original")) && skipDepth_ < 0) {
            skipDepth_ = depth_;  // rows deleted, and the old values of changed rows, are not records
        } else if (Is(local, uri, kNsRow, "row") && dataDepth_ >= 0 && skipDepth_ < 0) {
            Row();
        }
    }

    bool FinishColumns() {
        if (defs_.empty()) return Fail(L"The schema describes no fields.");
        std::stable_sort(defs_.begin(), defs_.end(), [](const ColumnDef& a, const ColumnDef& b) {
            return (a.number > 0 ? a.number : kUnlimited) < (b.number > 0 ? b.number : kUnlimited);
        });
        rows_.columns.clear();
        for (std::size_t i = 0; i < defs_.size(); ++i) {
            const ColumnDef& d = defs_[i];
            if (!byAttribute_.emplace(d.attribute, i).second)
                return Fail(Format(L"The field \"%s\" is described twice.", Utf8ToWide(d.attribute)));
            long attributes = 0;
            if (d.nullable) attributes |= adFldIsNullable;
            if (d.maybeNull) attributes |= adFldMayBeNull;
            if (d.write) attributes |= adFldUpdatable;
            if (d.writeUnknown) attributes |= adFldUnknownUpdatable;
            if (d.fixed) attributes |= adFldFixed;
            if (d.isLong) attributes |= adFldLong;
            ColumnInfo c;
            c.name = d.name;
            ColumnFromAdoType(c, AdoTypeOf(d.type, d.dbtype, d.fixed, d.isLong), d.maxLength, d.precision, d.scale,
                              attributes);
            c.baseCatalog = d.baseCatalog;
            c.baseSchema = d.baseSchema;
            c.baseTable = d.baseTable;
            c.baseColumn = d.baseColumn;
            c.autoIncrement = d.autoIncrement;
            rows_.columns.push_back(std::move(c));
        }
        columnsReady_ = true;
        return true;
    }

    void Row() {
        ++record_;
        values_.assign(rows_.columns.size(), _variant_t::Null());
        for (const Attr& a : attrs_) {
            if (a.uri) continue;  // attributes of other vocabularies
            const auto it = byAttribute_.find(std::string(a.local));
            if (it == byAttribute_.end())
                return void(Fail(
                    Format(L"Record %ld has a value for the unknown field \"%s\".", record_, Utf8ToWide(a.local))));
            const std::size_t col = it->second;
            const ColumnInfo& c = rows_.columns[col];
            _variant_t in;
            if (c.kind == ValueKind::Bytes) {
                if (!FromHex(a.value, bytes_))
                    return void(
                        Fail(Format(L"The value of field \"%s\" in record %ld is not hexadecimal.", c.name, record_)));
                in = _variant_t::Bytes(bytes_.data(), bytes_.size());
            } else if (!ExactNumber(c.kind, a.value, in)) {
                in = _variant_t::Bstr(Utf8ToWide(a.value));
            }
            // A number too large for its column's kind (SQLite keeps such a value as text) is refused,
            // never read as another number.
            if (IsNumberKind(c.kind) && in.vt() == VT_BSTR && BeyondItsKind(c.kind, a.value))
                return void(Fail(Format(L"The value \"%s\" of field \"%s\" in record %ld is too large for its type.",
                                        Utf8ToWide(a.value), c.name, record_)));
            // A numeric that is not a number (PostgreSQL's NaN and infinities) stays as written.
            if (c.kind == ValueKind::Decimal && (a.value == "NaN" || a.value == "Infinity" || a.value == "-Infinity")) {
                values_[col] = in;
                continue;
            }
            std::wstring why;
            if (!rows_.Coerce(col, in, values_[col], why))
                return void(Fail(Format(L"The value \"%s\" of field \"%s\" in record %ld does not suit its type.",
                                        Utf8ToWide(a.value), c.name, record_)));
            // Numerics keep their digits as written (trailing zeros of the fraction too).
            if (c.kind == ValueKind::Decimal && !a.value.empty() && a.value[0] != '+' &&
                a.value.find_first_of(" \t\r\n") == std::string_view::npos)
                values_[col] = in;
        }
        rows_.AppendRow(values_);
    }

    RowSet& rows_;
    std::vector<Attr> attrs_;
    std::vector<ColumnDef> defs_;
    std::unordered_map<std::string, std::size_t> byAttribute_;
    bool sawRoot_ = false, sawSchema_ = false, columnsReady_ = false, sawData_ = false;
    int depth_ = 0, rowTypeDepth_ = -1, dataDepth_ = -1, skipDepth_ = -1;
    long record_ = 0;
    std::vector<_variant_t> values_;
    std::vector<std::uint8_t> bytes_;
};

int ReadFd(void* context, char* buffer, int length) {
    for (;;) {
        const ssize_t n = ::read(*static_cast<int*>(context), buffer, static_cast<std::size_t>(length));
        if (n >= 0) return static_cast<int>(n);
        if (errno != EINTR) return -1;
    }
}

}  // namespace

bool LoadRowsetXml(const std::wstring& path, RowSet& rows, XmlError& error) {
    xmlInitParser();
    const std::string native = NativePath(path);
    UniqueFd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        error.text = Format(L"The file \"%s\" cannot be opened: %s", path, ErrnoText(errno));
        error.code = ZE_FAIL;
        return false;
    }
    auto invalid = [&](const std::wstring& detail) {
        error.text = kBadXml;
        if (!detail.empty()) error.text += L" " + detail;
        error.code = ZE_FAIL;
        return false;
    };
    struct stat info {};
    if (::fstat(fd.Get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0)
        return invalid(L"The file is empty.");
    std::wstring prolog;
    if (!CheckProlog(fd.Get(), prolog)) return invalid(prolog);

    // A streaming SAX read: no tree is built, and the handler declares no entities, so none
    // can expand. Values may be as long as the data they hold (beyond libxml2's usual 10 MB).
    XmlErrors errors;
    Loader loader(rows);
    xmlSAXHandler sax{};
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = &Loader::Start;
    sax.endElementNs = &Loader::End;
    sax.internalSubset = &Loader::Subset;
    sax.serror = &Loader::Error;
    int handle = fd.Get();
    xmlParserCtxtPtr ctxt = xmlCreateIOParserCtxt(&sax, &loader, &ReadFd, nullptr, &handle, XML_CHAR_ENCODING_NONE);
    if (!ctxt) {
        error.text = L"Out of memory.";
        error.code = ZE_OUTOFMEMORY;
        return false;
    }
    // NOENT: the predefined entities (&amp; ...) come as the characters they stand for; no other
    // entity can be declared here.
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOENT);
    loader.ctxt = ctxt;
    const int rc = xmlParseDocument(ctxt);
    const bool wellFormed = ctxt->wellFormed != 0;
    xmlFreeParserCtxt(ctxt);
    if (!loader.failure.empty()) return invalid(loader.failure);
    if (rc != 0 || !wellFormed || !loader.parserMessage.empty()) {
        const std::wstring& message = !loader.parserMessage.empty() ? loader.parserMessage : errors.message;
        return invalid(message.empty() ? std::wstring() : Format(L"Line %d: %s", loader.parserLine, message));
    }
    if (!loader.complete()) return invalid(L"The file holds no saved recordset.");
    rows.Finish();
    return true;
}

}  // namespace zentra
