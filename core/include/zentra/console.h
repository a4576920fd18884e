// Console traffic of the shell: output with a transcript copy, line input, the spool file and
// elapsed-time figures.
//
// Console output, console input and the spool file are byte streams in the ANSI code page
// (WideToMultiByte(..., CP_ACP)); everything in these interfaces is wide text. What is written to
// standard output and what goes into the spool file are the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "zentra/format.h"
#include "zentra/unique_fd.h"
#include "zentra/strtable.h"
#include "zentra/text.h"

namespace zentra {

class CLineReader;
class CSQLBuffer;

// The transcript file behind SPOOL. Opened for appending (created when missing, never truncated)
// and locked exclusively (flock) while open, so a second process cannot spool into it at once.
// Each WriteLog is one unbuffered write at the end of the file.
class CSpoolFile {
public:
    CSpoolFile();
    virtual ~CSpoolFile();
    CSpoolFile(const CSpoolFile&) = delete;
    CSpoolFile& operator=(const CSpoolFile&) = delete;

    // 1 opened, 0 failed. On a spool file that is already open: on success the previous file is
    // closed and all later writes go to the new one; on failure the previous file stays open.
    // Opening the file that is already open keeps it open and returns 1.
    int Open(const wchar_t* path);
    virtual void Close();
    int IsOpen() const { return m_fd.Get() >= 0; }
    // The file's name without its directory; "" when not open.
    CString GetFileName() const;
    // 1 written (or a null/empty text: nothing to write), 0 not open or the write failed.
    int WriteLog(const wchar_t* text);
    int WriteLog(const CString& text) { return WriteLog(text.c_str()); }
    // The same for text already converted to the code page.
    int WriteBytes(std::string_view bytes);
    // A write that fails (a full disk, an I/O error) closes the file: what follows would only
    // leave a transcript with holes. The failure is kept until taken: 1 with the file's path and
    // the system's reason, once; 0 when no write failed since the last call.
    int TakeWriteError(CString& path, CString& reason);

private:
    UniqueFd m_fd;  // open and locked while spooling
    CString m_path;
    int m_nWriteError = 0;
    CString m_failedPath;
};

// Every message, result line and error of the shell. Each print that produces text writes it to
// standard output at once and copies it into the spool file when one is attached and open;
// between BeginBuffer and the matching EndBuffer (or over the life of a COutputBuffer) the text is
// collected instead and written in larger pieces: once 50 ms have passed since the last write, when
// 64 Ki characters are pending, at Flush, at the outermost EndBuffer, before any CInput prompts or
// reads, and when the object is destroyed. The console and the spool file receive the same bytes
// either way; only the grouping into writes differs. A failed console write (a closed pipe) is ignored and never stops
// later output; SIGPIPE is neither raised to the process nor left pending.
//
// The format forms follow zentra::Format ("%s" takes a wide string). The id forms load the format
// from the program's string table (an unknown id gives an empty format). No line break is added
// by Print; PrintMessage and PrintError append "\r\n\r\n" (one empty line). Empty text writes
// nothing at all.
class COutput {
public:
    explicit COutput(CSpoolFile* spool = nullptr) : m_pSpool(spool) {}
    // Writes to `fd` instead of standard output (the descriptor is not owned).
    COutput(CSpoolFile* spool, int fd) : m_pSpool(spool), m_fd(fd) {}
    // Writes what is still pending.
    virtual ~COutput();
    // A copy shares the spool file, descriptor and enabled flag; it starts unbuffered with nothing
    // pending. Assigning first writes what the target has pending, to its old destination.
    COutput(const COutput& other);
    COutput& operator=(const COutput& other);

    // Buffering; the calls nest, the outermost EndBuffer writes what is pending.
    void BeginBuffer();
    void EndBuffer();
    int IsBuffering() const { return m_nBufferDepth > 0; }
    // Writes pending text to the console and the spool file now.
    void Flush();
    // Flushes every COutput that has buffering on (CInput calls it before it prompts or reads).
    static void FlushAll();

