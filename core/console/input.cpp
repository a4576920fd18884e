#include <termios.h>
#include <unistd.h>

#include <mutex>
#include <optional>

#include "fdio.h"
#include "linereader.h"
#include "zentra/codepage.h"
#include "zentra/console.h"
#include "zentra/text.h"

namespace zentra {

namespace {

// The terminal settings from before the read in progress, for RestoreTerminal.
std::mutex g_terminalMutex;
int g_terminalFd = -1;
struct termios g_terminalSaved {};

// Notes the terminal settings of `fd` for the lifetime of the object (a read in progress).
class ReadInProgress {
public:
    explicit ReadInProgress(int fd) {
        if (!isatty(fd)) return;
        std::lock_guard<std::mutex> lock(g_terminalMutex);
        if (g_terminalFd >= 0 || tcgetattr(fd, &g_terminalSaved) != 0) return;
        g_terminalFd = fd;
        m_noted = true;
    }
    ~ReadInProgress() {
        if (!m_noted) return;
        std::lock_guard<std::mutex> lock(g_terminalMutex);
        g_terminalFd = -1;
    }
    ReadInProgress(const ReadInProgress&) = delete;
    ReadInProgress& operator=(const ReadInProgress&) = delete;

private:
    bool m_noted = false;
};

// Echo off for the lifetime of the object, only when `fd` is a terminal; the previous terminal
// settings are restored, whatever else they held.
class EchoOff {
public:
    explicit EchoOff(int fd) : m_fd(fd) {
        if (!isatty(fd) || tcgetattr(fd, &m_saved) != 0) return;
        struct termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        m_active = tcsetattr(fd, TCSANOW, &quiet) == 0;
    }
    ~EchoOff() {
        if (m_active) tcsetattr(m_fd, TCSANOW, &m_saved);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int m_fd;
    struct termios m_saved {};
    bool m_active = false;
};

void WriteText(int fd, const CString& text) {
    const std::string bytes = WideToMultiByte(text, CP_ACP);
    detail::WriteAll(fd, bytes.data(), bytes.size());
}

}  // namespace

CInput::CInput(CSpoolFile* spool) : CInput(spool, STDIN_FILENO, STDOUT_FILENO) {}

CInput::CInput(CSpoolFile* spool, int inFd, int outFd)
    : m_pSpool(spool), m_reader(std::make_shared<CLineReader>(inFd, outFd)), m_outFd(outFd) {
    m_reader->SetMaxLine(kMaxInputLine);
}

CInput::~CInput() = default;
CInput::CInput(const CInput&) = default;
CInput& CInput::operator=(const CInput&) = default;

CString CInput::Prompt(const wchar_t* text, int hidden) {
    // Buffered output comes before the prompt.
    COutput::FlushAll();
    // For hidden entry the echo goes off before the prompt shows, so that nothing typed in
    // answer to it can be echoed.
    std::optional<EchoOff> quiet;
    if (hidden) quiet.emplace(m_reader->GetFd());
    const CString shown = text ? text : L"";
    if (!shown.empty()) {
        WriteText(m_outFd, shown);
        if (m_pSpool) m_pSpool->WriteLog(shown.c_str());
    }
    return GetString(hidden);
}

CString CInput::Prompt(unsigned id, int hidden) {
    const CString text = LoadString(id);
    return Prompt(text.c_str(), hidden);
}

CString CInput::GetString(int hidden) {
    // Everything printed so far is shown before the input is awaited.
    COutput::FlushAll();
    std::string bytes;
    bool got;
    {
        ReadInProgress reading(m_reader->GetFd());
        if (hidden) {
            {
                EchoOff quiet(m_reader->GetFd());
                got = m_reader->ReadLine(bytes, false);
            }
            // The Enter key was not echoed.
            WriteText(m_outFd, L"\r\n");
        } else {
            got = m_reader->ReadLine(bytes, true);
        }
    }
    m_bEof = got ? 0 : 1;
    m_bTooLong = m_reader->LineTooLong() ? 1 : 0;
    if (!got) return CString();
    CString result = MultiByteToWide(bytes, CP_ACP);
    // Hidden entry too: the transcript holds the prompt, the text entered and a line break.
    if (m_pSpool) {
        // Control characters typed or piped in are logged as escapes, as the screen shows data.
        CString logged = result;
        EscapeControls(logged);
        m_pSpool->WriteLog((logged + L"\r\n").c_str());
    }
    return result;
}

void CInput::WaitForChar(int) {
    COutput::FlushAll();
    std::string discarded;
    ReadInProgress reading(m_reader->GetFd());
    EchoOff quiet(m_reader->GetFd());
    m_bEof = m_reader->ReadLine(discarded, false) ? 0 : 1;
}

void CInput::InjectKey(int virtualKey) { m_reader->InjectKey(virtualKey); }

void CInput::Interrupt() { m_reader->Interrupt(); }

void CInput::SetHistory(const CSQLBuffer* history) { m_reader->SetHistory(history); }

void CInput::SetCompletion(CompletionSource source) { m_reader->SetCompletion(std::move(source)); }

void CInput::RestoreTerminal() {
    std::lock_guard<std::mutex> lock(g_terminalMutex);
    if (g_terminalFd < 0) return;
    tcsetattr(g_terminalFd, TCSANOW, &g_terminalSaved);
    // Bracketed paste, switched on by an edited read, goes off again.
    CLineReader::EndBracketedPaste(g_terminalFd);
}

}  // namespace zentra
