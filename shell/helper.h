// The shell's helper: catalogue look-ups and the connection-string builder.
#pragma once

#include <vector>

#include "state.h"

namespace orva {

// Kinds of command found from the first word of a text.
enum CommandKind {
    CMD_NONE = 0,  // SQL for the server
    CMD_USE,
    CMD_EXIT,
    CMD_HELP,
    CMD_REDO,
    CMD_SET,
    CMD_START,
    CMD_SPOOL,
    CMD_DECLARE,
    CMD_HOST,
    CMD_SHOW,
    CMD_DESC,
    CMD_SERVER,
    CMD_EDIT,
    CMD_RUN,
    CMD_PAUSE,
};

// What the connected DBMS's SQL adds to the plain lexis below: PostgreSQL's dollar-quoted
// strings ($$...$$, $tag$...$tag$), MySQL's `quoted names` and its "#" comments (to the end of
// the line). SQLite also takes `quoted names`.
struct SqlLexis {
    bool dollarQuotes = false;
    bool backtickQuotes = false;
    bool hashComments = false;
};

// The lexis of the current connection, which every scanner starts with (none before a connect).
const SqlLexis& CurrentSqlLexis();
void SetSqlLexis(const SqlLexis& lexis);
// The lexis of a connection of catalogue type `type` to the DBMS that names itself `dbmsName`.
SqlLexis SqlLexisOf(int type, const CString& dbmsName);

// The lexical state of SQL text read from its start: inside an apostrophe or double-quote
// stretch, inside a "--" comment (to the end of the line) or a "/* */" comment, or in plain text,
// and inside the quotes and comments the lexis adds. A backslash in plain text or in an apostrophe
// or double-quote stretch skips the next character; either quote character opens or switches the
// quoted state. Comments open no quote and quotes open no comment.
class CSqlScanner {
public:
    enum Mode { kPlain, kApostrophe, kDouble, kLineComment, kBlockComment, kBacktick, kDollar };

    explicit CSqlScanner(const SqlLexis& lexis = CurrentSqlLexis()) : m_lexis(lexis) {}

    // Scans text[from, end) and returns the index of the first `ch` found in plain text (the state
    // is then the one at that character), or npos with the state at `end`. A `ch` of 0 finds
    // nothing. Characters before `from` are only looked at to tell a "--" or "/*" opener apart.
    size_t Find(const CString& text, size_t from, wchar_t ch, size_t end = CString::npos);
    // Reads the character at `i` (with the ones after it when they open or close a comment or a
    // dollar quote, or follow a backslash) and returns the index after them; `plain` tells whether
    // text[i] is a character of plain text (not quoted, not in a comment, not a quote or an escape).
    size_t Step(const CString& text, size_t i, bool& plain);
    Mode GetMode() const { return m_mode; }
    // True inside a "/*!" or "/*+" comment, which is statement text to the server.
    bool InCodeComment() const { return m_mode == kBlockComment && m_codeComment; }
    // True while the text read so far holds nothing but comments and blanks.
    bool OnlyComments() const { return m_onlyComments; }

private:
    // The length of the dollar-quote delimiter ("$$" or "$tag$") at text[i], 0 when none starts there.
    static size_t DollarTagLength(const CString& text, size_t i);

    SqlLexis m_lexis;
    Mode m_mode = kPlain;
    bool m_onlyComments = true;
    bool m_codeComment = false;
    CString m_dollarTag;  // the delimiter that closes the open dollar quote
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

// True for PostgreSQL's COPY ... FROM STDIN or COPY ... TO STDOUT, which streams its data through
// the client (words in quotes and comments do not count).
bool IsClientCopy(const CString& statement);

class CCommandHelper {
public:
    // The kind of the text's first word (compared without regard to case).
    CommandKind ClassifyCommand(const CString& text) const;
    // 1 for every kind but CMD_NONE: such commands end at the end of their line.
    int IsOneLineCommand(CommandKind kind) const { return kind != CMD_NONE ? 1 : 0; }
    // Index of `ch` outside quotes from `start` (negative: 0), -1 when absent. A backslash skips
    // the next character; either quote character opens or switches the quoted state.
    // Comments ("--" to the end of the line, "/* */") hide `ch` and open no quote.
    int FindOutsideQuotes(const CString& text, wchar_t ch, int start) const;
    // The kind of the first word of text[from...]: only the start of the text is looked at.
    CommandKind ClassifyStart(const CString& text, size_t from) const;

    // The installed ODBC driver for info.type: the first installed driver whose name contains the
    // catalogue's driver name (without regard to case), else one that contains one of the row's
    // Linux driver names. 1 found (or none needed: `driver` empty), 0 failed with `error` set.
    int FindDriver(CString& driver, CString& error, const CONNECT_INFO& info);

    // Fills the catalogue template of info.type. Trims database, host, user and driver in place.
    // Every placeholder is replaced in one pass, so a value that contains a placeholder reaches the
    // driver as typed; a value that stands as a whole keyword value and holds ';', '{', '}' or
    // leading or trailing blanks is enclosed in braces, so it cannot add keywords of its own.
    CString BuildConnectionString(CONNECT_INFO& info);

    // The host's first IPv4 address in dotted-decimal form, or "" when it cannot be resolved.
    CString ResolveHost(const wchar_t* host);
};


}  // namespace orva
