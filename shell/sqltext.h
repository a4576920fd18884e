// SQL text as the shell reads it: quotes and comments, statements and batches.
#pragma once

#include <vector>

#include "zentra/dialect.h"
#include "zentra/text.h"

namespace orva {

using zentra::CString;

// The lexis of the current connection, which every scanner starts with (the plain one before a
// connection is made), and where it comes from: the catalogue type's dialect, or for a data
// source the dialect of the DBMS the driver names.
const zentra::SqlLexis& CurrentSqlLexis();
void SetSqlLexis(const zentra::SqlLexis& lexis);
zentra::SqlLexis SqlLexisOf(zentra::DbmsType type, const CString& dbmsName);

// The lexical state of SQL text read from its start: in plain text, inside a '...' string, a "..."
// stretch, a "--" comment (to the end of the line) or a "/* */" comment, or inside the strings,
// names and comments that the lexis adds. A quote closes only at its own character (a doubled one
// closes and opens again); a backslash escapes where the lexis says so. Comments open no quote and
// quotes open no comment.
class CSqlScanner {
public:
    enum Mode { kPlain, kApostrophe, kDouble, kLineComment, kBlockComment, kBacktick, kBracket, kDollar };

    explicit CSqlScanner(const zentra::SqlLexis& lexis = CurrentSqlLexis()) : m_lexis(lexis) {}

    // Scans text[from, end) and returns the index of the first `ch` found in plain text (the state
    // is then the one at that character), or npos with the state at `end`. A `ch` of 0 finds
    // nothing. Characters before `from` are only looked at to tell an opener apart.
    size_t Find(const CString& text, size_t from, wchar_t ch, size_t end = CString::npos);
    // Reads the character at `i` (with the ones after it when they open or close a comment or a
    // dollar quote, or follow an escaping backslash) and returns the index after them; `plain`
    // tells whether text[i] is a character of plain text (not quoted, not in a comment, not a
    // quote or an escape).
    size_t Step(const CString& text, size_t i, bool& plain);
    Mode GetMode() const { return m_mode; }
    // True inside a "/*!" or "/*+" comment, which is statement text to the server.
    bool InCodeComment() const { return m_mode == kBlockComment && m_codeComment; }
    // True while the text read so far holds nothing but comments and blanks.
    bool OnlyComments() const { return m_onlyComments; }

private:
    size_t StepPlain(const CString& text, size_t i, bool& plain);
    // The length of the dollar-quote delimiter ("$$" or "$tag$") at text[i], 0 when none starts there.
    static size_t DollarTagLength(const CString& text, size_t i);

    zentra::SqlLexis m_lexis;
    Mode m_mode = kPlain;
    bool m_onlyComments = true;
    bool m_codeComment = false;
    bool m_escapes = false;  // the open string takes backslash escapes
    int m_commentDepth = 0;  // nested "/*" of the open block comment
    CString m_dollarTag;     // the delimiter that closes the open dollar quote
};

// Splits a text of several statements in one pass: each statement ends at a '/' that starts a
// line (the first '/' in plain text after the statement's start decides) or else at the first ';'
// in plain text; quotes and comments hide both. Work is linear in the text.
class CStatementSplitter {
public:
    explicit CStatementSplitter(const CString& text) : m_text(text) {}
    // The next statement without its terminator (not trimmed); false when only blanks are left.
    bool Next(CString& statement);
    // The rest of the text from the start of the next statement, blanks before it skipped.
    size_t Position();
    // Where the text after the last statement taken begins.
    size_t Consumed() const { return m_pos; }

private:
    const CString& m_text;
    size_t m_pos = 0;
    size_t m_slash = 0;                  // the first '/' in plain text at or after m_slashFrom
    size_t m_slashFrom = CString::npos;  // npos: not searched yet
};

// The statements of a script batch, split at each ';' in plain text and trimmed; the body of a
// CREATE statement (BEGIN ... END of a trigger or routine) stays whole. Pieces of nothing but
// comments are left out.
std::vector<CString> SplitBatch(const CString& text);

// The text without the comments and blanks before and after its statement (some drivers refuse
// anything after the statement, comments included). "/*!" and "/*+" comments are statement text.
CString WithoutEdgeComments(const CString& text);

// A character of an unquoted name: letters, digits, '_' and '$', and every character beyond ASCII
// (the servers take those as letters, whatever the locale says).
bool IsNameChar(wchar_t c);

// True when the text holds nothing but blanks and comments.
bool IsOnlyComments(const CString& text);

// True for PostgreSQL's COPY ... FROM STDIN or COPY ... TO STDOUT, which streams its data through
// the client (words in strings and comments do not count).
bool IsClientCopy(const CString& statement);

}  // namespace orva
