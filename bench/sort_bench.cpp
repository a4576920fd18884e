// Sorts a text column of an in-memory SQLite result and prints the time SetSort took:
//
//     sort_bench [ROWS]   ->   "<rows> <fetch s> <sort s>"
//
// Texts mix cases and non-ASCII letters, so the case-blind order has folding to do.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "zentra/codepage.h"
#include "zentra/dataaccess.h"

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    zentra::CADOConnection connection;
    if (!connection.Open(L"Driver={SQLite3};Database=:memory:;")) {
        std::fprintf(stderr, "open failed: %s\n", zentra::WideToUtf8(connection.m_strLastError).c_str());
        return 1;
    }
    const std::wstring query =
        L"with recursive n(x) as (select 1 union all select x + 1 from n where x < " + std::to_wstring(rows) +
        L") select x, case x % 3 when 0 then 'Äpfel ' when 1 then 'ÖL ' else 'zebra ' end || ((x * 7919) % 100003) as name from n";
    zentra::CADORecordSet recordset(&connection, 1);
    auto t0 = std::chrono::steady_clock::now();
    if (!recordset.Execute(query.c_str(), nullptr)) {
        std::fprintf(stderr, "query failed: %s\n", zentra::WideToUtf8(recordset.m_strLastError).c_str());
        return 1;
    }
    auto t1 = std::chrono::steady_clock::now();
    if (!recordset.SetSort(L"name")) {
        std::fprintf(stderr, "sort failed: %s\n", zentra::WideToUtf8(recordset.m_strLastError).c_str());
        return 1;
    }
    auto t2 = std::chrono::steady_clock::now();
    std::printf("%ld %.3f %.3f\n", rows, std::chrono::duration<double>(t1 - t0).count(),
                std::chrono::duration<double>(t2 - t1).count());
    return 0;
}
