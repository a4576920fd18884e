#include "fdio.h"
#include "zentra/codepage.h"
#include "zentra/console.h"

namespace zentra {

void COutput::Write(const CString& text) {
    if (!m_bEnable || text.empty()) return;
    const std::string bytes = WideToMultiByte(text, CP_ACP);
    // A failed console write is deliberately ignored: the next print tries again, and the
    // transcript still receives the text.
    detail::WriteAll(m_fd, bytes.data(), bytes.size());
    if (m_pSpool) m_pSpool->WriteLog(text.c_str());
}

void COutput::WriteMessage(CString text) {
    if (text.empty()) return;
    text += L"\r\n\r\n";
    Write(text);
}

}  // namespace zentra
