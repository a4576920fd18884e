// SQL text as the shell reads it: quotes and comments, statements and batches.
#pragma once

#include <vector>

#include "zentra/text.h"

namespace orva {

using zentra::CString;

// The lexical state of SQL text read from its start: inside an apostrophe or double-quote
// stretch, inside a "--" comment (to the end of the line) or a "/* */" comment, or in plain text.
// A backslash outside comments skips the next character; either quote character opens or switches
// the quoted state. Comments open no quote and quotes open no comment.
class CSqlScanner {
public:
    enum Mode { kPlain, kApostrophe, kDouble, kLineComment, kBlockComment };

    // Scans text[from, end) and returns the index of the first `ch` found in plain text (the state
    // is then the one at that character), or npos with the state at `end`. A `ch` of 0 finds
    // nothing. Characters before `from` are only looked at to tell a "--" or "/*" opener apart.
    size_t Find(const CString& text, size_t from, wchar_t ch, size_t end = CString::npos);
    // Reads the character at `i` (with the one after it when the two open or close a comment, or
    // follow a backslash) and returns the index after them; `plain` tells whether text[i] is a
    // character of plain text (not quoted, not in a comment, not a quote or an escape).
    size_t Step(const CString& text, size_t i, bool& plain);
    Mode GetMode() const { return m_mode; }
    // True inside a "/*!" or "/*+" comment, which is statement text to the server.
    bool InCodeComment() const { return m_mode == kBlockComment && m_codeComment; }
    // True while the text read so far holds nothing but comments and blanks.
    bool OnlyComments() const { return m_onlyComments; }

private:
    Mode m_mode = kPlain;
    bool m_onlyComments = true;
    bool m_codeComment = false;
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
    size_t m_slash = 0;          // the first '/' in plain text at or after m_slashFrom
    size_t m_slashFrom = CString::npos;  // npos: not searched yet
};

// The statements of a script batch, split at each ';' in plain text and trimmed; the body of a
// CREATE statement (BEGIN ... END of a trigger or routine) stays whole. Pieces of nothing but
// comments are left out.
std::vector<CString> SplitBatch(const CString& text);

// The text without the comments and blanks before and after its statement (some drivers refuse
// anything after the statement, comments included). "/*!" and "/*+" comments are statement text.
CString WithoutEdgeComments(const CString& text);

// True when the text holds nothing but blanks and comments.
bool IsOnlyComments(const CString& text);

}  // namespace orva
