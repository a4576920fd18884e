// Recordsets saved as XML and opened again: the format, round trips on every backend, and files
// that are not saved recordsets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "backend_test.h"
#include "tempdir.h"
#include "zentra/codepage.h"
#include "zentra/dataaccess.h"
#include "zentra/format.h"
#include "zentra/text.h"
#include "zentra/values.h"

using namespace zentra;
using testdb::BackendName;
using testdb::Kind;
using testdb::U8;

namespace {

const wchar_t* const kBadXml = L"Recordset cannot be created. Source XML is incomplete or invalid.";

// Files in a directory of their own, removed with it when the object goes.
class TempFiles {
public:
    std::string New(const std::string& stem) { return dir_.str() + "/" + std::to_string(count_++) + stem + ".xml"; }

private:
    testdb::TempDir dir_{"orvanta_se"};
    int count_ = 0;
};

std::wstring W(const std::string& path) { return Utf8ToWide(path); }

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// Same fields (name, type, sizes, attributes) and the same values record by record.
void ExpectSameRecords(CADORecordSet& expected, CADORecordSet& actual) {
    const long fields = expected.GetFieldCount();
    ASSERT_EQ(fields, actual.GetFieldCount());
    for (long i = 0; i < fields; ++i) {
        CADOFieldInfo a, b;
        ASSERT_EQ(1, expected.GetFieldInfo(i, &a));
        ASSERT_EQ(1, actual.GetFieldInfo(i, &b));
        EXPECT_EQ(a.m_strName, b.m_strName);
        EXPECT_EQ(a.m_nType, b.m_nType) << U8(a.m_strName);
        EXPECT_EQ(a.m_lDefinedSize, b.m_lDefinedSize) << U8(a.m_strName);
        EXPECT_EQ(a.m_lAttributes, b.m_lAttributes) << U8(a.m_strName);
        EXPECT_EQ(a.m_nPrecision, b.m_nPrecision) << U8(a.m_strName);
        EXPECT_EQ(a.m_nNumericScale, b.m_nNumericScale) << U8(a.m_strName);
    }
    ASSERT_EQ(expected.GetRecordCount(), actual.GetRecordCount());
    expected.MoveFirst();
    actual.MoveFirst();
    for (int record = 1; !expected.IsEOF(); ++record) {
        ASSERT_FALSE(actual.IsEOF());
        for (long i = 0; i < fields; ++i) {
            _variant_t a, b;
            ASSERT_EQ(1, expected.GetFieldValue(static_cast<int>(i), a));
            ASSERT_EQ(1, actual.GetFieldValue(static_cast<int>(i), b));
            std::wstring ta, tb;
            VariantToText(a, ta);
            VariantToText(b, tb);
            EXPECT_TRUE(a == b) << "record " << record << " field " << i << ": " << U8(ta) << " / " << U8(tb)
                                << " types " << a.vt() << " / " << b.vt();
        }
        expected.MoveNext();
        actual.MoveNext();
    }
    EXPECT_TRUE(actual.IsEOF());
}

class RecordsetXmlBackend : public testdb::BackendTest {
protected:
    RecordsetXmlBackend() : BackendTest(L"se_") {}

