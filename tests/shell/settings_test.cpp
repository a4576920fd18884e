// The settings kept between runs: a file written by an earlier orva loads into the shell state and
// is saved back byte for byte; a run without a file writes the stored defaults.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "../core/tempdir.h"
#include "run_orva.h"
#include "settings.h"

namespace {

namespace fs = std::filesystem;
using orva::State;
using orvatest::EnvVar;
using orvatest::ReadFile;
using orvatest::WriteFile;

class SettingsFile : public ::testing::Test, public orvatest::ShellSession {
protected:
    void SetUp() override { fs::create_directories(dir_.path() / "orvanta"); }
    std::string File() const { return (dir_.path() / "orvanta" / "registry.reg").string(); }

    testdb::TempDir dir_{"orvanta_settings"};
    EnvVar config_{"XDG_CONFIG_HOME", dir_.str()};
};

constexpr char kHeader[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software]\n\n"
    "[HKEY_CURRENT_USER\\Software\\Orvanta]\n\n";

// As orva 3.0.01 wrote it after "select 1 as a;", SET TABLE OFF, SET ERRBEEP OFF, SET TRUNCATE ON,
// SET INDEX OFF and SET EDITOR "vim -n", with a prompt and a connection that other programs keep.
const std::string kWritten = std::string(kHeader) +
                             "[HKEY_CURRENT_USER\\Software\\Orvanta\\Connection]\n"
                             "\"Type\"=hex:16,00,00,00\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Orvanta\\Setting]\n"
                             "\"Prompt\"=\"X> \"\n"
                             "\"History Count\"=hex:02,00,00,00\n"
                             "\"Item 0\"=\"select 1 as a;\"\n"
                             "\"Item 1\"=\"set table off\"\n"
                             "\"ResultView\"=hex:01,00,00,00\n"
                             "\"TruncValue\"=hex:01,00,00,00\n"
                             "\"RecordNum\"=hex:00,00,00,00\n"
                             "\"Editor\"=\"vim -n\"\n"
                             "\"ErrorBeep\"=hex:00,00,00,00\n";

TEST_F(SettingsFile, WrittenFileLoadsAndSavesBackIdentically) {
    WriteFile(File(), kWritten);
    orva::LoadSettings();
    const orva::ShellState& s = State();
    EXPECT_EQ(s.print.layout, orva::PrintLayout::List);
    EXPECT_TRUE(s.print.truncate);
    EXPECT_FALSE(s.print.showIndex);
    EXPECT_EQ(s.errorBeep, 0);
    EXPECT_EQ(s.editor, L"vim -n");
    // The prompt is not one of the saved settings: the SET PROMPT of a session lasts for it.
    EXPECT_EQ(s.prompt, L"SQL> ");
    ASSERT_EQ(s.history->GetCommandCount(), 2);
    EXPECT_EQ(s.history->GetCommandText(1), L"set table off");
    orva::SaveSettings();
    EXPECT_EQ(ReadFile(File()), kWritten);
    EXPECT_EQ(Take(), "");
}

TEST_F(SettingsFile, NoFileLoadsTheDefaultsAndSavesThem) {
    orva::ShellState& s = State();
    s.print.showIndex = false;
    s.editor = L"";
    orva::LoadSettings();
    EXPECT_EQ(s.print.layout, orva::PrintLayout::Table);
    EXPECT_FALSE(s.print.truncate);
    EXPECT_TRUE(s.print.showIndex);
    EXPECT_EQ(s.errorBeep, 1);
    EXPECT_EQ(s.editor, L"");  // no setting key: the editor is left as it was
    s.editor = L"notepad";
    orva::SaveSettings();
    EXPECT_EQ(ReadFile(File()), std::string(kHeader) +
                                    "[HKEY_CURRENT_USER\\Software\\Orvanta\\Setting]\n"
                                    "\"History Count\"=hex:00,00,00,00\n"
                                    "\"ResultView\"=hex:00,00,00,00\n"
                                    "\"TruncValue\"=hex:00,00,00,00\n"
                                    "\"RecordNum\"=hex:01,00,00,00\n"
                                    "\"Editor\"=\"notepad\"\n"
                                    "\"ErrorBeep\"=hex:01,00,00,00\n");
    // An empty stored editor stands for the default.
    WriteFile(File(), std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\Orvanta\\Setting]\n\"Editor\"=\"\"\n");
    s.editor = L"vi";
    orva::LoadSettings();
    EXPECT_EQ(s.editor, L"notepad");
    EXPECT_TRUE(s.print.showIndex);  // a key without the value: the stored default
}

}  // namespace
