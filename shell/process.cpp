// Commands that start other programs: HOST/! and EDIT/ED, and what they share.
#include <errno.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "commands.h"
#include "interrupts.h"
#include "resources.h"
#include "utility.h"
#include "zentra/codepage.h"
#include "zentra/console.h"
#include "zentra/settings.h"
#include "zentra/spawn.h"
#include "zentra/textfile.h"

extern char** environ;

namespace orva {

using zentra::CFileException;
using zentra::COutput;
using zentra::CStdioFileEx;

namespace {

CString EnvText(const char* name) {
    const char* value = std::getenv(name);
    return value ? zentra::MultiByteToWide(value, zentra::CP_ACP) : CString();
}

// Creates `path` and any missing parents with mode 0700. 0 or the errno value.
int MakeDirectories(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        const int rc = MakeDirectories(path.substr(0, slash));
        if (rc != 0) return rc;
    }
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    return 0;
}

// The output the shell prints to, with everything pending written out: a child writes to the same
// place and must come after it.
int FlushedOutputFd() {
    COutput* out = State().output.get();
    COutput::FlushAll();
    if (!out) return STDOUT_FILENO;
    out->Flush();
    return out->GetFd();
}

// The statement as the editor gets it: lines of a text file of this system (LF line ends, a line
// end after the last line), so that editors and tools that append lines see proper lines.
CString StatementAsFileText(const CString& statement) {
    CString text = statement;
    zentra::ReplaceAll(text, L"\r\n", L"\n");
    if (!text.empty() && text.back() != L'\n') text += L"\n";
    return text;
}

// Writes the statement into the file (created or emptied). 1 written; 0 with the error printed.
int WriteEditFile(const CString& path, const CString& statement) {
    CStdioFileEx file;
    CFileException error;
    if (!file.Open(path.c_str(), CStdioFileEx::modeCreate | CStdioFileEx::modeWrite, &error)) {
        State().output->PrintMessage(L"%s", error.GetErrorMessage());
        return 0;
    }
    file.WriteString(StatementAsFileText(statement).c_str());
    if (file.GetLastException().m_cause != CFileException::none) {
        State().output->PrintMessage(L"%s", file.GetLastException().GetErrorMessage());
        return 0;
    }
    return 1;
}

// Reads the edited file back: its lines joined by "\n", trimmed. 1 read; 0 with the error
// printed.
int ReadEditFile(const CString& path, CString& text) {
    CStdioFileEx file;
    CFileException error;
    if (!file.Open(path.c_str(), CStdioFileEx::modeRead, &error)) {
        State().output->PrintError(L"%s", error.GetErrorMessage());
        return 0;
    }
    CString joined, line;
    bool first = true;
    while (file.ReadString(line)) {
        if (!first) joined += L"\n";
        joined += line;
        first = false;
    }
    if (file.GetLastException().m_cause != CFileException::none) {
        State().output->PrintError(L"%s", file.GetLastException().GetErrorMessage());
        return 0;
    }
    text = zentra::Trim(joined);
    return 1;
}

// After a program has written to the terminal the cursor may stand in the middle of a line. A
// marker and enough blanks to fill a line, then a return and an erase, leave it at the start of a
// line that is empty: the same line when it was there already, else the next one (the program's
// unfinished line keeps the marker).
void StartFreshLine(int fd) {
    if (fd < 0 || !isatty(fd)) return;
    struct winsize size {};
    const int columns = ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
    std::string text = "\x1b[7m%\x1b[0m";
    text.append(static_cast<size_t>(columns - 1), ' ');
    text += "\r\x1b[K";
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

CString QuoteForShell(const CString& text) {
    CString quoted = L"'";
    for (wchar_t ch : text) {
        if (ch == L'\'') quoted += L"'\\''";
        else quoted += ch;
    }
    quoted += L"'";
    return quoted;
}

int RunShellCommand(const CString& command, int outFd, int& error) {
    error = 0;
    // A foreground child: the shell's process group (so that it can use the terminal), and
    // nothing beyond the three standard descriptors (the spool file's lock, database sockets and
    // the like stay with the shell).
    zentra::CSpawnAttributes attributes(false);
    zentra::CSpawnFileActions actions;
    if (outFd >= 0) actions.Dup2(outFd, STDOUT_FILENO);
    actions.CloseFrom(STDERR_FILENO + 1);
    if ((error = attributes.Error()) != 0 || (error = actions.Error()) != 0) return -1;

    std::string text = zentra::WideToMultiByte(command, zentra::CP_ACP);
    char shell[] = "/bin/sh";
    char name[] = "sh";
    char option[] = "-c";
    char* argv[] = {name, option, text.data(), nullptr};
    pid_t pid = 0;
    error = posix_spawn(&pid, shell, actions.Get(), attributes.Get(), argv, environ);
    if (error != 0) return -1;
    // While the program runs, Ctrl+C and Ctrl+Break are its own (the terminal sends them to the
    // whole process group).
    BeginForegroundProgram();

    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, 0) == pid) break;
        if (errno == EINTR) continue;
        // Reaped elsewhere (SIGCHLD ignored): the child has ended, its status is unknown.
        EndForegroundProgram(false);
        return 0;
    }
    const bool interrupted =
        (WIFSIGNALED(status) && (WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGQUIT)) ||
        (WIFEXITED(status) && (WEXITSTATUS(status) == 128 + SIGINT || WEXITSTATUS(status) == 128 + SIGQUIT));
    EndForegroundProgram(interrupted);
    StartFreshLine(outFd);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 0;
}

