#include "linereader.h"

#include <fcntl.h>
#include <histedit.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <cwctype>

#include "fdio.h"
#include "zentra/codepage.h"
#include "zentra/history.h"

namespace zentra {

namespace {

constexpr size_t kChunk = 4096;
// Queued in the wake-up pipe by Interrupt; never the character of an injected key.
constexpr char kInterrupt = '\x03';

// Bracketed paste: switched on and off, and the markers the terminal puts around pasted text
// (after the Escape that starts them).
constexpr char kPasteOn[] = "\x1b[?2004h";
constexpr char kPasteOff[] = "\x1b[?2004l";
constexpr char kPasteStart[] = "[200~";
constexpr char kPasteEnd[] = "[201~";
// How long the rest of a marker may take to arrive after its Escape, in milliseconds.
constexpr int kMarkerWaitMs = 100;

// Writes a terminal control sequence (async-signal-safe; not part of any line shown).
void WriteControl(int fd, const char* text, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        size -= static_cast<size_t>(n);
    }
}

// The longest start that all `words` share, compared without regard to case; its characters are
// those of the first word.
CString CommonStart(const CStringArray& words) {
    if (words.empty()) return CString();
    size_t n = words[0].size();
    for (const CString& w : words) {
        size_t i = 0;
        while (i < n && i < w.size() && std::towlower(w[i]) == std::towlower(words[0][i])) ++i;
        n = i;
    }
    return words[0].substr(0, n);
}

// Waits until `fd` or the wake-up pipe `wake` can be read: 1 the input, 2 the wake-up pipe,
// 0 when polling failed. The input wins when both are ready: what had already arrived is read
// before a key injected after it.
int WaitForInput(int fd, int wake) {
    for (;;) {
        struct pollfd p[2] = {{wake, POLLIN, 0}, {fd, POLLIN, 0}};
        const int n = poll(wake >= 0 ? p : p + 1, wake >= 0 ? 2 : 1, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        // End of input and errors are for read to report.
        if (p[1].revents) return 1;
        if (wake < 0) return 1;
        if (p[0].revents & POLLIN) return 2;
    }
}

}  // namespace

// libedit on a terminal: one EditLine and its history for the life of the reader.
class CLineEditor {
public:
    static std::unique_ptr<CLineEditor> Create(int inFd, int outFd, int wakeFd, const CompletionSource* source) {
        std::unique_ptr<CLineEditor> editor(new CLineEditor(inFd, outFd, wakeFd, source));
        return editor->Init(inFd, outFd) ? std::move(editor) : nullptr;
    }

    ~CLineEditor() {
        if (m_el) el_end(m_el);
        if (m_history) history_wend(m_history);
        for (FILE* f : {m_in, m_out, m_err})
            if (f) fclose(f);
    }
    CLineEditor(const CLineEditor&) = delete;
    CLineEditor& operator=(const CLineEditor&) = delete;

    // One edited line, converted to the ANSI code page, with its "\n" (none at the end of the
    // input). False at the end of the input with nothing typed. An interrupted line gives "\n".
    bool Read(const std::wstring& prompt, const CSQLBuffer* history, std::string& bytes) {
        m_prompt = prompt;
        m_interrupted = false;
        m_state = std::mbstate_t{};
        LoadHistory(history);
        el_resize(m_el);
        int count = 0;
        const wchar_t* text = el_wgets(m_el, &count);
        WriteControl(m_outFd, kPasteOff, sizeof kPasteOff - 1);
        if (m_interrupted) {
            bytes = "\n";
            return true;
        }
        if (!text || count <= 0) return false;
        std::wstring line(text, static_cast<size_t>(count));
        if (!history) {
            std::wstring entry = line;
            while (!entry.empty() && (entry.back() == L'\n' || entry.back() == L'\r')) entry.pop_back();
            HistEventW event;
            if (!entry.empty()) history_w(m_history, &event, H_ENTER, entry.c_str());
        }
        bytes = WideToMultiByte(line, CP_ACP);
        return true;
    }

private:
    CLineEditor(int inFd, int outFd, int wakeFd, const CompletionSource* source)
        : m_inFd(inFd), m_outFd(outFd), m_wakeFd(wakeFd), m_source(source) {}

