// Text files and dual 8-bit/wide strings.
//
// CStdioFileEx reads a text file line by line whether it is UTF-16 little-endian with a byte-order
// mark or 8-bit text in a code page, and writes lines in either form. CChar holds one text in an
// 8-bit code page and as wide text, making each form from the other on demand. All conversions go
// through the code-page converter of codepage.h.
//
// Nothing here throws. Where a file error would raise an exception, the file object records it
// (GetLastException) and the operation reports failure: Open and the opening constructor leave the
// file closed, ReadString returns false, WriteString writes nothing more.
#pragma once

#include <cstdint>
#include <string>

#include "zentra/text.h"
#include "zentra/unique_fd.h"

namespace zentra {

using BOOL = int;
using UINT = unsigned int;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;

// A file error: its cause, the system's error number and the file's name.
class CFileException {
public:
    enum {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14,
    };

    int m_cause = none;
    int m_lOsError = 0;  // errno
    CString m_strFileName;

    // Fills the cause from a system error number.
    void SetFromErrno(int error, const CString& fileName);
    void Clear() { *this = CFileException(); }
    // A sentence for the user, e.g. "/tmp/x.sql was not found."
    CString GetErrorMessage() const;
};

// An unbuffered-write, buffered-read file. Opened untranslated: no line-end conversion happens.
class CStdioFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
    };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

    CStdioFile() = default;
    virtual ~CStdioFile();
    CStdioFile(const CStdioFile&) = delete;
    CStdioFile& operator=(const CStdioFile&) = delete;

    // modeCreate creates the file (mode 0666 less the umask) and empties it unless
    // modeNoTruncate is given. Share flags are accepted and have no effect.
    virtual BOOL Open(const wchar_t* path, UINT flags, CFileException* error = nullptr);
    virtual void Close();
    bool IsOpen() const { return m_fd.Get() >= 0; }

    // Raw bytes. Read returns the number read (0 at the end or on error).
    UINT Read(void* buffer, UINT count);
    // Writes all bytes; false (and the error recorded) when that fails.
    bool Write(const void* buffer, UINT count);

    // UTF-16 little-endian code units, one per wide character, without conversion: up to max-1
    // units, stopping after a line feed (kept); the buffer is terminated. Null at the end.
    virtual wchar_t* ReadString(wchar_t* buffer, UINT max);
    // Reads UTF-16 units up to a line feed (not kept); false at the end.
    virtual BOOL ReadString(CString& line);
    // Writes the text's UTF-16 code units.
    virtual void WriteString(const wchar_t* text);

    // The new position, or (ULONGLONG)-1 on failure.
    virtual ULONGLONG Seek(LONGLONG offset, UINT from);
    ULONGLONG SeekToBegin() { return Seek(0, begin); }
    ULONGLONG GetPosition() const;
    ULONGLONG GetLength() const;
    CString GetFilePath() const { return m_strFileName; }

    // The last error of an operation on this file; cause `none` when there was none.
    const CFileException& GetLastException() const { return m_lastError; }

protected:
    // Fills the read buffer; false at the end of the file or on error.
    bool Fill();
    // Next byte, or -1 at the end of the file.
    int GetByte() {
        if (m_bufPos < m_bufLen || Fill()) return static_cast<unsigned char>(m_buffer[m_bufPos++]);
        return -1;
    }
    void DropReadBuffer();
    void RecordError(int error);

    UniqueFd m_fd;
    CString m_strFileName;
    CFileException m_lastError;
    std::string m_buffer;  // bytes read ahead
    size_t m_bufPos = 0;
    size_t m_bufLen = 0;
};

// A pointer to a character buffer that the holder may own (array delete).
template <class T>
class CTemplateSmartPtrArray {
public:
    explicit CTemplateSmartPtrArray(T* buffer = nullptr, bool owned = false) : m_pBuffer(buffer), m_bOwned(owned) {}
    virtual ~CTemplateSmartPtrArray() {
        if (m_bOwned) delete[] m_pBuffer;
    }
    CTemplateSmartPtrArray(const CTemplateSmartPtrArray&) = delete;
    CTemplateSmartPtrArray& operator=(const CTemplateSmartPtrArray&) = delete;

    void Assign(T* buffer, bool owned) {
        if (m_bOwned && buffer != m_pBuffer) delete[] m_pBuffer;
        m_pBuffer = buffer;
        m_bOwned = owned;
    }
    T* Get() const { return m_pBuffer; }
    operator T*() const { return m_pBuffer; }  // NOLINT(google-explicit-constructor)
    bool IsOwned() const { return m_bOwned; }

private:
    T* m_pBuffer;
    bool m_bOwned;
};

class CStdioFileEx : public CStdioFile {
public:
    // Write the file as UTF-16 (a flag of this class beside the base class's flags).
    static constexpr UINT typeUnicode = 0x200000;
    static constexpr UINT kAnsiCodePage = 0xFFFFFFFF;

    CStdioFileEx();
    // Opens as Open does; on failure the file stays closed and GetLastException tells why.
    CStdioFileEx(const wchar_t* path, UINT flags);