CString EditorCommand(const CString& setting) {
    if (!zentra::Trim(setting).empty() && !zentra::EqualsNoCase(zentra::Trim(setting), zentra::kDefaultEditor))
        return setting;
    for (const char* name : {"VISUAL", "EDITOR"}) {
        const CString value = EnvText(name);
        if (!zentra::Trim(value).empty()) return value;
    }
    return L"vi";
}

CString StateDirectory() {
    const CString xdg = EnvText("XDG_STATE_HOME");
    if (!xdg.empty() && xdg[0] == L'/') return xdg + L"/orvanta";
    CString home = EnvText("HOME");
    if (home.empty()) {
        if (const struct passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
            home = zentra::MultiByteToWide(pw->pw_dir, zentra::CP_ACP);
    }
    if (home.empty()) return CString();
    if (home.back() == L'/') home.pop_back();
    return home + L"/.local/state/orvanta";
}

CString EditFilePath(const CString& name, int& error) {
    error = 0;
    if (!name.empty() && name[0] == L'/') return name;
    const CString directory = StateDirectory();
    if (directory.empty()) {
        error = ENOENT;
        return CString();
    }
    error = MakeDirectories(zentra::WideToMultiByte(directory, zentra::CP_ACP));
    if (error != 0) return CString();
    return directory + L"/" + name;
}

int RunHostCommand(const CString& command) {
    const int outFd = FlushedOutputFd();
    int error = 0;
    if (RunShellCommand(command, outFd, error) < 0) {
        State().output->PrintMessage(IDS_CREATE_PROCESS_FAILED, error);
        return 0;
    }
    return 1;
}

int EditBuffer(const CString* word) {
    ShellState& st = State();
    const CString name = word ? *word : CString(L"buf.sql");
    int error = 0;
    const CString path = EditFilePath(name, error);
    if (path.empty()) {
        CFileException failure;
        failure.SetFromErrno(error, StateDirectory());
        st.output->PrintMessage(L"%s", failure.GetErrorMessage());
        return 0;
    }
    if (!WriteEditFile(path, st.lastStatement)) return 0;

    st.output->PrintMessage(IDS_END_WITH_SEMICOLON);
    const CString editor = EditorCommand(st.editor);
    const int outFd = FlushedOutputFd();
    const int status = RunShellCommand(editor + L" " + QuoteForShell(path), outFd, error);
    // 126 and 127 are the shell's "cannot execute" and "not found".
    if (status < 0 || status == 126 || status == 127) {
        st.output->PrintMessage(IDS_CANT_START, editor);
        return 0;
    }

    CString text;
    if (!ReadEditFile(path, text)) return 0;
    if (!text.empty()) st.lastStatement = text;
    return 1;
}

}  // namespace orva
