// Helpers of the shell tests: the orva program run as a child with given input, the environment
// of such children, files, and the shell's state pointed at a memory file for one test.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../core/testdb.h"
#include "resources.h"
#include "state.h"
#include "zentra/codepage.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/history.h"

extern char** environ;

namespace orvatest {

inline bool Contains(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The answer of the sqlite3 client to `sql` on the database file `path`, rows on lines of their own.
inline std::string Ask(const std::string& path, const std::string& sql) {
    return testdb::NativeText(testdb::SqliteAt(path), sql);
}

// A new SQLite database file on which the sqlite3 client has run `sql`.
inline std::string NewSqlite(const std::string& sql) {
    const std::string path = testdb::NewSqliteFile();
    EXPECT_EQ(Ask(path, sql), "") << sql;
    return path;
}

// The answer of the PostgreSQL (psql) or MariaDB client to `sql` on the test database.
inline std::string AskServer(testdb::Kind kind, const std::string& sql) {
    return testdb::NativeText(testdb::BackendOf(kind), sql);
}

// An environment variable set (or unset, for a null value) while the object lives.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    EnvVar(const char* name, const std::string& value) : EnvVar(name, value.c_str()) {}
    ~EnvVar() {
        if (old_) setenv(name_.c_str(), old_->c_str(), 1);
        else unsetenv(name_.c_str());
    }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// This process's environment for a child, without ORVANTA_PASSWORD, the entries starting with one
// of `drop` and the variables that `set` ("NAME=value") gives; then `set`.
inline std::vector<std::string> ChildEnv(const std::vector<std::string>& set, std::vector<std::string> drop = {}) {
    drop.push_back("ORVANTA_PASSWORD=");
    for (const auto& e : set) drop.push_back(e.substr(0, e.find('=') + 1));
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool keep = true;
        for (const auto& prefix : drop) keep = keep && entry.rfind(prefix, 0) != 0;
        if (keep) env.push_back(entry);
    }
    env.insert(env.end(), set.begin(), set.end());
    return env;
}

// The texts as exec takes them: pointers ending with a null pointer.
inline std::vector<char*> CArray(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

struct Run {
    std::string out;
    int exitCode = -1;
};

struct RunOptions {
    bool closeInput = false;  // start the child with its standard input closed
    int limitMs = 120000;     // killed after this long (exit code 128 + SIGKILL): a hang fails
};

// Runs orva with `args`; `env` entries ("NAME=value") are added to the environment. The input comes
// from a file, so the child sees end of input after it. Settings and state go to a folder of this
// run (never the user's own) unless `env` names them.
inline Run RunOrva(const std::vector<std::string>& args, const std::string& input,
                   const std::vector<std::string>& env = {}, RunOptions options = {}) {
    char inPath[] = "/tmp/orva-in-XXXXXX";
    char outPath[] = "/tmp/orva-out-XXXXXX";
    const int in = mkstemp(inPath), out = mkstemp(outPath);
    if (write(in, input.data(), input.size()) != static_cast<ssize_t>(input.size())) return {};
    lseek(in, 0, SEEK_SET);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.closeInput) posix_spawn_file_actions_addclose(&actions, 0);
    else posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, out, 2);

    std::vector<std::string> argStore{ORVA_BINARY};
    argStore.insert(argStore.end(), args.begin(), args.end());
    char stateDir[] = "/tmp/orva-home-XXXXXX";
    const std::string home = mkdtemp(stateDir) ? stateDir : "/tmp";
    std::vector<std::string> set = env;
    for (const std::string name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME"}) {
        bool given = false;
        for (const auto& e : env) given = given || e.rfind(name + "=", 0) == 0;
        if (!given) set.push_back(name + "=" + home + (name == "XDG_STATE_HOME" ? "/state" : "/config"));
    }
    std::vector<std::string> envStore = ChildEnv(set);

