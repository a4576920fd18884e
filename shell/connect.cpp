// Connecting to a DBMS: driver search, connection string, login with re-prompting, server line
// and USE.
#include <unistd.h>

#include <utility>

#include "commands.h"
#include "helper.h"
#include "resources.h"
#include "sqltext.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"

namespace orva {

namespace {

// Asks again for the login data after a failed open (terminal input only). False when input
// ended, which also ends the shell.
bool AskLogin(CONNECT_INFO& info) {
    ShellState& st = State();
    zentra::CInput& in = *st.input;
    // End of input or Ctrl+C (which ends the pending read) gives the login up.
    auto givenUp = [&] { return in.IsEof() || st.exitRequested.load() != 0; };
    CString user = in.Prompt(IDS_PROMPT_USER, 0);
    if (givenUp()) return false;
    user = zentra::Trim(user);
    if (!user.empty()) info.user = user;
    CString prompt = zentra::Format(zentra::LoadString(IDS_PROMPT_PASSWORD), info.user);
    info.password = in.Prompt(prompt.c_str(), 1);
    if (givenUp()) return false;
    CString database =
        in.Prompt(zentra::DialectOfType(info.type).namesDataSource ? IDS_PROMPT_DSN : IDS_PROMPT_DATABASE, 0);
    if (givenUp()) return false;
    database = zentra::Trim(database);
    if (!database.empty()) info.database = database;
    return true;
}

}  // namespace

int Connect(zentra::CADOConnection* connection, CONNECT_INFO& info) {
    ShellState& st = State();
    CCommandHelper helper;
    connection->Close();

    CString driver, error;
    if (!helper.FindDriver(driver, error, info)) {
        st.output->Print(L"%s\r\n\r\n", error);
        return 0;
    }
    info.driver = driver;

    // Up to two more attempts with new login data when a person is at the terminal.
    const int attempts = isatty(STDIN_FILENO) ? 3 : 1;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (attempt > 1 && !AskLogin(info)) {
            st.exitRequested.store(1);
            return 0;
        }
        CString connectionString = helper.BuildConnectionString(info);
        if (connection->Open(connectionString.c_str(), nullptr, nullptr, zentra::adModeRead,
                             zentra::adOptionUnspecified))
            break;
        st.output->Print(L"%s\r\n\r\n", connection->m_strLastError);
    }
    if (!connection->IsConnect()) return 0;
    CString dbmsName;
    connection->GetProperties(L"DBMS Name", dbmsName);
    SetSqlLexis(SqlLexisOf(info.type, dbmsName));
    return 1;
}

void PrintServerInfo(zentra::CADOConnection* connection) {
    CString name, version;
    if (connection->GetProperties(L"DBMS Name", name) && connection->GetProperties(L"DBMS Version", version))
        State().output->Print(L"%s %s\r\n\r\n", name, version);
}

int ChangeDatabase(std::unique_ptr<zentra::CADOConnection>* slot, CONNECT_INFO& info, const wchar_t* name,
                   zentra::DbmsType type) {
    ShellState& st = State();
    if (!slot || !*slot) return 0;
    CString database = name ? name : L"";

    // A connection that was lost is opened again, with the database asked for: USE is the way back.
    if (zentra::DialectOfType(type).useByStatement && (*slot)->IsConnect()) {
        zentra::CADOCommand command(slot->get(), L"", zentra::adCmdText);
        command.SetText(zentra::Format(L"use %s", database));
        if (!command.Execute(zentra::adCmdText | zentra::adExecuteNoRecords)) {
            st.output->PrintMessage(L"%s", command.m_strLastError);
            ErrorBeep();
            return 0;
        }
        info.database = database;
    } else {
        auto fresh = std::make_unique<zentra::CADOConnection>();
        CONNECT_INFO copy = info;
        copy.database = database;
        CCommandHelper helper;
        CString connectionString = helper.BuildConnectionString(copy);
        if (!fresh->Open(connectionString.c_str(), L"", L"", zentra::adModeRead, zentra::adOptionUnspecified)) {
            st.output->PrintMessage(L"%s", fresh->m_strLastError);
            ErrorBeep();
            return 0;
        }
        info = copy;
        std::unique_ptr<zentra::CADOConnection> old;
        {
            std::lock_guard<std::mutex> lock(st.connectionMutex);
            old = std::exchange(*slot, std::move(fresh));
        }
    }
    st.output->PrintError(IDS_DATABASE_CHANGED);
    return 1;
}

}  // namespace orva
