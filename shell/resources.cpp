#include "resources.h"

#include <iterator>

#include "zentra/strtable.h"
#include "zentra/version.h"

namespace orva {

namespace {

const zentra::StringTableEntry kStrings[] = {
    {IDS_BANNER, L"Orvanta: Release %s - Production on %s"},
    {IDS_COM_INIT_FAILED, L"Fatal error: COM initialization failed."},
    {IDS_CREATE_CONNECTION_FAILED, L"Fatal error: create connection failed."},
    {IDS_LOGIN_FAILED, L"Login failed, exit now!"},
    {IDS_WELCOME, L"Commands end with ';'. Type 'help;' or '?' for help."},
    {IDS_BYE, L"Bye"},
    {IDS_NO_DATABASE, L"No database selected."},
    {IDS_NO_OPTIONS, L"No OPTIONS specified."},
    {IDS_BUFFER_NOT_FOUND, L"Command Buffer (%d) not found."},
    {IDS_CURRENT_DATABASE, L"Current database: %s"},
    {IDS_PRESS_ENTER, L"Press 'enter' to continue ...\r\n"},
    {IDS_TAKES_FILE_NAME, L"Takes a file name as argument."},
    {IDS_SPOOL_FILE_IS, L"Spool file is '%s'"},
    {IDS_SPOOL_DISABLED, L"Spool disabled."},
    {IDS_CANT_WRITE_FILE, L"ERROR:  Can't create/write to file '%s'."},
    {IDS_SPOOL_TO, L"Spool to '%s'."},
    {IDS_TAKES_OS_COMMAND, L"Taken an operating system command as argument."},
    {IDS_PROMPT_USER, L"User: "},
    {IDS_PROMPT_PASSWORD, L"Password for user '%s': "},
    {IDS_PROMPT_DATABASE, L"Database: "},
    {IDS_PROMPT_DSN, L"Enter DSN name: "},
    {IDS_BUFFER_EMPTY, L"Command Buffer is empty."},
    {IDS_UNKNOWN_OPTION, L"Orvanta: unknow option '%s'."},
    {IDS_DEFAULT_PROMPT, L"Returning to default PROMPT of '%s'"},
    {IDS_PROMPT_SET, L"PROMPT set to '%s'"},
    {IDS_UNKNOWN_SET_OPTION, L"Unknow option '%s'"},
    {IDS_ABORTED, L"Aborted"},
    {IDS_COPY_STREAM_REFUSED,
     L"COPY FROM STDIN and COPY TO STDOUT are not run: the shell cannot pass COPY data through ODBC."},
    {IDS_CREATE_PROCESS_FAILED, L"CreateProcess failed (%d)."},
    {IDS_OBJECT_NOT_SPECIFIED, L"Object no specified."},
    {IDS_DATABASE_CHANGED, L"Database changed."},
    {IDS_NO_SCRIPT, L"Script file no specified."},
    {IDS_OPEN_FILE_FAILED, L"Failed to open file '%s'."},
    {IDS_SCRIPT_SUCCESS, L"Execute script success. (%s sec)"},
    {IDS_ROWS_IN_SET, L"Query Okay, %ld %s in set (%s sec)"},
    {IDS_ROWS_AFFECTED, L"Query Okay, %ld %s affected (%s sec)"},
    {IDS_DISPLAY_AS, L"Display result as %s."},
    {IDS_TRUNCATE, L"Truncate record value %s."},
    {IDS_RECORD_INDEX, L"Display record index %s."},
    {IDS_TABLE, L"TABLE"},
    {IDS_LIST, L"LIST"},
    {IDS_ON, L"ON"},
    {IDS_OFF, L"OFF"},
    {IDS_CURRENT_EDITOR, L"Current editor is '%s'."},
    {IDS_CANT_START, L"Can not start '%s'."},
    {IDS_END_WITH_SEMICOLON, L"All commands must end with ';'."},
    {IDS_ERROR_BEEP, L"Error beep %s."},
    {IDS_NUL_REFUSED, L"Statement refused: it holds a NUL character."},
    {IDS_INPUT_TOO_LONG, L"Input refused: a line or statement longer than %d bytes."},
    {IDS_REDO_LIMIT, L"REDO stopped: more than %d history entries run for one line."},
    {IDS_STATEMENT_GIVEN_UP, L"Statement given up: the server does not answer; the connection is closed."},
};

const zentra::VersionBlock kVersion{{0x04B00409},  // language 0x0409 (English, United States), code page 0x04B0
                                    {{L"040904B0",
                                      {{L"CompanyName", L"Orvanta"},
                                       {L"FileDescription", L"Orvanta console SQL shell"},
                                       {L"FileVersion", L"3, 0, 0, 1"},
                                       {L"InternalName", L"orva"},
                                       {L"OriginalFilename", L"orva"},
                                       {L"ProductName", L"Orvanta"},
                                       {L"ProductVersion", L"3, 0, 0, 1"}}}}};

}  // namespace

void RegisterResources() {
    zentra::RegisterStringTable(kStrings, std::size(kStrings));
    zentra::RegisterVersionBlock(&kVersion);
}

}  // namespace orva
