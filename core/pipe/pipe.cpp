#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>
#include <vector>

#include "../console/fdio.h"
#include "zentra/unique_fd.h"
#include "zentra/codepage.h"
#include "zentra/format.h"
#include "zentra/pipe.h"
#include "zentra/spawn.h"

extern char** environ;

namespace zentra {

namespace {

constexpr size_t kChunk = 1023;  // bytes per read, as the callbacks have always received them
constexpr int kIdleMs = 100;

// A pipe with close-on-exec ends that are not standard descriptors (a host that closed its
// standard streams would otherwise get them back from pipe2, and the child's dup2 onto the same
// number would leave close-on-exec set).
bool MakePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    UniqueFd ends[2] = {UniqueFd(fds[0]), UniqueFd(fds[1])};
    for (auto& end : ends) {
        if (end.Get() > STDERR_FILENO) continue;
        const int moved = fcntl(end.Get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved < 0) return false;
        end.Reset(moved);
    }
    readEnd = std::move(ends[0]);
    writeEnd = std::move(ends[1]);
    return true;
}

// The directory of the running program, with a trailing '/'; "" when unknown.
std::string ProgramDirectory() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string dir(path, static_cast<size_t>(n));
    const size_t slash = dir.rfind('/');
    return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

// A program named without a directory is looked for beside this program first.
std::string FindBesideProgram(const std::string& program) {
    if (program.empty() || program.find('/') != std::string::npos) return {};
    const std::string dir = ProgramDirectory();
    if (dir.empty()) return {};
    std::string candidate = dir + program;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
        return candidate;
    return {};
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#else
    (void)pid;
#endif
    return -1;
}

}  // namespace

// One started child: its process and the parent's pipe ends. The reader thread keeps its own
// reference, so the ends stay open for as long as it reads, whatever the owner does.
struct CPipe::Child {
    pid_t pid = 0;
    bool reaped = false;                 // guarded by the pipe's m_lock
    UniqueFd readEnd;                    // child's output, read only by the reader thread
    UniqueFd pidFd;                      // wakes the reader when the child ends (-1 without pidfd support)
    std::shared_ptr<UniqueFd> writeEnd;  // child's input; writers hold a reference while writing
};

CPipe::CPipe() { m_block.Create(); }

CPipe::~CPipe() { Close(); }

void CPipe::OnIdle() {}

void CPipe::OnReadData(const wchar_t*, int) {}

// The child's resources are released by the reader thread before it calls OnTerminate.
void CPipe::OnTerminate() {}

int CPipe::Start(const wchar_t* commandLine) {
    if (m_reader.joinable()) {
        if (OnReaderThread()) {
            // From a callback: only OnTerminate may start the next child. Its thread touches
            // nothing once OnTerminate returns; it is joined by the next Start or by Close.
            if (!m_readerDone.load()) return 0;
            if (m_previousReader.joinable()) m_previousReader.join();
            m_previousReader = std::move(m_reader);
        } else {
            Stop();
            m_reader.join();
            if (m_previousReader.joinable()) m_previousReader.join();
        }
        std::lock_guard<std::mutex> guard(m_lock);
        m_readerId = std::thread::id();
    }
    if (!commandLine || SplitCommandLine(commandLine).empty()) return 0;
    if (!m_block.IsOpen()) m_block.Create();

    CString line = commandLine;
    if (m_block.IsOpen()) line = Format(L"%s --SMN=%s", commandLine, m_block.GetName());
    std::vector<std::string> args;
    for (const CString& arg : SplitCommandLine(line)) args.push_back(WideToMultiByte(arg, CP_ACP));
    if (args.empty() || args[0].empty()) return 0;
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    UniqueFd parentRead, childOutput, childInput, parentWrite;
    if (!MakePipe(parentRead, childOutput)) return 0;
    if (!MakePipe(childInput, parentWrite)) return 0;
    // The reader never blocks in a read: it waits in poll, and drains what is there at the end.
    if (fcntl(parentRead.Get(), F_SETFL, fcntl(parentRead.Get(), F_GETFL) | O_NONBLOCK) != 0) return 0;

    CSpawnAttributes attributes(true);
    CSpawnFileActions actions;
    actions.Dup2(childInput.Get(), STDIN_FILENO);
    actions.Dup2(childOutput.Get(), STDOUT_FILENO);
    actions.Dup2(childOutput.Get(), STDERR_FILENO);
    if (attributes.Error() != 0 || actions.Error() != 0) return 0;

    pid_t pid = 0;
    const std::string beside = FindBesideProgram(args[0]);
    const int rc = beside.empty()
                       ? posix_spawnp(&pid, args[0].c_str(), actions.Get(), attributes.Get(), argv.data(), environ)
                       : posix_spawn(&pid, beside.c_str(), actions.Get(), attributes.Get(), argv.data(), environ);
    childInput.Reset();
    childOutput.Reset();
    if (rc != 0) return 0;

    auto child = std::make_shared<Child>();
    child->pid = pid;
    child->readEnd = std::move(parentRead);
    child->pidFd = UniqueFd(OpenPidFd(pid));
    child->writeEnd = std::make_shared<UniqueFd>(std::move(parentWrite));
    // The lock is held until m_reader is assigned: the reader's first step waits for it.
    std::lock_guard<std::mutex> guard(m_lock);
    m_child = child;
    m_running = 1;
    m_readerDone = false;
    try {
        m_reader = std::thread(&CPipe::ReaderLoop, this, child);
    } catch (const std::system_error&) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        child->reaped = true;
        m_child.reset();
        m_running = 0;
        m_readerDone = true;
        return 0;
    }
    return 1;
}

