#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zentra/codepage.h"
#include "zentra/pipe.h"

using namespace zentra;
using namespace std::chrono_literals;

namespace {

constexpr auto kLongWait = 60s;  // generous: only a hang runs into it

// ---------------------------------------------------------------------------------------------
// Command-line splitting

TEST(PipeSplit, BlanksSeparateArguments) {
    EXPECT_EQ(SplitCommandLine(L"orva --type  mssql\t--port 1433\n-x"),
              (CStringArray{L"orva", L"--type", L"mssql", L"--port", L"1433", L"-x"}));
    EXPECT_EQ(SplitCommandLine(L"   a   "), (CStringArray{L"a"}));
    EXPECT_TRUE(SplitCommandLine(L"").empty());
    EXPECT_TRUE(SplitCommandLine(L" \t\n ").empty());
}

TEST(PipeSplit, DoubleQuotesGroupAndJoin) {
    EXPECT_EQ(SplitCommandLine(L"--host \"my host\" x"), (CStringArray{L"--host", L"my host", L"x"}));
    EXPECT_EQ(SplitCommandLine(L"a\"b c\"d e"), (CStringArray{L"ab cd", L"e"}));
    // An empty quoted word is an empty argument.
    EXPECT_EQ(SplitCommandLine(L"--password \"\" next"), (CStringArray{L"--password", L"", L"next"}));
    // An unclosed quote runs to the end.
    EXPECT_EQ(SplitCommandLine(L"a \"b c"), (CStringArray{L"a", L"b c"}));
}

TEST(PipeSplit, BackslashEscapes) {
    // Outside quotes a backslash takes any next character literally.
    EXPECT_EQ(SplitCommandLine(L"a\\ b c\\\"d e\\\\f \\x"), (CStringArray{L"a b", L"c\"d", L"e\\f", L"x"}));
    // Inside quotes only " \ $ ` are escaped; before anything else the backslash stays.
    EXPECT_EQ(SplitCommandLine(L"\"a\\\"b\" \"c\\\\d\" \"\\$e\\`\" \"f\\g\""),
              (CStringArray{L"a\"b", L"c\\d", L"$e`", L"f\\g"}));
    // A backslash before a newline joins the lines; a trailing one stays.
    EXPECT_EQ(SplitCommandLine(L"ab\\\ncd \"ef\\\ngh\" end\\"), (CStringArray{L"abcd", L"efgh", L"end\\"}));
}

TEST(PipeSplit, FrontEndCommandLineRoundTrips) {
    // The front end doubles every backslash and quotes the values.
    EXPECT_EQ(SplitCommandLine(L"orva --type mssql --host \"srv\\\\inst\" --database \"C:\\\\db\\\\x.mdb\""),
              (CStringArray{L"orva", L"--type", L"mssql", L"--host", L"srv\\inst", L"--database", L"C:\\db\\x.mdb"}));
    // A password with an apostrophe and shell characters arrives unchanged: nothing expands.
    EXPECT_EQ(SplitCommandLine(L"--password \"it's $HOME *\" ~ `id`"),
              (CStringArray{L"--password", L"it's $HOME *", L"~", L"`id`"}));
}

// ---------------------------------------------------------------------------------------------
// Converting output that arrives in pieces

// Feeds `bytes` cut at `cut` and returns the text the decoder produces.
CString DecodeCut(std::string_view bytes, size_t cut, int codePage) {
    CStreamDecoder decoder(codePage);
    CString text = decoder.Decode(bytes.substr(0, cut));
    text += decoder.Decode(bytes.substr(cut));
    text += decoder.Flush();
    return text;
}

TEST(PipeDecoder, Utf8CharacterCutAtAnyPointIsKept) {
    const std::string bytes =
        "a\xC3\xA9"
        "b\xE2\x82\xAC"
        "c\xF0\x9F\x98\x80"
        "d";  // a é b € c 😀 d
    const CString expected = L"a\u00E9b\u20ACc\U0001F600d";
    for (size_t cut = 0; cut <= bytes.size(); ++cut)
        EXPECT_EQ(DecodeCut(bytes, cut, CP_UTF8), expected) << "cut at " << cut;
}

TEST(PipeDecoder, HeldBackBytesAndFlush) {
    CStreamDecoder decoder(CP_UTF8);
    EXPECT_EQ(decoder.Decode("x\xE2\x82"), L"x");
    EXPECT_EQ(decoder.Pending(), 2u);
    // The stream ends inside the character: what is left still arrives, as replacement text.
    EXPECT_EQ(decoder.Flush(), L"\uFFFD\uFFFD");
    EXPECT_EQ(decoder.Pending(), 0u);
    // Bytes that can never become a character are not held back.
    EXPECT_EQ(decoder.Decode("\x80\x80\x80\x80\x80"), CString(5, L'\uFFFD'));
    EXPECT_EQ(decoder.Pending(), 0u);
}

TEST(PipeDecoder, CombiningCodePagesLoseNothingAndJoinAcrossPieces) {
    // 1255: bet, then dagesh; 1258: "a", then a combining acute accent; each also as the last byte.
    for (auto [codePage, bytes] :
         {std::pair{1255, std::string("\xE1\xCC \xE0\xE1")}, std::pair{1258, std::string("a\xEC xa")}}) {
        const CString whole = MultiByteToWide(bytes, codePage);
        EXPECT_EQ(whole.size(), 4u) << codePage;  // joined, and the last letter kept
        for (size_t cut = 0; cut <= bytes.size(); ++cut) {
            CStreamDecoder decoder(codePage);
            CString text = decoder.Decode(bytes.substr(0, cut));
            text += decoder.Decode(bytes.substr(cut));
            text += decoder.Flush();
            EXPECT_EQ(text, whole) << codePage << " cut at " << cut;
        }
    }
    // After an invalid byte the characters start elsewhere than the lead bytes suggest: the
    // GB18030 character 9C F3 follows the broken four-byte start 81 30 FF.
    const std::string broken = "0\x81\x30\xFF\x9C\xF3";
    for (size_t cut = 0; cut <= broken.size(); ++cut) {
        CStreamDecoder decoder(54936);
        CString text = decoder.Decode(broken.substr(0, cut));
        text += decoder.Decode(broken.substr(cut));
        EXPECT_EQ(text + decoder.Flush(), MultiByteToWide(broken, 54936)) << "cut at " << cut;
    }
    EXPECT_EQ(MultiByteToWide("\xE0", 1255), L"\u05D0");
    EXPECT_EQ(MultiByteToWide("abc", 1258), L"abc");
}

TEST(PipeDecoder, DoubleByteCodePages) {
    // GBK: 中 is D6 D0; the trail byte D0 also lies in the lead range, so boundaries come from
    // walking the text from its start.
    const std::string gbk =
        "a\xD6\xD0\xD6\xD0"
        "b";
    for (size_t cut = 0; cut <= gbk.size(); ++cut)
        EXPECT_EQ(DecodeCut(gbk, cut, 936), L"a\u4E2D\u4E2Db") << "cut at " << cut;
    // GB18030 four-byte form (every character beyond the first plane): any cut waits for the rest.
    const std::string gb18030 = WideToMultiByte(L"\U0001F600z\u4E2D", 54936);
    ASSERT_EQ(gb18030.size(), 7u);
    for (size_t cut = 0; cut <= gb18030.size(); ++cut)
        EXPECT_EQ(DecodeCut(gb18030, cut, 54936), L"\U0001F600z\u4E2D") << "cut at " << cut;
    // Shift_JIS half-width katakana is one byte and is never held back.
    EXPECT_EQ(CStreamDecoder::CompleteLength("\xB1\xB2", 932), 2u);
    EXPECT_EQ(CStreamDecoder::CompleteLength("\xB1\x82", 932), 1u);
    // Single-byte code pages hold nothing back.
    EXPECT_EQ(CStreamDecoder::CompleteLength("\xE9\xC3", 1252), 2u);
}

// ---------------------------------------------------------------------------------------------
// The control block

// The status of a shared memory object; st_nlink 0 when there is none.
struct stat StatShm(const CString& name) {
    struct stat st;
    std::memset(&st, 0, sizeof st);
    if (stat(("/dev/shm" + WideToUtf8(name)).c_str(), &st) != 0) st.st_nlink = 0;
    return st;
}

bool ShmExists(const CString& name) { return StatShm(name).st_nlink != 0; }

TEST(PipeControlBlock, UniqueNamePrivateToTheUserAndRemovedAtTheEnd) {
    CString first, second;
    {
        CControlBlock a, b;
        ASSERT_TRUE(a.Create());
        ASSERT_TRUE(b.Create());
        first = a.GetName();
        second = b.GetName();
        EXPECT_NE(first, second);
        const CString prefix = L"/orvanta-" + std::to_wstring(geteuid()) + L"-";
        EXPECT_EQ(first.rfind(prefix, 0), 0u) << WideToUtf8(first);
        EXPECT_EQ(first.find(L'/', 1), CString::npos);
        for (const CString& name : {first, second}) {
            const struct stat st = StatShm(name);
            ASSERT_NE(st.st_nlink, 0u) << WideToUtf8(name);
            EXPECT_EQ(st.st_mode & 07777, 0600u);
            EXPECT_EQ(st.st_uid, geteuid());
            EXPECT_EQ(st.st_size, 16);
        }
    }
    EXPECT_FALSE(ShmExists(first));
    EXPECT_FALSE(ShmExists(second));
}

TEST(PipeControlBlock, BlocksOfKilledOwnersAreRemoved) {
    // A block left by a process of this user that is gone, and one of a process that runs.
    pid_t dead = fork();
    if (dead == 0) _exit(0);
    ASSERT_GT(dead, 0);
    ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
    const std::string prefix = "/orvanta-" + std::to_string(geteuid()) + "-";
    const std::string left = prefix + std::to_string(dead) + "-0-0badf00d";
    const std::string alive = prefix + std::to_string(getppid()) + "-0-0badf00d";
    for (const std::string& name : {left, alive}) {
        int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
        ASSERT_GE(fd, 0) << name;
        close(fd);
    }
    CControlBlock block;
    ASSERT_EQ(block.Create(), 1);
    EXPECT_FALSE(std::filesystem::exists("/dev/shm" + left));
    EXPECT_TRUE(std::filesystem::exists("/dev/shm" + alive));
    shm_unlink(alive.c_str());
}

TEST(PipeControlBlock, ModeIsExactWhateverTheUmask) {
    for (mode_t mask : {mode_t(0), mode_t(0277)}) {
        const mode_t old = umask(mask);
        CControlBlock block;
        const int created = block.Create();
        umask(old);
        ASSERT_TRUE(created);
        EXPECT_EQ(StatShm(block.GetName()).st_mode & 07777, 0600u) << "umask " << mask;
        CControlLink link;
        EXPECT_TRUE(link.Open(block.GetName().c_str()));
    }
}

TEST(PipeControlBlock, LinkRefusesWhatIsNotAControlBlock) {
    CControlLink link;
    EXPECT_FALSE(link.Open(nullptr));
    for (const wchar_t* name : {L"", L"/", L"orvanta-no-slash", L"/../etc/passwd", L"/orvanta-does-not-exist-4711"})
        EXPECT_FALSE(link.Open(name)) << WideToUtf8(name);
    // An object of the wrong size would fault on access beyond its end.
    const std::string name = "/orvanta-test-size-" + std::to_string(getpid());
    const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 8), 0);
    close(fd);
    EXPECT_FALSE(link.Open(AsciiToWide(name).c_str()));
    EXPECT_FALSE(link.IsOpen());
    shm_unlink(name.c_str());
    // Requests without a block are dropped.
    EXPECT_EQ(link.TakeRequest(), CControlLink::None);
}