    void Enable(int enable) { m_bEnable = enable ? 1 : 0; }
    int IsEnable() const { return m_bEnable; }

    template <class... Args>
    void Print(const wchar_t* format, const Args&... args) {
        if (m_bEnable) Write(Format(format ? format : L"", args...));
    }
    template <class... Args>
    void Print(const CString& format, const Args&... args) {
        if (m_bEnable) Write(Format(format, args...));
    }
    template <class... Args>
    void Print(unsigned id, const Args&... args) {
        if (m_bEnable) Write(Format(LoadString(id), args...));
    }

    template <class... Args>
    void PrintMessage(const wchar_t* format, const Args&... args) {
        if (m_bEnable) WriteMessage(Format(format ? format : L"", args...));
    }
    template <class... Args>
    void PrintMessage(const CString& format, const Args&... args) {
        if (m_bEnable) WriteMessage(Format(format, args...));
    }
    template <class... Args>
    void PrintMessage(unsigned id, const Args&... args) {
        if (m_bEnable) WriteMessage(Format(LoadString(id), args...));
    }

    // Same bytes as PrintMessage, on standard output; no prefix, no sound.
    template <class... Args>
    void PrintError(const wchar_t* format, const Args&... args) {
        PrintMessage(format, args...);
    }
    template <class... Args>
    void PrintError(const CString& format, const Args&... args) {
        PrintMessage(format, args...);
    }
    template <class... Args>
    void PrintError(unsigned id, const Args&... args) {
        PrintMessage(id, args...);
    }

    CSpoolFile* GetSpoolFile() const { return m_pSpool; }
    int GetFd() const { return m_fd; }

    // Writes text as is (no formatting): nothing when disabled or for empty text, else the console
    // and then the spool file.
    void Write(std::wstring_view text);

private:
    void WriteMessage(CString text);
    void WriteNow(std::wstring_view text);

    CSpoolFile* m_pSpool = nullptr;
    int m_bEnable = 1;
    int m_fd = 1;
    int m_nBufferDepth = 0;
    std::uint32_t m_dwLastFlush = 0;
    CString m_pending;
};

// Buffers an output for the lifetime of the guard (COutput::BeginBuffer / EndBuffer).
class COutputBuffer {
public:
    explicit COutputBuffer(COutput& output) : m_output(output) { m_output.BeginBuffer(); }
    ~COutputBuffer() { m_output.EndBuffer(); }
    COutputBuffer(const COutputBuffer&) = delete;
    COutputBuffer& operator=(const COutputBuffer&) = delete;

private:
    COutput& m_output;
};

// Prompts and line input. Lines are read from standard input through the reader's own buffer;
// a line is returned whole whatever its length, without its line break and without a trailing
// carriage return. After each GetString/Prompt/WaitForChar, IsEof() tells whether the input had
// ended with no line left to return (the text returned is then empty). The input keeps no end
// flag of its own: a later call reads again.
//
// Hidden entry switches the terminal's echo off (only when the input is a terminal), restores it
// after the line and writes "\r\n" since the Enter key was not echoed.
//
// Copies share the input buffer, as they share the spool file. Create one CInput (and copies of
// it) per input descriptor: separate ones would each buffer part of the input.
//
// Prompt, GetString and WaitForChar first write what buffered outputs hold (COutput::FlushAll).
//
// When the input and the output are both terminals, GetString(0) lets the user edit the line with
// libedit: arrow keys, the usual emacs-style keys (or the bindings of ~/.editrc) and recall of
// the entries of the history set with SetHistory (a statement of several lines is recalled as one
// entry and its lines are read one after the other). The prompt is whatever was written to the
// output since the last line break (COutput prints it before the read); the editor draws that
// same text as its prompt, so redraws show it. Hidden entry and WaitForChar never use libedit;
// neither does input from a pipe or a file, which is read byte for byte as it comes.
//
// Tab in an edited read asks the completion source set with SetCompletion: the word before the
// cursor is completed as far as its candidates agree, a second Tab in a row lists them, a Tab
// with no candidate inserts nothing, and one the source calls text is inserted. Without a source
// a Tab is inserted. Bracketed paste is on while an edited read waits: pasted text (Tabs
// included) is inserted as it comes and never completed.
//
// Keys can be injected from any thread (InjectKey, Interrupt): they are read as input through a
// wake-up pipe that every read polls beside the input, and they queue when no read is waiting.
// The longest input line and statement the shell holds, in bytes; longer ones are refused.
constexpr std::size_t kMaxInputLine = 32u << 20;

// The answer of a completion source to a Tab.
struct COMPLETION {
    int insertTab = 0;           // 1: the Tab is text here (inside a literal) and is inserted
    std::size_t wordLength = 0;  // characters before the cursor that a candidate replaces
    CStringArray candidates;     // whole replacements for those characters
};
// Called with the text of the line before the cursor.
using CompletionSource = std::function<void(const CString& beforeCursor, COMPLETION& result)>;

class CInput {
public:
    explicit CInput(CSpoolFile* spool = nullptr);
    // Reads from `inFd` and writes prompts to `outFd` (neither descriptor is owned).
    CInput(CSpoolFile* spool, int inFd, int outFd);
    virtual ~CInput();
    CInput(const CInput&);
    CInput& operator=(const CInput&);

