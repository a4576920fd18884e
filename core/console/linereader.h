// Line reading from a file descriptor through a buffer of our own. All reading of console input
// goes through ReadLine, and all waiting for bytes through Fill, which polls the input beside a
// wake-up pipe: keys injected from other threads (InjectKey, Interrupt) are read as input.
//
// On a terminal (input and output both terminals) an edited read goes through libedit: arrow
// keys, line editing and history recall. The prompt that was written to the output just before
// the read (the text after the last line break, see detail::LineTail) is handed to libedit, which
// draws it over the written one and draws it again whenever it redraws the line. Everywhere else
// (a pipe, a file, hidden entry) the bytes are read as they come.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "zentra/console.h"
#include "zentra/unique_fd.h"

namespace zentra {

class CSQLBuffer;
class CLineEditor;

class CLineReader {
public:
    // Reads from `fd`; `outFd` is the terminal an edited read draws on (-1: never edit).
    explicit CLineReader(int fd, int outFd = -1);
    ~CLineReader();
    CLineReader(const CLineReader&) = delete;
    CLineReader& operator=(const CLineReader&) = delete;

    int GetFd() const { return m_fd; }

    // One line without its "\n" and without a "\r" before it, of any length. A last line that
    // the input ends without a line break is returned as a line. Returns false when the input
    // has ended (or failed) and nothing was left; `line` is then empty. With `edit`, a read that
    // has to wait for a new line on a terminal lets the user edit it with libedit.
    bool ReadLine(std::string& line, bool edit = false);

    // The longest line kept, in bytes (0: no limit). A longer line is skipped up to its line
    // break and returned empty, with LineTooLong() true until the next read.
    void SetMaxLine(size_t bytes) { m_maxLine = bytes; }
    bool LineTooLong() const { return m_tooLong; }

    // Queues a key press as input (any thread): see CInput::InjectKey for the keys.
    void InjectKey(int virtualKey);
    // Ends the pending read, or the next one, like an Enter key; a line being edited on the
    // terminal is dropped, so that the read returns an empty line (any thread).
    void Interrupt();

    // The entries that history recall offers in edited reads (not owned; null: the lines read).
    void SetHistory(const CSQLBuffer* history) { m_history = history; }
    // What a Tab completes in edited reads (empty: a Tab is inserted).
    void SetCompletion(CompletionSource source);
    // Switches the terminal `fd` out of bracketed paste (async-signal-safe).
    static void EndBracketedPaste(int fd);

    // The character an injected virtual key stands for; 0 for a key that is ignored.
    static char KeyChar(int virtualKey);

private:
    // Reads what is available into the buffer: the number of bytes added, 0 at the end of the
    // input or on a read error.
    size_t Fill(bool edit);
    size_t FillEdited();
    // Appends queued injected keys to the buffer; the number of bytes added.
    size_t TakeInjected();
    void Post(char token);

    int m_fd;
    int m_outFd;
    UniqueFd m_wake[2];  // read and write end of the wake-up pipe
    std::string m_buffer;
    size_t m_pos = 0;  // first byte of m_buffer not yet returned
    const CSQLBuffer* m_history = nullptr;
    CompletionSource m_completion;
    std::unique_ptr<CLineEditor> m_editor;
    bool m_editorTried = false;
    size_t m_maxLine = 0;
    bool m_tooLong = false;
};

}  // namespace zentra
