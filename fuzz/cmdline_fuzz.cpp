// The child command line splitter. Properties: words quoted the way the front end quotes its
// values split back into exactly those words, and splitting a line, quoting its words and
// splitting again gives the same words.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "zentra/codepage.h"
#include "zentra/pipe.h"

namespace {

std::wstring Quote(const std::wstring& value) {
    std::wstring word = L"\"";
    for (wchar_t c : value) {
        if (c == L'"' || c == L'\\' || c == L'$' || c == L'`') word += L'\\';
        word += c;
    }
    return word + L"\"";
}

std::wstring Join(const zentra::CStringArray& words) {
    std::wstring line;
    for (const auto& w : words) line += (line.empty() ? L"" : L" ") + Quote(w);
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text = zentra::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
    // The input as words separated by NUL: each must come back whole.
    zentra::CStringArray words;
    std::wstring word;
    for (wchar_t c : text) {
        if (c == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    words.push_back(word);
    if (zentra::SplitCommandLine(Join(words)) != words) std::abort();

    // The input as a command line.
    const zentra::CStringArray split = zentra::SplitCommandLine(text);
    if (zentra::SplitCommandLine(Join(split)) != split) std::abort();
    return 0;
}
