#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "tempdir.h"
#include "zentra/format.h"
#include "zentra/settings.h"

using namespace zentra;

namespace {

// Points the registry at fresh temporary directories for the life of a test.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(setenv("XDG_CONFIG_HOME", config_.c_str(), 1), 0);
        ASSERT_EQ(setenv("XDG_CONFIG_DIRS", system_.c_str(), 1), 0);
    }

    std::string UserFile() const { return config_ + "/orvanta/registry.reg"; }
    // The user's file holds every one of `lines`.
    void ExpectFileHas(std::initializer_list<std::string> lines) const {
        const std::string file = ReadFile(UserFile());
        for (const auto& line : lines) EXPECT_NE(file.find(line), std::string::npos) << line << "\n" << file;
    }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void WriteFile(const std::string& path, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::filesystem::remove(path);  // a fresh file: ext4 flushes files replaced by truncation
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    testdb::TempDir dir_{"orvanta-settings"};
    const std::string root_ = dir_.str();
    const std::string config_ = root_ + "/config";  // not there yet: the first write creates it
    const std::string system_ = root_ + "/system";
};

const char kHeader[] = "Windows Registry Editor Version 5.00\n";

}  // namespace

// ---- the system's settings -------------------------------------------------------------------

TEST_F(SettingsTest, DefaultsWhenNothingIsStored) {
    CSetting s;
    EXPECT_EQ(s.GetServerType(), 0u);
    EXPECT_EQ(s.GetServerHost(), L"127.0.0.1");
    EXPECT_EQ(s.GetServerPort(), 0);
    EXPECT_EQ(s.GetUserName(), L"");
    EXPECT_EQ(s.GetDatabase(), L"");
    EXPECT_EQ(s.GetResultViewType(), 0);
    EXPECT_EQ(s.GetTruncValue(), 0);
    EXPECT_EQ(s.GetDisplayRecordNum(), 1);
    EXPECT_EQ(s.GetAutoWrap(), 1);
    EXPECT_EQ(s.GetErrorBeep(), 1);

    CString text = L"junk";
    EXPECT_EQ(s.GetEditor(text), 0);
    EXPECT_EQ(text, L"notepad");
    text = L"junk";
    EXPECT_EQ(s.GetSQLPrompt(text), 0);
    EXPECT_EQ(text, L"SQL> ");

    CStringArray history = {L"left over"};
    EXPECT_EQ(s.GetHistoryCommands(&history), 0);
    EXPECT_TRUE(history.empty());

    // Reading creates nothing.
    EXPECT_FALSE(std::filesystem::exists(config_));
}

TEST_F(SettingsTest, ConnectionValuesNeedTheKeyThatTypeCreates) {
    {
        CSetting s;
        s.SetServerHost(L"db.example");
        s.SetServerPort(5432);
        s.SetUserName(L"scott");
        s.SetErrorBeep(0);  // the setting key doesn't exist either
    }
    {
        CSetting s;
        EXPECT_EQ(s.GetServerHost(), L"127.0.0.1");
        EXPECT_EQ(s.GetServerPort(), 0);
        EXPECT_EQ(s.GetUserName(), L"");
        EXPECT_EQ(s.GetErrorBeep(), 1);
        EXPECT_EQ(s.KeyExists(L"Software\\Orvanta\\Connection"), 0);

        s.SetServerType(7);
        // The key exists now, without a "Host": an empty host, not the default address.
        EXPECT_EQ(s.GetServerHost(), L"");
        s.SetServerHost(L"db.example");
        s.SetServerPort(5432);
        s.SetUserName(L"scott");
        s.SetDatabase(L"sales");
    }
    CSetting s;
    EXPECT_EQ(s.GetServerType(), 7u);
    EXPECT_EQ(s.GetServerHost(), L"db.example");
    EXPECT_EQ(s.GetServerPort(), 5432);
    EXPECT_EQ(s.GetUserName(), L"scott");
    EXPECT_EQ(s.GetDatabase(), L"sales");

    // Stored as the file's sections and 4-byte little-endian binaries.
    ExpectFileHas({"[HKEY_CURRENT_USER\\Software\\Orvanta\\Connection]\n", "\"Type\"=hex:07,00,00,00\n",
                   "\"Port\"=hex:38,15,00,00\n", "\"Host\"=\"db.example\"\n"});
    EXPECT_EQ(ReadFile(UserFile()).rfind(kHeader, 0), 0u);
}

TEST_F(SettingsTest, DisplayOptionsRoundTrip) {
    {
        CSetting s;
        s.SetSQLPrompt(L"orva> ");
        s.SetResultViewType(1);
        s.SetTruncValue(1);
        s.SetDisplayRecordNum(0);
        EXPECT_EQ(s.SetEditor(L"vim -n"), 1);
        s.SetAutoWrap(0);
        s.SetErrorBeep(0);  // the key exists by now
    }
    CSetting s;
    CString text;
    EXPECT_EQ(s.GetSQLPrompt(text), 1);
    EXPECT_EQ(text, L"orva> ");
    EXPECT_EQ(s.GetResultViewType(), 1);
    EXPECT_EQ(s.GetTruncValue(), 1);
    EXPECT_EQ(s.GetDisplayRecordNum(), 0);
    EXPECT_EQ(s.GetEditor(text), 1);
    EXPECT_EQ(text, L"vim -n");
    EXPECT_EQ(s.GetAutoWrap(), 0);
    EXPECT_EQ(s.GetErrorBeep(), 0);

    // An editor command too long to store is refused and the old one stays.
    EXPECT_EQ(s.SetEditor(CString(300, L'e').c_str()), 0);
    EXPECT_EQ(s.GetEditor(text), 1);
    EXPECT_EQ(text, L"vim -n");
}

