#include <algorithm>
#include <cstring>

#include "zentra/codepage.h"
#include "zentra/textfile.h"

namespace zentra {

namespace {

// The converter's number for a code page: 0xFFFFFFFF and 0 both mean the ANSI code page.
int Page(UINT codePage) { return codePage == CStdioFileEx::kAnsiCodePage ? CP_ACP : static_cast<int>(codePage); }

bool IsUtf8(UINT codePage) {
    int page = Page(codePage);
    return page == CP_UTF8 || (page == CP_ACP && GetACP() == CP_UTF8);
}

// Wide text to bytes in the code page; characters the code page lacks become `filler`.
std::string Encode(std::wstring_view text, UINT codePage, char filler) {
    if (IsUtf8(codePage)) return WideToUtf8(text);
    std::string bytes = WideToMultiByte(text, Page(codePage));
    if (filler == '?') return bytes;
    // The converter marks what it can't represent with '?': when there are more of those than the
    // text has, find them one character at a time.
    size_t marks = static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '?'));
    size_t own = static_cast<size_t>(std::count(text.begin(), text.end(), L'?'));
    if (marks == own) return bytes;
    std::string out;
    out.reserve(bytes.size());
    for (wchar_t ch : text) {
        if (ch == L'?') {
            out.push_back('?');
            continue;
        }
        std::string one = WideToMultiByte(std::wstring_view(&ch, 1), Page(codePage));
        if (one == "?" || one.empty()) out.push_back(filler);
        else out += one;
    }
    return out;
}

std::wstring Decode(std::string_view bytes, UINT codePage) {
    if (IsUtf8(codePage)) return Utf8ToWide(bytes);
    return MultiByteToWide(bytes, Page(codePage));
}

}  // namespace

CStdioFileEx::CStdioFileEx() = default;

CStdioFileEx::CStdioFileEx(const wchar_t* path, UINT flags) { Open(path, flags, nullptr); }

UINT CStdioFileEx::ProcessFlags(UINT& flags) {
    flags &= ~static_cast<UINT>(typeText);
    flags |= typeBinary;
    m_nFlags = flags;
    return flags;
}

BOOL CStdioFileEx::Open(const wchar_t* path, UINT flags, CFileException* error) {
    m_bIsUnicodeText = (flags & typeUnicode) != 0;
    ProcessFlags(flags);
    if (!CStdioFile::Open(path, flags, error)) return 0;
    if (!(flags & modeCreate) && !(flags & modeWrite)) {
        unsigned char mark[2] = {0, 0};
        // A file too short for a mark keeps the form the caller asked for.
        if (Read(mark, 2) == 2) m_bIsUnicodeText = mark[0] == 0xFF && mark[1] == 0xFE;
        Seek(0, begin);
    }
    m_bAtStart = true;
    return 1;
}

BOOL CStdioFileEx::ReadString(CString& line) {
    line.clear();
    if (!IsOpen()) return 0;
    if (m_bAtStart && GetPosition() == 0) {
        // Skip a byte-order mark, but only one that is really there.
        unsigned char mark[3] = {0, 0, 0};
        if (m_bIsUnicodeText) {
            if (!(Read(mark, 2) == 2 && mark[0] == 0xFF && mark[1] == 0xFE)) Seek(0, begin);
        } else if (IsUtf8(m_nFileCodePage)) {
            if (!(Read(mark, 3) == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF)) Seek(0, begin);
        }
        m_bAtStart = true;  // Seek set it; the flag falls after the first line
    }

    bool any = false;
    m_bLineTooLong = false;
    if (m_bIsUnicodeText) {
        std::u16string units;
        for (;;) {
            int lo = GetByte();
            if (lo < 0) break;
            any = true;
            int hi = GetByte();
            if (hi < 0) break;  // an odd last byte is no character
            char16_t unit = static_cast<char16_t>(lo | (hi << 8));
            if (unit == u'\n') break;
            if (m_nMaxLine > 0 && units.size() * 2 >= m_nMaxLine) {
                m_bLineTooLong = true;
                continue;
            }
            units.push_back(unit);
        }
        if (!m_bLineTooLong) line = Utf16ToWide(units);
    } else {
        std::string bytes;
        for (;;) {
            int b = GetByte();
            if (b < 0) break;
            any = true;
            if (b == '\n') break;
            if (m_nMaxLine > 0 && bytes.size() >= m_nMaxLine) {
                m_bLineTooLong = true;
                continue;
            }
            bytes.push_back(static_cast<char>(b));
        }
        if (!m_bLineTooLong) line = Decode(bytes, m_nFileCodePage);
    }
    if (!any) {
        line.clear();
        return 0;
    }
    if (m_bLineTooLong) line.clear();
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    m_bAtStart = false;
    return 1;
}