// Runs `body` in a forked process and returns its exit code (-1 when it did not exit normally).
template <typename F>
int InChildProcess(F body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(PipeControlBlock, RequestsReachTheOtherProcessInOrder) {
    CControlBlock block;
    ASSERT_TRUE(block.Create());
    const CString name = block.GetName();
    block.Disconnect();
    block.KeyDown(0x41);
    block.Abort();
    // The other process takes one request per call: Ctrl+C, then cancel, then the key.
    const int code = InChildProcess([&name] {
        CControlLink link;
        if (!link.Open(name.c_str())) return 10;
        int key = 0;
        if (link.TakeRequest(&key) != CControlLink::CtrlC) return 11;
        if (link.TakeRequest(&key) != CControlLink::Cancel) return 12;
        if (link.TakeRequest(&key) != CControlLink::Key || key != 0x41) return 13;
        if (link.TakeRequest(&key) != CControlLink::None) return 14;
        return 0;
    });
    EXPECT_EQ(code, 0);
    // It cleared what it took: a second reader finds nothing.
    CControlLink here;
    ASSERT_TRUE(here.Open(name.c_str()));
    EXPECT_EQ(here.TakeRequest(), CControlLink::None);

    // Attaching clears the requests but keeps the key code.
    block.Abort();
    block.KeyDown(13);
    EXPECT_EQ(InChildProcess([&name] {
                  CControlLink link;
                  if (!link.Open(name.c_str())) return 10;
                  link.ClearRequests();
                  return 0;
              }),
              0);
    EXPECT_EQ(here.TakeRequest(), CControlLink::None);
    const int fd = shm_open(WideToUtf8(name).c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    void* view = mmap(nullptr, 16, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    ASSERT_NE(view, MAP_FAILED);
    const auto* raw = static_cast<const SHARED_CONTROL_BLOCK*>(view);
    EXPECT_EQ(raw->dwVirtualKey, 13u);
    EXPECT_EQ(raw->dwKeyPending, 0u);
    munmap(view, 16);
}

// ---------------------------------------------------------------------------------------------
// Real children

// Records what the callbacks receive.
class Recorder : public CPipe {
public:
    ~Recorder() override { Close(); }

    void OnIdle() override { ++m_idle; }

    void OnReadData(const wchar_t* text, int length) override {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_hold) m_cv.wait_for(lock, kLongWait, [this] { return !m_hold; });
            EXPECT_EQ(std::wcslen(text), static_cast<size_t>(length));
            m_text.append(text, static_cast<size_t>(length));
            ++m_chunks;
        }
        m_cv.notify_all();
    }

    void OnTerminate() override {
        CPipe::OnTerminate();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_terminated;
            m_runningAtEnd = IsRunning();
        }
        m_cv.notify_all();
    }

    // Waits until OnTerminate has run `count` times in all.
    bool WaitEnd(int count = 1) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kLongWait, [&] { return m_terminated >= count; });
    }
    bool WaitText(const CString& what) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kLongWait, [&] { return m_text.find(what) != CString::npos; });
    }
    void Hold() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hold = true;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_hold = false;
        }
        m_cv.notify_all();
    }
    // A member read under the lock.
    template <typename T>
    T Locked(const T& member) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return member;
    }
    CString Text() { return Locked(m_text); }
    int Terminated() { return Locked(m_terminated); }
    int RunningAtEnd() { return Locked(m_runningAtEnd); }
    int Chunks() { return Locked(m_chunks); }
    int Idle() const { return m_idle.load(); }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    CString m_text;
    int m_chunks = 0;
    int m_terminated = 0;
    int m_runningAtEnd = -1;
    bool m_hold = false;
    std::atomic<int> m_idle{0};
};