TEST_F(SettingsTest, SettingKeyWithoutTheValuesGivesDefaults) {
    CRegistry r;
    ASSERT_EQ(r.CreateKey(L"Software\\Orvanta\\Setting"), 1);
    CSetting s;
    CString text;
    EXPECT_EQ(s.GetEditor(text), 1);
    EXPECT_EQ(text, L"notepad");
    EXPECT_EQ(s.GetSQLPrompt(text), 1);
    EXPECT_EQ(text, L"SQL> ");
    EXPECT_EQ(s.GetDisplayRecordNum(), 1);
    CStringArray history = {L"x"};
    EXPECT_EQ(s.GetHistoryCommands(&history), 1);
    EXPECT_TRUE(history.empty());
}

TEST_F(SettingsTest, ShorterHistoryLeavesHigherItemsButReadsItsOwnCount) {
    CSetting s;
    CStringArray five = {L"select 1", L"select 2", L"select 3", L"select 4", L"select 5"};
    ASSERT_EQ(s.SetHistoryCommands(&five), 1);
    CStringArray three = {L"a", L"b", L"c"};
    ASSERT_EQ(s.SetHistoryCommands(&three), 1);

    ASSERT_EQ(s.SetKey(L"Software\\Orvanta\\Setting", 0), 1);
    EXPECT_EQ(s.ReadInt(L"History Count", -1), 3);
    EXPECT_EQ(s.ReadString(L"Item 3", L""), L"select 4");
    EXPECT_EQ(s.ReadString(L"Item 4", L""), L"select 5");

    CStringArray read;
    EXPECT_EQ(s.GetHistoryCommands(&read), 1);
    EXPECT_EQ(read, three);
}

TEST_F(SettingsTest, EmptyAndMissingHistoryItemsAreSkipped) {
    CSetting s;
    CStringArray items = {L"one", L"", L"three"};
    ASSERT_EQ(s.SetHistoryCommands(&items), 1);
    ASSERT_EQ(s.SetKey(L"Software\\Orvanta\\Setting", 0), 1);
    EXPECT_EQ(s.ValueExists(L"Item 1"), 1);  // stored, but empty
    ASSERT_EQ(s.DeleteValue(L"Item 2"), 1);

    CStringArray read;
    EXPECT_EQ(s.GetHistoryCommands(&read), 1);
    EXPECT_EQ(read, (CStringArray{L"one"}));
}

TEST_F(SettingsTest, HistoryItemTooLongLeavesNoOlderCommandBehind) {
    CSetting s;
    CStringArray first = {L"select a", L"drop table important", L"select c"};
    ASSERT_EQ(s.SetHistoryCommands(&first), 1);

    CString longStatement = L"select " + CString(300, L'x') + L" from t";
    CStringArray second = {L"select a", longStatement, L"select c"};
    ASSERT_EQ(s.SetHistoryCommands(&second), 1);

    CStringArray read;
    ASSERT_EQ(s.GetHistoryCommands(&read), 1);
    // Never the statement that was stored under "Item 1" before.
    EXPECT_EQ(read, (CStringArray{L"select a", L"select c"}));
    ASSERT_EQ(s.SetKey(L"Software\\Orvanta\\Setting", 0), 1);
    EXPECT_EQ(s.ValueExists(L"Item 1"), 0);
    EXPECT_EQ(s.ReadInt(L"History Count", -1), 3);

    // 254 code units is the longest item that is kept.
    CStringArray edge = {CString(254, L'q'), CString(255, L'r')};
    ASSERT_EQ(s.SetHistoryCommands(&edge), 1);
    ASSERT_EQ(s.GetHistoryCommands(&read), 1);
    EXPECT_EQ(read, (CStringArray{CString(254, L'q')}));
}

TEST_F(SettingsTest, DamagedHistoryCountDoesNotRunAway) {
    WriteFile(UserFile(), std::string(kHeader) +
                              "[HKEY_CURRENT_USER\\Software\\Orvanta\\Setting]\n"
                              "\"History Count\"=hex:ff,ff,ff,7f\n"
                              "\"Item 0\"=\"first\"\n"
                              "\"Item 007\"=\"not an item name\"\n"
                              "\"Item 40000\"=\"far\"\n");
    CSetting s;
    CStringArray read;
    ASSERT_EQ(s.GetHistoryCommands(&read), 1);
    EXPECT_EQ(read, (CStringArray{L"first", L"far"}));
}

// ---- the registry accessor -------------------------------------------------------------------

TEST_F(SettingsTest, RootKeysAndCurrentPath) {
    CRegistry r;
    EXPECT_EQ(r.GetRootKey(), HKEY_CURRENT_USER);
    EXPECT_EQ(r.GetCurrentPath(), L"");
    EXPECT_EQ(r.PathIsValid(), 0);

    EXPECT_EQ(r.SetRootKey(HKEY_CURRENT_CONFIG), 0);
    EXPECT_EQ(r.SetRootKey(HKEY_PERFORMANCE_DATA), 0);
    EXPECT_EQ(r.SetRootKey(nullptr), 0);
    EXPECT_EQ(r.GetRootKey(), HKEY_CURRENT_USER);
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER}) {
        EXPECT_EQ(r.SetRootKey(root), 1);
        EXPECT_EQ(r.GetRootKey(), root);
    }

    ASSERT_EQ(r.CreateKey(L"Software\\Test"), 1);
    EXPECT_EQ(r.GetCurrentPath(), L"Software\\Test");
    EXPECT_EQ(r.PathIsValid(), 1);
    // A key that doesn't exist leaves the path as it was.
    EXPECT_EQ(r.SetKey(L"Software\\Missing", 0), 0);
    EXPECT_EQ(r.GetCurrentPath(), L"Software\\Test");
    // Malformed paths are refused, even with create.
    for (const wchar_t* bad : {L"\\Software", L"Software\\\\Test", L"Software\\Test\\", L"Soft\nware"})
        EXPECT_EQ(r.SetKey(bad, 1), 0);
    EXPECT_EQ(r.GetCurrentPath(), L"Software\\Test");
    // Letter case doesn't matter.
    EXPECT_EQ(r.SetKey(L"SOFTWARE\\test", 0), 1);

    EXPECT_EQ(r.SetRootKey(HKEY_LOCAL_MACHINE), 1);
    EXPECT_EQ(r.ClearKey(), 1);
    EXPECT_EQ(r.GetRootKey(), HKEY_CURRENT_USER);
    EXPECT_EQ(r.GetCurrentPath(), L"");
    EXPECT_EQ(r.SetKey(L"Software\\Test", 0), 1);
    EXPECT_EQ(r.SetKey(L"", 0), 1);
    EXPECT_EQ(r.GetCurrentPath(), L"");
}