void CStdioFileEx::WriteString(const wchar_t* text) {
    if (!IsOpen()) return;
    std::wstring_view view = text ? std::wstring_view(text) : std::wstring_view();
    std::string bytes;
    if (m_bWriteBOM && GetPosition() == 0) {
        if (m_bIsUnicodeText) bytes = "\xFF\xFE";
        else if (m_nFileCodePage == CP_UTF8) bytes = "\xEF\xBB\xBF";
    }
    if (m_bIsUnicodeText) {
        std::u16string units = WideToUtf16(view);
        bytes.reserve(bytes.size() + units.size() * 2);
        for (char16_t u : units) {
            bytes.push_back(static_cast<char>(u & 0xFF));
            bytes.push_back(static_cast<char>(u >> 8));
        }
    } else {
        bytes += Encode(view, m_nFileCodePage, m_cFillerChar);
    }
    Write(bytes.data(), static_cast<UINT>(bytes.size()));
}

ULONGLONG CStdioFileEx::Seek(LONGLONG offset, UINT from) {
    m_bAtStart = true;
    return CStdioFile::Seek(offset, from);
}

ULONGLONG CStdioFileEx::GetCharCount() const {
    if (!IsOpen()) return 0;
    ULONGLONG length = GetLength();
    if (m_bIsUnicodeText) return length < 2 ? 0 : (length - 2) / 2;
    return length;
}

bool CStdioFileEx::IsFileUnicode(const CString& path) {
    CStdioFile file;
    if (!file.Open(path.c_str(), modeRead | typeBinary)) return false;
    unsigned char mark[2] = {0, 0};
    return file.Read(mark, 2) == 2 && mark[0] == 0xFF && mark[1] == 0xFE;
}

UINT CStdioFileEx::GetCurrentLocaleCodePage() { return static_cast<UINT>(GetACP()); }

int CStdioFileEx::GetUnicodeStringFromMultiByteString(const char* src, wchar_t* dst, UINT dstChars, UINT codePage) {
    if (!src || !dst || dstChars == 0) return 0;
    std::wstring wide = Decode(src, codePage);
    if (wide.size() + 1 > dstChars) {
        dst[0] = 0;
        return 0;
    }
    std::copy(wide.begin(), wide.end(), dst);
    dst[wide.size()] = 0;
    return static_cast<int>(wide.size());
}

int CStdioFileEx::GetRequiredUnicodeLengthFromMultiByteString(const char* src, UINT codePage) {
    if (!src) return 0;
    return static_cast<int>(Decode(src, codePage).size() + 1);
}

int CStdioFileEx::GetMultiByteStringFromUnicodeString(const wchar_t* src, char* dst, int dstBytes, UINT codePage,
                                                      char filler) {
    if (!src || !dst || dstBytes <= 0) return 0;
    std::string bytes = Encode(src, codePage, filler);
    if (bytes.size() + 1 > static_cast<size_t>(dstBytes)) {
        dst[0] = 0;
        return 0;
    }
    std::memcpy(dst, bytes.data(), bytes.size());
    dst[bytes.size()] = 0;
    return static_cast<int>(bytes.size());
}

int CStdioFileEx::GetRequiredMultiByteLengthForUnicodeString(const wchar_t* src, UINT codePage) {
    if (!src) return 0;
    return static_cast<int>(Encode(src, codePage, '?').size() + 1);
}

int CStdioFileEx::GetNewUnicodeStringFromMultiByteString(const char* src, CTemplateSmartPtrArray<wchar_t>& dst,
                                                         int dstChars, UINT codePage) {
    if (!src) return 0;
    int need = GetRequiredUnicodeLengthFromMultiByteString(src, codePage);
    if (!dst.Get() || need > dstChars) {
        dst.Assign(new wchar_t[static_cast<size_t>(need)](), true);
        dstChars = need;
    }
    return GetUnicodeStringFromMultiByteString(src, dst.Get(), static_cast<UINT>(dstChars), codePage);
}

int CStdioFileEx::GetNewMultiByteStringFromUnicodeString(const wchar_t* src, CTemplateSmartPtrArray<char>& dst,
                                                         int dstBytes, UINT codePage, char filler) {
    if (!src) return 0;
    int need = GetRequiredMultiByteLengthForUnicodeString(src, codePage);
    if (!dst.Get() || need > dstBytes) {
        dst.Assign(new char[static_cast<size_t>(need)](), true);
        dstBytes = need;
    }
    return GetMultiByteStringFromUnicodeString(src, dst.Get(), dstBytes, codePage, filler);
}

}  // namespace zentra
