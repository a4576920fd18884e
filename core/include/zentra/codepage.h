// The one code-page converter. Byte text exists only at the edges (console, spool file, pipe, script
// files, ODBC); everything inside is wide text.
//
// Code page 0 (and -1) is the ANSI code page, which on this platform is the character set of the
// process locale (setlocale(LC_ALL, "") in the program, nl_langinfo(CODESET)). The plain C/POSIX
// locale, whose character set is ASCII, is taken as UTF-8 so that no text is lost on a system
// without a configured locale. Numbered Windows code pages map to their iconv names.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zentra {

constexpr int CP_ACP = 0;
constexpr int CP_UTF8 = 65001;

// The iconv name of a code page; "" for a number we do not know.
std::string CodePageName(int codePage);

// The ANSI code page as a number: 65001 for UTF-8, the Windows number of a known single- or
// double-byte character set, otherwise 0.
int GetACP();

// Wide text to bytes. Characters the target lacks become its default character ('?').
std::string WideToMultiByte(std::wstring_view text, int codePage = CP_ACP);
// Bytes to wide text. Bytes that are not valid in the code page become U+FFFD.
std::wstring MultiByteToWide(std::string_view bytes, int codePage = CP_ACP);
// Whether `bytes` are UTF-8 by the form of their lead and continuation bytes (an overlong form or
// a surrogate passes; the decoders make it U+FFFD).
bool IsValidUtf8(std::string_view bytes);
// How many leading bytes of UTF-8 text are not a character cut off at the end: the last lead
// byte that announces more bytes than follow starts one.
size_t Utf8CompleteLength(std::string_view bytes);
// As MultiByteToWide for text that goes on in the next bytes: a character cut off at the end of
// `bytes`, and a last letter that a combining mark may join, are left unconverted. `used` tells
// how many bytes were converted.
std::wstring MultiByteToWideComplete(std::string_view bytes, int codePage, size_t& used);
// Whether the converter of `codePage` keeps `byte` back at the end of a piece of text until it
// sees whether a combining mark follows (the letters of code pages 1255 and 1258).
bool HeldForCombiningMark(int codePage, unsigned char byte);

std::string WideToUtf8(std::wstring_view text);
std::wstring Utf8ToWide(std::string_view bytes);
// Utf8ToWide's characters appended to `out`.
void AppendUtf8ToWide(std::wstring& out, std::string_view bytes);

// UTF-16 (the ODBC wide character type and the UTF-16 files) to and from wide text.
std::u16string WideToUtf16(std::wstring_view text);
std::wstring Utf16ToWide(std::u16string_view text);

}  // namespace zentra
