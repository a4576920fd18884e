#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tempdir.h"
#include "zentra/codepage.h"
#include "zentra/textfile.h"

using namespace zentra;

namespace {

class TextFileTest : public ::testing::Test {
protected:
    CString Path(const char* name) const { return AsciiToWide(dir_ + "/" + name); }

    static void Put(const CString& path, const std::string& bytes) {
        std::ofstream out(WideToUtf8(path), std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static std::string Get(const CString& path) {
        std::ifstream in(WideToUtf8(path), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // UTF-16LE bytes of a text.
    static std::string Utf16Le(std::wstring_view text) {
        std::string bytes;
        for (char16_t u : WideToUtf16(text)) {
            bytes.push_back(static_cast<char>(u & 0xFF));
            bytes.push_back(static_cast<char>(u >> 8));
        }
        return bytes;
    }
    // Every line of the file as ReadString gives them.
    static CStringArray Lines(CStdioFileEx& file) {
        CStringArray lines;
        CString line;
        while (file.ReadString(line)) lines.push_back(line);
        return lines;
    }

    testdb::TempDir tmp_{"orvanta-textfile"};
    const std::string dir_ = tmp_.str();
};

}  // namespace

TEST_F(TextFileTest, Utf16FileWithMarkIsReadAsUtf16) {
    CString path = Path("u16.sql");
    const CString text = L"select 1\r\nfrom \u00E9t\u00E9 \U0001F600\n\nlast line";
    Put(path, "\xFF\xFE" + Utf16Le(text));
    EXPECT_TRUE(CStdioFileEx::IsFileUnicode(path));

    CStdioFileEx file;
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead));
    EXPECT_TRUE(file.IsFileUnicodeText());
    EXPECT_EQ(file.GetCharCount(), Utf16Le(text).size() / 2);  // UTF-16 code units after the mark
    EXPECT_EQ(Lines(file), (CStringArray{L"select 1", L"from \u00E9t\u00E9 \U0001F600", L"", L"last line"}));

    CString line = L"stale";
    EXPECT_FALSE(file.ReadString(line));
    EXPECT_EQ(line, L"");

    // Back to the start: the mark is skipped again.
    EXPECT_EQ(file.Seek(0, CStdioFile::begin), 0u);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, L"select 1");
}

TEST_F(TextFileTest, AnsiLinesEndWithCrLfOrLfAndTheLastNeedsNone) {
    CString path = Path("ansi.sql");
    const std::string text = "one\r\ntwo\n\r\n\nthree\rstill three\nlast";
    Put(path, text);
    EXPECT_FALSE(CStdioFileEx::IsFileUnicode(path));
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead | CStdioFile::typeText));
    EXPECT_FALSE(file.IsFileUnicodeText());
    EXPECT_EQ(file.GetCharCount(), text.size());
    EXPECT_EQ(Lines(file), (CStringArray{L"one", L"two", L"", L"", L"three\rstill three", L"last"}));

    // Only one carriage return is removed; a lone "\r" line becomes empty.
    Put(path, "a\r\r\n\r");
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead));
    EXPECT_EQ(Lines(file), (CStringArray{L"a\r", L""}));

    Put(path, "");
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead));
    CString line = L"x";
    EXPECT_FALSE(file.ReadString(line));
    EXPECT_EQ(line, L"");
    EXPECT_EQ(file.GetCharCount(), 0u);
}

