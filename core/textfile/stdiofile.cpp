#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "zentra/codepage.h"
#include "zentra/format.h"
#include "zentra/textfile.h"

namespace zentra {

namespace {

constexpr size_t kReadAhead = 65536;

std::string NativePath(const wchar_t* path) { return WideToMultiByte(path ? path : L"", CP_ACP); }

}  // namespace

// ---- CFileException --------------------------------------------------------------------------

void CFileException::SetFromErrno(int error, const CString& fileName) {
    m_lOsError = error;
    m_strFileName = fileName;
    switch (error) {
    case 0: m_cause = none; break;
    case ENOENT: m_cause = fileNotFound; break;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: m_cause = badPath; break;
    case EMFILE:
    case ENFILE: m_cause = tooManyOpenFiles; break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: m_cause = accessDenied; break;
    case EBADF: m_cause = invalidFile; break;
    case ESPIPE: m_cause = badSeek; break;
    case EIO: m_cause = hardIO; break;
    case ETXTBSY:
    case EBUSY: m_cause = sharingViolation; break;
    case EDEADLK:
    case ENOLCK: m_cause = lockViolation; break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: m_cause = diskFull; break;
    default: m_cause = genericException; break;
    }
}

CString CFileException::GetErrorMessage() const {
    const CString& f = m_strFileName.empty() ? CString(L"an unnamed file") : m_strFileName;
    switch (m_cause) {
    case none: return L"No error occurred.";
    case fileNotFound: return Format(L"%s was not found.", f);
    case badPath: return Format(L"%s contains an incorrect path.", f);
    case tooManyOpenFiles: return Format(L"Could not open %s because there are too many open files.", f);
    case accessDenied: return Format(L"Access to %s was denied.", f);
    case invalidFile: return Format(L"An incorrect file handle was associated with %s.", f);
    case badSeek: return Format(L"An error occurred while setting the file position for %s.", f);
    case hardIO: return Format(L"A hardware I/O error was reported while accessing %s.", f);
    case sharingViolation: return Format(L"A sharing violation occurred while accessing %s.", f);
    case lockViolation: return Format(L"A locking violation occurred while accessing %s.", f);
    case diskFull: return Format(L"There was not enough space on the disk for %s.", f);
    case endOfFile: return Format(L"An attempt was made to access %s past its end.", f);
    default: return Format(L"An unexpected error occurred while accessing %s.", f);
    }
}

// ---- CStdioFile ------------------------------------------------------------------------------

CStdioFile::~CStdioFile() { CStdioFile::Close(); }

BOOL CStdioFile::Open(const wchar_t* path, UINT flags, CFileException* error) {
    Close();
    m_lastError.Clear();
    m_strFileName = path ? path : L"";
    int oflags = O_CLOEXEC;
    switch (flags & 3) {
    case modeRead: oflags |= O_RDONLY; break;
    case modeWrite: oflags |= O_WRONLY; break;
    default: oflags |= O_RDWR; break;
    }
    if (flags & modeCreate) {
        oflags |= O_CREAT;
        if (!(flags & modeNoTruncate)) oflags |= O_TRUNC;
    }
    UniqueFd fd((path && *path) ? ::open(NativePath(path).c_str(), oflags, 0666) : -1);
    int failure = fd.Get() < 0 ? ((path && *path) ? errno : ENOENT) : 0;
    if (fd.Get() >= 0) {
        struct stat st {};
        if (::fstat(fd.Get(), &st) == 0 && S_ISDIR(st.st_mode)) {
            fd.Reset();
            failure = EISDIR;
        }
    }
    if (fd.Get() < 0) {
        m_lastError.SetFromErrno(failure, m_strFileName);
        if (error) *error = m_lastError;
        return 0;
    }
    m_fd = std::move(fd);
    return 1;
}

void CStdioFile::Close() {
    m_fd.Reset();
    DropReadBuffer();
}

void CStdioFile::RecordError(int error) { m_lastError.SetFromErrno(error, m_strFileName); }

void CStdioFile::DropReadBuffer() {
    m_bufPos = 0;
    m_bufLen = 0;
}

bool CStdioFile::Fill() {
    if (m_fd.Get() < 0) return false;
    if (m_buffer.size() < kReadAhead) m_buffer.resize(kReadAhead);
    for (;;) {
        ssize_t n = ::read(m_fd.Get(), m_buffer.data(), m_buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) RecordError(errno);
        m_bufPos = 0;
        m_bufLen = n > 0 ? static_cast<size_t>(n) : 0;
        return n > 0;
    }
}

UINT CStdioFile::Read(void* buffer, UINT count) {
    if (!buffer) return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    UINT done = 0;
    while (done < count) {
        if (m_bufPos >= m_bufLen && !Fill()) break;
        size_t take = std::min<size_t>(count - done, m_bufLen - m_bufPos);
        std::copy_n(m_buffer.data() + m_bufPos, take, out + done);
        m_bufPos += take;
        done += static_cast<UINT>(take);
    }
    return done;
}

bool CStdioFile::Write(const void* buffer, UINT count) {
    if (m_fd.Get() < 0) {
        RecordError(EBADF);
        return false;
    }
    // Bytes read ahead but not consumed: put the position back where the caller is.
    if (m_bufPos < m_bufLen) {
        ::lseek(m_fd.Get(), -static_cast<off_t>(m_bufLen - m_bufPos), SEEK_CUR);
    }
    DropReadBuffer();
    const auto* p = static_cast<const char*>(buffer);
    size_t left = buffer ? count : 0;
    while (left > 0) {
        ssize_t n = ::write(m_fd.Get(), p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            RecordError(n < 0 ? errno : ENOSPC);
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

wchar_t* CStdioFile::ReadString(wchar_t* buffer, UINT max) {
    if (!buffer || max == 0) return nullptr;
    UINT n = 0;
    bool any = false;
    while (n + 1 < max) {
        int lo = GetByte();
        if (lo < 0) break;
        any = true;
        int hi = GetByte();
        if (hi < 0) break;  // an odd last byte is no character
        wchar_t unit = static_cast<wchar_t>(lo | (hi << 8));
        buffer[n++] = unit;
        if (unit == L'\n') break;
    }
    buffer[n] = 0;
    return any ? buffer : nullptr;
}

BOOL CStdioFile::ReadString(CString& line) {
    line.clear();
    std::u16string units;
    bool any = false;
    for (;;) {
        int lo = GetByte();
        if (lo < 0) break;
        any = true;
        int hi = GetByte();
        if (hi < 0) break;
        char16_t unit = static_cast<char16_t>(lo | (hi << 8));
        if (unit == u'\n') break;
        units.push_back(unit);
    }
    line = Utf16ToWide(units);
    return any ? 1 : 0;
}

void CStdioFile::WriteString(const wchar_t* text) {
    std::u16string units = WideToUtf16(text ? text : L"");
    std::string bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t u : units) {
        bytes.push_back(static_cast<char>(u & 0xFF));
        bytes.push_back(static_cast<char>(u >> 8));
    }
    Write(bytes.data(), static_cast<UINT>(bytes.size()));
}

ULONGLONG CStdioFile::Seek(LONGLONG offset, UINT from) {
    if (m_fd.Get() < 0) {
        RecordError(EBADF);
        return static_cast<ULONGLONG>(-1);
    }
    int whence = from == current ? SEEK_CUR : from == end ? SEEK_END : SEEK_SET;
    if (whence == SEEK_CUR) offset -= static_cast<LONGLONG>(m_bufLen - m_bufPos);
    DropReadBuffer();
    off_t pos = ::lseek(m_fd.Get(), static_cast<off_t>(offset), whence);
    if (pos < 0) {
        m_lastError.SetFromErrno(errno, m_strFileName);
        m_lastError.m_cause = CFileException::badSeek;
        return static_cast<ULONGLONG>(-1);
    }
    return static_cast<ULONGLONG>(pos);
}

ULONGLONG CStdioFile::GetPosition() const {
    if (m_fd.Get() < 0) return 0;
    off_t pos = ::lseek(m_fd.Get(), 0, SEEK_CUR);
    if (pos < 0) return 0;
    return static_cast<ULONGLONG>(pos) - (m_bufLen - m_bufPos);
}

ULONGLONG CStdioFile::GetLength() const {
    struct stat st {};
    if (m_fd.Get() < 0 || ::fstat(m_fd.Get(), &st) != 0) return 0;
    return static_cast<ULONGLONG>(st.st_size);
}

}  // namespace zentra
