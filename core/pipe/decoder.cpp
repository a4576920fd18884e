#include "zentra/codepage.h"
#include "zentra/pipe.h"

namespace zentra {

namespace {

using Byte = unsigned char;

// Double-byte code pages: lead bytes start two-byte characters (GB18030 also four-byte ones).
// Trail bytes overlap the lead range, so the text is walked from its start, which is always a
// character boundary.
size_t DoubleByteComplete(const Byte* p, size_t n, int codePage) {
    size_t i = 0;
    while (i < n) {
        const Byte b = p[i];
        size_t len = 1;
        switch (codePage) {
        case 932:  // Shift_JIS: 0xA1-0xDF are single-byte kana
            if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) len = 2;
            break;
        case 54936:  // GB18030: lead, digit, lead, digit is a four-byte character
            if (b >= 0x81 && b <= 0xFE) {
                len = 2;
                if (i + 1 < n && p[i + 1] >= 0x30 && p[i + 1] <= 0x39) len = 4;
            }
            break;
        case 51932:  // EUC-JP: SS2 + 1, SS3 + 2, else two bytes from 0xA1
            if (b == 0x8E) len = 2;
            else if (b == 0x8F) len = 3;
            else if (b >= 0xA1 && b <= 0xFE) len = 2;
            break;
        case 51949:  // EUC-KR
            if (b >= 0xA1 && b <= 0xFE) len = 2;
            break;
        default:  // 936 GBK, 949 UHC, 950 Big5
            if (b >= 0x81 && b <= 0xFE) len = 2;
            break;
        }
        if (i + len > n) return i;
        i += len;
    }
    return n;
}

}  // namespace

size_t CStreamDecoder::CompleteLength(std::string_view bytes, int codePage) {
    if (codePage == CP_ACP || codePage == -1) codePage = GetACP();
    const auto* p = reinterpret_cast<const Byte*>(bytes.data());
    const size_t n = bytes.size();
    switch (codePage) {
    case CP_UTF8: return Utf8CompleteLength(bytes);
    case 932:
    case 936:
    case 949:
    case 950:
    case 54936:
    case 51932:
    case 51949: return DoubleByteComplete(p, n, codePage);
    default:  // single-byte code pages
        return n;
    }
}

CString CStreamDecoder::Decode(std::string_view bytes) {
    m_pending.append(bytes.data(), bytes.size());
    // The converter itself tells where the last whole character ends: a guess from the lead
    // bytes goes wrong after an invalid byte, where the characters start elsewhere. A letter that
    // a combining mark in the next piece may join stays too, so that the text comes out as one
    // conversion of all the bytes would give it.
    size_t complete = 0;
    CString text = MultiByteToWideComplete(m_pending, m_codePage, complete);
    // Never hold back more than a character can be long: such bytes are not text anyway.
    if (m_pending.size() - complete > 3) {
        text = MultiByteToWide(m_pending, m_codePage);
        complete = m_pending.size();
    }
    m_pending.erase(0, complete);
    return text;
}

CString CStreamDecoder::Flush() {
    CString text = MultiByteToWide(m_pending, m_codePage);
    m_pending.clear();
    return text;
}

}  // namespace zentra
