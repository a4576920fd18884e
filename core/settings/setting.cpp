#include <map>
#include <string>

#include "regfile.h"
#include "zentra/codepage.h"
#include "zentra/format.h"
#include "zentra/settings.h"

namespace zentra {

namespace {

const wchar_t kProduct[] = L"Orvanta";

CString ConnectionPath() { return Format(L"Software\\%s\\Connection", kProduct); }
CString SettingPath() { return Format(L"Software\\%s\\Setting", kProduct); }

}  // namespace

CSetting::CSetting() { SetRootKey(HKEY_CURRENT_USER); }

// ---- the last connection ---------------------------------------------------------------------

void CSetting::SetServerType(UINT type) {
    if (SetKey(ConnectionPath(), 1)) WriteInt(L"Type", static_cast<int>(type));
}

UINT CSetting::GetServerType() {
    if (!SetKey(ConnectionPath(), 0)) return 0;
    return ReadDword(L"Type", 0);
}

void CSetting::SetServerHost(const wchar_t* host) {
    if (SetKey(ConnectionPath(), 0)) WriteString(L"Host", host ? host : L"");
}

CString CSetting::GetServerHost() {
    if (!SetKey(ConnectionPath(), 0)) return L"127.0.0.1";
    return ReadString(L"Host", L"");
}

void CSetting::SetServerPort(int port) {
    if (SetKey(ConnectionPath(), 0)) WriteInt(L"Port", port);
}

int CSetting::GetServerPort() {
    if (!SetKey(ConnectionPath(), 0)) return 0;
    return static_cast<int>(ReadDword(L"Port", 0));
}

void CSetting::SetUserName(const wchar_t* user) {
    if (SetKey(ConnectionPath(), 0)) WriteString(L"Username", user ? user : L"");
}

CString CSetting::GetUserName() {
    if (!SetKey(ConnectionPath(), 0)) return L"";
    return ReadString(L"Username", L"");
}

void CSetting::SetDatabase(const wchar_t* database) {
    if (SetKey(ConnectionPath(), 0)) WriteString(L"Database", database ? database : L"");
}

CString CSetting::GetDatabase() {
    if (!SetKey(ConnectionPath(), 0)) return L"";
    return ReadString(L"Database", L"");
}

// ---- display and shell options ---------------------------------------------------------------

int CSetting::GetSettingInt(const wchar_t* name, int absent) {
    if (!SetKey(SettingPath(), 0)) return absent;
    return ReadInt(name, absent);
}

int CSetting::SetSettingInt(const wchar_t* name, int value, int create) {
    if (!SetKey(SettingPath(), create)) return 0;
    return WriteInt(name, value);
}

int CSetting::GetSettingText(const wchar_t* name, const wchar_t* absent, CString& text) {
    text = absent;
    if (!SetKey(SettingPath(), 0)) return 0;
    text = ReadString(name, text);
    return 1;
}

int CSetting::SetSettingText(const wchar_t* name, const wchar_t* text) {
    if (!SetKey(SettingPath(), 1)) return 0;
    return WriteString(name, text ? text : L"");
}

void CSetting::SetSQLPrompt(const wchar_t* prompt) { SetSettingText(L"Prompt", prompt); }
int CSetting::GetSQLPrompt(CString& prompt) { return GetSettingText(L"Prompt", kDefaultSqlPrompt, prompt); }
void CSetting::SetResultViewType(int type) { SetSettingInt(L"ResultView", type); }
int CSetting::GetResultViewType() { return GetSettingInt(L"ResultView", 0); }
void CSetting::SetTruncValue(int trunc) { SetSettingInt(L"TruncValue", trunc); }
int CSetting::GetTruncValue() { return GetSettingInt(L"TruncValue", 0); }
void CSetting::SetDisplayRecordNum(int show) { SetSettingInt(L"RecordNum", show); }
int CSetting::GetDisplayRecordNum() { return GetSettingInt(L"RecordNum", 1); }
int CSetting::SetEditor(const wchar_t* editor) { return SetSettingText(L"Editor", editor); }
int CSetting::GetEditor(CString& editor) { return GetSettingText(L"Editor", kDefaultEditor, editor); }
void CSetting::SetAutoWrap(int wrap) { SetSettingInt(L"AutoWrap", wrap); }
int CSetting::GetAutoWrap() { return GetSettingInt(L"AutoWrap", 1); }
// Written only into an existing key.
void CSetting::SetErrorBeep(int beep) { SetSettingInt(L"ErrorBeep", beep, 0); }
int CSetting::GetErrorBeep() { return GetSettingInt(L"ErrorBeep", 1); }

// ---- history ---------------------------------------------------------------------------------

int CSetting::SetHistoryCommands(CStringArray* commands) {
    if (!SetKey(SettingPath(), 1)) return 0;
    const CStringArray items = commands ? *commands : CStringArray();
    // The count and the items change together, so a reader never sees a count that belongs to
    // other items, and an item too long to store never leaves an older command in its place.
    std::wstring full = L"HKEY_CURRENT_USER\\" + SettingPath();
    bool ok = ChangeHive([full, items](regfile::Hive& hive) {
        regfile::Key* key = hive.Find(full);
        if (!key) return false;
        std::vector<std::uint8_t> count;
        std::uint32_t n = static_cast<std::uint32_t>(items.size());
        for (int i = 0; i < 4; ++i) count.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
        regfile::Hive::SetValue(*key, L"History Count", REG_BINARY, std::move(count));
        for (size_t i = 0; i < items.size(); ++i) {
            CString name = Format(L"Item %d", static_cast<int>(i));
            std::vector<std::uint8_t> data = regfile::TextData(items[i]);
            if (data.size() / 2 - 1 >= regfile::kTextLimit) regfile::Hive::DeleteValue(*key, name);
            else regfile::Hive::SetValue(*key, name, REG_SZ, std::move(data));
        }
        return true;
    });
    return ok ? 1 : 0;
}

int CSetting::GetHistoryCommands(CStringArray* commands) {
    if (commands) commands->clear();
    if (!SetKey(SettingPath(), 0)) return 0;
    int count = ReadInt(L"History Count", 0);
    if (!commands || count <= 0) return 1;
    // One read of the file for all items. The items are found among the key's values rather than
    // by counting up to the stored count, which a damaged file may hold as any number.
    auto hive = LoadHive();
    const regfile::Key* key = hive->Find(L"HKEY_CURRENT_USER\\" + SettingPath());
    if (!key) return 1;
    std::map<int, CString> found;
    for (const auto& value : key->values) {
        if (value.name.size() < 6 || !EqualsNoCase(std::wstring_view(value.name).substr(0, 5), L"Item ")) continue;
        std::wstring digits = value.name.substr(5);
        if (digits.empty() || digits.size() > 9 || digits.find_first_not_of(L"0123456789") != std::wstring::npos)
            continue;
        int index = std::stoi(digits);
        if (index >= count || Format(L"Item %d", index) != L"Item " + digits) continue;
        if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) continue;
        if (value.data.size() > (regfile::kTextLimit + 1) * 2) continue;
        std::u16string units;
        for (size_t b = 0; b + 1 < value.data.size(); b += 2) {
            char16_t u = static_cast<char16_t>(value.data[b] | (value.data[b + 1] << 8));
            if (u == 0) break;
            units.push_back(u);
        }
        if (!units.empty()) found[index] = Utf16ToWide(units);
    }
    for (auto& [index, text] : found) commands->push_back(std::move(text));
    return 1;
}

}  // namespace zentra
