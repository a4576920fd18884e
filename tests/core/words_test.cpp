#include <gtest/gtest.h>

#include <initializer_list>

#include "zentra/words.h"

using namespace zentra;

namespace {

CStringArray Words(const CWordPaster& paster) {
    CStringArray words;
    for (int i = 0; i < paster.GetWordCount(); ++i) words.push_back(paster.GetWord(i));
    return words;
}

CStringArray Split(const wchar_t* text, const wchar_t* keys = nullptr, const wchar_t* quotes = nullptr) {
    return Words(CWordPaster(text, keys, quotes));
}

// Exposes the protected character tests.
class ProbePaster : public CWordPaster {
public:
    using CWordPaster::CWordPaster;
    using CWordPaster::IsKeys;
    using CWordPaster::IsQuotes;
};

}  // namespace

TEST(WordsPaster, EmptyTextsAndDelimiterRuns) {
    for (const wchar_t* text : {L"", L"   \t\r\n ", L"; ; ;", L"\"\"", L"''", L"\v\f"}) {
        CWordPaster paster(text, nullptr, nullptr);
        EXPECT_EQ(paster.GetWordCount(), 0) << "text: [" << testing::PrintToString(text) << "]";
        EXPECT_EQ(paster.GetWord(0), L"");  // out of range gives an empty word
    }
    CWordPaster none(nullptr, nullptr, nullptr);
    EXPECT_EQ(none.GetWordCount(), 0);
    EXPECT_EQ(none.GetText(), L"");

    EXPECT_EQ(Split(L" use  mydb ; "), (CStringArray{L"use", L"mydb"}));
    EXPECT_EQ(Split(L"help;"), (CStringArray{L"help"}));
    EXPECT_EQ(Split(L"a;;b\t\tc\r\nd"), (CStringArray{L"a", L"b", L"c", L"d"}));

    CWordPaster paster(L"x y", nullptr, nullptr);
    EXPECT_EQ(paster.GetWord(-1), L"");
    EXPECT_EQ(paster.GetWord(2), L"");
    EXPECT_EQ(paster.GetWord(1), L"y");
    EXPECT_EQ(paster.GetText(), L"x y");
}

TEST(WordsPaster, Quotes) {
    EXPECT_EQ(Split(L"'x'"), (CStringArray{L"x"}));
    EXPECT_EQ(Split(L"spool 'a b;c'"), (CStringArray{L"spool", L"a b;c"}));
    EXPECT_EQ(Split(L"\"it's\""), (CStringArray{L"it's"}));
    EXPECT_EQ(Split(L"'say \"hi\"'"), (CStringArray{L"say \"hi\""}));
    // A closing quote ends the word even without a delimiter after it.
    EXPECT_EQ(Split(L"'ab'cd"), (CStringArray{L"ab", L"cd"}));
    // A quote opened inside a word joins the stretch to it.
    EXPECT_EQ(Split(L"ab'cd ef'"), (CStringArray{L"abcd ef"}));
    // An unclosed quote runs to the end of the (trimmed) text.
    EXPECT_EQ(Split(L"start 'my file.sql  "), (CStringArray{L"start", L"my file.sql"}));
    // A quoted stretch keeps inner white space at its edges.
    EXPECT_EQ(Split(L"' a '"), (CStringArray{L" a "}));
}

TEST(WordsPaster, BackslashesStayInTheWord) {
    EXPECT_EQ(Split(L"a\\;b c"), (CStringArray{L"a\\;b", L"c"}));
    EXPECT_EQ(Split(L"a\\ b"), (CStringArray{L"a\\ b"}));
    EXPECT_EQ(Split(L"\\'x y"), (CStringArray{L"\\'x", L"y"}));
    EXPECT_EQ(Split(L"'a\\'b' c"), (CStringArray{L"a\\'b", L"c"}));
    EXPECT_EQ(Split(L"dir c:\\"), (CStringArray{L"dir", L"c:\\"}));
    EXPECT_EQ(Split(L"x\\  "), (CStringArray{L"x\\"}));  // trimmed before the scan
    EXPECT_EQ(Split(L"\\"), (CStringArray{L"\\"}));
}

TEST(WordsPaster, OwnCharacterSetsAndDefaults) {
    // Only '.' separates: blanks before a delimiter stay in the word, blanks at the edges of the
    // rest of the text go.
    EXPECT_EQ(Split(L" my schema . my table ", L".", nullptr), (CStringArray{L"my schema ", L"my table"}));
    // A quote closes only with the same character: the other one is text.
    EXPECT_EQ(Split(L"[a.b].c", L".", L"[]"), (CStringArray{L"a.b].c"}));
    EXPECT_EQ(Split(L"[a.b[.c", L".", L"[]"), (CStringArray{L"a.b", L"c"}));
    EXPECT_EQ(Split(L"`a b` c", nullptr, L"`"), (CStringArray{L"a b", L"c"}));
    EXPECT_EQ(Split(L"'a b'", nullptr, L"`"), (CStringArray{L"'a", L"b'"}));
    // Empty sets fall back to the defaults: there is no splitting without delimiters.
    EXPECT_EQ(Split(L"a b;'c d'", L"", L""), (CStringArray{L"a", L"b", L"c d"}));

    ProbePaster probe(L"", L"", L"");
    for (wchar_t ch : {L' ', L'\t', L'\r', L'\n', L';'}) EXPECT_EQ(probe.IsKeys(ch), 1);
    EXPECT_EQ(probe.IsKeys(L','), 0);
    EXPECT_EQ(probe.IsKeys(L'\0'), 0);
    EXPECT_EQ(probe.IsQuotes(L'\''), 1);
    EXPECT_EQ(probe.IsQuotes(L'"'), 1);
    EXPECT_EQ(probe.IsQuotes(L'`'), 0);

    // Paste replaces the text, the sets and the words.
    probe.Paste(L"a,b c", L",", nullptr);
    EXPECT_EQ(Words(probe), (CStringArray{L"a", L"b c"}));
    EXPECT_EQ(probe.IsKeys(L' '), 0);
    probe.Paste(L"a,b c", nullptr, nullptr);
    EXPECT_EQ(Words(probe), (CStringArray{L"a,b", L"c"}));
}

TEST(WordsDelimiter, SetLookUpRemove) {
    CDelimiter map;
    EXPECT_EQ(map.GetValue(L"k"), L"");
    map.Add(L"k", L"v");
    map.Add(L"K", L"upper");
    EXPECT_EQ(map.GetValue(L"k"), L"v");
    EXPECT_EQ(map.GetValue(L"K"), L"upper");
    map.Add(L"k", L"w");
    EXPECT_EQ(map.GetValue(L"k"), L"w");
    map.Remove(L"k");
    EXPECT_EQ(map.GetValue(L"k"), L"");
    EXPECT_EQ(map.GetValue(L"K"), L"upper");
    map.Remove(L"absent");
    map.Add(nullptr, L"empty key");
    EXPECT_EQ(map.GetValue(L""), L"empty key");
    map.RemoveAll();
    EXPECT_EQ(map.GetValue(L"K"), L"");
    EXPECT_EQ(map.GetValue(nullptr), L"");
}
