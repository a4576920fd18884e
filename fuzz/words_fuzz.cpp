// The word splitter. Properties: no word is empty, there are no more words than characters, and
// the words, one after the other, are drawn from the text in order (the splitter only drops
// blanks, separators and quotes, never invents or reorders a character).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "zentra/codepage.h"
#include "zentra/words.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::wstring text = zentra::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
    text = text.substr(0, text.find(L'\0'));  // the splitter takes a C string
    zentra::CWordPaster words(text.c_str());
    const int count = words.GetWordCount();
    if (count < 0 || static_cast<std::size_t>(count) > text.size()) std::abort();
    if (!words.GetWord(count).empty() || !words.GetWord(-1).empty()) std::abort();
    std::size_t at = 0;
    for (int i = 0; i < count; ++i) {
        const std::wstring word = words.GetWord(i);
        if (word.empty()) std::abort();
        for (wchar_t c : word) {
            at = text.find(c, at);
            if (at == std::wstring::npos) std::abort();
            ++at;
        }
    }
    return 0;
}