    TempFiles files;
};

TEST_P(RecordsetXmlBackend, EveryKindOfValueSurvivesARoundTrip) {
    const std::wstring t = T(L"xml");
    const std::wstring utf8 = Pick(L"", L"", L" character set utf8mb4");
    Recreate(t, L"id integer, s smallint, b bigint, d " + DoubleType() + L", r " + Pick(L"real", L"real", L"float") +
                    L", n " + DecimalType(38, 10) + L", v varchar(80)" + utf8 + L", t " + TextType() + utf8 + L", ts " +
                    Pick(L"timestamp", L"timestamp(3)", L"datetime(3)") + L", dd date, tm time, bl " + BlobType() +
                    L", fl " + Pick(L"bit", L"boolean", L"bit(1)"));
    const std::wstring flagTrue = Pick(L"1", L"true", L"b'1'"), flagFalse = Pick(L"0", L"false", L"b'0'");
    std::wstring hex;
    for (int i = 0; i < 256; ++i) hex += Format(L"%02x", i);
    const std::wstring blob = BlobLiteral(hex);
    const std::wstring text = L"Grüße, 日本語 & <tag attr=\"v\"> 'apostrophes'\nsecond line\tand a tab";
    std::wstring quoted = text;
    ReplaceAll(quoted, L"'", L"''");
    Exec(L"insert into " + t + L" values (1, -32768, 9007199254740993, 0.1, 1.25, 12345678901234567890.1234567890, '" +
         quoted + L"', '" + quoted + L"', '2009-12-31 23:59:58.120', '2009-12-31', '08:15:00', " + blob + L", " +
         flagTrue + L")");
    Exec(L"insert into " + t + L" values (2, null, null, null, null, null, null, null, null, null, null, null, null)");
    Exec(L"insert into " + t +
         L" values (3, 32767, -9223372036854775807, -1.5e300, -0.5, -0.0000000001, '', 'x', "
         L"'1899-12-29 00:00:01', '1000-01-01', '23:59:59', " +
         BlobLiteral(L"") + L", " + flagFalse + L")");

    CADORecordSet original(&conn, 1);
    Query(original, L"select * from " + t + L" order by id");
    const std::string path = files.New("roundtrip");
    ASSERT_EQ(1, original.SaveAsXML(W(path).c_str())) << U8(original.m_strLastError);

    // ADO's text forms: dates with a T and milliseconds, hexadecimal bytes, C-locale numbers,
    // UTF-8 text with the markup characters escaped; a NULL leaves its attribute out.
    const std::string xml = ReadAll(path);
    for (const std::string part :
         {"ts=\"2009-12-31T23:59:58.120\"", "dd=\"2009-12-31\"", "tm=\"08:15:00\"", "bl=\"000102030405", "fdfeff\"",
          "d=\"0.1\"", "r=\"1.25\"", "b=\"9007199254740993\"",
          "v=\"Grüße, 日本語 &amp; &lt;tag attr=&quot;v&quot;&gt; 'apostrophes'&#10;second line&#9;and a tab\"",
          "<z:row id=\"2\"/>", "ts=\"1899-12-29T00:00:01\""})
        EXPECT_NE(std::string::npos, xml.find(part)) << part;
    if (kind() == Kind::SQLite) {
        EXPECT_NE(std::string::npos, xml.find("fl=\"True\"")) << "booleans as True / False";
    }

    CADORecordSet opened(&conn, 1);
    ASSERT_EQ(1, opened.OpenXML(W(path).c_str())) << U8(opened.m_strLastError);
    EXPECT_EQ(0, opened.IsConnectionOpen()) << "a recordset from a file has no connection";
    EXPECT_EQ(1, opened.IsOpen()) << "but it is open";
    ExpectSameRecords(original, opened);

    // The opened recordset works on its own: filter, sort, search, and save again.
    ASSERT_EQ(1, opened.SetFilter(L"s IS NOT NULL"));
    ASSERT_EQ(1, opened.SetSort(L"id DESC"));
    _variant_t v;
    ASSERT_EQ(1, opened.GetFieldValue(L"id", v));
    EXPECT_EQ(3, v.intVal());
    ASSERT_EQ(1, opened.FindFirst(L"v LIKE 'grü*'"));
    ASSERT_EQ(1, opened.GetFieldValue(L"v", v));
    EXPECT_EQ(text, v.bstrVal());
    ASSERT_EQ(1, opened.SetFilter(L""));
    ASSERT_EQ(1, opened.SetSort(L""));
    const std::string again = files.New("again");
    ASSERT_EQ(1, opened.SaveAsXML(W(again).c_str())) << U8(opened.m_strLastError);
    EXPECT_EQ(ReadAll(path), ReadAll(again)) << "saving what was read gives the same file";
}

TEST_P(RecordsetXmlBackend, ValuesAtTheEdgesOfTheirTypesOpenAgainUnchanged) {
    // Unsigned 64-bit values beyond the signed range, the largest REAL, a numeric NaN.
    const std::wstring t = T(L"edges");
    // SQLite: the driver gives REALs to fifteen digits, so its largest double is beyond the type: such
    // a file is refused when opened, never read as another number. PostgreSQL: the largest REAL and a
    // numeric NaN. MariaDB: unsigned 64-bit values beyond the signed range and the largest FLOAT.
    Recreate(t, Pick(L"id integer, b bigint, d double", L"id integer, r real, n numeric",
                     L"id integer primary key, u bigint unsigned, r float"));
    Exec(L"insert into " + t + L" values " +
         Pick(L"(1, 9223372036854775807, 1.5e308), (2, -9223372036854775808, 5e-324)",
              L"(1, 3.4028235e38, 'NaN'), (2, -3.4028235e38, 1.5)",
              L"(1, 12345678901234567890, 3.4028234663852886e38), (2, 18446744073709551615, -3.4028234663852886e38)"));
    CADORecordSet original(&conn, 1);
    Query(original, L"select * from " + t + L" order by id");
    const std::string path = files.New("edges");
    ASSERT_EQ(1, original.SaveAsXML(W(path).c_str())) << U8(original.m_strLastError);
    CADORecordSet opened(&conn, 1);
    ASSERT_EQ(1, opened.OpenXML(W(path).c_str())) << U8(opened.m_strLastError);
    ExpectSameRecords(original, opened);
    if (kind() != Kind::MariaDB) return;

    // A text too large for a signed 64-bit value is set and written whole.
    CADORecordSet rs(&conn, 0);
    ASSERT_EQ(1, rs.Open(conn.GetConnection(), (L"select id, u from " + t + L" order by id").c_str(), 1))
        << U8(rs.m_strLastError);
    ASSERT_EQ(1, rs.Edit());
    ASSERT_EQ(1, rs.SetFieldValue(L"u", CString(L"12345678901234567891"))) << U8(rs.m_strLastError);
    ASSERT_EQ(1, rs.Update()) << U8(rs.m_strLastError);
    EXPECT_EQ((std::vector<std::string>{"1|12345678901234567891", "2|18446744073709551615"}),
              testdb::NativeRows(GetParam(), U8(L"select id, u from " + t + L" order by id")));
}

TEST_P(RecordsetXmlBackend, NamesThatAreNotXmlNamesAndDuplicates) {
    CADORecordSet rs(&conn, 1);
    Query(rs, L"select 1 as \"my col\", 2 as a, 3 as a, 4 as \"xmlns\", 5 as \"1st\"");
    const std::string path = files.New("names");
    ASSERT_EQ(1, rs.SaveAsXML(W(path).c_str())) << U8(rs.m_strLastError);
    CADORecordSet opened;
    ASSERT_EQ(1, opened.OpenXML(W(path).c_str())) << U8(opened.m_strLastError);
    ExpectSameRecords(rs, opened);
}

INSTANTIATE_TEST_SUITE_P(Backends, RecordsetXmlBackend, ::testing::ValuesIn(testdb::Backends()), BackendName);

// ---- on SQLite only: the format itself and its failures ----

class RecordsetXml : public ::testing::Test {
protected:
    void SetUp() override {
        savedLocale_ = std::setlocale(LC_ALL, nullptr);
        ASSERT_NE(nullptr, std::setlocale(LC_ALL, "C.UTF-8"));
        ASSERT_EQ(1, conn.Open(testdb::SqliteConnectionString(testdb::NewSqliteFile()).c_str()))
            << U8(conn.m_strLastError);
        Exec(L"create table se_xml_items (id integer, name varchar(20), price double)");
        Exec(L"insert into se_xml_items values (1, 'one', 1.5), (2, null, 2.5), (3, 'three', null)");
        ASSERT_EQ(1, rs.Execute(L"select * from se_xml_items order by id", nullptr)) << U8(rs.m_strLastError);
    }
    void TearDown() override {
        rs.Close();
        conn.Close();
        std::setlocale(LC_ALL, savedLocale_.c_str());
    }
    void Exec(const std::wstring& sql) {
        CADORecordSet r(&conn, 1);
        ASSERT_EQ(1, r.Execute(sql.c_str(), nullptr)) << U8(sql) << ": " << U8(r.m_strLastError);
    }
    // Opening `content` as a file fails with the format error and leaves the recordset closed.
    void ExpectRejected(const std::string& content, const char* what) {
        const std::string path = files.New("bad");
        WriteAll(path, content);
        CADORecordSet target(&conn, 1);
        ASSERT_EQ(1, target.Execute(L"select 1 as x", nullptr));
        EXPECT_EQ(0, target.OpenXML(W(path).c_str())) << what;
        EXPECT_EQ(0u, target.m_strLastError.rfind(kBadXml, 0)) << what << ": " << U8(target.m_strLastError);
        EXPECT_EQ(-1, target.GetFieldCount()) << what << ": the old result is closed";
        EXPECT_EQ(0, target.IsOpen()) << what;
    }