    BOOL Open(const wchar_t* path, UINT flags, CFileException* error = nullptr) override;
    // One line without its line end (LF or CR LF); false at the end of the file, with `line`
    // emptied. A byte-order mark at the start of the file is skipped.
    BOOL ReadString(CString& line) override;
    wchar_t* ReadString(wchar_t* buffer, UINT max) override { return CStdioFile::ReadString(buffer, max); }
    // Writes the text as it is (callers add "\r\n"), UTF-16LE or in the code page; at position 0
    // first a byte-order mark when that is enabled (FF FE for UTF-16, EF BB BF when the code page
    // was set to 65001).
    void WriteString(const wchar_t* text) override;
    ULONGLONG Seek(LONGLONG offset, UINT from) override;

    bool IsFileUnicodeText() const { return m_bIsUnicodeText; }
    // Characters in the file: for UTF-16, the code units after the mark; else the bytes.
    ULONGLONG GetCharCount() const;

    void SetCodePage(UINT codePage) { m_nFileCodePage = codePage; }
    void SetFillerChar(char filler) { m_cFillerChar = filler; }
    void SetWriteBOM(bool write) { m_bWriteBOM = write; }
    // The longest line ReadString keeps, in bytes of the file (0, the default: no limit). The
    // rest of a longer line is skipped up to its line end: ReadString then returns the line
    // empty and LineTooLong() is true until the next read.
    void SetMaxLineLength(size_t bytes) { m_nMaxLine = bytes; }
    bool LineTooLong() const { return m_bLineTooLong; }

    static bool IsFileUnicode(const CString& path);
    // The code page of the user's locale (65001 for UTF-8); 0 when it has no number.
    static UINT GetCurrentLocaleCodePage();

    // Conversion helpers; a code page of 0xFFFFFFFF is the ANSI code page. Lengths count wide
    // characters and bytes. They return 0 for null arguments and too small buffers.
    static int GetUnicodeStringFromMultiByteString(const char* src, wchar_t* dst, UINT dstChars, UINT codePage);
    static int GetRequiredUnicodeLengthFromMultiByteString(const char* src, UINT codePage);
    // Characters the code page lacks become `filler` (UTF-8 lacks none).
    static int GetMultiByteStringFromUnicodeString(const wchar_t* src, char* dst, int dstBytes, UINT codePage,
                                                   char filler = '#');
    static int GetRequiredMultiByteLengthForUnicodeString(const wchar_t* src, UINT codePage);
    // As above, into the holder's buffer of `dstChars` / `dstBytes`, or into a new owned buffer of
    // the needed size when that one is too small.
    static int GetNewUnicodeStringFromMultiByteString(const char* src, CTemplateSmartPtrArray<wchar_t>& dst,
                                                      int dstChars, UINT codePage);
    static int GetNewMultiByteStringFromUnicodeString(const wchar_t* src, CTemplateSmartPtrArray<char>& dst,
                                                      int dstBytes, UINT codePage, char filler = '#');

protected:
    // Drops typeText, adds typeBinary; returns the flags to open with.
    UINT ProcessFlags(UINT& flags);

    bool m_bIsUnicodeText = false;
    UINT m_nFlags = 0;
    UINT m_nFileCodePage = kAnsiCodePage;
    char m_cFillerChar = '#';
    bool m_bWriteBOM = true;
    bool m_bAtStart = true;
    size_t m_nMaxLine = 0;
    bool m_bLineTooLong = false;
};

// One text in two forms: 8-bit in a code page (0: the ANSI code page) and wide.
class CChar {
public:
    explicit CChar(UINT codePage = 0) : m_nCodePage(codePage) {}
    // Copies `length` elements; 0 or less means up to the terminator.
    CChar(const char* text, long length, UINT codePage);
    CChar(const wchar_t* text, long length, UINT codePage);
    virtual ~CChar() = default;
    CChar(const CChar&) = default;
    CChar& operator=(const CChar&) = default;
    CChar(CChar&&) noexcept = default;
    CChar& operator=(CChar&&) noexcept = default;

    // Replace the text: both forms are dropped and the given one kept.
    void SetData(const char* text, long length = 0);
    void SetData(const wchar_t* text, long length = 0);
    CChar& operator=(const char* text) {
        SetData(text);
        return *this;
    }
    CChar& operator=(const wchar_t* text) {
        SetData(text);
        return *this;
    }

    // The form asked for, made from the other when missing; null for an empty text.
    operator const char*() const;     // NOLINT(google-explicit-constructor)
    operator const wchar_t*() const;  // NOLINT(google-explicit-constructor)
    long GetAnsiLength() const;
    long GetUnicodeLength() const;

    UINT GetCodePage() const { return m_nCodePage; }
    // Sets the code page without converting.
    void SetCodePage(UINT codePage) { m_nCodePage = codePage; }
    // Re-encodes the 8-bit form in another code page.
    void ConvertTo(UINT codePage);

private:
    void MakeWide() const;
    void MakeAnsi() const;

    UINT m_nCodePage = 0;
    mutable std::string m_ansi;
    mutable bool m_hasAnsi = false;
    mutable std::wstring m_wide;
    mutable bool m_hasWide = false;
};

}  // namespace zentra
