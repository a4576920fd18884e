#include <termios.h>
#include <unistd.h>

#include "fdio.h"
#include "linereader.h"
#include "zentra/codepage.h"
#include "zentra/console.h"

namespace zentra {

namespace {

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
    : m_pSpool(spool), m_reader(std::make_shared<CLineReader>(inFd)), m_outFd(outFd) {}

CInput::~CInput() = default;
CInput::CInput(const CInput&) = default;
CInput& CInput::operator=(const CInput&) = default;

CString CInput::Prompt(const wchar_t* text, int hidden) {
    // Buffered output comes before the prompt.
    COutput::FlushAll();
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
    if (hidden) {
        {
            EchoOff quiet(m_reader->GetFd());
            got = m_reader->ReadLine(bytes);
        }
        // The Enter key was not echoed.
        WriteText(m_outFd, L"\r\n");
    } else {
        got = m_reader->ReadLine(bytes);
    }
    m_bEof = got ? 0 : 1;
    if (!got) return CString();
    CString result = MultiByteToWide(bytes, CP_ACP);
    // Hidden entry too: the transcript holds the prompt, the text entered and a line break.
    if (m_pSpool) m_pSpool->WriteLog((result + L"\r\n").c_str());
    return result;
}

void CInput::WaitForChar(int) {
    COutput::FlushAll();
    std::string discarded;
    EchoOff quiet(m_reader->GetFd());
    m_bEof = m_reader->ReadLine(discarded) ? 0 : 1;
}

}  // namespace zentra
