// The statement splitter of typed and piped input, under each SQL lexis (the bits of the first byte
// pick its rules). Properties: one splitter over the whole text
// cuts the same statements as a fresh split of each remainder; each statement is the text from
// its start up to its terminator, and a statement ended by ';' holds no ';' of plain text itself;
// the batch splitter's pieces come from the text in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sqltext.h"
#include "zentra/codepage.h"
#include "zentra/text.h"

using orva::CSqlScanner;
using orva::CStatementSplitter;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    zentra::SqlLexis lexis;
    lexis.dollarQuotes = data[0] & 1;
    lexis.backtickQuotes = data[0] & 2;
    lexis.hashComments = data[0] & 4;
    lexis.backslashEscapes = data[0] & 8;
    lexis.escapeStrings = data[0] & 16;
    lexis.bracketQuotes = data[0] & 32;
    lexis.dashCommentNeedsBlank = data[0] & 64;
    lexis.nestedComments = data[0] & 128;
    orva::SetSqlLexis(lexis);
    const std::wstring text = zentra::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

    CStatementSplitter whole(text);
    std::wstring rest = text, piece, expected;
    std::size_t consumed = 0;
    while (whole.Next(piece)) {
        CStatementSplitter fresh(rest);
        const std::size_t start = fresh.Position();
        if (!fresh.Next(expected) || piece != expected) std::abort();
        // The statement is the text from its start up to its terminator (or the end).
        if (rest.compare(start, piece.size(), piece) != 0) std::abort();
        const std::size_t after = start + piece.size();
        if (after < rest.size()) {
            if ((rest[after] != L';' && rest[after] != L'/') || fresh.Consumed() != after + 1) std::abort();
            if (rest[after] == L';' && CSqlScanner(lexis).Find(piece, 0, L';') != std::wstring::npos) std::abort();
        } else if (fresh.Consumed() != rest.size()) {
            std::abort();
        }
        consumed += fresh.Consumed();
        rest.erase(0, fresh.Consumed());
        if (whole.Consumed() != consumed) std::abort();
    }
    for (wchar_t c : rest)
        if (!zentra::IsBlank(c) && c != L'\r' && c != L'\n') std::abort();

    std::size_t at = 0;
    for (const std::wstring& statement : orva::SplitBatch(text)) {
        if (statement.empty()) std::abort();
        at = text.find(statement, at);
        if (at == std::wstring::npos) std::abort();
        at += statement.size();
    }
    return 0;
}