void CPipe::Stop() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_child) return;
    if (!m_child->reaped) {
        // The child leads its own process group: end it and whatever it started in the group.
        // Until it is reaped its id cannot be taken by another process.
        kill(-m_child->pid, SIGKILL);
        kill(m_child->pid, SIGKILL);
    }
    m_child->writeEnd.reset();
}

bool CPipe::OnReaderThread() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_readerId == std::this_thread::get_id();
}

void CPipe::Close() noexcept {
    Stop();
    if (m_reader.joinable()) {
        if (OnReaderThread()) {
            // Destroyed from its own OnTerminate: the thread ends once that returns.
            m_reader.detach();
        } else {
            m_reader.join();
        }
        std::lock_guard<std::mutex> guard(m_lock);
        m_readerId = std::thread::id();
    }
    if (m_previousReader.joinable()) m_previousReader.join();
}

void CPipe::Deliver(CStreamDecoder& decoder, const char* data, size_t size, bool last) {
    // A NUL byte cannot travel in the NUL-terminated text: drop it, keep the rest.
    std::string bytes;
    bytes.reserve(size);
    for (size_t i = 0; i < size; ++i)
        if (data[i] != '\0') bytes.push_back(data[i]);
    CString text = decoder.Decode(bytes);
    if (last) text += decoder.Flush();
    if (!text.empty()) OnReadData(text.c_str(), static_cast<int>(text.size()));
}

void CPipe::ReaderLoop(std::shared_ptr<Child> child) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_readerId = std::this_thread::get_id();
    }
    CStreamDecoder decoder(CP_ACP);
    char buffer[kChunk + 1];
    const int fd = child->readEnd.Get();
    bool endOfOutput = false;  // every writer has closed the pipe
    bool failed = false;

    OnIdle();
    for (;;) {
        // Has the child ended? Asked before reading, so that everything it wrote is in the
        // pipe by then; the child stays a zombie (its id reserved) until reaped below.
        siginfo_t info{};
        const int w = waitid(P_PID, static_cast<id_t>(child->pid), &info, WEXITED | WNOHANG | WNOWAIT);
        bool ended = (w == 0 && info.si_pid != 0);
        if (w < 0 && errno == ECHILD) {  // reaped behind our back (SIGCHLD ignored by the host)
            std::lock_guard<std::mutex> guard(m_lock);
            child->reaped = true;
            ended = true;
        }
        if (ended) {
            // Deliver exactly what is in the pipe now: a process the child left behind that
            // keeps writing cannot hold the reader.
            int pending = 0;
            if (!endOfOutput && ioctl(fd, FIONREAD, &pending) == 0) {
                while (pending > 0) {
                    const ssize_t n = read(fd, buffer, std::min<size_t>(kChunk, static_cast<size_t>(pending)));
                    if (n < 0 && errno == EINTR) continue;
                    if (n <= 0) break;
                    pending -= static_cast<int>(n);
                    Deliver(decoder, buffer, static_cast<size_t>(n), false);
                }
            }
            break;
        }
        if (!endOfOutput) {
            const ssize_t n = read(fd, buffer, kChunk);
            if (n > 0) {
                Deliver(decoder, buffer, static_cast<size_t>(n), false);
                continue;
            }
            if (n == 0) {
                endOfOutput = true;
            } else if (errno == EINTR) {
                continue;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
                failed = true;
                break;
            }
        }
        OnIdle();
        struct pollfd waits[2] = {{endOfOutput ? -1 : fd, POLLIN, 0}, {child->pidFd.Get(), POLLIN, 0}};
        poll(waits, 2, kIdleMs);
    }
    Deliver(decoder, nullptr, 0, true);

    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!child->reaped) {
            if (failed) {
                kill(-child->pid, SIGKILL);
                kill(child->pid, SIGKILL);
            }
            while (waitpid(child->pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            child->reaped = true;
        }
        child->writeEnd.reset();
        if (m_child == child) m_child.reset();
        m_running = 0;
        m_readerDone = true;
    }
    child.reset();  // closes the read end and the pidfd
    OnTerminate();
}

int CPipe::WriteData(CString text) {
    const std::string bytes = WideToMultiByte(text, CP_ACP);
    std::shared_ptr<UniqueFd> end;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_child) end = m_child->writeEnd;
    }
    if (!end || end->Get() < 0) return 0;
    return detail::WriteAll(end->Get(), bytes.data(), bytes.size()) ? 1 : 0;
}

int CPipe::WriteByte(unsigned char byte) {
    std::shared_ptr<UniqueFd> end;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_child) end = m_child->writeEnd;
    }
    if (!end || end->Get() < 0) return 0;
    const char ch = static_cast<char>(byte);
    return detail::WriteAll(end->Get(), &ch, 1) ? 1 : 0;
}

void CPipe::Disconnect() { m_block.Disconnect(); }

void CPipe::Abort() { m_block.Abort(); }

void CPipe::KeyDown(int virtualKey) { m_block.KeyDown(virtualKey); }

int CPipe::IsRunning() const { return m_running.load(); }

PROCESS_INFORMATION CPipe::GetProcessInfo() const {
    std::lock_guard<std::mutex> guard(m_lock);
    PROCESS_INFORMATION info;
    if (m_child) info.dwProcessId = m_child->pid;
    return info;
}

int CPipe::GetReadHandle() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_child ? m_child->readEnd.Get() : -1;
}

int CPipe::GetWriteHandle() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_child && m_child->writeEnd ? m_child->writeEnd->Get() : -1;
}

}  // namespace zentra
