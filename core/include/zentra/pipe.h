// A console program run as a child process whose standard streams are pipes, and the 16-byte
// control block through which the owner sends requests (cancel, Ctrl+C, a key press) to it.
//
// The owner side is CPipe: Start runs the child in a session of its own, with its standard input
// fed by WriteData/WriteByte and its standard output and error read together by a reader thread
// that hands the text, converted from the ANSI code page, to the overridable callbacks. Every
// CPipe creates a control block of its own in POSIX shared memory (a name that holds the user id
// and is unique to the pipe, mode 0600) and passes its name to the child as "--SMN=<name>".
// The child side is CControlLink, which opens that block by name and takes the requests.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "zentra/text.h"

namespace zentra {

// The control block's layout: four 32-bit words. The owner only ever writes 1 into the three
// request words (and the key code before its flag); the child clears a request when it takes it.
// Every word is read and written as one aligned 32-bit atomic access.
struct SHARED_CONTROL_BLOCK {
    uint32_t dwCancelRequest;  // cancel the running statement
    uint32_t dwCtrlCRequest;   // raise Ctrl+C in the child
    uint32_t dwKeyPending;     // press the key in dwVirtualKey
    uint32_t dwVirtualKey;     // the virtual-key code of a key request
};
static_assert(sizeof(SHARED_CONTROL_BLOCK) == 16, "the control block is 16 bytes");

// Splits a command line into arguments the way a POSIX shell splits words, without any
// expansion: blanks (space, tab, newline) separate arguments; double quotes group text,
// blanks included, into one argument ("" is an empty argument); outside quotes a backslash
// takes the next character literally; inside quotes a backslash escapes only " \ $ ` and a
// newline and is kept before any other character; a backslash before a newline removes both.
// Single quotes are ordinary characters. An unclosed quote runs to the end of the text.
CStringArray SplitCommandLine(std::wstring_view commandLine);

// Converts byte text that arrives in pieces (from a pipe) from a code page to wide text. A
// multi-byte character cut by the end of a piece is held back and converted with the next one,
// so it is never split into two halves. Bytes that are not text in the code page convert to
// U+FFFD, as with MultiByteToWide, which does all the converting.
class CStreamDecoder {
public:
    explicit CStreamDecoder(int codePage = 0) : m_codePage(codePage) {}

    // The text of `bytes` preceded by what was held back, without a trailing incomplete
    // character (held back for the next call; at most 3 bytes).
    CString Decode(std::string_view bytes);
    // The text of the bytes still held back (the end of the stream); empties the decoder.
    CString Flush();
    size_t Pending() const { return m_pending.size(); }

    // How many leading bytes of `bytes` form complete characters in `codePage` (0 = the ANSI
    // code page); the rest is the start of a character cut off at the end.
    static size_t CompleteLength(std::string_view bytes, int codePage);

private:
    int m_codePage;
    std::string m_pending;
};

// The owner's side of one control block: creates a new block with a unique name that holds
// the user id (/orvanta-<uid>-<pid>-<serial>-<random>), mode 0600, created exclusively, and
// removes the name again when destroyed. The block stays mapped for the object's life.
class CControlBlock {
public:
    CControlBlock() = default;
    ~CControlBlock();
    CControlBlock(const CControlBlock&) = delete;
    CControlBlock& operator=(const CControlBlock&) = delete;

    // Creates the block; nonzero on success. A block made before is removed first.
    int Create();
    void Close() noexcept;
    int IsOpen() const { return m_pBlock != nullptr; }
    // The shared-memory name ("/orvanta-..."), "" when there is no block.
    CString GetName() const;

    // The requests; without a block they are dropped.
    void Disconnect();
    void Abort();
    void KeyDown(int virtualKey);

private:
    SHARED_CONTROL_BLOCK* m_pBlock = nullptr;
    std::string m_name;
};

// The child's side: opens an existing control block by the name passed with --SMN and takes
// the requests that the owner wrote. The block is unmapped when the object is destroyed.
class CControlLink {
public:
    enum Request { None = 0, CtrlC = 1, Cancel = 2, Key = 3 };