// The threads of this process.
int ThreadCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count;
}

// Whether `pid` is gone or only a zombie waiting for a parent that is not us.
bool ProcessEnded(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) return true;
    std::string line;
    std::getline(stat, line);
    const size_t paren = line.rfind(')');
    return paren == std::string::npos || line.substr(paren + 2, 1) == "Z";
}

bool WaitProcessEnded(pid_t pid) {
    const auto until = std::chrono::steady_clock::now() + kLongWait;
    while (!ProcessEnded(pid)) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(PipeProcess, DeliversAMegabyteThenTerminatesOnce) {
    Recorder pipe;
    ASSERT_TRUE(pipe.Start(L"/bin/sh -c \"head -c 1048576 /dev/zero | tr '\\\\0' x\""));
    EXPECT_TRUE(pipe.IsRunning());
    EXPECT_GT(pipe.GetProcessInfo().dwProcessId, 0);
    EXPECT_GE(pipe.GetReadHandle(), 0);
    EXPECT_GE(pipe.GetWriteHandle(), 0);
    ASSERT_TRUE(pipe.WaitEnd());
    const CString text = pipe.Text();
    EXPECT_EQ(text.size(), 1048576u);
    EXPECT_EQ(text.find_first_not_of(L'x'), CString::npos);
    EXPECT_EQ(pipe.Terminated(), 1);
    EXPECT_EQ(pipe.RunningAtEnd(), 0);
    EXPECT_FALSE(pipe.IsRunning());
    EXPECT_EQ((std::vector<long>{pipe.GetProcessInfo().dwProcessId, pipe.GetReadHandle(), pipe.GetWriteHandle()}),
              (std::vector<long>{0, -1, -1}));
    EXPECT_GT(pipe.Idle(), 0);
}

TEST(PipeProcess, EveryByteArrivesWhenTheChildEndsWithSeveralChunksInThePipe) {
    Recorder pipe;
    pipe.Hold();  // the first chunk waits in the callback until the child has ended
    ASSERT_TRUE(pipe.Start(L"/bin/sh -c \"printf A; head -c 40000 /dev/zero | tr '\\\\0' y; printf Z\""));
    const pid_t pid = pipe.GetProcessInfo().dwProcessId;
    ASSERT_GT(pid, 0);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);  // ended, not reaped
    EXPECT_TRUE(pipe.IsRunning());  // until the reader has delivered the rest and reaped it
    pipe.Release();
    ASSERT_TRUE(pipe.WaitEnd());
    const CString text = pipe.Text();
    ASSERT_EQ(text.size(), 40002u);
    EXPECT_EQ(text.front(), L'A');
    EXPECT_EQ(text.back(), L'Z');
    EXPECT_EQ(text.find_first_not_of(L'y', 1), text.size() - 1);
    EXPECT_GT(pipe.Chunks(), 2);  // in pieces of at most 1023 bytes
    EXPECT_EQ(pipe.Terminated(), 1);
}

