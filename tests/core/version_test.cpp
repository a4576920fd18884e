#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zentra/strtable.h"
#include "zentra/version.h"

using namespace zentra;

namespace {

// The block an Orvanta program compiles in.
VersionBlock ProgramBlock() {
    return VersionBlock{
        {0x04B00409u},
        {{L"040904B0",
          {{L"ProductName", L"Orvanta"}, {L"ProductVersion", L"3, 0, 0, 1"}, {L"FileVersion", L"3, 0, 0, 1"}}}}};
}

// Each test starts with no registered block and empty caches (they are process-wide).
class VersionInfo : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        RegisterVersionBlock(nullptr);
        CAppVersionInfo::m_csFileVersion.clear();
        CAppVersionInfo::m_csProductVersion.clear();
    }
};

}  // namespace

TEST(VersionFormat, FourNumbersToDottedText) {
    EXPECT_EQ(CAppVersionInfo::FormatVersion(L"3, 0, 0, 1"), L"3.0.01");
    EXPECT_EQ(CAppVersionInfo::FormatVersion(L"3, 1, 0, 0"), L"3.1");
    EXPECT_EQ(CAppVersionInfo::FormatVersion(L"1, 0, 3, 0"), L"1.0.3");
    EXPECT_EQ(CAppVersionInfo::FormatVersion(L"1, 2, 3, 4"), L"1.2.34");
    EXPECT_EQ(CAppVersionInfo::FormatVersion(L"0, 0, 0, 0"), L"");
    EXPECT_EQ(CAppVersionInfo::FormatVersion(L""), L"");
    EXPECT_EQ(CAppVersionInfo::FormatVersion(L" \t "), L"");
    EXPECT_EQ(CAppVersionInfo::FormatVersion(L"0, 0, 0, 7"), L"0.0.07");
    EXPECT_EQ(CAppVersionInfo::FormatVersion(L"  10,20,30,40 "), L"10.20.3040");
    // Only leading digits count; a field without them is 0.
    EXPECT_EQ(CAppVersionInfo::FormatVersion(L"2beta, x, 5, 0"), L"2.0.5");
    // Without a separator the remaining text gives every further number.
    EXPECT_EQ(CAppVersionInfo::FormatVersion(L"3"), L"3.3.33");
    EXPECT_EQ(CAppVersionInfo::FormatVersion(L"3, 2"), L"3.2.22");
    // A huge field does not overflow.
    EXPECT_EQ(CAppVersionInfo::FormatVersion(L"99999999999999999999, 0, 0, 0"), L"2147483647");
}

TEST(VersionBlockQuery, TranslationAndStrings) {
    VersionBlock block = ProgramBlock();
    const void* value = nullptr;
    unsigned length = 0;
    ASSERT_TRUE(VerQueryValue(block, L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    // Language 0x0409 then code page 0x04B0, each a little-endian 16-bit word.
    const auto* bytes = static_cast<const unsigned char*>(value);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 4), (std::vector<unsigned char>{0x09, 0x04, 0xB0, 0x04}));

    ASSERT_TRUE(VerQueryValue(block, L"\\StringFileInfo\\040904b0\\productname", &value, &length));
    EXPECT_EQ(CString(static_cast<const wchar_t*>(value)), L"Orvanta");
    EXPECT_EQ(length, 8u);  // with the terminating NUL

    for (const wchar_t* path : {L"\\StringFileInfo\\040904B0\\SpecialBuild", L"\\StringFileInfo\\040704B0\\ProductName",
                                L"\\StringFileInfo\\040904B0", L"\\VarFileInfo", L""})
        EXPECT_FALSE(VerQueryValue(block, path, &value, &length)) << path;

    block.translations.clear();
    EXPECT_FALSE(VerQueryValue(block, L"\\VarFileInfo\\Translation", &value, &length));
}