    CControlLink() = default;
    ~CControlLink();
    CControlLink(const CControlLink&) = delete;
    CControlLink& operator=(const CControlLink&) = delete;

    // Opens the block `name`; nonzero on success. Fails for a name that is not a single
    // "/name" component, for an object of another user and for an object that is not 16 bytes.
    int Open(const wchar_t* name);
    void Close() noexcept;
    int IsOpen() const { return m_pBlock != nullptr; }

    // Clears the three request words (not the key code), as the child does when it attaches.
    void ClearRequests();
    // Takes at most one request, in the order Ctrl+C, cancel, key, clearing its word. For a key
    // request `*virtualKey` (when not null) receives the stored key code.
    Request TakeRequest(int* virtualKey = nullptr);

private:
    SHARED_CONTROL_BLOCK* m_pBlock = nullptr;
};

struct PROCESS_INFORMATION {
    pid_t dwProcessId = 0;  // the running child, 0 for none
};

class CPipe {
public:
    CPipe();
    // Ends a running child (SIGKILL to its process group) and waits for the reader thread.
    // A subclass whose callbacks use its own members calls Close() in its own destructor, so
    // that no callback runs while those members are being destroyed.
    virtual ~CPipe();
    CPipe(const CPipe&) = delete;
    CPipe& operator=(const CPipe&) = delete;

    // Called on the reader thread when no output is pending (about every 100 ms while idle).
    virtual void OnIdle();
    // Called on the reader thread with each piece of the child's output, converted to wide
    // text; `text` is NUL-terminated, `length` its length in characters; valid during the call.
    virtual void OnReadData(const wchar_t* text, int length);
    // Called once on the reader thread at the end, after every byte the child wrote has been
    // delivered and the child has been reaped; IsRunning() already returns 0. The reader thread
    // touches the object no more once this returns.
    virtual void OnTerminate();

    // Ends a previous child, creates the pipes and starts the child with " --SMN=<block name>"
    // appended to `commandLine` (split as SplitCommandLine says; a program without a '/' is
    // looked for in this program's directory first, then in PATH), in a session of its own.
    // Nonzero when the child was started. Returns 0 when called from a callback other than
    // OnTerminate.
    int Start(const wchar_t* commandLine);
    // Kills the child's process group and closes the parent's end of the child's input. The
    // reader thread then delivers what is left of the output and calls OnTerminate. Does not wait.
    void Stop();
    // Stop, then waits for the reader thread to finish (OnTerminate has returned). Not to be
    // called from a callback, nor from a thread that a callback is waiting for.
    void Close() noexcept;

    // Writes the text, converted to the ANSI code page, into the child's standard input; adds
    // no line end. Blocks while the pipe is full. Nonzero on success, 0 when there is no child
    // or it no longer reads its input.
    int WriteData(CString text);
    int WriteByte(unsigned char byte);

    // Control requests through the block (also without a child: the next child clears them).
    void Disconnect();
    void Abort();
    void KeyDown(int virtualKey);

    // Nonzero from a successful Start until the reader thread has reaped the child, just
    // before OnTerminate.
    int IsRunning() const;
    PROCESS_INFORMATION GetProcessInfo() const;
    // The parent's read end (child's output) and write end (child's input); -1 for none.
    int GetReadHandle() const;
    int GetWriteHandle() const;
    // The name passed with --SMN.
    CString GetControlBlockName() const { return m_block.GetName(); }

private:
    struct Child;
    void ReaderLoop(std::shared_ptr<Child> child);
    void Deliver(CStreamDecoder& decoder, const char* data, size_t size, bool last);
    bool OnReaderThread() const;

    CControlBlock m_block;
    mutable std::mutex m_lock;       // guards m_child, the child's reaping and m_readerId
    std::shared_ptr<Child> m_child;  // the running child, null for none
    std::thread m_reader;            // the reader thread of the last child
    std::thread m_previousReader;    // one that started the next child from its OnTerminate
    std::atomic<int> m_running{0};
    std::thread::id m_readerId;
    std::atomic<bool> m_readerDone{true};  // the reader's loop has ended (OnTerminate may run)
};

}  // namespace zentra
