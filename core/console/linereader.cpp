#include "linereader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace zentra {

namespace {
constexpr size_t kChunk = 4096;
}

size_t CLineReader::Fill() {
    const size_t old = m_buffer.size();
    m_buffer.resize(old + kChunk);
    for (;;) {
        const ssize_t n = read(m_fd, m_buffer.data() + old, kChunk);
        if (n > 0) {
            m_buffer.resize(old + static_cast<size_t>(n));
            return static_cast<size_t>(n);
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd p = {m_fd, POLLIN, 0};
            if (poll(&p, 1, -1) >= 0 || errno == EINTR) continue;
        }
        m_buffer.resize(old);
        return 0;
    }
}

bool CLineReader::ReadLine(std::string& line) {
    line.clear();
    size_t searchFrom = m_pos;
    for (;;) {
        const size_t nl = m_buffer.find('\n', searchFrom);
        if (nl != std::string::npos) {
            line.assign(m_buffer, m_pos, nl - m_pos);
            m_pos = nl + 1;
            break;
        }
        searchFrom = m_buffer.size();
        if (Fill() == 0) {
            if (m_pos == m_buffer.size()) return false;
            line.assign(m_buffer, m_pos, std::string::npos);
            m_pos = m_buffer.size();
            break;
        }
    }
    // Keep the buffer from growing with what has been handed out.
    if (m_pos == m_buffer.size()) {
        m_buffer.clear();
        m_pos = 0;
    } else if (m_pos >= kChunk * 4) {
        m_buffer.erase(0, m_pos);
        m_pos = 0;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

}  // namespace zentra
