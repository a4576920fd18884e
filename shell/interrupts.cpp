// Console signals and the front-end link.
//
// Signals take the place of the console control events: SIGINT is Ctrl+C, SIGQUIT Ctrl+Break,
// SIGHUP a closed terminal, SIGTERM log-off and shutdown. They are blocked in every thread (the
// mask is set before any other thread starts, and threads inherit it) and taken by one thread
// that waits for them with sigwait, so the handling runs as ordinary thread code. Children that
// the shell starts reset the mask and the dispositions when they are spawned.
#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "commands.h"
#include "printer.h"
#include "resources.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/pipe.h"
#include "zentra/tick.h"

namespace orva {

namespace {

// Set once the process has begun to end (exit handlers run): the shell state may be going away,
// so the signal thread and the link thread no longer touch it.
std::atomic<bool> g_exiting{false};
std::thread g_linkThread;
// Set by the signal thread as soon as it takes a hang-up or termination signal.
std::atomic<bool> g_shutdown{false};

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Waits in `stepMs` sleeps while a printout runs, at most `limitMs`: a printout blocked on a
// terminal that no longer reads must not hold the caller for ever.
void WaitForPrintout(int stepMs, int limitMs) {
    for (int waited = 0; Printer().IsPrinting() && waited < limitMs; waited += stepMs) Sleep(stepMs);
}

// Cancels the statement that runs on the connection, if one does; true when one did.
// Ctrl+C and Ctrl+Break while a foreground program runs belong to it. The terminal sends them to
// the program and to the shell at once; when the program has ended by one before the signal
// thread has taken the shell's copy, that copy is still the program's. A leftover copy older than
// a second is not waited for.
struct ForegroundState {
    std::mutex mutex;
    bool active = false;
    int interruptsSeen = 0;
    bool swallowNext = false;
    std::uint32_t endedAt = 0;
};

ForegroundState& Foreground() {
    static ForegroundState state;
    return state;
}

// True when the interrupt is the foreground program's.
bool TakenByForegroundProgram() {
    ForegroundState& fg = Foreground();
    std::lock_guard<std::mutex> lock(fg.mutex);
    if (fg.active) {
        ++fg.interruptsSeen;
        return true;
    }
    if (fg.swallowNext) {
        fg.swallowNext = false;
        return zentra::GetTickCount() - fg.endedAt < 1000;
    }
    return false;
}

// Set while a cancel request waits for the server's answer.
std::atomic<bool> g_cancelPending{false};

// Cancels the statement that runs on the connection, if one does; true when one did. The cancel
// is sent from a thread of its own: a server that does not answer must not hold the signal thread,
// which has to take a second Ctrl+C, a hang-up or a termination meanwhile.
bool CancelRunningStatement() {
    ShellState& st = State();
    {
        std::lock_guard<std::mutex> lock(st.connectionMutex);
        if (!st.connection || !st.connection->IsExecuting()) return false;
    }
    if (g_cancelPending.exchange(true)) return true;
    // The terminal has echoed the key ("^C") where the cursor stood: the cancel message that the
    // statement ends with goes on a line of its own.
    if (isatty(STDOUT_FILENO)) {
        while (write(STDOUT_FILENO, "\r\n", 2) < 0 && errno == EINTR) {
        }
    }
    std::thread([&st] {
        {
            std::lock_guard<std::mutex> lock(st.connectionMutex);
            if (st.connection && st.connection->IsExecuting()) st.connection->Cancel();
        }
        g_cancelPending.store(false);
    }).detach();
    // A server that answers ends the statement at once; the shell prints its cancel error.
    for (int waited = 0; g_cancelPending.load() && waited < 200; waited += 10) Sleep(10);
    return true;
}

// Gives up the statement that waits for a server that answers neither it nor the cancel: the
// connection's sockets are shut down, so that the driver returns with a communication error and
// the shell goes on (the connection is lost; USE opens a new one).
void GiveUpStatement() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return;
    while (const struct dirent* entry = readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (fd <= STDERR_FILENO || fd == dirfd(dir)) continue;
        struct stat info {};
        if (fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
        int type = 0;
        socklen_t length = sizeof type;
        if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) continue;
        shutdown(fd, SHUT_RDWR);
    }
    closedir(dir);
    State().output->PrintMessage(IDS_STATEMENT_GIVEN_UP);
}

// Ctrl+C while the login runs gives the login up: at a prompt the pending read ends and the
// login ends by itself; an attempt that waits for a server is not waited for.
void GiveUpLogin();

// Ctrl+C and Ctrl+Break: stop a printout; else cancel the statement that runs on the server
// (it reports its cancel error and the shell goes on); else, at the prompt, end the shell.
void Interrupt() {
    if (g_exiting.load()) return;
    if (TakenByForegroundProgram()) return;
    ShellState& st = State();
    if (st.loggingIn.load() != 0) {
        GiveUpLogin();
        return;
    }
    // A second Ctrl+C while the server has not answered a cancel.
    if (g_cancelPending.load()) {
        GiveUpStatement();
        return;
    }
    // A REDO stops as a whole, whatever of it runs at the moment.
    if (st.redoRunning.load() != 0) st.redoStop.store(1);
    if (Printer().IsPrinting()) {
        Printer().Stop();
        WaitForPrintout(10, 5000);
        return;
    }
    if (CancelRunningStatement()) return;
    if (st.redoRunning.load() != 0) return;
    st.exitRequested.store(1);
    // End the pending line read (dropping a half-typed line), so that the loop sees the request.
    st.input->Interrupt();
}

// Ends the process by `signal` itself, so that the parent sees how it ended; no exit handlers
// run, nothing is saved.
[[noreturn]] void EndBySignal(int signal) {
    zentra::CInput::RestoreTerminal();
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(128 + signal);
}

// Whether the process is being ended by a hang-up or termination: the signal thread has taken
// one, one waits for it, or the terminal of the input has been hung up (its input then ends
// before the signal is delivered, and the main thread must not take that for an orderly end).
bool ShutdownUnderway() {
    if (g_shutdown.load()) return true;
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) == 0 && (sigismember(&pending, SIGHUP) == 1 || sigismember(&pending, SIGTERM) == 1))
        return true;
    struct termios mode {};
    return tcgetattr(STDIN_FILENO, &mode) != 0 && errno == EIO;
}