TEST_F(SettingsTest, KeysCountsAndDeletion) {
    CRegistry r;
    ASSERT_EQ(r.SetKey(L"Software\\A\\B\\C", 1), 1);
    ASSERT_EQ(r.CreateKey(L"Software\\A\\D"), 1);
    EXPECT_EQ(r.KeyExists(L"Software\\A"), 1);
    EXPECT_EQ(r.KeyExists(L"Software\\A\\B"), 1);
    EXPECT_EQ(r.KeyExists(L"Software\\A\\B", HKEY_LOCAL_MACHINE), 0);
    EXPECT_EQ(r.KeyExists(L"Software\\AB"), 0);

    ASSERT_EQ(r.SetKey(L"Software\\A", 0), 1);
    EXPECT_EQ(r.GetSubKeyCount(), 2);
    EXPECT_EQ(r.GetValueCount(), 0);
    ASSERT_EQ(r.WriteInt(L"one", 1), 1);
    ASSERT_EQ(r.WriteString(L"two", L"2"), 1);
    EXPECT_EQ(r.GetValueCount(), 2);
    EXPECT_EQ(r.WriteInt(L"ONE", 11), 1);  // the same value, whatever the case
    EXPECT_EQ(r.GetValueCount(), 2);
    EXPECT_EQ(r.ReadInt(L"one", 0), 11);

    // A key with subkeys is not deleted; a leaf is; a missing key counts as deleted.
    EXPECT_EQ(r.DeleteKey(L"Software\\A\\B"), 0);
    EXPECT_EQ(r.DeleteKey(L"Software\\A\\B\\C"), 1);
    EXPECT_EQ(r.KeyExists(L"Software\\A\\B\\C"), 0);
    EXPECT_EQ(r.DeleteKey(L"Software\\A\\B"), 1);
    EXPECT_EQ(r.DeleteKey(L"Software\\Nothing"), 1);
    EXPECT_EQ(r.GetSubKeyCount(), 1);

    // Counts of a path that is gone fail; writes there fail too.
    ASSERT_EQ(r.SetKey(L"Software\\A\\D", 0), 1);
    ASSERT_EQ(r.DeleteKey(L"Software\\A\\D"), 1);
    EXPECT_EQ(r.GetSubKeyCount(), -1);
    EXPECT_EQ(r.GetValueCount(), -1);
    EXPECT_EQ(r.WriteInt(L"x", 1), 0);
    EXPECT_EQ(r.KeyExists(L"Software\\A\\D"), 0);

    ASSERT_EQ(r.SetKey(L"Software\\A", 0), 1);
    EXPECT_EQ(r.DeleteValue(L"two"), 1);
    EXPECT_EQ(r.DeleteValue(L"two"), 0);
    EXPECT_EQ(r.ValueExists(L"two"), 0);
    EXPECT_EQ(r.GetDataSize(L"two"), -1);
    EXPECT_EQ(r.GetDataType(L"two"), 0u);

    EXPECT_EQ(r.RenameValue(L"one", L"uno"), 1);
    EXPECT_EQ(r.ValueExists(L"one"), 0);
    EXPECT_EQ(r.ReadInt(L"uno", 0), 11);
    ASSERT_EQ(r.WriteInt(L"dos", 2), 1);
    EXPECT_EQ(r.RenameValue(L"uno", L"dos"), 0);  // taken
    EXPECT_EQ(r.RenameValue(L"nada", L"tres"), 0);
    EXPECT_EQ(r.ReadInt(L"dos", 0), 2);
}

TEST_F(SettingsTest, TextLimitsAndTypes) {
    CRegistry r;
    ASSERT_EQ(r.CreateKey(L"Software\\T"), 1);

    CString text254(254, L'a');
    ASSERT_EQ(r.WriteString(L"s", text254), 1);
    EXPECT_EQ(r.ReadString(L"s", L"default"), text254);
    EXPECT_EQ(r.GetDataSize(L"s"), 255 * 2);  // UTF-16 with its terminating zero
    EXPECT_EQ(r.GetDataType(L"s"), REG_SZ);
    EXPECT_EQ(r.WriteString(L"s", CString(255, L'b')), 0);
    EXPECT_EQ(r.ReadString(L"s", L"default"), text254);

    // The limit counts UTF-16 code units: a character outside the BMP takes two.
    CString wide127(127, L'\U0001F600');
    EXPECT_EQ(r.WriteString(L"w", wide127), 1);
    EXPECT_EQ(r.ReadString(L"w", L""), wide127);
    EXPECT_EQ(r.WriteString(L"w", wide127 + L"x"), 0);

    // A text ends at its first zero, as a C string does.
    ASSERT_EQ(r.WriteString(L"z", CString(L"ab\0cd", 5)), 1);
    EXPECT_EQ(r.ReadString(L"z", L""), L"ab");

    // Strings only from REG_SZ / REG_EXPAND_SZ; an overlong stored text gives the default.
    ASSERT_EQ(r.WriteInt(L"i", 0x00410041), 1);
    EXPECT_EQ(r.ReadString(L"i", L"dflt"), L"dflt");
    std::string hex255;
    for (int i = 0; i < 255; ++i) hex255 += "41,00,";
    WriteFile(UserFile(), std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\T]\n" +
                              "\"exp\"=hex(2):25,00,50,00,25,00,00,00\n"
                              "\"long\"=hex(1):" +
                              hex255 +
                              "00,00\n"
                              "\"toolong\"=hex(1):" +
                              hex255 +
                              "41,00,00,00\n"
                              "\"short\"=hex:05,01\n"
                              "\"d\"=dword:0000002a\n");
    EXPECT_EQ(r.ReadString(L"exp", L""), L"%P%");
    EXPECT_EQ(r.GetDataType(L"exp"), REG_EXPAND_SZ);
    EXPECT_EQ(r.ReadString(L"long", L""), CString(255, L'A'));
    EXPECT_EQ(r.ReadString(L"toolong", L"dflt"), L"dflt");
    // Binary reads take any value up to their size, whatever its type.
    EXPECT_EQ(r.ReadInt(L"short", -1), 0x105);
    EXPECT_EQ(r.ReadInt(L"d", -1), 42);
    EXPECT_EQ(r.GetDataType(L"d"), REG_DWORD);
    EXPECT_EQ(r.ReadInt(L"exp", -1), -1);      // 8 bytes don't fit an int
    EXPECT_NE(r.ReadFloat(L"exp", 1.5), 1.5);  // 8 bytes are a double's worth
    EXPECT_EQ(r.ReadFloat(L"long", 1.5), 1.5);
}