    CString Prompt(const wchar_t* text, int hidden);
    CString Prompt(unsigned id, int hidden);
    CString GetString(int hidden);
    // Waits for the Enter key (whatever `ch`): one line is read without echo and discarded.
    void WaitForChar(int ch);

    int IsEof() const { return m_bEof; }
    // 1 when the last line read was longer than kMaxInputLine bytes: its bytes were skipped up
    // to its line break and GetString returned an empty text.
    int IsLineTooLong() const { return m_bTooLong; }

    // Presses a key as input (any thread). Virtual key 13 (Enter) ends the line: a pending read
    // returns what was typed so far, or an empty line. Keys with a character of their own are
    // read as that character: 'A'..'Z' as the capital letter, '0'..'9', the keypad digits and
    // * + - . / (0x60..0x6F), Space (32) and Tab (9). Other keys (arrows, function and shift
    // keys, Escape, Backspace, ...) are ignored.
    void InjectKey(int virtualKey);
    // Ends the pending read, or the next one, with an empty line (any thread): like Enter, but
    // a line being edited on a terminal is dropped, as the terminal drops typed input at Ctrl+C.
    void Interrupt();
    // The entries that history recall offers in edited reads (not owned; it must live as long
    // as reads use it). Without one, the lines read so far are offered.
    void SetHistory(const CSQLBuffer* history);
    // What a Tab in an edited read completes (empty: a Tab is inserted).
    void SetCompletion(CompletionSource source);
    // Puts back the terminal settings that a read in progress changed (echo off, libedit's
    // mode); for a process that ends while a read waits. Any thread.
    static void RestoreTerminal();

private:
    CSpoolFile* m_pSpool = nullptr;
    std::shared_ptr<CLineReader> m_reader;
    int m_outFd = 1;
    int m_bEof = 0;
    int m_bTooLong = 0;
};

// Elapsed wall-clock time on the millisecond tick counter.
class CTimeStat {
public:
    explicit CTimeStat(int start = 0);
    virtual ~CTimeStat() = default;
    CTimeStat(const CTimeStat&) = default;
    CTimeStat& operator=(const CTimeStat&) = default;

    void Start();
    void Reset() { Start(); }
    // Seconds and milliseconds since the start as "%ld.%03d" ("1.500"); "" when not started.
    CString GetTotalTime() const;
    // The text GetTotalTime gives for `elapsedMs` milliseconds.
    static CString FormatElapsed(std::uint32_t elapsedMs);

private:
    // A separate flag rather than a reserved tick value: the counter can read 0xFFFFFFFF.
    std::uint32_t m_dwStart = 0xFFFFFFFFu;
    bool m_bStarted = false;
};

}  // namespace zentra
