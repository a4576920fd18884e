#include "xml.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlwriter.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <optional>
#include <system_error>
#include <unordered_map>

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
        : genericContext_(xmlGenericErrorContext), generic_(xmlGenericError),
          structuredContext_(xmlStructuredErrorContext), structured_(xmlStructuredError) {
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

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now; false when the close reports an error (data not written).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
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

template <class T>
std::wstring ShortestReal(T value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc()) return L"0";
    return AsciiToWide(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

// The value of column `col` of the loaded row in the text form of the XML format.
std::wstring XmlValue(const RowSet& rows, std::size_t col) {
    const ColumnInfo& c = rows.columns[col];
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
        VariantToSystemTimeWithMilliseconds(rows.Value(col).dblVal(), st);
        if (c.kind == ValueKind::Date) return Format(L"%04d-%02d-%02d", st.wYear, st.wMonth, st.wDay);
        if (c.kind == ValueKind::Time) return Format(L"%02d:%02d:%02d", st.wHour, st.wMinute, st.wSecond);
        std::wstring text = Format(L"%04d-%02d-%02dT%02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
        if (st.wMilliseconds) text += Format(L".%03d", st.wMilliseconds);
        return text;
    }
    }
    return std::wstring();
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

}  // namespace

bool SaveRowsetXml(const std::wstring& path, Cursor& cursor, XmlError& error) {
    xmlInitParser();
    RowSet& rows = *cursor.rows;
    const auto& columns = rows.columns;
    const std::string native = NativePath(path);
    Fd fd(::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
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
    xmlOutputBufferPtr out = xmlOutputBufferCreateFd(fd.get(), nullptr);
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
    std::wstring escaped;
    wchar_t bad = 0;
    auto failBadChar = [&](const std::wstring& where) {
        error.text = Format(L"The %s contains a character that XML cannot hold (code %d).", where, static_cast<int>(bad));
        error.code = ZE_FAIL;
        return false;
    };

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
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnInfo& c = columns[i];
        w.Start("s:AttributeType");
        w.AttributeRaw("name", names[i]);  // an XML name: nothing to escape
        if (names[i] != c.name) {
            if (!EscapeAttribute(c.name, escaped, bad)) return failBadChar(Format(L"name of field %d", static_cast<int>(i + 1)));
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
            if (!EscapeAttribute(*value, escaped, bad)) return failBadChar(Format(L"description of field \"%s\"", c.name));
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
    }
    w.Start("s:extends");
    w.Attribute("type", "rs:rowbase");
    w.End();
    w.End();  // s:ElementType
    w.End();  // s:Schema
    w.Start("rs:data");
    std::vector<std::string> attributeNames;
    for (const auto& name : names) attributeNames.push_back(WideToUtf8(name));
    for (std::size_t i = 0, count = cursor.Count(); i < count && w.ok(); ++i) {
        const std::size_t row = cursor.RowAt(static_cast<long>(i));
        if (rows.IsDeleted(row)) continue;
        rows.Load(row);
        w.Start("z:row");
        for (std::size_t col = 0; col < columns.size(); ++col) {
            if (rows.IsNull(col)) continue;  // NULL: the attribute is left out
            if (!EscapeAttribute(XmlValue(rows, col), escaped, bad))
                return failBadChar(Format(L"value of field \"%s\" in record %d", columns[col].name, static_cast<int>(i + 1)));
            w.AttributeRaw(attributeNames[col].c_str(), escaped);
        }
        w.End();
    }
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
    switch (adoType) {
    case adTinyInt: c.sqlType = SQL_TINYINT; break;
    case adUnsignedTinyInt: c.sqlType = SQL_TINYINT; c.isUnsigned = true; break;
    case adSmallInt: c.sqlType = SQL_SMALLINT; break;
    case adUnsignedSmallInt: c.sqlType = SQL_SMALLINT; c.isUnsigned = true; break;
    case adInteger: c.sqlType = SQL_INTEGER; break;
    case adUnsignedInt: c.sqlType = SQL_INTEGER; c.isUnsigned = true; break;
    case adBigInt: c.sqlType = SQL_BIGINT; break;
    case adUnsignedBigInt: c.sqlType = SQL_BIGINT; c.isUnsigned = true; break;
    case adSingle: c.sqlType = SQL_REAL; break;
    case adDouble: c.sqlType = SQL_DOUBLE; break;
    case adCurrency:
    case adNumeric:
    case adDecimal:
    case adVarNumeric:
        c.sqlType = SQL_NUMERIC;
        c.columnSize = static_cast<SQLULEN>(precision >= 0 && precision != 255 ? precision : adoType == adCurrency ? 19 : 38);
        c.digits = static_cast<SQLSMALLINT>(scale >= 0 && scale != 255 ? scale : adoType == adCurrency ? 4 : 0);
        break;
    case adBoolean: c.sqlType = SQL_BIT; break;
    case adDate:
    case adDBTimeStamp:
        c.sqlType = SQL_TYPE_TIMESTAMP;
        c.digits = static_cast<SQLSMALLINT>(scale >= 0 && scale != 255 ? scale : 0);
        break;
    case adDBDate: c.sqlType = SQL_TYPE_DATE; break;
    case adDBTime: c.sqlType = SQL_TYPE_TIME; break;
    case adGUID: c.sqlType = SQL_GUID; break;
    case adChar: c.sqlType = SQL_CHAR; break;
    case adWChar: c.sqlType = SQL_WCHAR; break;
    case adVarChar: c.sqlType = SQL_VARCHAR; break;
    case adLongVarChar: c.sqlType = SQL_LONGVARCHAR; break;
    case adLongVarWChar: c.sqlType = SQL_WLONGVARCHAR; break;
    case adBinary: c.sqlType = SQL_BINARY; break;
    case adVarBinary: c.sqlType = SQL_VARBINARY; break;
    case adLongVarBinary: c.sqlType = SQL_LONGVARBINARY; break;
    default: c.sqlType = SQL_WVARCHAR; break;  // adVarWChar, adBSTR and the rest: text
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

class Reader {
public:
    explicit Reader(xmlTextReaderPtr r) : r_(r) {}
    ~Reader() {
        if (r_) xmlFreeTextReader(r_);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    xmlTextReaderPtr get() const { return r_; }

    std::optional<std::string> Attribute(const char* name, const char* ns = nullptr) const {
        xmlChar* v = ns ? xmlTextReaderGetAttributeNs(r_, X(name), X(ns)) : xmlTextReaderGetAttribute(r_, X(name));
        if (!v) return std::nullopt;
        std::string text = C(v);
        xmlFree(v);
        return text;
    }
    bool Flag(const char* name, const char* ns, bool otherwise) const {
        auto v = Attribute(name, ns);
        if (!v) return otherwise;
        return *v == "true" || *v == "1" || *v == "True" || *v == "-1";
    }
    bool Is(const char* ns, const char* local) const {
        const xmlChar* uri = xmlTextReaderConstNamespaceUri(r_);
        const xmlChar* name = xmlTextReaderConstLocalName(r_);
        return name && std::string_view(C(name)) == local && (ns ? uri && std::string_view(C(uri)) == ns : !uri);
    }

private:
    xmlTextReaderPtr r_;
};

bool ParseLong(const std::string& text, long& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool FromHex(std::string_view text, std::vector<std::uint8_t>& bytes) {
    if (text.size() % 2) return false;
    auto digit = [](char ch) {
        return ch >= '0' && ch <= '9' ? ch - '0' : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10 : -1;
    };
    bytes.resize(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int hi = digit(text[2 * i]), lo = digit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return true;
}

}  // namespace

bool LoadRowsetXml(const std::wstring& path, RowSet& rows, XmlError& error) {
    xmlInitParser();
    const std::string native = NativePath(path);
    Fd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
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
    if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) return invalid(L"The file is empty.");
    XmlErrors errors;
    Reader reader(xmlReaderForFd(fd.get(), nullptr, nullptr, XML_PARSE_NONET));
    if (!reader.get()) {
        error.text = L"Out of memory.";
        error.code = ZE_OUTOFMEMORY;
        return false;
    }
    xmlTextReaderSetStructuredErrorHandler(reader.get(), &XmlErrors::Structured, &errors);

    std::vector<ColumnDef> defs;
    std::unordered_map<std::string, std::size_t> byAttribute;
    bool sawRoot = false, sawSchema = false, inRowType = false, columnsReady = false, sawData = false;
    int rowTypeDepth = -1, dataDepth = -1, skipDepth = -1;
    long record = 0;
    std::vector<_variant_t> values;
    std::vector<std::uint8_t> bytes;

    auto finishColumns = [&]() -> bool {
        if (defs.empty()) return invalid(L"The schema describes no fields.");
        std::stable_sort(defs.begin(), defs.end(), [](const ColumnDef& a, const ColumnDef& b) {
            return (a.number > 0 ? a.number : kUnlimited) < (b.number > 0 ? b.number : kUnlimited);
        });
        rows.columns.clear();
        for (std::size_t i = 0; i < defs.size(); ++i) {
            const ColumnDef& d = defs[i];
            if (!byAttribute.emplace(d.attribute, i).second)
                return invalid(Format(L"The field \"%s\" is described twice.", Utf8ToWide(d.attribute)));
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
            rows.columns.push_back(std::move(c));
        }
        columnsReady = true;
        return true;
    };

    int rc;
    while ((rc = xmlTextReaderRead(reader.get())) == 1) {
        const int type = xmlTextReaderNodeType(reader.get());
        const int depth = xmlTextReaderDepth(reader.get());
        if (type == XML_READER_TYPE_DOCUMENT_TYPE) return invalid(L"Document type declarations are not accepted.");
        if (type == XML_READER_TYPE_END_ELEMENT) {
            if (depth == skipDepth) skipDepth = -1;
            if (depth == rowTypeDepth) inRowType = false, rowTypeDepth = -1;
            if (depth == dataDepth) dataDepth = -1;
            continue;
        }
        if (type != XML_READER_TYPE_ELEMENT) continue;
        const bool empty = xmlTextReaderIsEmptyElement(reader.get()) == 1;
        if (!sawRoot) {
            if (!reader.Is(nullptr, "xml")) return invalid(L"The document is not a saved recordset.");
            sawRoot = true;
            continue;
        }
        if (reader.Is(kNsSchema, "Schema")) {
            if (sawSchema) return invalid(L"The file holds more than one schema.");
            sawSchema = true;
        } else if (reader.Is(kNsSchema, "ElementType")) {
            if (reader.Attribute("name").value_or("") == "row" && !columnsReady && !empty) {
                inRowType = true;
                rowTypeDepth = depth;
            }
        } else if (reader.Is(kNsSchema, "AttributeType") && inRowType) {
            ColumnDef d;
            auto name = reader.Attribute("name");
            if (!name || name->empty()) return invalid(L"A field has no name.");
            d.attribute = *name;
            auto realName = reader.Attribute("name", kNsRowset);
            d.name = Utf8ToWide(realName ? *realName : *name);
            if (auto number = reader.Attribute("number", kNsRowset); number && !ParseLong(*number, d.number))
                return invalid(Format(L"The number of field \"%s\" is not a number.", d.name));
            d.nullable = reader.Flag("nullable", kNsRowset, false);
            d.write = reader.Flag("write", kNsRowset, false);
            d.writeUnknown = reader.Flag("writeunknown", kNsRowset, false);
            d.autoIncrement = reader.Flag("autoincrement", kNsRowset, false);
            d.baseCatalog = Utf8ToWide(reader.Attribute("basecatalog", kNsRowset).value_or(""));
            d.baseSchema = Utf8ToWide(reader.Attribute("baseschema", kNsRowset).value_or(""));
            d.baseTable = Utf8ToWide(reader.Attribute("basetable", kNsRowset).value_or(""));
            d.baseColumn = Utf8ToWide(reader.Attribute("basecolumn", kNsRowset).value_or(""));
            if (auto t = reader.Attribute("type", kNsDataType)) d.type = *t;
            defs.push_back(std::move(d));
        } else if (reader.Is(kNsSchema, "datatype") && inRowType && !defs.empty()) {
            ColumnDef& d = defs.back();
            if (auto t = reader.Attribute("type", kNsDataType)) d.type = *t;
            d.dbtype = reader.Attribute("dbtype", kNsRowset).value_or("");
            long number = 0;
            if (auto v = reader.Attribute("maxLength", kNsDataType)) {
                if (!ParseLong(*v, number) || number < 0) return invalid(Format(L"The size of field \"%s\" is not a number.", d.name));
                d.maxLength = number;
            }
            if (auto v = reader.Attribute("precision", kNsRowset)) {
                if (!ParseLong(*v, number) || number < 0 || number > 255) return invalid(Format(L"The precision of field \"%s\" is out of range.", d.name));
                d.precision = static_cast<int>(number);
            }
            if (auto v = reader.Attribute("scale", kNsRowset)) {
                if (!ParseLong(*v, number) || number < 0 || number > 255) return invalid(Format(L"The scale of field \"%s\" is out of range.", d.name));
                d.scale = static_cast<int>(number);
            }
            d.fixed = reader.Flag("fixedlength", kNsRowset, false);
            d.isLong = reader.Flag("long", kNsRowset, false);
            d.maybeNull = reader.Flag("maybenull", kNsRowset, true);
        } else if (reader.Is(kNsRowset, "data")) {
            if (!sawSchema || sawData) return invalid(L"The rows do not follow a schema.");
            sawData = true;
            if (!columnsReady && !finishColumns()) return false;
            if (!empty) dataDepth = depth;
        } else if ((reader.Is(kNsRowset, "delete") || reader.Is(kNsRowset, "original")) && !empty && skipDepth < 0) {
            skipDepth = depth;  // rows deleted, and the old values of changed rows, are not records
        } else if (reader.Is(kNsRow, "row") && dataDepth >= 0 && skipDepth < 0) {
            ++record;
            values.assign(rows.columns.size(), _variant_t::Null());
            if (xmlTextReaderMoveToFirstAttribute(reader.get()) == 1) {
                do {
                    if (xmlTextReaderIsNamespaceDecl(reader.get()) == 1 || xmlTextReaderConstNamespaceUri(reader.get())) continue;
                    const std::string name = C(xmlTextReaderConstLocalName(reader.get()));
                    const auto it = byAttribute.find(name);
                    if (it == byAttribute.end())
                        return invalid(Format(L"Record %ld has a value for the unknown field \"%s\".", record, Utf8ToWide(name)));
                    const std::size_t col = it->second;
                    const xmlChar* raw = xmlTextReaderConstValue(reader.get());
                    const std::string_view text = raw ? C(raw) : "";
                    _variant_t in;
                    if (rows.columns[col].kind == ValueKind::Bytes) {
                        if (!FromHex(text, bytes))
                            return invalid(Format(L"The value of field \"%s\" in record %ld is not hexadecimal.", rows.columns[col].name, record));
                        in = _variant_t::Bytes(bytes.data(), bytes.size());
                    } else {
                        in = _variant_t::Bstr(Utf8ToWide(text));
                    }
                    std::wstring why;
                    if (!rows.Coerce(col, in, values[col], why))
                        return invalid(Format(L"The value \"%s\" of field \"%s\" in record %ld does not suit its type.",
                                              Utf8ToWide(text), rows.columns[col].name, record));
                    // Numerics keep their digits as written (trailing zeros of the fraction too).
                    if (rows.columns[col].kind == ValueKind::Decimal && !text.empty() && text[0] != '+' &&
                        text.find_first_of(" \t\r\n") == std::string_view::npos)
                        values[col] = in;
                } while (xmlTextReaderMoveToNextAttribute(reader.get()) == 1);
                xmlTextReaderMoveToElement(reader.get());
            }
            rows.AppendRow(values);
        }
    }
    if (rc < 0 || !errors.message.empty()) {
        const std::wstring detail = errors.message.empty() ? std::wstring() : Format(L"Line %d: %s", errors.line, errors.message);
        return invalid(detail);
    }
    if (!sawRoot || !sawSchema || !sawData) return invalid(L"The file holds no saved recordset.");
    rows.Finish();
    return true;
}

}  // namespace zentra
