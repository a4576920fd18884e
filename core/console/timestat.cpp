#include "zentra/console.h"
#include "zentra/tick.h"

namespace zentra {

CTimeStat::CTimeStat(int start) {
    if (start) Start();
}

void CTimeStat::Start() {
    m_dwStart = GetTickCount();
    m_bStarted = true;
}

CString CTimeStat::GetTotalTime() const {
    if (!m_bStarted) return CString();
    // Unsigned difference: right across one wrap of the 32-bit counter.
    return FormatElapsed(static_cast<std::uint32_t>(GetTickCount() - m_dwStart));
}

CString CTimeStat::FormatElapsed(std::uint32_t elapsedMs) {
    return Format(L"%ld.%03d", static_cast<long>(elapsedMs / 1000u), static_cast<int>(elapsedMs % 1000u));
}

}  // namespace zentra
