// Fetches a whole table into a recordset and walks it, reading every value:
//
//     fetch_bench CONNECTION_STRING QUERY [SORT]
//         ->   "<rows> <fetch s> <walk s> <rows/s> <peak KiB> <storage bytes> [<sort s>]"
//
// The fetch is the statement with all its rows arriving in memory; the walk moves over every
// record and converts each value to the variant the printer would get. With SORT, the time
// SetSort(SORT) takes on the fetched rows follows (bench/sort_bench.sh: a case-blind text sort).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "zentra/codepage.h"
#include "zentra/dataaccess.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: fetch_bench CONNECTION_STRING QUERY [SORT]\n");
        return 2;
    }
    std::wstring connectionString = zentra::Utf8ToWide(argv[1]);
    std::wstring query = zentra::Utf8ToWide(argv[2]);

    zentra::CADOConnection connection;
    if (!connection.Open(connectionString.c_str())) {
        std::fprintf(stderr, "open failed: %s\n", zentra::WideToUtf8(connection.m_strLastError).c_str());
        return 1;
    }
    zentra::CADORecordSet recordset(&connection, 1);
    auto t0 = std::chrono::steady_clock::now();
    if (!recordset.Execute(query.c_str(), nullptr)) {
        std::fprintf(stderr, "query failed: %s\n", zentra::WideToUtf8(recordset.m_strLastError).c_str());
        return 1;
    }
    auto t1 = std::chrono::steady_clock::now();

    const long fields = recordset.GetFieldCount();
    unsigned long rows = 0, nulls = 0;
    zentra::_variant_t value;
    for (recordset.MoveFirst(); !recordset.IsEOF(); recordset.MoveNext()) {
        for (long f = 0; f < fields; ++f) {
            recordset.GetFieldValue(static_cast<int>(f), value);
            if (value.IsNull()) ++nulls;
        }
        ++rows;
    }
    auto t2 = std::chrono::steady_clock::now();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    double fetch = std::chrono::duration<double>(t1 - t0).count();
    double walk = std::chrono::duration<double>(t2 - t1).count();
    std::printf("%lu %.3f %.3f %.0f %ld %zu", rows, fetch, walk, rows / (fetch + walk), usage.ru_maxrss,
                recordset.GetStorageSize());
    if (argc == 4) {
        const std::wstring sort = zentra::Utf8ToWide(argv[3]);
        auto t3 = std::chrono::steady_clock::now();
        if (!recordset.SetSort(sort.c_str())) {
            std::fprintf(stderr, "\nsort failed: %s\n", zentra::WideToUtf8(recordset.m_strLastError).c_str());
            return 1;
        }
        std::printf(" %.3f", std::chrono::duration<double>(std::chrono::steady_clock::now() - t3).count());
    }
    std::printf("\n");
    return rows == recordset.GetRecordCount() ? 0 : 1;
}