    bool Init(int inFd, int outFd) {
        // Streams of our own over duplicates, so that closing them leaves the descriptors alone.
        const int in = fcntl(inFd, F_DUPFD_CLOEXEC, 0);
        const int out = fcntl(outFd, F_DUPFD_CLOEXEC, 0);
        const int err = fcntl(outFd, F_DUPFD_CLOEXEC, 0);
        m_in = in >= 0 ? fdopen(in, "r") : nullptr;
        m_out = out >= 0 ? fdopen(out, "w") : nullptr;
        m_err = err >= 0 ? fdopen(err, "w") : nullptr;
        if (!m_in || !m_out || !m_err) {
            for (int fd : {in, out, err})
                if (fd >= 0 && !(m_in && fileno(m_in) == fd) && !(m_out && fileno(m_out) == fd) &&
                    !(m_err && fileno(m_err) == fd))
                    close(fd);
            return false;
        }
        m_history = history_winit();
        m_el = el_init_fd("orva", m_in, m_out, m_err, in, out, err);
        if (!m_history || !m_el) return false;
        HistEventW event;
        history_w(m_history, &event, H_SETSIZE, 100);
        el_wset(m_el, EL_CLIENTDATA, this);
        el_wset(m_el, EL_PROMPT, &CLineEditor::Prompt);
        el_wset(m_el, EL_EDITOR, L"emacs");
        el_wset(m_el, EL_HIST, history_w, m_history);
        el_wset(m_el, EL_GETCFN, &CLineEditor::GetChar);
        // Tab completes; pasted or inside a literal it is part of the text.
        el_wset(m_el, EL_ADDFN, L"orva-complete", L"Complete the word before the cursor", &CLineEditor::Tab);
        el_wset(m_el, EL_BIND, L"^I", L"orva-complete", nullptr);
        // The user's own key bindings (~/.editrc or $EDITRC).
        el_source(m_el, nullptr);
        return true;
    }

    // Offers the entries of `history`, oldest first. A statement of several lines is one entry;
    // recalled, its lines come back one after the other.
    void LoadHistory(const CSQLBuffer* history) {
        if (!history) return;
        HistEventW event;
        history_w(m_history, &event, H_CLEAR);
        const CStringArray* entries = history->GetCommandArray();
        for (const CString& entry : *entries) {
            CString line;
            for (size_t i = 0; i < entry.size(); ++i) {
                if (entry[i] == L'\r' && i + 1 < entry.size() && entry[i + 1] == L'\n') continue;
                line += entry[i];
            }
            if (!line.empty()) history_w(m_history, &event, H_ENTER, line.c_str());
        }
    }

    static wchar_t* Prompt(EditLine* el) {
        CLineEditor* self = nullptr;
        el_wget(el, EL_CLIENTDATA, &self);
        return self ? self->m_prompt.data() : const_cast<wchar_t*>(L"");
    }

    // libedit's character source: the terminal, or a key from the wake-up pipe. 1 with a
    // character, 0 at the end of the input, -1 on an error.
    static int GetChar(EditLine* el, wchar_t* ch) {
        CLineEditor* self = nullptr;
        el_wget(el, EL_CLIENTDATA, &self);
        return self ? self->Next(ch) : -1;
    }

