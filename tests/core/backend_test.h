// The fixture of the tests that run on every backend: a connection opened in a UTF-8 locale,
// table names of the suite's own, and the statements the tests use to set up their data.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "testdb.h"
#include "zentra/codepage.h"
#include "zentra/dataaccess.h"
#include "zentra/text.h"

namespace testdb {

inline std::string U8(const std::wstring& text) { return zentra::WideToUtf8(text); }

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
    // A table of this suite's own on this backend (both PostgreSQL drivers reach one database).
    std::wstring T(const std::wstring& base) const {
        return prefix_ + base + L"_" + zentra::ToLower(Widen(GetParam().name));
    }

    void Exec(const std::wstring& sql) {
        zentra::CADORecordSet rs(&conn, 1);
        ASSERT_EQ(1, rs.Execute(sql.c_str(), nullptr)) << U8(sql) << ": " << U8(rs.m_strLastError);
    }
    void Recreate(const std::wstring& table, const std::wstring& columns) {
        Exec(L"drop table if exists " + table);
        Exec(L"create table " + table + L" (" + columns + L")");
    }
    void Query(zentra::CADORecordSet& rs, const std::wstring& sql) {
        ASSERT_EQ(1, rs.Execute(sql.c_str(), nullptr)) << U8(sql) << ": " << U8(rs.m_strLastError);
    }

    zentra::CADOConnection conn;

private:
    std::string savedLocale_;
    std::wstring prefix_;
};

}  // namespace testdb
