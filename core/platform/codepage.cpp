#include "zentra/codepage.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "zentra/text.h"

namespace zentra {

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

struct CodePageEntry {
    int number;
    const char* name;
};

constexpr CodePageEntry kCodePages[] = {
    {65001, "UTF-8"},      {1200, "UTF-16LE"},    {1201, "UTF-16BE"},    {20127, "ASCII"},       {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"}, {28595, "ISO-8859-5"}, {28597, "ISO-8859-7"}, {28605, "ISO-8859-15"}, {874, "CP874"},
    {932, "CP932"},        {936, "GBK"},          {949, "CP949"},        {950, "BIG5"},          {1250, "CP1250"},
    {1251, "CP1251"},      {1252, "CP1252"},      {1253, "CP1253"},      {1254, "CP1254"},       {1255, "CP1255"},
    {1256, "CP1256"},      {1257, "CP1257"},      {1258, "CP1258"},      {437, "CP437"},         {850, "CP850"},
    {866, "CP866"},        {20866, "KOI8-R"},     {54936, "GB18030"},    {51932, "EUC-JP"},      {51949, "EUC-KR"},
};

// Charsets that nl_langinfo reports, mapped to Windows numbers.
constexpr CodePageEntry kLocaleCharsets[] = {
    {65001, "UTF-8"},      {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"}, {28605, "ISO-8859-15"},
    {28595, "ISO-8859-5"}, {28597, "ISO-8859-7"}, {936, "GBK"},          {936, "GB2312"},
    {54936, "GB18030"},    {950, "BIG5"},         {932, "SHIFT_JIS"},    {51932, "EUC-JP"},
    {51949, "EUC-KR"},     {1251, "CP1251"},      {1252, "CP1252"},      {20866, "KOI8-R"},
};

std::string LocaleCharset() {
    const char* cs = nl_langinfo(CODESET);
    std::string name = cs ? cs : "";
    if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII") return "UTF-8";
    return name;
}

bool IsUtf8Name(const std::string& name) {
    return strcasecmp(name.c_str(), "UTF-8") == 0 || strcasecmp(name.c_str(), "UTF8") == 0;
}

std::string ResolveName(int codePage) {
    if (codePage == CP_ACP || codePage == -1) return LocaleCharset();
    return CodePageName(codePage);
}

// iconv descriptors are costly to open; keep one per direction and charset on each thread.
struct IconvCache {
    struct Closer {
        void operator()(void* cd) const {
            if (cd) iconv_close(static_cast<iconv_t>(cd));
        }
    };
    std::map<std::string, std::unique_ptr<void, Closer>> handles;

    iconv_t Get(const std::string& to, const std::string& from) {
        std::string key = to + '\n' + from;
        auto it = handles.find(key);
        if (it == handles.end()) {
            iconv_t cd = iconv_open(to.c_str(), from.c_str());
            if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
            it = handles.emplace(key, std::unique_ptr<void, Closer>(cd)).first;
        }
        iconv(static_cast<iconv_t>(it->second.get()), nullptr, nullptr, nullptr, nullptr);
        return static_cast<iconv_t>(it->second.get());
    }
};

IconvCache& Cache() {
    thread_local IconvCache cache;
    return cache;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

std::string CodePageName(int codePage) {
    for (const auto& e : kCodePages)
        if (e.number == codePage) return e.name;
    return "";
}

int GetACP() {
    std::string name = LocaleCharset();
    for (const auto& e : kLocaleCharsets)
        if (strcasecmp(e.name, name.c_str()) == 0) return e.number;
    return 0;
}

std::string WideToUtf8(std::wstring_view text) {
    // One byte per character is written in place; a character beyond ASCII makes room for its
    // bytes and one byte for every character after it.
    const wchar_t* in = text.data();
    const size_t size = text.size();
    std::string out(size, '\0');
    size_t n = 0;
    for (size_t i = 0; i < size;) {
#if defined(__SSE2__)
        // ASCII eight characters a step: narrowed by packing, when none has a bit above the seventh.
        static_assert(sizeof(wchar_t) == 4, "wide characters are 32 bits");
        while (i + 8 <= size) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 4));
            const __m128i high = _mm_and_si128(_mm_or_si128(a, b), _mm_set1_epi32(~0x7F));
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(high, _mm_setzero_si128())) != 0xFFFF) break;
            const __m128i words = _mm_packs_epi32(a, b);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out.data() + n), _mm_packus_epi16(words, words));
            n += 8;
            i += 8;
        }