    // The next byte of input: 1 with a terminal byte in `byte`, 2 with an injected key in `ch`,
    // 0 at the end of the input, -1 on an error. Bytes put back come first.
    int NextByte(char& byte, wchar_t* ch) {
        m_putBack = !m_pending.empty();
        if (m_putBack) {
            byte = m_pending.front();
            m_pending.erase(0, 1);
            return 1;
        }
        for (;;) {
            const int ready = WaitForInput(m_inFd, m_wakeFd);
            if (ready == 0) return -1;
            if (ready == 2) {
                char token = 0;
                const ssize_t n = read(m_wakeFd, &token, 1);
                if (n != 1) continue;
                if (token == kInterrupt) {
                    // Accept the line at once; Read drops its text.
                    m_interrupted = true;
                    token = '\n';
                }
                *ch = static_cast<unsigned char>(token);
                return 2;
            }
            const ssize_t n = read(m_inFd, &byte, 1);
            if (n == 0) return 0;
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return -1;
            }
            return 1;
        }
    }

    // After an Escape from the terminal: 1 when a paste-start marker follows, 2 for a paste-end
    // marker; otherwise 0, and the bytes read after the Escape are put back.
    int ReadPasteMarker() {
        std::string got;
        const size_t length = sizeof kPasteStart - 1;
        while (got.size() < length) {
            struct pollfd p = {m_inFd, POLLIN, 0};
            if (poll(&p, 1, kMarkerWaitMs) <= 0) break;
            char byte = 0;
            if (read(m_inFd, &byte, 1) != 1) break;
            got += byte;
            if (got.compare(0, got.size(), kPasteStart, got.size()) != 0 &&
                got.compare(0, got.size(), kPasteEnd, got.size()) != 0)
                break;
        }
        if (got == kPasteStart) return 1;
        if (got == kPasteEnd) return 2;
        m_pending.insert(0, got);
        return 0;
    }

    int Next(wchar_t* ch) {
        for (;;) {
            char byte = 0;
            const int got = NextByte(byte, ch);
            if (got == 2) {
                ++m_keys;
                return 1;
            }
            if (got != 1) return got;
            if (byte == '\x1b' && !m_putBack) {
                const int marker = ReadPasteMarker();
                if (marker != 0) {
                    m_pasting = marker == 1;
                    continue;
                }
            }
            wchar_t wc = 0;
            const size_t used = std::mbrtowc(&wc, &byte, 1, &m_state);
            if (used == static_cast<size_t>(-2)) continue;  // more bytes of this character
            if (used == static_cast<size_t>(-1)) {
                m_state = std::mbstate_t{};
                continue;  // not a character of the code page: dropped
            }
            *ch = wc;
            ++m_keys;
            return 1;
        }
    }

    static unsigned char Tab(EditLine* el, int) {
        CLineEditor* self = nullptr;
        el_wget(el, EL_CLIENTDATA, &self);
        return self ? self->Complete() : CC_ERROR;
    }

    unsigned char Complete() {
        // A second Tab is the key right after the first.
        const bool again = m_lastTab + 1 == m_keys;
        m_lastTab = m_keys;
        if (m_pasting || !m_source || !*m_source) {
            el_winsertstr(m_el, L"\t");
            return CC_REFRESH;
        }
        const LineInfoW* line = el_wline(m_el);
        const CString before(line->buffer, static_cast<size_t>(line->cursor - line->buffer));
        COMPLETION answer;
        (*m_source)(before, answer);
        if (answer.insertTab) {
            el_winsertstr(m_el, L"\t");
            return CC_REFRESH;
        }
        if (answer.candidates.empty()) return CC_REFRESH_BEEP;
        const size_t length = std::min(answer.wordLength, before.size());
        CString common = CommonStart(answer.candidates);
        if (answer.candidates.size() == 1) {
            const bool blankFollows = line->cursor < line->lastchar && std::iswspace(*line->cursor);
            if (!blankFollows && !common.empty() && common.back() != L'.') common += L' ';
        }
        if (common.size() > length) {
            el_deletestr(m_el, static_cast<int>(length));
            el_winsertstr(m_el, common.c_str());
            return CC_REFRESH;
        }
        if (!again) return CC_REFRESH_BEEP;
        List(answer.candidates);
        return CC_REDISPLAY;
    }