TEST(PipeProcess, WritesReachTheChildInput) {
    Recorder pipe;
    ASSERT_TRUE(pipe.Start(L"/bin/sh -c \"read a; echo got:$a; read b; echo got:$b\""));
    EXPECT_TRUE(pipe.WriteData(L"hello w\u00F6rld \u20AC\n"));
    for (unsigned char byte : std::string("ok\n")) EXPECT_TRUE(pipe.WriteByte(byte));
    ASSERT_TRUE(pipe.WaitEnd());
    EXPECT_EQ(pipe.Text(), L"got:hello w\u00F6rld \u20AC\ngot:ok\n");
    // No child, nothing to write into.
    EXPECT_FALSE(pipe.WriteData(L"late\n"));
    EXPECT_FALSE(pipe.WriteByte('x'));
}

TEST(PipeProcess, WriteIntoAClosedInputFailsWithoutKillingTheOwner) {
    Recorder pipe;
    ASSERT_TRUE(pipe.Start(L"/bin/sh -c \"exec 0<&-; echo closed; sleep 30\""));
    ASSERT_TRUE(pipe.WaitText(L"closed"));
    EXPECT_FALSE(pipe.WriteData(CString(100000, L'q')));  // SIGPIPE would end this test program
    pipe.Stop();
    ASSERT_TRUE(pipe.WaitEnd());
}