TEST_F(TextFileTest, Utf8MarkIsSkippedOnlyWhenItIsThere) {
    CString path = Path("utf8.sql");
    CStdioFileEx file;
    CString line;

    Put(path, "\xEF\xBB\xBFselect '\xC3\xA9'\nx");
    for (UINT page : {65001u, CStdioFileEx::kAnsiCodePage}) {  // the ANSI code page is UTF-8 here
        ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead));
        file.SetCodePage(page);
        ASSERT_TRUE(file.ReadString(line));
        EXPECT_EQ(line, L"select '\u00E9'") << page;
        file.Seek(0, CStdioFile::begin);
        ASSERT_TRUE(file.ReadString(line));
        EXPECT_EQ(line, L"select '\u00E9'") << page;
    }

    // Without a mark nothing is lost, however the text begins.
    for (const char* text : {"abc\n", "ab\n", "\xC3\xA9t\xC3\xA9\n", "\xEF\xBB\n", "\n"}) {
        Put(path, text);
        ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead));
        file.SetCodePage(65001);
        ASSERT_TRUE(file.ReadString(line));
        std::string expected(text);
        expected.pop_back();
        EXPECT_EQ(line, Utf8ToWide(expected));
    }

    // Likewise for UTF-16 written without a mark and read back in the same object.
    ASSERT_TRUE(
        file.Open(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeReadWrite | CStdioFileEx::typeUnicode));
    file.SetWriteBOM(false);
    file.WriteString(L"AB\r\nC");
    file.Seek(0, CStdioFile::begin);
    EXPECT_EQ(Lines(file), (CStringArray{L"AB", L"C"}));
    EXPECT_EQ(Get(path), Utf16Le(L"AB\r\nC"));
}

TEST_F(TextFileTest, LongLinesComeBackWhole) {
    CString path = Path("long.sql");
    CString longLine;
    for (int i = 0; i < 10000; ++i) longLine.push_back(static_cast<wchar_t>(L'a' + i % 26));
    // A two-byte character across the 4,096-byte mark, then a very long line.
    CString straddle = CString(4095, L'x') + L"\u00E9" + CString(10, L'y');
    CString huge(200000, L'z');

    Put(path, WideToUtf8(longLine + L"\r\n" + straddle + L"\n" + huge));
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead));
    file.SetCodePage(65001);
    EXPECT_EQ(Lines(file), (CStringArray{longLine, straddle, huge}));

    Put(path, "\xFF\xFE" + Utf16Le(longLine + L"\r\n" + huge + L"\r\n"));
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead));
    EXPECT_EQ(Lines(file), (CStringArray{longLine, huge}));
}

TEST_F(TextFileTest, WritingUtf16AndTheMark) {
    CString path = Path("out16.sql");
    {
        CStdioFileEx file;
        ASSERT_TRUE(
            file.Open(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFileEx::typeUnicode));
        EXPECT_TRUE(file.IsFileUnicodeText());
        file.WriteString(L"s\u00E9\U0001F600\r\n");
        file.WriteString(L"x");  // not at position 0: no second mark
    }
    EXPECT_EQ(Get(path), "\xFF\xFE" + Utf16Le(L"s\u00E9\U0001F600\r\nx"));
    EXPECT_TRUE(CStdioFileEx::IsFileUnicode(path));
    {
        CStdioFileEx file(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFileEx::typeUnicode);
        ASSERT_TRUE(file.IsOpen());
        file.SetWriteBOM(false);
        file.WriteString(L"ab");
    }
    EXPECT_EQ(Get(path), Utf16Le(L"ab"));

    // An existing UTF-16 file opened for reading and writing is written as UTF-16.
    Put(path, "\xFF\xFE" + Utf16Le(L"one\r\n"));
    {
        CStdioFileEx file;
        ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeReadWrite));
        EXPECT_TRUE(file.IsFileUnicodeText());
        file.Seek(0, CStdioFile::end);
        file.WriteString(L"two\r\n");
    }
    EXPECT_EQ(Get(path), "\xFF\xFE" + Utf16Le(L"one\r\ntwo\r\n"));
}

TEST_F(TextFileTest, WritingEightBitTextWithFiller) {
    CString path = Path("out8.sql");
    {
        CStdioFileEx file;
        ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeWrite));
        file.SetCodePage(1252);
        file.WriteString(L"caf\u00E9 \u4E2D? \u20AC\r\n");
        file.SetFillerChar('*');
        file.WriteString(L"\u4E2D\u6587?");
    }
    // No mark for 8-bit code pages; the euro sign is in 1252, Chinese is not.
    EXPECT_EQ(Get(path), "caf\xE9 #? \x80\r\n**?");

    CStdioFileEx file;
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead));
    file.SetCodePage(1252);
    EXPECT_EQ(Lines(file), (CStringArray{L"caf\u00E9 #? \u20AC", L"**?"}));

    // UTF-8 set explicitly writes its mark; the default ANSI code page writes none.
    {
        CStdioFileEx out;
        ASSERT_TRUE(out.Open(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeWrite));
        out.SetCodePage(65001);
        out.WriteString(L"\u4E2D\n");
    }
    EXPECT_EQ(Get(path), "\xEF\xBB\xBF\xE4\xB8\xAD\n");
    {
        CStdioFileEx out(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeWrite);
        out.WriteString(L"\u4E2D\n");
    }
    EXPECT_EQ(Get(path), "\xE4\xB8\xAD\n");
}