    CADOConnection conn;
    CADORecordSet rs{&conn, 1};
    TempFiles files;
    std::string savedLocale_;
};

TEST_F(RecordsetXml, LongValuesRoundTrip) {
    // Beyond the 10 MB that XML parsers commonly allow in one attribute (hex doubles the bytes).
    Exec(L"create table se_xml_long (id integer, b blob, t text)");
    Exec(L"insert into se_xml_long values (1, randomblob(6000000), replace(hex(zeroblob(150000)), '0', 'é'))");
    CADORecordSet original(&conn, 1);
    ASSERT_EQ(1, original.Execute(L"select * from se_xml_long", nullptr)) << U8(original.m_strLastError);
    const std::string path = files.New("long");
    ASSERT_EQ(1, original.SaveAsXML(W(path).c_str())) << U8(original.m_strLastError);
    CADORecordSet opened;
    ASSERT_EQ(1, opened.OpenXML(W(path).c_str())) << U8(opened.m_strLastError);
    EXPECT_EQ(6000000, opened.GetFieldActualSize(L"b"));
    EXPECT_EQ(300000, opened.GetFieldActualSize(L"t"));
    ExpectSameRecords(original, opened);
}

TEST_F(RecordsetXml, WritesAdoRowsetSchema) {
    const std::string path = files.New("format");
    ASSERT_EQ(1, rs.SetFilter(L"id <> 2"));
    ASSERT_EQ(1, rs.SetSort(L"id DESC"));
    rs.MoveNext();
    ASSERT_EQ(1, rs.SaveAsXML(W(path).c_str())) << U8(rs.m_strLastError);
    _variant_t v;
    ASSERT_EQ(1, rs.GetFieldValue(L"id", v));
    EXPECT_EQ(1, v.intVal()) << "saving keeps the position";

    const std::string xml = ReadAll(path);
    for (const char* part :
         {"xmlns:s=\"uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882\"",
          "xmlns:dt=\"uuid:C2F41010-65B3-11d1-A29F-00AA00C14882\"", "xmlns:rs=\"urn:schemas-microsoft-com:rowset\"",
          "xmlns:z=\"#RowsetSchema\"", "<s:Schema id=\"RowsetSchema\">",
          "<s:ElementType name=\"row\" content=\"eltOnly\">", "<s:AttributeType name=\"id\" rs:number=\"1\"",
          "<s:AttributeType name=\"name\" rs:number=\"2\"", "dt:type=\"float\"", "<s:extends type=\"rs:rowbase\"/>",
          "<rs:data>", "<z:row id=\"3\" name=\"three\"/>", "<z:row id=\"1\" name=\"one\" price=\"1.5\"/>"})
        EXPECT_NE(std::string::npos, xml.find(part)) << part << "\n" << xml;
    EXPECT_EQ(2u, Count(xml, "<z:row ")) << "the filter hides record 2";
    EXPECT_LT(xml.find("id=\"3\""), xml.find("id=\"1\"")) << "records in the visible order";
}

TEST_F(RecordsetXml, AnExistingFileIsNotReplacedAndUnwritablePathsFail) {
    const std::string path = files.New("exists");
    WriteAll(path, "keep me");
    EXPECT_EQ(0, rs.SaveAsXML(W(path).c_str()));
    EXPECT_NE(std::wstring::npos, rs.m_strLastError.find(L"already exists")) << U8(rs.m_strLastError);
    EXPECT_EQ("keep me", ReadAll(path));

    const std::string missing = (std::filesystem::temp_directory_path() / "orvanta_se_no_such_dir" / "x.xml").string();
    EXPECT_EQ(0, rs.SaveAsXML(W(missing).c_str()));
    EXPECT_FALSE(rs.m_strLastError.empty());
    EXPECT_FALSE(std::filesystem::exists(missing));

    EXPECT_EQ(0, rs.SaveAsXML(L""));
    if (std::filesystem::exists("/dev/full")) {
        // A device that reports a full disk: the write fails and says so.
        CADORecordSet big(&conn, 1);
        ASSERT_EQ(1, big.Execute(L"with recursive n(i) as (select 1 union all select i + 1 from n where i < 20000) "
                                 L"select i, 'some text to fill the file' as t from n",
                                 nullptr));
        EXPECT_EQ(0, big.SaveAsXML(L"/dev/full"));
        EXPECT_FALSE(big.m_strLastError.empty());
    }
}

TEST_F(RecordsetXml, TextThatXmlCannotHoldFailsTheSave) {
    CADORecordSet control(&conn, 1);
    ASSERT_EQ(1, control.Execute(L"select 'bell' || char(7) as t", nullptr)) << U8(control.m_strLastError);
    const std::string path = files.New("control");
    EXPECT_EQ(0, control.SaveAsXML(W(path).c_str()));
    EXPECT_NE(std::wstring::npos, control.m_strLastError.find(L"cannot hold")) << U8(control.m_strLastError);
    EXPECT_FALSE(std::filesystem::exists(path)) << "no half-written file stays behind";
}

TEST_F(RecordsetXml, ReadsFilesInAdosOwnStyle) {
    // Single quotes, tabs, a column renamed through rs:name, pending changes of a batch: an
    // inserted row counts, a deleted one and the old values of a changed one do not.
    const std::string path = files.New("ado");
    WriteAll(
        path,
        "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'\n"
        "\txmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'\n"
        "\txmlns:rs='urn:schemas-microsoft-com:rowset'\n"
        "\txmlns:z='#RowsetSchema'>\n"
        "<s:Schema id='RowsetSchema'>\n"
        "\t<s:ElementType name='row' content='eltOnly' rs:updatable='true'>\n"
        "\t\t<s:AttributeType name='ShipperID' rs:number='1' rs:basetable='Shippers' rs:basecolumn='ShipperID'>\n"
        "\t\t\t<s:datatype dt:type='int' dt:maxLength='4' rs:precision='10' rs:fixedlength='true' rs:maybenull='false'/>\n\t\t</s:AttributeType>\n"
        "\t\t<s:AttributeType name='c1' rs:name='Company Name' rs:number='2' rs:writeunknown='true'>\n"
        "\t\t\t<s:datatype dt:type='string' rs:dbtype='str' dt:maxLength='40' rs:maybenull='false'/>\n\t\t</s:AttributeType>\n"
        "\t\t<s:AttributeType name='Since' rs:number='3' rs:nullable='true'>\n"
        "\t\t\t<s:datatype dt:type='dateTime' rs:dbtype='variantdate' dt:maxLength='16' rs:fixedlength='true'/>\n\t\t</s:AttributeType>\n"
        "\t\t<s:AttributeType name='Rate' rs:number='4' rs:nullable='true'>\n"
        "\t\t\t<s:datatype dt:type='number' rs:dbtype='currency' dt:maxLength='8' rs:precision='19' rs:fixedlength='true'/>\n\t\t</s:AttributeType>\n"
        "\t\t<s:extends type='rs:rowbase'/>\n\t</s:ElementType>\n</s:Schema>\n"
        "<rs:data>\n"
        "\t<z:row ShipperID='1' c1='Speedy Express' Since='1996-07-04T00:00:00' Rate='12.5'/>\n"
        "\t<rs:delete><z:row ShipperID='2' c1='United Package'/></rs:delete>\n"
        "\t<rs:update><rs:original><z:row ShipperID='3' c1='Old Name'/></rs:original>"
        "<z:row ShipperID='3' c1='Federal &amp; Shipping'/></rs:update>\n"
        "\t<rs:insert><z:row ShipperID='4' c1='New'/></rs:insert>\n"
        "</rs:data>\n</xml>\n");
    CADORecordSet opened;
    ASSERT_EQ(1, opened.OpenXML(W(path).c_str())) << U8(opened.m_strLastError);
    ASSERT_EQ(4, opened.GetFieldCount());
    ASSERT_EQ(3u, opened.GetRecordCount());
    auto info = [&](auto field) {
        CADOFieldInfo i;
        EXPECT_EQ(1, opened.GetFieldInfo(field, &i));
        return i;
    };
    auto value = [&](const wchar_t* field) {
        _variant_t v = _variant_t::Error(0);
        EXPECT_EQ(1, opened.GetFieldValue(field, v)) << U8(field);
        return v;
    };
    const CADOFieldInfo company = info(1L);
    EXPECT_EQ(L"Company Name", company.m_strName);
    EXPECT_EQ(adVarChar, company.m_nType);
    EXPECT_EQ(40, company.m_lDefinedSize);
    EXPECT_EQ(adFldUnknownUpdatable, company.m_lAttributes);
    EXPECT_EQ(adInteger, info(L"ShipperID").m_nType);
    EXPECT_EQ(adFldFixed, info(L"ShipperID").m_lAttributes);
    EXPECT_EQ(adDate, info(L"Since").m_nType);
    EXPECT_EQ(adCurrency, info(L"Rate").m_nType);

    ASSERT_EQ(VT_DATE, value(L"Since").vt());
    EXPECT_DOUBLE_EQ(35250.0, value(L"Since").dblVal());  // 1996-07-04
    std::wstring rate;
    VariantToText(value(L"Rate"), rate);
    EXPECT_EQ(L"12.5", rate);
    opened.MoveNext();
    EXPECT_EQ(L"Federal & Shipping", value(L"Company Name").bstrVal());
    EXPECT_TRUE(value(L"Since").IsNull()) << "an absent attribute is NULL";
    opened.MoveNext();
    EXPECT_EQ(4, value(L"ShipperID").intVal());
}

TEST_F(RecordsetXml, FilesThatAreNotSavedRecordsetsAreRejected) {
    const std::string path = files.New("good");
    ASSERT_EQ(1, rs.SaveAsXML(W(path).c_str()));
    const std::string good = ReadAll(path);

    ExpectRejected("", "an empty file");
    ExpectRejected("id,name\n1,one\n", "plain text");
    ExpectRejected(std::string("\x00\x01\x02\xff\xfe binary", 12), "binary bytes");
    ExpectRejected(good.substr(0, good.size() / 2), "a file cut in half");
    ExpectRejected("<?xml version=\"1.0\"?><html><body/></html>", "another kind of document");
    ExpectRejected("<xml/>", "no schema and no rows");
    std::string unknownField = good;
    unknownField.replace(unknownField.find("<z:row id=\"1\""), 13, "<z:row idx=\"1\"");
    ExpectRejected(unknownField, "a value for a field the schema does not describe");
    std::string badNumber = good;
    badNumber.replace(badNumber.find("id=\"2\""), 6, "id=\"two\"");
    ExpectRejected(badNumber, "text in an integer field");
    std::string hugeNumber = good;
    hugeNumber.replace(hugeNumber.find("id=\"2\""), 6, "id=\"99999999999999999999\"");
    ExpectRejected(hugeNumber, "a number too large for its integer field");
    ExpectRejected(
        "<?xml version=\"1.0\"?>\n<!-- a comment -->\n<!DOCTYPE xml [<!ENTITY a \"aaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>" +
            good.substr(good.find("<xml")),
        "a document type with entities");
    std::u16string utf16 = u"\uFEFF" + WideToUtf16(Utf8ToWide(good));
    ExpectRejected(std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2), "UTF-16");
    std::string badHex = good;
    badHex.replace(badHex.find("dt:type=\"float\""), 15, "dt:type=\"bin.hex\"");
    ExpectRejected(badHex, "a number where hexadecimal digits belong");

    CADORecordSet target;
    EXPECT_EQ(0, target.OpenXML(L"/nonexistent/orvanta/file.xml"));
    EXPECT_NE(std::wstring::npos, target.m_strLastError.find(L"cannot be opened")) << U8(target.m_strLastError);

    CADORecordSet opened;
    ASSERT_EQ(1, opened.OpenXML(W(path).c_str())) << U8(opened.m_strLastError);
    ExpectSameRecords(rs, opened);
}

}  // namespace
