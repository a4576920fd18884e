// The text-file readers. Properties: any file reads to its end without reading a character
// twice (no more characters than the file holds); and lines written as UTF-16 or UTF-8 with a
// byte-order mark, or in a code page that holds them, read back exactly.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "zentra/codepage.h"
#include "zentra/textfile.h"

using namespace zentra;

namespace {

const std::string& Path() {
    static const std::string path = "/tmp/orvanta-fuzz-" + std::to_string(getpid()) + ".txt";
    return path;
}

std::vector<std::wstring> ReadLines(std::size_t limit) {
    std::vector<std::wstring> lines;
    CStdioFileEx file;
    const std::wstring wide = Utf8ToWide(Path());
    if (!file.Open(wide.c_str(), CStdioFile::modeRead | CStdioFile::typeText)) std::abort();
    CString line;
    std::size_t characters = 0;
    while (file.ReadString(line)) {
        characters += line.size();
        if (characters > limit || lines.size() > limit) std::abort();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Any bytes as a file.
    FILE* f = std::fopen(Path().c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    ReadLines(size);

    // The bytes as lines of text, written and read back.
    if (size == 0) return 0;
    std::wstring text = Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    std::vector<std::wstring> lines(1);
    for (wchar_t c : text) {
        if (c == L'\n') lines.emplace_back();
        else if (c != L'\r' && c != 0 && c != 0xFEFF) lines.back() += c;
    }
    const bool unicode = data[0] & 1;
    {
        CStdioFileEx out;
        const std::wstring wide = Utf8ToWide(Path());
        UINT flags = CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFile::typeText;
        if (unicode) flags |= CStdioFileEx::typeUnicode;
        if (!out.Open(wide.c_str(), flags)) std::abort();
        if (!unicode) {
            out.SetCodePage(CP_UTF8);
            out.SetWriteBOM(true);
        }
        for (const auto& line : lines) out.WriteString((line + L"\r\n").c_str());
        out.Close();
    }
    if (ReadLines(4 * size + 16) != lines) std::abort();
    ::unlink(Path().c_str());
    return 0;
}