    // Lists `words` in columns under the line being edited.
    void List(CStringArray words) {
        std::sort(words.begin(), words.end());
        words.erase(std::unique(words.begin(), words.end()), words.end());
        size_t widest = 0;
        for (const CString& w : words) widest = std::max(widest, w.size());
        struct winsize size {};
        const size_t screen = ioctl(m_outFd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        const size_t columns = std::max<size_t>(1, screen / (widest + 2));
        const size_t rows = (words.size() + columns - 1) / columns;
        CString text = L"\r\n";
        for (size_t r = 0; r < rows; ++r) {
            for (size_t c = 0; c < columns; ++c) {
                const size_t i = c * rows + r;
                if (i >= words.size()) break;
                text += words[i];
                if ((c + 1) * rows + r < words.size()) text += CString(widest + 2 - words[i].size(), L' ');
            }
            text += L"\r\n";
        }
        fflush(m_out);
        const std::string bytes = WideToMultiByte(text, CP_ACP);
        detail::WriteAll(m_outFd, bytes.data(), bytes.size());
    }

    int m_inFd;
    int m_outFd;
    int m_wakeFd;
    const CompletionSource* m_source;
    std::string m_pending;                 // bytes read ahead and put back
    bool m_putBack = false;                // the last byte came from m_pending
    bool m_pasting = false;                // between the paste markers
    unsigned long long m_keys = 0;         // characters handed to the editor
    unsigned long long m_lastTab = ~0ull;  // the number of the last Tab
    FILE* m_in = nullptr;
    FILE* m_out = nullptr;
    FILE* m_err = nullptr;
    EditLine* m_el = nullptr;
    HistoryW* m_history = nullptr;
    std::wstring m_prompt;
    std::mbstate_t m_state{};
    bool m_interrupted = false;
};

CLineReader::CLineReader(int fd, int outFd) : m_fd(fd), m_outFd(outFd) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_wake[0].Reset(ends[0]);
        m_wake[1].Reset(ends[1]);
    }
    // What is written to the terminal from now on is the prompt an edited read shows again.
    if (m_outFd >= 0 && isatty(m_fd) && isatty(m_outFd)) detail::TrackLineTail(m_outFd);
}

CLineReader::~CLineReader() {
    m_editor.reset();  // before the pipe it waits on
}

char CLineReader::KeyChar(int virtualKey) {
    if (virtualKey == 13) return '\n';  // Enter
    if (virtualKey == 9) return '\t';   // Tab
    if (virtualKey == 32) return ' ';   // Space
    if (virtualKey >= '0' && virtualKey <= '9') return static_cast<char>(virtualKey);
    if (virtualKey >= 'A' && virtualKey <= 'Z') return static_cast<char>(virtualKey);
    if (virtualKey >= 0x60 && virtualKey <= 0x69) return static_cast<char>('0' + virtualKey - 0x60);  // keypad digits
    switch (virtualKey) {
    case 0x6A: return '*';
    case 0x6B: return '+';
    case 0x6D: return '-';
    case 0x6E: return '.';
    case 0x6F: return '/';
    default: return 0;
    }
}

void CLineReader::Post(char token) {
    if (m_wake[1].Get() < 0) return;
    // One byte is written whole or not at all; a full pipe (64 Ki keys not yet read) drops it.
    while (write(m_wake[1].Get(), &token, 1) < 0 && errno == EINTR) {
    }
}

void CLineReader::SetCompletion(CompletionSource source) { m_completion = std::move(source); }

void CLineReader::EndBracketedPaste(int fd) { WriteControl(fd, kPasteOff, sizeof kPasteOff - 1); }

void CLineReader::InjectKey(int virtualKey) {
    const char ch = KeyChar(virtualKey);
    if (ch) Post(ch);
}

void CLineReader::Interrupt() { Post(kInterrupt); }

size_t CLineReader::TakeInjected() {
    char keys[256];
    size_t added = 0;
    for (;;) {
        const ssize_t n = read(m_wake[0].Get(), keys, sizeof keys);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) m_buffer += keys[i] == kInterrupt ? '\n' : keys[i];
        added += static_cast<size_t>(n);
    }
    return added;
}