TEST_F(SettingsTest, BinaryValuesKeepTheirSizes) {
    CRegistry r;
    ASSERT_EQ(r.CreateKey(L"Software\\B"), 1);

    ASSERT_EQ(r.WriteInt(L"int", -2), 1);
    ASSERT_EQ(r.WriteBool(L"bool", 1), 1);
    ASSERT_EQ(r.WriteDword(L"dword", 0xDEADBEEF), 1);
    ASSERT_EQ(r.WriteColor(L"color", 0x00FF8000), 1);
    ASSERT_EQ(r.WriteFloat(L"float", -1234.5625), 1);
    CPoint point{-3, 4};
    CSize size{640, 480};
    CRect rect{1, 2, 3, -4};
    ASSERT_EQ(r.WritePoint(L"point", &point), 1);
    ASSERT_EQ(r.WriteSize(L"size", &size), 1);
    ASSERT_EQ(r.WriteRect(L"rect", &rect), 1);
    COleDateTime when;
    when.m_dt = 45000.75;
    when.m_status = COleDateTime::valid;
    ASSERT_EQ(r.WriteDateTime(L"date", when), 1);
    LOGFONTW lf;
    lf.lfHeight = -12;
    lf.lfWeight = 700;
    lf.lfItalic = 1;
    lf.lfCharSet = 204;
    std::u16string face = u"Fixed Sys \u00E9";
    std::copy(face.begin(), face.end(), lf.lfFaceName);
    CFont font;
    ASSERT_EQ(font.CreateFontIndirect(&lf), 1);
    ASSERT_EQ(r.WriteFont(L"font", &font), 1);
    CFont none;
    EXPECT_EQ(r.WriteFont(L"nofont", &none), 0);
    EXPECT_EQ(r.WritePoint(L"nopoint", nullptr), 0);

    struct Expect {
        const wchar_t* name;
        int size;
    };
    for (auto [name, bytes] :
         {Expect{L"int", 4}, Expect{L"bool", 4}, Expect{L"dword", 4}, Expect{L"color", 4}, Expect{L"float", 8},
          Expect{L"point", 8}, Expect{L"size", 8}, Expect{L"rect", 16}, Expect{L"date", 12}, Expect{L"font", 92}}) {
        EXPECT_EQ(r.GetDataSize(name), bytes) << name;
        EXPECT_EQ(r.GetDataType(name), REG_BINARY) << name;
    }
    EXPECT_EQ(r.ValueExists(L"nofont"), 0);

    EXPECT_EQ(r.ReadInt(L"int", 0), -2);
    EXPECT_EQ(r.ReadBool(L"bool", 0), 1);
    EXPECT_EQ(r.ReadDword(L"dword", 0), 0xDEADBEEFu);
    EXPECT_EQ(r.ReadColor(L"color", 0), 0x00FF8000u);
    EXPECT_EQ(r.ReadFloat(L"float", 0), -1234.5625);
    CPoint p2;
    CSize s2;
    CRect r2;
    ASSERT_EQ(r.ReadPoint(L"point", &p2) + r.ReadSize(L"size", &s2) + r.ReadRect(L"rect", &r2), 3);
    EXPECT_EQ((std::vector<long>{p2.x, p2.y, s2.cx, s2.cy, r2.left, r2.top, r2.right, r2.bottom}),
              (std::vector<long>{-3, 4, 640, 480, 1, 2, 3, -4}));
    COleDateTime fallback;
    fallback.m_status = COleDateTime::null;
    COleDateTime got = r.ReadDateTime(L"date", fallback);
    EXPECT_EQ(got.m_dt, 45000.75);
    EXPECT_EQ(got.m_status, COleDateTime::valid);
    EXPECT_EQ(r.ReadDateTime(L"font", fallback).m_status, COleDateTime::null);  // too big
    CFont back;
    ASSERT_EQ(r.ReadFont(L"font", &back), 1);
    LOGFONTW lf2;
    ASSERT_EQ(back.GetLogFont(&lf2), 1);
    EXPECT_EQ((std::vector<long>{lf2.lfHeight, lf2.lfWeight, lf2.lfItalic, lf2.lfCharSet}),
              (std::vector<long>{-12, 700, 1, 204}));
    EXPECT_EQ(std::u16string(lf2.lfFaceName), face);

    // The stored bytes are little-endian.
    ExpectFileHas({"\"int\"=hex:fe,ff,ff,ff\n", "\"dword\"=hex:ef,be,ad,de\n",
                   "\"rect\"=hex:01,00,00,00,02,00,00,00,03,00,00,00,fc,ff,ff,ff\n"});

    // Reads from a missing value or key: defaults and 0.
    EXPECT_EQ(r.ReadInt(L"missing", 99), 99);
    EXPECT_EQ(r.ReadPoint(L"missing", &p2), 0);
    ASSERT_EQ(r.SetKey(L"", 0), 1);
    EXPECT_EQ(r.ReadFloat(L"float", 2.5), 2.5);
}

