#include <algorithm>
#include <ctime>
#include <mutex>
#include <vector>

#include "fdio.h"
#include "zentra/codepage.h"
#include "zentra/console.h"
#include "zentra/text.h"
#include "zentra/tick.h"

namespace zentra {

namespace {

// Longest time pending text waits for its write, and most text kept pending.
constexpr std::uint32_t kFlushIntervalMs = 50;
constexpr size_t kMaxPending = 64 * 1024;

// The outputs that have buffering on, so that input can flush them before it waits.
std::mutex g_bufferedMutex;
std::vector<COutput*> g_buffered;

void Register(COutput* output) {
    std::lock_guard<std::mutex> lock(g_bufferedMutex);
    g_buffered.push_back(output);
}

void Unregister(COutput* output) {
    std::lock_guard<std::mutex> lock(g_bufferedMutex);
    g_buffered.erase(std::remove(g_buffered.begin(), g_buffered.end(), output), g_buffered.end());
}

// Milliseconds of the system's coarse monotonic clock (a few ms of resolution, far finer than the
// flush interval): read on every buffered write, where the precise clock costs a system call on
// some machines.
std::uint32_t CoarseTicks() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
}

}  // namespace

COutput::COutput(const COutput& other) : m_pSpool(other.m_pSpool), m_bEnable(other.m_bEnable), m_fd(other.m_fd) {}

COutput& COutput::operator=(const COutput& other) {
    if (this == &other) return *this;
    Flush();
    m_pSpool = other.m_pSpool;
    m_bEnable = other.m_bEnable;
    m_fd = other.m_fd;
    return *this;
}

COutput::~COutput() {
    try {
        Flush();
    } catch (...) {
        // Out of memory while converting the last text: nothing sensible is left to do.
    }
    if (m_nBufferDepth > 0) Unregister(this);
}

void COutput::BeginBuffer() {
    if (m_nBufferDepth++ == 0) {
        m_dwLastFlush = CoarseTicks();
        Register(this);
    }
}

void COutput::EndBuffer() {
    if (m_nBufferDepth <= 0) return;
    if (--m_nBufferDepth == 0) {
        Unregister(this);
        Flush();
    }
}

void COutput::Flush() {
    m_dwLastFlush = CoarseTicks();
    if (m_pending.empty()) return;
    CString text;
    text.swap(m_pending);
    WriteNow(text);
    // Keep the storage for the next piece, within reason.
    text.clear();
    if (text.capacity() <= 2 * kMaxPending) m_pending.swap(text);
}

void COutput::FlushAll() {
    std::lock_guard<std::mutex> lock(g_bufferedMutex);
    for (COutput* output : g_buffered) output->Flush();
}

void COutput::Write(std::wstring_view text) {
    if (!m_bEnable || text.empty()) return;
    if (m_nBufferDepth > 0) {
        m_pending += text;
        if (m_pending.size() >= kMaxPending ||
            static_cast<std::uint32_t>(CoarseTicks() - m_dwLastFlush) >= kFlushIntervalMs)
            Flush();
        return;
    }
    WriteNow(text);
}

void COutput::WriteNow(std::wstring_view text) {
    const std::string bytes = WideToMultiByte(text, CP_ACP);
    // A failed console write is deliberately ignored: the next print tries again, and the
    // transcript still receives the text.
    detail::WriteAll(m_fd, bytes.data(), bytes.size());
    if (!m_pSpool) return;
    // The transcript takes the same bytes, up to a NUL should the text hold one (the end of a
    // text for the transcript).
    m_pSpool->WriteBytes(std::string_view(bytes).substr(0, bytes.find('\0')));
}

void COutput::WriteMessage(CString text) {
    if (text.empty()) return;
    // Messages carry driver error texts and echoes of the input: data never drives the terminal.
    EscapeControls(text);
    text += L"\r\n\r\n";
    Write(text);
}

}  // namespace zentra