size_t CLineReader::FillEdited() {
    if (!m_editorTried) {
        m_editorTried = true;
        m_editor = CLineEditor::Create(m_fd, m_outFd, m_wake[0].Get(), &m_completion);
    }
    if (!m_editor) return Fill(false);
    // The prompt written just before is drawn by the editor over the written one.
    const std::wstring prompt = MultiByteToWide(detail::LineTail(m_outFd), CP_ACP);
    // Pasted text comes marked while the line is edited, so that a pasted Tab is inserted rather
    // than completed (switched off when the read ends).
    WriteControl(m_outFd, kPasteOn, sizeof kPasteOn - 1);
    if (!prompt.empty()) detail::WriteAll(m_outFd, "\r", 1);
    std::string bytes;
    const bool got = m_editor->Read(prompt, m_history, bytes);
    // The editor has ended its line: the cursor stands at the start of the next one.
    detail::TrackLineTail(m_outFd);
    if (!got) return 0;
    m_buffer += bytes;
    return bytes.size();
}

size_t CLineReader::Fill(bool edit) {
    if (edit && m_outFd >= 0 && isatty(m_fd) && isatty(m_outFd)) return FillEdited();
    const size_t old = m_buffer.size();
    for (;;) {
        const int ready = WaitForInput(m_fd, m_wake[0].Get());
        if (ready == 2) {
            if (const size_t added = TakeInjected()) return added;
            continue;
        }
        m_buffer.resize(old + kChunk);
        const ssize_t n = read(m_fd, m_buffer.data() + old, kChunk);
        if (n > 0) {
            m_buffer.resize(old + static_cast<size_t>(n));
            // A line typed on a terminal ends with the user's Enter.
            if (m_outFd >= 0 && m_buffer.back() == '\n' && isatty(m_fd)) detail::TrackLineTail(m_outFd);
            return static_cast<size_t>(n);
        }
        m_buffer.resize(old);
        if (n < 0 && ready != 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        return 0;
    }
}

bool CLineReader::ReadLine(std::string& line, bool edit) {
    line.clear();
    m_tooLong = false;
    bool waited = false;
    size_t searchFrom = m_pos;
    for (;;) {
        const size_t nl = m_buffer.find('\n', searchFrom);
        if (nl != std::string::npos) {
            if (!m_tooLong) line.assign(m_buffer, m_pos, nl - m_pos);
            m_pos = nl + 1;
            break;
        }
        if (m_maxLine > 0 && m_buffer.size() - m_pos > m_maxLine) {
            // Too long to hold: what has come is dropped, the rest up to the line break too.
            m_tooLong = true;
            m_buffer.clear();
            m_pos = 0;
        }
        searchFrom = m_buffer.size();
        waited = true;
        if (Fill(edit) == 0) {
            if (m_tooLong) {
                m_buffer.clear();
                m_pos = 0;
                return true;
            }
            if (m_pos == m_buffer.size()) return false;
            line.assign(m_buffer, m_pos, std::string::npos);
            m_pos = m_buffer.size();
            break;
        }
    }
    // Keep the buffer from growing with what has been handed out.
    if (m_pos == m_buffer.size()) {
        m_buffer.clear();
        m_pos = 0;
    } else if (m_pos >= kChunk * 4) {
        m_buffer.erase(0, m_pos);
        m_pos = 0;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A later line of a recalled entry of several lines was drawn by no one: it is shown after
    // the prompt written for it, as if typed.
    if (edit && !waited && m_editor && m_outFd >= 0 && isatty(m_fd) && isatty(m_outFd)) {
        detail::WriteAll(m_outFd, line.data(), line.size());
        detail::WriteAll(m_outFd, "\r\n", 2);
        detail::TrackLineTail(m_outFd);
    }
    return true;
}

}  // namespace zentra