TEST_F(SettingsTest, FileAndDirectoryArePrivate) {
    mode_t old = umask(0);  // the modes must not depend on a permissive umask
    CSetting s;
    s.SetAutoWrap(0);
    umask(old);

    struct stat st {};
    ASSERT_EQ(stat((config_ + "/orvanta").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(UserFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(s.GetAutoWrap(), 0);

    // A file made readable by others is replaced by a private one on the next write.
    ASSERT_EQ(chmod(UserFile().c_str(), 0644), 0);
    s.SetAutoWrap(1);
    ASSERT_EQ(stat(UserFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // No temporary files are left behind.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(config_ + "/orvanta")) {
        std::string name = entry.path().filename();
        EXPECT_TRUE(name == "registry.reg" || name == "registry.reg.lock") << name;
        ++files;
    }
    EXPECT_EQ(files, 2);
}

TEST_F(SettingsTest, AwkwardNamesAndTextsRoundTrip) {
    const CString names[] = {
        L"",  // the key's default value
        L"quote \" inside",
        L"back\\slash\\",
        L"a=b=\"c\"",
        L"line\nbreak\r\nand\ttab",
        L"[not a section]",
        L"; not a comment",
        L"@",
        L"Ünïcödé 名前 \U0001F600",
        L"\"",
        L"\\\"",
    };
    const CString texts[] = {
        L"",
        L"say \"hi\"",
        L"C:\\temp\\new\\",
        L"x=1; y = \"2\"",
        L"select *\r\nfrom t\nwhere a = '\\n'",
        L"\"",
        L"\\",
        L"tab\there",
        L"Ünïcödé 中文 \U0001F600",
        L"]\n[HKEY_CURRENT_USER\\Evil]\n\"x\"=\"y\"",
    };
    {
        CRegistry r;
        ASSERT_EQ(r.CreateKey(L"Software\\Odd key [1] = \"x\" ÿ"), 1);
        int i = 0;
        for (const auto& name : names) {
            ASSERT_EQ(r.WriteString(name, texts[i % std::size(texts)]), 1) << i;
            ++i;
        }
    }
    CRegistry r;
    ASSERT_EQ(r.SetKey(L"Software\\Odd key [1] = \"x\" ÿ", 0), 1);
    EXPECT_EQ(r.GetValueCount(), static_cast<int>(std::size(names)));
    int i = 0;
    for (const auto& name : names) {
        EXPECT_EQ(r.ReadString(name, L"<missing>"), texts[i % std::size(texts)]) << i;
        ++i;
    }
    EXPECT_EQ(r.KeyExists(L"Evil"), 0);

    // Every value sits on one line of the file.
    std::string file = ReadFile(UserFile());
    size_t lines = static_cast<size_t>(std::count(file.begin(), file.end(), '\n'));
    // The header, a blank line and a header for "Software" and for the key, and the values.
    EXPECT_EQ(lines, 1 + 2 * 2 + std::size(names)) << file;
}

TEST_F(SettingsTest, BadLinesAreSkippedAndTheRestIsRead) {
    WriteFile(UserFile(), std::string(kHeader) +
                              "\"before\"=\"any section\"\n"
                              "\n"
                              "[HKEY_CURRENT_USER\\Software\\Orvanta\\Setting]\r\n"
                              "\"ResultView\"=hex:01,00,00,00\r\n"
                              "\"Broken=\"no closing quote\n"
                              "\"BadHex\"=hex:01,zz,00,00\n"
                              "\"BadType\"=hex(zz):01\n"
                              "\"Junk\"=\"text\" trailing\n"
                              "garbage line without quotes\n"
                              "; a comment\n"
                              "  \"TruncValue\" = hex:01,\\\n"
                              "      00,00,00\n"
                              "\"Editor\"=\"vi\"\n"
                              "[HKEY_NOWHERE\\Software]\n"
                              "\"Prompt\"=\"lost> \"\n"
                              "[-HKEY_CURRENT_USER\\Software\\Gone]\n"
                              "\"Prompt\"=\"also lost> \"\n"
                              "[HKEY_CURRENT_USER\\Software\\Orvanta\\Setting\n"
                              "\"AutoWrap\"=hex:00,00,00,00\n"
                              "[HKEY_CURRENT_USER\\Software\\Orvanta\\Connection]\n"
                              "\"Host\"=\"h\\\"q\"\n"
                              "\"Port\"=dword:00000cea\n"
                              "\"Username\"=\"torn");
    CSetting s;
    EXPECT_EQ(s.GetResultViewType(), 1);
    EXPECT_EQ(s.GetTruncValue(), 1);  // joined continuation line
    CString text;
    EXPECT_EQ(s.GetEditor(text), 1);
    EXPECT_EQ(text, L"vi");
    EXPECT_EQ(s.GetSQLPrompt(text), 1);
    EXPECT_EQ(text, L"SQL> ");
    EXPECT_EQ(s.GetAutoWrap(), 1);  // its section header is broken
    EXPECT_EQ(s.GetServerHost(), L"h\"q");
    EXPECT_EQ(s.GetServerPort(), 3306);
    EXPECT_EQ(s.GetUserName(), L"");
    ASSERT_EQ(s.SetKey(L"Software\\Orvanta\\Setting", 0), 1);
    EXPECT_EQ(s.ValueExists(L"BadHex"), 0);
    EXPECT_EQ(s.ValueExists(L"Junk"), 0);
    EXPECT_EQ(s.GetValueCount(), 3);

    // The next write keeps what was readable and drops the rest.
    s.SetErrorBeep(0);
    CSetting again;
    EXPECT_EQ(again.GetErrorBeep(), 0);
    EXPECT_EQ(again.GetResultViewType(), 1);
    EXPECT_EQ(again.GetServerPort(), 3306);
}

TEST_F(SettingsTest, WindowsExportsWithByteOrderMarksAreRead) {
    std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Orvanta\\Setting]\r\n"
        "\"Editor\"=\"édit\"\r\n";
    WriteFile(UserFile(), "\xEF\xBB\xBF" + text);
    CString editor;
    EXPECT_EQ(CSetting().GetEditor(editor), 1);
    EXPECT_EQ(editor, L"édit");

    std::u16string utf16 =
        u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_CURRENT_USER\\Software\\Orvanta\\Setting]\r\n"
        u"\"Editor\"=\"\u00E9dit16\"\r\n";
    std::string bytes;
    for (char16_t u : utf16) {
        bytes.push_back(static_cast<char>(u & 0xFF));
        bytes.push_back(static_cast<char>(u >> 8));
    }
    WriteFile(UserFile(), bytes);
    EXPECT_EQ(CSetting().GetEditor(editor), 1);
    EXPECT_EQ(editor, L"édit16");
}

// A settings file with a server, a view type, an editor, six history items (quotes, backslashes,
// line breaks, non-ASCII) and a rectangle under another key, as the tests of damaged files start.
class DamagedSettings : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        for (int i = 0; i < 6; ++i) history.push_back(Format(L"select %d from \"t\\%d\"\nwhere é", i, i));
        {
            CSetting s;
            s.SetServerType(3);
            s.SetServerHost(L"host \"quoted\"");
            s.SetServerPort(1521);
            s.SetResultViewType(1);
            s.SetEditor(L"ed\\it");
            ASSERT_EQ(s.SetHistoryCommands(&history), 1);
            CRegistry r;
            ASSERT_EQ(r.CreateKey(L"Software\\Geo"), 1);
            CRect rect{1, 2, 3, 4};
            ASSERT_EQ(r.WriteRect(L"rect", &rect), 1);
        }
        full = ReadFile(UserFile());
        ASSERT_GT(full.size(), 500u);
    }
    CStringArray history;
    std::string full;
};