    Run run;
    pid_t pid = 0;
    if (posix_spawn(&pid, ORVA_BINARY, &actions, nullptr, CArray(argStore).data(), CArray(envStore).data()) == 0) {
        int status = 0;
        for (int waited = 0; waitpid(pid, &status, WNOHANG) != pid; waited += 10) {
            if (waited >= options.limitMs) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            usleep(10 * 1000);
        }
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = ReadFile(outPath);
    close(in);
    close(out);
    unlink(inPath);
    unlink(outPath);
    std::error_code ec;
    if (home != "/tmp" && !std::filesystem::remove_all(home, ec)) run.exitCode = -2;
    return run;
}

// The transcript with its clock readings replaced: the banner's date and the elapsed times.
inline std::string Masked(const std::string& text) {
    static const std::regex banner("Production on [^\r]*");
    static const std::regex elapsed("\\(\\d+\\.\\d{3} sec\\)");
    return std::regex_replace(std::regex_replace(text, banner, "Production on DATE"), elapsed, "(T sec)");
}

// The shell's state for one test: output to a memory file, input from a pipe that Type() fills,
// the settings at their defaults, no connection and an empty history; all restored afterwards.
class ShellSession {
public:
    ShellSession() {
        orva::RegisterResources();
        orva::ShellState& s = orva::State();
        fd_ = memfd_create("shell_test_output", 0);
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(pipe2(in_, O_CLOEXEC), 0);
        saved_.output = std::move(s.output);
        saved_.input = std::move(s.input);
        saved_.connection = std::move(s.connection);
        saved_.info = s.connectInfo;
        saved_.texts = {s.prompt, s.editor, s.lastStatement};
        saved_.print = s.print;
        saved_.errorBeep = s.errorBeep;
        saved_.history = *s.history->GetCommandArray();
        s.history->SetCommandArray(nullptr);
        s.connectInfo = {};
        s.prompt = L"SQL> ";
        s.editor = L"notepad";
        s.lastStatement.clear();
        s.print = {};
        s.errorBeep = 1;
        s.output = std::make_unique<zentra::COutput>(s.spool.get(), fd_);
        s.input = std::make_unique<zentra::CInput>(s.spool.get(), in_[0], fd_);
    }
    ~ShellSession() {
        orva::ShellState& s = orva::State();
        s.spool->Close();
        s.connection = std::move(saved_.connection);
        s.output = std::move(saved_.output);
        s.input = std::move(saved_.input);
        s.connectInfo = saved_.info;
        s.prompt = saved_.texts[0];
        s.editor = saved_.texts[1];
        s.lastStatement = saved_.texts[2];
        s.print = saved_.print;
        s.errorBeep = saved_.errorBeep;
        s.history->SetCommandArray(&saved_.history);
        for (int fd : {fd_, in_[0], in_[1]})
            if (fd >= 0) close(fd);
    }
    ShellSession(const ShellSession&) = delete;
    ShellSession& operator=(const ShellSession&) = delete;

    // Everything printed so far; Take() also empties the file.
    std::string Peek() const {
        std::string text;
        char buffer[65536];
        for (ssize_t n; (n = pread(fd_, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;)
            text.append(buffer, static_cast<size_t>(n));
        return text;
    }
    std::string Take() {
        std::string text = Peek();
        EXPECT_EQ(ftruncate(fd_, 0), 0);
        lseek(fd_, 0, SEEK_SET);
        return text;
    }
    int Fd() const { return fd_; }
    // Text the shell will read as typed input.
    void Type(const std::string& text) {
        ASSERT_EQ(write(in_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    // A new connection as the shell's, with `type` as its catalogue type.
    bool Connect(const std::wstring& connectionString, zentra::DbmsType type = zentra::kDbmsSqlite3) {
        orva::State().connection = std::make_unique<zentra::CADOConnection>();
        orva::State().connectInfo.type = type;
        if (orva::State().connection->Open(connectionString.c_str())) return true;
        ADD_FAILURE() << "connect failed: " << zentra::WideToUtf8(orva::State().connection->GetLastErrorString());
        return false;
    }
    bool ConnectSqlite() { return Connect(testdb::SqliteConnectionString(testdb::NewSqliteFile())); }
    void Exec(const std::wstring& sql) {
        if (!orva::State().connection->Execute(sql.c_str()))
            ADD_FAILURE() << zentra::WideToUtf8(sql) << ": "
                          << zentra::WideToUtf8(orva::State().connection->GetLastErrorString());
    }

private:
    int fd_ = -1;
    int in_[2] = {-1, -1};
    struct {
        std::unique_ptr<zentra::COutput> output;
        std::unique_ptr<zentra::CInput> input;
        std::unique_ptr<zentra::CADOConnection> connection;
        orva::CONNECT_INFO info;
        std::vector<std::wstring> texts;
        orva::PrintOptions print;
        int errorBeep = 1;
        zentra::CStringArray history;
    } saved_;
};

}  // namespace orvatest
