// Line input with injected keys (the wake-up pipe) and, on a pseudo-terminal, libedit's editing,
// history recall, prompt redraw and interrupted lines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "zentra/console.h"
#include "zentra/history.h"

namespace {

using zentra::CInput;
using zentra::COutput;
using zentra::CString;

// A pipe whose ends are closed with the object.
struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe(fd), 0); }
    ~Pipe() {
        for (int f : fd)
            if (f >= 0) close(f);
    }
    void Write(const std::string& bytes) {
        ASSERT_EQ(write(fd[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void CloseWrite() {
        close(fd[1]);
        fd[1] = -1;
    }
};

TEST(LineInputInject, KeysAreReadAsTheirCharacters) {
    Pipe in;
    Pipe out;
    CInput input(nullptr, in.fd[0], out.fd[1]);
    // Letters, digits, keypad keys, Space; keys without a character (Left 0x25, Shift 0x10,
    // F1 0x70, Escape 0x1B, Backspace 0x08) are ignored; Enter ends the line.
    for (int key : {int('S'), 0x25, int('Q'), 0x10, int('L'), 32, int('4'), 0x62, 0x70, 0x6B, 0x1B, 0x6A, 0x6D, 0x6E,
                    0x6F, 0x08, 13})
        input.InjectKey(key);
    EXPECT_EQ(input.GetString(0), L"SQL 42+*-./");
    EXPECT_EQ(input.IsEof(), 0);
}

TEST(LineInputInject, EnterEndsAPendingReadFromAnotherThread) {
    Pipe in;
    Pipe out;
    CInput input(nullptr, in.fd[0], out.fd[1]);
    // Nothing arrives on the input: only the injected Enter can end this read.
    auto reading = std::async(std::launch::async, [&] { return input.GetString(0); });
    std::thread([&] { input.InjectKey(13); }).join();
    EXPECT_EQ(reading.get(), L"");
    EXPECT_EQ(input.IsEof(), 0);

    // Bytes that came through the input without a line break are ended by an injected Enter.
    in.Write("select 1");
    reading = std::async(std::launch::async, [&] { return input.GetString(0); });
    std::thread([&] { input.InjectKey(13); }).join();
    EXPECT_EQ(reading.get(), L"select 1");

    // Injected keys queue while no read waits, in order with each other; input lines keep theirs.
    input.InjectKey('A');
    input.InjectKey(13);
    input.InjectKey(13);
    EXPECT_EQ(input.GetString(0), L"A");
    EXPECT_EQ(input.GetString(0), L"");
    in.Write("from pipe\n");
    EXPECT_EQ(input.GetString(0), L"from pipe");

    // The end of the input is still reported after keys were injected.
    in.CloseWrite();
    EXPECT_EQ(input.GetString(0), L"");
    EXPECT_EQ(input.IsEof(), 1);
}

TEST(LineInputInject, InterruptEndsWaitsAndHiddenReads) {
    Pipe in;
    Pipe out;
    CInput input(nullptr, in.fd[0], out.fd[1]);
    auto waiting = std::async(std::launch::async, [&] { input.WaitForChar(13); });
    input.Interrupt();
    waiting.get();
    EXPECT_EQ(input.IsEof(), 0);

    auto hidden = std::async(std::launch::async, [&] { return input.Prompt(L"Password: ", 1); });
    input.Interrupt();
    EXPECT_EQ(hidden.get(), L"");
    EXPECT_EQ(input.IsEof(), 0);
    char shown[64] = {};
    ASSERT_GT(read(out.fd[0], shown, sizeof shown - 1), 0);
    EXPECT_STREQ(shown, "Password: \r\n");

    // Copies share the reader: a key injected through a copy ends the original's read.
    CInput copy(input);
    copy.InjectKey('Z');
    copy.InjectKey(13);
    EXPECT_EQ(input.GetString(0), L"Z");
}

// A pseudo-terminal that a CInput reads from and writes to, as orva does in a terminal window.
class LineInputTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        const char* locale = setlocale(LC_ALL, nullptr);
        m_locale = locale ? locale : "C";
        setlocale(LC_ALL, "C.UTF-8");
        setenv("TERM", "xterm", 1);
        setenv("EDITRC", "/nonexistent", 1);
        struct winsize size = {24, 100, 0, 0};
        ASSERT_EQ(openpty(&m_master, &m_slave, nullptr, nullptr, &size), 0);
        m_input = std::make_unique<CInput>(nullptr, m_slave, m_slave);
        m_output = std::make_unique<COutput>(nullptr, m_slave);
    }
    void TearDown() override {
        m_input.reset();
        close(m_master);
        close(m_slave);
        setlocale(LC_ALL, m_locale.c_str());
    }

    void Type(const std::string& bytes) {
        ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads the terminal until `text` shows (safety limit only).
    bool Seen(const std::string& text) {
        for (int i = 0; i < 200 && m_screen.find(text) == std::string::npos; ++i) {
            struct pollfd p = {m_master, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[1024];
            ssize_t n = read(m_master, buffer, sizeof buffer);
            if (n > 0) m_screen.append(buffer, static_cast<size_t>(n));
        }
        return m_screen.find(text) != std::string::npos;
    }
    std::future<CString> ReadLine() {
        return std::async(std::launch::async, [this] { return m_input->GetString(0); });
    }
    // Shows the prompt and starts an edited read; returns once the editor has drawn its prompt,
    // so that what is typed next goes to the editor, not to the terminal's own line mode.
    std::future<CString> PromptAndRead() {
        m_screen.clear();
        m_output->Print(L"SQL> ");
        auto line = ReadLine();
        // Bracketed paste goes on, and the editor draws the prompt over the written one.
        EXPECT_TRUE(Seen("SQL> \x1b[?2004h\rSQL> ")) << m_screen;
        m_screen.clear();
        return line;
    }

    int m_master = -1;
    int m_slave = -1;
    std::string m_locale;
    std::string m_screen;
    std::unique_ptr<CInput> m_input;
    std::unique_ptr<COutput> m_output;
};

TEST_F(LineInputTerminal, EditingKeysAndThePromptOnRedraw) {
    // The editor draws the written prompt again as its own.
    auto line = PromptAndRead();
    Type("abc\x1b[D\x1b[DX");
    ASSERT_TRUE(Seen("X")) << m_screen;
    // Ctrl+L clears the screen and redraws the line, prompt first.
    m_screen.clear();
    Type("\x0c");
    ASSERT_TRUE(Seen("SQL> aXbc")) << m_screen;
    Type("\r");
    EXPECT_EQ(line.get(), L"aXbc");
    EXPECT_EQ(m_input->IsEof(), 0);
}

TEST_F(LineInputTerminal, HistoryRecallOffersTheBufferEntries) {
    zentra::CSQLBuffer history(20);
    history.Add(L"select 1;", 1);
    history.Add(L"select a,\r\n  b from t;", 1);
    m_input->SetHistory(&history);

    auto line = PromptAndRead();
    // Up twice: the older entry.
    Type("\x1b[A\x1b[A\r");
    EXPECT_EQ(line.get(), L"select 1;");

    // A statement of two lines comes back as its two lines.
    line = PromptAndRead();
    Type("\x1b[A\r");
    EXPECT_EQ(line.get(), L"select a,");
    EXPECT_EQ(m_input->GetString(0), L"  b from t;");

    // An entry added to the buffer is offered by the next read.
    history.Add(L"select 3;", 1);
    line = PromptAndRead();
    Type("\x10\r");  // Ctrl+P
    EXPECT_EQ(line.get(), L"select 3;");
}

TEST_F(LineInputTerminal, InterruptDropsTheLineBeingEdited) {
    // Keys go in once the line editor has the terminal (its own mode, not line by line), so none
    // is taken by the terminal's line discipline first.
    auto waitEditing = [this] {
        for (int i = 0; i < 2000; ++i) {
            struct termios mode {};
            if (tcgetattr(m_slave, &mode) == 0 && !(mode.c_lflag & ICANON)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    };
    auto line = PromptAndRead();
    ASSERT_TRUE(waitEditing());
    Type("select 1 fr");
    ASSERT_TRUE(Seen("select 1 fr")) << m_screen;
    m_input->Interrupt();
    EXPECT_EQ(line.get(), L"");
    EXPECT_EQ(m_input->IsEof(), 0);

    // An injected Enter keeps what was typed; injected letters are inserted as typed.
    line = PromptAndRead();
    ASSERT_TRUE(waitEditing());
    Type("sel");
    ASSERT_TRUE(Seen("sel")) << m_screen;
    m_input->InjectKey('E');
    m_input->InjectKey(13);
    EXPECT_EQ(line.get(), L"selE");

    // Ctrl+D on an empty line is the end of the input.
    line = PromptAndRead();
    ASSERT_TRUE(waitEditing());
    Type("\x04");
    EXPECT_EQ(line.get(), L"");
    EXPECT_EQ(m_input->IsEof(), 1);
}

TEST_F(LineInputTerminal, HiddenEntryIsNotEchoedNorEditedAndEchoComesBack) {
    struct termios before {};
    ASSERT_EQ(tcgetattr(m_slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ECHO);
    auto line = std::async(std::launch::async, [this] { return m_input->Prompt(L"Password: ", 1); });
    ASSERT_TRUE(Seen("Password: ")) << m_screen;
    // Typing starts once echo is off (the prompt is written just before); an echo would show.
    for (int i = 0; i < 1000; ++i) {
        struct termios mode {};
        if (tcgetattr(m_slave, &mode) == 0 && !(mode.c_lflag & ECHO)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Type("se\x1b[Dcret\r");
    EXPECT_EQ(line.get(), L"se\x1b[Dcret");
    ASSERT_TRUE(Seen("\r\n")) << m_screen;
    EXPECT_EQ(m_screen.find("cret"), std::string::npos) << m_screen;
    struct termios after {};
    ASSERT_EQ(tcgetattr(m_slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag) << "the terminal's modes were not restored";
}

}  // namespace