// Every cut of the file: what is complete is read exactly, nothing else is invented.
TEST_F(DamagedSettings, EveryCutReadsWhatIsCompleteAndInventsNothing) {
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        WriteFile(UserFile(), full.substr(0, cut));
        std::string kept = full.substr(0, cut);
        auto complete = [&](const std::string& line) { return kept.find(line + "\n") != std::string::npos; };
        CSetting s;
        UINT type = s.GetServerType();
        if (complete("\"Type\"=hex:03,00,00,00")) {
            EXPECT_EQ(type, 3u) << cut;
        }
        CString host = s.GetServerHost();
        EXPECT_TRUE(host == L"127.0.0.1" || host == L"" || host == L"host \"quoted\"") << cut;
        CString editor;
        s.GetEditor(editor);
        EXPECT_TRUE(editor == L"notepad" || editor == L"ed\\it") << cut;
        if (complete("\"Editor\"=\"ed\\\\it\"")) {
            EXPECT_EQ(editor, L"ed\\it") << cut;
        }
        CStringArray read;
        s.GetHistoryCommands(&read);
        EXPECT_LE(read.size(), history.size());
        for (const auto& item : read) EXPECT_NE(std::find(history.begin(), history.end(), item), history.end()) << cut;
        CRegistry r;
        CRect rect;
        if (r.SetKey(L"Software\\Geo", 0) && complete("\"rect\"=hex:01,00,00,00,02,00,00,00,03,00,00,00,04,00,00,00")) {
            ASSERT_EQ(r.ReadRect(L"rect", &rect), 1);
            EXPECT_EQ(rect.bottom, 4);
        }
    }
}

// Random damage (flipped, dropped and inserted bytes, and plain noise) never breaks reading, and a
// write on top of a damaged file gives a file that reads back.
TEST_F(DamagedSettings, RandomDamageNeverBreaksReadingOrTheNextWrite) {
    std::mt19937 random(12345);
    for (int round = 0; round < 300; ++round) {
        std::string damaged = full;
        int edits = 1 + static_cast<int>(random() % 20);
        for (int e = 0; e < edits && !damaged.empty(); ++e) {
            size_t at = random() % damaged.size();
            switch (random() % 3) {
            case 0: damaged[at] = static_cast<char>(random()); break;
            case 1: damaged.erase(at, 1 + random() % 8); break;
            default: damaged.insert(at, 1, "\"\\[]=,\n\r:@-\x80\xFF"[random() % 14]); break;
            }
        }
        if (round % 10 == 0) {
            damaged.resize(random() % 2000);
            for (auto& ch : damaged) ch = static_cast<char>(random());
        }
        WriteFile(UserFile(), damaged);
        CSetting s;
        s.GetServerType();
        s.GetServerHost();
        CString text;
        s.GetEditor(text);
        EXPECT_LE(text.size(), 255u);
        CStringArray read;
        s.GetHistoryCommands(&read);
        EXPECT_LE(read.size(), history.size() + 1);
        // A write on top of a damaged file gives a file that reads back.
        if (round % 30 == 0) {
            s.SetServerType(9);
            EXPECT_EQ(CSetting().GetServerType(), 9u) << round;
        }
    }
}