TEST_F(VersionInfo, ProgramBlockIsReadUnderItsTranslation) {
    VersionBlock block = ProgramBlock();
    RegisterVersionBlock(&block);
    EXPECT_EQ(CAppVersionInfo::GetVersionInfo(nullptr, L"ProductName"), L"Orvanta");
    EXPECT_EQ(CAppVersionInfo::GetVersionInfo(nullptr, L"ProductVersion"), L"3, 0, 0, 1");
    EXPECT_EQ(CAppVersionInfo::GetVersionInfo(nullptr, L"Comments"), L"");
    EXPECT_EQ(CAppVersionInfo::GetProductVersionX(), L"3.0.01");
    // No "SpecialBuild" value: nothing between the blank and the closing parenthesis.
    EXPECT_EQ(CAppVersionInfo::GetFileVersionX(), L"Version 3.0.01 (Build )");
    EXPECT_EQ(AppNameWithVersion(L"Orvanta Windows"), L"Orvanta Windows 3.0.01");

    // An explicit module is read instead of the registered one.
    VersionBlock german{{0x04E40407u}, {{L"040704E4", {{L"ProductName", L"Orvanta DE"}}}}};
    EXPECT_EQ(CAppVersionInfo::GetVersionInfo(&german, L"ProductName"), L"Orvanta DE");
}

TEST_F(VersionInfo, SingleTranslationOtherThanTheDefault) {
    VersionBlock block{
        {0x04E40407u},
        {{L"040704E4", {{L"ProductVersion", L"4, 1, 0, 0"}}}, {L"040904B0", {{L"ProductVersion", L"9, 9, 9, 9"}}}}};
    RegisterVersionBlock(&block);
    EXPECT_EQ(CAppVersionInfo::GetVersionInfo(nullptr, L"ProductVersion"), L"4, 1, 0, 0");
}

TEST_F(VersionInfo, TwoTranslationsReadUnderDefaultLanguageAnd04B0) {
    VersionBlock block{{0x04E40407u, 0x04E4040Cu},
                       {{L"040704E4", {{L"ProductVersion", L"1, 0, 0, 0"}}},
                        {L"040C04E4", {{L"ProductVersion", L"2, 0, 0, 0"}}},
                        {L"040904B0", {{L"ProductVersion", L"3, 0, 0, 1"}}}}};
    RegisterVersionBlock(&block);
    EXPECT_EQ(CAppVersionInfo::GetVersionInfo(nullptr, L"ProductVersion"), L"3, 0, 0, 1");

    // Without a table under that key the value is not found at all.
    block.stringTables.erase(L"040904B0");
    EXPECT_EQ(CAppVersionInfo::GetVersionInfo(nullptr, L"ProductVersion"), L"");
}

TEST_F(VersionInfo, NoBlockGivesEmptyTexts) {
    EXPECT_EQ(CAppVersionInfo::GetVersionInfo(nullptr, L"ProductVersion"), L"");
    EXPECT_EQ(CAppVersionInfo::GetProductVersionX(), L"");
    EXPECT_EQ(AppNameWithVersion(L"worva"), L"worva ");

    // An empty product version is not cached: once a block is there, it is read.
    VersionBlock block = ProgramBlock();
    RegisterVersionBlock(&block);
    EXPECT_EQ(CAppVersionInfo::GetProductVersionX(), L"3.0.01");
    // Cached from now on, even if the block goes away.
    RegisterVersionBlock(nullptr);
    EXPECT_EQ(CAppVersionInfo::GetProductVersionX(), L"3.0.01");
}

TEST_F(VersionInfo, FileVersionIsCachedOnce) {
    VersionBlock block = ProgramBlock();
    block.stringTables[L"040904B0"][L"SpecialBuild"] = L"nightly 42";
    RegisterVersionBlock(&block);
    EXPECT_EQ(CAppVersionInfo::GetFileVersionX(), L"Version 3.0.01 (Build nightly 42)");
    block.stringTables[L"040904B0"][L"FileVersion"] = L"4, 0, 0, 0";
    EXPECT_EQ(CAppVersionInfo::GetFileVersionX(), L"Version 3.0.01 (Build nightly 42)");
    EXPECT_EQ(CAppVersionInfo::m_csFileVersion, L"Version 3.0.01 (Build nightly 42)");
}

TEST_F(VersionInfo, NameFromTheStringTable) {
    static const StringTableEntry kStrings[] = {{61901, L"Orvanta Windows"}};
    RegisterStringTable(kStrings, 1);
    VersionBlock block = ProgramBlock();
    RegisterVersionBlock(&block);
    EXPECT_EQ(AppNameWithVersion(61901u), L"Orvanta Windows 3.0.01");
}