#endif
        // ASCII four characters a step.
        while (i + 4 <= size && static_cast<char32_t>(in[i] | in[i + 1] | in[i + 2] | in[i + 3]) < 0x80) {
            char* p = out.data() + n;
            p[0] = static_cast<char>(in[i]);
            p[1] = static_cast<char>(in[i + 1]);
            p[2] = static_cast<char>(in[i + 2]);
            p[3] = static_cast<char>(in[i + 3]);
            n += 4;
            i += 4;
        }
        if (i == size) break;
        const char32_t c = static_cast<char32_t>(in[i++]);
        if (c < 0x80) {
            out[n++] = static_cast<char>(c);
            continue;
        }
        const size_t need = n + 4 + (size - i);
        if (out.size() < need) out.resize(std::max(need, out.size() * 2));
        std::string bytes;
        AppendUtf8(bytes, c);
        std::memcpy(out.data() + n, bytes.data(), bytes.size());
        n += bytes.size();
    }
    out.resize(n);
    return out;
}

std::wstring Utf8ToWide(std::string_view bytes) {
    std::wstring out;
    AppendUtf8ToWide(out, bytes);
    return out;
}

void AppendUtf8ToWide(std::wstring& out, std::string_view bytes) {
    // Every byte gives at most one character: written in place.
    const size_t at = out.size();
    out.resize(at + bytes.size());
    wchar_t* w = out.data() + at;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size(), i = 0;
    while (i < n) {
#if defined(__SSE2__)
        // ASCII sixteen bytes a step: widened by unpacking, when none has its top bit set.
        while (i + 16 <= n) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            if (_mm_movemask_epi8(chunk) != 0) break;
            const __m128i zero = _mm_setzero_si128();
            const __m128i low = _mm_unpacklo_epi8(chunk, zero);
            const __m128i high = _mm_unpackhi_epi8(chunk, zero);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_unpacklo_epi16(low, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 4), _mm_unpackhi_epi16(low, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 8), _mm_unpacklo_epi16(high, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 12), _mm_unpackhi_epi16(high, zero));
            w += 16;
            i += 16;
        }
#endif
        // The rest of a run of ASCII, a byte at a time.
        while (i < n && p[i] < 0x80) *w++ = static_cast<wchar_t>(p[i++]);
        if (i == n) break;
        const unsigned char b = p[i];
        int len = 0;
        char32_t c = 0, min = 0;
        if ((b & 0xE0) == 0xC0) len = 2, c = b & 0x1F, min = 0x80;
        else if ((b & 0xF0) == 0xE0) len = 3, c = b & 0x0F, min = 0x800;
        else if ((b & 0xF8) == 0xF0) len = 4, c = b & 0x07, min = 0x10000;
        bool ok = len > 0 && i + static_cast<size_t>(len) <= n;
        for (int k = 1; ok && k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) ok = false;
            else c = (c << 6) | (p[i + k] & 0x3F);
        }
        if (ok && (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
        if (!ok) {
            *w++ = kReplacement;
            ++i;
            continue;
        }
        *w++ = static_cast<wchar_t>(c);
        i += static_cast<size_t>(len);
    }
    out.resize(static_cast<size_t>(w - out.data()));
}

std::string WideToMultiByte(std::wstring_view text, int codePage) {
    std::string name = ResolveName(codePage);
    if (name.empty()) return {};
    if (IsUtf8Name(name)) return WideToUtf8(text);
    iconv_t cd = Cache().Get(name, "WCHAR_T");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};

    std::string out;
    out.reserve(text.size() + 8);
    char buffer[4096];
    const wchar_t* src = text.data();
    size_t left = text.size() * sizeof(wchar_t);
    while (left > 0) {
        char* in = const_cast<char*>(reinterpret_cast<const char*>(src));
        char* dst = buffer;
        size_t room = sizeof buffer;
        size_t rc = iconv(cd, &in, &left, &dst, &room);
        out.append(buffer, static_cast<size_t>(dst - buffer));
        src = reinterpret_cast<const wchar_t*>(in);
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // A character the code page lacks (or a broken one): its default character.
            out.push_back('?');
            ++src;
            left -= sizeof(wchar_t);
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    // Flush any shift state.
    char* dst = buffer;
    size_t room = sizeof buffer;
    iconv(cd, nullptr, nullptr, &dst, &room);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    return out;
}

