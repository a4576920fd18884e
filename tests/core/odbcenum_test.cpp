#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tempdir.h"
#include "zentra/codepage.h"
#include "zentra/odbcenum.h"

extern char** environ;

using namespace zentra;

namespace {

// unixODBC reads its configuration files once per process and resolves the user's home from the
// password database, so the scenarios with files of their own run in a fresh copy of this test
// program whose environment names those files (ODBCSYSINI, ODBCINI). The copy prints a transcript
// of the enumeration and the test compares it.
constexpr const char* kChildVariable = "ORVANTA_ODBCENUM_SCENARIO";

std::string Line(const char* tag, int rc, const CString& a, const CString& b) {
    return std::string(tag) + " " + std::to_string(rc) + " [" + WideToUtf8(a) + "] [" + WideToUtf8(b) + "]\n";
}

std::string DriverTranscript() {
    std::string out;
    CDataSourceEnum en(DSN_ALL);
    CString name = L"-", attr = L"-";
    int rc = en.GetFirstDriver(name, attr);
    out += Line("first", rc, name, attr);
    while (rc == 1) {
        rc = en.GetNextDriver(name, attr);
        out += Line("next", rc, name, attr);
    }
    rc = en.GetNextDriver(name, attr);  // past the end
    out += Line("after", rc, name, attr);
    rc = en.GetFirstDriver(name, attr);  // restart
    out += Line("restart", rc, name, attr);
    return out;
}

std::string SourceTranscript() {
    std::string out;
    const DSNTYPE types[] = {DSN_ALL, DSN_USER, DSN_SYSTEM, static_cast<DSNTYPE>(7)};
    for (DSNTYPE type : types) {
        CDataSourceEnum en(type);
        CString name = L"-", desc = L"-";
        int rc = en.GetFirstDataSource(name, desc);
        std::string tag = "type" + std::to_string(int(type));
        out += Line(tag.c_str(), rc, name, desc);
        while (rc == 1) {
            rc = en.GetNextDataSource(name, desc);
            out += Line(tag.c_str(), rc, name, desc);
        }
    }
    return out;
}

struct ScenarioHook {
    ScenarioHook() {
        const char* scenario = std::getenv(kChildVariable);
        if (scenario == nullptr) return;
        std::string out = std::strcmp(scenario, "drivers") == 0 ? DriverTranscript() : SourceTranscript();
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
        std::exit(0);
    }
} g_scenarioHook;

// A directory for the driver manager's configuration files.
class TempDir : public testdb::TempDir {
public:
    TempDir() : testdb::TempDir("odbcenum") {}
    std::string path() const { return str(); }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(str() + "/" + name, std::ios::binary) << text;
    }
    // The driver list, the system and the user data sources.
    void Configure(const std::string& drivers, const std::string& system, const std::string& user) const {
        Write("odbcinst.ini", drivers);
        Write("odbc.ini", system);
        Write("user-odbc.ini", user);
    }
};

// Runs this program in the given scenario with ODBCSYSINI and ODBCINI pointing into `dir`;
// returns what it printed.
std::string RunScenario(const char* scenario, const TempDir& dir) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "ODBC", 4) == 0) continue;  // ODBCSYSINI, ODBCINSTINI, ODBCINI
        env.emplace_back(*e);
    }
    env.push_back(std::string(kChildVariable) + "=" + scenario);
    env.push_back("ODBCSYSINI=" + dir.path());
    env.push_back("ODBCINI=" + dir.path() + "/user-odbc.ini");
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return "pipe failed";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    char exe[] = "/proc/self/exe";
    char* argv[] = {exe, nullptr};
    pid_t pid = 0;
    int err = posix_spawn(&pid, exe, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string out;
    if (err == 0) {
        char buf[4096];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += "child failed\n";
    } else {
        out = "spawn failed";
    }
    close(fds[0]);
    return out;
}

const char* kSystemDrivers =
    "[SQLite3]\n"
    "Description=SQLite3 ODBC Driver\n"
    "Driver=libsqlite3odbc.so\n"
    "Setup=libsqlite3odbc.so\n"
    "\n"
    "[Orvanta Test Driver]\n"
    "Driver=/nonexistent/liborvantatest.so\n"
    "UsageCount=1\n";

}  // namespace

TEST(OdbcEnum, InstalledDriversAreListed) {
    CDataSourceEnum en(DSN_ALL);
    CString name, attr;
    std::vector<CString> names;
    for (int rc = en.GetFirstDriver(name, attr); rc == 1; rc = en.GetNextDriver(name, attr)) {
        names.push_back(name);
        EXPECT_NE(attr.find(L'='), CString::npos) << WideToUtf8(name);
    }
    ASSERT_FALSE(names.empty());
    EXPECT_NE(std::find(names.begin(), names.end(), CString(L"SQLite3")), names.end());
}

TEST(OdbcEnum, NextBeforeFirstReturnsZero) {
    CString name = L"unchanged", other = L"unchanged";
    CDataSourceEnum drivers(DSN_ALL);
    EXPECT_EQ(drivers.GetNextDriver(name, other), 0);
    CDataSourceEnum sources(DSN_USER);
    EXPECT_EQ(sources.GetNextDataSource(name, other), 0);
    EXPECT_EQ(name, L"unchanged");
    EXPECT_EQ(other, L"unchanged");
}

