// Runs the orva program as a child process with the given input and reads what it printed.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace orvatest {

struct Run {
    std::string out;
    int exitCode = -1;
};

// `env` entries ("NAME=value") are added to the environment; input goes to standard input from a
// file, so the child sees end of input after it.
inline Run RunOrva(const std::vector<std::string>& args, const std::string& input,
                   const std::vector<std::string>& env = {}) {
    char inPath[] = "/tmp/orva-in-XXXXXX";
    char outPath[] = "/tmp/orva-out-XXXXXX";
    int in = mkstemp(inPath);
    int out = mkstemp(outPath);
    if (write(in, input.data(), input.size()) != static_cast<ssize_t>(input.size())) return {};
    lseek(in, 0, SEEK_SET);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, out, 2);

    std::vector<std::string> argStore{ORVA_BINARY};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    // The child's settings and state go to a folder of this run (never the user's own), unless
    // the caller names them; entries given in `env` replace inherited ones.
    char stateDir[] = "/tmp/orva-home-XXXXXX";
    std::string home = mkdtemp(stateDir) ? stateDir : "/tmp";
    std::vector<std::string> given;
    for (const auto& e : env) given.push_back(e.substr(0, e.find('=') + 1));
    auto isGiven = [&](const std::string& entry) {
        for (const auto& name : given)
            if (entry.rfind(name, 0) == 0) return true;
        return false;
    };
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        if (entry.rfind("ORVANTA_PASSWORD=", 0) == 0 || isGiven(entry)) continue;
        if (entry.rfind("XDG_CONFIG_HOME=", 0) == 0 || entry.rfind("XDG_STATE_HOME=", 0) == 0) continue;
        envStore.push_back(entry);
    }
    for (const auto& e : env) envStore.push_back(e);
    if (!isGiven("XDG_CONFIG_HOME=")) envStore.push_back("XDG_CONFIG_HOME=" + home + "/config");
    if (!isGiven("XDG_STATE_HOME=")) envStore.push_back("XDG_STATE_HOME=" + home + "/state");
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    Run run;
    pid_t pid = 0;
    if (posix_spawn(&pid, ORVA_BINARY, &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream file(outPath, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    run.out = text.str();
    close(in);
    close(out);
    unlink(inPath);
    unlink(outPath);
    std::string remove = "rm -rf '" + home + "'";
    if (home != "/tmp" && std::system(remove.c_str()) != 0) run.exitCode = -2;
    return run;
}

// The transcript with its clock readings replaced: the banner's date and the elapsed times.
inline std::string Masked(const std::string& text) {
    static const std::regex banner("Production on [^\r]*");
    static const std::regex elapsed("\\(\\d+\\.\\d{3} sec\\)");
    return std::regex_replace(std::regex_replace(text, banner, "Production on DATE"), elapsed, "(T sec)");
}

}  // namespace orvatest
