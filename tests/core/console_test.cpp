#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "tempdir.h"
#include "zentra/codepage.h"
#include "zentra/console.h"
#include "zentra/strtable.h"

using namespace zentra;

namespace {

// A pipe whose ends close with the object.
struct Pipe {
    int rd = -1;
    int wr = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) == 0) {
            rd = fds[0];
            wr = fds[1];
        }
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    void CloseRead() {
        if (rd >= 0) close(rd);
        rd = -1;
    }
    void CloseWrite() {
        if (wr >= 0) close(wr);
        wr = -1;
    }
    // Everything written so far, without waiting for more.
    std::string Drain() const {
        fcntl(rd, F_SETFL, fcntl(rd, F_GETFL) | O_NONBLOCK);
        std::string out;
        char buf[4096];
        for (;;) {
            const ssize_t n = read(rd, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }
    void Feed(const std::string& bytes) const {
        ASSERT_EQ(write(wr, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
};

using testdb::TempDir;

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

constexpr unsigned kIdGreeting = 90101;
constexpr unsigned kIdPercent = 90102;
constexpr unsigned kIdUnknown = 90199;

void RegisterTestStrings() {
    static const StringTableEntry kStrings[] = {
        {kIdGreeting, L"Hello %s, %d rows\r\n"},
        {kIdPercent, L"%s"},
    };
    RegisterStringTable(kStrings, std::size(kStrings));
}

}  // namespace

TEST(ConsoleStringTable, LookUpReplaceAndUnknown) {
    static const StringTableEntry kFirst[] = {{90001, L"one"}, {90002, nullptr}};
    RegisterStringTable(kFirst, std::size(kFirst));
    EXPECT_EQ(LoadString(90001), L"one");
    EXPECT_EQ(LoadString(90002), L"");
    EXPECT_EQ(LoadString(90009), L"");  // never registered
    static const StringTableEntry kSecond[] = {{90001, L"uno"}, {90003, L"tres"}};
    RegisterStringTable(kSecond, std::size(kSecond));
    EXPECT_EQ(LoadString(90001), L"uno");
    EXPECT_EQ(LoadString(90003), L"tres");
    RegisterStringTable(nullptr, 5);  // ignored
    EXPECT_EQ(LoadString(90003), L"tres");
}

TEST(ConsoleOutput, ConsoleAndSpoolGetIdenticalBytes) {
    RegisterTestStrings();
    TempDir dir;
    CSpoolFile spool;
    ASSERT_EQ(spool.Open((dir.path() / "t.log").wstring().c_str()), 1);
    Pipe out;
    COutput output(&spool, out.wr);

    output.Print(L"a %s b %d\r\n", L"x", 5);
    output.Print(kIdGreeting, L"Zoë", 3);
    output.Print(CString(L"%s|"), CString(L"Straße"));
    output.PrintMessage(L"%s", L"50% done %d");
    output.PrintError(L"%s", L"50% done %d");
    output.PrintMessage(kIdPercent, L"100%");
    output.PrintError(kIdPercent, L"100%");
    output.Write(L"raw %d\r\n");

    const CString expected =
        L"a x b 5\r\nHello Zoë, 3 rows\r\nStraße|"
        L"50% done %d\r\n\r\n50% done %d\r\n\r\n100%\r\n\r\n100%\r\n\r\nraw %d\r\n";
    const std::string console = out.Drain();
    EXPECT_EQ(console, WideToMultiByte(expected, CP_ACP));
    EXPECT_EQ(MultiByteToWide(console, CP_ACP), expected);
    EXPECT_EQ(ReadFile(dir.path() / "t.log"), console);
}

TEST(ConsoleOutput, EmptyTextAndDisabledOutputWriteNothing) {
    RegisterTestStrings();
    TempDir dir;
    CSpoolFile spool;
    ASSERT_EQ(spool.Open((dir.path() / "e.log").wstring().c_str()), 1);
    Pipe out;
    COutput output(&spool, out.wr);
    EXPECT_EQ(output.IsEnable(), 1);

    output.Print(L"");
    output.Print(L"%s", L"");
    output.Print(static_cast<const wchar_t*>(nullptr));
    output.Print(kIdUnknown, 1, L"x");
    output.PrintMessage(L"%s", L"");
    output.PrintMessage(kIdUnknown);
    output.PrintError(L"");
    output.PrintError(kIdPercent, L"");
    output.Write(L"");
    EXPECT_EQ(out.Drain(), "");
    EXPECT_EQ(ReadFile(dir.path() / "e.log"), "");

    output.Enable(0);
    EXPECT_EQ(output.IsEnable(), 0);
    output.Print(L"a");
    output.Print(kIdGreeting, L"b", 1);
    output.PrintMessage(L"c");
    output.PrintMessage(kIdPercent, L"d");
    output.PrintError(L"e");
    output.PrintError(kIdPercent, L"f");
    output.Write(L"g");
    EXPECT_EQ(out.Drain(), "");
    EXPECT_EQ(ReadFile(dir.path() / "e.log"), "");

    output.Enable(7);
    EXPECT_EQ(output.IsEnable(), 1);
    output.Print(L"on");
    EXPECT_EQ(out.Drain(), "on");
    EXPECT_EQ(ReadFile(dir.path() / "e.log"), "on");
}

TEST(ConsoleOutput, ClosedPipeNeitherKillsNorSilencesLaterOutput) {
    TempDir dir;
    CSpoolFile spool;
    ASSERT_EQ(spool.Open((dir.path() / "p.log").wstring().c_str()), 1);
    Pipe first;
    const int fd = dup(first.wr);
    ASSERT_GE(fd, 0);
    first.CloseRead();
    first.CloseWrite();

    // SIGPIPE keeps its default action (which would end this process).
    struct sigaction current {};
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &current), 0);
    ASSERT_EQ(current.sa_handler, SIG_DFL);

    COutput output(&spool, fd);
    output.Print(L"lost %d\r\n", 1);
    output.PrintMessage(L"lost too");

    sigset_t pending;
    sigemptyset(&pending);
    ASSERT_EQ(sigpending(&pending), 0);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "a SIGPIPE was left pending";

    // The same descriptor now leads to a reader again: output resumes.
    Pipe second;
    ASSERT_GE(dup2(second.wr, fd), 0);
    output.Print(L"back\r\n");
    EXPECT_EQ(second.Drain(), "back\r\n");
    close(fd);
    // The transcript received everything, including what the console lost.
    EXPECT_EQ(ReadFile(dir.path() / "p.log"), "lost 1\r\nlost too\r\n\r\nback\r\n");
}

TEST(ConsoleSpool, AppendsCreatesAndReportsWrites) {
    TempDir dir;
    const auto existing = dir.path() / "old.txt";
    WriteFile(existing, "before\n");

    CSpoolFile spool;
    EXPECT_EQ(spool.IsOpen(), 0);
    EXPECT_EQ(spool.WriteLog(L"x"), 0);  // not open
    EXPECT_EQ(spool.GetFileName(), L"");

    ASSERT_EQ(spool.Open(existing.wstring().c_str()), 1);
    EXPECT_EQ(spool.IsOpen(), 1);
    EXPECT_EQ(spool.GetFileName(), L"old.txt");
    EXPECT_EQ(spool.WriteLog(static_cast<const wchar_t*>(nullptr)), 1);
    EXPECT_EQ(spool.WriteLog(L""), 1);
    EXPECT_EQ(spool.WriteLog(L"after é"), 1);
    EXPECT_EQ(ReadFile(existing), "before\n" + WideToMultiByte(L"after é", CP_ACP));

    // Another opener is kept out while the transcript is open.
    CSpoolFile rival;
    EXPECT_EQ(rival.Open(existing.wstring().c_str()), 0);
    EXPECT_EQ(rival.IsOpen(), 0);

    // Opening the same file again keeps spooling into it.
    EXPECT_EQ(spool.Open(existing.wstring().c_str()), 1);
    EXPECT_EQ(spool.WriteLog(L"!"), 1);

    // A new name: later writes go to the new file, which is created.
    const auto created = dir.path() / "new.txt";
    ASSERT_FALSE(std::filesystem::exists(created));
    ASSERT_EQ(spool.Open(created.wstring().c_str()), 1);
    EXPECT_EQ(spool.GetFileName(), L"new.txt");
    EXPECT_EQ(spool.WriteLog(L"fresh"), 1);
    EXPECT_EQ(ReadFile(created), "fresh");
    EXPECT_EQ(ReadFile(existing), "before\n" + WideToMultiByte(L"after é!", CP_ACP));
    // ... and the old one has been released.
    EXPECT_EQ(rival.Open(existing.wstring().c_str()), 1);
    rival.Close();

    // A failed open keeps the current transcript.
    EXPECT_EQ(spool.Open((dir.path() / "no/such/dir/x.txt").wstring().c_str()), 0);
    EXPECT_EQ(spool.Open(L""), 0);
    EXPECT_EQ(spool.IsOpen(), 1);
    EXPECT_EQ(spool.WriteLog(L"+"), 1);
    EXPECT_EQ(ReadFile(created), "fresh+");

    spool.Close();
    EXPECT_EQ(spool.IsOpen(), 0);
    EXPECT_EQ(spool.GetFileName(), L"");
    EXPECT_EQ(spool.WriteLog(L"late"), 0);
    spool.Close();  // closing twice is harmless
    EXPECT_EQ(ReadFile(created), "fresh+");
}

TEST(ConsoleSpool, WriteFailureClosesTheFileAndIsToldOnce) {
    // /dev/full accepts the open and fails every write as a full disk does.
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
    CSpoolFile spool;
    CString path, reason;
    ASSERT_EQ(spool.Open(L"/dev/full"), 1);
    EXPECT_EQ(spool.TakeWriteError(path, reason), 0);
    EXPECT_EQ(spool.WriteLog(L"x"), 0);
    EXPECT_EQ(spool.IsOpen(), 0);  // a transcript with holes is worse than one that stops
    EXPECT_EQ(spool.WriteLog(L"y"), 0);
    ASSERT_EQ(spool.TakeWriteError(path, reason), 1);
    EXPECT_EQ(path, L"/dev/full");
    EXPECT_EQ(reason, MultiByteToWide(std::strerror(ENOSPC), CP_ACP));
    EXPECT_EQ(spool.TakeWriteError(path, reason), 0);  // once
}

TEST(ConsoleInput, LinesOfAnyLengthCarriageReturnsAndEndOfInput) {
    Pipe in;
    Pipe out;
    CInput input(nullptr, in.rd, out.wr);
    // Longer than one read of the input buffer, so the line is put together from two reads.
    const std::string longLine(5000, 'x');
    in.Feed("first\r\n" + longLine + "\n\n\r\nlast without break");
    in.CloseWrite();

    // Each line and the end-of-input flag after it; empty lines are lines, not the end.
    for (const std::string& expected :
         std::vector<std::string>{"first|0", longLine + "|0", "|0", "|0", "last without break|0", "|1", "|1"}) {
        const CString line = input.GetString(0);
        EXPECT_EQ(WideToUtf8(line) + "|" + std::to_string(input.IsEof()), expected);
    }
    EXPECT_EQ(out.Drain(), "");  // plain reads write nothing
}

TEST(ConsoleInput, PromptAndHiddenEntryGoToConsoleAndTranscript) {
    RegisterTestStrings();
    TempDir dir;
    CSpoolFile spool;
    ASSERT_EQ(spool.Open((dir.path() / "in.log").wstring().c_str()), 1);
    Pipe in;
    Pipe out;
    CInput input(&spool, in.rd, out.wr);
    in.Feed("scott\r\ntiger\r\nignored typing\nmore\n");
    in.CloseWrite();

    EXPECT_EQ(input.Prompt(L"User: ", 0), L"scott");
    EXPECT_EQ(input.Prompt(L"Password: ", 1), L"tiger");
    EXPECT_EQ(out.Drain(), "User: Password: \r\n");

    input.WaitForChar(13);
    EXPECT_EQ(input.IsEof(), 0);
    // The id form shows the stored text without formatting it.
    EXPECT_EQ(input.Prompt(kIdGreeting, 0), L"more");
    EXPECT_EQ(out.Drain(), "Hello %s, %d rows\r\n");

    EXPECT_EQ(input.Prompt(L"> ", 0), L"");
    EXPECT_EQ(input.IsEof(), 1);
    input.WaitForChar(13);  // returns at the end of input
    EXPECT_EQ(input.IsEof(), 1);

    // Prompt, answer and line break in the transcript, hidden entry included; nothing for the
    // line WaitForChar discarded, nor for the end of input.
    EXPECT_EQ(ReadFile(dir.path() / "in.log"), "User: scott\r\nPassword: tiger\r\nHello %s, %d rows\r\nmore\r\n> ");
}

TEST(ConsoleInput, CopiesShareTheBuffer) {
    Pipe in;
    Pipe out;
    CInput a(nullptr, in.rd, out.wr);
    in.Feed("one\ntwo\n");
    in.CloseWrite();
    EXPECT_EQ(a.GetString(0), L"one");
    CInput b = a;
    EXPECT_EQ(b.GetString(0), L"two");
    EXPECT_EQ(a.GetString(0), L"");
    EXPECT_EQ(a.IsEof(), 1);
}

TEST(ConsoleTimeStat, FormatsSecondsAndMilliseconds) {
    EXPECT_EQ(CTimeStat::FormatElapsed(1500), L"1.500");
    EXPECT_EQ(CTimeStat::FormatElapsed(61234), L"61.234");
    EXPECT_EQ(CTimeStat::FormatElapsed(7), L"0.007");
    EXPECT_EQ(CTimeStat::FormatElapsed(0), L"0.000");
    EXPECT_EQ(CTimeStat::FormatElapsed(0xFFFFFFFFu), L"4294967.295");

    CTimeStat idle;
    EXPECT_EQ(idle.GetTotalTime(), L"");
    CTimeStat idleCopy = idle;
    EXPECT_EQ(idleCopy.GetTotalTime(), L"");

    const std::wregex figure(L"[0-9]+\\.[0-9]{3}");
    CTimeStat running(1);
    EXPECT_TRUE(std::regex_match(running.GetTotalTime(), figure));
    EXPECT_TRUE(std::regex_match(running.GetTotalTime(), figure));  // readable any number of times
    idle.Start();
    EXPECT_TRUE(std::regex_match(idle.GetTotalTime(), figure));
    CTimeStat reset;
    reset.Reset();
    EXPECT_TRUE(std::regex_match(reset.GetTotalTime(), figure));
}
