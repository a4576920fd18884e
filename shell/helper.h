// The shell's command helper: the command words (commandwords.cpp), the search for a character
// outside quotes (sqltext.cpp) and the connection string (connstring.cpp).
#pragma once

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
