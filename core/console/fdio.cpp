#include "fdio.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>

namespace zentra::detail {

namespace {

// Blocks SIGPIPE in this thread for its lifetime; on the way out, takes back a SIGPIPE that a
// write raised, so that it is never delivered once the mask is restored.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        if (sigpending(&pending) == 0) m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        m_masked = pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old) == 0;
    }
    ~SigpipeGuard() {
        if (!m_masked) return;
        if (m_raised && !m_wasPending) {
            const int savedErrno = errno;
            struct timespec zero = {0, 0};
            while (sigtimedwait(&m_pipe, nullptr, &zero) == -1 && errno == EINTR) {
            }
            errno = savedErrno;
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

    void Raised() { m_raised = true; }

private:
    sigset_t m_pipe;
    sigset_t m_old;
    bool m_masked = false;
    bool m_wasPending = false;
    bool m_raised = false;
};

constexpr size_t kMaxTail = 1024;

std::atomic<int> g_tailFd{-1};
std::mutex g_tailMutex;
std::string g_tail;

void NoteTail(int fd, const char* data, size_t size) {
    if (g_tailFd.load(std::memory_order_relaxed) != fd) return;
    std::lock_guard<std::mutex> lock(g_tailMutex);
    if (g_tailFd.load() != fd) return;
    size_t start = size;
    while (start > 0 && data[start - 1] != '\n' && data[start - 1] != '\r') --start;
    if (start > 0) g_tail.clear();
    g_tail.append(data + start, size - start);
    if (g_tail.size() > kMaxTail) g_tail.erase(0, g_tail.size() - kMaxTail);
}

}  // namespace

void TrackLineTail(int fd) {
    std::lock_guard<std::mutex> lock(g_tailMutex);
    g_tail.clear();
    g_tailFd.store(fd);
}

std::string LineTail(int fd) {
    std::lock_guard<std::mutex> lock(g_tailMutex);
    return g_tailFd.load() == fd ? g_tail : std::string();
}

bool WriteAll(int fd, const char* data, size_t size) {
    if (size == 0) return true;
    if (fd < 0) return false;
    NoteTail(fd, data, size);
    SigpipeGuard guard;
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd p = {fd, POLLOUT, 0};
            if (poll(&p, 1, -1) < 0 && errno != EINTR) return false;
            continue;
        }
        if (n < 0 && errno == EPIPE) guard.Raised();
        return false;
    }
    return true;
}

}  // namespace zentra::detail