TEST_F(SettingsTest, ProgramsSavingAtOnceKeepEachOthersValues) {
    constexpr int kProcesses = 4;
    constexpr int kValues = 25;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    pid_t children[kProcesses];
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(gate[1]);
            char c;
            (void)!read(gate[0], &c, 1);  // all start when the gate closes
            int failures = 0;
            CRegistry r;
            if (!r.SetKey(L"Software\\Race", 1)) _exit(100);
            for (int v = 0; v < kValues; ++v) {
                if (!r.WriteInt(Format(L"p%d v%d", p, v), p * 1000 + v)) ++failures;
                if (!r.WriteString(Format(L"p%d s%d", p, v), Format(L"text %d/%d", p, v))) ++failures;
            }
            CSetting s;  // settings of both kinds from every program
            if (p % 2 == 0) {
                CStringArray items = {Format(L"history of %d", p)};
                if (!s.SetHistoryCommands(&items)) ++failures;
            } else {
                s.SetServerType(static_cast<UINT>(p));
            }
            _exit(failures);
        }
        children[p] = pid;
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }

    CRegistry r;
    ASSERT_EQ(r.SetKey(L"Software\\Race", 0), 1);
    EXPECT_EQ(r.GetValueCount(), kProcesses * kValues * 2);
    for (int p = 0; p < kProcesses; ++p) {
        for (int v = 0; v < kValues; ++v) {
            EXPECT_EQ(r.ReadInt(Format(L"p%d v%d", p, v), -1), p * 1000 + v);
            EXPECT_EQ(r.ReadString(Format(L"p%d s%d", p, v), L""), Format(L"text %d/%d", p, v));
        }
    }
    CSetting s;
    UINT type = s.GetServerType();
    EXPECT_TRUE(type == 1 || type == 3) << type;
    CStringArray items;
    ASSERT_EQ(s.GetHistoryCommands(&items), 1);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(items[0] == L"history of 0" || items[0] == L"history of 2") << items[0].size();
}

TEST_F(SettingsTest, OtherRootsAreReadOnlyFromTheSystemFile) {
    WriteFile(system_ + "/orvanta/registry.reg", std::string(kHeader) +
                                                     "[HKEY_LOCAL_MACHINE\\Software\\Orvanta]\n\"Vendor\"=\"site\"\n"
                                                     "[HKEY_CLASSES_ROOT\\.sql]\n@=\"SqlScript\"\n");
    CRegistry r;
    ASSERT_EQ(r.SetRootKey(HKEY_LOCAL_MACHINE), 1);
    ASSERT_EQ(r.SetKey(L"Software\\Orvanta", 0), 1);
    EXPECT_EQ(r.ReadString(L"Vendor", L""), L"site");
    EXPECT_EQ(r.WriteString(L"Vendor", L"mine"), 0);
    EXPECT_EQ(r.DeleteValue(L"Vendor"), 0);
    EXPECT_EQ(r.SetKey(L"Software\\New", 1), 0);
    EXPECT_EQ(r.DeleteKey(L"Software\\Orvanta"), 0);
    EXPECT_EQ(r.ReadString(L"Vendor", L""), L"site");
    EXPECT_EQ(r.KeyExists(L"Software\\Orvanta", HKEY_LOCAL_MACHINE), 1);

    ASSERT_EQ(r.SetRootKey(HKEY_CLASSES_ROOT), 1);
    ASSERT_EQ(r.SetKey(L".sql", 0), 1);
    EXPECT_EQ(r.ReadString(L"", L""), L"SqlScript");

    // The user's root doesn't see them, and nothing was written for the user.
    CRegistry user;
    EXPECT_EQ(user.KeyExists(L"Software\\Orvanta"), 0);
    EXPECT_FALSE(std::filesystem::exists(UserFile()));
}

// ---- files that are not settings -------------------------------------------------------------