TEST(PipeProcess, OutputAndErrorShareThePipeAndNulBytesAreDropped) {
    Recorder pipe;
    ASSERT_TRUE(pipe.Start(L"/bin/sh -c \"echo out; echo err >&2; printf 'ab\\\\0cd\\\\n'\""));
    ASSERT_TRUE(pipe.WaitEnd());
    EXPECT_EQ(pipe.Text(), L"out\nerr\nabcd\n");
}

TEST(PipeProcess, CharacterCutBetweenTwoWritesArrivesWhole) {
    Recorder pipe;
    ASSERT_TRUE(pipe.Start(L"/bin/sh -c \"printf '\\\\303'; sleep 0.3; printf '\\\\251\\\\n'\""));
    ASSERT_TRUE(pipe.WaitEnd());
    EXPECT_EQ(pipe.Text(), L"\u00E9\n");
}

TEST(PipeProcess, ArgumentsAreSplitAndTheBlockNameAppended) {
    Recorder pipe;
    ASSERT_TRUE(pipe.Start(L"/bin/sh -c \"printf '[%s]' \\\"\\$@\\\"\" zero \"a b\" 'c' x\\ y"));
    ASSERT_TRUE(pipe.WaitEnd());
    const CString name = pipe.GetControlBlockName();
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(pipe.Text(), L"[a b]['c'][x y][--SMN=" + name + L"]");
}

