#include <cstring>

#include "zentra/codepage.h"
#include "zentra/textfile.h"

namespace zentra {

CChar::CChar(const char* text, long length, UINT codePage) : m_nCodePage(codePage) { SetData(text, length); }

CChar::CChar(const wchar_t* text, long length, UINT codePage) : m_nCodePage(codePage) { SetData(text, length); }

void CChar::SetData(const char* text, long length) {
    m_ansi.clear();
    m_wide.clear();
    m_hasAnsi = m_hasWide = false;
    if (!text) return;
    size_t n = length > 0 ? static_cast<size_t>(length) : std::strlen(text);
    if (n == 0) return;
    m_ansi.assign(text, n);
    m_hasAnsi = true;
}

void CChar::SetData(const wchar_t* text, long length) {
    m_ansi.clear();
    m_wide.clear();
    m_hasAnsi = m_hasWide = false;
    if (!text) return;
    size_t n = length > 0 ? static_cast<size_t>(length) : std::wcslen(text);
    if (n == 0) return;
    m_wide.assign(text, n);
    m_hasWide = true;
}

void CChar::MakeWide() const {
    if (m_hasWide || !m_hasAnsi) return;
    m_wide = MultiByteToWide(m_ansi, static_cast<int>(m_nCodePage));
    m_hasWide = !m_wide.empty();
}

void CChar::MakeAnsi() const {
    if (m_hasAnsi || !m_hasWide) return;
    m_ansi = WideToMultiByte(m_wide, static_cast<int>(m_nCodePage));
    m_hasAnsi = !m_ansi.empty();
}

CChar::operator const char*() const {
    MakeAnsi();
    return m_hasAnsi ? m_ansi.c_str() : nullptr;
}

CChar::operator const wchar_t*() const {
    MakeWide();
    return m_hasWide ? m_wide.c_str() : nullptr;
}

long CChar::GetAnsiLength() const {
    MakeAnsi();
    return m_hasAnsi ? static_cast<long>(m_ansi.size()) : 0;
}

long CChar::GetUnicodeLength() const {
    MakeWide();
    return m_hasWide ? static_cast<long>(m_wide.size()) : 0;
}

void CChar::ConvertTo(UINT codePage) {
    if (codePage == m_nCodePage || (m_nCodePage == 0 && codePage == static_cast<UINT>(GetACP()))) return;
    if (m_hasWide) {
        m_nCodePage = codePage;
        m_hasAnsi = false;
        m_ansi.clear();
        MakeAnsi();
    } else if (m_hasAnsi) {
        MakeWide();
        m_nCodePage = codePage;
        m_hasAnsi = false;
        m_ansi.clear();
        MakeAnsi();
    } else {
        m_nCodePage = codePage;
    }
}

}  // namespace zentra
