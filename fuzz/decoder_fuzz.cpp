// The pipe's stream decoder and the code-page converter. Property: bytes fed in pieces cut
// anywhere give the same text as one conversion of all of them, in every code page the pipe
// may meet.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "zentra/codepage.h"
#include "zentra/pipe.h"

namespace {
constexpr int kCodePages[] = {65001, 1252, 1255, 1258, 932, 936, 949, 950, 54936, 51932, 51949, 1251, 437};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int codePage = kCodePages[data[0] % (sizeof kCodePages / sizeof kCodePages[0])];
    const unsigned step = data[1];  // the lengths of the pieces follow from it
    const std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);

    const std::wstring whole = zentra::MultiByteToWide(bytes, codePage);
    zentra::CStreamDecoder decoder(codePage);
    std::wstring pieces;
    std::size_t at = 0;
    unsigned cut = step;
    while (at < bytes.size()) {
        cut = cut * 1103515245u + 12345u;
        const std::size_t length = 1 + (cut >> 16) % (1 + step % 7);
        pieces += decoder.Decode(std::string_view(bytes).substr(at, length));
        at += length;
    }
    pieces += decoder.Flush();
    if (pieces != whole) std::abort();
    // Text that came from wide text converts back to it unchanged in UTF-8.
    if (zentra::Utf8ToWide(zentra::WideToUtf8(whole)) != whole) std::abort();
    return 0;
}