namespace {

// Bytes to wide text through iconv. With `keepIncompleteEnd`, a character cut off at the end of
// the bytes (iconv's EINVAL) is left unconverted; `used` tells how many bytes were converted.
bool IconvToWide(std::string_view bytes, int codePage, bool keepIncompleteEnd, std::wstring& out, size_t& used) {
    used = 0;
    std::string name = ResolveName(codePage);
    if (name.empty()) return false;
    iconv_t cd = Cache().Get("WCHAR_T", name);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;

    out.reserve(out.size() + bytes.size());
    wchar_t buffer[1024];
    // What the converter still holds (code pages 1255 and 1258 keep a letter back until they see
    // whether a combining mark follows) comes out before its state is reset and at the end.
    auto flushState = [&] {
        char* dst = reinterpret_cast<char*>(buffer);
        size_t room = sizeof buffer;
        iconv(cd, nullptr, nullptr, &dst, &room);
        out.append(buffer, static_cast<size_t>(reinterpret_cast<wchar_t*>(dst) - buffer));
    };
    const char* src = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        char* in = const_cast<char*>(src);
        char* dst = reinterpret_cast<char*>(buffer);
        size_t room = sizeof buffer;
        size_t rc = iconv(cd, &in, &left, &dst, &room);
        out.append(buffer, static_cast<size_t>(reinterpret_cast<wchar_t*>(dst) - buffer));
        src = in;
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            if (errno == EINVAL && keepIncompleteEnd) break;
            // An invalid or incomplete sequence: one replacement character per byte skipped.
            flushState();
            out.push_back(kReplacement);
            ++src;
            --left;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    flushState();
    used = bytes.size() - left;
    return true;
}

}  // namespace

std::wstring MultiByteToWide(std::string_view bytes, int codePage) {
    std::string name = ResolveName(codePage);
    if (name.empty()) return {};
    if (IsUtf8Name(name)) return Utf8ToWide(bytes);
    std::wstring out;
    size_t used = 0;
    IconvToWide(bytes, codePage, false, out, used);
    return out;
}

bool IsValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size(), i = 0;
    while (i < n) {
        // Eight ASCII bytes at a time.
        std::uint64_t word = 0;
        if (i + sizeof word <= n && (std::memcpy(&word, p + i, sizeof word), (word & 0x8080808080808080u) == 0)) {
            i += sizeof word;
            continue;
        }
        unsigned char b = p[i];
        std::size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > n) return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((p[i + k] & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

size_t Utf8CompleteLength(std::string_view bytes) {
    const size_t n = bytes.size();
    for (size_t back = 1; back <= 4 && back <= n; ++back) {
        const unsigned char b = static_cast<unsigned char>(bytes[n - back]);
        if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        size_t need = 1;
        if ((b & 0xE0) == 0xC0) need = 2;
        else if ((b & 0xF0) == 0xE0) need = 3;
        else if ((b & 0xF8) == 0xF0) need = 4;
        return need > back ? n - back : n;
    }
    return n;  // only continuation bytes at the end: invalid, nothing to wait for
}

std::wstring MultiByteToWideComplete(std::string_view bytes, int codePage, size_t& used) {
    used = 0;
    std::string name = ResolveName(codePage);
    if (name.empty()) return {};
    if (IsUtf8Name(name)) {
        used = Utf8CompleteLength(bytes);
        return Utf8ToWide(bytes.substr(0, used));
    }
    // A letter a combining mark may join is kept too: it joins the next bytes.
    if (!bytes.empty() && HeldForCombiningMark(codePage, static_cast<unsigned char>(bytes.back())))
        bytes.remove_suffix(1);
    std::wstring out;
    IconvToWide(bytes, codePage, true, out, used);
    return out;
}

bool HeldForCombiningMark(int codePage, unsigned char byte) {
    static std::mutex mutex;
    static std::map<std::string, std::bitset<256>> held;
    std::string name = ResolveName(codePage);
    if (name.empty() || IsUtf8Name(name)) return false;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = held.find(name);
    if (it == held.end()) {
        // Each byte alone, without the end-of-text flush: a byte taken in that gives no character
        // yet is one the converter keeps back.
        std::bitset<256> bits;
        iconv_t cd = iconv_open("WCHAR_T", name.c_str());
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            for (int b = 0; b < 256; ++b) {
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                char in[1] = {static_cast<char>(b)};
                char* src = in;
                size_t left = 1;
                wchar_t outBuffer[4];
                char* dst = reinterpret_cast<char*>(outBuffer);
                size_t room = sizeof outBuffer;
                if (iconv(cd, &src, &left, &dst, &room) != static_cast<size_t>(-1) && left == 0 &&
                    room == sizeof outBuffer)
                    bits.set(static_cast<size_t>(b));
            }
            iconv_close(cd);
        }
        it = held.emplace(name, bits).first;
    }
    return it->second.test(byte);
}

std::u16string WideToUtf16(std::wstring_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t ch : text) {
        char32_t c = static_cast<char32_t>(ch);
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else if (c > 0x10FFFF) {
            out.push_back(static_cast<char16_t>(kReplacement));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::wstring Utf16ToWide(std::u16string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            char32_t full =
                0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
            out.push_back(static_cast<wchar_t>(full));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out.push_back(kReplacement);
        } else {
            out.push_back(static_cast<wchar_t>(c));
        }
    }
    return out;
}

}  // namespace zentra