TEST_F(TextFileTest, OpenFailuresAreRecordedNotThrown) {
    CString missing = Path("no such file.sql");
    CStdioFileEx file;
    CFileException error;
    EXPECT_FALSE(file.Open(missing.c_str(), CStdioFile::modeRead, &error));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_NE(error.GetErrorMessage().find(missing), CString::npos);
    EXPECT_EQ(file.GetCharCount(), 0u);
    CString line = L"x";
    EXPECT_FALSE(file.ReadString(line));
    EXPECT_EQ(line, L"");

    CStdioFileEx opened(missing.c_str(), CStdioFile::modeRead);
    EXPECT_FALSE(opened.IsOpen());
    EXPECT_EQ(opened.GetLastException().m_cause, CFileException::fileNotFound);

    CString directory = AsciiToWide(dir_);
    EXPECT_FALSE(file.Open(directory.c_str(), CStdioFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::accessDenied);
    EXPECT_FALSE(CStdioFileEx::IsFileUnicode(directory));
    EXPECT_FALSE(CStdioFileEx::IsFileUnicode(missing));

    CString inMissingDir = Path("nodir/x.sql");
    EXPECT_FALSE(file.Open(inMissingDir.c_str(), CStdioFile::modeCreate | CStdioFile::modeWrite, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
}

TEST_F(TextFileTest, RawUtf16ReadOfTheBaseClass) {
    CString path = Path("raw.sql");
    Put(path, "\xFF\xFE" + Utf16Le(L"ab\ncd"));
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead));
    wchar_t buffer[8];
    ASSERT_NE(file.ReadString(buffer, 8), nullptr);
    EXPECT_EQ(CString(buffer), L"\uFEFFab\n");  // raw: the mark is a character here
    ASSERT_NE(file.ReadString(buffer, 2), nullptr);
    EXPECT_EQ(CString(buffer), L"c");
    ASSERT_NE(file.ReadString(buffer, 8), nullptr);
    EXPECT_EQ(CString(buffer), L"d");
    EXPECT_EQ(file.ReadString(buffer, 8), nullptr);
}

TEST_F(TextFileTest, ConversionHelpers) {
    wchar_t wide[8];
    EXPECT_EQ(CStdioFileEx::GetUnicodeStringFromMultiByteString("caf\xE9", wide, 8, 1252), 4);
    EXPECT_EQ(CString(wide), L"caf\u00E9");
    EXPECT_EQ(CStdioFileEx::GetUnicodeStringFromMultiByteString("caf\xE9", wide, 4, 1252), 0);  // no room for the zero
    EXPECT_EQ(CStdioFileEx::GetUnicodeStringFromMultiByteString(nullptr, wide, 8, 1252), 0);
    EXPECT_EQ(CStdioFileEx::GetRequiredUnicodeLengthFromMultiByteString("\xC3\xA9t\xC3\xA9", 65001), 4);
    EXPECT_EQ(CStdioFileEx::GetRequiredUnicodeLengthFromMultiByteString(nullptr, 65001), 0);

    char bytes[8];
    EXPECT_EQ(CStdioFileEx::GetMultiByteStringFromUnicodeString(L"\u00E9\u4E2Dx", bytes, 8, 1252, '~'), 3);
    EXPECT_STREQ(bytes, "\xE9~x");
    EXPECT_EQ(CStdioFileEx::GetMultiByteStringFromUnicodeString(L"\u00E9", bytes, 8, 65001, '~'), 2);
    EXPECT_STREQ(bytes, "\xC3\xA9");
    EXPECT_EQ(CStdioFileEx::GetMultiByteStringFromUnicodeString(L"abc", bytes, 0, 1252, '~'), 0);
    EXPECT_EQ(CStdioFileEx::GetMultiByteStringFromUnicodeString(L"abc", bytes, 3, 1252, '~'), 0);
    EXPECT_EQ(CStdioFileEx::GetRequiredMultiByteLengthForUnicodeString(L"\u4E2D", 65001), 4);
    EXPECT_EQ(CStdioFileEx::GetRequiredMultiByteLengthForUnicodeString(L"\u4E2D", 936), 3);

    // A holder's own buffer is used when it is big enough, else an owned one is made.
    char small[4];
    CTemplateSmartPtrArray<char> holder(small, false);
    EXPECT_EQ(CStdioFileEx::GetNewMultiByteStringFromUnicodeString(L"ab", holder, 4, 1252), 2);
    EXPECT_EQ(holder.Get(), small);
    EXPECT_FALSE(holder.IsOwned());
    EXPECT_EQ(CStdioFileEx::GetNewMultiByteStringFromUnicodeString(L"abcdefgh", holder, 4, 1252), 8);
    EXPECT_NE(holder.Get(), small);
    EXPECT_TRUE(holder.IsOwned());
    EXPECT_STREQ(holder.Get(), "abcdefgh");

    wchar_t smallWide[2];
    CTemplateSmartPtrArray<wchar_t> wideHolder(smallWide, false);
    EXPECT_EQ(CStdioFileEx::GetNewUnicodeStringFromMultiByteString("long text", wideHolder, 2, 1252), 9);
    EXPECT_TRUE(wideHolder.IsOwned());
    EXPECT_EQ(CString(wideHolder.Get()), L"long text");

    EXPECT_EQ(CStdioFileEx::GetCurrentLocaleCodePage(), static_cast<UINT>(GetACP()));
}

TEST(TextFileChar, EmptyTextHasNoForms) {
    for (CChar c : {CChar(), CChar("", 0, 0), CChar(L"", 0, 65001), CChar(static_cast<const char*>(nullptr), 5, 0)}) {
        EXPECT_EQ(static_cast<const char*>(c), nullptr);
        EXPECT_EQ(static_cast<const wchar_t*>(c), nullptr);
        EXPECT_EQ(c.GetAnsiLength(), 0);
        EXPECT_EQ(c.GetUnicodeLength(), 0);
    }
}

TEST(TextFileChar, FormsConvertOnDemandAndCopiesAreIndependent) {
    CChar text(L"caf\u00E9 \u20AC", 0, 1252);
    EXPECT_EQ(text.GetAnsiLength(), 6);
    EXPECT_STREQ(static_cast<const char*>(text), "caf\xE9 \x80");

    CChar partial("abcdef", 3, 1252);
    EXPECT_EQ(CString(static_cast<const wchar_t*>(partial)), L"abc");
    EXPECT_EQ(partial.GetUnicodeLength(), 3);

    CChar utf8("\xC3\xA9t\xC3\xA9", 0, 65001);
    EXPECT_EQ(utf8.GetUnicodeLength(), 3);
    CChar copy = utf8;
    utf8 = L"changed";
    EXPECT_EQ(CString(static_cast<const wchar_t*>(copy)), L"\u00E9t\u00E9");
    EXPECT_STREQ(static_cast<const char*>(utf8), "changed");

    // Re-encoding the 8-bit form.
    copy.ConvertTo(1252);
    EXPECT_EQ(copy.GetCodePage(), 1252u);
    EXPECT_STREQ(static_cast<const char*>(copy), "\xE9t\xE9");
    CChar bytesOnly("\xE9", 0, 1252);
    bytesOnly.ConvertTo(65001);
    EXPECT_STREQ(static_cast<const char*>(bytesOnly), "\xC3\xA9");
    // SetCodePage changes how the 8-bit form is read, without converting it.
    CChar same("\xC3\xA9", 0, 65001);
    same.ConvertTo(65001);
    EXPECT_STREQ(static_cast<const char*>(same), "\xC3\xA9");
    same.SetCodePage(1252);
    EXPECT_EQ(CString(static_cast<const wchar_t*>(same)), L"\u00C3\u00A9");

    // A character the code page lacks becomes the default character.
    CChar lacking(L"\u4E2D", 0, 1252);
    EXPECT_STREQ(static_cast<const char*>(lacking), "?");
}
