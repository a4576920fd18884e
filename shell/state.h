// The shell's process-wide state: one instance for the life of orva.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "print_options.h"
#include "zentra/dialect.h"
#include "zentra/text.h"

namespace zentra {
class CADOConnection;
class CSpoolFile;
class COutput;
class CInput;
class CSQLBuffer;
}  // namespace zentra

namespace orva {

using zentra::CString;

// Connection parameters filled from the command line and the catalogue.
struct CONNECT_INFO {
    zentra::DbmsType type = zentra::kDbmsNone;  // the catalogue type
    CString host;
    int port = 0;
    CString driver;  // the installed ODBC driver name, or "DSN"/"FILEDSN"
    CString user;
    CString password;
    CString database;
    CString schema;
};

class CPrintRecords;
class CCompleter;

struct ShellState {
    ShellState();
    ~ShellState();
    ShellState(const ShellState&) = delete;
    ShellState& operator=(const ShellState&) = delete;

    std::unique_ptr<zentra::CADOConnection> connection;
    // Held while the connection is replaced (USE) and while another thread cancels on it.
    std::mutex connectionMutex;
    // The settings (settings.h has their defaults, set by the constructor).
    CString editor;
    CString prompt;
    CString lastStatement;
    std::atomic<std::int32_t> exitRequested{0};
    // 1 while a REDO runs; redoStop asks it to stop (Ctrl+C), and the shell goes on.
    std::atomic<std::int32_t> redoRunning{0};
    std::atomic<std::int32_t> redoStop{0};
    // 1 while the login at start-up runs (Ctrl+C then gives it up).
    std::atomic<std::int32_t> loggingIn{0};
    PrintOptions print;
    int errorBeep = 1;
    // Why the settings file could not be used at start (told then); empty when it could.
    CString settingsProblem;
    CString linkName;
    CString startupCommand;
    CString startupScript;
    CONNECT_INFO connectInfo;

    // Constructed in this order and destroyed in reverse: the output and input objects take the
    // spool file.
    std::unique_ptr<zentra::CSpoolFile> spool;
    std::unique_ptr<zentra::COutput> output;
    std::unique_ptr<zentra::CInput> input;
    std::unique_ptr<zentra::CSQLBuffer> history;
    // What Tab completes at the prompt.
    std::unique_ptr<CCompleter> completer;
};

// The one shell state of the process.
ShellState& State();

}  // namespace orva