TEST(PipeProcess, ProgramBesideThisOneIsFoundFirst) {
    // This test program's directory is not in PATH.
    Recorder pipe;
    ASSERT_TRUE(pipe.Start(L"zentra_tests --gtest_list_tests --gtest_filter=PipeSplit.*"));
    ASSERT_TRUE(pipe.WaitEnd());
    EXPECT_NE(pipe.Text().find(L"PipeSplit."), CString::npos) << WideToUtf8(pipe.Text());
}

TEST(PipeProcess, StartFailsCleanlyForAMissingProgram) {
    const int threads = ThreadCount();
    Recorder pipe;
    EXPECT_FALSE(pipe.Start(L"/nonexistent/orvanta-no-such-program --x"));
    EXPECT_FALSE(pipe.Start(L"orvanta-no-such-program-in-path"));
    EXPECT_FALSE(pipe.Start(L"   "));
    EXPECT_FALSE(pipe.IsRunning());
    EXPECT_EQ(pipe.GetReadHandle(), -1);
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(pipe.Terminated(), 0);
}

TEST(PipeProcess, ChildLeadsItsOwnSessionAndCtrlCStaysInIt) {
    // The child starts with default dispositions and no blocked signals, whatever the owner has.
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &old);
    sigset_t intSet, oldMask;
    sigemptyset(&intSet);
    sigaddset(&intSet, SIGINT);
    pthread_sigmask(SIG_BLOCK, &intSet, &oldMask);

    Recorder pipe;
    const int started = pipe.Start(L"/bin/sh -c \"trap 'echo caught; exit 0' INT; kill -INT 0; sleep 30\"");
    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    sigaction(SIGINT, &old, nullptr);
    ASSERT_TRUE(started);
    const pid_t pid = pipe.GetProcessInfo().dwProcessId;
    if (pid > 0 && pipe.IsRunning()) {
        const pid_t sid = getsid(pid);
        EXPECT_TRUE(sid == pid || sid == -1);  // -1: already gone
    }
    ASSERT_TRUE(pipe.WaitEnd());
    EXPECT_EQ(pipe.Text(), L"caught\n");
}

TEST(PipeProcess, StopEndsTheWholeProcessGroup) {
    Recorder pipe;
    ASSERT_TRUE(pipe.Start(L"/bin/sh -c \"sleep 300 & echo $!; wait\""));
    ASSERT_TRUE(pipe.WaitText(L"\n"));
    const pid_t grandchild = static_cast<pid_t>(std::stol(WideToUtf8(pipe.Text())));
    ASSERT_GT(grandchild, 0);
    EXPECT_EQ(getpgid(grandchild), pipe.GetProcessInfo().dwProcessId);
    pipe.Stop();
    EXPECT_FALSE(pipe.WriteData(L"x"));
    ASSERT_TRUE(pipe.WaitEnd());
    EXPECT_EQ(pipe.Terminated(), 1);
    EXPECT_FALSE(pipe.IsRunning());
    EXPECT_TRUE(WaitProcessEnded(grandchild));
}

