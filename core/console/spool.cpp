#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fdio.h"
#include "zentra/codepage.h"
#include "zentra/console.h"

namespace zentra {

namespace {

bool SameFile(int a, int b) {
    struct stat sa, sb;
    return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

CSpoolFile::CSpoolFile() = default;

CSpoolFile::~CSpoolFile() = default;

int CSpoolFile::Open(const wchar_t* path) {
    if (!path || !*path) return 0;
    const std::string name = WideToMultiByte(path, CP_ACP);
    // Created when missing, never truncated; every write goes to the end.
    UniqueFd fd;
    do {
        fd.Reset(open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0666));
    } while (fd.Get() < 0 && errno == EINTR);
    if (fd.Get() < 0) return 0;

    if (IsOpen() && SameFile(fd.Get(), m_fd.Get())) {
        // Already spooling into this file: keep the open, locked descriptor.
        m_path = path;
        return 1;
    }
    // No other opener (that locks) may share the transcript while it is open.
    int rc;
    do {
        rc = flock(fd.Get(), LOCK_EX | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return 0;
    Close();
    m_fd = std::move(fd);
    m_path = path;
    return 1;
}

void CSpoolFile::Close() {
    // Errors on close are swallowed: nothing useful can follow.
    m_fd.Reset();
    m_path.clear();
}

CString CSpoolFile::GetFileName() const {
    if (!IsOpen()) return CString();
    const size_t slash = m_path.find_last_of(L'/');
    return slash == CString::npos ? m_path : m_path.substr(slash + 1);
}

int CSpoolFile::WriteLog(const wchar_t* text) {
    if (!IsOpen()) return 0;
    if (!text || !*text) return 1;
    return WriteBytes(WideToMultiByte(text, CP_ACP));
}

int CSpoolFile::WriteBytes(std::string_view bytes) {
    if (!IsOpen()) return 0;
    if (bytes.empty()) return 1;
    if (detail::WriteAll(m_fd.Get(), bytes.data(), bytes.size())) return 1;
    const int error = errno ? errno : EIO;
    if (!m_nWriteError) {  // the first failure is the one worth telling
        m_nWriteError = error;
        m_failedPath = m_path;
    }
    Close();
    return 0;
}

int CSpoolFile::TakeWriteError(CString& path, CString& reason) {
    if (!m_nWriteError) return 0;
    path = m_failedPath;
    reason = MultiByteToWide(std::strerror(m_nWriteError), CP_ACP);
    m_nWriteError = 0;
    m_failedPath.clear();
    return 1;
}

}  // namespace zentra