TEST(OdbcEnum, StartingOneListingEndsTheOther) {
    CDataSourceEnum en(DSN_ALL);
    CString name, other;
    ASSERT_EQ(en.GetFirstDriver(name, other), 1);
    en.GetFirstDataSource(name, other);  // may find no source on this machine
    CString keep = L"kept";
    EXPECT_EQ(en.GetNextDriver(keep, other), 0);
    EXPECT_EQ(keep, L"kept");
    ASSERT_EQ(en.GetFirstDriver(name, other), 1);
    EXPECT_EQ(en.GetNextDataSource(keep, other), 0);
    EXPECT_EQ(keep, L"kept");
}

TEST(OdbcEnum, DriverListingFromOwnConfiguration) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    dir.Configure(kSystemDrivers, "", "");
    EXPECT_EQ(RunScenario("drivers", dir),
              "first 1 [SQLite3] [Description=SQLite3 ODBC Driver]\n"
              "next 1 [Orvanta Test Driver] [Driver=/nonexistent/liborvantatest.so]\n"
              "next 0 [Orvanta Test Driver] [Driver=/nonexistent/liborvantatest.so]\n"
              "after 0 [Orvanta Test Driver] [Driver=/nonexistent/liborvantatest.so]\n"
              "restart 1 [SQLite3] [Description=SQLite3 ODBC Driver]\n");
}

TEST(OdbcEnum, NoDriverInstalled) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    dir.Configure("", "", "");
    EXPECT_EQ(RunScenario("drivers", dir),
              "first 0 [-] [-]\n"
              "after 0 [-] [-]\n"
              "restart 0 [-] [-]\n");
}

TEST(OdbcEnum, DataSourcesByType) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    dir.Configure(kSystemDrivers, "[OrvaSystem]\nDriver=SQLite3\nDatabase=/tmp/orva-system.db\n",
                  "[OrvaUser]\nDriver=Orvanta Test Driver\nDescription=a user source\n\n[OrvaUser2]\nDriver=SQLite3\n");
    EXPECT_EQ(RunScenario("sources", dir),
              // DSN_ALL: user sources, then system sources
              "type0 1 [OrvaUser] [Orvanta Test Driver]\n"
              "type0 1 [OrvaUser2] [SQLite3]\n"
              "type0 1 [OrvaSystem] [SQLite3]\n"
              "type0 0 [OrvaSystem] [SQLite3]\n"
              // DSN_USER
              "type1 1 [OrvaUser] [Orvanta Test Driver]\n"
              "type1 1 [OrvaUser2] [SQLite3]\n"
              "type1 0 [OrvaUser2] [SQLite3]\n"
              // DSN_SYSTEM, and any other value likewise
              "type2 1 [OrvaSystem] [SQLite3]\n"
              "type2 0 [OrvaSystem] [SQLite3]\n"
              "type7 1 [OrvaSystem] [SQLite3]\n"
              "type7 0 [OrvaSystem] [SQLite3]\n");
}

TEST(OdbcEnum, LongNamesAreCutNotGarbled) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string longDriver(300, 'N');
    const std::string longSource(300, 'S');
    dir.Configure("[" + longDriver + "]\nDriver=/nonexistent/x.so\n", "",
                  "[" + longSource + "]\nDriver=" + longDriver + "\n");
    // Texts longer than the 255-character buffers arrive cut to 254 characters.
    const std::string cutDriver(254, 'N');
    const std::string cutSource(254, 'S');
    EXPECT_EQ(RunScenario("drivers", dir), "first 1 [" + cutDriver +
                                               "] [Driver=/nonexistent/x.so]\n"
                                               "next 0 [" +
                                               cutDriver +
                                               "] [Driver=/nonexistent/x.so]\n"
                                               "after 0 [" +
                                               cutDriver +
                                               "] [Driver=/nonexistent/x.so]\n"
                                               "restart 1 [" +
                                               cutDriver + "] [Driver=/nonexistent/x.so]\n");
    std::string sources = RunScenario("sources", dir);
    EXPECT_EQ(sources.substr(0, sources.find('\n') + 1), "type0 1 [" + cutSource + "] [" + cutDriver + "]\n");
}

TEST(OdbcEnum, NonAsciiNamesArriveWhole) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    dir.Configure("[Drïver ключ 😀]\nDriver=/nonexistent/x.so\n", "", "[Quellé]\nDriver=Drïver ключ 😀\n");
    const std::string drivers = RunScenario("drivers", dir);
    EXPECT_EQ("first 1 [Drïver ключ 😀] [Driver=/nonexistent/x.so]\n", drivers.substr(0, drivers.find('\n') + 1));
    const std::string sources = RunScenario("sources", dir);
    EXPECT_EQ("type0 1 [Quellé] [Drïver ключ 😀]\n", sources.substr(0, sources.find('\n') + 1));
}