TEST(PipeProcess, StartAgainReplacesTheRunningChild) {
    Recorder pipe;
    ASSERT_TRUE(pipe.Start(L"/bin/sh -c \"echo first; sleep 300\""));
    ASSERT_TRUE(pipe.WaitText(L"first"));
    const pid_t old = pipe.GetProcessInfo().dwProcessId;
    const CString block = pipe.GetControlBlockName();
    ASSERT_TRUE(pipe.Start(L"/bin/sh -c \"echo second\""));
    EXPECT_TRUE(WaitProcessEnded(old));
    ASSERT_TRUE(pipe.WaitEnd(2));
    EXPECT_EQ(pipe.Text(), L"first\nsecond\n");
    EXPECT_EQ(pipe.GetControlBlockName(), block);  // one block for the life of the pipe
}

TEST(PipeProcess, DestroyingWhileTheChildRunsEndsAndReapsIt) {
    const int threads = ThreadCount();
    pid_t pid = 0;
    CString block;
    {
        Recorder pipe;
        ASSERT_TRUE(pipe.Start(L"/bin/sh -c \"echo up; sleep 300\""));
        ASSERT_TRUE(pipe.WaitText(L"up"));
        pid = pipe.GetProcessInfo().dwProcessId;
        block = pipe.GetControlBlockName();
        EXPECT_TRUE(ShmExists(block));
    }
    {
        CPipe plain;  // the base class alone, its reader thread busy with a silent child
        ASSERT_TRUE(plain.Start(L"/bin/sh -c \"sleep 300\""));
    }
    ASSERT_GT(pid, 0);
    errno = 0;
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);  // already reaped: no zombie left
    EXPECT_EQ(errno, ECHILD);
    EXPECT_EQ(kill(pid, 0), -1);
    EXPECT_EQ(ThreadCount(), threads);  // the reader threads were joined
    EXPECT_FALSE(ShmExists(block));
}

TEST(PipeProcess, ControlRequestsReachTheChildOfThisPipeOnly) {
    CPipe mine, other;
    mine.Abort();
    mine.KeyDown(27);
    other.Disconnect();
    const CString name = mine.GetControlBlockName();
    const CString otherName = other.GetControlBlockName();
    ASSERT_NE(name, otherName);
    const int code = InChildProcess([&name] {
        CControlLink link;
        if (!link.Open(name.c_str())) return 10;
        int key = 0;
        if (link.TakeRequest(&key) != CControlLink::CtrlC) return 11;
        if (link.TakeRequest(&key) != CControlLink::Key || key != 27) return 12;
        if (link.TakeRequest(&key) != CControlLink::None) return 13;
        return 0;
    });
    EXPECT_EQ(code, 0);
    CControlLink link;
    ASSERT_TRUE(link.Open(otherName.c_str()));
    EXPECT_EQ(link.TakeRequest(), CControlLink::Cancel);
}

// A pipe started again from its own OnTerminate.
class Restarter : public Recorder {
public:
    ~Restarter() override { Close(); }
    void OnTerminate() override {
        Recorder::OnTerminate();
        if (m_restarts-- > 0) m_restarted = Start(L"/bin/sh -c \"echo again\"");
    }
    int m_restarts = 1;
    std::atomic<int> m_restarted{-1};
};

TEST(PipeProcess, OnTerminateMayStartTheNextChild) {
    Restarter pipe;
    ASSERT_TRUE(pipe.Start(L"/bin/sh -c \"echo once\""));
    ASSERT_TRUE(pipe.WaitEnd(2));
    pipe.Close();  // joins both reader threads
    EXPECT_EQ(pipe.m_restarted.load(), 1);
    EXPECT_EQ(pipe.Text(), L"once\nagain\n");
}

}  // namespace
