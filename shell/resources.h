// orva's compiled-in resources: its string table and its version block.
#pragma once

namespace orva {

// Message ids of the string table.
enum MessageId : unsigned {
    IDS_BANNER = 1,
    IDS_COM_INIT_FAILED = 3,
    IDS_CREATE_CONNECTION_FAILED = 4,
    IDS_LOGIN_FAILED = 5,
    IDS_WELCOME = 6,
    IDS_BYE = 7,
    IDS_NO_DATABASE = 8,
    IDS_NO_OPTIONS = 9,
    IDS_BUFFER_NOT_FOUND = 10,
    IDS_CURRENT_DATABASE = 11,
    IDS_PRESS_ENTER = 12,
    IDS_TAKES_FILE_NAME = 13,
    IDS_SPOOL_FILE_IS = 14,
    IDS_SPOOL_DISABLED = 15,
    IDS_CANT_WRITE_FILE = 16,
    IDS_SPOOL_TO = 17,
    IDS_TAKES_OS_COMMAND = 18,
    IDS_PROMPT_USER = 20,
    IDS_PROMPT_PASSWORD = 21,
    IDS_PROMPT_DATABASE = 22,
    IDS_PROMPT_DSN = 23,
    IDS_BUFFER_EMPTY = 24,
    IDS_UNKNOWN_OPTION = 25,
    IDS_DEFAULT_PROMPT = 26,
    IDS_PROMPT_SET = 27,
    IDS_UNKNOWN_SET_OPTION = 28,
    IDS_ABORTED = 29,
    IDS_CREATE_PROCESS_FAILED = 31,
    IDS_OBJECT_NOT_SPECIFIED = 32,
    IDS_DATABASE_CHANGED = 34,
    IDS_NO_SCRIPT = 35,
    IDS_OPEN_FILE_FAILED = 36,
    IDS_SCRIPT_SUCCESS = 37,
    IDS_ROWS_IN_SET = 38,
    IDS_ROWS_AFFECTED = 39,
    IDS_DISPLAY_AS = 43,
    IDS_TRUNCATE = 45,
    IDS_RECORD_INDEX = 47,
    IDS_TABLE = 48,
    IDS_LIST = 49,
    IDS_ON = 50,
    IDS_OFF = 51,
    IDS_CURRENT_EDITOR = 52,
    IDS_CANT_START = 53,
    IDS_END_WITH_SEMICOLON = 54,
    IDS_ERROR_BEEP = 61,
    // Messages of this system beyond the numbered table.
    IDS_NUL_REFUSED = 100,
    IDS_INPUT_TOO_LONG = 101,
    IDS_REDO_LIMIT = 102,
    IDS_STATEMENT_GIVEN_UP = 103,
    IDS_COPY_STREAM_REFUSED = 104,
};

// Registers the string table and the version block with the library; call once at start.
void RegisterResources();

}  // namespace orva
