// orva's entry: start-up, the read–process loop and the orderly end.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "commands.h"
#include "connect.h"
#include "interrupts.h"
#include "options.h"
#include "orva.h"
#include "reader.h"
#include "resources.h"
#include "settings.h"
#include "utility.h"
#include "zentra/codepage.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/history.h"

namespace orva {

namespace {

// The password from the environment, read once and removed so that child processes and process
// listings never see it. unsetenv only drops the entry from `environ`: the bytes stay in the block
// the kernel shows as /proc/<pid>/environ, so they are cleared as well.
void TakePasswordFromEnvironment(CONNECT_INFO& info, bool passwordGiven) {
    const char* value = std::getenv("ORVANTA_PASSWORD");
    if (!value) return;
    if (!passwordGiven) info.password = zentra::MultiByteToWide(value, zentra::CP_ACP);
    static const char kName[] = "ORVANTA_PASSWORD=";
    std::vector<char*> entries;
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, kName, sizeof kName - 1) == 0) entries.push_back(*entry);
    unsetenv("ORVANTA_PASSWORD");
    for (char* entry : entries) std::memset(entry, 0, std::strlen(entry));
}

bool PasswordOptionGiven(const std::vector<CString>& args) {
    for (const auto& arg : args)
        if (arg.rfind(L"-p", 0) == 0 || arg.rfind(L"--password", 0) == 0) return true;
    return false;
}

// Standard descriptors that were closed when the program started are opened on /dev/null, so
// that no file, pipe or socket of the shell takes their numbers (closed input reads as ended).
void OpenClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

// 1. to 7.: the framework, the console control handler, the command line and the login. The exit
// code when the shell ends here; none when it goes on.
std::optional<int> StartUp(int argc, char** argv) {
    // 1. The framework: the locale's character set is the ANSI code page; resources by id.
    setlocale(LC_ALL, "");
    // Numbers are always written with a point; keep the C library's own formatting neutral too.
    setlocale(LC_NUMERIC, "C");
    RegisterResources();
    ShellState& st = State();

    // 2. The console control handler.
    InstallConsoleControlHandler();

    // 3. The command line.
    std::vector<CString> args;
    for (int i = 0; i < argc; ++i) args.push_back(zentra::MultiByteToWide(argv[i] ? argv[i] : "", zentra::CP_ACP));
    ParsedOptions parsed = ParseCommandLine(args, st, *st.output);
    HidePasswordArguments(argc, argv, parsed);
    if (parsed.exitCode) return *parsed.exitCode;
    TakePasswordFromEnvironment(st.connectInfo, PasswordOptionGiven(args) && !parsed.askPassword);

    // 5. A DBMS type is required.
    if (st.connectInfo.type == zentra::kDbmsNone) {
        st.output->Print(UsageText());
        return 1;
    }

    if (parsed.askPassword) {
        CString prompt = zentra::Format(zentra::LoadString(IDS_PROMPT_PASSWORD), st.connectInfo.user);
        st.connectInfo.password = st.input->Prompt(prompt.c_str(), 1);
    }

    // 6. and 7. The connection.
    st.connection = std::make_unique<zentra::CADOConnection>();
    if (!st.connection) {
        st.output->PrintMessage(IDS_CREATE_CONNECTION_FAILED);
        return 1;
    }
    st.loggingIn.store(1);
    const int connected = Connect(st.connection.get(), st.connectInfo);
    st.loggingIn.store(0);
    if (!connected) {
        st.output->PrintMessage(IDS_LOGIN_FAILED);
        st.connection.reset();
        return 2;
    }
    return std::nullopt;
}

// 8. to 11.: the front-end link, the banner, the display state, the saved settings and history.
void Welcome() {
    ShellState& st = State();
    // 8. The front-end link.
    if (!st.linkName.empty()) StartLinkThread();

    // 9. Banner, server line, welcome.
    std::time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    st.output->Print(L"%s\r\n\r\n", BannerText(local));
    PrintServerInfo(st.connection.get());
    st.output->PrintMessage(IDS_WELCOME);

    // 10. and 11. Display state, then the saved settings and history.
    st.exitRequested.store(0);
    ResetSettings(st, false);
    st.lastStatement.clear();
    LoadSettings();
}

// 12. and 13.: the start-up command and script; the result of the last.
int RunStartUpCommands() {
    ShellState& st = State();
    int result = 0;
    if (!st.startupCommand.empty()) {
        result = ProcessLine(st.startupCommand, 1);
        st.startupCommand.clear();
    }
    if (result != -1 && !st.startupScript.empty()) {
        result = ProcessLine(zentra::Format(L"@ \"%s\"", st.startupScript), 1);
        st.startupScript.clear();
    }
    return result;
}

// 14.: the read-process loop, after a command whose result was `result`. True when it ended by an
// exit request (Ctrl+C, end of input) rather than by QUIT.
bool ReadAndProcess(int result) {
    ShellState& st = State();
    while (st.exitRequested.load() == 0) {
        if (result == -1) break;
        if (st.input->IsEof()) {
            st.exitRequested.store(1);
            break;
        }
        CString statement = ReadStatement();
        result = ProcessLine(statement, 1);
        if (result == 1) st.history->Add(statement.c_str(), 1);
        ReportSpoolWriteError();
    }
    return st.exitRequested.load() != 0;
}

}  // namespace

int Main(int argc, char** argv) {
    OpenClosedStandardDescriptors();
    if (const std::optional<int> exitCode = StartUp(argc, argv)) return *exitCode;
    Welcome();
    const int result = RunStartUpCommands();
    ReportSpoolWriteError();
    const bool aborted = ReadAndProcess(result);

    // 15. to 18. The orderly end.
    ShellState& st = State();
    if (aborted) st.output->PrintMessage(L"\r\n%s", zentra::LoadString(IDS_ABORTED));
    ReportSpoolWriteError();
    SaveSettings();
    st.output->Print(L"%s\r\n", zentra::LoadString(IDS_BYE));
    st.connection.reset();
    return 0;
}

}  // namespace orva
