// The settings store: a registry accessor and the system's own settings on top of it.
//
// The registry lives in files in the regedit text format. HKEY_CURRENT_USER is the per-user file
// $XDG_CONFIG_HOME/orvanta/registry.reg (default ~/.config/orvanta/registry.reg; the directory is
// created with mode 0700, the file with 0600). The other predefined roots (HKEY_CLASSES_ROOT,
// HKEY_LOCAL_MACHINE, HKEY_USERS) are read from the system file orvanta/registry.reg below the
// first directory of $XDG_CONFIG_DIRS (default /etc/xdg) that has one, and are read-only: keys
// there can be opened and read, every write and key creation is refused with 0.
//
// Every operation reads the file afresh, and every change is one locked read-modify-write that
// replaces the file atomically, so programs that save at the same time keep each other's values.
// Texts are stored as REG_SZ (UTF-16 with a terminating zero; GetDataSize counts those bytes),
// integers as 4-byte little-endian REG_BINARY. Key paths and value names ignore letter case.
// Lengths of texts are counted in UTF-16 code units, the unit the registry stores.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "zentra/text.h"
#include "zentra/variant.h"

namespace zentra {

namespace regfile {
class Hive;
}
struct RegistryStore;

using DWORD = std::uint32_t;
using UINT = unsigned int;

// Predefined root keys: opaque handles compared by identity.
struct HKEY__;
using HKEY = HKEY__*;
inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000});
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});
inline const HKEY HKEY_USERS = reinterpret_cast<HKEY>(std::uintptr_t{0x80000003});
inline const HKEY HKEY_PERFORMANCE_DATA = reinterpret_cast<HKEY>(std::uintptr_t{0x80000004});
inline const HKEY HKEY_CURRENT_CONFIG = reinterpret_cast<HKEY>(std::uintptr_t{0x80000005});

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Small geometry records stored as 32-bit integers.
struct CPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
};
struct CSize {
    std::int32_t cx = 0;
    std::int32_t cy = 0;
};
struct CRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// A font description: 92 bytes when stored (UTF-16 face name of 32 code units).
struct LOGFONTW {
    std::int32_t lfHeight = 0;
    std::int32_t lfWidth = 0;
    std::int32_t lfEscapement = 0;
    std::int32_t lfOrientation = 0;
    std::int32_t lfWeight = 0;
    std::uint8_t lfItalic = 0;
    std::uint8_t lfUnderline = 0;
    std::uint8_t lfStrikeOut = 0;
    std::uint8_t lfCharSet = 0;
    std::uint8_t lfOutPrecision = 0;
    std::uint8_t lfClipPrecision = 0;
    std::uint8_t lfQuality = 0;
    std::uint8_t lfPitchAndFamily = 0;
    char16_t lfFaceName[32] = {};
};

// A font object holding the description it was created from; the windowed program turns it into
// its toolkit's font.
class CFont {
public:
    int CreateFontIndirect(const LOGFONTW* description);
    void DeleteObject() { m_bValid = false; }
    // Copies the description into `out`; 0 when the font holds none.
    int GetLogFont(LOGFONTW* out) const;
    bool IsValid() const { return m_bValid; }

private:
    LOGFONTW m_logFont;
    bool m_bValid = false;
};

class CRegistry {
public:
    CRegistry();

    // Accepts only HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE and HKEY_USERS.
    int SetRootKey(HKEY root);
    HKEY GetRootKey() const { return m_hRootKey; }
    // Empties the path and resets the root to HKEY_CURRENT_USER; always 1.
    int ClearKey();
    // Empty path: empties the current path, 1. Otherwise the key must exist, or is created when
    // `create` is nonzero; on success it becomes the current path, on failure 0 and no change.
    int SetKey(CString path, int create);
    int CreateKey(CString path);
    // 1 when the key is gone afterwards (also when it never existed); 0 when it has subkeys,
    // the root is read-only or the file can't be written.
    int DeleteKey(CString path);
    // Whether the key exists below `root` (null: this object's root).
    int KeyExists(CString path, HKEY root = nullptr);
    int ValueExists(CString name);
    int DeleteValue(CString name);
    // Size in bytes, -1 on failure.
    int GetDataSize(CString name);
    // Registry type, 0 on failure.
    DWORD GetDataType(CString name);
    int GetSubKeyCount();
    int GetValueCount();
    int PathIsValid() const { return m_strCurrentPath.empty() ? 0 : 1; }
    CString GetCurrentPath() const { return m_strCurrentPath; }
    // Renames a value under the current path, keeping its type and data. 0 when the old name is
    // missing or another value already has the new name.
    int RenameValue(CString oldName, CString newName);