void GiveUpLogin() {
    ShellState& st = State();
    st.exitRequested.store(1);
    st.input->Interrupt();
    for (int waited = 0; st.loggingIn.load() != 0 && waited < 1000; waited += 20) Sleep(20);
    if (st.loggingIn.load() == 0) return;
    // Still logging in: the attempt hangs.
    zentra::CInput::RestoreTerminal();
    st.output->PrintMessage(IDS_LOGIN_FAILED);
    _exit(2);
}

// Leaves the ending to the signal thread; ends by SIGHUP itself when no signal comes.
[[noreturn]] void AwaitShutdown() {
    for (int waited = 0; waited < 5000; waited += 50) Sleep(50);
    EndBySignal(SIGHUP);
}

// Hang-up and termination: stop a printout, let go of the connection and end at once, without
// saving settings or history and without "Bye".
[[noreturn]] void Shutdown(int signal) {
    g_shutdown.store(true);
    if (g_exiting.load()) EndBySignal(signal);
    ShellState& st = State();
    st.exitRequested.store(1);
    if (Printer().IsPrinting()) {
        Printer().Stop();
        WaitForPrintout(100, 1000);
    }
    // The connection is let go of by a thread of its own, which may wait on a server that does
    // not answer (or on USE, which holds the slot while it reconnects): the process ends after a
    // short wait whatever the server does.
    auto released = std::make_shared<std::atomic<bool>>(false);
    std::thread([&st, released] {
        std::unique_lock<std::mutex> lock(st.connectionMutex, std::defer_lock);
        for (int tries = 0; tries < 10 && !lock.try_lock(); ++tries) Sleep(50);
        if (lock.owns_lock() && st.connection) {
            if (st.connection->IsExecuting()) {
                // The main thread is inside the statement and still uses the connection: cancel
                // the statement on the server; the session ends with the process.
                st.connection->Cancel();
            } else {
                // An orderly logout (an open transaction is rolled back).
                st.connection->Close();
            }
        }
        released->store(true);
    }).detach();
    for (int waited = 0; !released->load() && waited < 1000; waited += 10) Sleep(10);
    EndBySignal(signal);
}

void SignalLoop(sigset_t set) {
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        switch (signal) {
        case SIGINT:
        case SIGQUIT: Interrupt(); break;
        case SIGHUP:
        case SIGTERM: Shutdown(signal);
        default: break;
        }
    }
}

// The front end's requests, polled every 100 ms until the shell is asked to end.
void LinkLoop(CString name) {
    ShellState& st = State();
    zentra::CControlLink link;
    if (!link.Open(name.c_str())) return;
    link.ClearRequests();
    while (!g_exiting.load() && st.exitRequested.load() == 0) {
        int key = 0;
        switch (link.TakeRequest(&key)) {
        case zentra::CControlLink::CtrlC:
            // Ctrl+C for every process of our group (ours and the children we started); the
            // signal thread handles ours.
            kill(0, SIGINT);
            break;
        case zentra::CControlLink::Cancel:
            // Cancel: the printout, else the statement that runs; nothing when idle.
            if (Printer().IsPrinting()) {
                Printer().Stop();
                WaitForPrintout(100, 5000);
            } else {
                CancelRunningStatement();
            }
            break;
        case zentra::CControlLink::Key: st.input->InjectKey(key & 0xFF); break;
        default: Sleep(100); break;
        }
    }
}

// Runs when the process ends normally, before the shell state is destroyed.
void OnExit() {
    if (ShutdownUnderway()) AwaitShutdown();
    g_exiting.store(true);
    if (g_linkThread.joinable()) g_linkThread.join();
}

}  // namespace

void InstallConsoleControlHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The state and the printer exist before the exit handler is registered, so that they
        // are destroyed after it has run.
        State();
        Printer();
        std::atexit(OnExit);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGQUIT);
        sigaddset(&set, SIGHUP);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        std::thread(SignalLoop, set).detach();
    });
}

void StartLinkThread() {
    if (g_linkThread.joinable()) return;
    g_linkThread = std::thread(LinkLoop, State().linkName);
}

void BeginForegroundProgram() {
    ForegroundState& fg = Foreground();
    std::lock_guard<std::mutex> lock(fg.mutex);
    fg.active = true;
    fg.interruptsSeen = 0;
    fg.swallowNext = false;
}

void EndForegroundProgram(bool interrupted) {
    ForegroundState& fg = Foreground();
    std::lock_guard<std::mutex> lock(fg.mutex);
    fg.active = false;
    fg.swallowNext = interrupted && fg.interruptsSeen == 0;
    fg.endedAt = zentra::GetTickCount();
}

void AwaitShutdownIfUnderway() {
    if (ShutdownUnderway()) AwaitShutdown();
}

}  // namespace orva
