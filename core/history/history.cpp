#include "zentra/history.h"

#include <algorithm>

namespace zentra {

void CSQLBuffer::SetBufferSize(int size) {
    m_nBufferSize = size;
    if (size > 0 && m_arrCommands.size() > static_cast<size_t>(size))
        m_arrCommands.erase(m_arrCommands.begin(), m_arrCommands.end() - static_cast<std::ptrdiff_t>(size));
}

void CSQLBuffer::Add(const wchar_t* text, int unique) {
    if (!text) return;
    CString entry = Trim(text);
    if (entry.empty()) return;
    if (unique) {
        const auto found = std::find(m_arrCommands.begin(), m_arrCommands.end(), entry);
        if (found != m_arrCommands.end()) m_arrCommands.erase(found);
    }
    if (m_nBufferSize > 0) {
        const size_t keep = static_cast<size_t>(m_nBufferSize) - 1;
        if (m_arrCommands.size() > keep)
            m_arrCommands.erase(m_arrCommands.begin(), m_arrCommands.end() - static_cast<std::ptrdiff_t>(keep));
    }
    m_arrCommands.push_back(std::move(entry));
    m_nCurrentIndex = GetCommandCount();
}

CString CSQLBuffer::GetCommandText(int index) {
    m_nCurrentIndex = index;
    if (index < 0 || index >= GetCommandCount()) return CString();
    return m_arrCommands[static_cast<size_t>(index)];
}

void CSQLBuffer::SetCommandArray(const CStringArray* entries) {
    if (!entries) {
        m_arrCommands.clear();
        return;
    }
    size_t count = entries->size();
    if (m_nBufferSize > 0) count = std::min(count, static_cast<size_t>(m_nBufferSize));
    // Built aside first: `entries` may be this buffer's own array.
    CStringArray loaded(entries->begin(), entries->begin() + static_cast<std::ptrdiff_t>(count));
    m_arrCommands.swap(loaded);
}

}  // namespace zentra