    // Texts (REG_SZ). The writer refuses texts of 255 UTF-16 code units or more; the reader gives
    // the default for longer stored texts and for values of any other type than REG_SZ and
    // REG_EXPAND_SZ (an expandable text is returned as stored).
    CString ReadString(CString name, CString defaultValue);
    int WriteString(CString name, CString value);

    // Fixed-size binary values. A read takes any stored value of at most the expected size as
    // its bytes (missing bytes read as zero), whatever its type; a larger one gives the default.
    int ReadInt(CString name, int defaultValue);
    int WriteInt(CString name, int value);
    int ReadBool(CString name, int defaultValue);
    int WriteBool(CString name, int value);
    DWORD ReadColor(CString name, DWORD defaultValue);
    int WriteColor(CString name, DWORD value);
    DWORD ReadDword(CString name, DWORD defaultValue);
    int WriteDword(CString name, DWORD value);
    double ReadFloat(CString name, double defaultValue);
    int WriteFloat(CString name, double value);
    int ReadPoint(CString name, CPoint* point);
    int WritePoint(CString name, CPoint* point);
    int ReadSize(CString name, CSize* size);
    int WriteSize(CString name, CSize* size);
    int ReadRect(CString name, CRect* rect);
    int WriteRect(CString name, CRect* rect);
    COleDateTime ReadDateTime(CString name, COleDateTime defaultValue);
    int WriteDateTime(CString name, COleDateTime value);
    int ReadFont(CString name, CFont* font);
    int WriteFont(CString name, CFont* font);

    // Collects the writes that follow (to this object's root) and makes them in one change of the
    // file at EndUpdate: the file is locked, read again, the writes are applied to what it holds
    // now and it is written once. Reads in between see the collected writes. EndUpdate returns 1
    // when the file was written (or nothing was to be written), 0 otherwise.
    int BeginUpdate();
    int EndUpdate();

    // Why the last read found the settings file unusable or the last write failed, as a sentence
    // for the user; empty when nothing went wrong.
    CString GetLastErrorText() const;

protected:
    // The keys of this object's root as the file holds them, with the collected writes applied.
    std::shared_ptr<const regfile::Hive> LoadHive();
    // One change of this object's root file (or of the collected writes); true when made.
    bool ChangeHive(const std::function<bool(regfile::Hive&)>& change);

    HKEY m_hRootKey;
    CString m_strCurrentPath;

private:
    std::shared_ptr<RegistryStore> m_pStore;
};

// The defaults of the prompt and the editor setting.
inline constexpr wchar_t kDefaultSqlPrompt[] = L"SQL> ";
inline constexpr wchar_t kDefaultEditor[] = L"notepad";

class CSetting : public CRegistry {
public:
    CSetting();
    virtual ~CSetting() = default;

    // A value of the shell's settings key by its name. GetSettingInt gives `absent` when the key
    // or the value is missing. GetSettingText stores `absent` in `text` first and returns 0 when
    // the key doesn't exist, else 1 with the stored text or `absent`. The setters create the key
    // when `create` is nonzero and return the result of the write.
    int GetSettingInt(const wchar_t* name, int absent);
    int SetSettingInt(const wchar_t* name, int value, int create = 1);
    int GetSettingText(const wchar_t* name, const wchar_t* absent, CString& text);
    int SetSettingText(const wchar_t* name, const wchar_t* text);

    void SetServerType(UINT type);
    UINT GetServerType();
    void SetServerHost(const wchar_t* host);
    CString GetServerHost();
    void SetServerPort(int port);
    int GetServerPort();
    void SetUserName(const wchar_t* user);
    CString GetUserName();
    void SetDatabase(const wchar_t* database);
    CString GetDatabase();

    void SetSQLPrompt(const wchar_t* prompt);
    // Stores kDefaultSqlPrompt in `prompt` first; 0 when the setting key doesn't exist, else 1 with the
    // stored value or the default.
    int GetSQLPrompt(CString& prompt);
    void SetResultViewType(int type);
    int GetResultViewType();
    void SetTruncValue(int trunc);
    int GetTruncValue();
    void SetDisplayRecordNum(int show);
    int GetDisplayRecordNum();
    int SetEditor(const wchar_t* editor);
    // Stores kDefaultEditor in `editor` first; 0 when the setting key doesn't exist, else 1.
    int GetEditor(CString& editor);
    void SetAutoWrap(int wrap);
    int GetAutoWrap();
    void SetErrorBeep(int beep);
    int GetErrorBeep();

    // Stores "History Count" and "Item 0", "Item 1", ... in one change of the file. An item that
    // can't be stored (255 UTF-16 code units or more) has its "Item %d" value removed, so no older
    // command is left under its number. 0 when the key can't be created or the file written.
    int SetHistoryCommands(CStringArray* commands);
    // Empties the array, then appends the non-empty items 0 .. count-1; 0 when the key is missing.
    int GetHistoryCommands(CStringArray* commands);
};

}  // namespace zentra
