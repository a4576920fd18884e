// Version information of a program.
//
// Each program compiles in its own version block and registers it once at start, before it starts
// other threads:
//
//     static const zentra::VersionBlock kVersion{
//         {0x04B00409},  // language 0x0409, code page 0x04B0 (1200)
//         {{L"040904B0", {{L"ProductName", L"Orvanta"}, {L"ProductVersion", L"3, 0, 0, 1"},
//                         {L"FileVersion", L"3, 0, 0, 1"}}}}};
//     zentra::RegisterVersionBlock(&kVersion);
//
// The block is queried with the sub-block paths of a version resource: "\VarFileInfo\Translation"
// and "\StringFileInfo\040904B0\ProductVersion".
#pragma once

#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

#include "zentra/text.h"

namespace zentra {

struct VersionBlock {
    // The "\VarFileInfo\Translation" pairs, each the language id in the low 16 bits and the code
    // page in the high 16 bits.
    std::vector<std::uint32_t> translations;
    // String tables keyed by eight upper-case hexadecimal digits, language then code page
    // ("040904B0"); each maps value names ("ProductVersion") to their texts.
    std::map<CString, std::map<CString, CString>> stringTables;
};

// The user's default language id (English, United States).
constexpr std::uint16_t kUserDefaultLangId = 0x0409;

// Registers the calling program's own version block; the block must outlive its use. Null
// unregisters. A null module handle in the readers below means this block.
void RegisterVersionBlock(const VersionBlock* block);
const VersionBlock* GetRegisteredVersionBlock();

// Queries a sub-block of `block`, without regard to case:
// - "\VarFileInfo\Translation": `*value` points to the translation pairs and `*length` is their
//   size in bytes (4 per pair); fails when the block has no pair.
// - "\StringFileInfo\XXXXXXXX\Name": `*value` points to the NUL-terminated wide text and `*length`
//   is its length in characters including the NUL.
// The pointers stay valid while the block is unchanged. Returns false when the path names nothing.
bool VerQueryValue(const VersionBlock& block, std::wstring_view subBlock, const void** value, unsigned* length);

class CAppVersionInfo {
public:
    CAppVersionInfo() = default;
    CAppVersionInfo(const CAppVersionInfo&) {}
    CAppVersionInfo& operator=(const CAppVersionInfo&) { return *this; }
    virtual ~CAppVersionInfo() = default;

    // The string value `name` of the module's version block (null: the registered block), read
    // under its one translation, or under the user's default language with code page 04B0 when
    // the block has none or several; "" when there is no block or no such value.
    static CString GetVersionInfo(const VersionBlock* module, const CString& name);

    // "3, 0, 0, 1" -> "3.0.01", "3, 1, 0, 0" -> "3.1", "1, 2, 3, 4" -> "1.2.34"; "" when all
    // four numbers are 0 or the text is blank.
    static CString FormatVersion(const CString& text);

    // "Version <file version> (Build <special build>)", cached in m_csFileVersion.
    static CString GetFileVersionX();
    // The dotted product version, cached in m_csProductVersion; an empty result is not cached.
    static CString GetProductVersionX();

    // Process-wide caches, meant for one thread.
    static CString m_csFileVersion;
    static CString m_csProductVersion;
};

// "<name> <product version>".
CString AppNameWithVersion(const wchar_t* name);
// The same with the name loaded from the program's string table.
CString AppNameWithVersion(unsigned id);

}  // namespace zentra
