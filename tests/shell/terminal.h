// orva in a pseudo-terminal for the shell tests: keys typed, the screen's bytes read.
#pragma once

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "run_orva.h"

namespace orvatest {

inline constexpr char kWelcome[] = "Type 'help;' or '?' for help.";
// What the terminal shows when an edited read starts (bracketed paste goes on, the prompt is drawn).
inline constexpr char kNextPrompt[] = "\x1b[?2004h\rSQL> ";

// orva on the slave side of a pseudo-terminal, as in a terminal window.
class Terminal {
public:
    Terminal(const std::vector<std::string>& args, const std::vector<std::string>& env) {
        std::vector<std::string> argStore{ORVA_BINARY};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<std::string> set{"TERM=xterm", "LANG=C.UTF-8", "LC_ALL=C.UTF-8"};
        set.insert(set.end(), env.begin(), env.end());
        std::vector<std::string> envStore = orvatest::ChildEnv(set, {"LC_"});
        std::vector<char*> argv = orvatest::CArray(argStore), envp = orvatest::CArray(envStore);
        struct winsize size = {24, 100, 0, 0};
        m_pid = forkpty(&m_master, nullptr, nullptr, &size);
        if (m_pid == 0) {
            execve(ORVA_BINARY, argv.data(), envp.data());
            _exit(127);
        }
    }
    ~Terminal() {
        if (m_pid > 0 && !m_reaped) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0) close(m_master);
    }

    pid_t Pid() const { return m_pid; }
    bool Started() const { return m_pid > 0 && m_master >= 0; }
    void Send(const std::string& bytes) {
        ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Reads the terminal until `text` shows after position `from` (a safety limit, not a speed
    // check: a test that waits longer has failed anyway).
    bool WaitFor(const std::string& text, size_t from = 0, int limitMs = 20000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (Output().find(text, from) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end || !Pump(100))
                return Output().find(text, from) != std::string::npos;
        }
        return true;
    }
    // Waits for the program to end; its wait status, or -1 when it did not end.
    int Wait(int limitMs = 20000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        for (;;) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_reaped = true;
                Pump(50);
                return status;
            }
            if (std::chrono::steady_clock::now() > end) return -1;
            if (m_master < 0 || !Pump(50)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // The welcome line and the first prompt have shown.
    bool Ready() { return WaitFor(kWelcome) && WaitFor("SQL> "); }
    // Types "exit": whether the program ended with exit code 0.
    bool Exit() {
        Send("exit\r");
        const int status = Wait();
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    // Closes the terminal: the program's session is hung up.
    void Hangup() {
        close(m_master);
        m_master = -1;
    }
    const std::string& Output() const { return m_out; }

private:
    bool Pump(int ms) {
        if (m_master < 0) return false;
        struct pollfd p = {m_master, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) return true;
        char buffer[4096];
        ssize_t n = read(m_master, buffer, sizeof buffer);
        if (n <= 0) return false;
        m_out.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_master = -1;
    bool m_reaped = false;
    std::string m_out;
};

}  // namespace orvatest
