// Version blocks compiled into the programs and the readers over them.
#include "zentra/version.h"

#include <atomic>
#include <climits>
#include <cstring>

#include "../platform/fallback.h"
#include "zentra/format.h"
#include "zentra/strtable.h"

namespace zentra {

namespace {

std::atomic<const VersionBlock*> g_programBlock{nullptr};

// The value of `name` in `table`, compared without regard to case.
template <class Map>
auto FindNoCaseKey(const Map& table, std::wstring_view name) {
    for (auto it = table.begin(); it != table.end(); ++it) {
        if (EqualsNoCase(it->first, name)) return it;
    }
    return table.end();
}

// Reads one number the way a version text is read: leading white space skipped, then the leading
// decimal digits; 0 when there are none. Values beyond INT_MAX stop at INT_MAX.
int LeadingNumber(std::wstring_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    long long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > INT_MAX) value = INT_MAX;
    }
    return static_cast<int>(value);
}

}  // namespace

void RegisterVersionBlock(const VersionBlock* block) { g_programBlock.store(block); }

const VersionBlock* GetRegisteredVersionBlock() { return g_programBlock.load(); }

bool VerQueryValue(const VersionBlock& block, std::wstring_view subBlock, const void** value, unsigned* length) {
    if (value == nullptr || length == nullptr) return false;
    if (!subBlock.empty() && subBlock.front() == L'\\') subBlock.remove_prefix(1);
    return OrFallback([&]() -> bool {
        CStringArray parts = Split(subBlock, L'\\');
        if (parts.size() == 2 && EqualsNoCase(parts[0], L"VarFileInfo") && EqualsNoCase(parts[1], L"Translation")) {
            if (block.translations.empty()) return false;
            *value = block.translations.data();
            *length = static_cast<unsigned>(block.translations.size() * sizeof(std::uint32_t));
            return true;
        }
        if (parts.size() == 3 && EqualsNoCase(parts[0], L"StringFileInfo")) {
            auto table = FindNoCaseKey(block.stringTables, parts[1]);
            if (table == block.stringTables.end()) return false;
            auto entry = FindNoCaseKey(table->second, parts[2]);
            if (entry == table->second.end()) return false;
            *value = entry->second.c_str();
            *length = static_cast<unsigned>(entry->second.size() + 1);
            return true;
        }
        return false;
    });
}

CString CAppVersionInfo::m_csFileVersion;
CString CAppVersionInfo::m_csProductVersion;

CString CAppVersionInfo::GetVersionInfo(const VersionBlock* module, const CString& name) {
    return OrFallback([&]() -> CString {
        const VersionBlock* block = module != nullptr ? module : GetRegisteredVersionBlock();
        if (block == nullptr) return CString();

        CString path;
        const void* data = nullptr;
        unsigned size = 0;
        if (VerQueryValue(*block, L"\\VarFileInfo\\Translation", &data, &size) && size == 4) {
            std::uint32_t t = 0;
            std::memcpy(&t, data, sizeof t);
            unsigned language = t & 0xFFFFu;
            unsigned codePage = (t >> 16) & 0xFFFFu;
            path = Format(L"\\StringFileInfo\\%02X%02X%02X%02X\\%s", language >> 8, language & 0xFFu, codePage >> 8,
                          codePage & 0xFFu, name);
        } else {
            // No translation, or several: read under the user's language with code page 04B0.
            path = Format(L"\\StringFileInfo\\%04X04B0\\%s", unsigned(kUserDefaultLangId), name);
        }

        if (VerQueryValue(*block, path, &data, &size)) {
            return CString(static_cast<const wchar_t*>(data));
        }
        return CString();
    });
}

CString CAppVersionInfo::FormatVersion(const CString& text) {
    return OrFallback([&]() -> CString {
        CString rest = Trim(text);
        if (rest.empty()) return CString();

        int numbers[4] = {};
        for (int& number : numbers) {
            size_t comma = rest.find(L',');
            if (comma == CString::npos) {
                // No separator left: the whole remaining text gives this number, and the next.
                number = LeadingNumber(rest);
            } else {
                number = LeadingNumber(std::wstring_view(rest).substr(0, comma));
                rest.erase(0, comma + 1);
            }
        }

        int last = 3;
        while (last >= 0 && numbers[last] == 0) --last;
        if (last < 0) return CString();

        // The third and the fourth number run together: 3, 0, 0, 1 gives 3.0.01.
        CString result;
        for (int i = 0; i <= last; ++i) {
            result += Format(L"%d", numbers[i]);
            if (i < 2 && i < last) result += L'.';
        }
        return result;
    });
}

CString CAppVersionInfo::GetFileVersionX() {
    return OrFallback([&]() -> CString {
        if (m_csFileVersion.empty()) {
            m_csFileVersion = Format(L"Version %s (Build %s)", FormatVersion(GetVersionInfo(nullptr, L"FileVersion")),
                                     GetVersionInfo(nullptr, L"SpecialBuild"));
        }
        return m_csFileVersion;
    });
}

CString CAppVersionInfo::GetProductVersionX() {
    return OrFallback([&]() -> CString {
        if (m_csProductVersion.empty()) {
            m_csProductVersion = FormatVersion(GetVersionInfo(nullptr, L"ProductVersion"));
        }
        return m_csProductVersion;
    });
}

CString AppNameWithVersion(const wchar_t* name) {
    return OrFallback([&]() -> CString { return Format(L"%s %s", name, CAppVersionInfo::GetProductVersionX()); });
}

CString AppNameWithVersion(unsigned id) {
    return OrFallback([&]() -> CString { return AppNameWithVersion(LoadString(id).c_str()); });
}

}  // namespace zentra