namespace {

// Runs `body` in a child process that ends by itself after a few seconds (a read that blocks
// fails the test instead of hanging it); `asUser` runs it as the unprivileged user "nobody" when
// the test runs as root, so that file modes apply. The child's exit code: 0 when `body` held.
int RunInChild(const std::function<bool()>& body, bool asUser = false) {
    pid_t pid = fork();
    if (pid == 0) {
        alarm(5);
        if (asUser && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TEST_F(SettingsTest, UnreadableFileIsNeverReplaced) {
    const std::string stored =
        std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\Orvanta\\Connection]\n\"Host\"=\"db.example\"\n";
    WriteFile(UserFile(), stored);
    ASSERT_EQ(chmod(UserFile().c_str(), 0), 0);
    // The test directory is private to root: let "nobody" reach the file it must fail to read.
    ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(config_.c_str(), 65534, 65534), 0);
        ASSERT_EQ(chown((config_ + "/orvanta").c_str(), 65534, 65534), 0);
        ASSERT_EQ(chown(UserFile().c_str(), 65534, 65534), 0);
    }
    EXPECT_EQ(RunInChild(
                  [] {
                      CSetting s;
                      bool defaults = s.GetServerHost() == L"127.0.0.1";
                      bool told = s.GetLastErrorText().find(L"can't be read") != CString::npos;
                      s.BeginUpdate();
                      s.SetServerType(3);
                      s.SetEditor(L"vi");
                      bool refused = s.EndUpdate() == 0 && s.GetLastErrorText().find(L"not saved") != CString::npos;
                      return defaults && told && refused;
                  },
                  true),
              0);
    ASSERT_EQ(chmod(UserFile().c_str(), 0600), 0);
    EXPECT_EQ(ReadFile(UserFile()), stored);
}

TEST_F(SettingsTest, NothingIsWrittenThroughALinkOrOverAnotherUsersFile) {
    const std::string victim = root_ + "/victim";
    WriteFile(victim, "root:x:0:0:root:/root:/bin/bash\n");
    ASSERT_EQ(chmod(victim.c_str(), 0644), 0);
    std::filesystem::create_directories(config_ + "/orvanta");
    ASSERT_EQ(symlink(victim.c_str(), UserFile().c_str()), 0);

    CSetting s;
    s.SetAutoWrap(0);
    EXPECT_NE(s.GetLastErrorText().find(L"symbolic link"), CString::npos) << s.GetLastErrorText().size();
    EXPECT_EQ(s.SetEditor(L"vi"), 0);
    EXPECT_EQ(ReadFile(victim), "root:x:0:0:root:/root:/bin/bash\n");
    struct stat st {};
    ASSERT_EQ(stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ASSERT_EQ(lstat(UserFile().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // A regular file that belongs to someone else (root saving into a user's directory).
    if (geteuid() == 0) {
        ASSERT_EQ(unlink(UserFile().c_str()), 0);
        WriteFile(UserFile(), std::string(kHeader));
        ASSERT_EQ(chown(UserFile().c_str(), 65534, 65534), 0);
        CSetting other;
        EXPECT_EQ(other.SetEditor(L"vi"), 0);
        EXPECT_NE(other.GetLastErrorText().find(L"another user"), CString::npos);
        EXPECT_EQ(ReadFile(UserFile()), std::string(kHeader));
    }
}

TEST_F(SettingsTest, FifoDeviceDirectoryAndHugeFilesGiveDefaultsWithoutBlocking) {
    std::filesystem::create_directories(config_ + "/orvanta");
    auto defaultsAndNote = [](const wchar_t* note) {
        return [note] {
            CSetting s;
            CString editor;
            bool defaults = s.GetServerHost() == L"127.0.0.1" && s.GetEditor(editor) == 0 && editor == L"notepad";
            bool told = s.GetLastErrorText().find(note) != CString::npos;
            bool refused = s.SetEditor(L"vi") == 0;
            return defaults && told && refused;
        };
    };
    ASSERT_EQ(mkfifo(UserFile().c_str(), 0600), 0);
    EXPECT_EQ(RunInChild(defaultsAndNote(L"not a regular file")), 0);
    ASSERT_EQ(unlink(UserFile().c_str()), 0);

    ASSERT_EQ(symlink("/dev/zero", UserFile().c_str()), 0);
    EXPECT_EQ(RunInChild(defaultsAndNote(L"not a regular file")), 0);
    ASSERT_EQ(unlink(UserFile().c_str()), 0);

    ASSERT_EQ(mkdir(UserFile().c_str(), 0700), 0);
    EXPECT_EQ(RunInChild(defaultsAndNote(L"not a regular file")), 0);
    ASSERT_EQ(rmdir(UserFile().c_str()), 0);

    // Many megabytes are damage, not settings: not read, not replaced.
    std::string huge = std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\Orvanta\\Setting]\n";
    while (huge.size() < (5u << 20)) huge += "\"Editor\"=\"vi\"\n";
    WriteFile(UserFile(), huge);
    EXPECT_EQ(RunInChild(defaultsAndNote(L"too large")), 0);
    EXPECT_EQ(std::filesystem::file_size(UserFile()), huge.size());
}

TEST_F(SettingsTest, OneSaveMergesWithWhatOthersWroteMeanwhileAndWritesOnce) {
    CSetting first;
    first.SetServerType(3);
    CSetting s;
    ASSERT_EQ(s.BeginUpdate(), 1);
    s.SetEditor(L"vi");
    s.SetTruncValue(1);
    s.SetAutoWrap(0);
    CString editor;
    EXPECT_EQ(s.GetEditor(editor), 1);  // the collected writes are seen before they are saved
    EXPECT_EQ(editor, L"vi");
    struct stat before {};
    ASSERT_EQ(stat(UserFile().c_str(), &before), 0);
    // Another program saves in between.
    CSetting other;
    other.SetServerHost(L"db.example");
    struct stat between {};
    ASSERT_EQ(stat(UserFile().c_str(), &between), 0);
    EXPECT_NE(between.st_ino, before.st_ino);
    ASSERT_EQ(s.EndUpdate(), 1);
    EXPECT_EQ(s.GetLastErrorText(), L"");

    CSetting after;
    EXPECT_EQ(after.GetServerHost(), L"db.example");
    EXPECT_EQ(after.GetServerType(), 3u);
    EXPECT_EQ(after.GetEditor(editor), 1);
    EXPECT_EQ(editor, L"vi");
    EXPECT_EQ(after.GetTruncValue(), 1);
    EXPECT_EQ(after.GetAutoWrap(), 0);
}

TEST_F(SettingsTest, BytesThatAreNotUtf8StayInValuesNothingChanged) {
    const std::string latin1 = "\"Editor\"=\"caf\xE9 \xFF\"";
    WriteFile(UserFile(), std::string(kHeader) + "\n[HKEY_CURRENT_USER\\Software\\Orvanta\\Setting]\n" + latin1 +
                              "\n\"Prompt\"=\"x\xE9> \"\n");
    CSetting s;
    s.SetAutoWrap(0);
    s.SetSQLPrompt(L"SQL> ");
    const std::string file = ReadFile(UserFile());
    EXPECT_NE(file.find(latin1 + "\n"), std::string::npos) << file;
    EXPECT_EQ(file.find("x\xE9> "), std::string::npos) << "a changed value is written anew";
    EXPECT_NE(file.find("\"Prompt\"=\"SQL> \""), std::string::npos);
    CString editor;
    EXPECT_EQ(s.GetEditor(editor), 1);
    EXPECT_EQ(editor, L"caf\uFFFD \uFFFD");
}

TEST_F(SettingsTest, TemporaryFilesOfKilledSavesAreRemoved) {
    CSetting s;
    s.SetAutoWrap(0);
    const std::string dir = config_ + "/orvanta/";
    for (const char* name : {"registry.reg.tmp-AbC123", "registry.reg.tmp-zz9ZZ9", "registry.reg.tmp-keep",
                             "registry.reg.backup", "notes.txt"})
        WriteFile(dir + name, "partial");
    s.SetAutoWrap(1);
    EXPECT_FALSE(std::filesystem::exists(dir + "registry.reg.tmp-AbC123"));
    EXPECT_FALSE(std::filesystem::exists(dir + "registry.reg.tmp-zz9ZZ9"));
    for (const char* kept : {"registry.reg.tmp-keep", "registry.reg.backup", "notes.txt"})
        EXPECT_TRUE(std::filesystem::exists(dir + kept)) << kept;
    EXPECT_EQ(s.GetAutoWrap(), 1);
}
