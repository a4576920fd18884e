// The fixture of the tests that run on every backend: a connection opened in a UTF-8 locale,
// table names of the suite's own, and the statements the tests use to set up their data.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "testdb.h"
#include "zentra/codepage.h"
#include "zentra/dataaccess.h"
#include "zentra/text.h"
#include "zentra/variant.h"

namespace testdb {

inline std::string U8(const std::wstring& text) { return zentra::WideToUtf8(text); }

// A variant holding an array of `elements`, such as the restrictions of a schema rowset.
inline zentra::_variant_t VariantArray(std::vector<zentra::_variant_t> elements) {
    auto array = std::make_shared<zentra::SAFEARRAY>();
    array->elementType = zentra::VT_VARIANT;
    array->variants = std::move(elements);
    return zentra::_variant_t::Array(array);
}

// `count` restrictions, all empty but the one at `at`.
inline zentra::_variant_t Restriction(size_t count, size_t at, zentra::_variant_t value) {
    std::vector<zentra::_variant_t> elements(count);
    elements[at] = std::move(value);
    return VariantArray(std::move(elements));
}

// Names parameterised tests by their backend.
inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) { return info.param.name; }

class BackendTest : public ::testing::TestWithParam<Backend> {
protected:
    // `prefix` starts the suite's table names, so suites running side by side never collide.
    explicit BackendTest(std::wstring prefix = std::wstring()) : prefix_(std::move(prefix)) {}

    void SetUp() override {
        // The shell runs in the user's (UTF-8) locale; the driver manager converts statement text
        // for ANSI-only drivers (Debian's SQLite3 driver is one) to the locale's character set.
        savedLocale_ = std::setlocale(LC_ALL, nullptr);
        ASSERT_NE(nullptr, std::setlocale(LC_ALL, "C.UTF-8"));
        if (!GetParam().available) GTEST_SKIP() << GetParam().skipReason;
        ASSERT_EQ(1, conn.Open(GetParam().connectionString.c_str())) << U8(conn.m_strLastError);
    }
    void TearDown() override {
        conn.Close();
        std::setlocale(LC_ALL, savedLocale_.c_str());
    }

    Kind kind() const { return GetParam().kind; }
    bool postgres() const { return IsPostgres(kind()); }

    // What differs between the backends, for the tests' statements: the one of `sqlite`,
    // `postgres` (both PostgreSQL drivers) and `maria` that belongs to this backend.
    template <class T>
    T Pick(T sqlite, T postgresql, T maria) const {
        return kind() == Kind::SQLite ? sqlite : postgres() ? postgresql : maria;
    }
    std::wstring Pick(const wchar_t* sqlite, const wchar_t* postgresql, const wchar_t* maria) const {
        return Pick<const wchar_t*>(sqlite, postgresql, maria);
    }
    // Type names.
    std::wstring DoubleType() const { return Pick(L"double", L"double precision", L"double"); }
    std::wstring DecimalType(int precision, int scale) const {
        return Pick(L"decimal", L"numeric", L"decimal") + L"(" + std::to_wstring(precision) + L"," +
               std::to_wstring(scale) + L")";
    }
    std::wstring TextType() const { return Pick(L"text", L"text", L"longtext"); }
    std::wstring BlobType() const { return Pick(L"blob", L"bytea", L"longblob"); }
    // A date and time with `digits` digits of seconds' fraction.
    std::wstring StampType(int digits) const {
        return Pick(L"timestamp", L"timestamp", L"datetime") + L"(" + std::to_wstring(digits) + L")";
    }
    // A statement that sleeps for `seconds` (a number or a marker) on a server.
    std::wstring SleepStatement(const std::wstring& seconds) const {
        return (kind() == Kind::MariaDB ? L"select sleep(" : L"select pg_sleep(") + seconds + L")";
    }
    // A column of a key the backend numbers itself.
    std::wstring AutoKey() const {
        return Pick(L"id integer primary key autoincrement", L"id serial primary key",
                    L"id int auto_increment primary key");
    }
    // A literal of the bytes that `hex` spells.
    std::wstring BlobLiteral(const std::wstring& hex) const {
        return postgres() ? L"'\\x" + hex + L"'::bytea" : L"x'" + hex + L"'";
    }
    // An identifier quoted for this backend.
    std::wstring Quoted(const std::wstring& name) const {
        const std::wstring q = kind() == Kind::MariaDB ? L"`" : L"\"";
        std::wstring text;
        for (wchar_t c : name) text += c == q[0] ? q + q : std::wstring(1, c);
        return q + text + q;
    }
    // A table of this test's own on this backend (both PostgreSQL drivers reach one database).
    // The test's name goes in as a short hash: the tests of one suite run side by side as
    // separate processes and may make tables of the same base name.
    std::wstring T(const std::wstring& base) const {
        return prefix_ + base + L"_" + zentra::ToLower(Widen(GetParam().name)) + L"_" + TestTag();
    }

    void Exec(const std::wstring& sql) {
        zentra::CADORecordSet rs(&conn, 1);
        ASSERT_EQ(1, rs.Execute(sql.c_str(), nullptr)) << U8(sql) << ": " << U8(rs.m_strLastError);
    }
    void Recreate(const std::wstring& table, const std::wstring& columns) {
        Exec(L"drop table if exists " + table);
        Exec(L"create table " + table + L" (" + columns + L")");
    }
    // A function `name`(a integer) that gives a + 1 (SQLite has none).
    void CreateAddOne(const std::wstring& name) {
        if (postgres()) {
            Exec(L"create or replace function " + name + L"(a integer) returns integer as 'select a + 1' language sql");
            return;
        }
        Exec(L"drop function if exists " + name);
        Exec(L"create function " + name + L"(a int) returns int deterministic return a + 1");
    }
    // A procedure `name`(`parameters`) running `body`: PostgreSQL's in `language`, MariaDB's a statement.
    void CreateProcedure(const std::wstring& name, const std::wstring& parameters, const std::wstring& body,
                         const std::wstring& language = L"sql") {
        Exec(L"drop procedure if exists " + name);
        if (postgres())
            Exec(L"create procedure " + name + L"(" + parameters + L") language " + language + L" as " + body);
        else Exec(L"create procedure " + name + L"(" + parameters + L") " + body);
    }
    void Query(zentra::CADORecordSet& rs, const std::wstring& sql) {
        ASSERT_EQ(1, rs.Execute(sql.c_str(), nullptr)) << U8(sql) << ": " << U8(rs.m_strLastError);
    }

    zentra::CADOConnection conn;

private:
    // Six hex digits from the running test's name (FNV-1a).
    static std::wstring TestTag() {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::uint32_t hash = 2166136261u;
        for (const char* p = info ? info->name() : ""; *p; ++p)
            hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
        wchar_t text[8];
        std::swprintf(text, 8, L"%06x", hash & 0xFFFFFFu);
        return text;
    }
    std::string savedLocale_;
    std::wstring prefix_;
};

}  // namespace testdb
